// 10,000 single-row parameterised inserts on a loopback server, once through
// the data-access layer (the program's cycle: set text, bind by name,
// prepare, execute) and once through the bare client library
// (PQexecPrepared), and the ratio of the two. The paired run, where the two
// take turns every 100 rows, gives the figure to trust on a busy machine.
// Reads QS_TEST_PG* like the tests and works in a database of its own,
// dropped at the end.

#include "db/connection.h"
#include "db/connection_params.h"
#include "db/query.h"
#include "support/test_db.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QDate>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <sched.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRows = 10000;
constexpr int kBlock = 100; // rows per turn in the paired run
const char* const kInsertNamed = "INSERT INTO bench_layer (id, nome, valor, dt) VALUES (:ID, :NOME, :VALOR, :DT)";
const char* const kInsertPositional = "INSERT INTO bench_bare (id, nome, valor, dt) VALUES ($1, $2, $3, $4)";

QString g_database;
double g_bestLayer = std::numeric_limits<double>::max();
double g_bestBare = std::numeric_limits<double>::max();
std::vector<double> g_pairedRatios;
std::vector<double> g_layerCpuPerRow;
std::vector<double> g_bareCpuPerRow;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

using ConnPtr = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

db::ConnectionParams benchParams()
{
    db::ConnectionParams p;
    p.add("Database= " + g_database);
    p.add("User_Name= " + testsupport::testUser());
    p.add("Password= " + testsupport::testPassword());
    p.add("Server= " + testsupport::testHost());
    p.add("Port= " + QString::number(testsupport::testPort()));
    return p;
}

void runOrThrow(PGconn* conn, const char* sql)
{
    ResultPtr res(PQexec(conn, sql), &PQclear);
    if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
        throw std::runtime_error(PQresultErrorMessage(res.get()));
}

ConnPtr bareConnection()
{
    ConnPtr conn(PQconnectdb(benchParams().toConninfo().toUtf8().constData()), &PQfinish);
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(conn.get()));
    return conn;
}

// Empties the tables outside the timed part.
void emptyTables()
{
    ConnPtr conn = bareConnection();
    runOrThrow(conn.get(), "TRUNCATE bench_layer, bench_bare");
}

QString nameFor(int i)
{
    return QStringLiteral("Cliente %1").arg(i);
}

const QDate kDay(2024, 3, 5);

// One row the program's way: set the text, bind by name, prepare, execute.
void layerRow(db::Query& q, const QString& sql, int i)
{
    q.setText(sql);
    q.bindInteger("ID", i);
    q.bindText("NOME", nameFor(i));
    q.bindFloat("VALOR", i * 0.25);
    q.bindDate("DT", kDay.addDays(i % 365));
    q.prepare();
    q.exec();
}

// The same row on the bare client library, values written as text as any
// caller must.
void bareRow(PGconn* conn, int i)
{
    const QByteArray id = QByteArray::number(i);
    const QByteArray nome = nameFor(i).toUtf8();
    const QByteArray valor = QByteArray::number(i * 0.25, 'g', 17);
    const QByteArray dt = kDay.addDays(i % 365).toString(Qt::ISODate).toLatin1();
    const char* values[] = {id.constData(), nome.constData(), valor.constData(), dt.constData()};
    ResultPtr res(PQexecPrepared(conn, "ins", 4, values, nullptr, nullptr, 0), &PQclear);
    if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
        throw std::runtime_error(PQresultErrorMessage(res.get()));
}

ConnPtr preparedBareConnection()
{
    ConnPtr conn = bareConnection();
    ResultPtr res(PQprepare(conn.get(), "ins", kInsertPositional, 0, nullptr), &PQclear);
    if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
        throw std::runtime_error(PQresultErrorMessage(res.get()));
    return conn;
}

