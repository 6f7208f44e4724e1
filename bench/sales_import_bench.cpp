// Imports 2,000 sales (5 items, 1 instalment, 1 receipt closing and 1 NFC-e
// complement each) from 3 terminals with Carga_Vendas, once on the fast
// cluster and once on the durable one, and in the same run prices the
// floor on the same link: the statements, commits and preparations the data
// layer counted for the import, each statement at the round trip of a
// trivial prepared SELECT and each commit at the cost of a single-row
// autocommit INSERT (a durable commit on the durable cluster), measured
// back to back ("sequential floor": held writes share round trips, so the
// import may go under it) and sampled during the import. Also reports the
// longest gap between two turns of the event loop during the import.
//
// Needs the clusters' addresses in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_DURABLE_PGPORT / QS_TEST_PGUSER (scripts/bench.sh sales_import_bench
// sets them).

#include <cstdlib>
#include "bench_floor.h"
#include "bench_modes.h"
#include "bench_timing.h"
#include "common/event_pump.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/statement_counts.h"
#include "sales/carga_vendas.h"
#include "sales/sales_view.h"
#include "sales_server.h"
#include "support/recording_dialogs.h"
#include "support/bare_pg.h"
#include "support/test_db.h"
#include "support/delay_proxy.h"
#include "sales_bench_store.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kProbeEvery = 8; // event-loop turns between two floor samples
constexpr int kTightRounds = 2000;
using namespace salesbench;

using benchtiming::Clock;
using benchtiming::secondsSince;

using salesbench::NullView;

using testsupport::PgConn;
using testsupport::PgResult;

// A bare connection to `db` on `port` (the cluster's, or a delay proxy's).
PgConn connectTo(const testsupport::TestDatabase& db, int port)
{
    const QString conninfo = QString("host=%1 port=%2 dbname=%3 user=%4 password='%5'")
                                 .arg(testsupport::testHost())
                                 .arg(port)
                                 .arg(db.name(), testsupport::testUser(), testsupport::testPassword());
    PgConn conn(PQconnectdb(conninfo.toUtf8().constData()));
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(conn.get()));
    return conn;
}

// The program's parameter lines for `db`, reached on `port`.
db::ConnectionParams paramsOn(const testsupport::TestDatabase& db, int port)
{
    db::ConnectionParams p;
    const db::ConnectionParams given = db.params();
    for (const QString& line : given.lines())
        if (!line.startsWith("Port="))
            p.add(line);
    p.add("Port= " + QString::number(port));
    return p;
}

void check(PGconn* conn, PGresult* r)
{
    const auto status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(PQerrorMessage(conn));
}

// Round trips of the floor's two kinds of statement on one connection: a
// trivial prepared SELECT and a single-row autocommit INSERT. Sampled while
// the import runs, so both meet the same machine.
class FloorProbe {
public:
    explicit FloorProbe(PGconn* conn)
        : conn_(conn)
    {
        PgResult table(PQexec(conn_, "CREATE TABLE floor_probe (a integer, b varchar(20))"));
        check(conn_, table.get());
        PgResult read(PQprepare(conn_, "floor_read", "SELECT 1", 0, nullptr));
        check(conn_, read.get());
        PgResult write(
            PQprepare(conn_, "floor_write", "INSERT INTO floor_probe (a, b) VALUES ($1, 'x')", 1, nullptr));
        check(conn_, write.get());
    }

    void sample()
    {
        readTime_ += timed("floor_read", false);
        writeTime_ += timed("floor_write", true);
        ++samples_;
    }

    // The same two statements back to back, `rounds` times each: the
    // server's round trip while nothing else runs between them.
    std::pair<double, double> tightLoop(int rounds)
    {
        double read = 0;
        double write = 0;
        for (int i = 0; i < rounds; ++i) {
            read += timed("floor_read", false);
            write += timed("floor_write", true);
        }
        return { read / rounds, write / rounds };
    }

    double readCost() const { return samples_ ? readTime_ / samples_ : 0; }
    double writeCost() const { return samples_ ? writeTime_ / samples_ : 0; }
    double spent() const { return readTime_ + writeTime_; }
    int samples() const { return samples_; }

private:
    double timed(const char* name, bool withParam)
    {
        const QByteArray value = QByteArray::number(samples_);
        const char* params[1] = { value.constData() };
        const auto start = Clock::now();
        PgResult r(PQexecPrepared(
            conn_, name, withParam ? 1 : 0, withParam ? params : nullptr, nullptr, nullptr, 0));
        const double seconds = secondsSince(start);
        check(conn_, r.get());
        return seconds;
    }

