#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"

#include "support/test_db.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using testsupport::TestDatabase;

class QueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db_.exec("CREATE TABLE t (id int PRIMARY KEY, tx text, vc varchar(20), i8 bigint, f8 float8, nu numeric(15,4),"
                 " d date, tm time, ts timestamp, by bytea, bo boolean)");
        conn_.params() = db_.params();
    }

    // Opens `sql` on the connection under test.
    db::Query& open(const QString& sql)
    {
        q_.setText(sql);
        q_.open();
        return q_;
    }

    // Catches a UsageError and hands back its text.
    template <typename F>
    static QString usageErrorOf(F f)
    {
        try {
            f();
        } catch (const db::UsageError& e) {
            return e.message();
        }
        return "<no error>";
    }

    TestDatabase db_;
    db::Connection conn_;
    db::Query q_{conn_};
};

TEST_F(QueryTest, TypedBindsRoundTrip)
{
    QByteArray allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.append(static_cast<char>(b));
    const qint64 bigInteger = 9007199254740993; // not representable as a double
    const double tricky = 0.1 + 0.2;            // 0.30000000000000004
    const QDate date(2024, 2, 29);
    const QTime time(13, 45, 7, 123);
    const QDateTime stamp(QDate(1999, 12, 31), QTime(23, 59, 59, 999));

    db::Query insert(conn_);
    insert.setText("INSERT INTO t (id, tx, vc, i8, f8, nu, d, tm, ts, by, bo)"
                   " VALUES (:ID, :TX, :VC, :I8, :F8, :NU, :D, :TM, :TS, :BY, :BO)");
    insert.bindInteger("ID", 1);
    insert.bindText("TX", QString::fromUtf8("Coração 'x' \\ \"y\" :NAO"));
    insert.bindText("VC", "");
    insert.bindInteger("I8", bigInteger);
    insert.bindFloat("F8", tricky);
    insert.bindFloat("NU", 12.5);
    insert.bindDate("D", date);
    insert.bindTime("TM", time);
    insert.bindDateTime("TS", stamp);
    insert.bindBytes("BY", allBytes);
    insert.bindText("BO", "True");
    insert.prepare();
    insert.exec();

    db::Query& q = open("SELECT * FROM t");
    ASSERT_EQ(q.recordCount(), 1);
    EXPECT_EQ(q.field("tx").asString(), QString::fromUtf8("Coração 'x' \\ \"y\" :NAO"));
    EXPECT_FALSE(q.field("VC").isNull()) << "an empty text is sent as an empty text, not a null";
    EXPECT_EQ(q.field("VC").asString(), "");
    EXPECT_EQ(q.field("I8").asInteger(), bigInteger);
    EXPECT_EQ(q.field("F8").asFloat(), tricky);
    EXPECT_EQ(q.field("NU").asString(), "12.5000");
    EXPECT_EQ(q.field("NU").asFloat(), 12.5);
    EXPECT_EQ(q.field("D").asDateTime(), QDateTime(date, QTime(0, 0)));
    EXPECT_EQ(q.field("TM").asDateTime(), QDateTime(db::zeroDateTime().date(), time));
    EXPECT_EQ(q.field("TS").asDateTime(), stamp);
    EXPECT_EQ(q.field("BY").asBytes(), allBytes);
    EXPECT_EQ(q.field("BO").asString(), "True");

    // value() keeps the type, for copying into another row.
    EXPECT_EQ(std::get<QDate>(q.field("D").value()), date);
    EXPECT_EQ(std::get<QTime>(q.field("TM").value()), time);
    EXPECT_EQ(std::get<qint64>(q.field("I8").value()), bigInteger);
    EXPECT_EQ(std::get<QByteArray>(q.field("BY").value()), allBytes);
    EXPECT_EQ(std::get<QString>(q.field("NU").value()), "12.5000");

    EXPECT_EQ(db_.scalar("SELECT vc IS NULL FROM t"), "f");
    EXPECT_EQ(db_.scalar("SELECT ts FROM t"), "1999-12-31 23:59:59.999");
}

