// The counts a measurement reads: every statement sent, and every commit a
// durable server must flush, whichever way the data layer sends them.

#include "db/statement_counts.h"

#include "common/log_path.h"
#include "db/connection.h"
#include "db/copy/copy_run.h"
#include "db/pipeline.h"
#include "db/query.h"
#include "support/test_db.h"

#include <QDir>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

using testsupport::TestDatabase;

class StatementCountsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(folder_.path()).mkdir("QuiborSync_Logs"));
        common::setProgramFolder(folder_.path());
        db_.exec("CREATE TABLE t (id integer PRIMARY KEY, tx varchar(5))");
        db_.exec("CREATE TABLE origem (id integer, tx varchar(5))");
        db_.exec("INSERT INTO origem SELECT g, 'x' FROM generate_series(1, 250) g");
        conn_.open();
        reader_.open();
    }
    void TearDown() override { common::setProgramFolder({}); }

    void insert(int id)
    {
        db::Query q(conn_);
        q.setText("INSERT INTO t (id, tx) VALUES (:ID, 'a')");
        q.bindInteger("ID", id);
        q.exec();
    }

    void copy(bool callerTransaction)
    {
        db_.exec("DELETE FROM t");
        db::CopyConfig c;
        c.readerConnection = &reader_;
        c.readerSql = "SELECT * FROM origem ORDER BY id";
        c.writerConnection = &conn_;
        c.writerSql = "SELECT * FROM t";
        c.logFile = common::programPath("QuiborSync_Logs\\Log_Contagem.log");
        c.callerTransaction = callerTransaction;
        db::CopyRun(c).run();
    }

    QTemporaryDir folder_;
    TestDatabase db_;
    db::Connection conn_{db_.params()};
    db::Connection reader_{db_.params()};
};

TEST_F(StatementCountsTest, EveryStatementAndEveryCommitOfARun)
{
    // What the layer adds around a case's own statements (BEGIN, COMMIT,
    // preparations) is its own affair: bounded from above, not pinned.
    struct Case {
        const char* name;
        std::function<void()> run;
        quint64 ownStatements;  // the writes and reads the case sends: each counted
        quint64 mostStatements; // 0: no bound
        quint64 commits;
        quint64 mostPreparations = 0; // of what the run makes afresh; some when not 0
    };
    const Case cases[] = {
        {"a write alone", [&] { insert(11); }, 1, 1, 1},
        {"a read", [&] {
             db::Query q(conn_);
             q.setText("SELECT count(*) AS N FROM t");
             q.open();
         }, 1, 1, 0},
        {"a transaction of two writes", [&] {
             conn_.startTransaction();
             insert(12);
             insert(13);
             conn_.commit();
         }, 2, 4, 1},
        {"a rolled back transaction", [&] {
             conn_.startTransaction();
             insert(14);
             conn_.rollback();
         }, 1, 3, 0},
        {"held writes and the read that answers them", [&] {
             db::Pipeline pipeline(conn_);
             db::Query write(conn_);
             write.setText("UPDATE t SET tx = :TX WHERE id = 1");
             db::Query read(conn_);
             read.setText("SELECT tx FROM t WHERE id = 1");
             // A pipeline prepares and describes its statements at their
             // first use, which goes alone.
             write.bindText("TX", "b");
             pipeline.send(write);
             pipeline.open(read);
             for (const char* tx : {"c", "d", "e"}) {
                 write.bindText("TX", tx);
                 pipeline.send(write);
             }
             pipeline.open(read);
         }, 6, 6, 4, 4},
        // Groups of 100 rows, each committed on its own.
        {"a copy of 250 rows", [&] { copy(false); }, 0, 0, 3, 1},
        {"a copy under the caller's transaction", [&] {
             conn_.startTransaction();
             copy(true);
             conn_.commit();
         }, 0, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Prepared before counting, so the case shows its own statements.
        const auto fresh = [&] { db_.exec("DELETE FROM t; INSERT INTO t (id, tx) VALUES (1, 'a')"); };
        fresh();
        c.run();
        fresh();
        const db::StatementCounts before = db::statementCounts();
        c.run();
        const db::StatementCounts counted = db::statementCounts() - before;
        EXPECT_GE(counted.statements, c.ownStatements);
        if (c.mostStatements) {
            EXPECT_LE(counted.statements, c.mostStatements);
        }
        EXPECT_EQ(counted.commits, c.commits);
        EXPECT_LE(counted.preparations, c.mostPreparations);
        if (c.mostPreparations) {
            EXPECT_GT(counted.preparations, 0u);
        }
    }
}

} // namespace
