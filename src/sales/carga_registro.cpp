#include "sales/carga_registro.h"

#include "common/event_pump.h"
#include "common/log_path.h"
#include "common/scope_exit.h"
#include "db/connection.h"
#include "db/copy/copy_log_book.h"
#include "db/copy/copy_run.h"
#include "db/link_failure.h"
#include "db/query.h"
#include "sales/fiscal_commit.h"
#include "sales/fiscal_tables.h"
#include "sales/import_start.h"
#include "sales/monitor_venda.h"
#include "sales/sales_view.h"
#include "db/scoped_transaction.h"
#include "sales/statement_cycle.h"
#include "terminals/terminal_number.h"

#include <QLocale>
#include <QtMath>
#include <stdexcept>
#include <vector>

namespace sales {
namespace {

const char* const kRequests = "SELECT * FROM LICENCA_IF WHERE IMPORTACAO = 3 AND STATUS = :STATUS  AND "
                              "ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kResetRequest = "UPDATE LICENCA_IF SET IMPORTACAO = 0  WHERE NUM_ECF = :NUM_ECF";

// One device and day of the rows about to be copied.
struct Day {
    db::Value numSerie;
    QDate dtEmissao;
};

void execute(db::Connection& connection, const char* sql)
{
    db::Query q(connection);
    q.setText(QString::fromUtf8(sql));
    sales::execute(q);
}

bool anyRow(db::Connection& connection, const char* sql)
{
    db::Query q(connection);
    q.setText(QString::fromUtf8(sql));
    return openFindsRow(q);
}

std::vector<Day> markedDays(db::Connection& pdv, const char* sql)
{
    db::Query q(pdv);
    q.setText(QString::fromUtf8(sql));
    q.prepare();
    q.open();
    std::vector<Day> days;
    for (q.first(); !q.eof(); q.next())
        days.push_back({ q.field("NUM_SERIE").value(), q.field("DT_EMISSAO").asDateTime().date() });
    return days;
}

} // namespace

struct Carga_Registro::Impl {
    Impl(SalesImportLinks l, Carga_Vendas& v)
        : links(std::move(l))
        , vendas(v)
    {
    }

    void runAll();
    bool serverLinkFailed(const std::exception& failure) const;
    void importTerminal(const db::Dataset& request);
    db::Connection& terminal();
    void tablePhase(const FiscalTableCopy& t);
    void replaceOnServer(const FiscalTableCopy& t, db::Connection& pdv, const std::vector<Day>& days);
    void closeTerminal(const QString& numEcf);

