// The sales import as a store sees it: the quiborsync executable started as
// a process (its windows offscreen) against a store it has not seen, with
// 2,000 sales waiting on 3 terminals, timed from NOTIFY "venda" until every
// terminal row is at 2 and every sale is on the server; once on the fast
// cluster and once on the durable one. Also reports the start-up (process
// start until the program listens), the processor time the program used
// during the import, the statements, commits and preparations the
// program's data layer counted during the import (it keeps them in the
// file QS_STATEMENT_COUNTS names), and the sequential floor of those on the
// same link: each statement at the round trip of a trivial prepared SELECT,
// each commit at the cost of a single-row autocommit INSERT (a durable
// commit on the durable cluster), measured back to back in the same run.
//
// Arguments: the delay each way of the link between the program and the
// databases, in microseconds (0: plain loopback; else a delay proxy), and
// the cluster (benchmodes::Mode).
//
// Needs the clusters' addresses in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_DURABLE_PGPORT / QS_TEST_PGUSER (scripts/bench.sh sales_program_bench
// sets them).

#include "bench_floor.h"
#include "bench_modes.h"
#include "bench_timing.h"
#include "sales_bench_store.h"
#include "support/bare_pg.h"
#include "support/delay_proxy.h"
#include "db/statement_counts.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <optional>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace {

using namespace salesbench;
using benchtiming::Clock;
using benchtiming::secondsSince;
using testsupport::PgConn;
using testsupport::PgResult;

constexpr int kPollMs = 20;
constexpr int kStartSeconds = 120;
constexpr int kImportSeconds = 600;
constexpr int kTightRounds = 2000;
constexpr int kSettleSeconds = 20;
// The store's login: the program reads no password-less login from its INI.
const char* const kUser = "qs_bench";
const char* const kPassword = "Loja \"Centro\" #1";

void createLogin()
{
    testsupport::execAdmin(QString("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '%1') THEN "
                                   "CREATE ROLE %1 LOGIN SUPERUSER PASSWORD '%2'; END IF; END $$")
                               .arg(kUser, kPassword));
}

PgConn connectOn(const QString& database, int port)
{
    const QString conninfo = QString("host=%1 port=%2 dbname=%3 user=%4 password='%5'")
                                 .arg(testsupport::testHost())
                                 .arg(port)
                                 .arg(database, testsupport::testUser(), testsupport::testPassword());
    PgConn conn(PQconnectdb(conninfo.toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(conn.get()));
    return conn;
}

QString scalar(PGconn* conn, const char* sql)
{
    PgResult r(PQexec(conn, sql));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
        throw std::runtime_error(PQerrorMessage(conn));
    return PQntuples(r.get()) ? QString::fromUtf8(PQgetvalue(r.get(), 0, 0)) : QString();
}

void run(PGconn* conn, const char* sql)
{
    PgResult r(PQexec(conn, sql));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && PQresultStatus(r.get()) != PGRES_TUPLES_OK)
        throw std::runtime_error(PQerrorMessage(conn));
}

// The program's counts as it last wrote them; none when it has not yet.
std::optional<db::StatementCounts> programCounts(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> fields = file.readAll().trimmed().split(' ');
    if (fields.size() != 3)
        return std::nullopt;
    return db::StatementCounts{fields[0].toULongLong(), fields[1].toULongLong(), fields[2].toULongLong()};
}

// The counts once the program has written them and they stopped changing
// (it rewrites them within 100 ms of a change): a few quiet reads in a row.
std::optional<db::StatementCounts> settledCounts(const QString& path)
{
    std::optional<db::StatementCounts> last;
    int quiet = 0;
    const auto start = Clock::now();
    while (quiet < 4 && secondsSince(start) < kSettleSeconds) {
        QThread::msleep(100);
        const std::optional<db::StatementCounts> now = programCounts(path);
        const bool same = now && last && now->statements == last->statements && now->commits == last->commits
            && now->preparations == last->preparations;
        quiet = same ? quiet + 1 : 0;
        last = now;
    }
    return quiet >= 4 ? last : std::nullopt;
}

