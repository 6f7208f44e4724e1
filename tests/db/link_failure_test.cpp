// A run ends quietly on a failure of the link and shows a box only for a
// row the server refused: each failure here is produced by a real server.

#include "db/connection.h"
#include "db/errors.h"
#include "db/link_failure.h"
#include "db/query.h"

#include "db_test_helpers.h"
#include "support/test_db.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

using testsupport::TestDatabase;

// What `statement` raises on a fresh session of `db`, after `setUp` ran there.
struct Raised {
    bool linkFailure = false;
    QString sqlState;
    QString reason;
};

Raised raisedBy(const TestDatabase& db, const std::function<void(db::Connection&)>& statement)
{
    db::Connection conn(db.params());
    try {
        statement(conn);
    } catch (const db::DatabaseError& e) {
        return {db::isLinkFailure(e), e.sqlState(), db::failureReason(e)};
    }
    ADD_FAILURE() << "the statement did not fail";
    return {};
}

void run(db::Connection& conn, const QString& sql)
{
    db::Query q(conn);
    q.setText(sql);
    q.exec();
}

TEST(LinkFailure, TheServersOwnFailuresAreToldApart)
{
    TestDatabase db;
    db.exec("CREATE TABLE t (id integer PRIMARY KEY, n numeric(4,1)); INSERT INTO t VALUES (1, 0)");

    struct Case {
        const char* what;
        std::function<void(db::Connection&)> statement;
        bool linkFailure;
    };
    const Case cases[] = {
        {"a key already there", [](db::Connection& c) { run(c, "INSERT INTO t VALUES (1, 0)"); }, false},
        {"a value too large", [](db::Connection& c) { run(c, "INSERT INTO t VALUES (2, 12345)"); }, false},
        {"an unknown column", [](db::Connection& c) { run(c, "UPDATE t SET nada = 1"); }, false},
        {"cancelled by the statement time-out",
         [](db::Connection& c) {
             c.executeDirect("SET statement_timeout = 50");
             run(c, "SELECT pg_sleep(5)");
         },
         true},
        {"a lock wait past lock_timeout",
         [&db](db::Connection& c) {
             db::Connection holder(db.params());
             holder.startTransaction();
             run(holder, "UPDATE t SET n = 1 WHERE id = 1");
             c.executeDirect("SET lock_timeout = 50");
             run(c, "UPDATE t SET n = 2 WHERE id = 1");
         },
         true},
        {"the session ended by the server",
         [](db::Connection& c) {
             c.startTransaction(); // no reconnect can hide the loss
             ASSERT_TRUE(dbtest::killBackend(dbtest::backendPid(c)));
             run(c, "INSERT INTO t VALUES (3, 0)");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Raised r = raisedBy(db, c.statement);
        EXPECT_EQ(r.linkFailure, c.linkFailure) << r.sqlState.toStdString() << " " << r.reason.toStdString();
        EXPECT_FALSE(r.reason.contains('\n'));
        EXPECT_FALSE(r.reason.isEmpty());
    }
}

TEST(LinkFailure, AHostThatCannotBeReachedIsALinkFailureAndMisuseIsNot)
{
    db::ConnectionParams p;
    p.add("Server=" + testsupport::testHost());
    p.add("Port=1"); // nothing listens there
    p.add("User_Name=" + testsupport::testUser());
    p.add("Database=postgres");
    db::Connection dead(p);
    try {
        dead.open();
        FAIL() << "connected to port 1";
    } catch (const db::Error& e) {
        EXPECT_TRUE(db::isLinkFailure(e));
    }
    EXPECT_FALSE(db::isLinkFailure(db::UsageError("unknown parameter")));
    EXPECT_FALSE(db::isLinkFailure(std::runtime_error("not a database error")));
}

} // namespace
