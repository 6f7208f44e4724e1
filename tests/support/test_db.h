#pragma once
// Throw-away databases for tests. The test command starts a PostgreSQL
// cluster on 127.0.0.1 and loads the store schema into two templates; each
// TestDatabase is a fresh copy of one of them, dropped when it goes.
//
// Environment (set by scripts/test.sh): QS_TEST_PGHOST, QS_TEST_PGPORT,
// QS_TEST_PGUSER, QS_TEST_PGPASSWORD.

#include "db/connection_params.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace testsupport {

enum class Template { Server, Terminal, Empty };

// Where a cluster listens and who logs in to it.
struct ClusterAddress {
    QString host;
    int port = 0;
    QString user;
    QString password;
};

// The cluster the test command started, shared by every test.
ClusterAddress sharedCluster();

class TestDatabase {
public:
    // A copy of the template `kind` on `cluster`, which holds the
    // templates (the shared cluster, or a PrivateCluster).
    explicit TestDatabase(Template kind = Template::Empty, ClusterAddress cluster = sharedCluster());
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const QString& name() const { return name_; }
    const ClusterAddress& cluster() const { return cluster_; }

    // Parameter lines as the program writes them for a server connection.
    db::ConnectionParams params() const;

    // Runs SQL on this database through a connection of the test's own
    // (bare client library, independent of the code under test). Raises
    // std::runtime_error with the server's text on failure.
    void exec(const QString& sql) const;
    // First column of the first row, "" for no row; null reads "<null>".
    QString scalar(const QString& sql) const;
    // Every row, columns joined with "|"; null reads "<null>".
    QStringList rows(const QString& sql) const;

private:
    QString name_;
    ClusterAddress cluster_;
};

// Cluster address for tests that need it (host, port, superuser).
QString testHost();
int testPort();
QString testUser();
QString testPassword();

// The same lines with the port replaced: to a relay, or to a port that
// never answers.
db::ConnectionParams withPort(const db::ConnectionParams& params, const QString& port);

// Runs SQL on the maintenance database (CREATE ROLE and the like).
void execAdmin(const QString& sql);

} // namespace testsupport