// User plus system time of a process so far, in seconds.
double processorSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the command name (which may hold blanks) in parentheses.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// Rows of the imported tables still short of 2 on a terminal.
int waitingRows(PGconn* terminal)
{
    return scalar(terminal,
        "SELECT (SELECT count(*) FROM TRANSACOES WHERE EXPORTADO <> 2)"
        " + (SELECT count(*) FROM TRANSITENS WHERE EXPORTADO <> 2)"
        " + (SELECT count(*) FROM TRANSPARCELAS WHERE EXPORTADO <> 2)"
        " + (SELECT count(*) FROM FECHAMENTO_CUPOM WHERE EXPORTADO <> 2)"
        " + (SELECT count(*) FROM COMPL_NFCEFISCAL WHERE EXPORTADO <> 2)")
        .toInt();
}

// The executable beside a Quibor.ini and a log folder of its own, as the
// installer leaves it.
QString installProgram(const QString& folder, const QString& database, int port)
{
    const QString exe = folder + "/quiborsync";
    QFile::remove(exe);
    // QS_BENCH_PROGRAM: another build of the program to measure (an earlier one, say).
    const QString built = qEnvironmentVariable("QS_BENCH_PROGRAM", QStringLiteral(QS_PROGRAM_PATH));
    if (!QFile::copy(built, exe))
        throw std::runtime_error("cannot copy the executable");
    QProcess ini;
    ini.start("bash",
        { QStringLiteral(QS_SOURCE_DIR) + "/scripts/write_ini.sh", folder + "/Quibor.ini", testsupport::testHost(),
            QString::number(port), database, kUser, kPassword });
    if (!ini.waitForFinished(30000) || ini.exitCode() != 0)
        throw std::runtime_error("write_ini.sh failed");
    return exe;
}

