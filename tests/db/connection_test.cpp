#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"

#include "db_test_helpers.h"
#include "support/bare_pg.h"
#include "support/test_db.h"

#include <QElapsedTimer>

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

using testsupport::TestDatabase;

db::ConnectionParams paramsFor(const QString& database, const QString& user = testsupport::testUser(),
                               const QString& password = testsupport::testPassword())
{
    db::ConnectionParams p;
    p.add("Database= " + database);
    p.add("User_Name= " + user);
    p.add("Password=" + password);
    p.add("Server= " + testsupport::testHost());
    p.add("Port= " + QString::number(testsupport::testPort()));
    p.add("DriverID=PG");
    p.add("MonitorBy=Remote");
    return p;
}

QString scalar(db::Connection& conn, const QString& sql)
{
    db::Query q(conn);
    q.setText(sql);
    q.open();
    return q.field(q.fieldName(0)).asString();
}

// A database made by the test itself, for encodings and settings the
// templates do not have.
struct OwnDatabase {
    QString name;
    explicit OwnDatabase(const QString& suffix, const QString& options)
        : name(QString("qs_own_%1_%2").arg(getpid()).arg(suffix))
    {
        testsupport::execAdmin("DROP DATABASE IF EXISTS " + name);
        testsupport::execAdmin("CREATE DATABASE " + name + " " + options);
    }
    ~OwnDatabase()
    {
        try {
            testsupport::execAdmin("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
        } catch (...) {
        }
    }
};

struct OwnRole {
    QString name;
    OwnRole(const QString& suffix, const QString& passwordLiteral)
        : name(QString("qs_role_%1_%2").arg(getpid()).arg(suffix))
    {
        testsupport::execAdmin("DROP ROLE IF EXISTS " + name);
        testsupport::execAdmin("CREATE ROLE " + name + " LOGIN PASSWORD " + passwordLiteral);
    }
    ~OwnRole()
    {
        try {
            testsupport::execAdmin("DROP ROLE IF EXISTS " + name);
        } catch (...) {
        }
    }
};

TEST(ConnectionTest, OpensTheNamedDatabaseAndOpenAndCloseAreIdempotent)
{
    TestDatabase db;
    db::Connection conn(db.params()); // "Database= name": the blank is not part of the name
    EXPECT_FALSE(conn.connected());
    conn.close();
    conn.open();
    ASSERT_TRUE(conn.connected());
    const qint64 pid = dbtest::backendPid(conn);
    conn.open();
    EXPECT_EQ(dbtest::backendPid(conn), pid) << "a second open must not reconnect";
    EXPECT_EQ(scalar(conn, "SELECT current_database()"), db.name());
    conn.close();
    conn.close();
    EXPECT_FALSE(conn.connected());
    conn.open();
    EXPECT_NE(dbtest::backendPid(conn), pid);
}

TEST(ConnectionTest, FailedOpensRaiseBrokenConnectionWithTheLibraryText)
{
    TestDatabase db;
    struct Case {
        const char* what;
        QStringList lines;
        const char* inMessage;
    };
    const QString host = testsupport::testHost();
    const QString port = QString::number(testsupport::testPort());
    const Case cases[] = {
        {"port that is no number", {"Server=" + host, "Port= 54x", "Database=" + db.name()}, "54x"},
        {"unknown host", {"Server= no-such-host.invalid", "Port=" + port, "Database=" + db.name()},
         "no-such-host.invalid"},
        {"nothing listening", {"Server=" + host, "Port=1", "Database=" + db.name()}, "refused"},
        {"unknown database", {"Server=" + host, "Port=" + port, "Database=qs_no_such_db"}, "qs_no_such_db"},
    };
    for (const Case& c : cases) {
        db::Connection conn;
        for (const QString& line : c.lines)
            conn.params().add(line);
        conn.params().add("User_Name=" + testsupport::testUser());
        try {
            conn.open();
            ADD_FAILURE() << c.what << ": open succeeded";
        } catch (const db::BrokenConnection& e) {
            EXPECT_TRUE(e.message().contains(c.inMessage, Qt::CaseInsensitive)) << c.what << ": " << e.what();
        }
        EXPECT_FALSE(conn.connected()) << c.what;
    }
}

TEST(ConnectionTest, PasswordWithBlanksQuotesAndHashReachesTheServerIntact)
{
    TestDatabase db;
    const QString password = "pa ss'wo\\rd #1 \"x\"";
    OwnRole role("pw", "'pa ss''wo\\rd #1 \"x\"'");

    db::Connection conn(paramsFor(db.name(), role.name, password));
    conn.open();
    EXPECT_EQ(scalar(conn, "SELECT current_user"), role.name);

    db::Connection wrong(paramsFor(db.name(), role.name, "pa ss'wo\\rd #1"));
    try {
        wrong.open();
        ADD_FAILURE() << "a wrong password was accepted";
    } catch (const db::BrokenConnection& e) {
        EXPECT_TRUE(e.message().contains("password authentication failed")) << e.what();
    }
}

TEST(ConnectionTest, SessionIsUtf8AndIsoWhateverTheDatabaseSays)
{
    TestDatabase db;
    db.exec("ALTER DATABASE " + db.name() + " SET DateStyle = 'SQL, DMY'");
    db.exec("ALTER DATABASE " + db.name() + " SET client_encoding = 'LATIN1'");
    db.exec("CREATE TABLE t (d date, ts timestamp)");

    db::Connection conn(db.params());
    db::Query q(conn);
    q.setText("INSERT INTO t VALUES (:D, :TS)");
    q.bindDate("D", QDate(2024, 1, 2));
    q.bindDateTime("TS", QDateTime(QDate(2024, 3, 5), QTime(6, 7, 8, 9)));
    q.exec();

    q.setText("SELECT d, ts, to_char(d, 'MM') AS MES, current_setting('DateStyle') AS STYLE, 'ação' AS TXT FROM t");
    q.open();
    EXPECT_EQ(q.field("STYLE").asString().left(3), "ISO");
    EXPECT_EQ(q.field("D").asString(), "2024-01-02");
    EXPECT_EQ(q.field("MES").asString(), "01") << "2 January, not 1 February";
    EXPECT_EQ(q.field("TS").asDateTime(), QDateTime(QDate(2024, 3, 5), QTime(6, 7, 8, 9)));
    EXPECT_EQ(q.field("TXT").asString(), QString::fromUtf8("ação"));
}

TEST(ConnectionTest, PortugueseTextRoundTripsThroughALatin1Database)
{
    OwnDatabase latin1("latin1", "ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0");
    db::Connection conn(paramsFor(latin1.name));
    conn.executeDirect("CREATE TABLE t (nome varchar(40))");
    const QString nome = QString::fromUtf8("Açúcar e pão, coração, ÓTIMO, É");

    db::Query q(conn);
    q.setText("INSERT INTO t VALUES (:NOME)");
    q.bindText("NOME", nome);
    q.exec();
    q.setText("SELECT nome, length(nome) AS LEN, octet_length(nome) AS BYTES FROM t");
    q.open();
    EXPECT_EQ(q.field("NOME").asString(), nome);
    EXPECT_EQ(q.field("LEN").asInteger(), nome.size());
    EXPECT_EQ(q.field("BYTES").asInteger(), nome.size()) << "stored as one byte per letter";
}

TEST(ConnectionTest, StatementErrorCarriesTheServerTextAndSqlState)
{
    TestDatabase db;
    db::Connection conn(db.params());
    db::Query q(conn);
    q.setText("SELECT * FROM nao_existe WHERE id = :ID");
    q.bindInteger("ID", 1);
    try {
        q.open();
        ADD_FAILURE() << "no error";
    } catch (const db::BrokenConnection& e) {
        ADD_FAILURE() << "a statement error is not a lost link: " << e.what();
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), "42P01");
        EXPECT_TRUE(e.message().contains("nao_existe")) << e.what();
        EXPECT_EQ(e.sql(), "SELECT * FROM nao_existe WHERE id = $1");
    }
    EXPECT_EQ(scalar(conn, "SELECT 1"), "1") << "the connection stays usable";
}

