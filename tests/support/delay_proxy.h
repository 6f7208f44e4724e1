#pragma once
// A TCP relay on 127.0.0.1 that holds every byte for a fixed time in each
// direction before passing it on: a store's LAN latency between the program
// and a PostgreSQL server running on this machine. Bytes keep their order
// and nothing is merged across the delay, so a pipelined stream pays the
// delay once, as it would on a real link.

#include <QString>
#include <chrono>
#include <memory>

namespace testsupport {

class DelayProxy {
public:
    // Listens on a free port of 127.0.0.1 at once; relays to host:port.
    DelayProxy(const QString& targetHost, int targetPort, std::chrono::microseconds oneWay);
    // Closes every relayed connection and waits for its threads.
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    int port() const;
    // Connections accepted so far.
    int connections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testsupport