void BM_SalesProgram(benchmark::State& state)
{
    const auto delay = std::chrono::microseconds(state.range(0));
    const int mode = static_cast<int>(state.range(1));
    if (benchmodes::skipUnavailable(state, mode))
        return;
    const benchmodes::ModeScope scope(mode);
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<testsupport::DelayProxy> proxy;
        if (delay.count() > 0)
            proxy = std::make_unique<testsupport::DelayProxy>(testsupport::testHost(), testsupport::testPort(), delay);
        const int port = proxy ? proxy->port() : testsupport::testPort();
        createLogin();
        Store store(port, kUser, kPassword);
        store.server.exec("INSERT INTO EMPRESAS (EMPRESA_ID, STATUS) VALUES (1, 'A')");
        // Terminals that synchronised today, as in an open shop: the start-up
        // takes the others for out of service.
        store.server.exec("UPDATE LICENCA_IF SET DT_SYNC = current_date");

        PgConn server = connectOn(store.server.name(), testsupport::testPort());
        std::vector<PgConn> terminals;
        for (const auto& pdv : store.terminals)
            terminals.push_back(connectOn(pdv->name(), testsupport::testPort()));
        PgConn probe = connectOn(store.server.name(), port);
        const benchfloor::LinkCosts link = benchfloor::measureLink(probe.get(), kTightRounds);
        probe.reset();

        const QString exe = installProgram(store.folder.path(), store.server.name(), port);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", store.folder.path()); // its single-copy mark, apart from other runs
        const QString countsFile = store.folder.path() + "/statement_counts";
        env.insert("QS_STATEMENT_COUNTS", countsFile);
        program.setProcessEnvironment(env);
        program.setStandardOutputFile(store.folder.path() + "/program.out");
        program.setStandardErrorFile(store.folder.path() + "/program.out");

        const auto launched = Clock::now();
        program.start(exe, {});
        if (!program.waitForStarted(30000)) {
            state.SkipWithError("the program did not start");
            return;
        }
        // Listening once the start-up stamps its version into CONFIG.
        bool listening = false;
        while (!listening && secondsSince(launched) < kStartSeconds && program.state() == QProcess::Running) {
            listening = !scalar(server.get(), "SELECT VERSAO_SYNC FROM CONFIG").isEmpty();
            if (!listening)
                QThread::msleep(kPollMs);
        }
        const double startup = secondsSince(launched);
        if (!listening) {
            program.kill();
            program.waitForFinished(10000);
            QFile out(store.folder.path() + "/program.out");
            if (out.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "%s\n", out.readAll().right(4000).constData());
            state.SkipWithError("the program did not come up");
            return;
        }

        const std::optional<db::StatementCounts> countsBefore = settledCounts(countsFile);
        const double cpuBefore = processorSeconds(program.processId());
        const auto start = Clock::now();
        state.ResumeTiming();
        run(server.get(), "NOTIFY venda");
        bool done = false;
        while (!done && secondsSince(start) < kImportSeconds && program.state() == QProcess::Running) {
            QThread::msleep(kPollMs);
            if (scalar(server.get(), "SELECT count(*) FROM TRANSACOES WHERE DT_TRANS = '2024-03-05'").toInt()
                < kSales)
                continue;
            done = true;
            for (auto& t : terminals)
                done = done && waitingRows(t.get()) == 0;
        }
        const double seconds = secondsSince(start);
        state.PauseTiming();
        const double cpu = processorSeconds(program.processId()) - cpuBefore;
        const std::optional<db::StatementCounts> countsAfter = done ? settledCounts(countsFile) : std::nullopt;
        state.SetIterationTime(seconds);
        if (!done) {
            PgResult rows(PQexec(server.get(), "SELECT NUM_ECF || ' ' || STATUS || ' ' || ECF_STATUS || ' ' || "
                                               "IMPORTACAO FROM LICENCA_IF ORDER BY NUM_ECF"));
            for (int i = 0; i < PQntuples(rows.get()); ++i)
                std::fprintf(stderr, "LICENCA_IF %s\n", PQgetvalue(rows.get(), i, 0));
            std::fprintf(stderr, "after %.1f s: %s sales on the server; program %s\n", seconds,
                qPrintable(scalar(server.get(), "SELECT count(*) FROM TRANSACOES WHERE DT_TRANS = '2024-03-05'")),
                program.state() == QProcess::Running ? "running" : "ended");
            state.SkipWithError("the import did not bring every sale within the time-out");
        }
        program.kill();
        program.waitForFinished(10000);
        if (!done)
            return;
        const int items
            = scalar(server.get(), "SELECT count(*) FROM TRANSITENS WHERE DATA = '2024-03-05'").toInt();
        if (items != kSales * kItemsPerSale)
            state.SkipWithError("the import did not bring every item exactly once");

        if (!countsBefore || !countsAfter) {
            state.SkipWithError("the program kept no statement counts");
            return;
        }
        const db::StatementCounts counted = *countsAfter - *countsBefore;
        const double floor = benchfloor::sequentialFloor(counted, link);
        state.counters["startup_s"] = startup;
        state.counters["cpu_s"] = cpu;
        state.counters["floor_s"] = floor;
        state.counters["ratio_to_floor"] = seconds / floor;
        state.counters["statements"] = double(counted.statements);
        state.counters["commits"] = double(counted.commits);
        std::printf("[%s] link delay %d us each way: %s (back to back) | import %.3f s (%.0f sales/s), %.2f x "
                    "that floor; %s; start-up %.2f s; program processor time %.2f s\n",
                    benchmodes::name(mode), int(delay.count()), benchfloor::floorText(counted, link).c_str(), seconds,
                    kSales / seconds, seconds / floor, benchfloor::countsText(counted).c_str(), startup, cpu);
        std::fflush(stdout);
        benchmodes::sideBySide().add("program import, link delay " + std::to_string(delay.count()) + " us", mode,
                                     seconds * 1000,
                                     benchfloor::floorText(counted, link) + "; " + benchfloor::countsText(counted)
                                         + "; processor " + std::to_string(cpu) + " s");
        common::setProgramFolder(QString());
        state.ResumeTiming();
    }
}

BENCHMARK(BM_SalesProgram)
    ->ArgsProduct({{0, 250}, {benchmodes::Fast, benchmodes::Durable}})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    benchmodes::sideBySide().print();
    return 0;
}
