#include "db/busy_links.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <vector>

namespace db {
namespace {

struct Held {
    QPointer<QObject> context;
    QString key;
    std::function<void()> work;
};

struct Registry {
    int busy = 0;
    std::vector<Held> held;
};

Registry& registry()
{
    static Registry r;
    return r;
}

// Queued, never run from here: this runs as a statement's frames unwind,
// with the run that sent it about to go on.
void released()
{
    std::vector<Held> due;
    due.swap(registry().held);
    for (Held& h : due) {
        if (!h.context)
            continue;
        QObject* context = h.context;
        QMetaObject::invokeMethod(
            context,
            [context, key = h.key, work = std::move(h.work)] { whenLinksFree(context, key, work); },
            Qt::QueuedConnection);
    }
}

} // namespace

bool linksBusy()
{
    return registry().busy > 0;
}

bool whenLinksFree(QObject* context, const QString& key, std::function<void()> work)
{
    Registry& r = registry();
    if (r.busy == 0) {
        work();
        return true;
    }
    const bool waiting = std::any_of(r.held.begin(), r.held.end(),
                                     [&](const Held& h) { return h.context == context && h.key == key; });
    if (!waiting)
        r.held.push_back({context, key, std::move(work)});
    return false;
}

BusyLink::BusyLink()
{
    ++registry().busy;
}

BusyLink::~BusyLink()
{
    if (--registry().busy == 0 && !registry().held.empty())
        released();
}

} // namespace db