// Client on the first CPU, every server session on the second: each round
// trip then crosses CPUs the same way for both sides. Left to the scheduler,
// one session may share the client's CPU and the other not, which on a
// small VM changes a run's time by a factor of two. Best effort.
void pinSessions(std::initializer_list<PGconn*> sessions)
{
    if (sysconf(_SC_NPROCESSORS_ONLN) < 2)
        return;
    cpu_set_t client;
    CPU_ZERO(&client);
    CPU_SET(0, &client);
    cpu_set_t server;
    CPU_ZERO(&server);
    CPU_SET(1, &server);
    bool pinned = sched_setaffinity(0, sizeof client, &client) == 0;
    for (PGconn* session : sessions)
        pinned = sched_setaffinity(PQbackendPID(session), sizeof server, &server) == 0 && pinned;
    if (!pinned)
        std::fprintf(stderr, "note: could not pin client and server sessions; figures will be noisier\n");
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of this thread alone: what the client side costs, whatever the
// server and the rest of the machine are doing.
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_LayerInsert(benchmark::State& state)
{
    db::Connection conn(benchParams());
    conn.open();
    pinSessions({conn.handle()});
    db::Query q(conn);
    const QString sql = QString::fromLatin1(kInsertNamed);
    for (auto _ : state) {
        state.PauseTiming();
        emptyTables();
        state.ResumeTiming();
        const auto start = Clock::now();
        for (int i = 0; i < kRows; ++i)
            layerRow(q, sql, i);
        g_bestLayer = std::min(g_bestLayer, secondsSince(start));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_BareLibpqInsert(benchmark::State& state)
{
    ConnPtr conn = preparedBareConnection();
    pinSessions({conn.get()});
    for (auto _ : state) {
        state.PauseTiming();
        emptyTables();
        state.ResumeTiming();
        const auto start = Clock::now();
        for (int i = 0; i < kRows; ++i)
            bareRow(conn.get(), i);
        g_bestBare = std::min(g_bestBare, secondsSince(start));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

// Both sides in one run, taking turns every kBlock rows, so a busy moment of
// the machine weighs on both alike; the ratio of the two sums is the figure.
void BM_PairedInsert(benchmark::State& state)
{
    db::Connection conn(benchParams());
    conn.open();
    db::Query q(conn);
    const QString sql = QString::fromLatin1(kInsertNamed);
    ConnPtr bare = preparedBareConnection();
    pinSessions({conn.handle(), bare.get()});
    for (auto _ : state) {
        state.PauseTiming();
        emptyTables();
        state.ResumeTiming();
        double layer = 0;
        double plain = 0;
        double layerCpu = 0;
        double plainCpu = 0;
        for (int block = 0; block < kRows; block += kBlock) {
            auto start = Clock::now();
            double cpu = threadCpuSeconds();
            for (int i = block; i < block + kBlock; ++i)
                layerRow(q, sql, i);
            layer += secondsSince(start);
            layerCpu += threadCpuSeconds() - cpu;
            start = Clock::now();
            cpu = threadCpuSeconds();
            for (int i = block; i < block + kBlock; ++i)
                bareRow(bare.get(), i);
            plain += secondsSince(start);
            plainCpu += threadCpuSeconds() - cpu;
        }
        g_pairedRatios.push_back(layer / plain);
        g_layerCpuPerRow.push_back(layerCpu / kRows);
        g_bareCpuPerRow.push_back(plainCpu / kRows);
        state.counters["layer_ms"] = layer * 1000.0;
        state.counters["bare_ms"] = plain * 1000.0;
        state.counters["ratio"] = layer / plain;
        state.counters["layer_cpu_us_row"] = layerCpu / kRows * 1e6;
        state.counters["bare_cpu_us_row"] = plainCpu / kRows * 1e6;
    }
    state.SetItemsProcessed(state.iterations() * kRows * 2);
}

BENCHMARK(BM_LayerInsert)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_BareLibpqInsert)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_PairedInsert)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    g_database = QString("qs_bench_%1").arg(getpid());
    try {
        testsupport::execAdmin("DROP DATABASE IF EXISTS " + g_database);
        testsupport::execAdmin("CREATE DATABASE " + g_database + " TEMPLATE template0");
        ConnPtr conn = bareConnection();
        for (const char* table : {"bench_layer", "bench_bare"})
            runOrThrow(conn.get(), (std::string("CREATE TABLE ") + table
                                    + " (id int PRIMARY KEY, nome varchar(60), valor numeric(15,2), dt date)")
                                       .c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot prepare the benchmark database: %s\n", e.what());
        return 1;
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    int rc = 0;
    if (g_bestLayer < std::numeric_limits<double>::max() && g_bestBare < std::numeric_limits<double>::max()) {
        std::printf("\n%d inserts, best separate run: layer %.1f ms, bare libpq %.1f ms, ratio %.3f\n", kRows,
                    g_bestLayer * 1000.0, g_bestBare * 1000.0, g_bestLayer / g_bestBare);
    }
    if (!g_pairedRatios.empty()) {
        const auto [low, high] = std::minmax_element(g_pairedRatios.begin(), g_pairedRatios.end());
        std::printf("%d inserts per side, taking turns: median ratio layer/bare %.3f over %zu runs "
                    "(min %.3f, max %.3f; target <= 1.10)\n",
                    kRows, median(g_pairedRatios), g_pairedRatios.size(), *low, *high);
        std::printf("client CPU per row (median): layer %.2f us, bare libpq %.2f us\n",
                    median(g_layerCpuPerRow) * 1e6, median(g_bareCpuPerRow) * 1e6);
    }
    try {
        testsupport::execAdmin("DROP DATABASE IF EXISTS " + g_database + " WITH (FORCE)");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "could not drop %s: %s\n", qPrintable(g_database), e.what());
        rc = 1;
    }
    return rc;
}
