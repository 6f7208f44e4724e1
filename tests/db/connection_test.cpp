#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"

#include "db_test_helpers.h"
#include "support/test_db.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>
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

TEST(ConnectionTest, ConnectToADeadAddressEndsWithinTheTimeOut)
{
    db::Connection conn;
    conn.params().add("Server=10.255.255.1"); // reserved, never answers
    conn.params().add("Database=x");
    conn.setConnectTimeoutSeconds(2);
    QElapsedTimer timer;
    timer.start();
    EXPECT_THROW(conn.open(), db::BrokenConnection);
    EXPECT_LT(timer.elapsed(), 8000);
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

} // namespace