TEST_F(QueryTest, NullsReadAsEmptyZeroAndTheZeroDate)
{
    db::Query insert(conn_);
    insert.setText("INSERT INTO t VALUES (:ID, :TX, :VC, :I8, :F8, :NU, :D, :TM, :TS, :BY, :BO)");
    insert.bindInteger("ID", 1);
    for (const char* name : {"TX", "VC", "I8", "F8", "NU", "D", "TM", "TS", "BY", "BO"})
        insert.bindNull(name);
    insert.exec();
    // Invalid dates and times are nulls too.
    insert.bindInteger("ID", 2);
    insert.bindDate("D", QDate());
    insert.bindDateTime("TS", QDateTime());
    insert.exec();

    db::Query& q = open("SELECT * FROM t ORDER BY id");
    for (; !q.eof(); q.next()) {
        for (int c = 1; c < q.fieldCount(); ++c) {
            const db::Field f = q.field(c);
            const QString name = q.fieldName(c);
            EXPECT_TRUE(f.isNull()) << name.toStdString();
            EXPECT_EQ(f.asString(), "") << name.toStdString();
            EXPECT_EQ(f.asInteger(), 0) << name.toStdString();
            EXPECT_EQ(f.asFloat(), 0.0) << name.toStdString();
            EXPECT_EQ(f.asDateTime(), db::zeroDateTime()) << name.toStdString();
            EXPECT_TRUE(std::holds_alternative<db::Null>(f.value())) << name.toStdString();
        }
    }
    EXPECT_EQ(db::zeroDateTime(), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
}

TEST_F(QueryTest, ConversionsOfReadValues)
{
    struct Case {
        const char* expr;
        const char* asString;
        qint64 asInteger;
    };
    // Fractions read as integers round to the nearest, halves away from zero.
    const Case cases[] = {
        {"'007'::text", "007", 7},
        {"' 42 '::varchar", " 42 ", 42},
        {"12.50::numeric(8,2)", "12.50", 13},
        {"12.49::numeric", "12.49", 12},
        {"(-12.5)::numeric", "-12.5", -13},
        {"2.5::float8", "2.5", 3},
        {"true", "True", 1},
        {"false", "False", 0},
        {"9223372036854775807::int8", "9223372036854775807", std::numeric_limits<qint64>::max()},
        {"(-32768)::int2", "-32768", -32768},
    };
    for (const Case& c : cases) {
        db::Query& q = open(QString("SELECT %1 AS V").arg(c.expr));
        EXPECT_EQ(q.field("V").asString(), c.asString) << c.expr;
        EXPECT_EQ(q.field("V").asInteger(), c.asInteger) << c.expr;
    }

    const char* notIntegers[] = {"'A1'::text", "''::text", "'1.5'::text", "1e30::float8", "'NaN'::float8",
                                 "DATE '2024-01-01'"};
    for (const char* expr : notIntegers) {
        db::Query& q = open(QString("SELECT %1 AS V").arg(expr));
        EXPECT_TRUE(usageErrorOf([&] { q.field("V").asInteger(); }).contains("is not a valid integer value")) << expr;
    }
    db::Query& a1 = open("SELECT 'A1'::text AS V");
    EXPECT_EQ(usageErrorOf([&] { a1.field("V").asInteger(); }), "'A1' is not a valid integer value");
    EXPECT_TRUE(usageErrorOf([&] { a1.field("V").asFloat(); }).contains("'A1'"));
    EXPECT_TRUE(usageErrorOf([&] { a1.field("V").asDateTime(); }).contains("'A1'"));

    db::Query& dates = open("SELECT '2024-03-05 10:11:12.5'::text AS TX, ''::text AS EMPTY,"
                            " DATE '1900-01-01' AS D, 1.25::float4 AS F4");
    EXPECT_EQ(dates.field("TX").asDateTime(), QDateTime(QDate(2024, 3, 5), QTime(10, 11, 12, 500)));
    EXPECT_EQ(dates.field("EMPTY").asDateTime(), db::zeroDateTime());
    EXPECT_EQ(dates.field("D").asFloat(), 2.0) << "days since the zero date";
    EXPECT_EQ(dates.field("F4").asFloat(), 1.25);
}

TEST_F(QueryTest, ZonedTimesKeepTheSessionsWallClock)
{
    conn_.executeDirect("SET TimeZone = 'America/Sao_Paulo'");
    db::Query& q = open("SELECT TIMESTAMPTZ '2024-03-05 13:11:12+00' AS TS, TIMETZ '08:00:00+05:30' AS TM");
    EXPECT_EQ(q.field("TS").asDateTime(), QDateTime(QDate(2024, 3, 5), QTime(10, 11, 12)));
    EXPECT_EQ(q.field("TM").asDateTime().time(), QTime(8, 0));
}

TEST_F(QueryTest, NamesAndMisuseAreReported)
{
    db::Query& q = open("SELECT 1 AS ID, 'x' AS Nome");
    EXPECT_EQ(q.field("id").asInteger(), 1) << "field names without case";
    EXPECT_EQ(q.field("NOME").asString(), "x");
    EXPECT_TRUE(usageErrorOf([&] { q.field("NAO_HA"); }).contains("NAO_HA"));

    db::Query bad(conn_);
    bad.setText("SELECT * FROM t WHERE id = :ID");
    EXPECT_TRUE(usageErrorOf([&] { bad.bindInteger("OUTRO", 1); }).contains("OUTRO"));
    EXPECT_TRUE(usageErrorOf([&] { bad.open(); }).contains("ID")) << "unbound parameter";

    // A new text forgets the values bound for the old one, even the same text.
    bad.bindInteger("ID", 1);
    bad.setText("SELECT * FROM t WHERE id = :ID");
    EXPECT_TRUE(usageErrorOf([&] { bad.open(); }).contains("ID"));

    db::Query unbound;
    unbound.setText("SELECT 1");
    EXPECT_THROW(unbound.open(), db::UsageError);
}

TEST_F(QueryTest, RepeatedAndCaseInsensitiveNamesTakeOneValue)
{
    db_.exec("INSERT INTO t (id, d) SELECT g, DATE '2024-01-01' + g FROM generate_series(1, 10) g");
    q_.clear();
    q_.addLine("SELECT count(*) AS N FROM t");
    q_.addLine("WHERE (d >= :DT_INICIO AND d <= :DT_FIM)");
    q_.addLine("   OR (id >= :dt_inicio_id AND d BETWEEN :DT_INICIO AND :DT_FIM)");
    EXPECT_EQ(q_.text(), "SELECT count(*) AS N FROM t\nWHERE (d >= :DT_INICIO AND d <= :DT_FIM)\n"
                         "   OR (id >= :dt_inicio_id AND d BETWEEN :DT_INICIO AND :DT_FIM)");
    EXPECT_EQ(q_.parameterNames(), QStringList({"DT_INICIO", "DT_FIM", "DT_INICIO_ID"}));
    q_.bindDate("dt_inicio", QDate(2024, 1, 3));
    q_.bindDate("Dt_Fim", QDate(2024, 1, 5));
    q_.bindInteger("DT_INICIO_ID", 100);
    q_.prepare();
    q_.open();
    EXPECT_EQ(q_.field("N").asInteger(), 3);
}

TEST_F(QueryTest, NamesFromTheCodeAndFromTextsBindTheSameParameter)
{
    q_.setText("SELECT CAST(:Valor AS integer) + CAST(:OUTRO_valor AS integer) AS S");
    q_.bindInteger(QStringLiteral("valor"), 1);
    q_.bindInteger("outro_VALOR", 2);
    q_.bindInteger("VALOR", 40); // the last value bound wins, whichever way it was named
    q_.open();
    EXPECT_EQ(q_.field("S").asInteger(), 42);
    EXPECT_TRUE(usageErrorOf([&] { q_.bindInteger("VALOR_", 1); }).contains("VALOR_"));
    EXPECT_TRUE(usageErrorOf([&] { q_.bindInteger("VAL\xc3\x93R", 1); }).contains(QString::fromUtf8("VAL\xc3\x93R")));
}

TEST_F(QueryTest, CursorWalksTheRowsAndStaysOnTheLast)
{
    db_.exec("INSERT INTO t (id) VALUES (1), (2), (3)");
    db::Query& q = open("SELECT id FROM t ORDER BY id");
    EXPECT_EQ(q.recordCount(), 3);
    EXPECT_FALSE(q.isEmpty());
    QList<qint64> seen;
    for (int guard = 0; !q.eof() && guard < 10; ++guard) {
        seen << q.field("ID").asInteger();
        q.next();
    }
    EXPECT_EQ(seen, QList<qint64>({1, 2, 3}));
    EXPECT_EQ(q.field("ID").asInteger(), 3) << "past the end the last row stays current";
    q.first();
    EXPECT_FALSE(q.eof());
    EXPECT_EQ(q.field("ID").asInteger(), 1);

    // A statement that returns no rows gives an empty set, whose fields read as nulls.
    db::Query& none = open("SELECT id FROM t WHERE id < 0");
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(none.eof());
    EXPECT_TRUE(none.field("ID").isNull());
    db::Query& command = open("UPDATE t SET tx = 'x'");
    EXPECT_TRUE(command.isEmpty());
    EXPECT_TRUE(command.eof());

    q_.close();
    EXPECT_FALSE(q_.isOpen());
    EXPECT_TRUE(q_.eof());
}

TEST_F(QueryTest, RefreshRunsTheSameStatementAgain)
{
    db_.exec("INSERT INTO t (id, tx) VALUES (1, 'antes')");
    q_.setText("SELECT tx FROM t WHERE id = :ID");
    q_.bindInteger("ID", 1);
    q_.open();
    EXPECT_EQ(q_.field("TX").asString(), "antes");
    db_.exec("UPDATE t SET tx = 'depois'");
    EXPECT_EQ(q_.field("TX").asString(), "antes");
    q_.refresh();
    EXPECT_EQ(q_.field("TX").asString(), "depois");
}

TEST_F(QueryTest, ExecRaisesTheServersError)
{
    db_.exec("INSERT INTO t (id) VALUES (1)");
    q_.setText("INSERT INTO t (id) VALUES (:ID)");
    q_.bindInteger("ID", 1);
    try {
        q_.exec();
        ADD_FAILURE() << "duplicate accepted";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), "23505");
        EXPECT_TRUE(e.message().contains("t_pkey")) << e.what();
    }
}

