// Imports one terminal's day of fiscal records (20,000 REGISTRO_60I and
// 2,000 REGISTRO_60D rows) with Carga_Registro into a server that already
// holds that day, once on the fast cluster and once on the durable one, and
// in the same run, as the floor, moves the same rows with the server's own
// COPY out and COPY in, committed (a durable commit on the durable
// cluster). Prints both, their ratio, the statements and commits the data
// layer counted for the import, and the cost of one autocommit write on the
// same link.
//
// Needs the clusters' addresses in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_DURABLE_PGPORT / QS_TEST_PGUSER (scripts/bench.sh fiscal_import_bench
// sets them).

#include "bench_floor.h"
#include "bench_modes.h"
#include "bench_timing.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/statement_counts.h"
#include "sales/carga_registro.h"
#include "sales/carga_vendas.h"
#include "sales/sales_view.h"
#include "sales_server.h"
#include "support/bare_pg.h"
#include "support/recording_dialogs.h"
#include "support/test_db.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kItems = 20000; // REGISTRO_60I rows of the day
constexpr int kTotals = 2000; // REGISTRO_60D rows of the day

const char* const k60IColumns
    = "DT_EMISSAO, NUM_SERIE, MODELO_DOC, NUM_ORDEM, NUM_ITEM, COD_PRODUTO, QUANTIDADE, "
      "VR_UNITARIO, BASE_CALC_ICMS, SIT_TRIBUTARIA, VALOR_ICMS";
const char* const k60DColumns = "DT_EMISSAO, NUM_SERIE, COD_PRODUTO, QUANTIDADE, VR_UNITARIO, "
                                "BASE_CALC_ICMS, SIT_TRIBUTARIA, VALOR_ICMS";

using benchtiming::Clock;
using benchtiming::secondsSince;
using benchtiming::median;
using testsupport::PgConn;
using testsupport::PgResult;

using salesbench::NullView;

void expectStatus(PGconn* conn, PGresult* r, ExecStatusType wanted)
{
    if (PQresultStatus(r) != wanted)
        throw std::runtime_error(PQerrorMessage(conn));
}

// The day's rows: the same shape on the terminal (with EXPORTADO) and on
// the server (the older set of the same day).
void fillDay(const testsupport::TestDatabase& db, bool terminal, const char* variant)
{
    const QString exp = terminal ? ", EXPORTADO" : "";
    const QString zero = terminal ? ", 0" : "";
    db.exec(
        QString("INSERT INTO REGISTRO_60I (%1%2) SELECT '2024-03-05', 'BE091910100011223344', '2D', k / 8, "
                "k % 8 + 1, '789' || lpad((k % 3000)::text, 10, '0'), 1 + k % 5, 4.99 + k % 40, "
                "(1 + k % 5) * (4.99 + k % 40), 'T%3', round((1 + k % 5) * (4.99 + k % 40) * 0.18, 2)%4 "
                "FROM generate_series(1, %5) k")
            .arg(k60IColumns, exp, variant, zero)
            .arg(kItems));
    db.exec(
        QString("INSERT INTO REGISTRO_60D (%1%2) SELECT '2024-03-05', 'BE091910100011223344', '789' || "
                "lpad(k::text, 10, '0'), 7 + k % 11, 4.99 + k % 40, (7 + k % 11) * (4.99 + k % 40), 'T%3', "
                "round((7 + k % 11) * (4.99 + k % 40) * 0.18, 2)%4 FROM generate_series(1, %5) k")
            .arg(k60DColumns, exp, variant, zero)
            .arg(kTotals));
    db.exec("ANALYZE");
}

struct Store {
    testsupport::TestDatabase server { testsupport::Template::Server };
    testsupport::TestDatabase pdv { testsupport::Template::Terminal };
    QTemporaryDir folder;

    Store()
    {
        server.exec("INSERT INTO CONFIG (CONTROLE_ESTQ_LOC) VALUES ('False')");
        server.exec("INSERT INTO ABERTURA (DT_MOVIMENTO) VALUES ('2024-03-05')");
        server.exec(
            QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, ECF_STATUS, "
                    "IMPORTACAO) VALUES ('001', '%1', '%2', '%3', '%4', '%5', 'A', 0, 3)")
                .arg(
                    pdv.name(), testsupport::testUser(), testsupport::testPassword(), testsupport::testHost())
                .arg(testsupport::testPort()));
        fillDay(server, false, "07"); // the set the server got earlier that day
        fillDay(pdv, true, "18");
        QDir(folder.path()).mkdir("QuiborSync_Logs");
        common::setProgramFolder(folder.path());
    }
    ~Store() { common::setProgramFolder(QString()); }
};

