// Imports 2,000 sales (5 items, 1 instalment, 1 receipt closing and 1 NFC-e
// complement each) from 3 terminals with Carga_Vendas, and in the same run
// measures the floor: the statements the import must send for that work,
// each at the measured cost of its kind on the same server (a read at the
// round trip of a trivial prepared SELECT, a write at that of a single-row
// autocommit INSERT). Also reports the longest gap between two turns of the
// event loop during the import.
//
// Needs the test cluster's address in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_TEST_PGUSER (scripts/bench.sh sales_import_bench sets them).

#include <cstdlib>
#include "bench_timing.h"
#include "common/event_pump.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/query.h"
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

// Argument: the delay each way of the link to the databases, in
// microseconds (0: plain loopback; else a delay proxy in between).
void BM_SalesImport(benchmark::State& state)
{
    const auto delay = std::chrono::microseconds(state.range(0));
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
        const auto start = Clock::now();
        last = start;
        carga.run();
        const auto end = Clock::now();
        maxGap = std::max(maxGap, std::chrono::duration<double>(end - last).count());
        common::setEventPump({});
        const double seconds = std::chrono::duration<double>(end - start).count() - probe.spent();
        const double readCost = probe.readCost();
        const double writeCost = probe.writeCost();
        state.SetIterationTime(seconds);

        state.PauseTiming();
        const int imported
            = store.server.scalar("SELECT count(*) FROM TRANSACOES WHERE DT_TRANS = '2024-03-05'").toInt();
        const int items
            = store.server.scalar("SELECT count(*) FROM TRANSITENS WHERE DATA = '2024-03-05'").toInt();
        if (imported != kSales || items != kSales * kItemsPerSale || !dialogs->shown.empty())
            state.SkipWithError("the import did not bring every sale and item");

        const double reads = kReads;
        const double writes = kWrites;
        const double floor = reads * readCost + writes * writeCost;
        const auto [tightRead, tightWrite] = probe.tightLoop(kTightRounds);
        const double tightFloor = reads * tightRead + writes * tightWrite;
        state.counters["sales_per_s"] = kSales / seconds;
        state.counters["floor_s"] = floor;
        state.counters["ratio_to_floor"] = seconds / floor;
        state.counters["read_us"] = readCost * 1e6;
        state.counters["write_us"] = writeCost * 1e6;
        state.counters["tight_floor_s"] = tightFloor;
        state.counters["ratio_to_tight_floor"] = seconds / tightFloor;
        state.counters["max_gap_ms"] = maxGap * 1000;
        state.counters["pump_turns"] = turns;
        state.counters["floor_samples"] = probe.samples();
        std::printf(
            "link delay %d us each way: import %.3f s (%.0f sales/s); floor %.3f s = %.0f reads x %.1f us + %.0f writes x %.1f us "
            "(sampled during the import); ratio %.2f; back-to-back floor %.3f s (%.1f us, %.1f us), "
            "ratio %.2f; longest gap between event-loop turns %.1f ms over %d turns\n",
            int(delay.count()), seconds, kSales / seconds, floor, reads, readCost * 1e6, writes, writeCost * 1e6, seconds / floor,
            tightFloor, tightRead * 1e6, tightWrite * 1e6, seconds / tightFloor, maxGap * 1000, turns);
        std::fflush(stdout);
        common::setProgramFolder(QString());
        state.ResumeTiming();
    }
}

BENCHMARK(BM_SalesImport)->Arg(0)->Arg(250)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    // As the program's own entry does: one time-zone lookup, not one per row.
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
