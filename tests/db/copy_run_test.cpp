#include "common/log_path.h"
#include "db/connection.h"
#include "db/copy/copy_log_book.h"
#include "db/copy/copy_run.h"
#include "support/copy_log_sections.h"
#include "db/errors.h"
#include "db/memtable.h"
#include "db/query.h"
#include "db/statement_counts.h"
#include "support/test_db.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::TestDatabase;

namespace {

// One database holding the source table "origem" and the destination
// "destino", read and written through two connections as the program does.
class CopyRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(QDir(folder.path()).mkdir("QuiborSync_Logs"));
        common::setProgramFolder(folder.path());
        readerConn = std::make_unique<db::Connection>(database.params());
        writerConn = std::make_unique<db::Connection>(database.params());
        readerConn->open();
        writerConn->open();
    }
    void TearDown() override { common::setProgramFolder({}); }

    // id, nome and valor, with `rows` rows numbered from 1.
    void makeTables(int rows, const QString& destinationExtra = {})
    {
        database.exec("CREATE TABLE origem (id integer, nome text, valor numeric(15,2))");
        database.exec("CREATE TABLE destino (id integer PRIMARY KEY, nome varchar(40) NOT NULL, valor numeric(15,2)"
                      + destinationExtra + ")");
        database.exec(QString("INSERT INTO origem SELECT g, 'item ' || g, g * 1.5 FROM generate_series(1, %1) g")
                          .arg(rows));
    }

    db::CopyConfig config(db::CopyMode mode = db::CopyMode::AlwaysInsert) const
    {
        db::CopyConfig c;
        c.readerConnection = readerConn.get();
        c.readerSql = "SELECT * FROM origem ORDER BY id";
        c.writerConnection = writerConn.get();
        c.writerSql = "SELECT * FROM destino";
        c.mode = mode;
        c.logFile = logPath();
        return c;
    }

    static QString logPath() { return common::programPath("QuiborSync_Logs\\Log_Teste.log"); }

    static QStringList logLines()
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    // Everything between the opening and the closing line: the one error
    // entry (the server's message may run over several lines).
    static QString errorEntry()
    {
        QStringList lines = logLines();
        if (lines.size() < 3)
            return {};
        return lines.mid(1, lines.size() - 2).join('\n');
    }

    // The log's frame: opening entry with date and time, closing line last.
    static void expectFramedLog(const QStringList& lines, const QString& closingSummary)
    {
        ASSERT_GE(lines.size(), 2);
        static const QRegularExpression stamp("\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}");
        EXPECT_TRUE(lines.first().startsWith("Cópia iniciada em ")) << lines.first().toStdString();
        EXPECT_TRUE(stamp.match(lines.first()).hasMatch()) << lines.first().toStdString();
        EXPECT_TRUE(lines.last().startsWith("Cópia encerrada em ")) << lines.last().toStdString();
        EXPECT_TRUE(lines.last().endsWith(closingSummary)) << lines.last().toStdString();
    }

    int count() const { return database.scalar("SELECT count(*) FROM destino").toInt(); }

    QTemporaryDir folder;
    TestDatabase database;
    std::unique_ptr<db::Connection> readerConn;
    std::unique_ptr<db::Connection> writerConn;
};

TEST_F(CopyRunTest, EmptyReaderStillWritesAFramedLogAndNothingElse)
{
    makeTables(0);
    QFile old(logPath());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("a previous run's entries\n");
    old.close();

    db::CopyRun run(config());
    EXPECT_EQ(run.run(), 0);

    EXPECT_EQ(count(), 0);
    const QStringList lines = logLines();
    EXPECT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    expectFramedLog(lines, "nenhum erro registrado");
}

// Groups are told apart by the transaction that wrote them (xmin).
TEST_F(CopyRunTest, AlwaysInsertCommitsEveryHundredRowsAndAtTheEnd)
{
    makeTables(250);
    db::CopyRun run(config());
    EXPECT_EQ(run.run(), 250);

    EXPECT_EQ(database.rows("SELECT min(id), max(id) FROM destino GROUP BY xmin::text ORDER BY 1"),
              QStringList({"1|100", "101|200", "201|250"}));
    EXPECT_EQ(database.rows("SELECT id, nome, valor FROM destino WHERE id IN (1, 250) ORDER BY id"),
              QStringList({"1|item 1|1.50", "250|item 250|375.00"}));
    expectFramedLog(logLines(), "nenhum erro registrado");
}

