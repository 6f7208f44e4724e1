// Runs the sales consistency check over 30 days of 2,000 "2D" sales a day
// (three items each, with their fiscal complement; one sale a day does not
// add up and is re-flagged on its terminal), once on the fast cluster and
// once on the durable one, and in the same run times, as the floor, its two
// server statements alone, run and read whole through a bare client
// connection. Prints both, their ratio and the statements and commits the
// data layer counted for the check.
//
// Needs the clusters' addresses in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_DURABLE_PGPORT / QS_TEST_PGUSER (scripts/bench.sh
// consistency_check_bench sets them).

#include "bench_floor.h"
#include "bench_modes.h"
#include "bench_timing.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/statement_counts.h"
#include "sales/carga_vendas.h"
#include "sales/consistir_vendas.h"
#include "sales/sales_view.h"
#include "sales_server.h"
#include "support/bare_pg.h"
#include "support/recording_dialogs.h"
#include "support/test_db.h"
#include "terminals/status_view.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QDate>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kDays = 30;
constexpr int kSalesPerDay = 2000;
constexpr int kItemsPerSale = 3;

// The check's two statements, with their parameters numbered: $1 DT_INICIO,
// $2 DT_FIM, $3 MODELO, $4 MODELO01.
const char* const kUnbalanced
    = "select transacao_id, banco_id, transacao_origem ,dt_trans ,sum(vr_transacao) vr_transacao,"
      "sum(vr_transitens) vr_transitens from( select transacao_id, banco_id, transacao_origem ,dt_trans ,"
      "SUM(valor) VR_TRANSACAO, 0 VR_TRANSITENS from transacoes where dt_trans BETWEEN $1 AND $2 "
      "and (MODELO = $3 OR MODELO = $4) group by TRANSACAO_ID,BANCO_ID, transacao_origem ,dt_trans "
      "union all select TRANSITENS.transacao_id , TRANSITENS.banco_id ,transacao_origem ,dt_trans, 0 "
      "VR_TRANSACAO, SUM (VR_TOTAL +  VALOR_ICMS_ST + TRANSITENS.VR_FRETE + TRANSITENS.VR_ACRESCIMO + "
      "TRANSITENS.VR_IPI  - DESC_RODAPE - VALOR_ICMS_DESON ) VR_TRANSITENS from TRANSITENS inner join "
      "TRANSACOES "
      "on TRANSACOES.transacao_id = TRANSITENS.transacao_id where dt_trans BETWEEN $1 AND $2 and "
      "(MODELO = $3) group by TRANSITENS.TRANSACAO_ID,TRANSITENS.BANCO_ID, transacao_origem , dt_trans ) as "
      "TESTE group  by transacao_id,banco_id,transacao_origem ,dt_trans order by TRANSACAO_ID ";
const char* const kWithoutComplement = "SELECT TRANSACAO_ID, BANCO_ID , TRANSACAO_ORIGEM, DT_TRANS  FROM "
                                       "TRANSACOES WHERE DT_TRANS BETWEEN $1 AND "
                                       "$2 \nAND (MODELO = $3)\nAND (TRANSACAO_ID NOT IN (SELECT "
                                       "TRANSACAO_ID FROM COMPL_NFISCAL WHERE DT_SAIDA "
                                       "BETWEEN $1 AND $2))\nORDER BY DT_TRANS";

using benchtiming::Clock;
using benchtiming::secondsSince;
using benchtiming::median;
using testsupport::PgConn;
using testsupport::PgResult;

class NullView : public salesbench::NullView, public terminals::StatusLinesView {
public:
    void clearStatusLines() override { }
    void addStatusLine(const QString&, terminals::LineColor) override { ++lines; }
    int lines = 0;
};

struct Store {
    testsupport::TestDatabase server { testsupport::Template::Server };
    testsupport::TestDatabase pdv { testsupport::Template::Terminal };
    QTemporaryDir folder;

