#pragma once
// Opens several connections at once: every handshake is started, then all
// are advanced together as their sockets become ready, so a batch of hosts
// that keep us waiting costs about one time-out rather than one each.

#include <QString>
#include <chrono>
#include <memory>
#include <vector>

namespace db {

class Connection;
class PolledConnect;

// Connects under way together, waited on a piece at a time, so a caller can
// use each connection as soon as it is open while the others still wait.
class ConnectBatch {
public:
    // Each connect is bounded by `timeout` from the moment it is added.
    explicit ConnectBatch(std::chrono::milliseconds timeout);
    ~ConnectBatch();
    ConnectBatch(const ConnectBatch&) = delete;
    ConnectBatch& operator=(const ConnectBatch&) = delete;

    // Starts opening `connection`, which must outlive its connect here. An
    // open connection ends at once.
    void add(Connection& connection);

    // Waits at most `maxWait` for a socket to be ready and advances every
    // connect that can go on. False when nothing progressed.
    bool wait(std::chrono::milliseconds maxWait);
    bool running() const;

    // The connects that ended since the last call, in the order added: the
    // connection is open, or `failure` says why not (the client library's
    // text, or the time-out's).
    struct Ended {
        Connection* connection;
        QString failure;
    };
    std::vector<Ended> takeEnded();

private:
    struct Attempt {
        Connection* connection;
        std::shared_ptr<PolledConnect> connect; // empty once reported
    };
    std::chrono::milliseconds timeout_;
    std::vector<Attempt> attempts_;
};

// Opens each connection that is closed, bounded by `timeout`, letting
// events run while nothing progresses. Result i is empty when connection i
// is open, or holds why it could not be opened.
std::vector<QString> openTogether(const std::vector<Connection*>& connections, std::chrono::milliseconds timeout);

} // namespace db