    SalesImportLinks links;
    Carga_Vendas& vendas;
    FiscalCells cells;
    FiscalCommit commits;
    // This run's logs, the terminal whose section they are writing, and the
    // last one a copy wrote to.
    db::CopyLogBook logs;
    QString logSection;
    QString lastCopyLog;
    QString currentEcf; // NUM_ECF of the terminal being served
    // Why the server's link failed under this run; the run ends.
    QString serverLost;
    bool running = false;
};

Carga_Registro::Carga_Registro(SalesImportLinks links, Carga_Vendas& vendas)
    : impl_(std::make_unique<Impl>(std::move(links), vendas))
{
}

Carga_Registro::~Carga_Registro() = default;

const FiscalCells& Carga_Registro::cells() const { return impl_->cells; }

void Carga_Registro::run()
{
    // A nested call must not replace the terminal connection the running
    // copy reads from.
    if (impl_->running)
        return;
    impl_->running = true;
    common::ScopeExit done([this] { impl_->running = false; });

    ImportsBusy busy(impl_->links.importacaoLivre);
    impl_->runAll();
}

void Carga_Registro::Impl::runAll()
{
    logs = {};
    lastCopyLog.clear();
    serverLost.clear();
    cells = {};
    try {
        startImportRun(links);
        serveRequests(
            links, kRequests, QStringLiteral("Importar Registros"),
            [this](const db::Dataset& request) { importTerminal(request); },
            [this](const QString& numEcf) { closeTerminal(numEcf); });
    } catch (const std::exception& e) {
        // The server went away: the run ends with a line, not a box. The
        // rows and the requests wait for the next run.
        if (serverLost.isEmpty() && !serverLinkFailed(e))
            throw;
        reportServerInterrupted(links.view, lastCopyLog,
                                ServerLinkLost(serverLost.isEmpty() ? db::failureReason(e) : serverLost));
    }
    links.view.setProgress(0);
}

// A failure of the server's link, not of the till's: the copies read from
// the till and write to the server, so the link that is down tells.
bool Carga_Registro::Impl::serverLinkFailed(const std::exception& failure) const
{
    return dynamic_cast<const ServerLinkLost*>(&failure)
           || (db::isLinkFailure(failure) && !links.server.linkUp());
}

void Carga_Registro::Impl::importTerminal(const db::Dataset& request)
{
    currentEcf = request.field("NUM_ECF").asString();
    logSection = terminals::logSection(currentEcf);
    try {
        vendas.novaConexaoPdv(request);
    } catch (const std::exception& e) {
        skipIfUnavailable(vendas.conexaoPdv(), e);
        throw;
    }
    for (const FiscalTableCopy& t : fiscalTables()) {
        try {
            tablePhase(t);
        } catch (const std::exception& e) {
            // Not this terminal's table alone: the run ends (see closeTerminal).
            if (serverLinkFailed(e)) {
                serverLost = db::failureReason(e);
                throw ServerLinkLost(serverLost);
            }
            // This table ends; its rows stay marked 1 and the next table
            // starts, unless the terminal cannot be served now.
            skipIfUnavailable(vendas.conexaoPdv(), e);
        }
    }
}

// Conexao_Pdv as it is now: read again after every turn of the event
// pump rather than held across it.
db::Connection& Carga_Registro::Impl::terminal()
{
    db::Connection* pdv = vendas.conexaoPdv();
    if (!pdv)
        throw std::runtime_error("no terminal connection");
    return *pdv;
}

void Carga_Registro::Impl::tablePhase(const FiscalTableCopy& t)
{
    if (!commits.settle(links.server, terminal(), currentEcf, t))
        return;
    if (anyRow(terminal(), t.testSql)) {
        execute(terminal(), t.markSql);
        common::pumpEvents();
    }

    // Rows a failed run left at 1 go with the new ones, and the days
    // replaced on the server are the days of exactly the rows copied.
    std::vector<Day> days;
    if (t.daysSql) {
        days = markedDays(terminal(), t.daysSql);
        if (days.empty())
            return;
        const QString* serial = std::get_if<QString>(&days.back().numSerie);
        cells.numSerie = serial ? *serial : QString();
        cells.dtEmissao = QLocale().toString(days.back().dtEmissao, QLocale::ShortFormat);
    } else if (!anyRow(terminal(), t.pendingSql)) {
        return;
    }

    if (t.reconnect) {
        terminal().close();
        terminal().open();
    }
    replaceOnServer(t, terminal(), days);
    common::pumpEvents();
}

// The day's deletes and the copy take effect together or not at all: a
// failed copy neither leaves a day without its records nor keeps part of
// its rows. The till marks the rows 2 with them (FiscalCommit). No events
// run meanwhile, so no nested handler's statement on the server connection
// lands in this transaction.
void Carga_Registro::Impl::replaceOnServer(
    const FiscalTableCopy& t, db::Connection& pdv, const std::vector<Day>& days)
{
    db::ScopedTransaction transaction(links.server);

    if (t.deleteSql) {
        db::Query remove(links.server);
        remove.setText(QString::fromUtf8(t.deleteSql));
        for (const Day& day : days) {
            remove.bind("NUM_SERIE", day.numSerie);
            remove.bindDate("DT_EMISSAO", day.dtEmissao);
            execute(remove);
        }
    }

    db::CopyConfig config;
    config.readerConnection = &pdv;
    config.readerSql = QString::fromUtf8(t.readerSql);
    config.writerConnection = &links.server;
    config.writerSql = QString::fromUtf8(t.writerSql);
    logs.use(config, common::programPath(QString::fromUtf8(t.logFile)), logSection);
    config.commitCount = 100;
    config.callerTransaction = true;

    db::Query alreadyThere(links.server);
    if (t.alreadyThereSql) {
        // Rows a run cut off between the server's commit and the terminal's
        // 1 -> 2 copied already are left out.
        alreadyThere.setText(QString::fromUtf8(t.alreadyThereSql));
        config.mode = db::CopyMode::Append;
        config.findDestRecord = [&alreadyThere](db::CopyRun& sender, bool& found) {
            for (const QString& name : alreadyThere.parameterNames())
                alreadyThere.bind(name, sender.sourceField(name).value());
            found = openFindsRow(alreadyThere);
        };
    } else {
        config.mode = db::CopyMode::AlwaysInsert;
    }

    lastCopyLog = config.logFile;
    db::CopyRun(config).run();
    commits.commit(links.server, transaction, pdv, currentEcf, t);
}

void Carga_Registro::Impl::closeTerminal(const QString& numEcf)
{
    // The server went away under this terminal: no further terminal is
    // served, and its request stays for the next run.
    if (!serverLost.isEmpty())
        throw ServerLinkLost(serverLost);
    links.view.repaintStatusPane();

    db::Query q(links.server);
    q.setText(kResetRequest);
    q.bindText("NUM_ECF", numEcf);
    execute(q);

    if (!cells.numSerie.isEmpty()) {
        ImportCells& shared = vendas.cells();
        shared.Ultimo_Caixa = terminals::tryNumeroEcf(numEcf).value_or(0);
        Monitor_Venda(
            links.server, links.view, shared.Ultima_Transacao, shared.Ultimo_Cupom, shared.Ultimo_Caixa);
        shared.Ultima_Transacao = 0;
        shared.Ultimo_Cupom = 0;
        shared.Ultimo_Caixa = 0;
    }
    cells = {};
}

} // namespace sales
