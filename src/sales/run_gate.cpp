#include "sales/run_gate.h"

#include <QMetaObject>
#include <algorithm>

namespace sales {

RunGate::RunGate(QObject* context)
    : context_(context)
{
}

void RunGate::holdBack(const QString& key, std::function<void()> work)
{
    const bool waiting
        = std::any_of(waiting_.begin(), waiting_.end(), [&](const auto& w) { return w.first == key; });
    if (!waiting)
        waiting_.emplace_back(key, std::move(work));
}

RunGate::Running::Running(RunGate& gate)
    : gate_(gate)
{
    ++gate_.running_;
}

RunGate::Running::~Running()
{
    if (--gate_.running_ == 0)
        gate_.released();
}

void RunGate::released()
{
    // Queued, never run from here: this runs while a run's frames unwind.
    std::vector<std::pair<QString, std::function<void()>>> due;
    due.swap(waiting_);
    if (!context_)
        return;
    for (auto& [key, work] : due) {
        ++due_;
        QMetaObject::invokeMethod(
            context_,
            [this, work = std::move(work)] {
                --due_;
                work();
            },
            Qt::QueuedConnection);
    }
}

} // namespace sales
