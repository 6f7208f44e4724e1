// Copies 100,000 sale items from one loopback database to another with the
// copy engine (always insert, commit every 100 rows) and, as the floor, with
// the server's own COPY out and COPY in (autocommit, so committed); once on
// the fast cluster and once on the durable one. Prints both, their ratio
// and the statements and commits the data layer counted for the engine.
//
// Needs the clusters' addresses in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_DURABLE_PGPORT / QS_TEST_PGUSER (scripts/bench.sh copy_run_bench
// sets them).

#include "bench_floor.h"
#include "bench_modes.h"
#include "db/connection.h"
#include "db/copy/copy_run.h"
#include "db/statement_counts.h"
#include "support/bare_pg.h"
#include "support/test_db.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kRows = 100000;

const char* const kTable =
    "CREATE TABLE transitens ("
    " id integer PRIMARY KEY,"
    " transacao_id integer NOT NULL,"
    " item smallint NOT NULL,"
    " produto_id integer NOT NULL,"
    " codigo_barras varchar(14),"
    " descricao varchar(120),"
    " descricao_reduzida varchar(40),"
    " unidade varchar(6),"
    " quantidade numeric(15,3),"
    " preco_unitario numeric(15,2),"
    " preco_total numeric(15,2),"
    " desconto numeric(15,2),"
    " data_venda date,"
    " hora_venda time,"
    " cst varchar(3),"
    " cfop varchar(5),"
    " cancelado char(1) DEFAULT 'N',"
    " exportado smallint DEFAULT 0)";

const char* const kFill =
    "INSERT INTO transitens SELECT g, g / 4, g % 4 + 1, 1000 + g % 5000,"
    " lpad((7890000000000 + g % 5000)::text, 13, '0'),"
    " 'PRODUTO DE TESTE COM DESCRICAO COMPLETA ' || (g % 5000), 'PROD ' || (g % 5000), 'UN',"
    " (g % 17) * 1.25, 3.99 + g % 100, round((g % 17) * 1.25 * (3.99 + g % 100), 2), 0,"
    " date '2024-01-01' + g % 365, time '08:00' + (g % 36000) * interval '1 second',"
    " '060', '5102', 'N', 0"
    " FROM generate_series(1, 100000) g";

struct Databases {
    testsupport::TestDatabase source;
    testsupport::TestDatabase destination;
    QTemporaryDir logFolder;

    Databases()
    {
        source.exec(kTable);
        destination.exec(kTable);
        source.exec(kFill);
        source.exec("ANALYZE transitens");
    }
};

// One pair per cluster, made on first use under the mode's scope.
std::map<int, std::unique_ptr<Databases>>& pairs()
{
    static std::map<int, std::unique_ptr<Databases>> p;
    return p;
}

Databases& databases(int mode)
{
    std::unique_ptr<Databases>& d = pairs()[mode];
    if (!d)
        d = std::make_unique<Databases>();
    return *d;
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using testsupport::PgConn;
using testsupport::PgResult;

PgConn connectTo(const testsupport::TestDatabase& db)
{
    return testsupport::connectBare(db.name());
}

void expectStatus(PGconn* conn, PGresult* r, ExecStatusType wanted)
{
    if (PQresultStatus(r) != wanted)
        throw std::runtime_error(PQerrorMessage(conn));
}

void BM_CopyEngine(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    if (benchmodes::skipUnavailable(state, mode))
        return;
    const benchmodes::ModeScope scope(mode);
    Databases& dbs = databases(mode);
    db::Connection reader(dbs.source.params());
    db::Connection writer(dbs.destination.params());
    reader.open();
    writer.open();
    for (auto _ : state) {
        dbs.destination.exec("TRUNCATE transitens");
        db::CopyConfig config;
        config.readerConnection = &reader;
        config.readerSql = "SELECT * FROM transitens";
        config.writerConnection = &writer;
        config.writerSql = "SELECT * FROM transitens";
        config.mode = db::CopyMode::AlwaysInsert;
        config.logFile = dbs.logFolder.filePath("Log_Bench.log");
        const db::StatementCounts before = db::statementCounts();
        const auto start = Clock::now();
        db::CopyRun run(config);
        const int written = run.run();
        const double seconds = secondsSince(start);
        const db::StatementCounts counted = db::statementCounts() - before;
        if (written != kRows)
            state.SkipWithError("the engine did not write every row");
        state.SetIterationTime(seconds);
        std::printf("[%s] engine %.0f ms; %s\n", benchmodes::name(mode), seconds * 1000,
                    benchfloor::countsText(counted).c_str());
        benchmodes::sideBySide().add("copy engine", mode, seconds * 1000, benchfloor::countsText(counted));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_CopyProtocol(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    if (benchmodes::skipUnavailable(state, mode))
        return;
    const benchmodes::ModeScope scope(mode);
    Databases& dbs = databases(mode);
    PgConn source = connectTo(dbs.source);
    PgConn destination = connectTo(dbs.destination);
    for (auto _ : state) {
        dbs.destination.exec("TRUNCATE transitens");
        const auto start = Clock::now();
        PgResult out(PQexec(source.get(), "COPY transitens TO STDOUT"));
        expectStatus(source.get(), out.get(), PGRES_COPY_OUT);
        PgResult in(PQexec(destination.get(), "COPY transitens FROM STDIN"));
        expectStatus(destination.get(), in.get(), PGRES_COPY_IN);
        char* buffer = nullptr;
        int length = 0;
        while ((length = PQgetCopyData(source.get(), &buffer, 0)) > 0) {
            PQputCopyData(destination.get(), buffer, length);
            PQfreemem(buffer);
        }
        PgResult outDone(PQgetResult(source.get()));
        expectStatus(source.get(), outDone.get(), PGRES_COMMAND_OK);
        PQputCopyEnd(destination.get(), nullptr);
        PgResult inDone(PQgetResult(destination.get()));
        expectStatus(destination.get(), inDone.get(), PGRES_COMMAND_OK);
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        std::printf("[%s] COPY floor %.0f ms\n", benchmodes::name(mode), seconds * 1000);
        benchmodes::sideBySide().add("COPY floor: out + in, autocommit", mode, seconds * 1000);
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_CopyProtocol)
    ->Arg(benchmodes::Fast)
    ->Arg(benchmodes::Durable)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyEngine)
    ->Arg(benchmodes::Fast)
    ->Arg(benchmodes::Durable)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int mode : {benchmodes::Fast, benchmodes::Durable}) {
        const benchmodes::ModeScope scope(mode);
        pairs().erase(mode);
    }
    std::printf("\n%d rows:", kRows);
    benchmodes::sideBySide().print();
    benchmodes::sideBySide().printRatio("engine against COPY", "copy engine", "COPY floor: out + in, autocommit");
    return 0;
}