TEST(ConnectionTest, TransactionsCommitOrRollBack)
{
    TestDatabase db;
    db.exec("CREATE TABLE t (id int PRIMARY KEY)");
    db::Connection conn(db.params());
    db::Query insert(conn);
    auto add = [&](int id) {
        insert.setText("INSERT INTO t VALUES (:ID)");
        insert.bindInteger("ID", id);
        insert.exec();
    };

    EXPECT_FALSE(conn.inTransaction());
    conn.startTransaction();
    EXPECT_TRUE(conn.inTransaction());
    EXPECT_THROW(conn.startTransaction(), db::UsageError);
    add(1);
    conn.rollback();
    EXPECT_FALSE(conn.inTransaction());
    EXPECT_EQ(db.scalar("SELECT count(*) FROM t"), "0");

    conn.startTransaction();
    add(2);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM t"), "0") << "not visible before commit";
    conn.commit();
    EXPECT_EQ(db.scalar("SELECT count(*) FROM t"), "1");

    // A failed statement spoils the transaction; rollback recovers it.
    conn.startTransaction();
    EXPECT_THROW(add(2), db::DatabaseError);
    conn.rollback();
    add(3);
    EXPECT_EQ(db.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "2,3");
    conn.commit();   // nothing open: nothing happens
    conn.rollback();
}

