// POSIX sockets and poll(); a build for another platform replaces this file.
#include "terminals/tcp_connect.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <utility>
#include <unistd.h>

namespace terminals {
namespace {

using Clock = std::chrono::steady_clock;

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(Socket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Socket& operator=(Socket&&) = delete;
    Socket(const Socket&) = delete;
    int fd() const { return fd_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

struct AddrInfoDeleter {
    void operator()(addrinfo* a) const { freeaddrinfo(a); }
};

std::vector<Address> lookup(const QByteArray& host, unsigned short port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* raw = nullptr;
    const QByteArray service = QByteArray::number(port);
    std::vector<Address> out;
    if (getaddrinfo(host.constData(), service.constData(), &hints, &raw) != 0)
        return out;
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
    for (addrinfo* a = raw; a; a = a->ai_next) {
        Address addr;
        std::memcpy(&addr.storage, a->ai_addr, a->ai_addrlen);
        addr.length = a->ai_addrlen;
        out.push_back(addr);
    }
    return out;
}

// A host name lookup can stall for seconds on a dead resolver; it runs on a
// thread of its own so the caller can give up at the deadline. A lookup still
// running then finishes on its own and drops its result.
class PendingLookup {
public:
    PendingLookup(QByteArray host, unsigned short port) : state_(std::make_shared<State>())
    {
        std::thread([state = state_, host = std::move(host), port] {
            auto found = lookup(host, port, 0);
            std::lock_guard lock(state->mutex);
            state->addresses = std::move(found);
            state->done = true;
            state->cv.notify_all();
        }).detach();
    }

    // Empty when the answer did not come by the deadline.
    std::optional<std::vector<Address>> waitUntil(Clock::time_point deadline)
    {
        std::unique_lock lock(state_->mutex);
        state_->cv.wait_until(lock, deadline, [&] { return state_->done; });
        if (!state_->done)
            return std::nullopt;
        return state_->addresses;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::vector<Address> addresses;
    };
    std::shared_ptr<State> state_;
};

struct Attempt {
    Socket socket;
    std::size_t target;
    bool open = true; // still waiting for its answer
};

ConnectObserver& observer()
{
    static ConnectObserver current;
    return current;
}

// Keeps the best outcome seen for a target (the enumeration's order).
void settleOutcome(TcpOutcome& kept, TcpOutcome seen)
{
    if (static_cast<int>(seen) < static_cast<int>(kept))
        kept = seen;
}

TcpOutcome failureOutcome(int error)
{
    return error == ECONNREFUSED ? TcpOutcome::Refused : TcpOutcome::Unreachable;
}

void tell(ConnectEvent::Kind kind, std::size_t target = 0,
          ConnectEvent::Outcome outcome = ConnectEvent::Outcome::Failed, std::chrono::milliseconds timeout = {})
{
    if (observer())
        observer()(ConnectEvent{kind, target, outcome, timeout});
}

} // namespace

ConnectObserver setConnectObserver(ConnectObserver next)
{
    ConnectObserver previous = std::move(observer());
    observer() = std::move(next);
    return previous;
}

struct TcpConnectBatch::Impl {
    Clock::time_point deadline;
    std::vector<TcpOutcome> outcome;  // best so far, final once settled
    std::vector<bool> settled;
    std::vector<int> openAttempts;    // per target
    std::vector<std::unique_ptr<PendingLookup>> lookups;
    std::vector<Attempt> attempts;
    std::vector<std::size_t> justSettled;
    bool over = false;

    void settleIfDone(std::size_t i)
    {
        if (settled[i])
            return;
        if (outcome[i] == TcpOutcome::Reached || (!lookups[i] && openAttempts[i] == 0)) {
            settled[i] = true;
            justSettled.push_back(i);
        }
    }

    void start(std::size_t i, const std::vector<Address>& addresses)
    {
        for (const Address& a : addresses) {
            Socket s(::socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            if (s.fd() < 0) {
                settleOutcome(outcome[i], TcpOutcome::Unreachable);
                continue;
            }
            int rc;
            do {
                rc = ::connect(s.fd(), reinterpret_cast<const sockaddr*>(&a.storage), a.length);
            } while (rc != 0 && errno == EINTR);
            tell(ConnectEvent::Kind::Started, i);
            if (rc == 0) {
                settleOutcome(outcome[i], TcpOutcome::Reached);
                tell(ConnectEvent::Kind::Ended, i, ConnectEvent::Outcome::Reached);
            } else if (errno == EINPROGRESS) {
                attempts.push_back({std::move(s), i});
                ++openAttempts[i];
            } else {
                settleOutcome(outcome[i], failureOutcome(errno));
                tell(ConnectEvent::Kind::Ended, i, ConnectEvent::Outcome::Failed);
            }
        }
        dropReached();
        settleIfDone(i);
    }

    void end(Attempt& a, ConnectEvent::Outcome how)
    {
        a.open = false;
        a.socket.close();
        --openAttempts[a.target];
        tell(ConnectEvent::Kind::Ended, a.target, how);
    }

    // Another address of a target already reached need not be waited for.
    void dropReached()
    {
        for (Attempt& a : attempts)
            if (a.open && outcome[a.target] == TcpOutcome::Reached)
                end(a, ConnectEvent::Outcome::Reached);
    }

    // Starts the connects of the names whose lookup has answered.
    void collectLookups(Clock::time_point until)
    {
        for (std::size_t i = 0; i < lookups.size(); ++i) {
            if (!lookups[i])
                continue;
            auto found = lookups[i]->waitUntil(until);
            if (!found)
                continue;
            lookups[i].reset();
            start(i, *found);
        }
    }

    bool lookupsPending() const
    {
        for (const auto& l : lookups)
            if (l)
                return true;
        return false;
    }

    void giveUp()
    {
        over = true;
        for (std::size_t i = 0; i < lookups.size(); ++i) {
            if (lookups[i]) {
                lookups[i].reset();
                settleOutcome(outcome[i], TcpOutcome::TimedOut);
            }
        }
        for (Attempt& a : attempts) {
            if (a.open) {
                settleOutcome(outcome[a.target], TcpOutcome::TimedOut);
                end(a, ConnectEvent::Outcome::TimedOut);
            }
        }
        for (std::size_t i = 0; i < settled.size(); ++i)
            settleIfDone(i);
    }

    bool anyUnsettled() const
    {
        for (bool s : settled)
            if (!s)
                return true;
        return false;
    }
};

TcpConnectBatch::TcpConnectBatch(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout)
    : impl_(std::make_unique<Impl>())
{
    Impl& d = *impl_;
    d.deadline = Clock::now() + timeout;
    d.outcome.assign(targets.size(), TcpOutcome::NotFound);
    d.settled.assign(targets.size(), false);
    d.openAttempts.assign(targets.size(), 0);
    d.lookups.resize(targets.size());
    tell(ConnectEvent::Kind::Pass, 0, ConnectEvent::Outcome::Failed, timeout);

    // Literal addresses are connected at once; names are all looked up
    // together and connected as their answers come.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const QByteArray host = targets[i].host.trimmed().toUtf8();
        if (host.isEmpty() || targets[i].port == 0) {
            d.settleIfDone(i);
            continue;
        }
        const std::vector<Address> literal = lookup(host, targets[i].port, AI_NUMERICHOST);
        if (literal.empty())
            d.lookups[i] = std::make_unique<PendingLookup>(host, targets[i].port);
        else
            d.start(i, literal);
    }
}

TcpConnectBatch::~TcpConnectBatch() = default;

void TcpConnectBatch::wait(std::chrono::milliseconds maxWait)
{
    Impl& d = *impl_;
    if (d.over || !d.anyUnsettled()) {
        d.over = true;
        return;
    }
    const auto until = std::min(Clock::now() + maxWait, d.deadline);
    d.collectLookups(Clock::now());

    std::vector<pollfd> fds;
    std::vector<std::size_t> which;
    for (std::size_t k = 0; k < d.attempts.size(); ++k) {
        if (d.attempts[k].open) {
            fds.push_back({d.attempts[k].socket.fd(), POLLOUT, 0});
            which.push_back(k);
        }
    }
    // With names still being looked up, their answers are picked up every
    // few milliseconds.
    auto limit = until;
    if (d.lookupsPending())
        limit = std::min(limit, Clock::now() + std::chrono::milliseconds(5));
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - Clock::now()).count();
    int ready = 0;
    if (!fds.empty() || left > 0) {
        ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<qint64>(left, 0)));
        if (ready < 0 && errno == EINTR)
            ready = 0;
    }
    for (std::size_t j = 0; ready > 0 && j < fds.size(); ++j) {
        if (fds[j].revents == 0)
            continue;
        Attempt& a = d.attempts[which[j]];
        if (!a.open)
            continue; // dropped: its target was reached by another address
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(a.socket.fd(), SOL_SOCKET, SO_ERROR, &error, &len) != 0)
            error = errno;
        const std::size_t target = a.target;
        settleOutcome(d.outcome[target], error == 0 ? TcpOutcome::Reached : failureOutcome(error));
        d.end(a, error == 0 ? ConnectEvent::Outcome::Reached : ConnectEvent::Outcome::Failed);
        d.dropReached();
        d.settleIfDone(target);
    }
    d.collectLookups(Clock::now());
    // What is still waiting at the deadline is given up.
    if (Clock::now() >= d.deadline)
        d.giveUp();
    else if (!d.anyUnsettled())
        d.over = true;
}

bool TcpConnectBatch::finished() const
{
    return impl_->over || !impl_->anyUnsettled();
}

std::optional<TcpOutcome> TcpConnectBatch::outcome(std::size_t i) const
{
    if (!impl_->settled[i])
        return std::nullopt;
    return impl_->outcome[i];
}

std::vector<std::size_t> TcpConnectBatch::takeSettled()
{
    return std::exchange(impl_->justSettled, {});
}

std::vector<TcpOutcome> connectEach(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout)
{
    TcpConnectBatch batch(targets, timeout);
    while (!batch.finished())
        batch.wait(timeout);
    std::vector<TcpOutcome> outcomes(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i)
        outcomes[i] = batch.outcome(i).value_or(TcpOutcome::TimedOut);
    return outcomes;
}

std::vector<bool> connectAll(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout)
{
    const std::vector<TcpOutcome> outcomes = connectEach(targets, timeout);
    std::vector<bool> reached(outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        reached[i] = outcomes[i] == TcpOutcome::Reached;
    return reached;
}

} // namespace terminals
