#pragma once
// A PostgreSQL cluster of one test's own, for the cases that stop the server
// itself: the shared test cluster serves every other test beside them and is
// never stopped. Made, started and stopped with the scripts that make the
// shared one, on a free port of 127.0.0.1, with the store's templates
// loaded, so TestDatabase can copy them there (pass address()).

#include "support/test_db.h"

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class PrivateCluster {
public:
    // Durable: every commit is flushed (fsync, synchronous_commit and
    // full_page_writes on), as on a store's server; what a commit answered
    // survives an immediate stop or a crash. Fast: flushes skipped, for
    // cases that only need the server to go away and come back.
    enum class Flush { Durable, Fast };

    // Raises std::runtime_error saying what failed (with the script's
    // output) when the cluster cannot be made or started.
    explicit PrivateCluster(Flush flush = Flush::Durable);
    // Stops it (whatever state it is in) and removes its files.
    ~PrivateCluster();
    PrivateCluster(const PrivateCluster&) = delete;
    PrivateCluster& operator=(const PrivateCluster&) = delete;

    // Its superuser logs in over TCP without a password.
    ClusterAddress address() const;
    int port() const { return port_; }

    // Stops at once, as a power cut or a crash would: every session ends
    // without a checkpoint. Returns once the server is gone.
    void stopImmediately();
    // Starts again on the same port (recovering from the WAL after an
    // immediate stop); returns once it takes connections.
    void start();
    bool running() const { return running_; }

private:
    void script(const QStringList& arguments, int timeoutMs) const;

    QTemporaryDir dir_;
    int port_ = 0;
    Flush flush_;
    bool running_ = false;
};

} // namespace testsupport