struct FailedTransactionCase {
    const char* name;
    // Spoils the open transaction after one good insert.
    std::function<void(db::Connection&)> spoil;
    const char* sqlState;     // of the DatabaseError commit raises; null: BrokenConnection
    const char* messagePart;
};

class CommitOfAFailedTransactionTest : public ::testing::TestWithParam<FailedTransactionCase> {};

// The server answers COMMIT of a failed transaction with "ROLLBACK" and
// success; commit must not pass that on as success. Nothing of the
// transaction stays, and the connection works on.
TEST_P(CommitOfAFailedTransactionTest, RaisesAndKeepsNothing)
{
    const FailedTransactionCase& c = GetParam();
    TestDatabase db;
    db.exec("CREATE TABLE t (id int PRIMARY KEY)");
    db::Connection conn(db.params());
    db::Query insert(conn);
    insert.setText("INSERT INTO t VALUES (:ID)");

    conn.startTransaction();
    insert.bindInteger("ID", 1);
    insert.exec();
    c.spoil(conn);
    try {
        conn.commit();
        ADD_FAILURE() << "commit reported success";
    } catch (const db::BrokenConnection& e) {
        EXPECT_EQ(c.sqlState, nullptr) << e.what();
    } catch (const db::DatabaseError& e) {
        ASSERT_NE(c.sqlState, nullptr) << e.what();
        EXPECT_EQ(e.sqlState(), c.sqlState);
        EXPECT_TRUE(e.message().contains(c.messagePart)) << e.what();
    }
    EXPECT_FALSE(conn.inTransaction());
    EXPECT_EQ(db.scalar("SELECT count(*) FROM t"), "0");
    insert.bindInteger("ID", 2);
    insert.exec();
    EXPECT_EQ(db.scalar("SELECT count(*) FROM t"), "1");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommitOfAFailedTransactionTest,
    ::testing::Values(
        // The caller caught the failure and went on to commit: the failure's
        // own text is what commit reports.
        FailedTransactionCase{"StatementFailedAndWasCaught",
                              [](db::Connection& conn) {
                                  db::Query again(conn);
                                  again.setText("INSERT INTO t VALUES (1)");
                                  EXPECT_THROW(again.exec(), db::DatabaseError);
                              },
                              "23505", "duplicate key"},
        // A statement that went round the layer spoilt it.
        FailedTransactionCase{"SpoiltBehindTheLayersBack",
                              [](db::Connection& conn) {
                                  testsupport::PgResult r(PQexec(conn.handle(), "SELECT 1 / 0"));
                                  EXPECT_EQ(PQresultStatus(r.get()), PGRES_FATAL_ERROR);
                              },
                              "25P02", "rolled it back"},
        // The link was replaced: the transaction went with the old one.
        FailedTransactionCase{"LinkReplaced",
                              [](db::Connection& conn) {
                                  conn.reconnect();
                                  db::Query more(conn);
                                  more.setText("INSERT INTO t VALUES (3)");
                                  EXPECT_THROW(more.exec(), db::BrokenConnection) << "no statement outside it";
                              },
                              nullptr, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectionTest, PreparesEachTextOncePerConnection)
{
    TestDatabase db;
    db.exec("CREATE TABLE t (id int, nome text)");
    db::Connection conn(db.params());
    auto prepared = [&] {
        return scalar(conn, "SELECT count(*) FROM pg_prepared_statements WHERE statement LIKE 'INSERT INTO t%'").toInt();
    };
    db::Query q(conn);
    for (int i = 0; i < 3; ++i) {
        q.setText("INSERT INTO t VALUES (:ID, :NOME)");
        q.bindInteger("ID", i);
        q.bindText("NOME", "n");
        q.prepare();
        q.exec();
    }
    EXPECT_EQ(prepared(), 1);
    q.setText("INSERT INTO t (id) VALUES (:ID)");
    q.bindInteger("ID", 9);
    q.exec();
    EXPECT_EQ(prepared(), 2);

    conn.close(); // the server forgets them; so must the cache
    conn.open();
    EXPECT_EQ(prepared(), 0);
    q.exec();
    EXPECT_EQ(prepared(), 1);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM t"), "5");
}

// More texts than the cache holds: the oldest is dropped from the server
// session, and running it again prepares it anew.
TEST(ConnectionTest, StatementDroppedFromTheCacheRunsAgain)
{
    TestDatabase db;
    db::Connection conn(db.params());
    db::Query q(conn);
    auto run = [&](int n) {
        q.setText(QString("SELECT %1 AS N").arg(n));
        q.open();
        return q.field("N").asInteger();
    };
    for (int n = 0; n <= 256; ++n)
        ASSERT_EQ(run(n), n);
    EXPECT_EQ(scalar(conn, "SELECT count(*) FROM pg_prepared_statements WHERE statement = 'SELECT 0 AS N'"), "0");
    EXPECT_EQ(run(0), 0);
    EXPECT_EQ(scalar(conn, "SELECT count(*) FROM pg_prepared_statements WHERE statement = 'SELECT 0 AS N'"), "1");
    EXPECT_LE(scalar(conn, "SELECT count(*) FROM pg_prepared_statements").toInt(), 256);
}

TEST(ConnectionTest, CachedSelectFollowsAChangedTable)
{
    TestDatabase db;
    db.exec("CREATE TABLE t (id int)");
    db.exec("INSERT INTO t VALUES (1)");
    db::Connection conn(db.params());
    db::Query q(conn);
    q.setText("SELECT * FROM t");
    q.open();
    EXPECT_EQ(q.fieldCount(), 1);
    db.exec("ALTER TABLE t ADD COLUMN nome text DEFAULT 'x'");
    q.setText("SELECT * FROM t");
    q.open();
    EXPECT_EQ(q.fieldCount(), 2);
    EXPECT_EQ(q.field("NOME").asString(), "x");
}

// A server session killed from outside stands for any lost link.
class LostLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db_.exec("CREATE TABLE t (id int)");
        conn_.params() = db_.params();
        conn_.open();
        insert(1); // the statement is prepared on the old link
    }
    void insert(int id)
    {
        db::Query q(conn_);
        q.setText("INSERT INTO t VALUES (:ID)");
        q.bindInteger("ID", id);
        q.exec();
    }
    void killLink() { ASSERT_TRUE(dbtest::killBackend(dbtest::backendPid(conn_))); }

    TestDatabase db_;
    db::Connection conn_;
};