// The same rows with COPY out of the terminal and COPY into the server.
void copyOutIn(PGconn* source, PGconn* destination, const QString& table, const char* columns)
{
    const QByteArray out = QString("COPY (SELECT %1 FROM %2) TO STDOUT").arg(columns, table).toUtf8();
    const QByteArray in = QString("COPY %1 (%2) FROM STDIN").arg(table, columns).toUtf8();
    PgResult outStart(PQexec(source, out.constData()));
    expectStatus(source, outStart.get(), PGRES_COPY_OUT);
    PgResult inStart(PQexec(destination, in.constData()));
    expectStatus(destination, inStart.get(), PGRES_COPY_IN);
    char* buffer = nullptr;
    int length = 0;
    while ((length = PQgetCopyData(source, &buffer, 0)) > 0) {
        PQputCopyData(destination, buffer, length);
        PQfreemem(buffer);
    }
    PgResult outDone(PQgetResult(source));
    expectStatus(source, outDone.get(), PGRES_COMMAND_OK);
    PQputCopyEnd(destination, nullptr);
    PgResult inDone(PQgetResult(destination));
    expectStatus(destination, inDone.get(), PGRES_COMMAND_OK);
}

void BM_FiscalImport(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    if (benchmodes::skipUnavailable(state, mode))
        return;
    const benchmodes::ModeScope scope(mode);
    for (auto _ : state) {
        state.PauseTiming();
        Store store;
        testsupport::ScopedRecordingDialogs dialogs;
        NullView view;
        bool importacaoLivre = true;
        salesbench::SalesServer server(store.server.params());
        const sales::SalesImportLinks links = server.links(view, importacaoLivre);
        sales::Carga_Vendas vendas(links);
        sales::Carga_Registro registro(links, vendas);
        PgConn source = testsupport::connectBare(store.pdv.name());
        PgConn destination = testsupport::connectBare(store.server.name());
        state.ResumeTiming();

        const db::StatementCounts before = db::statementCounts();
        const auto start = Clock::now();
        registro.run();
        const double import = secondsSince(start);
        const db::StatementCounts counted = db::statementCounts() - before;

        state.PauseTiming();
        const bool replaced
            = store.server.scalar("SELECT count(*) FROM REGISTRO_60I WHERE SIT_TRIBUTARIA = 'T18'")
                == QString::number(kItems)
            && store.server.scalar("SELECT count(*) FROM REGISTRO_60I") == QString::number(kItems)
            && store.server.scalar("SELECT count(*) FROM REGISTRO_60D WHERE SIT_TRIBUTARIA = 'T18'")
                == QString::number(kTotals)
            && store.server.scalar("SELECT count(*) FROM REGISTRO_60D") == QString::number(kTotals)
            && store.pdv.scalar("SELECT count(*) FROM REGISTRO_60I WHERE EXPORTADO <> 2") == "0"
            && dialogs->shown.empty();
        if (!replaced)
            state.SkipWithError("the import did not replace the day");

        // The floor commits as the import does: on the durable cluster the
        // rows' WAL is flushed before COMMIT returns.
        const auto copyStart = Clock::now();
        PgResult begin(PQexec(destination.get(), "BEGIN"));
        copyOutIn(source.get(), destination.get(), "REGISTRO_60I", k60IColumns);
        copyOutIn(source.get(), destination.get(), "REGISTRO_60D", k60DColumns);
        PgResult commit(PQexec(destination.get(), "COMMIT"));
        expectStatus(destination.get(), commit.get(), PGRES_COMMAND_OK);
        const double copy = secondsSince(copyStart);
        const benchfloor::LinkCosts link = benchfloor::measureLink(destination.get(), 200);

        state.SetIterationTime(import);
        std::printf("[%s] COPY floor %.0f ms (out + in + commit) | import %.0f ms, %.2f x COPY; %s; "
                    "autocommit write %.0f us, round trip %.0f us\n",
                    benchmodes::name(mode), copy * 1000, import * 1000, import / copy,
                    benchfloor::countsText(counted).c_str(), link.write * 1e6, link.read * 1e6);
        std::fflush(stdout);
        char detail[200];
        std::snprintf(detail, sizeof detail, "COPY floor %.0f ms, import %.2f x COPY; %s", copy * 1000, import / copy,
                      benchfloor::countsText(counted).c_str());
        benchmodes::sideBySide().add("fiscal import", mode, import * 1000, detail);
        benchmodes::sideBySide().add("COPY out+in+commit of the same rows", mode, copy * 1000);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * (kItems + kTotals));
}

BENCHMARK(BM_FiscalImport)
    ->Arg(benchmodes::Fast)
    ->Arg(benchmodes::Durable)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // As the program's own entry does: one time-zone lookup, not one per row.
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%d + %d rows:", kItems, kTotals);
    benchmodes::sideBySide().print();
    benchmodes::sideBySide().printRatio("import against COPY", "fiscal import", "COPY out+in+commit of the same rows");
    return 0;
}
