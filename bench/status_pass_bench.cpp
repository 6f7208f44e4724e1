// The passes over the terminals with 33 registered, 10 of them silent (their
// connects time out) and 23 answering, with TIMEOUT_ECFS 300: no pass can end
// before one probe time-out, so each is set against that 300 ms floor.
//
// - Start-up as the store sees it: the quiborsync executable started as a
//   process (its windows offscreen), from its launch until its start-up
//   writes the version stamp into CONFIG (every terminal probed, the
//   answering ones probed again and their slots opened). Target: 0.8 s.
// - The status pass of each window, and "Atualizar Dados" (every terminal's
//   STATUS from a fresh probe, then the import requests). Target: each
//   within 1.3 times the floor.
//
// Every measured run starts from the same rows: all terminals active and
// none marked unreachable.
//
// Needs the test cluster's address in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_TEST_PGUSER, like the tests (scripts/bench.sh status_pass_bench sets
// them).

#include "bench_timing.h"
#include "terminal_register.h"
#include "db/connection.h"
#include "db/query.h"
#include "sales/atualizar_dados.h"
#include "support/recording_dialogs.h"
#include "support/silent_listener.h"
#include "support/test_db.h"
#include "terminals/sales_status_pass.h"
#include "terminals/update_status_pass.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using benchtiming::Clock;
using benchtiming::secondsSince;

constexpr int kTimeoutMs = 300;
using benchstore::kSilent;
using benchstore::kTerminals;
constexpr double kStartupTargetSeconds = 0.8;
constexpr double kPassTargetRatio = 1.3;
// The program reads no password-less login from its INI.
const char* const kUser = "qs_bench";
const char* const kPassword = "Loja \"Centro\" #1";

struct Store {
    testsupport::TestDatabase server{testsupport::Template::Server};
    testsupport::SilentListener silent;

    Store()
    {
        server.exec(QString("INSERT INTO CONFIG (TIMEOUT_ECFS) VALUES (%1)").arg(kTimeoutMs));
        benchstore::registerTerminals(server, server.name(), "", silent.portText(), 0);
    }
};

Store& store()
{
    static Store s;
    return s;
}

// What the passes change, undone before each measured run.
void resetTerminals()
{
    store().server.exec("UPDATE LICENCA_IF SET STATUS = 'A', ECF_STATUS = 0, IMPORTACAO = 0");
}

struct NoLines : terminals::StatusLinesView {
    void clearStatusLines() override {}
    void addStatusLine(const QString&, terminals::LineColor) override {}
};

struct NoBoxes : terminals::UpdateStatusView {
    void setTerminalBoxEnabled(int, bool) override {}
    void statusPassFinished() override {}
};

// Milliseconds of each measured run, by what ran.
std::vector<double>& times(const std::string& name)
{
    static std::map<std::string, std::vector<double>> all;
    return all[name];
}

template <typename Run>
void measure(benchmark::State& state, const std::string& name, Run run)
{
    for (auto _ : state) {
        state.PauseTiming();
        resetTerminals();
        state.ResumeTiming();
        const auto start = Clock::now();
        run();
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        times(name).push_back(seconds * 1000);
    }
    state.counters["floor_ms"] = kTimeoutMs;
}

void BM_SalesStatusPass(benchmark::State& state)
{
    Store& s = store();
    testsupport::ScopedRecordingDialogs dialogs;
    db::Connection server(s.server.params());
    server.open();
    db::Query list(server);
    db::Query config(server);
    config.setText("SELECT * FROM CONFIG");
    config.prepare();
    config.open();
    NoLines view;
    terminals::SalesStatusPass pass({server, list, config, view});
    measure(state, "sales status pass", [&] { pass.VerificarConexao(); });
    if (!dialogs->shown.empty())
        state.SkipWithError(dialogs->shown.front().text.toStdString().c_str());
}

void BM_UpdateStatusPass(benchmark::State& state)
{
    Store& s = store();
    db::Connection server(s.server.params());
    server.open();
    db::Query config(server);
    config.setText("SELECT * FROM CONFIG");
    NoBoxes view;
    terminals::UpdateStatusPass pass({server, config, view});
    measure(state, "update status pass", [&] { pass.VerificarConexao(); });
}

