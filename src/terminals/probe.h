#pragma once
// VerificarPdv: is a TCP connection to host:port possible within the
// time-out? No database login is attempted; the connection is closed at once.
// A probe never raises: a bad port text, a name that does not resolve, a
// refused connect and a time-out all read as "unreachable".

#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace db {
class ConnectionParams;
}

namespace terminals {

struct Endpoint {
    QString host;  // IP (address or host name)
    QString port;  // PORTA as stored, text
};

// Why a probe answered as it did, for reports that say more than
// reachable or not.
enum class ProbeOutcome {
    Reached,
    TimedOut,    // no answer within the time-out
    Refused,     // the host answered, nobody listens on the port
    Unreachable, // no route to the host
    NotFound,    // the host name has no address (or is empty)
    BadPort,     // PORTA is not a port number
    NoTimeOut,   // no time-out to probe with
};

// A few words for the outcome: "refused", "timed out", "host not found" ...
QString probeOutcomeText(ProbeOutcome outcome);

// No time-out (CONFIG.TIMEOUT_ECFS unreadable) reads as unreachable.
bool VerificarPdv(const QString& host, const QString& port, std::optional<int> timeoutMs);

// Probes every endpoint at once and waits on them together, so a batch of
// silent terminals costs about one time-out rather than one each. Result i
// belongs to endpoint i. Does not let window events run while it waits.
std::vector<bool> probeAll(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs);
// The same, with how each probe ended.
std::vector<ProbeOutcome> probeEach(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs);

// Work that goes on while probes wait, such as logins to the terminals that
// have answered: told of each endpoint that answers as soon as it does, and
// given short turns while its own work is under way.
class WhileProbing {
public:
    virtual ~WhileProbing() = default;
    virtual void reached(std::size_t endpoint) = 0;
    virtual bool busy() const = 0;
    // Advances its work, waiting at most `maxWait`.
    virtual void turn(std::chrono::milliseconds maxWait) = 0;
};

// probeAll, with `alongside` running while the probes wait.
std::vector<bool> probeAll(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs,
                           WhileProbing& alongside);

// The probes of many endpoints under way together, waited on a piece at a
// time, so a caller can act on each answer while the silent ones keep it
// waiting. An endpoint that cannot be probed (bad port, no time-out) is
// settled at once.
class ProbeBatch {
public:
    ProbeBatch(const std::vector<Endpoint>& endpoints, std::optional<int> timeoutMs);
    ~ProbeBatch();
    ProbeBatch(const ProbeBatch&) = delete;
    ProbeBatch& operator=(const ProbeBatch&) = delete;

    // Waits at most `maxWait` for a probe to end; never past the time-out.
    void wait(std::chrono::milliseconds maxWait);
    bool finished() const;
    // Endpoint i's outcome, once its probe has ended.
    std::optional<ProbeOutcome> outcome(std::size_t i) const;
    // The endpoints whose probe ended since the last call.
    std::vector<std::size_t> takeSettled();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Where a connection's lines point: its Server and Port values. Without a
// Port line the client library's default port 5432 is meant, so that is the
// port probed.
Endpoint endpointOf(const db::ConnectionParams& params);

} // namespace terminals
