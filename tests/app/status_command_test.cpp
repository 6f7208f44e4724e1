// `quiborsync --status`: what it reports about a store whose server and
// terminals the test made, its exit codes, and that it changes nothing and
// minds no running copy.

#include "support/program_fixture.h"

#include "app/command_line.h"
#include "app/startup.h"
#include "app/status_command.h"
#include "app/status_report.h"
#include "platform/instance_marker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>

#include <unistd.h>

namespace {

using namespace progtest;

struct StatusRun {
    int exit = -1;
    QString out;
    QString err;
    QJsonObject json;
};

StatusRun runStatus(bool json)
{
    StatusRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.exit = app::runStatusCommand(json, out, err);
    if (json)
        run.json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    return run;
}

QJsonObject terminal(const StatusRun& run, const QString& num)
{
    for (const QJsonValue t : run.json["terminals"].toArray())
        if (t["num_ecf"].toString() == num)
            return t.toObject();
    ADD_FAILURE() << "no terminal " << num.toStdString();
    return {};
}

// Every row of every table with the transaction that last wrote it, and
// every sequence: a statement that wrote anything, even the same values,
// changes it.
QStringList snapshot(const TestDatabase& db)
{
    return db.rows("SELECT tablename, md5(query_to_xml(format('SELECT t.xmin::text AS x, t::text AS r FROM %I t ORDER BY 2, 1', "
                   "tablename), false, false, '')::text) FROM pg_tables WHERE schemaname = 'public' ORDER BY 1")
           + db.rows("SELECT sequencename, last_value FROM pg_sequences ORDER BY 1");
}

// A store: the server of the INI file and terminal databases of its own.
class StatusCommand : public ::testing::Test {
protected:
    StatusCommand()
    {
        store.useIni(folder);
        store.db.exec("UPDATE CONFIG SET TIMEOUT_ECFS = 1000");
    }

    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    Store store;
};

TEST_F(StatusCommand, CountsWhatWaitsOnEachTerminalThenReportsTheStoreInStep)
{
    TestDatabase waiting(Template::Terminal);
    TestDatabase clean(Template::Terminal);
    store.add({.num = "001", .importacao = 1, .banco = waiting.name()});
    store.add({.num = "002", .banco = clean.name()});
    store.add({.num = "003", .reachable = false});
    store.db.exec("UPDATE LICENCA_IF SET DT_SYNC_CLI = '2026-12-10', HR_SYNC_CLI = '20:24:21', ULTIMA_TRANS = 77 "
                  "WHERE NUM_ECF = '001'");

    // Two sales not yet sent (one taken by a run that stopped), one sent,
    // one cancellation to carry out; items and fiscal rows waiting too.
    waiting.exec("INSERT INTO TRANSACOES (TRANSACAO_ID, DT_TRANS, EXPORTADO) VALUES "
                 "(1, '2026-12-09', 0), (2, '2026-12-08', 1), (3, '2026-12-01', 2), (4, '2026-11-30', 3)");
    waiting.exec("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, EXPORTADO) VALUES (1, 1, 0), (1, 2, 0), (2, 1, 2)");
    waiting.exec("INSERT INTO REDUCOES_Z (NUM_SERIE, EXPORTADO) VALUES ('SN1', 0)");
    clean.exec("INSERT INTO TRANSACOES (TRANSACAO_ID, DT_TRANS, EXPORTADO) VALUES (1, '2026-12-09', 2)");
    clean.exec("INSERT INTO TRANSACOES (TRANSACAO_ID, DT_TRANS, EXPORTADO) VALUES (2, '2026-12-09', 4)");

    const QStringList before = snapshot(store.db) + snapshot(waiting) + snapshot(clean);
    const StatusRun run = runStatus(true);
    EXPECT_EQ(snapshot(store.db) + snapshot(waiting) + snapshot(clean), before) << "the report wrote something";

    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(run.json["in_step"].toBool());
    EXPECT_EQ(run.json["waiting_total"].toInt(), 5);
    EXPECT_EQ(run.json["probe_timeout_ms"].toInt(), 1000);
    const QJsonObject server = run.json["server"].toObject();
    EXPECT_TRUE(server["reachable"].toBool());
    EXPECT_EQ(server["host"].toString(), testsupport::testHost());
    EXPECT_EQ(server["port"].toInt(), testsupport::testPort());
    EXPECT_EQ(server["database"].toString(), store.db.name());
    ASSERT_EQ(run.json["terminals"].toArray().size(), 3);

    const QJsonObject t1 = terminal(run, "001");
    EXPECT_TRUE(t1["reachable"].toBool());
    EXPECT_TRUE(t1["error"].isNull());
    const QJsonObject w = t1["waiting"].toObject();
    EXPECT_EQ(w.size(), 13) << "an entry per imported table";
    EXPECT_EQ(w["TRANSACOES"].toInt(), 2);
    EXPECT_EQ(w["TRANSITENS"].toInt(), 2);
    EXPECT_EQ(w["REDUCOES_Z"].toInt(), 1);
    EXPECT_EQ(w["CHEQUES_RECEBIDOS"].toInt(-1), 0);
    EXPECT_EQ(t1["waiting_total"].toInt(), 5);
    EXPECT_EQ(t1["cancellations_pending"].toInt(), 1);
    EXPECT_EQ(t1["oldest_waiting_sale"].toString(), "2026-12-08");
    EXPECT_EQ(t1["importacao"].toInt(), 1);
    EXPECT_EQ(t1["ecf_status"].toInt(-1), 0);
    EXPECT_EQ(t1["ultima_trans"].toInt(), 77);
    EXPECT_EQ(t1["last_customer_export"].toString(), "2026-12-10T20:24:21");
    EXPECT_EQ(t1["missing_tables"].toArray().size(), 0);

    const QJsonObject t2 = terminal(run, "002");
    EXPECT_TRUE(t2["reachable"].toBool());
    EXPECT_EQ(t2["waiting_total"].toInt(-1), 0);
    EXPECT_EQ(t2["cancellations_pending"].toInt(-1), 0);
    EXPECT_TRUE(t2["oldest_waiting_sale"].isNull());
    EXPECT_TRUE(t2["last_customer_export"].isNull());

    const QJsonObject t3 = terminal(run, "003");
    EXPECT_FALSE(t3["reachable"].toBool());
    EXPECT_EQ(t3["error"].toString(), "refused");
    EXPECT_TRUE(t3["waiting"].toObject()["TRANSACOES"].isNull());

    // The person's table says the same.
    const StatusRun text = runStatus(false);
    EXPECT_EQ(text.exit, 1);
    const QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << text.out.toStdString();
    EXPECT_TRUE(lines[1].startsWith("ECF  STATE  WAITING  OLDEST SALE")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("001  ON           5  2026-12-08   2026-12-10 20:24:21")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains("1 cancellation pending")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("002  ON           0  -")) << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith("003  OFF          -  -")) << lines[4].toStdString();
    EXPECT_TRUE(lines[4].endsWith("refused")) << lines[4].toStdString();
    EXPECT_EQ(lines[5], "Not in step: 1 of 3 terminals not reached or not read, 5 rows waiting, "
                        "1 cancellation pending.");

