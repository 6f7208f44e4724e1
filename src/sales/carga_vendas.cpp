#include "sales/carga_vendas.h"

#include "common/event_pump.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/copy/copy_run.h"
#include "db/query.h"
#include "sales/cancelamentos.h"
#include "sales/import_start.h"
#include "sales/monitor_venda.h"
#include "sales/phase_flags.h"
#include "sales/sale_tables.h"
#include "sales/sales_view.h"
#include "sales/scoped_transaction.h"
#include "sales/transferir_banco.h"
#include "terminals/licenca_row.h"

#include <QtMath>

namespace sales {
namespace {

const char* const kRequests = "SELECT * FROM LICENCA_IF WHERE IMPORTACAO = 1  AND STATUS = :STATUS  AND "
                              "ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kResetRequest = "UPDATE LICENCA_IF SET IMPORTACAO = 0  WHERE NUM_ECF = :NUM_ECF";
const char* const kUltimaTrans
    = "UPDATE LICENCA_IF SET ULTIMA_TRANS = :ULTIMA_TRANS  WHERE NUM_ECF = :NUM_ECF";

// A silent terminal must not hold the window for long.
constexpr int kDefaultTerminalConnectSeconds = 5;

void execute(db::Connection& connection, const char* sql)
{
    db::Query q(connection);
    q.setText(QString::fromUtf8(sql));
    q.prepare();
    q.exec();
}

bool anyRow(db::Connection& connection, const char* sql)
{
    db::Query q(connection);
    q.setText(QString::fromUtf8(sql));
    q.prepare();
    q.open();
    return !q.isEmpty();
}

} // namespace

struct Carga_Vendas::Impl {
    explicit Impl(SalesImportLinks l)
        : links(std::move(l))
        , hook(links.server, cells)
    {
    }

    db::Connection& connect(const db::Dataset& licencaIfRow);
    void runAll();
    void readStockSettings();
    void importTerminal(const db::Dataset& request);
    void tablePhase(SaleTable table);
    void copy(const SaleTableCopy& t);
    void giveBack(const SaleTableCopy& t, const std::vector<RowKey>& rows);
    void cancellationStep();
    void closeTerminal(const QString& numEcf);

