// POSIX sockets and poll(); a build for another platform replaces this file.
#include "terminals/tcp_connect.h"

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

std::vector<bool> connectAll(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout)
{
    const std::vector<TcpOutcome> outcomes = connectEach(targets, timeout);
    std::vector<bool> reached(outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        reached[i] = outcomes[i] == TcpOutcome::Reached;
    return reached;
}

std::vector<TcpOutcome> connectEach(const std::vector<TcpTarget>& targets, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::vector<bool> reached(targets.size(), false);
    // Lowered to a better outcome as each address's connect ends.
    std::vector<TcpOutcome> outcome(targets.size(), TcpOutcome::NotFound);
    tell(ConnectEvent::Kind::Pass, 0, ConnectEvent::Outcome::Failed, timeout);

    // Addresses first: literal ones at once, names all looked up together.
    std::vector<std::vector<Address>> addresses(targets.size());
    std::vector<std::unique_ptr<PendingLookup>> pending(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const QByteArray host = targets[i].host.trimmed().toUtf8();
        if (host.isEmpty() || targets[i].port == 0)
            continue;
        addresses[i] = lookup(host, targets[i].port, AI_NUMERICHOST);
        if (addresses[i].empty())
            pending[i] = std::make_unique<PendingLookup>(host, targets[i].port);
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!pending[i])
            continue;
        if (auto found = pending[i]->waitUntil(deadline))
            addresses[i] = std::move(*found);
        else
            outcome[i] = TcpOutcome::TimedOut;
    }

    std::vector<Attempt> attempts;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        for (const Address& a : addresses[i]) {
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
                reached[i] = true;
                settleOutcome(outcome[i], TcpOutcome::Reached);
                tell(ConnectEvent::Kind::Ended, i, ConnectEvent::Outcome::Reached);
            } else if (errno == EINPROGRESS) {
                attempts.push_back({std::move(s), i});
            } else {
                settleOutcome(outcome[i], failureOutcome(errno));
                tell(ConnectEvent::Kind::Ended, i, ConnectEvent::Outcome::Failed);
            }
        }
    }

    std::vector<pollfd> fds;
    fds.reserve(attempts.size());
    for (const Attempt& a : attempts)
        fds.push_back({a.socket.fd(), POLLOUT, 0});
    auto settle = [&](std::size_t k, ConnectEvent::Outcome outcome) {
        fds[k].fd = -1;
        tell(ConnectEvent::Kind::Ended, attempts[k].target, outcome);
    };
    // Another address of a target already reached need not be waited for.
    auto dropReached = [&] {
        for (std::size_t k = 0; k < fds.size(); ++k)
            if (fds[k].fd >= 0 && reached[attempts[k].target])
                settle(k, ConnectEvent::Outcome::Reached);
    };
    dropReached();

    auto anyOpen = [&] {
        for (const pollfd& p : fds)
            if (p.fd >= 0)
                return true;
        return false;
    };
    // Each round either finishes at least one attempt or ends at the deadline.
    while (anyOpen()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0)
                continue;
            int error = 0;
            socklen_t len = sizeof error;
            if (getsockopt(fds[k].fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                error = errno;
            const bool answered = error == 0;
            const std::size_t target = attempts[k].target;
            if (answered)
                reached[target] = true;
            settleOutcome(outcome[target], answered ? TcpOutcome::Reached : failureOutcome(error));
            settle(k, answered ? ConnectEvent::Outcome::Reached : ConnectEvent::Outcome::Failed);
        }
        dropReached();
    }
    // What is still waiting at the deadline is given up.
    for (std::size_t k = 0; k < fds.size(); ++k) {
        if (fds[k].fd >= 0) {
            settleOutcome(outcome[attempts[k].target], TcpOutcome::TimedOut);
            settle(k, ConnectEvent::Outcome::TimedOut);
        }
    }
    return outcome;
}

} // namespace terminals
