#include "support/tcp_proxy.h"

#include "support/loopback.h"
#include "support/test_db.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {
namespace {

// A link stops reading a side while this much waits for the other side.
constexpr std::size_t kMaxPending = 1 << 20;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

struct Link {
    int client = -1;
    int upstream = -1;
    std::string toUpstream;
    std::string toClient;
    bool held = false; // accepted while stalled, not yet relayed
    bool silenced = false; // never relayed again, never closed

    void close()
    {
        closeFd(client);
        closeFd(upstream);
    }
};

// Sends what waits; false when the peer is gone.
bool flush(int fd, std::string& pending)
{
    while (!pending.empty()) {
        const ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        pending.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

// Reads what arrived into `into`; false on end of stream or error.
bool pull(int fd, std::string& into)
{
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
}

} // namespace

struct TcpProxy::Impl {
    int targetPort = 0;
    int listenFd = -1;
    int port = 0;
    int wake[2] = {-1, -1};
    std::thread thread;

    std::mutex mutex;
    std::condition_variable applied;
    Mode requestedMode = Mode::Forward;
    int cutsRequested = 0;
    int silencesRequested = 0;
    bool stopping = false;
    long requestSeq = 0;
    long appliedSeq = 0;
    int acceptedCount = 0;

    // Owned by the relay thread.
    Mode mode = Mode::Forward;
    int cutsDone = 0;
    int silencesDone = 0;
    std::list<Link> links;

    void request(const std::function<void()>& change)
    {
        std::unique_lock lock(mutex);
        change();
        const long seq = ++requestSeq;
        const char byte = 1;
        [[maybe_unused]] const ssize_t w = ::write(wake[1], &byte, 1);
        applied.wait(lock, [&] { return appliedSeq >= seq; });
    }

    bool connectUpstream(Link& link)
    {
        link.upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(targetPort);
        if (link.upstream < 0 || ::connect(link.upstream, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
            return false;
        const int one = 1;
        ::setsockopt(link.upstream, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setNonBlocking(link.upstream);
        link.held = false;
        return true;
    }

    void closeAll()
    {
        for (Link& l : links)
            l.close();
        links.clear();
    }

    // Applies what the test asked; true when asked to stop.
    bool applyRequests()
    {
        char drain[64];
        while (::read(wake[0], drain, sizeof drain) > 0) {
        }
        std::lock_guard lock(mutex);
        if (cutsDone != cutsRequested) {
            cutsDone = cutsRequested;
            closeAll();
        }
        if (silencesDone != silencesRequested) {
            silencesDone = silencesRequested;
            for (Link& l : links)
                l.silenced = true;
        }
        if (requestedMode != mode) {
            mode = requestedMode;
            if (mode == Mode::Refuse)
                closeAll();
            if (mode == Mode::Forward) {
                for (auto it = links.begin(); it != links.end();) {
                    if (it->held && !it->silenced && !connectUpstream(*it)) {
                        it->close();
                        it = links.erase(it);
                    } else {
                        ++it;
                    }
                }
            }
        }
        appliedSeq = requestSeq;
        applied.notify_all();
        return stopping;
    }

    void acceptOne()
    {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        {
            std::lock_guard lock(mutex);
            ++acceptedCount;
        }
        Link link;
        link.client = fd;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (mode == Mode::Refuse) {
            link.close();
            return;
        }
        if (mode == Mode::Stall) {
            link.held = true;
            links.push_back(std::move(link));
            return;
        }
        if (!connectUpstream(link)) {
            link.close();
            return;
        }
        links.push_back(std::move(link));
    }

    void run()
    {
        std::vector<pollfd> fds;
        std::vector<Link*> owners; // owners[i] for fds[i], null for wake/listen
        for (;;) {
            fds.clear();
            owners.clear();
            fds.push_back({wake[0], POLLIN, 0});
            fds.push_back({listenFd, POLLIN, 0});
            owners.resize(2, nullptr);
            if (mode == Mode::Forward) {
                for (Link& l : links) {
                    if (l.silenced || l.held)
                        continue;
                    const short fromClient = static_cast<short>((l.toUpstream.size() < kMaxPending ? POLLIN : 0)
                                                                | (l.toClient.empty() ? 0 : POLLOUT));
                    const short fromUpstream = static_cast<short>((l.toClient.size() < kMaxPending ? POLLIN : 0)
                                                                  | (l.toUpstream.empty() ? 0 : POLLOUT));
                    fds.push_back({l.client, fromClient, 0});
                    owners.push_back(&l);
                    fds.push_back({l.upstream, fromUpstream, 0});
                    owners.push_back(&l);
                }
            }
            if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
                return;
            if (fds[0].revents && applyRequests())
                return;
            if (fds[1].revents & POLLIN)
                acceptOne();
            if (mode != Mode::Forward)
                continue;
            for (std::size_t i = 2; i < fds.size(); ++i) {
                if (!fds[i].revents || !owners[i] || owners[i]->client < 0)
                    continue;
                Link& l = *owners[i];
                const bool isClient = fds[i].fd == l.client;
                std::string& inbound = isClient ? l.toUpstream : l.toClient;
                std::string& outbound = isClient ? l.toClient : l.toUpstream;
                const int peer = isClient ? l.upstream : l.client;
                bool ok = true;
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                    ok = pull(fds[i].fd, inbound) && flush(peer, inbound);
                if (ok && (fds[i].revents & POLLOUT))
                    ok = flush(fds[i].fd, outbound);
                if (!ok)
                    l.close();
            }
            links.remove_if([](const Link& l) { return l.client < 0; });
        }
    }
};

TcpProxy::TcpProxy(int targetPort) : impl_(std::make_unique<Impl>())
{
    impl_->targetPort = targetPort > 0 ? targetPort : testPort();
    if (::pipe2(impl_->wake, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error("tcp proxy: pipe failed");
    impl_->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (impl_->listenFd < 0 || ::bind(impl_->listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::listen(impl_->listenFd, 64) != 0
        || ::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("tcp proxy: cannot listen on 127.0.0.1");
    impl_->port = ntohs(a.sin_port);
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

TcpProxy::~TcpProxy()
{
    impl_->request([this] { impl_->stopping = true; });
    impl_->thread.join();
    impl_->closeAll();
    closeFd(impl_->listenFd);
    closeFd(impl_->wake[0]);
    closeFd(impl_->wake[1]);
}

int TcpProxy::port() const { return impl_->port; }

void TcpProxy::setMode(Mode mode)
{
    impl_->request([&] { impl_->requestedMode = mode; });
}

void TcpProxy::silenceOpenLinks()
{
    impl_->request([&] { ++impl_->silencesRequested; });
}

void TcpProxy::cut()
{
    impl_->request([&] { ++impl_->cutsRequested; });
}

int TcpProxy::accepted() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->acceptedCount;
}

} // namespace testsupport