struct BadRowCase {
    const char* name;
    db::CopyMode mode;
    const char* spoilRow150;  // makes source row 150 unacceptable to "destino"
    const char* sqlState;
    const char* messagePart;
};

class CopyRunBadRowTest : public CopyRunTest, public ::testing::WithParamInterface<BadRowCase> {};

// A failure on row 150 of 250: rows 1 to 100 stay, the group 101..150 is
// rolled back, the run stops there and the row's own error is logged and
// raised.
TEST_P(CopyRunBadRowTest, StopsAtTheRowKeepingEarlierGroups)
{
    const BadRowCase& c = GetParam();
    database.exec("CREATE TABLE origem (id text, nome text, valor numeric(15,2))");
    database.exec("CREATE TABLE destino (id integer PRIMARY KEY, nome varchar(40) NOT NULL, valor numeric(15,2))");
    database.exec("INSERT INTO origem SELECT g, 'item ' || g, g FROM generate_series(1, 250) g");
    database.exec(QString("UPDATE origem SET %1 WHERE id = '150'").arg(c.spoilRow150));
    db::CopyConfig cfg = config(c.mode);
    cfg.readerSql = "SELECT * FROM origem ORDER BY valor";

    db::CopyRun run(cfg);
    try {
        run.run();
        FAIL() << "the run should fail";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), c.sqlState);
        EXPECT_TRUE(e.message().contains(c.messagePart)) << e.message().toStdString();
    }

    EXPECT_EQ(database.rows("SELECT min(id), max(id), count(*) FROM destino"), QStringList({"1|100|100"}));
    expectFramedLog(logLines(), "1 erro registrado");
    const QString entry = errorEntry();
    EXPECT_TRUE(entry.startsWith("Erro no registro 150: ")) << entry.toStdString();
    EXPECT_TRUE(entry.contains(c.messagePart)) << entry.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyRunBadRowTest,
    ::testing::Values(
        BadRowCase{"TextIntoInteger", db::CopyMode::AlwaysInsert, "id = 'abc'", "22P02", "invalid input syntax"},
        BadRowCase{"TooLongText", db::CopyMode::AlwaysInsert, "nome = repeat('x', 41)", "22001", "too long"},
        BadRowCase{"NullIntoNotNull", db::CopyMode::AlwaysInsert, "nome = NULL", "23502", "not-null"},
        BadRowCase{"TextIntoIntegerAppend", db::CopyMode::Append, "id = 'abc'", "22P02", "invalid input syntax"},
        BadRowCase{"TooLongTextAppend", db::CopyMode::Append, "nome = repeat('x', 41)", "22001", "too long"},
        BadRowCase{"NullIntoNotNullAppend", db::CopyMode::Append, "nome = NULL", "23502", "not-null"},
        BadRowCase{"TextIntoIntegerAppendUpdate", db::CopyMode::AppendUpdate, "id = 'abc'", "22P02",
                   "invalid input syntax"},
        BadRowCase{"TooLongTextAppendUpdate", db::CopyMode::AppendUpdate, "nome = repeat('x', 41)", "22001",
                   "too long"},
        BadRowCase{"NullIntoNotNullAppendUpdate", db::CopyMode::AppendUpdate, "nome = NULL", "23502",
                   "not-null"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ModeCase {
    const char* name;
    db::CopyMode mode;
    int written;
    QStringList destination;
};

class CopyRunModeTest : public CopyRunTest, public ::testing::WithParamInterface<ModeCase> {};

// Without a hook the destination's primary key finds the row: append skips
// it, append-update updates it. The key here is composite and the source is
// an in-memory table whose names differ in case.
TEST_P(CopyRunModeTest, FindsDestinationRowsByPrimaryKey)
{
    const ModeCase& c = GetParam();
    database.exec("CREATE TABLE destino (loja integer, codigo varchar(10), nome varchar(40), valor numeric(15,2),"
                  " PRIMARY KEY (codigo, loja))");
    database.exec("INSERT INTO destino VALUES (1, 'A', 'antigo A', 1), (1, 'B', 'antigo B', 2), (2, 'A', 'outra loja', 3)");

    db::MemTable source;
    source.addField("LOJA", db::MemTable::Type::Integer);
    source.addField("CODIGO", db::MemTable::Type::Text, 10);
    source.addField("NOME", db::MemTable::Type::Text, 40);
    source.addField("VALOR", db::MemTable::Type::Float);
    source.create();
    const struct { int loja; const char* codigo; const char* nome; double valor; } rows[] = {
        {1, "A", "novo A", 10.25}, {1, "C", "novo C", 30.5}, {1, "B", "novo B", 20}};
    for (const auto& r : rows) {
        source.append();
        source.setInteger("LOJA", r.loja);
        source.setText("CODIGO", r.codigo);
        source.setText("NOME", r.nome);
        source.setFloat("VALOR", r.valor);
        source.post();
    }

    db::CopyConfig cfg = config(c.mode);
    cfg.reader = &source;
    cfg.readerConnection = nullptr;
    db::CopyRun run(cfg);
    EXPECT_EQ(run.run(), c.written);
    EXPECT_EQ(database.rows("SELECT loja, codigo, nome, valor FROM destino ORDER BY loja, codigo"), c.destination);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyRunModeTest,
    ::testing::Values(
        ModeCase{"Append", db::CopyMode::Append, 1,
                 {"1|A|antigo A|1.00", "1|B|antigo B|2.00", "1|C|novo C|30.50", "2|A|outra loja|3.00"}},
        ModeCase{"AppendUpdate", db::CopyMode::AppendUpdate, 3,
                 {"1|A|novo A|10.25", "1|B|novo B|20.00", "1|C|novo C|30.50", "2|A|outra loja|3.00"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Append-update by key writes a commit group at a time; a key that comes
// twice in one group is still updated in reader order, the last row winning.
TEST_F(CopyRunTest, AppendUpdateCommitsEveryHundredRowsInReaderOrder)
{
    database.exec("CREATE TABLE origem (ord numeric, id integer, nome text)");
    database.exec("CREATE TABLE destino (id integer PRIMARY KEY, nome varchar(40) NOT NULL, valor numeric(15,2))");
    database.exec("INSERT INTO origem SELECT g, g, 'item ' || g FROM generate_series(1, 250) g");
    database.exec("INSERT INTO origem VALUES (150.5, 120, 'item 120 again')");
    database.exec("INSERT INTO destino SELECT g, 'old ' || g, g FROM generate_series(1, 50) g");
    db::CopyConfig cfg = config(db::CopyMode::AppendUpdate);
    cfg.readerSql = "SELECT id, nome FROM origem ORDER BY ord";

    db::CopyRun run(cfg);
    EXPECT_EQ(run.run(), 251);

    EXPECT_EQ(database.rows("SELECT min(id), max(id), count(*) FROM destino GROUP BY xmin::text ORDER BY 1"),
              QStringList({"1|100|100", "101|199|99", "200|250|51"}));
    // Columns the source lacks keep their value on update, their default on insert.
    EXPECT_EQ(database.rows("SELECT id, nome, valor FROM destino WHERE id IN (10, 120, 250) ORDER BY id"),
              QStringList({"10|item 10|10.00", "120|item 120 again|<null>", "250|item 250|<null>"}));
    expectFramedLog(logLines(), "nenhum erro registrado");
}

TEST_F(CopyRunTest, AlwaysInsertOfAnExistingKeyFailsWithTheServersError)
{
    makeTables(3);
    database.exec("INSERT INTO destino VALUES (2, 'já existe', 0)");
    db::CopyRun run(config());
    try {
        run.run();
        FAIL() << "the run should fail";
    } catch (const db::DatabaseError& e) {
        EXPECT_EQ(e.sqlState(), "23505");
    }
    EXPECT_EQ(database.rows("SELECT id, nome FROM destino"), QStringList({"2|já existe"}));
    EXPECT_TRUE(errorEntry().startsWith("Erro no registro 2: ")) << errorEntry().toStdString();
}

// Columns the source lacks keep the destination's defaults; columns the
// writer's SELECT leaves out are not written; source columns the
// destination lacks are ignored. A reader the caller opened is read from
// its first row.
TEST_F(CopyRunTest, WritesOnlyColumnsBothSidesName)
{
    makeTables(2, ", situacao integer DEFAULT 7, obs text DEFAULT 'padrão'");
    database.exec("ALTER TABLE origem ADD COLUMN sobra text DEFAULT 'não existe no destino'");
    db::Query reader(*readerConn); // opened by the caller this time
    reader.setText("SELECT * FROM origem ORDER BY id");
    reader.prepare();
    reader.open();
    reader.next();
    db::CopyConfig cfg = config();
    cfg.reader = &reader;
    cfg.readerConnection = nullptr;
    cfg.writerSql = "SELECT ID, Nome, situacao FROM destino";
    db::CopyRun run(cfg);
    EXPECT_EQ(run.run(), 2);
    EXPECT_EQ(database.rows("SELECT id, nome, valor, situacao, obs FROM destino ORDER BY id"),
              QStringList({"1|item 1|<null>|7|padrão", "2|item 2|<null>|7|padrão"}));
}

// A server connection's link dropped while idle comes back for the run, as
// it would for any statement.
TEST_F(CopyRunTest, WriterLinkLostWhileIdleReconnects)
{
    makeTables(3);
    writerConn->setAutoReconnect(true);
    db::Query pid(*writerConn);
    pid.setText("SELECT pg_backend_pid() AS pid");
    pid.prepare();
    pid.open();
    // Waits until the backend is gone.
    database.exec("SELECT pg_terminate_backend(" + pid.field("pid").asString() + ", 10000)");

    db::CopyRun run(config());
    EXPECT_EQ(run.run(), 3);
    EXPECT_EQ(count(), 3);
}

struct ReconnectCase {
    const char* name;
    bool callerTransaction;
    int rowsAtTheEnd;
};

class CopyRunReconnectTest : public CopyRunTest, public ::testing::WithParamInterface<ReconnectCase> {};

// A hook's statement (or the listener's recovery during a pump turn) may
// replace the writer's link between rows. With its own groups the run has
// nothing open on the old link then and carries on over the new one; a
// caller's transaction went with the old link, so the run fails and the
// caller's commit cannot report success.
TEST_P(CopyRunReconnectTest, WriterReconnectedInsideAHook)
{
    const ReconnectCase& c = GetParam();
    makeTables(5);
    db::Query pid(*writerConn);
    pid.setText("SELECT pg_backend_pid() AS pid");
    pid.open();
    const qint64 before = pid.field("pid").asInteger();

    db::CopyConfig cfg = config(db::CopyMode::Append);
    cfg.callerTransaction = c.callerTransaction;
    cfg.findDestRecord = [&](db::CopyRun& sender, bool& found) {
        if (sender.sourceField("id").asInteger() == 3)
            writerConn->reconnect();
        found = false;
    };
    if (c.callerTransaction)
        writerConn->startTransaction();
    db::CopyRun run(cfg);
    if (c.callerTransaction) {
        EXPECT_THROW(run.run(), db::BrokenConnection);
        EXPECT_THROW(writerConn->commit(), db::BrokenConnection);
    } else {
        EXPECT_EQ(run.run(), 5);
    }

    EXPECT_EQ(count(), c.rowsAtTheEnd);
    pid.open();
    EXPECT_NE(pid.field("pid").asInteger(), before);
    EXPECT_FALSE(writerConn->inTransaction());
}

INSTANTIATE_TEST_SUITE_P(Cases, CopyRunReconnectTest,
                         ::testing::Values(ReconnectCase{"OwnGroupsGoOnOverTheNewLink", false, 5},
                                           ReconnectCase{"CallersTransactionFails", true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ValueCase {
    const char* name;
    db::CopyMode mode;
};

class CopyRunValueTest : public CopyRunTest, public ::testing::WithParamInterface<ValueCase> {};

// Every value reaches the destination unchanged whichever way the rows are
// sent: awkward characters, nulls, dates and times, and decimals feeding an
// integer column (rounded as the server would cast them).
TEST_P(CopyRunValueTest, ValuesArriveAsTheDestinationTakesThem)
{
    database.exec("CREATE TABLE origem (id integer, texto text, quantidade numeric(15,3), taxa float8,"
                  " ativo boolean, momento timestamp, hora time, dados bytea)");
    database.exec("CREATE TABLE destino (id integer PRIMARY KEY, texto varchar(60), quantidade integer,"
                  " taxa numeric(15,4), ativo boolean, momento date, hora time, dados bytea)");
    database.exec("INSERT INTO origem VALUES"
                  " (1, E'tab\\there\\nnova linha \\\\ barra ação', 12.000, 0.1, true,"
                  "  '2024-02-29 23:59:58', '08:30:15', '\\x00ff10'),"
                  " (2, '', 2.5, 1e-3, false, '1999-12-31 00:00:00', '00:00:00', ''),"
                  " (3, NULL, -2.5, NULL, NULL, NULL, NULL, NULL),"
                  " (4, E'\\\\N', 0.499, 12345.6789, true, '2000-01-01 12:00', '23:59:59.5', '\\x5c')");
    db::CopyRun run(config(GetParam().mode));
    EXPECT_EQ(run.run(), 4);
    EXPECT_EQ(database.rows("SELECT id, texto, quantidade, taxa, ativo, momento, hora, encode(dados, 'hex')"
                            " FROM destino ORDER BY id"),
              QStringList({"1|tab\there\nnova linha \\ barra ação|12|0.1000|t|2024-02-29|08:30:15|00ff10",
                           "2||3|0.0010|f|1999-12-31|00:00:00|",
                           "3|<null>|-3|<null>|<null>|<null>|<null>|<null>",
                           "4|\\N|0|12345.6789|t|2000-01-01|23:59:59.5|5c"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, CopyRunValueTest,
                         ::testing::Values(ValueCase{"AlwaysInsert", db::CopyMode::AlwaysInsert},
                                           ValueCase{"Append", db::CopyMode::Append}),
                         [](const auto& info) { return std::string(info.param.name); });

// A run over several terminals: its first copy into a log file empties it,
// each later one adds its section, errors included; a new book (the next
// run) starts the file anew.
TEST_F(CopyRunTest, ALogBookKeepsASectionForEveryCopyOfItsRun)
{
    makeTables(3);
    QFile old(logPath());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("a previous run's entries\n");
    old.close();

    db::CopyLogBook book;
    for (const char* terminal : {"Ecf 001", "Ecf 002", "Ecf 003"}) {
        SCOPED_TRACE(terminal);
        db::CopyConfig cfg = config();
        book.use(cfg, logPath(), terminal);
        if (QString(terminal) == "Ecf 001") {
            EXPECT_EQ(db::CopyRun(cfg).run(), 3);
            continue;
        }
        // The second and third find id 1..3 taken.
        try {
            db::CopyRun(cfg).run();
            ADD_FAILURE() << "the copy took rows whose ids were taken";
        } catch (const db::DatabaseError& e) {
            EXPECT_EQ(e.sqlState(), "23505") << e.message().toStdString();
        }
    }

    std::vector<testsupport::LogSection> sections = testsupport::logSections("Log_Teste.log");
    ASSERT_EQ(testsupport::logSectionTitles(sections), (QStringList{"Ecf 001", "Ecf 002", "Ecf 003"}));
    EXPECT_TRUE(sections[0].entries.endsWith("nenhum erro registrado")) << sections[0].entries.toStdString();
    for (std::size_t i = 1; i < sections.size(); ++i) {
        EXPECT_TRUE(sections[i].entries.startsWith("Cópia iniciada em ")) << sections[i].entries.toStdString();
        EXPECT_TRUE(sections[i].entries.contains("Erro no registro 1: ")) << sections[i].entries.toStdString();
        EXPECT_TRUE(sections[i].entries.endsWith("1 erro registrado")) << sections[i].entries.toStdString();
    }

    db::CopyLogBook next;
    db::CopyConfig cfg = config();
    next.use(cfg, logPath(), "Ecf 004");
    EXPECT_THROW(db::CopyRun(cfg).run(), db::DatabaseError);
    sections = testsupport::logSections("Log_Teste.log");
    EXPECT_EQ(testsupport::logSectionTitles(sections), QStringList{"Ecf 004"});
}

TEST_F(CopyRunTest, MissingLogFolderFailsBeforeAnyRowIsRead)
{
    makeTables(3);
    database.exec("CREATE SEQUENCE lidas");
    db::CopyConfig cfg = config();
    cfg.readerSql = "SELECT nextval('lidas') AS lida, * FROM origem";
    cfg.logFile = common::programPath("Sem_Pasta\\Log_Teste.log");
    db::CopyRun run(cfg);
    try {
        run.run();
        FAIL() << "the run should fail";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().contains(cfg.logFile)) << e.message().toStdString();
    }
    EXPECT_EQ(database.scalar("SELECT is_called FROM lidas"), "f");
    EXPECT_EQ(count(), 0);
}

// The hook sees the current source row through the run, once per row in
// reader order; in append mode "found" skips the row, otherwise the engine
// inserts it.
TEST_F(CopyRunTest, HookReadsTheCurrentRowAndDecides)
{
    database.exec("CREATE TABLE origem (id integer, nome text, valor float8, data timestamp)");
    database.exec("CREATE TABLE destino (id integer PRIMARY KEY, nome varchar(40))");
    database.exec("INSERT INTO origem SELECT g, 'nome ' || g, g + 0.25, timestamp '2024-03-01 10:00' + g * interval '1 day'"
                  " FROM generate_series(1, 5) g");
    QStringList seen;
    db::CopyConfig cfg = config(db::CopyMode::Append);
    cfg.findDestRecord = [&](db::CopyRun& sender, bool& found) {
        EXPECT_FALSE(found);
        const qint64 id = sender.sourceField("ID").asInteger();
        seen << QString("%1|%2|%3|%4")
                    .arg(id)
                    .arg(sender.sourceField("nome").asString())
                    .arg(sender.sourceField("valor").asFloat())
                    .arg(sender.sourceField("data").asDateTime().toString("yyyy-MM-dd hh:mm"));
        found = id % 2 == 0;
    };
    db::CopyRun run(cfg);
    EXPECT_EQ(run.run(), 3);
    EXPECT_EQ(seen, QStringList({"1|nome 1|1.25|2024-03-02 10:00", "2|nome 2|2.25|2024-03-03 10:00",
                                 "3|nome 3|3.25|2024-03-04 10:00", "4|nome 4|4.25|2024-03-05 10:00",
                                 "5|nome 5|5.25|2024-03-06 10:00"}));
    EXPECT_EQ(database.rows("SELECT id FROM destino ORDER BY id"), QStringList({"1", "3", "5"}));

    // Always insert never asks.
    database.exec("DELETE FROM destino");
    seen.clear();
    db::CopyConfig insertAll = cfg;
    insertAll.mode = db::CopyMode::AlwaysInsert;
    db::CopyRun second(insertAll);
    EXPECT_EQ(second.run(), 5);
    EXPECT_TRUE(seen.isEmpty());
}

// The program's hooks write every row themselves and report it found: the
// engine writes nothing, sends no transaction of its own, and what a hook
// executed stays when a later row fails.
TEST_F(CopyRunTest, HookThatWritesEverythingItselfLeavesTheEngineIdle)
{
    makeTables(5);
    db::Query pidQuery(*writerConn);
    pidQuery.setText("SELECT pg_backend_pid() AS pid");
    pidQuery.prepare();
    pidQuery.open();
    const QString writerPid = pidQuery.field("pid").asString();
    const QString lastStatement = "SELECT query FROM pg_stat_activity WHERE pid = " + writerPid;

    db::Query own(*writerConn);
    QStringList engineStatements;
    db::CopyConfig cfg = config(db::CopyMode::Append);
    cfg.findDestRecord = [&](db::CopyRun& sender, bool& found) {
        engineStatements << database.scalar(lastStatement);
        own.setText("INSERT INTO destino (id, nome) VALUES (:ID, :NOME)");
        own.bindInteger("ID", sender.sourceField("id").asInteger() == 4 ? 1 : sender.sourceField("id").asInteger());
        own.bindText("NOME", "pelo gancho");
        own.prepare();
        own.exec();
        found = true;
    };
    db::CopyRun run(cfg);
    EXPECT_THROW(run.run(), db::DatabaseError); // row 4 repeats key 1

    EXPECT_EQ(database.rows("SELECT id, nome FROM destino ORDER BY id"),
              QStringList({"1|pelo gancho", "2|pelo gancho", "3|pelo gancho"}));
    for (const QString& statement : engineStatements) {
        EXPECT_FALSE(statement.contains("BEGIN", Qt::CaseInsensitive)) << statement.toStdString();
        EXPECT_FALSE(statement.contains("COMMIT", Qt::CaseInsensitive)) << statement.toStdString();
    }
    expectFramedLog(logLines(), "1 erro registrado");
    EXPECT_TRUE(errorEntry().startsWith("Erro no registro 4: ")) << errorEntry().toStdString();
}

// A hook that meets an error of its own and carries on (as the program's
// hooks do) must not spoil rows the engine is still holding in a group.
TEST_F(CopyRunTest, HookErrorsItCatchesDoNotSpoilTheEnginesRows)
{
    makeTables(4);
    db::Query own(*writerConn);
    db::CopyConfig cfg = config(db::CopyMode::Append);
    cfg.findDestRecord = [&](db::CopyRun&, bool& found) {
        own.setText("SELECT 1 / 0 AS falha");
        own.prepare();
        EXPECT_THROW(own.open(), db::DatabaseError);
        found = false;
    };
    db::CopyRun run(cfg);
    EXPECT_EQ(run.run(), 4);
    EXPECT_EQ(count(), 4);
}

struct CallerTransactionCase {
    const char* name;
    db::CopyMode mode;
    int spoiledRow;  // 0: none
};

class CopyRunCallerTransactionTest : public CopyRunTest,
                                     public ::testing::WithParamInterface<CallerTransactionCase> {};

// With the caller's transaction around the whole copy nothing is committed
// by the run itself: the caller's commit or rollback decides for all rows,
// over more than one group (of 10,000 rows). A failed group is undone on its own, so the
// caller's transaction stays usable. Append leaves out the keys already
// there.
TEST_P(CopyRunCallerTransactionTest, AllOrNothing)
{
    const CallerTransactionCase& c = GetParam();
    const bool append = c.mode == db::CopyMode::Append;
    makeTables(12500);
    if (append)
        database.exec("INSERT INTO destino VALUES (5, 'antigo', 0), (12000, 'antigo', 0)");
    const int existing = append ? 2 : 0;
    if (c.spoiledRow > 0)
        database.exec(QString("UPDATE origem SET nome = NULL WHERE id = %1").arg(c.spoiledRow));
    db::CopyConfig cfg = config(c.mode);
    cfg.callerTransaction = true;
    writerConn->startTransaction();
    db::CopyRun run(cfg);
    if (c.spoiledRow > 0) {
        EXPECT_THROW(run.run(), db::DatabaseError);
        EXPECT_TRUE(errorEntry().startsWith(QString("Erro no registro %1: ").arg(c.spoiledRow)))
            << errorEntry().toStdString();
        EXPECT_NO_THROW(writerConn->executeDirect("SELECT 1"));
        writerConn->rollback();
        EXPECT_EQ(count(), existing);
    } else {
        EXPECT_EQ(run.run(), 12500 - existing);
        EXPECT_EQ(count(), existing); // not yet visible to anyone else
        writerConn->commit();
        EXPECT_EQ(count(), 12500);
        EXPECT_EQ(database.scalar("SELECT count(*) FROM destino WHERE nome = 'antigo'"), QString::number(existing));
    }
}

// Equal keys in the source: the first one lands, as a lookup row by row
// would have it, and the run's temporary table is gone afterwards.
TEST_F(CopyRunTest, AppendUnderCallerTransactionKeepsTheFirstOfEqualKeys)
{
    makeTables(3);
    database.exec("INSERT INTO origem VALUES (2, 'segundo 2', 0), (4, 'item 4', 4), (4, 'segundo 4', 0)");
    db::CopyConfig cfg = config(db::CopyMode::Append);
    cfg.readerSql = "SELECT * FROM origem ORDER BY id, valor DESC";
    cfg.callerTransaction = true;
    writerConn->startTransaction();
    EXPECT_EQ(db::CopyRun(cfg).run(), 4);
    writerConn->commit();
    EXPECT_EQ(database.rows("SELECT id, nome FROM destino ORDER BY id"),
              (QStringList{"1|item 1", "2|item 2", "3|item 3", "4|item 4"}));
    EXPECT_EQ(database.scalar("SELECT count(*) FROM pg_class WHERE relname LIKE 'qs_copy_stage%'"), "0");
}

// Append by key sends a commit group as one text, not a lookup and an
// insert per row; in its own transactions or the caller's alike. Groups go
// straight in by COPY until one meets a key already there (the seventh
// here); that one and the rest go through a temporary table that leaves
// the rows found out.
TEST_F(CopyRunTest, AppendByKeyWritesAGroupAtATime)
{
    makeTables(1000);
    database.exec("INSERT INTO destino VALUES (650, 'antigo', 0), (700, 'antigo', 0)");
    for (const bool caller : {false, true}) {
        SCOPED_TRACE(caller ? "caller's transaction" : "own transactions");
        database.exec("DELETE FROM destino WHERE nome <> 'antigo'");
        db::CopyConfig cfg = config(db::CopyMode::Append);
        cfg.callerTransaction = caller;
        if (caller)
            writerConn->startTransaction();
        const db::StatementCounts before = db::statementCounts();
        EXPECT_EQ(db::CopyRun(cfg).run(), 998);
        const db::StatementCounts sent = db::statementCounts() - before;
        if (caller)
            writerConn->commit();
        EXPECT_LT(sent.statements, 100u);
        EXPECT_EQ(count(), 1000);
        EXPECT_EQ(database.rows("SELECT id, nome FROM destino WHERE id IN (5, 650, 651, 700, 1000) ORDER BY id"),
                  (QStringList{"5|item 5", "650|antigo", "651|item 651", "700|antigo", "1000|item 1000"}));
        // Groups of the run's own transactions each commit.
        if (!caller) {
            EXPECT_EQ(database.scalar("SELECT count(DISTINCT xmin::text) FROM destino WHERE nome <> 'antigo'"), "10");
        }
        EXPECT_EQ(database.scalar("SELECT count(*) FROM pg_class WHERE relname LIKE 'qs_copy_stage%'"), "0");
    }

    // Into an emptied table every group goes straight in (BEGIN, COPY,
    // COMMIT), and no temporary table is made (four statements more).
    database.exec("DELETE FROM destino");
    const db::StatementCounts before = db::statementCounts();
    EXPECT_EQ(db::CopyRun(config(db::CopyMode::Append)).run(), 1000);
    EXPECT_LE((db::statementCounts() - before).statements, 10u * 3u + 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyRunCallerTransactionTest,
    ::testing::Values(CallerTransactionCase{"Success", db::CopyMode::AlwaysInsert, 0},
                      CallerTransactionCase{"FailureInTheSecondGroup", db::CopyMode::AlwaysInsert, 11000},
                      CallerTransactionCase{"AppendSuccess", db::CopyMode::Append, 0},
                      CallerTransactionCase{"AppendFailureInTheSecondGroup", db::CopyMode::Append, 11000}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
