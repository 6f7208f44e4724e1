// The manual full customer export: 10,000 customers, each with three open
// instalments and a cheque, built once on the server and copied to three
// terminals; once on the fast cluster and once on the durable one. Prints
// the wall time of the run, the time spent building the export table
// beside the sequential floor of the statements and commits the data layer
// counted for it (each statement at the round trip of a trivial prepared
// SELECT, each commit at the cost of a single-row autocommit INSERT,
// measured on the same link in the same run), and each terminal copy beside
// COPY of the same rows (autocommit, so committed) with its own counts.
// The first run fills empty terminals, the later ones update every row.
//
// Needs the clusters' addresses in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_DURABLE_PGPORT / QS_TEST_PGUSER (scripts/bench.sh sets them).

#include "bench_floor.h"
#include "bench_modes.h"
#include "common/event_pump.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/statement_counts.h"
#include "support/bare_pg.h"
#include "support/test_db.h"
#include "update/clientes_view.h"
#include "update/exportacao_clientes.h"
#include "update/update_flags.h"
#include "update/vendas_link.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kCustomers = 10000;
constexpr int kTerminals = 3;

using Clock = std::chrono::steady_clock;
using testsupport::Template;
using testsupport::TestDatabase;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Every box of the three terminals and "Exportar todos Registros" ticked;
// the points in time the run passes through are noted.
class TimedView : public update::ClientesView {
public:
    void clearMemo1() override
    {
        if (progressLines > 0 && buildEnd == Clock::time_point{}) {
            buildEnd = Clock::now();
            buildEndCounts = db::statementCounts();
        }
    }
    void addMemo1(const QString& line) override
    {
        if (line.startsWith("Exportando ")) {
            copyStarts.push_back(Clock::now());
            copyStartCounts.push_back(db::statementCounts());
        }
        else if (buildEnd == Clock::time_point{})
            ++progressLines;
    }
    void clearMemo2() override {}
    void addMemo2(const QString&) override {}
    void addInterruptionLine(const QString&) override {}
    void setProgress(int percent) override
    {
        if (percent > 0 && copyEnds.size() < copyStarts.size()) {
            copyEnds.push_back(Clock::now());
            copyEndCounts.push_back(db::statementCounts());
        }
    }
    void repaintProgress() override {}
    void setExportButtonEnabled(bool) override {}
    bool ecfChecked(int n) const override { return n <= kTerminals; }
    void checkEcf(int) override {}
    bool todasEcfs() const override { return false; }
    void checkTodasEcfs() override {}
    void enableTodasEcfs() override {}
    bool chkTotal() const override { return true; }
    void checkChkTotal() override {}
    void checkEveryBoxButTotal() override {}
    void uncheckEveryBox() override {}

    int progressLines = 0;
    Clock::time_point buildEnd{};
    std::vector<Clock::time_point> copyStarts;
    std::vector<Clock::time_point> copyEnds;
    db::StatementCounts buildEndCounts;
    std::vector<db::StatementCounts> copyStartCounts;
    std::vector<db::StatementCounts> copyEndCounts;
};

struct Store {
    TestDatabase server{Template::Server};
    std::vector<std::unique_ptr<TestDatabase>> terminals;
    QTemporaryDir folder;

