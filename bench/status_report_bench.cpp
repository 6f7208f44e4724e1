// The health report (`quiborsync --status`) over 33 active terminals, 10 of
// them silent (their connects time out) and 23 answering with rows waiting:
// the report cannot end before one TIMEOUT_ECFS, so its wall time is set
// against that floor. The target is within 1.3 times the floor.
//
// TIMEOUT_ECFS is 1000 ms, or QS_STATUS_TIMEOUT_MS. Needs the test cluster's
// address in QS_TEST_PGHOST / QS_TEST_PGPORT / QS_TEST_PGUSER, like the
// tests (scripts/bench.sh status_report_bench sets them).

#include "app/status_report.h"
#include "common/log_path.h"
#include "support/silent_listener.h"
#include "support/test_db.h"

#include "bench_timing.h"
#include "terminal_register.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

namespace {

using benchstore::kSilent;
using benchstore::kTerminals;

int timeoutMs()
{
    const int ms = qEnvironmentVariableIntValue("QS_STATUS_TIMEOUT_MS");
    return ms > 0 ? ms : 1000;
}

QString shifted(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        c = QChar(char16_t(c.unicode() + 3));
    return out;
}

struct Store {
    testsupport::TestDatabase server{testsupport::Template::Server};
    testsupport::TestDatabase till{testsupport::Template::Terminal};
    testsupport::SilentListener silent;
    QTemporaryDir folder;

    Store()
    {
        server.exec(QString("INSERT INTO CONFIG (TIMEOUT_ECFS) VALUES (%1)").arg(timeoutMs()));
        benchstore::registerTerminals(server, till.name(), testsupport::testPassword(), silent.portText(), 1);
        till.exec("INSERT INTO TRANSACOES (TRANSACAO_ID, DT_TRANS, EXPORTADO) "
                  "SELECT g, current_date - (g % 30), g % 4 FROM generate_series(1, 2000) g");
        till.exec("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, EXPORTADO) "
                  "SELECT g / 3, g % 3, g % 3 FROM generate_series(3, 6002) g");

        QFile ini(folder.filePath("Quibor.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write(QString("[Conex\u00e3o Postgres]\r\nServer Name=%1\r\nPorta=%2\r\nBase Name=%3\r\n"
                          "User Name=%4\r\nPassword=%5\r\n")
                      .arg(testsupport::testHost())
                      .arg(testsupport::testPort())
                      .arg(server.name(), shifted(testsupport::testUser()), shifted("unused"))
                      .toUtf8());
    }
};

Store& store()
{
    static Store s;
    return s;
}

std::vector<double>& times()
{
    static std::vector<double> all;
    return all;
}

void BM_StatusReport(benchmark::State& state)
{
    Store& s = store();
    for (auto _ : state) {
        const auto start = benchtiming::Clock::now();
        const app::StatusReport report = app::gatherStatus(s.folder.filePath("Quibor.ini"));
        const double seconds = benchtiming::secondsSince(start);
        state.SetIterationTime(seconds);
        times().push_back(seconds * 1000);
        int reached = 0;
        for (const app::TerminalStatus& t : report.terminals)
            reached += t.reachable;
        if (!report.failure.isEmpty() || reached != kTerminals - kSilent) {
            state.SkipWithError(("unexpected report: " + report.failure.toStdString()).c_str());
            return;
        }
    }
    state.counters["floor_ms"] = timeoutMs();
}

BENCHMARK(BM_StatusReport)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    int appArgc = 1;
    QCoreApplication app(appArgc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double ms = benchtiming::median(times());
    if (ms > 0)
        std::printf("status report, %d terminals (%d silent): median %.1f ms = %.2f x the %d ms time-out "
                    "(target <= 1.30 x)\n",
                    kTerminals, kSilent, ms, ms / timeoutMs(), timeoutMs());
    return 0;
}
