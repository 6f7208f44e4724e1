#pragma once
// A host name looked up on a helper thread, so the caller can let events run
// and give up at its deadline: the client library would look the name up
// itself and hold the UI thread for as long as an unreachable name server
// keeps it waiting. A lookup still running when its caller gives up finishes
// on its own and drops its result.

#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

namespace db {

class HostLookup {
public:
    explicit HostLookup(const QString& host);

    // Waits at most `wait` for the answer; true once it is there.
    bool wait(std::chrono::milliseconds wait);
    // Valid once answered: the addresses in the resolver's order, or the
    // resolver's text when there are none.
    const QStringList& addresses() const;
    const QString& failure() const;

    // True when `host` needs a lookup: a name, not an address, a socket
    // folder or nothing.
    static bool needed(const QString& host);

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace db