    Store()
    {
        server.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, CLIENTE_ID) VALUES (1, 'PRAZO', 0)");
        server.exec(QString("INSERT INTO CLIENTES (CLIENTE_ID, NOME, CNPJ, ENDERECO, NUMERO, BAIRRO, MUNICIPIO, "
                            "ESTADO, IBGE, COD_PAIS, EMAIL, LIMITE, LIMITE_CHEQUE, BLOQUEADO, BLOQ_CHEQUE, STATUS, "
                            "CARTAO_IDENT1, SENHA, OBSERVACAO, DT_ATUALIZACAO) "
                            "SELECT g, 'CLIENTE ' || lpad(g::text, 6, '0') || ' DA SILVA', '123.456.789-' || "
                            "lpad((g % 100)::text, 2, '0'), 'RUA DAS FLORES ' || g, (g % 999)::text, 'CENTRO', "
                            "'CAMPINAS', 'SP', '3509502', '1058', 'cliente' || g || '@loja.com', 1500, 300, "
                            "'NAO', 'NAO', 'A', lpad(g::text, 13, '0'), '1234', 'CLIENTE DESDE 2010', "
                            "current_date - g % 30 FROM generate_series(1, %1) g")
                        .arg(kCustomers));
        server.exec(QString("INSERT INTO TRANSACOES (TRANSACAO_ID, CLIENTE_ID, EMPRESA_ID, CONDUTA, COND_PAGTO, "
                            "FINALIZADORA_ID, PARCELA_ID, VALOR) SELECT g, (g - 1) / 3 + 1, 3, '01', 'A PRAZO', 1, "
                            "'1', 10 + g % 90 FROM generate_series(1, %1) g")
                        .arg(kCustomers * 3));
        server.exec("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, DT_VENCIMENTO, "
                    "VALOR, AGRUPAMENTO) SELECT TRANSACAO_ID, '1', 'T', 0, current_date + (TRANSACAO_ID % 60) - 30, "
                    "VALOR, 0 FROM TRANSACOES");
        server.exec(QString("INSERT INTO CHEQUES_RECEBIDOS (CLIENTE_ID, VALOR, BANCO_ID) SELECT g, 50 + g % 200, "
                            "NULL FROM generate_series(1, %1) g")
                        .arg(kCustomers));
        server.exec("ANALYZE");
        for (int n = 1; n <= kTerminals; ++n) {
            terminals.push_back(std::make_unique<TestDatabase>(Template::Terminal));
            server.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS) VALUES "
                                "('%1', '%2', '%3', '%4', '%5', '%6', 'A')")
                            .arg(QString("%1").arg(n, 3, 10, QChar('0')), terminals.back()->name(),
                                 testsupport::testUser(), testsupport::testPassword(), testsupport::testHost())
                            .arg(testsupport::testPort()));
        }
        QDir(folder.path()).mkdir("QuiborSync_Logs");
        common::setProgramFolder(folder.path());
    }
};

// One store per cluster, made on first use under the mode's scope.
std::map<int, std::unique_ptr<Store>>& stores()
{
    static std::map<int, std::unique_ptr<Store>> s;
    return s;
}

Store& store(int mode)
{
    std::unique_ptr<Store>& s = stores()[mode];
    if (!s)
        s = std::make_unique<Store>();
    return *s;
}

// Both statements of the floor on a bare connection to the server.
benchfloor::LinkCosts linkCosts(int mode)
{
    testsupport::PgConn conn = testsupport::connectBare(store(mode).server.name());
    return benchfloor::measureLink(conn.get(), 1000);
}

// COPY of the rows the export left on terminal 1 into an empty CLIENTES.
double copyProtocolMs(int mode)
{
    testsupport::PgConn source = testsupport::connectBare(store(mode).terminals[0]->name());
    testsupport::PgResult out(PQexec(source.get(), "COPY clientes TO STDOUT"));
    std::string data;
    char* buffer = nullptr;
    int length = 0;
    while ((length = PQgetCopyData(source.get(), &buffer, 0)) > 0) {
        data.append(buffer, static_cast<std::size_t>(length));
        PQfreemem(buffer);
    }
    testsupport::PgResult outDone(PQgetResult(source.get()));

    TestDatabase empty(Template::Terminal);
    testsupport::PgConn destination = testsupport::connectBare(empty.name());
    const auto start = Clock::now();
    testsupport::PgResult in(PQexec(destination.get(), "COPY clientes FROM STDIN"));
    PQputCopyData(destination.get(), data.data(), static_cast<int>(data.size()));
    PQputCopyEnd(destination.get(), nullptr);
    testsupport::PgResult inDone(PQgetResult(destination.get()));
    const double ms = msSince(start);
    if (PQresultStatus(inDone.get()) != PGRES_COMMAND_OK)
        throw std::runtime_error(PQerrorMessage(destination.get()));
    return ms;
}

struct Figures {
    int mode = 0;
    double wall = 0;
    double build = 0;
    db::StatementCounts buildCounts;
    benchfloor::LinkCosts link; // measured just before and just after the run
    double copyProtocol = 0;
    std::vector<double> copies;
    std::vector<db::StatementCounts> copyCounts;
};
std::vector<Figures>& runs()
{
    static std::vector<Figures> r;
    return r;
}