TEST_F(QueryTest, BytesBoundToATextColumnArriveAsText)
{
    const QString xml = QString::fromUtf8("<nota>Ação €</nota>");
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    QByteArray cp1252 = xml.toLatin1();
    cp1252.replace('?', '\x80'); // toLatin1 writes "?" for the euro sign; 0x80 is its code
    const Case cases[] = {
        {"UTF-8 bytes go as they are", xml.toUtf8()},
        {"8-bit code page bytes are converted", cp1252},
    };
    int id = 0;
    for (const Case& c : cases) {
        q_.setText("INSERT INTO t (id, tx, by) VALUES (:ID, :XML, :XML_BYTES)");
        q_.bindInteger("ID", ++id);
        q_.bindBytes("XML", c.bytes);
        q_.bindBytes("XML_BYTES", c.bytes);
        q_.exec();
        db::Query& q = open(QString("SELECT tx, by FROM t WHERE id = %1").arg(id));
        EXPECT_EQ(q.field("TX").asString(), xml) << c.what;
        EXPECT_EQ(q.field("BY").asBytes(), c.bytes) << c.what << ": a bytea keeps the bytes";
    }
}

// Several statements answered in one exchange: each gets its own rows; a
// failing one is raised with the server's text and opens none of them.
TEST_F(QueryTest, QueriesOpenedTogether)
{
    db_.exec("INSERT INTO t (id, tx) VALUES (1, 'um'), (2, 'dois'), (3, 'tres')");
    db::Query a(conn_), b(conn_), c(conn_);
    a.setText("SELECT tx FROM t WHERE id = :ID");
    a.bindInteger("ID", 2);
    b.setText("SELECT count(*) AS n FROM t WHERE id > :ID");
    b.bindInteger("ID", 1);
    c.setText("SELECT tx FROM t WHERE id > :ID ORDER BY id");
    c.bindInteger("ID", 9);

    db::Query::openTogether({&a, &b, &c});
    EXPECT_EQ(a.field("TX").asString(), "dois");
    EXPECT_EQ(b.field("N").asInteger(), 2);
    EXPECT_TRUE(c.isOpen());
    EXPECT_TRUE(c.isEmpty());

    b.setText("SELECT 1 / (id - id) AS n FROM t WHERE id > :ID");
    b.bindInteger("ID", 1);
    try {
        db::Query::openTogether({&a, &b, &c});
        FAIL() << "division by zero expected";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), "22012");
    }
    EXPECT_FALSE(a.isOpen());
    EXPECT_FALSE(c.isOpen());

    // The connection is usable afterwards, in and out of a batch.
    db::Query::openTogether({&a});
    EXPECT_EQ(a.field("TX").asString(), "dois");
    db::Connection other(db_.params());
    db::Query elsewhere(other);
    elsewhere.setText("SELECT 1");
    EXPECT_NE(usageErrorOf([&] { db::Query::openTogether({&a, &elsewhere}); }), "<no error>");
}

// A read-only connection's sessions refuse every write, in a transaction
// of the caller's or alone.
TEST_F(QueryTest, ReadOnlyConnectionCannotWrite)
{
    db::Connection reader(db_.params());
    reader.setReadOnly(true);
    db::Query q(reader);
    q.setText("SELECT count(*) AS n FROM t");
    q.open();
    EXPECT_EQ(q.field("N").asInteger(), 0);
    for (bool inTransaction : {false, true}) {
        SCOPED_TRACE(inTransaction);
        if (inTransaction)
            reader.startTransaction();
        db::Query write(reader);
        write.setText("INSERT INTO t (id, tx) VALUES (9, 'nove')");
        try {
            write.exec();
            FAIL() << "a write went through";
        } catch (const db::DatabaseError& e) {
            EXPECT_EQ(e.sqlState(), "25006");
        }
        reader.rollback();
    }
    EXPECT_EQ(db_.scalar("SELECT count(*) FROM t"), "0");
}

} // namespace