    Store()
    {
        server.exec(QString(
            "INSERT INTO CONFIG (CONSISTIR_PDV, DIAS_CONSISTIR, TIMEOUT_ECFS) VALUES ('True', %1, 300)")
                        .arg(kDays - 1));
        server.exec("INSERT INTO ABERTURA (DT_MOVIMENTO) VALUES (current_date)");
        server.exec(
            QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, ECF_STATUS, "
                    "IMPORTACAO) VALUES ('001', '%1', '%2', '%3', '%4', '%5', 'A', 0, 0)")
                .arg(
                    pdv.name(), testsupport::testUser(), testsupport::testPassword(), testsupport::testHost())
                .arg(testsupport::testPort()));
        const QString sales = QString("generate_series(1, %1) k").arg(kDays * kSalesPerDay);
        // Sale k of day k % 30, on terminal 1; every 2000th has an item less.
        server.exec(
            QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                    "DT_MOVIMENTO, MODELO, CONDUTA, CLIENTE_ID, VALOR) SELECT k, 100000 + k, 1, k::text, "
                    "current_date - k % %2, current_date - k % %2, '2D', '01', 7, 30 FROM %1")
                .arg(sales)
                .arg(kDays));
        server.exec(
            QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, VR_TOTAL) "
                    "SELECT k, s, 1, current_date - k % %2, 1000 + s, 10 FROM %1, generate_series(1, %3) s "
                    "WHERE k % %4 <> 0 OR s < %3")
                .arg(sales)
                .arg(kDays)
                .arg(kItemsPerSale)
                .arg(kSalesPerDay));
        server.exec(
            QString("INSERT INTO COMPL_NFISCAL (TRANSACAO_ID, DT_SAIDA) SELECT k, current_date - k % %2 "
                    "FROM %1")
                .arg(sales)
                .arg(kDays));
        server.exec("ANALYZE");
        pdv.exec(QString(
            "INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, PRODUTO_ID, VR_TOTAL, EXPORTADO) "
            "SELECT 100000 + k, s, 1, 1000 + s, 10, 2 FROM generate_series(%1, %2, %1) k, "
            "generate_series(1, %3) s")
                     .arg(kSalesPerDay)
                     .arg(kDays * kSalesPerDay)
                     .arg(kItemsPerSale));
        QDir(folder.path()).mkdir("QuiborSync_Logs");
        common::setProgramFolder(folder.path());
    }
    ~Store() { common::setProgramFolder(QString()); }
};

// Both statements run and read whole, as the check binds them.
double statementsAlone(PGconn* conn)
{
    const QByteArray inicio = QDate::currentDate().addDays(-(kDays - 1)).toString(Qt::ISODate).toUtf8();
    const QByteArray fim = QDate::currentDate().toString(Qt::ISODate).toUtf8();
    const char* params[4] = { inicio.constData(), fim.constData(), "2D", nullptr };
    const auto start = Clock::now();
    PgResult unbalanced(PQexecParams(conn, kUnbalanced, 4, nullptr, params, nullptr, nullptr, 0));
    PgResult withoutComplement(
        PQexecParams(conn, kWithoutComplement, 3, nullptr, params, nullptr, nullptr, 0));
    const double seconds = secondsSince(start);
    if (PQresultStatus(unbalanced.get()) != PGRES_TUPLES_OK
        || PQresultStatus(withoutComplement.get()) != PGRES_TUPLES_OK)
        throw std::runtime_error(PQerrorMessage(conn));
    if (PQntuples(unbalanced.get()) != kDays * kSalesPerDay)
        throw std::runtime_error("the statement did not find every sale");
    return seconds;
}

void BM_ConsistencyCheck(benchmark::State& state)
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
        bool pendente = true;
        salesbench::SalesServer server(store.server.params());
        sales::Carga_Vendas vendas(server.links(view, importacaoLivre));
        sales::Consistir_Vendas check(sales::ConsistirLinks { server.connection(), server.config(), view, view, {},
            [&](const db::Dataset& row) -> db::Connection& { return vendas.novaConexaoPdv(row); },
            [&] { return vendas.conexaoPdv(); }, pendente });
        PgConn bare = testsupport::connectBare(store.server.name());
        state.ResumeTiming();

        const db::StatementCounts before = db::statementCounts();
        const auto start = Clock::now();
        check.run();
        const double seconds = secondsSince(start);
        const db::StatementCounts counted = db::statementCounts() - before;

        state.PauseTiming();
        const double alone = statementsAlone(bare.get());
        const bool reflagged = check.Fdac_Temp().recordCount() == kDays
            && store.pdv.scalar("SELECT count(*) FROM TRANSITENS WHERE EXPORTADO = 0")
                == QString::number(kDays * kItemsPerSale)
            && !pendente && view.lines == 0 && dialogs->shown.empty();
        if (!reflagged)
            state.SkipWithError("the check did not re-flag the unbalanced sales");
        state.SetIterationTime(seconds);
        std::printf("[%s] floor: its two statements alone %.0f ms | check %.0f ms, %.2f x; %s\n",
                    benchmodes::name(mode), alone * 1000, seconds * 1000, seconds / alone,
                    benchfloor::countsText(counted).c_str());
        std::fflush(stdout);
        char detail[200];
        std::snprintf(detail, sizeof detail, "floor (its two statements) %.0f ms, %.2f x; %s", alone * 1000,
                      seconds / alone, benchfloor::countsText(counted).c_str());
        benchmodes::sideBySide().add("consistency check", mode, seconds * 1000, detail);
        benchmodes::sideBySide().add("its two statements alone", mode, alone * 1000);
        state.ResumeTiming();
    }
}

BENCHMARK(BM_ConsistencyCheck)
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
    std::printf("\n%d sales over %d days:", kDays * kSalesPerDay, kDays);
    benchmodes::sideBySide().print();
    benchmodes::sideBySide().printRatio("check against its statements", "consistency check", "its two statements alone");
    return 0;
}
