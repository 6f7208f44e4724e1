#include "sales/carga_vendas.h"

#include "common/event_pump.h"
#include "common/log_path.h"
#include "common/scope_exit.h"
#include "db/connection.h"
#include "db/copy/copy_log_book.h"
#include "db/copy/copy_run.h"
#include "db/errors.h"
#include "db/link_bounds.h"
#include "db/query.h"
#include "sales/cancelamentos.h"
#include "sales/import_start.h"
#include "sales/monitor_venda.h"
#include "sales/phase_flags.h"
#include "sales/run_ending.h"
#include "sales/sale_tables.h"
#include "sales/sales_view.h"
#include "db/scoped_transaction.h"
#include "sales/statement_cycle.h"
#include "sales/transferir_banco.h"
#include "terminals/licenca_row.h"
#include "terminals/terminal_number.h"

#include <QtMath>
#include <optional>

namespace sales {
namespace {

const char* const kRequests = "SELECT * FROM LICENCA_IF WHERE IMPORTACAO = 1  AND STATUS = :STATUS  AND "
                              "ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kResetRequest = "UPDATE LICENCA_IF SET IMPORTACAO = 0  WHERE NUM_ECF = :NUM_ECF";
const char* const kUltimaTrans
    = "UPDATE LICENCA_IF SET ULTIMA_TRANS = :ULTIMA_TRANS  WHERE NUM_ECF = :NUM_ECF";

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
    // A phase failed: it ends there, or the terminal's work, or the run.
    void endPhase(const std::exception& failure);
    void tablePhase(SaleTable table);
    void copy(const SaleTableCopy& t);
    void giveBack(const SaleTableCopy& t, const std::vector<RowKey>& rows);
    void cancellationStep();
    void closeTerminal(const QString& numEcf);
    // The run ended at the server link: one line in the status pane and the
    // same in the copy log being written.
    void tellServerLost(const QString& reason);

    SalesImportLinks links;
    ImportCells cells;
    std::unique_ptr<db::Connection> conexaoPdv;
    // A silent terminal must not hold the run for long.
    int connectSeconds = static_cast<int>(db::linkBounds().connect.count());
    PhaseFlags flags;
    Transferir_banco hook;
    // This run's logs, and the terminal whose section they are writing.
    db::CopyLogBook logs;
    QString logSection;
    QString lastCopyLog; // of this run, where a lost server is told too
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
    if (impl_->running)
        throw db::UsageError(QStringLiteral("The terminal connection is in use by the running sales import"));
    return impl_->connect(licencaIfRow);
}

void Carga_Vendas::run()
{
    // A nested call (from an event handled inside the run) must not replace
    // the terminal connection the running copy reads from.
    if (impl_->running)
        return;
    impl_->running = true;
    common::ScopeExit done([this] { impl_->running = false; });

    // Imports may start again when the run ends, whichever way it ends: a
    // run that stopped on an error must not keep every later one out.
    bool& livre = impl_->links.importacaoLivre;
    livre = false;
    common::ScopeExit freeAgain([&livre] { livre = true; });
    try {
        impl_->runAll();
    } catch (const std::exception& e) {
        // Outside a terminal's work every statement goes to the server.
        const std::optional<QString> reason = serverLostReason(e);
        if (!reason)
            throw;
        impl_->tellServerLost(*reason);
    }
}

void Carga_Vendas::Impl::tellServerLost(const QString& reason)
{
    reportServerInterrupted(links.view, lastCopyLog, ServerLost(reason));
}

void Carga_Vendas::Impl::runAll()
{
    logs = {};
    lastCopyLog.clear();
    startImportRun(links);
    readStockSettings();

    serveRequests(
        links, kRequests, QStringLiteral("Importar Vendas"), [this](const db::Dataset& request) { importTerminal(request); },
        [this](const QString& numEcf) { closeTerminal(numEcf); });

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
    logSection = terminals::logSection(request.field("NUM_ECF").asString());
    try {
        connect(request);
    } catch (const std::exception& e) {
        skipIfUnavailable(conexaoPdv.get(), e);
        throw;
    }
    flags.clear();
    hook.beginTerminal();

    // A failed phase ends; its rows stay marked 1 and the next phase starts.
    // A terminal that cannot be served now (lost, silent, or locked by its
    // till) is left at once: each further phase would wait on it again. A
    // lost server link ends the whole run where it is.
    try {
        tablePhase(SaleTable::Transacoes);
        cancellationStep();
    } catch (const std::exception& e) {
        endPhase(e);
    }
    for (SaleTable table : { SaleTable::Transitens, SaleTable::Transparcelas, SaleTable::FechamentoCupom,
             SaleTable::ComplNfceFiscal, SaleTable::NotasCanceladasNfce, SaleTable::ChequesRecebidos }) {
        try {
            tablePhase(table);
        } catch (const std::exception& e) {
            endPhase(e);
        }
    }
}

void Carga_Vendas::Impl::endPhase(const std::exception& failure)
{
    skipIfUnavailable(conexaoPdv.get(), failure);
    // Not the terminal's (its link is up): a lost link left is the server's.
    raiseIfServerLinkFailed(failure);
}

void Carga_Vendas::Impl::tablePhase(SaleTable table)
{
    const SaleTableCopy& t = saleTable(table);
    db::Connection& pdv = *conexaoPdv;
    const Phase phase = phaseOf(table);

    db::Query q(pdv);
    q.setText(QString::fromUtf8(t.testSql));
    if (openFindsRow(q)) {
        q.setText(QString::fromUtf8(t.markSql));
        execute(q);
        common::pumpEvents();
        flags.set(phase);
    } else {
        q.setText(QString::fromUtf8(t.leftoverSql));
        if (openFindsRow(q))
            flags.set(phase);
    }
    if (!flags.isSet(phase))
        return;

    copy(t);
    q.setText(QString::fromUtf8(t.doneSql));
    execute(q);
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
    lastCopyLog = common::programPath(QString::fromUtf8(t.logFile));
    logs.use(config, lastCopyLog, logSection);
    config.commitCount = 100;

    config.findDestRecord = hook.hook();
    if (!t.hookWrites) {
        // Cheques have no key of their own: a run that fails part-way must
        // leave none of them behind, and the hook skips those that an
        // earlier run brought.
        config.callerTransaction = true;
        db::ScopedTransaction transaction(links.server);
        Transferir_banco::Executing executing(hook, t.table);
        db::CopyRun(config).run();
        transaction.commit();
        return;
    }

    std::vector<RowKey> handedBack;
    {
        Transferir_banco::Executing executing(hook, t.table);
        db::CopyRun(config).run();
        hook.settle();
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