    PGconn* conn_;
    double readTime_ = 0;
    double writeTime_ = 0;
    int samples_ = 0;
};

// Arguments: the delay each way of the link to the databases, in
// microseconds (0: plain loopback; else a delay proxy in between), and the
// cluster (benchmodes::Mode).
void BM_SalesImport(benchmark::State& state)
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
        Store store(port);
        testsupport::ScopedRecordingDialogs dialogs;
        NullView view;
        bool importacaoLivre = true;

        salesbench::SalesServer server(paramsOn(store.server, port));
        sales::Carga_Vendas carga(server.links(view, importacaoLivre));

        PgConn probeConnection = connectTo(store.server, port);
        FloorProbe probe(probeConnection.get());
        state.ResumeTiming();

        // Every few turns of the event loop one floor sample runs; its time
        // is taken out of the import's and out of the gaps.
        double maxGap = 0;
        int turns = 0;
        auto last = Clock::now();
        common::setEventPump([&] {
            const auto now = Clock::now();
            maxGap = std::max(maxGap, std::chrono::duration<double>(now - last).count());
            if (++turns % kProbeEvery == 0)
                probe.sample();
            last = Clock::now();
        });
        const db::StatementCounts before = db::statementCounts();
        const auto start = Clock::now();
        last = start;
        carga.run();
        const auto end = Clock::now();
        const db::StatementCounts counted = db::statementCounts() - before;
        maxGap = std::max(maxGap, std::chrono::duration<double>(end - last).count());
        common::setEventPump({});
        const double seconds = std::chrono::duration<double>(end - start).count() - probe.spent();
        state.SetIterationTime(seconds);

        state.PauseTiming();
        const int imported
            = store.server.scalar("SELECT count(*) FROM TRANSACOES WHERE DT_TRANS = '2024-03-05'").toInt();
        const int items
            = store.server.scalar("SELECT count(*) FROM TRANSITENS WHERE DATA = '2024-03-05'").toInt();
        if (imported != kSales || items != kSales * kItemsPerSale || !dialogs->shown.empty())
            state.SkipWithError("the import did not bring every sale and item");

        const auto [tightRead, tightWrite] = probe.tightLoop(kTightRounds);
        const benchfloor::LinkCosts tight{tightRead, tightWrite};
        const benchfloor::LinkCosts sampled{probe.readCost(), probe.writeCost()};
        const double tightFloor = benchfloor::sequentialFloor(counted, tight);
        const double sampledFloor = benchfloor::sequentialFloor(counted, sampled);
        state.counters["sales_per_s"] = kSales / seconds;
        state.counters["tight_floor_s"] = tightFloor;
        state.counters["ratio_to_tight_floor"] = seconds / tightFloor;
        state.counters["sampled_floor_s"] = sampledFloor;
        state.counters["statements"] = double(counted.statements);
        state.counters["commits"] = double(counted.commits);
        state.counters["max_gap_ms"] = maxGap * 1000;
        std::printf("[%s] link delay %d us each way: %s (back to back) | import %.3f s (%.0f sales/s), "
                    "%.2f x that floor; %s; sampled during the import: sequential floor %.3f s "
                    "(%.1f us, %.1f us), %.2f x; longest gap between event-loop turns %.1f ms over %d turns\n",
                    benchmodes::name(mode), int(delay.count()), benchfloor::floorText(counted, tight).c_str(), seconds,
                    kSales / seconds, seconds / tightFloor, benchfloor::countsText(counted).c_str(), sampledFloor,
                    sampled.read * 1e6, sampled.write * 1e6, seconds / sampledFloor, maxGap * 1000, turns);
        std::fflush(stdout);
        benchmodes::sideBySide().add("import, link delay " + std::to_string(delay.count()) + " us", mode,
                                     seconds * 1000,
                                     benchfloor::floorText(counted, tight) + "; " + benchfloor::countsText(counted));
        common::setProgramFolder(QString());
        state.ResumeTiming();
    }
}

BENCHMARK(BM_SalesImport)
    ->ArgsProduct({{0, 250}, {benchmodes::Fast, benchmodes::Durable}})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // As the program's own entry does: one time-zone lookup, not one per row.
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    benchmodes::sideBySide().print();
    return 0;
}