void BM_AtualizarDados(benchmark::State& state)
{
    Store& s = store();
    db::Connection server(s.server.params());
    server.open();
    db::Query config(server);
    config.setText("SELECT * FROM CONFIG");
    config.prepare();
    config.open();
    measure(state, "\"Atualizar Dados\"", [&] { sales::Atualizar_Dados(server, config); });
}

void createLogin()
{
    testsupport::execAdmin(QString("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '%1') THEN "
                                   "CREATE ROLE %1 LOGIN SUPERUSER PASSWORD '%2'; END IF; END $$")
                               .arg(kUser, kPassword));
}

// The executable beside a Quibor.ini of its own, as the installer leaves it.
QString installProgram(const QString& folder)
{
    const QString exe = folder + "/quiborsync";
    // QS_BENCH_PROGRAM: another build of the program to measure (an earlier one, say).
    if (!QFile::copy(qEnvironmentVariable("QS_BENCH_PROGRAM", QStringLiteral(QS_PROGRAM_PATH)), exe))
        throw std::runtime_error("cannot copy the executable");
    QProcess ini;
    ini.start("bash", {QStringLiteral(QS_SOURCE_DIR) + "/scripts/write_ini.sh", folder + "/Quibor.ini",
                       testsupport::testHost(), QString::number(testsupport::testPort()), store().server.name(),
                       kUser, kPassword});
    if (!ini.waitForFinished(30000) || ini.exitCode() != 0)
        throw std::runtime_error("write_ini.sh failed");
    return exe;
}

void BM_Startup(benchmark::State& state)
{
    Store& s = store();
    createLogin();
    QTemporaryDir folder; // private: it also holds the copy's single-instance mark
    const QString exe = installProgram(folder.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", folder.path());
    db::Connection server(s.server.params());
    server.open();
    db::Query stamp(server);
    stamp.setText("SELECT COALESCE(VERSAO_SYNC, '') AS V FROM CONFIG");

    for (auto _ : state) {
        state.PauseTiming();
        resetTerminals();
        s.server.exec("UPDATE CONFIG SET VERSAO_SYNC = NULL");
        QProcess program;
        program.setProcessEnvironment(env);
        program.setStandardOutputFile(folder.filePath("program.out"));
        program.setStandardErrorFile(folder.filePath("program.out"));
        state.ResumeTiming();

        const auto launched = Clock::now();
        program.start(exe, {});
        bool stamped = false;
        while (!stamped && secondsSince(launched) < 60 && program.state() != QProcess::NotRunning) {
            stamp.open();
            stamped = !stamp.field("V").asString().isEmpty();
            stamp.close();
            if (!stamped)
                QThread::usleep(2000);
        }
        const double seconds = secondsSince(launched);
        state.SetIterationTime(seconds);
        state.PauseTiming();
        program.kill();
        program.waitForFinished(10000);
        if (!stamped) {
            QFile out(folder.filePath("program.out"));
            if (out.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "%s\n", out.readAll().right(4000).constData());
            state.SkipWithError("the program did not write its version stamp");
            return;
        }
        times("start-up").push_back(seconds * 1000);
        state.ResumeTiming();
    }
    state.counters["floor_ms"] = kTimeoutMs;
}

BENCHMARK(BM_Startup)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SalesStatusPass)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateStatusPass)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AtualizarDados)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // The passes let events run while they wait.
    int appArgc = 1;
    QCoreApplication app(appArgc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("%d terminals (%d silent), one probe time-out (TIMEOUT_ECFS) %d ms:\n", kTerminals, kSilent,
                kTimeoutMs);
    const double startup = benchtiming::median(times("start-up"));
    if (startup > 0)
        std::printf("  start-up, launch to version stamp: median %.0f ms = %.2f x the time-out (target <= %.0f ms)"
                    " %s\n",
                    startup, startup / kTimeoutMs, kStartupTargetSeconds * 1000,
                    startup <= kStartupTargetSeconds * 1000 ? "met" : "MISSED");
    for (const char* name : {"sales status pass", "update status pass", "\"Atualizar Dados\""}) {
        const double ms = benchtiming::median(times(name));
        if (ms > 0)
            std::printf("  %s: median %.0f ms = %.2f x the time-out (target <= %.2f x) %s\n", name, ms,
                        ms / kTimeoutMs, kPassTargetRatio, ms / kTimeoutMs <= kPassTargetRatio ? "met" : "MISSED");
    }
    return 0;
}