    SalesImportLinks links;
    ImportCells cells;
    std::unique_ptr<db::Connection> conexaoPdv;
    int connectSeconds = kDefaultTerminalConnectSeconds;
    PhaseFlags flags;
    Transferir_banco hook;
    bool running = false;
};

Carga_Vendas::Carga_Vendas(SalesImportLinks links)
    : impl_(std::make_unique<Impl>(std::move(links)))
{
}

Carga_Vendas::~Carga_Vendas() = default;

ImportCells& Carga_Vendas::cells() { return impl_->cells; }

db::Connection* Carga_Vendas::conexaoPdv() { return impl_->conexaoPdv.get(); }

void Carga_Vendas::setTerminalConnectTimeout(int seconds) { impl_->connectSeconds = seconds; }

db::Connection& Carga_Vendas::novaConexaoPdv(const db::Dataset& licencaIfRow)
{
    return impl_->connect(licencaIfRow);
}

void Carga_Vendas::run()
{
    // A nested call (from an event handled inside the run) must not replace
    // the terminal connection the running copy reads from.
    if (impl_->running)
        return;
    impl_->running = true;
    struct Done {
        bool& running;
        ~Done() { running = false; }
    } done { impl_->running };

    ImportsBusy busy(impl_->links.importacaoLivre);
    impl_->runAll();
}

void Carga_Vendas::Impl::runAll()
{
    startImportRun(links);
    readStockSettings();

    db::Query requests(links.server);
    requests.setText(kRequests);
    requests.bindText("STATUS", QStringLiteral("A"));
    requests.prepare();
    requests.open();
    const int n = requests.recordCount();

    int k = 0;
    for (requests.first(); !requests.eof(); requests.next()) {
        ++k;
        const QString numEcf = requests.field("NUM_ECF").asString();
        try {
            importTerminal(requests);
        } catch (const std::exception&) {
            // Whatever failed, the terminal's request is still closed below.
        }
        closeTerminal(numEcf);
        links.view.setProgress(qRound(k * 100.0 / n));
        common::pumpEvents();
    }

    links.view.setProgress(100);
    links.view.repaintProgress();
    links.view.setProgress(0);
}

void Carga_Vendas::Impl::readStockSettings()
{
    StockLocationSettings stock;
    try {
        stock.enabled = links.config.field("CONTROLE_ESTQ_LOC").asString() == QLatin1String("True");
        if (stock.enabled) {
            stock.localizacaoId = links.config.field("LOCALIZACAO_ID_PDV").asInteger();
            stock.descricao = links.config.field("LOCALIZACAO_DESCRICAO_PDV").asString();
        }
    } catch (const std::exception&) {
        // Unreadable settings write no stock-location rows.
        stock = {};
    }
    hook.setStockSettings(stock);
}

db::Connection& Carga_Vendas::Impl::connect(const db::Dataset& licencaIfRow)
{
    // The previous terminal's connection goes first, even when this one fails.
    conexaoPdv.reset();
    auto pdv = std::make_unique<db::Connection>(terminals::terminalParams(licencaIfRow));
    pdv->setAutoReconnect(false);
    pdv->setConnectTimeoutSeconds(connectSeconds);
    conexaoPdv = std::move(pdv);
    conexaoPdv->open();
    return *conexaoPdv;
}

void Carga_Vendas::Impl::importTerminal(const db::Dataset& request)
{
    connect(request);
    flags.clear();
    hook.beginTerminal();

    try {
        tablePhase(SaleTable::Transacoes);
        cancellationStep();
    } catch (const std::exception&) {
    }
    for (SaleTable table : { SaleTable::Transitens, SaleTable::Transparcelas, SaleTable::FechamentoCupom,
             SaleTable::ComplNfceFiscal, SaleTable::NotasCanceladasNfce, SaleTable::ChequesRecebidos }) {
        try {
            tablePhase(table);
        } catch (const std::exception&) {
            // This phase ends; its rows stay marked 1 and the next phase starts.
        }
    }
}

void Carga_Vendas::Impl::tablePhase(SaleTable table)
{
    const SaleTableCopy& t = saleTable(table);
    db::Connection& pdv = *conexaoPdv;
    const Phase phase = phaseOf(table);

    if (anyRow(pdv, t.testSql)) {
        execute(pdv, t.markSql);
        common::pumpEvents();
        flags.set(phase);
    } else if (anyRow(pdv, t.leftoverSql)) {
        flags.set(phase);
    }
    if (!flags.isSet(phase))
        return;

    copy(t);
    execute(pdv, t.doneSql);
    common::pumpEvents();
    flags.clear(phase);
}

void Carga_Vendas::Impl::copy(const SaleTableCopy& t)
{
    db::CopyConfig config;
    config.readerConnection = conexaoPdv.get();
    config.readerSql = readerSql(t);
    config.writerConnection = &links.server;
    config.writerSql = writerSql(t);
    config.mode = t.mode;
    config.logFile = common::programPath(QString::fromUtf8(t.logFile));
    config.commitCount = 100;

    if (!t.hooked) {
        // Cheques have no duplicate test: a run that fails part-way must
        // leave none of them behind, or the retry inserts them twice.
        config.callerTransaction = true;
        ScopedTransaction transaction(links.server);
        db::CopyRun(config).run();
        transaction.commit();
        return;
    }

    config.findDestRecord = hook.hook();
    std::vector<RowKey> handedBack;
    {
        Transferir_banco::Executing executing(hook, t.table);
        db::CopyRun(config).run();
        handedBack = hook.takeGivenBack();
    }
    giveBack(t, handedBack);
}

void Carga_Vendas::Impl::giveBack(const SaleTableCopy& t, const std::vector<RowKey>& rows)
{
    if (rows.empty())
        return;
    db::Query q(*conexaoPdv);
    q.setText(QString::fromUtf8(t.giveBackSql));
    for (const RowKey& key : rows) {
        for (int i = 0; i < t.giveBackKey.size(); ++i)
            q.bind(t.giveBackKey[i], key[static_cast<std::size_t>(i)]);
        q.prepare();
        q.exec();
    }
}

void Carga_Vendas::Impl::cancellationStep()
{
    if (carryOutCancellations(*conexaoPdv, links.server, cells, hook.stockSettings())) {
        hook.salesRemoved();
        flags.set(Phase::Cancelamentos);
    }
    if (!flags.isSet(Phase::Cancelamentos))
        return;
    Monitor_Venda(links.server, links.view, cells.Ultima_Transacao, cells.Ultimo_Cupom, cells.Ultimo_Caixa);
    flags.clear(Phase::Cancelamentos);
}

void Carga_Vendas::Impl::closeTerminal(const QString& numEcf)
{
    db::Query q(links.server);
    q.setText(kResetRequest);
    q.bindText("NUM_ECF", numEcf);
    q.prepare();
    q.exec();
    links.view.repaintStatusPane();

    // Only a sale of this terminal may be recorded as its last one.
    if (cells.Ultima_Transacao > 0 && hook.saleInserted()) {
        q.setText(kUltimaTrans);
        q.bindInteger("ULTIMA_TRANS", cells.Ultima_Transacao);
        q.bindText("NUM_ECF", numEcf);
        q.prepare();
        q.exec();
        Monitor_Venda(
            links.server, links.view, cells.Ultima_Transacao, cells.Ultimo_Cupom, cells.Ultimo_Caixa);
    }
}

} // namespace sales