    // Everything imported, the cancellation carried out, the silent till
    // taken out of service: in step.
    for (const char* table : {"TRANSACOES", "TRANSITENS", "REDUCOES_Z"})
        waiting.exec(QString("UPDATE %1 SET EXPORTADO = CASE WHEN EXPORTADO = 3 THEN 4 ELSE 2 END").arg(table));
    store.db.exec("UPDATE LICENCA_IF SET STATUS = 'D' WHERE NUM_ECF = '003'");
    const StatusRun done = runStatus(true);
    EXPECT_EQ(done.exit, 0) << done.out.toStdString();
    EXPECT_TRUE(done.json["in_step"].toBool());
    EXPECT_EQ(done.json["terminals"].toArray().size(), 2);
    const StatusRun doneText = runStatus(false);
    EXPECT_EQ(doneText.exit, 0);
    EXPECT_TRUE(doneText.out.endsWith("In step: 2 terminals reached, nothing waiting.\n")) << doneText.out.toStdString();
}

TEST_F(StatusCommand, ATerminalLackingATableOrARightStillGetsItsOtherCounts)
{
    const QString role = QString("qs_status_%1").arg(getpid());
    testsupport::execAdmin("DROP ROLE IF EXISTS " + role);
    testsupport::execAdmin("CREATE ROLE " + role + " LOGIN PASSWORD 'leitor'");
    TestDatabase lacking(Template::Terminal);
    TestDatabase restricted(Template::Terminal);
    store.add({.num = "001", .banco = lacking.name()});
    store.add({.num = "002", .banco = restricted.name()});
    store.db.exec("UPDATE LICENCA_IF SET USUARIO = '" + role + "', SENHA = 'leitor' WHERE NUM_ECF = '002'");

    lacking.exec("DROP TABLE REDUCOES_Z");
    lacking.exec("ALTER TABLE REGISTRO_60A DROP COLUMN EXPORTADO");
    lacking.exec("INSERT INTO TRANSACOES (TRANSACAO_ID, EXPORTADO) VALUES (1, 0)");
    restricted.exec("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + role);
    restricted.exec("REVOKE SELECT ON TRANSITENS FROM " + role);
    restricted.exec("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, EXPORTADO) VALUES (1, '1', 0)");

    const StatusRun run = runStatus(true);
    EXPECT_EQ(run.exit, 1);
    const QJsonObject t1 = terminal(run, "001");
    EXPECT_TRUE(t1["reachable"].toBool());
    EXPECT_TRUE(t1["error"].isNull()) << t1["error"].toString().toStdString();
    EXPECT_EQ(t1["waiting"].toObject()["TRANSACOES"].toInt(), 1);
    EXPECT_TRUE(t1["waiting"].toObject()["REDUCOES_Z"].isNull());
    EXPECT_EQ(t1["waiting"].toObject()["REGISTRO_60D"].toInt(-1), 0);
    EXPECT_EQ(t1["missing_tables"].toArray(), QJsonArray({"REGISTRO_60A", "REDUCOES_Z"}));

    const QJsonObject t2 = terminal(run, "002");
    EXPECT_TRUE(t2["reachable"].toBool());
    EXPECT_TRUE(t2["error"].toString().startsWith("TRANSITENS: ")) << t2["error"].toString().toStdString();
    EXPECT_TRUE(t2["waiting"].toObject()["TRANSITENS"].isNull());
    EXPECT_EQ(t2["waiting"].toObject()["TRANSPARCELAS"].toInt(), 1);
    EXPECT_EQ(t2["waiting"].toObject()["TRANSACOES"].toInt(-1), 0);

    // Missing tables alone keep a store in step; an unreadable one does not.
    lacking.exec("UPDATE TRANSACOES SET EXPORTADO = 2");
    restricted.exec("GRANT SELECT ON TRANSITENS TO " + role);
    restricted.exec("UPDATE TRANSPARCELAS SET EXPORTADO = 2");
    const StatusRun done = runStatus(false);
    EXPECT_EQ(done.exit, 0) << done.out.toStdString();
    EXPECT_TRUE(done.out.contains("missing REGISTRO_60A, REDUCOES_Z")) << done.out.toStdString();

    testsupport::execAdmin("DROP OWNED BY " + role + " CASCADE");
    restricted.exec("DROP OWNED BY " + role);
    testsupport::execAdmin("DROP ROLE " + role);
}

// Only the fiscal tables may be absent: a till without its sales tables
// has every sales import fail, so it is not in step even with nothing
// counted as waiting.
TEST_F(StatusCommand, ATerminalWithoutItsSalesTablesIsAnError)
{
    TestDatabase noSales(Template::Terminal);
    TestDatabase noTransacoes(Template::Terminal);
    store.add({.num = "001", .banco = noSales.name()});
    store.add({.num = "002", .banco = noTransacoes.name()});
    const QStringList sales = app::countedSaleTables();
    for (const QString& table : sales)
        noSales.exec("DROP TABLE " + table + " CASCADE");
    noTransacoes.exec("ALTER TABLE TRANSACOES DROP COLUMN EXPORTADO");
    noTransacoes.exec("DROP TABLE REDUCOES_Z");

    const StatusRun run = runStatus(true);
    EXPECT_EQ(run.exit, 1) << run.out.toStdString();
    EXPECT_FALSE(run.json["in_step"].toBool());
    const QJsonObject t1 = terminal(run, "001");
    EXPECT_TRUE(t1["reachable"].toBool());
    EXPECT_EQ(t1["error"].toString(), "sales tables missing: " + sales.join(", "));
    const QJsonObject t2 = terminal(run, "002");
    EXPECT_EQ(t2["error"].toString(), "sales tables missing: TRANSACOES");
    EXPECT_EQ(t2["missing_tables"].toArray(), QJsonArray({"TRANSACOES", "REDUCOES_Z"}));

    const StatusRun text = runStatus(false);
    EXPECT_EQ(text.exit, 1);
    EXPECT_TRUE(text.out.contains("sales tables missing: TRANSACOES; missing REDUCOES_Z\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.endsWith("Not in step: 2 of 2 terminals without sales tables.\n")) << text.out.toStdString();
}

TEST_F(StatusCommand, WithoutAServerToAskItEndsWithTwoAndSaysWhyInOneLine)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const char* why;
    };
    const Case cases[] = {
        {"no INI file", [&] { QFile::remove(folder.dir.filePath("Quibor.ini")); }, "Quibor.ini not found"},
        {"no credentials",
         [&] { folder.writeRawIni("[Conex\xE3o Postgres]\r\nServer Name=127.0.0.1\r\nPorta=5432\r\nUser Name=\r\n"); },
         "are not both filled in"},
        {"other section",
         [&] { folder.writeRawIni("[Conexao]\r\nServer Name=127.0.0.1\r\nUser Name=vxu\r\nPassword=vxu\r\n"); },
         "are not both filled in"},
        {"server refuses",
         [&] {
             folder.writeIni(testsupport::testHost(), testsupport::refusedPort(), store.db.name(),
                             testsupport::testUser(), "x");
         },
         "not reached"},
        {"no such database",
         [&] {
             folder.writeIni(testsupport::testHost(), testsupport::testPort(), "qs_no_such_store",
                             testsupport::testUser(), "x");
         },
         "qs_no_such_store"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const StatusRun text = runStatus(false);
        EXPECT_EQ(text.exit, 2);
        EXPECT_EQ(text.out, "");
        EXPECT_EQ(text.err.count('\n'), 1) << text.err.toStdString();
        EXPECT_TRUE(text.err.endsWith('\n'));
        EXPECT_TRUE(text.err.contains(c.why)) << text.err.toStdString();

        const StatusRun json = runStatus(true);
        EXPECT_EQ(json.exit, 2);
        EXPECT_FALSE(json.json["server"].toObject()["reachable"].toBool());
        EXPECT_EQ(json.json["server"].toObject()["error"].toString() + '\n',
                  json.err.mid(QString("quiborsync --status: ").size()));
        EXPECT_FALSE(json.json["in_step"].toBool());
    }
}

TEST(StatusCommandLine, TakesOnlyJsonBesideStatus)
{
    using Kind = app::CommandLine::Kind;
    const struct {
        QStringList args;
        Kind kind;
        bool json;
    } cases[] = {
        {{"--status"}, Kind::Status, false},
        {{"--status", "--json"}, Kind::Status, true},
        {{"--json", "--status"}, Kind::Status, true},
        {{"--status", "--json", "--json"}, Kind::Usage, true},
        {{"--status", "--status"}, Kind::Usage, false},
        {{"--status", "-v"}, Kind::Usage, false},
        {{"--status", "--version"}, Kind::Usage, false},
        {{"-platform", "offscreen", "--status"}, Kind::Usage, false},
        {{"--json"}, Kind::Usage, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const app::CommandLine parsed = app::parseCommandLine(QStringList{"quiborsync"} + c.args);
        EXPECT_EQ(parsed.kind, c.kind);
        if (c.kind == Kind::Status) {
            EXPECT_EQ(parsed.json, c.json);
        }
    }
}

// The executable itself, without a display, while this process runs the
// windowed program (and holds its single-instance mark) on the same store.
TEST_F(StatusCommand, TheExecutableReportsBesideARunningCopy)
{
    TestDatabase till(Template::Terminal);
    store.add({.num = "001", .banco = till.name()});
    till.exec("INSERT INTO TRANSACOES (TRANSACAO_ID, EXPORTADO) VALUES (1, 0)");
    // The copy's mark where the executable looks for it: its session's
    // runtime folder.
    app::setInstanceMarkerPath(folder.dir.filePath("quiborsync.instance.lock"));
    auto windows = app::createWindows();
    ASSERT_FALSE(windows->mustEnd);
    ASSERT_EQ(app::otherCopy(), app::OtherCopy::Running) << "the windows hold the mark";

    const QString exe = folder.dir.filePath("quiborsync");
    ASSERT_TRUE(QFile::copy(QS_PROGRAM_PATH, exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", folder.dir.path());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", "");
    struct Ran {
        int exit;
        QByteArray out;
        QByteArray err;
    };
    auto run = [&](const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(exe, args);
        // Events run while it works: the windows stay alive beside it.
        EXPECT_TRUE(testsupport::waitFor([&] { return p.state() == QProcess::NotRunning; }, 60000));
        return Ran{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                   p.readAllStandardError()};
    };

    const Ran json = run({"--status", "--json"});
    EXPECT_EQ(json.exit, 1) << json.err.toStdString();
    const QJsonObject doc = QJsonDocument::fromJson(json.out).object();
    ASSERT_EQ(doc["terminals"].toArray().size(), 1) << json.out.toStdString();
    EXPECT_EQ(doc["terminals"][0]["waiting"]["TRANSACOES"].toInt(), 1);
    EXPECT_EQ(app::otherCopy(), app::OtherCopy::Running) << "the report left the running copy's mark alone";

    till.exec("UPDATE TRANSACOES SET EXPORTADO = 2");
    const Ran text = run({"--status"});
    EXPECT_EQ(text.exit, 0) << text.out.toStdString() << text.err.toStdString();
    EXPECT_TRUE(text.out.endsWith("In step: 1 terminal reached, nothing waiting.\n")) << text.out.toStdString();

    const Ran usage = run({"--status", "--verbose"});
    EXPECT_EQ(usage.exit, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_TRUE(usage.err.startsWith("quiborsync: '--status' does not take '--verbose'\nUsage: quiborsync"))
        << usage.err.toStdString();
}

} // namespace