void BM_ManualFullExport(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    if (benchmodes::skipUnavailable(state, mode))
        return;
    const benchmodes::ModeScope scope(mode);
    Store& s = store(mode);
    db::Connection server(s.server.params());
    server.open();
    update::UpdateFlags flags;
    update::VendasLink vendas;
    for (auto _ : state) {
        TimedView view;
        update::ExportacaoClientes exportacao({server, view, flags, {}, [] { return qint64(3); }, vendas});
        Figures f;
        f.mode = mode;
        const benchfloor::LinkCosts before = linkCosts(mode);
        const db::StatementCounts startCounts = db::statementCounts();
        const auto start = Clock::now();
        exportacao.btn_exportar_clienteClick();
        f.wall = msSince(start);
        const benchfloor::LinkCosts after = linkCosts(mode);
        f.link = {(before.read + after.read) / 2, (before.write + after.write) / 2};
        f.copyProtocol = copyProtocolMs(mode);
        f.build = std::chrono::duration<double, std::milli>(view.buildEnd - start).count();
        f.buildCounts = view.buildEndCounts - startCounts;
        for (std::size_t i = 0; i < view.copyEnds.size(); ++i) {
            f.copies.push_back(std::chrono::duration<double, std::milli>(view.copyEnds[i] - view.copyStarts[i]).count());
            f.copyCounts.push_back(view.copyEndCounts[i] - view.copyStartCounts[i]);
        }
        if (view.progressLines != kCustomers || f.copies.size() != kTerminals
            || s.terminals.back()->scalar("SELECT count(*) FROM clientes") != QString::number(kCustomers))
            state.SkipWithError("the export did not send every customer to every terminal");
        state.SetIterationTime(f.wall / 1000);
        runs().push_back(f);
    }
}

BENCHMARK(BM_ManualFullExport)
    ->Arg(benchmodes::Fast)
    ->Arg(benchmodes::Durable)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    common::setEventPump([] {}); // nothing else runs here
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int mode : {benchmodes::Fast, benchmodes::Durable}) {
        const benchmodes::ModeScope scope(mode);
        stores().erase(mode);
    }
    if (runs().empty())
        return 0;

    std::printf("\n%d customers, each with 3 instalments and a cheque, to %d terminals "
                "(run 1 of each mode fills empty terminals, later runs update every row)\n",
                kCustomers, kTerminals);
    int run = 0;
    int lastMode = -1;
    for (const Figures& f : runs()) {
        run = f.mode == lastMode ? run + 1 : 1;
        lastMode = f.mode;
        const double floor = benchfloor::sequentialFloor(f.buildCounts, f.link) * 1000;
        std::printf("[%s] run %d: build: %s | build %.0f ms, %.2f x that floor; %s; wall %.0f ms\n",
                    benchmodes::name(f.mode), run, benchfloor::floorText(f.buildCounts, f.link).c_str(), f.build,
                    f.build / floor, benchfloor::countsText(f.buildCounts).c_str(), f.wall);
        std::printf("[%s] run %d: copies: COPY floor %.0f ms (autocommit) | copies", benchmodes::name(f.mode), run,
                    f.copyProtocol);
        for (std::size_t i = 0; i < f.copies.size(); ++i)
            std::printf(" %.0f ms (%.2f x; %s)", f.copies[i], f.copies[i] / f.copyProtocol,
                        benchfloor::countsText(f.copyCounts[i]).c_str());
        std::printf("\n");
        const std::string phase = run == 1 ? "first run (fills)" : "later runs (update)";
        benchmodes::sideBySide().add("wall, " + phase, f.mode, f.wall);
        benchmodes::sideBySide().add("build, " + phase, f.mode, f.build,
                                     benchfloor::floorText(f.buildCounts, f.link));
        benchmodes::sideBySide().add("copy to terminal 1, " + phase, f.mode, f.copies.empty() ? 0 : f.copies[0],
                                     f.copyCounts.empty() ? std::string() : benchfloor::countsText(f.copyCounts[0]));
        benchmodes::sideBySide().add("COPY floor of one copy", f.mode, f.copyProtocol);
    }
    benchmodes::sideBySide().print();
    return 0;
}
