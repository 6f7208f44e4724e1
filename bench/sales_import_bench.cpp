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
#include "common/event_pump.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/query.h"
#include "sales/carga_vendas.h"
#include "sales/sales_view.h"
#include "support/recording_dialogs.h"
#include "support/bare_pg.h"
#include "support/test_db.h"

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

constexpr int kTerminals = 3;
constexpr int kSales = 2000;
constexpr int kItemsPerSale = 5;
constexpr int kProbeEvery = 8; // event-loop turns between two floor samples
constexpr int kTightRounds = 2000;
constexpr int kHistorySales = 20000; // already on the server, from an earlier day

// Statements the import must send per sale (duplicate tests, sale lookups,
// sequence draws and inserts of the six hooked branches), and per terminal
// (marking, readers and writers, cancellation listing, request reset, last
// sale, monitor), not counting the status pass.
constexpr int kReadsPerSale = 2 + kItemsPerSale * 2 + 2 + 2 + 2;
constexpr int kWritesPerSale = 1 + kItemsPerSale + 1 + 1 + 1;
constexpr int kReadsPerTerminal
    = 7 /* new rows? */ + 5 /* readers */ + 5 /* writers */ + 1 /* cancellations */
    + 6 /* monitor */;
constexpr int kWritesPerTerminal = 5 /* 0 -> 1 */ + 5 /* 1 -> 2 */ + 1 /* request */ + 1 /* ULTIMA_TRANS */
    + 2 /* touches */;
constexpr int kReadsPerRun = 1; // the request list

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class NullView : public sales::SalesView {
public:
    void appendMonitorLine(sales::MonitorPane, const QString&) override { }
    void showDatabaseLabel(const QString&) override { }
    void clearLabel9() override { }
    void repaintWindow() override { }
    void repaintStatusPane() override { }
    void setProgress(int) override { }
    void repaintProgress() override { }
};

using testsupport::PgConn;
using testsupport::PgResult;

PgConn connectTo(const testsupport::TestDatabase& db)
{
    return testsupport::connectBare(db.name());
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

void fillTerminal(testsupport::TestDatabase& pdv, int n, int sales)
{
    const QString range = QString("generate_series(1, %1) k").arg(sales);
    pdv.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, STATUS, SERIAL) VALUES ('%1', '%2', 'A', 'SN')")
                 .arg(n, 3, 10, QChar('0'))
                 .arg(pdv.name()));
    pdv.exec(
        QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                "DT_MOVIMENTO, DT_ENT_SAI, MODELO, CONDUTA, CLIENTE_ID, VALOR, VALOR_PRODUTOS, EMPRESA_ID, "
                "CONTA_ID, FUNCIONARIO_ID, HORA, COND_PAGTO, ITENS, UNIDADES, CHAVE_NFE, EXPORTADO) "
                "SELECT k, 100000 + k, %1, k::text, '2024-03-05', '2024-03-05', '2024-03-05', '65', '01', 7, "
                "50, 50, 1, 11, 21, '10:15:00', 'A VISTA', 5, 5, 'CHAVE' || k, 0 FROM %2")
            .arg(n)
            .arg(range));
    pdv.exec(
        QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, DESCRICAO, "
                "QUANTIDADE, VR_UNITARIO, VR_TOTAL, CST, CFOP, TP_PROD_SERV, EXPORTADO) "
                "SELECT 100000 + k, s, %1, '2024-03-05', 1000 + s, 'PRODUTO ' || s, 1, 10, 10, '000', "
                "'5102', 'P', 0 FROM %2, generate_series(1, %3) s")
            .arg(n)
            .arg(range)
            .arg(kItemsPerSale));
    pdv.exec(
        QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, ECF, DATA, "
                "DT_VENCIMENTO, VALOR, DUPLICATA) SELECT 100000 + k, '1', 'T', 0, %1, '2024-03-05', "
                "'2024-04-05', 50, 'D' || k FROM %2")
            .arg(n)
            .arg(range));
    pdv.exec(
        QString("INSERT INTO FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, OPERADOR_ID, FINALIZADORA_ID, LEGENDA, DATA, "
                "HORA, VALOR_CUPOM, VALOR_FINALIZADORA, FISCAL, ENTIDADE_ID, CLIENTE_ID) "
                "SELECT lpad(k::text, 8, '0'), %1, 3, 1, 'DINHEIRO', '2024-03-05', '10:16:00', 50, 50, 'S', "
                "0, 7 FROM %2")
            .arg(n)
            .arg(range));
    pdv.exec(QString(
        "INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, DT_SAIDA, HR_SAIDA, CHAVE_NFCE, EMPRESA_ID, ECF, "
        "TRANSMISSAO, DT_EMISSAO, VALOR, NO_DOC_FISCAL, ARQUIVO_XML, ERRO_ENVIO) "
        "SELECT 100000 + k, '2024-03-05', '10:15:00', 'CHAVE' || k, 1, '%1', 'OK', '2024-03-05', 50, "
        "k, '<nfe>' || k || '</nfe>', '' FROM %2")
                 .arg(n, 3, 10, QChar('0'))
                 .arg(range));
    pdv.exec("ANALYZE");
}

