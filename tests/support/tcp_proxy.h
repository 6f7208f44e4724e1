#pragma once
// A TCP relay on 127.0.0.1 in front of a database of the test cluster, run
// on a thread of its own, so a test can cut or stall the link between the
// program and that database while both go on running. Each test makes its
// own relay; the cluster itself is never restarted (other tests share it).

#include <QString>
#include <memory>

namespace testsupport {

class TcpProxy {
public:
    enum class Mode {
        // Every byte relayed both ways; new links are relayed too.
        Forward,
        // Open links stop relaying; new links are accepted and never
        // answered: a host gone silent behind a router. Back to Forward,
        // both resume where they stopped.
        Stall,
        // Open links are closed, new ones closed as soon as accepted: a
        // database that is stopped.
        Refuse,
    };

    // Relays to 127.0.0.1:targetPort (the test cluster by default).
    explicit TcpProxy(int targetPort = 0);
    ~TcpProxy();
    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;

    int port() const;
    QString portText() const { return QString::number(port()); }

    // Takes effect before it returns.
    void setMode(Mode mode);
    // Closes every open link at once (a restart of the database); the mode
    // stays, so new links are relayed again under Forward.
    void cut();

    // Open links stop relaying for good, without being closed, while new
    // links are relayed as the mode says: the old path died (a router that
    // lost its state) but the host answers a new link.
    void silenceOpenLinks();

    // Links accepted since the start.
    int accepted() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testsupport
