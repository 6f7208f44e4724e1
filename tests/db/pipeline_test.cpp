#include "db/pipeline.h"

#include "db/busy_links.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"

#include "support/test_db.h"

#include <gtest/gtest.h>

namespace {

using testsupport::TestDatabase;

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db_.exec("CREATE TABLE t (id int PRIMARY KEY, tx varchar(5))");
        conn_.params() = db_.params();
        conn_.open();
    }

    void sendInsert(int id, const QString& tx)
    {
        insert_.bindInteger("ID", id);
        insert_.bindText("TX", tx);
        pipeline_.send(insert_);
    }

    // Success is "", a failure its SQLSTATE ("08" for a lost link).
    static QStringList states(const std::vector<std::exception_ptr>& outcomes)
    {
        QStringList out;
        for (const std::exception_ptr& outcome : outcomes) {
            if (!outcome) {
                out << "";
                continue;
            }
            try {
                std::rethrow_exception(outcome);
            } catch (const db::BrokenConnection&) {
                out << "08";
            } catch (const db::DatabaseError& e) {
                out << e.sqlState();
            }
        }
        return out;
    }

    TestDatabase db_;
    db::Connection conn_;
    db::Pipeline pipeline_ { conn_ };
    db::Query insert_ { conn_ };
    db::Query read_ { conn_ };

public:
    PipelineTest() { insert_.setText("INSERT INTO t (id, tx) VALUES (:ID, :TX)"); }
};

// Each write commits on its own: a failing one (a repeated key, a value
// too long) in the middle takes nothing of the others with it, and a read
// sent behind them sees what they wrote.
TEST_F(PipelineTest, WritesCommitAloneAndAReadBehindThemSeesThem)
{
    sendInsert(1, "a");
    sendInsert(1, "again");
    sendInsert(2, "far too long");
    sendInsert(3, "c");
    EXPECT_TRUE(pipeline_.pending());

    read_.setText("SELECT count(*) AS N FROM t WHERE id <= :TOP");
    read_.bindInteger("TOP", 10);
    pipeline_.open(read_);

    EXPECT_FALSE(pipeline_.pending());
    EXPECT_EQ(read_.field("N").asInteger(), 2);
    EXPECT_EQ(states(pipeline_.takeOutcomes()), (QStringList { "", "23505", "22001", "" }));
    EXPECT_TRUE(pipeline_.takeOutcomes().empty());
    EXPECT_EQ(db_.rows("SELECT id, tx FROM t ORDER BY 1"), (QStringList { "1|a", "3|c" }));

    // The connection serves ordinary statements again.
    read_.bindInteger("TOP", 1);
    read_.open();
    EXPECT_EQ(read_.field("N").asInteger(), 1);
}

TEST_F(PipelineTest, AFailingReadRaisesAfterTheWritesAreHeardOut)
{
    sendInsert(1, "a");
    read_.setText("SELECT 1 / (id - 1) AS X FROM t WHERE id = :ID");
    read_.bindInteger("ID", 1);
    EXPECT_THROW(pipeline_.open(read_), db::DatabaseError);
    EXPECT_EQ(states(pipeline_.takeOutcomes()), QStringList { "" });
    EXPECT_EQ(db_.scalar("SELECT count(*) FROM t"), "1");
}

TEST_F(PipelineTest, ALostLinkFailsEveryUnansweredWriteAndTheConnectionRecovers)
{
    // The second insert takes the server's session down with it.
    db_.exec("CREATE FUNCTION lose() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF NEW.id = 2 THEN "
             "PERFORM pg_terminate_backend(pg_backend_pid()); END IF; RETURN NEW; END $$");
    db_.exec("CREATE TRIGGER lose BEFORE INSERT ON t FOR EACH ROW EXECUTE FUNCTION lose()");
    conn_.setAutoReconnect(true);
    sendInsert(1, "a");
    sendInsert(2, "b");
    sendInsert(3, "c");
    pipeline_.settle();
    // The write that took the session down fails with what the server said
    // as it went; the one behind it with the lost link.
    const QStringList outcomes = states(pipeline_.takeOutcomes());
    ASSERT_EQ(outcomes.size(), 3);
    EXPECT_EQ(outcomes[0], "");
    EXPECT_NE(outcomes[1], "");
    EXPECT_EQ(outcomes[2], "08");
    EXPECT_EQ(db_.rows("SELECT id FROM t"), QStringList { "1" });

    // The next statement gets a new link.
    read_.setText("SELECT count(*) AS N FROM t WHERE id <= :TOP");
    read_.bindInteger("TOP", 10);
    read_.open();
    EXPECT_EQ(read_.field("N").asInteger(), 1);
}

// Held writes own the link until they are answered: a handler that sent on
// it meanwhile would read a write's answer as its own. The data layer
// refuses it instead, and handlers that ask wait.
TEST_F(PipelineTest, HeldWritesRefuseASecondSenderUntilTheyAreAnswered)
{
    sendInsert(1, "a");
    ASSERT_TRUE(pipeline_.pending());
    EXPECT_TRUE(conn_.busy());
    EXPECT_TRUE(db::linksBusy());

    db::Query other(conn_);
    other.setText("SELECT count(*) AS N FROM t");
    EXPECT_THROW(other.open(), db::UsageError);
    EXPECT_THROW(conn_.startTransaction(), db::UsageError);
    EXPECT_THROW(conn_.close(), db::UsageError);
    EXPECT_TRUE(conn_.connected());
    db::Pipeline second(conn_);
    db::Query write(conn_);
    write.setText("INSERT INTO t (id, tx) VALUES (:ID, 'x')");
    write.bindInteger("ID", 9);
    EXPECT_THROW(second.send(write), db::UsageError);

    pipeline_.settle();
    EXPECT_EQ(states(pipeline_.takeOutcomes()), QStringList { "" });
    EXPECT_FALSE(conn_.busy());
    other.open();
    EXPECT_EQ(other.field("N").asInteger(), 1) << "the refused write never reached the server";
}

} // namespace
