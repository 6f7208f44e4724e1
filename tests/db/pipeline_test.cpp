#include "db/pipeline.h"

#include "db/busy_links.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"

#include "db/listener.h"
#include "support/test_db.h"
#include "support/wait.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/socket.h>

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

    // Uses `read` once behind a held write (id 100), so that it is prepared
    // and travels with the writes that follow; forgets that write's outcome.
    void warmUp(db::Query& read)
    {
        sendInsert(100, "warm");
        pipeline_.open(read);
        pipeline_.takeOutcomes();
        ASSERT_EQ(pipeline_.readsBehindWrites(), 0);
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
    read_.setText("SELECT count(*) AS N FROM t WHERE id <= :TOP");
    read_.bindInteger("TOP", 10);
    warmUp(read_);

    sendInsert(1, "a");
    sendInsert(1, "again");
    sendInsert(2, "far too long");
    sendInsert(3, "c");
    EXPECT_TRUE(pipeline_.pending());

    pipeline_.open(read_);

    EXPECT_EQ(pipeline_.readsBehindWrites(), 1) << "the read shared the writes' round trip";
    EXPECT_FALSE(pipeline_.pending());
    EXPECT_EQ(read_.field("N").asInteger(), 2);
    EXPECT_EQ(states(pipeline_.takeOutcomes()), (QStringList { "", "23505", "22001", "" }));
    EXPECT_TRUE(pipeline_.takeOutcomes().empty());
    EXPECT_EQ(db_.rows("SELECT id, tx FROM t ORDER BY 1"), (QStringList { "1|a", "3|c", "100|warm" }));

    // The connection serves ordinary statements again.
    read_.bindInteger("TOP", 1);
    read_.open();
    EXPECT_EQ(read_.field("N").asInteger(), 1);
}

TEST_F(PipelineTest, AFailingReadRaisesAfterTheWritesAreHeardOut)
{
    read_.setText("SELECT 1 / (id - 1) AS X FROM t WHERE id = :ID");
    read_.bindInteger("ID", 1);
    warmUp(read_);

    sendInsert(1, "a");
    EXPECT_THROW(pipeline_.open(read_), db::DatabaseError);
    EXPECT_EQ(pipeline_.readsBehindWrites(), 1);
    EXPECT_EQ(states(pipeline_.takeOutcomes()), QStringList { "" });
    EXPECT_EQ(db_.scalar("SELECT count(*) FROM t"), "2");
}

// A lookup's first use waits for the held writes so it can be prepared;
// from then on it travels with them.
TEST_F(PipelineTest, AReadPreparedOnItsFirstUseTravelsWithTheWritesFromThenOn)
{
    read_.setText("SELECT count(*) AS N FROM t");
    sendInsert(1, "a");
    pipeline_.open(read_);
    EXPECT_EQ(pipeline_.readsBehindWrites(), 0);
    EXPECT_EQ(read_.field("N").asInteger(), 1);

    sendInsert(2, "b");
    pipeline_.open(read_);
    EXPECT_EQ(pipeline_.readsBehindWrites(), 1);
    EXPECT_EQ(read_.field("N").asInteger(), 2);
    EXPECT_EQ(states(pipeline_.takeOutcomes()), (QStringList { "", "" }));
}

// A write held back must commit alone, which a caller's transaction forbids.
TEST_F(PipelineTest, IsNotUsableInsideACallersTransaction)
{
    EXPECT_TRUE(pipeline_.usable());
    conn_.startTransaction();
    EXPECT_FALSE(pipeline_.usable());
    conn_.rollback();
    EXPECT_TRUE(pipeline_.usable());
}

// A notification raised by a held write arrives on the socket among the
// answers the pipeline reads; the listener still hears it.
TEST_F(PipelineTest, ANotificationArrivingWithHeldWritesIsStillDelivered)
{
    db_.exec("CREATE FUNCTION tell() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
             "PERFORM pg_notify('venda', NEW.id::text); RETURN NEW; END $$");
    db_.exec("CREATE TRIGGER tell AFTER INSERT ON t FOR EACH ROW EXECUTE FUNCTION tell()");
    db::Listener listener(conn_);
    QStringList heard;
    listener.setHandler([&](db::Listener&, const QString& channel, const QString& payload) {
        heard << channel + ":" + payload;
    });
    listener.setChannels({"venda"});
    listener.setActive(true);

    read_.setText("SELECT count(*) AS N FROM t");
    warmUp(read_);
    sendInsert(7, "x");
    pipeline_.open(read_);
    EXPECT_EQ(pipeline_.readsBehindWrites(), 1);
    EXPECT_TRUE(testsupport::waitFor([&] { return heard.contains("venda:7"); }, 5000)) << heard.join(", ").toStdString();
}

TEST_F(PipelineTest, ALostLinkFailsEveryUnansweredWriteAndTheConnectionRecovers)
{
    // The second insert takes the server's session down with it.
    db_.exec("CREATE FUNCTION lose() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF NEW.id = 2 THEN "
             "PERFORM pg_terminate_backend(pg_backend_pid()); END IF; RETURN NEW; END $$");
    db_.exec("CREATE TRIGGER lose BEFORE INSERT ON t FOR EACH ROW EXECUTE FUNCTION lose()");
    conn_.setAutoReconnect(true);
    // Heard out first: a session that ends with writes still unread in its
    // socket resets the link, and the reset may take an answer already on
    // its way with it.
    sendInsert(1, "a");
    pipeline_.settle();
    ASSERT_EQ(states(pipeline_.takeOutcomes()), QStringList { "" });
    sendInsert(2, "b");
    sendInsert(3, "c");
    pipeline_.settle();
    // The write that took the session down fails with what the server said
    // as it went (or with the lost link); the one behind it with the lost link.
    const QStringList outcomes = states(pipeline_.takeOutcomes());
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_NE(outcomes[0], "");
    EXPECT_EQ(outcomes[1], "08");
    EXPECT_EQ(db_.rows("SELECT id FROM t"), QStringList { "1" });

    // The next statement gets a new link.
    read_.setText("SELECT count(*) AS N FROM t WHERE id <= :TOP");
    read_.bindInteger("TOP", 10);
    read_.open();
    EXPECT_EQ(read_.field("N").asInteger(), 1);
}

// A write that cannot even be sent (the link is gone) with nothing else
// held: the connection leaves pipeline mode and is free again, so the next
// statement gets a new link instead of being refused.
TEST_F(PipelineTest, ASendThatFailsLeavesPipelineModeAndFreesTheConnection)
{
    conn_.setAutoReconnect(true);
    sendInsert(1, "a");
    pipeline_.settle();
    ASSERT_EQ(states(pipeline_.takeOutcomes()), QStringList { "" });

    PGconn* c = conn_.handle();
    ::shutdown(PQsocket(c), SHUT_RDWR);
    PQconsumeInput(c);
    ASSERT_EQ(PQstatus(c), CONNECTION_BAD);

    EXPECT_THROW(sendInsert(2, "b"), db::BrokenConnection);
    EXPECT_FALSE(pipeline_.pending());
    EXPECT_EQ(PQpipelineStatus(c), PQ_PIPELINE_OFF);
    EXPECT_FALSE(conn_.busy());
    EXPECT_FALSE(db::linksBusy());

    read_.setText("SELECT count(*) AS N FROM t");
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