// A store's server is never empty: earlier days' sales, analysed, so the
// import's lookups meet the plans they meet in a shop.
void fillHistory(testsupport::TestDatabase& server)
{
    const QString range = QString("generate_series(1, %1) k").arg(kHistorySales);
    server.exec(
        QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                "DT_MOVIMENTO, MODELO, CONDUTA, CLIENTE_ID, VALOR) SELECT k, 100000 + k / 3, 1 + k % 3, "
                "(k / 3)::text, '2024-02-01'::date + k % 28, '2024-02-01'::date + k % 28, '65', '01', 7, "
                "50 FROM %1")
            .arg(range));
    server.exec(
        QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, VR_TOTAL) "
                "SELECT k, s, 1, '2024-02-01', 1000 + s, 10 FROM %1, generate_series(1, %2) s")
            .arg(range)
            .arg(kItemsPerSale));
    server.exec(QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, ECF, DATA, VALOR) "
                        "SELECT k, '1', 1, '2024-02-01', 50 FROM %1")
                    .arg(range));
    server.exec(QString("INSERT INTO FECHAMENTO_CUPOM (FECHAMENTO_ID, CUPOM, CAIXA_ID, DATA, VALOR_CUPOM, "
                        "VALOR_FINALIZADORA) SELECT k, lpad((k / 3)::text, 8, '0'), 1 + k % 3, "
                        "'2024-02-01'::date + k % 28, 50, 50 FROM %1")
                    .arg(range));
    server.exec(QString("INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, DT_SAIDA, ECF, VALOR) "
                        "SELECT k, '2024-02-01', '001', 50 FROM %1")
                    .arg(range));
    server.exec(
        QString("SELECT setval('GEN_TRANSACOES', %1), setval('GEN_FECHAMENTO', %1)").arg(kHistorySales));
    server.exec("ANALYZE");
}

struct Store {
    testsupport::TestDatabase server { testsupport::Template::Server };
    std::vector<std::unique_ptr<testsupport::TestDatabase>> terminals;
    QTemporaryDir folder;

    Store()
    {
        server.exec("INSERT INTO CONFIG (CONTROLE_ESTQ_LOC) VALUES ('False')");
        server.exec("INSERT INTO ABERTURA (DT_MOVIMENTO) VALUES ('2024-03-05')");
        server.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME) VALUES (7, 'CLIENTE')");
        fillHistory(server);
        for (int n = 1; n <= kTerminals; ++n) {
            auto pdv = std::make_unique<testsupport::TestDatabase>(testsupport::Template::Terminal);
            const int sales = kSales / kTerminals + (n <= kSales % kTerminals ? 1 : 0);
            fillTerminal(*pdv, n, sales);
            server.exec(
                QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, "
                        "ECF_STATUS, IMPORTACAO) VALUES ('%1', '%2', '%3', '%4', '%5', '%6', 'A', 0, 1)")
                    .arg(n, 3, 10, QChar('0'))
                    .arg(pdv->name(), testsupport::testUser(), testsupport::testPassword(),
                        testsupport::testHost())
                    .arg(testsupport::testPort()));
            terminals.push_back(std::move(pdv));
        }
        QDir(folder.path()).mkdir("QuiborSync_Logs");
        common::setProgramFolder(folder.path());
    }
};

void BM_SalesImport(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Store store;
        testsupport::ScopedRecordingDialogs dialogs;
        NullView view;
        bool importacaoLivre = true;

        db::Connection server(store.server.params());
        server.open();
        db::Query config(server);
        config.setText("SELECT * FROM CONFIG");
        config.prepare();
        config.open();
        db::Query abertura(server);
        abertura.setText("SELECT * FROM ABERTURA");
        abertura.prepare();
        abertura.open();
        sales::Carga_Vendas carga(sales::SalesImportLinks {
            server, view, importacaoLivre, {}, [] { return QString("loja"); }, config, abertura });

        PgConn probeConnection = connectTo(store.server);
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

        const double reads = double(kReadsPerSale) * kSales + kReadsPerTerminal * kTerminals + kReadsPerRun;
        const double writes = double(kWritesPerSale) * kSales + kWritesPerTerminal * kTerminals;
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
            "import %.3f s (%.0f sales/s); floor %.3f s = %.0f reads x %.1f us + %.0f writes x %.1f us "
            "(sampled during the import); ratio %.2f; back-to-back floor %.3f s (%.1f us, %.1f us), "
            "ratio %.2f; longest gap between event-loop turns %.1f ms over %d turns\n",
            seconds, kSales / seconds, floor, reads, readCost * 1e6, writes, writeCost * 1e6, seconds / floor,
            tightFloor, tightRead * 1e6, tightWrite * 1e6, seconds / tightFloor, maxGap * 1000, turns);
        common::setProgramFolder(QString());
        state.ResumeTiming();
    }
}

BENCHMARK(BM_SalesImport)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

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
