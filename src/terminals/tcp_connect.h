#pragma once
// The platform's TCP connect with a time-out, for many targets at once. The
// one platform-specific unit of the probe.

#include <QString>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace terminals {

struct TcpTarget {
    QString host;        // address or host name
    unsigned short port; // 1..65535
};

// How the connect to one target ended. A target whose name has several
// addresses takes the best of them, in this order.
enum class TcpOutcome {
    Reached,     // accepted a connection in time
    TimedOut,    // no answer before the time-out (or its name was not looked up in time)
    Refused,     // nobody listens on that port
    Unreachable, // no route to the host or its network
    NotFound,    // the name has no address
};

// Connects to many targets at once, to be waited on a piece at a time, so a
// caller can do other work as each target answers: a non-blocking connect
// to every address of every target starts at construction (names are
// looked up on helper threads and connected when they answer), and
// whatever is still waiting when `timeout` has passed is given up. Each
// socket is closed as soon as its connect ends.
class TcpConnectBatch {
public:
    TcpConnectBatch(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout);
    ~TcpConnectBatch();
    TcpConnectBatch(const TcpConnectBatch&) = delete;
    TcpConnectBatch& operator=(const TcpConnectBatch&) = delete;

    // Waits at most `maxWait` (never past the deadline) until a connect
    // ends, and settles every one that has.
    void wait(std::chrono::milliseconds maxWait);
    // Every target settled (at the latest at the deadline).
    bool finished() const;
    // Target i's outcome, once settled.
    std::optional<TcpOutcome> outcome(std::size_t i) const;
    // The targets settled since the last call, in the order they settled.
    std::vector<std::size_t> takeSettled();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Starts a non-blocking connect to every target (every address of a name),
// waits on all of them together until `timeout` has passed since the call,
// and closes each socket. Result i tells how target i's connect ended. Name
// lookups share the same deadline.
std::vector<TcpOutcome> connectEach(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout);

// The same, true for each target that accepted a connection in time.
std::vector<bool> connectAll(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout);

// What a connectAll call does, in the order it happens: the pass with its
// time-out, then each connect's start and end. A test can count what
// overlapped and why each connect ended instead of timing them.
struct ConnectEvent {
    enum class Kind { Pass, Started, Ended };
    enum class Outcome { Reached, Failed, TimedOut };
    Kind kind;
    std::size_t target = 0;                  // Started, Ended
    Outcome outcome = Outcome::Failed;       // Ended
    std::chrono::milliseconds timeout{0};    // Pass
};
using ConnectObserver = std::function<void(const ConnectEvent&)>;
// Nobody observes by default. Returns the observer replaced.
ConnectObserver setConnectObserver(ConnectObserver observer);

} // namespace terminals