TEST_F(LostLinkTest, ServerConnectionReconnectsAndRunsTheStatementAgain)
{
    conn_.setAutoReconnect(true);
    const qint64 before = dbtest::backendPid(conn_);
    killLink();
    insert(2);
    EXPECT_NE(dbtest::backendPid(conn_), before);
    EXPECT_EQ(db_.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "1,2");
}

// Holds an exclusive lock on "t" from a session of its own; once `victim`
// waits for it, ends the victim's session from outside, then lets go, so
// the victim's statement is lost after it reached the server. Bounded: when
// the victim never waits, the lock is let go all the same.
class KillWhileWaiting {
public:
    KillWhileWaiting(const TestDatabase& db, qint64 victim)
        : locker_(testsupport::connectBare(db.name()))
    {
        exec(locker_.get(), "BEGIN");
        exec(locker_.get(), "LOCK TABLE t IN ACCESS EXCLUSIVE MODE");
        thread_ = std::thread([this, name = db.name(), victim] {
            testsupport::PgConn admin = testsupport::connectBare(name);
            const QByteArray waiting = QByteArray("SELECT count(*) FROM pg_stat_activity WHERE pid = ")
                                       + QByteArray::number(victim) + " AND wait_event_type = 'Lock'";
            QElapsedTimer timer;
            timer.start();
            while (!killed_ && timer.elapsed() < 10000) {
                testsupport::PgResult r(PQexec(admin.get(), waiting.constData()));
                if (QByteArray(PQgetvalue(r.get(), 0, 0)) == "1") {
                    const QByteArray kill
                        = "SELECT pg_terminate_backend(" + QByteArray::number(victim) + ", 10000)";
                    testsupport::PgResult k(PQexec(admin.get(), kill.constData()));
                    killed_ = true;
                }
            }
            exec(locker_.get(), "ROLLBACK");
        });
    }
    ~KillWhileWaiting()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool killed()
    {
        if (thread_.joinable())
            thread_.join();
        return killed_;
    }

private:
    static void exec(PGconn* conn, const char* sql) { testsupport::PgResult r(PQexec(conn, sql)); }

