#pragma once
// A TCP port on 127.0.0.1 that never answers: its accept queue is full and
// nobody accepts, so a connect to it neither succeeds nor is refused but
// times out, as a terminal that is switched off behind a router would.
// Any number of connects may target the same listener at once.

#include <QString>
#include <vector>

namespace testsupport {

// Closes its socket when it goes.
class OwnedSocket {
public:
    explicit OwnedSocket(int fd = -1) : fd_(fd) {}
    ~OwnedSocket();
    OwnedSocket(OwnedSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    OwnedSocket& operator=(OwnedSocket&&) = delete;
    OwnedSocket(const OwnedSocket&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

class SilentListener {
public:
    SilentListener();  // raises std::runtime_error when the port cannot be made silent

    QString host() const { return "127.0.0.1"; }
    int port() const { return port_; }
    QString portText() const { return QString::number(port_); }

private:
    OwnedSocket listener_;
    std::vector<OwnedSocket> fillers_;  // connects that fill the queue, never accepted
    int port_ = 0;
};

// A port on 127.0.0.1 with nothing listening: connects are refused at once.
int refusedPort();

} // namespace testsupport
