#include "support/silent_listener.h"

#include "support/loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {
namespace {

[[noreturn]] void fail(const char* what)
{
    throw std::runtime_error(std::string("silent listener: ") + what + ": " + std::to_string(errno));
}

int boundPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        fail("getsockname");
    return ntohs(a.sin_port);
}

// True when a non-blocking connect on fd completed within waitMs.
bool completes(int fd, int waitMs)
{
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, waitMs) <= 0)
        return false;
    int error = 0;
    socklen_t len = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
}

} // namespace

OwnedSocket::~OwnedSocket()
{
    if (fd_ >= 0)
        close(fd_);
}

SilentListener::SilentListener() : listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    const int listenFd = listener_.get();
    if (listenFd < 0)
        fail("socket");
    sockaddr_in a = loopback(0);
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        fail("bind");
    // Backlog 0: the queue is full after one connection, later SYNs are
    // dropped and their connects wait until the caller gives up.
    if (listen(listenFd, 0) != 0)
        fail("listen");
    port_ = boundPort(listenFd);

    const sockaddr_in target = loopback(port_);
    for (int attempt = 0; attempt < 4; ++attempt) {
        fillers_.emplace_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const int fd = fillers_.back().get();
        if (fd < 0)
            fail("socket");
        const int rc = connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (rc != 0 && errno != EINPROGRESS)
            fail("connect");
        if (rc != 0 && !completes(fd, 200))
            return;  // this one hangs: the queue is full
    }
    fail("accept queue never filled");
}

int refusedPort()
{
    // Bound but not listening for the moment of the call; a connect to a
    // port nobody listens on is answered with a reset.
    const OwnedSocket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(0);
    if (s.get() < 0 || bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        fail("bind");
    return boundPort(s.get());
}

} // namespace testsupport
