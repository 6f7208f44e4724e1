// Reads on several connections at once: every query answers for itself,
// answers are taken as they arrive, and a connection that keeps its
// answers is given up.

#include "db/connection.h"
#include "db/query.h"
#include "db/read_batch.h"

#include "db_test_helpers.h"
#include "support/test_db.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using testsupport::TestDatabase;

std::vector<db::ReadBatch::Done> waitForDone(db::ReadBatch& batch, std::size_t count)
{
    std::vector<db::ReadBatch::Done> done;
    for (int turn = 0; turn < 1000 && done.size() < count; ++turn) {
        batch.wait(10ms);
        for (auto& d : batch.takeDone())
            done.push_back(std::move(d));
    }
    return done;
}

TEST(ReadBatch, EachQueryAnswersForItselfAndTheConnectionStaysUsable)
{
    TestDatabase db;
    db.exec("CREATE TABLE t (id integer, exportado integer)");
    db.exec("INSERT INTO t VALUES (1, 0), (2, 1), (3, 2)");
    db::Connection conn(db.params());
    conn.open();
    db::Query waiting(conn), missing(conn), param(conn), after(conn);
    waiting.setText("SELECT COUNT(*) AS N FROM t WHERE exportado IN (0, 1)");
    missing.setText("SELECT COUNT(*) AS N FROM no_such_table");
    param.setText("SELECT id FROM t WHERE exportado = :E");
    param.bindInteger("E", 2);
    after.setText("SELECT MIN(id) AS M FROM t");

    db::ReadBatch batch(10s);
    batch.add({&waiting, &missing, &param, &after});
    const auto done = waitForDone(batch, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_FALSE(done[0].lost.has_value());
    ASSERT_EQ(done[0].errors.size(), 4u);
    EXPECT_FALSE(done[0].errors[0]);
    EXPECT_EQ(waiting.field("N").asInteger(), 2);
    ASSERT_TRUE(done[0].errors[1]);
    EXPECT_EQ(done[0].errors[1]->sqlState(), "42P01");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(param.field("ID").asInteger(), 3);
    EXPECT_FALSE(done[0].errors[3]) << "a failure before it spoils nothing";
    EXPECT_EQ(after.field("M").asInteger(), 1);
    EXPECT_FALSE(batch.running());

    // Back to statements one by one on the same link.
    EXPECT_TRUE(conn.connected());
    after.open();
    EXPECT_EQ(after.field("M").asInteger(), 1);
}

TEST(ReadBatch, AnswersAreTakenAsTheyArriveAndASilentServerIsGivenUp)
{
    TestDatabase db;
    db::Connection slow(db.params()), quick(db.params());
    slow.open();
    quick.open();
    db::Query sleeping(slow), one(quick);
    sleeping.setText("SELECT pg_sleep(30) AS S");
    one.setText("SELECT 1 AS N");

    db::ReadBatch batch(1500ms);
    batch.add({&sleeping});
    batch.add({&one});
    auto done = waitForDone(batch, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].queries, std::vector<db::Query*>{&one});
    EXPECT_EQ(one.field("N").asInteger(), 1);
    EXPECT_TRUE(batch.running()) << "the sleeping one is still waited for";

    done = waitForDone(batch, 1);
    ASSERT_EQ(done.size(), 1u);
    ASSERT_TRUE(done[0].lost.has_value());
    EXPECT_TRUE(done[0].lost->message().contains("no answer within 1500 ms")) << done[0].lost->message().toStdString();
    ASSERT_TRUE(done[0].errors[0]);
    EXPECT_FALSE(slow.connected()) << "its link is dropped with the answer it still owes";
    EXPECT_TRUE(quick.connected());
}

TEST(ReadBatch, ALinkLostWhileWaitingEndsItsQueries)
{
    TestDatabase db;
    db::Connection conn(db.params());
    conn.open();
    const qint64 pid = dbtest::backendPid(conn);
    db::Query sleeping(conn), after(conn);
    sleeping.setText("SELECT pg_sleep(30) AS S");
    after.setText("SELECT 1 AS N");

    db::ReadBatch batch(60s);
    batch.add({&sleeping, &after});
    batch.wait(50ms);
    testsupport::execAdmin(QString("SELECT pg_terminate_backend(%1)").arg(pid));
    const auto done = waitForDone(batch, 1);
    ASSERT_EQ(done.size(), 1u);
    ASSERT_TRUE(done[0].lost.has_value());
    EXPECT_TRUE(done[0].errors[0] && done[0].errors[1]);
    EXPECT_FALSE(conn.connected());
}

} // namespace
