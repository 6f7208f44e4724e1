#pragma once
// One consistency check at a time, and no import inside one. The check and
// the imports let events run inside their loops; a notification or a click
// that would start one of them nested inside another is held back instead
// and handled once nothing runs any more. Otherwise the nested run would
// discard the table the check walks, or replace the terminal connection
// under a running import.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

namespace sales {

class RunGate {
public:
    // Held-back work runs as queued calls on `context` (the window); it is
    // dropped when the context is gone.
    explicit RunGate(QObject* context);

    // A check or an import is running.
    bool busy() const { return running_ > 0; }
    // Nothing runs and no held-back work is left to run.
    bool settled() const { return running_ == 0 && waiting_.empty() && due_ == 0; }

    // Runs `work` once no check or import runs any more. Work held back
    // under a key that already waits is held once.
    void holdBack(const QString& key, std::function<void()> work);

    // Marks a check or an import as running for the object's lifetime.
    class Running {
    public:
        explicit Running(RunGate& gate);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        RunGate& gate_;
    };

private:
    void released();

    QPointer<QObject> context_;
    int running_ = 0;
    int due_ = 0; // held-back work queued, not yet run
    std::vector<std::pair<QString, std::function<void()>>> waiting_;
};

} // namespace sales
