#pragma once
// A client-library connection of the test's own, for tests and benchmarks
// that must talk to the cluster without the code under test in between.

#include <libpq-fe.h>

#include <QString>
#include <memory>

namespace testsupport {

struct PgConnDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct PgResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using PgConn = std::unique_ptr<PGconn, PgConnDeleter>;
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

struct ClusterAddress;

// Connects to a database of the test cluster (or of `cluster`); raises
// std::runtime_error with the library's text on failure.
PgConn connectBare(const QString& database);
PgConn connectBare(const ClusterAddress& cluster, const QString& database);

} // namespace testsupport
