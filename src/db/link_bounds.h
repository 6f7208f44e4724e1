#pragma once
// How long the program waits on the network, all in one place. Every wait
// lets the windows run; these figures bound how long a silent or stuck
// peer can hold a run up before it is treated as a lost link.

#include <chrono>

namespace db {

struct LinkBounds {
    // Events run at least this often while a connect or a statement waits.
    std::chrono::milliseconds slice{10};
    // A connect (and each reconnect attempt) gives up after this.
    std::chrono::seconds connect{5};
    // A lost server link is tried this many times before its statement fails.
    int reconnectAttempts = 3;
    // A terminal statement waiting on a lock of the till's own software
    // fails after this (the terminal session's lock_timeout): the till is
    // skipped, the others are served.
    std::chrono::milliseconds terminalLock{3000};
    // A terminal statement with no sign of life from its peer for this long
    // is cancelled and its link dropped.
    std::chrono::milliseconds terminalAnswer{10000};
    // The same for a server statement. Longer: the server carries the
    // heavier reads (balances, the consistency check).
    std::chrono::milliseconds serverAnswer{20000};
    // A server session a lost link left behind (its statement may still
    // run there) is ended from the new link, and must be seen gone within
    // this before anything else is sent on that connection.
    std::chrono::milliseconds leftBehindSessionEnd{5000};
    // The kernel drops a link whose sent data stays unacknowledged this long
    // (tcp_user_timeout); an idle link is probed with keepalives.
    std::chrono::milliseconds unacknowledged{15000};
    // A listener whose server stays away tries it again at this pace.
    std::chrono::milliseconds listenerRetry{5000};
};

// The figures in force. Tests shorten them; the program never changes them.
const LinkBounds& linkBounds();
void setLinkBounds(const LinkBounds& bounds);

} // namespace db
