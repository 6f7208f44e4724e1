// The manual full customer export: 10,000 customers, each with three open
// instalments and a cheque, built once on the server and copied to three
// terminals. Prints the wall time of the run, the time spent building the
// export table beside the floor of its statements (3 per customer at the
// measured round trip), and each terminal copy beside COPY of the same rows.
// The first run fills empty terminals, the second updates every row.
//
// Needs the test cluster's address in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_TEST_PGUSER (scripts/bench.sh sets them).

#include "common/event_pump.h"
#include "common/log_path.h"
#include "db/connection.h"
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
        if (progressLines > 0 && buildEnd == Clock::time_point{})
            buildEnd = Clock::now();
    }
    void addMemo1(const QString& line) override
    {
        if (line.startsWith("Exportando "))
            copyStarts.push_back(Clock::now());
        else if (buildEnd == Clock::time_point{})
            ++progressLines;
    }
    void clearMemo2() override {}
    void addMemo2(const QString&) override {}
    void setProgress(int percent) override
    {
        if (percent > 0 && copyEnds.size() < copyStarts.size())
            copyEnds.push_back(Clock::now());
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

Store& store()
{
    static Store s;
    return s;
}

// Mean round trip of a prepared one-row SELECT on the server, bare client library.
double roundTripMs()
{
    testsupport::PgConn conn = testsupport::connectBare(store().server.name());
    testsupport::PgResult prepared(PQprepare(conn.get(), "rt", "SELECT $1::integer", 1, nullptr));
    constexpr int kTrips = 3000;
    const char* value = "1";
    const auto start = Clock::now();
    for (int i = 0; i < kTrips; ++i) {
        testsupport::PgResult r(PQexecPrepared(conn.get(), "rt", 1, &value, nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            throw std::runtime_error(PQerrorMessage(conn.get()));
    }
    return msSince(start) / kTrips;
}

// COPY of the rows the export left on terminal 1 into an empty CLIENTES.
double copyProtocolMs()
{
    testsupport::PgConn source = testsupport::connectBare(store().terminals[0]->name());
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
    double wall = 0;
    double build = 0;
    double roundTrip = 0;  // measured just before and just after the run
    double copyProtocol = 0;
    std::vector<double> copies;
};
std::vector<Figures>& runs()
{
    static std::vector<Figures> r;
    return r;
}

void BM_ManualFullExport(benchmark::State& state)
{
    Store& s = store();
    db::Connection server(s.server.params());
    server.open();
    update::UpdateFlags flags;
    update::VendasLink vendas;
    for (auto _ : state) {
        TimedView view;
        update::ExportacaoClientes exportacao({server, view, flags, {}, [] { return qint64(3); }, vendas});
        Figures f;
        const double before = roundTripMs();
        const auto start = Clock::now();
        exportacao.btn_exportar_clienteClick();
        f.wall = msSince(start);
        f.roundTrip = (before + roundTripMs()) / 2;
        f.copyProtocol = copyProtocolMs();
        f.build = std::chrono::duration<double, std::milli>(view.buildEnd - start).count();
        for (std::size_t i = 0; i < view.copyEnds.size(); ++i)
            f.copies.push_back(std::chrono::duration<double, std::milli>(view.copyEnds[i] - view.copyStarts[i]).count());
        if (view.progressLines != kCustomers || f.copies.size() != kTerminals
            || s.terminals.back()->scalar("SELECT count(*) FROM clientes") != QString::number(kCustomers))
            state.SkipWithError("the export did not send every customer to every terminal");
        state.SetIterationTime(f.wall / 1000);
        runs().push_back(f);
    }
}

BENCHMARK(BM_ManualFullExport)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

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
    if (runs().empty())
        return 0;

    std::printf("\n%d customers, each with 3 instalments and a cheque, to %d terminals "
                "(run 1 fills empty terminals, later runs update every row)\n",
                kCustomers, kTerminals);
    for (std::size_t i = 0; i < runs().size(); ++i) {
        const Figures& f = runs()[i];
        const double floor = 3.0 * kCustomers * f.roundTrip;
        std::printf("run %zu: wall %.0f ms; build %.0f ms, floor %.0f ms (round trip %.3f ms): %.2f x floor; "
                    "COPY of the rows %.0f ms, copies",
                    i + 1, f.wall, f.build, floor, f.roundTrip, f.build / floor, f.copyProtocol);
        for (double c : f.copies)
            std::printf(" %.0f ms (%.2f x)", c, c / f.copyProtocol);
        std::printf("\n");
    }
    return 0;
}