    testsupport::PgConn locker_;
    std::atomic<bool> killed_{false};
    std::thread thread_;
};

// A write whose link dropped after it was sent may have been committed
// already: it is not run a second time but raised, so the caller can hand
// the row back. A read is run again on a new link.
TEST_F(LostLinkTest, WriteLostAfterSendingRaisesAndIsNotRunAgain)
{
    conn_.setAutoReconnect(true);
    {
        KillWhileWaiting kill(db_, dbtest::backendPid(conn_));
        EXPECT_THROW(insert(2), db::BrokenConnection);
        EXPECT_TRUE(kill.killed());
    }
    EXPECT_EQ(db_.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "1");
    insert(3); // the next statement gets a new link
    EXPECT_EQ(db_.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "1,3");
}

TEST_F(LostLinkTest, ReadLostAfterSendingRunsAgain)
{
    conn_.setAutoReconnect(true);
    const qint64 before = dbtest::backendPid(conn_);
    KillWhileWaiting kill(db_, before);
    EXPECT_EQ(scalar(conn_, "SELECT count(*) AS N FROM t"), "1");
    EXPECT_TRUE(kill.killed());
    EXPECT_NE(dbtest::backendPid(conn_), before);
}

TEST_F(LostLinkTest, TerminalConnectionFailsTheStatement)
{
    killLink();
    EXPECT_THROW(insert(2), db::BrokenConnection);
    EXPECT_THROW(insert(3), db::BrokenConnection) << "no reconnect behind the caller's back";
    EXPECT_TRUE(conn_.connected());
    conn_.close();
    conn_.open();
    insert(4);
    EXPECT_EQ(db_.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "1,4");
}

TEST_F(LostLinkTest, NoSilentReconnectInsideTheCallersTransaction)
{
    conn_.setAutoReconnect(true);
    conn_.startTransaction();
    insert(2);
    killLink();
    EXPECT_THROW(insert(3), db::BrokenConnection);
    EXPECT_THROW(insert(4), db::BrokenConnection) << "still inside the lost transaction";
    EXPECT_NO_THROW(conn_.rollback());
    EXPECT_FALSE(conn_.inTransaction());
    insert(5);
    EXPECT_EQ(db_.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "1,5");
}

// A close under the caller's transaction (its own, or a nested run's that
// reopens the link) ends the transaction on the server. Nothing after it may
// run on a fresh link in autocommit and then commit "successfully" with the
// first half gone: every statement, a new start and the commit raise as
// after a lost link, until the caller rolls back.
TEST_F(LostLinkTest, CloseInsideTheCallersTransactionFailsEverythingUntilRollback)
{
    for (const bool reopened : {false, true}) {
        SCOPED_TRACE(reopened ? "reopened by someone else" : "left closed");
        for (const bool autoReconnect : {false, true}) {
            conn_.setAutoReconnect(autoReconnect);
            conn_.startTransaction();
            insert(2);
            conn_.close();
            if (reopened)
                conn_.open();
            EXPECT_TRUE(conn_.inTransaction());
            EXPECT_THROW(insert(3), db::BrokenConnection);
            EXPECT_THROW(scalar(conn_, "SELECT 1 AS N"), db::BrokenConnection);
            EXPECT_THROW(conn_.startTransaction(), db::BrokenConnection);
            try {
                conn_.commit();
                ADD_FAILURE() << "commit reported success";
            } catch (const db::BrokenConnection& e) {
                EXPECT_TRUE(e.message().contains("closed")) << e.what();
            }
            EXPECT_FALSE(conn_.inTransaction()) << "the commit ended it";
            EXPECT_EQ(db_.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "1");
        }
    }
    // A rollback (which cannot fail) frees the link for the next work.
    conn_.startTransaction();
    insert(4);
    conn_.close();
    EXPECT_NO_THROW(conn_.rollback());
    EXPECT_FALSE(conn_.inTransaction());
    insert(5);
    conn_.startTransaction();
    insert(6);
    conn_.commit();
    EXPECT_EQ(db_.scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM t"), "1,5,6");
}

} // namespace
