#include "app/status_report.h"

#include "common/event_pump.h"
#include "config/ini_file.h"
#include "config/ini_keys.h"
#include "config/server_params.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/open_together.h"
#include "db/query.h"
#include "db/read_batch.h"
#include "sales/fiscal_tables.h"
#include "sales/sale_tables.h"
#include "terminals/licenca_row.h"
#include "terminals/probe.h"
#include "terminals/probe_timeout.h"

#include <QFile>
#include <algorithm>
#include <memory>

namespace app {
namespace {

using namespace std::chrono_literals;

// A terminal login is given the probe's time-out, but never less than the
// client library's own shortest connect time-out: a busy terminal that
// answered the probe is not reported as silent for a slow handshake.
constexpr std::chrono::milliseconds kShortestLogin = 2000ms;

// A terminal that took us in but keeps its counts longer than this is
// reported as not read (the data layer's own bound for a silent peer).
constexpr std::chrono::milliseconds kReadTimeout = 15000ms;

// What a table lacking on a terminal (or lacking EXPORTADO) answers.
const QString kUndefinedTable = QStringLiteral("42P01");
const QString kUndefinedColumn = QStringLiteral("42703");

const char kWaitingRows[] = "SELECT COUNT(*) AS N FROM %1 WHERE EXPORTADO IN (0, 1)";
const QString kCancellations = QStringLiteral("SELECT COUNT(*) AS N FROM TRANSACOES WHERE EXPORTADO = 3");
const QString kOldestWaitingSale = QStringLiteral("SELECT MIN(DT_TRANS) AS DT FROM TRANSACOES WHERE EXPORTADO IN (0, 1)");

std::optional<qint64> optionalInteger(const db::Dataset& row, const char* column)
{
    const int i = row.fieldIndex(QLatin1String(column));
    if (i < 0 || row.isNull(i))
        return std::nullopt;
    try {
        return row.field(i).asInteger();
    } catch (const db::Error&) {
        return std::nullopt;
    }
}

// A date column and the time column beside it as one moment; empty when
// the date is empty or absent. A missing time reads as midnight.
std::optional<QDateTime> optionalStamp(const db::Dataset& row, const char* dateColumn, const char* timeColumn)
{
    const int d = row.fieldIndex(QLatin1String(dateColumn));
    if (d < 0 || row.isNull(d))
        return std::nullopt;
    try {
        const QDate date = row.field(d).asDateTime().date();
        const int t = row.fieldIndex(QLatin1String(timeColumn));
        const QTime time = t < 0 || row.isNull(t) ? QTime(0, 0) : row.field(t).asDateTime().time();
        return QDateTime(date, time);
    } catch (const db::Error&) {
        return std::nullopt;
    }
}

TerminalStatus fromLicencaRow(const db::Dataset& row)
{
    TerminalStatus t;
    t.numEcf = row.field("NUM_ECF").asString();
    t.host = row.field("IP").asString();
    t.port = row.field("PORTA").asString();
    t.importacao = optionalInteger(row, "IMPORTACAO");
    t.ecfStatus = optionalInteger(row, "ECF_STATUS");
    t.exportacao = optionalInteger(row, "EXPORTACAO");
    t.cargaTotal = optionalInteger(row, "CARGA_TOTAL");
    t.todasEcfs = optionalInteger(row, "TODAS_ECFS");
    t.ultimaTrans = optionalInteger(row, "ULTIMA_TRANS");
    t.lastCustomerExport = optionalStamp(row, "DT_SYNC_CLI", "HR_SYNC_CLI");
    t.lastProductExport = optionalStamp(row, "DT_SYNC", "HR_SYNC");
    return t;
}

int readProbeTimeout(db::Connection& server)
{
    try {
        db::Query config(server);
        config.setText("SELECT * FROM CONFIG");
        config.open();
        return terminals::probeTimeoutMs(config, terminals::kSalesDefaultTimeoutMs)
            .value_or(terminals::kSalesDefaultTimeoutMs);
    } catch (const db::BrokenConnection&) {
        throw;
    } catch (const db::Error&) {
        // No CONFIG to read: the sales window's default.
        return terminals::kSalesDefaultTimeoutMs;
    }
}

// A terminal's reads: a count per imported table, the cancellations, the
// oldest waiting sale, in this order.
std::vector<std::unique_ptr<db::Query>> terminalReads(db::Connection& pdv)
{
    std::vector<std::unique_ptr<db::Query>> reads;
    auto add = [&](const QString& sql) {
        reads.push_back(std::make_unique<db::Query>(pdv));
        reads.back()->setText(sql);
    };
    for (const QString& table : countedTables())
        add(QString::fromLatin1(kWaitingRows).arg(table));
    add(kCancellations);
    add(kOldestWaitingSale);
    return reads;
}

// What the reads answered; each stands for itself.
void fillFromReads(const db::ReadBatch::Done& done, TerminalStatus& t)
{
    if (done.lost) {
        t.error = QStringLiteral("not read: ") + done.lost->message().simplified();
        return;
    }
    const QStringList tables = countedTables();
    QStringList unread;
    for (qsizetype i = 0; i < tables.size(); ++i) {
        WaitingRows w;
        w.table = tables[i];
        if (const auto& e = done.errors[i]) {
            w.missing = e->sqlState() == kUndefinedTable || e->sqlState() == kUndefinedColumn;
            if (!w.missing) {
                w.error = e->message().simplified();
                unread << w.table + QStringLiteral(": ") + w.error;
            }
        } else {
            w.rows = done.queries[i]->field("N").asInteger();
        }
        t.waiting.push_back(w);
    }
    t.error = unread.join(QStringLiteral("; "));
    // Without TRANSACOES (or its DT_TRANS) these stay unknown.
    const db::Query* cancellations = done.queries[tables.size()];
    const db::Query* oldest = done.queries[tables.size() + 1];
    if (!done.errors[tables.size()])
        t.cancellationsPending = cancellations->field("N").asInteger();
    if (!done.errors[tables.size() + 1] && !oldest->field("DT").isNull())
        t.oldestWaitingSale = oldest->field("DT").asDateTime().date();
}

QString loginFailure(const QString& text)
{
    if (text.startsWith(QLatin1String("timeout expired")))
        return QStringLiteral("timed out");
    return QStringLiteral("login refused: ") + text.simplified();
}

// Every terminal at once: all are probed together; each one that answers
// is logged into at once, and each one that lets us in is sent its reads
// at once, while the others still keep us waiting. So 33 terminals take
// about one probe time-out, not one each.
class TerminalVisit {
public:
    TerminalVisit(const std::vector<db::ConnectionParams>& params, std::vector<TerminalStatus>& found,
                  int probeTimeoutMs)
        : params_(params),
          found_(found),
          links_(found.size()),
          queries_(found.size()),
          probe_(endpoints(found), probeTimeoutMs),
          logins_(std::max(std::chrono::milliseconds(probeTimeoutMs), kShortestLogin)),
          reads_(kReadTimeout)
    {
    }

    void run()
    {
        takeProbes();
        while (!probe_.finished() || logins_.running() || reads_.running()) {
            // Each kind of wait in short turns while others are under way.
            const int kinds = !probe_.finished() + logins_.running() + reads_.running();
            const auto slice = kinds > 1 ? 2ms : 10ms;
            if (!probe_.finished())
                probe_.wait(slice);
            takeProbes();
            if (logins_.running())
                logins_.wait(slice);
            takeLogins();
            if (reads_.running())
                reads_.wait(slice);
            takeReads();
            common::pumpEvents();
        }
        takeLogins();
        takeReads();
    }

private:
    static std::vector<terminals::Endpoint> endpoints(const std::vector<TerminalStatus>& found)
    {
        std::vector<terminals::Endpoint> out;
        for (const TerminalStatus& t : found)
            out.push_back({t.host, t.port});
        return out;
    }

    std::size_t indexOf(const db::Connection* link) const
    {
        return std::find_if(links_.begin(), links_.end(), [&](const auto& l) { return l.get() == link; })
               - links_.begin();
    }

    void takeProbes()
    {
        for (std::size_t i : probe_.takeSettled()) {
            const terminals::ProbeOutcome outcome = *probe_.outcome(i);
            if (outcome != terminals::ProbeOutcome::Reached) {
                found_[i].error = terminals::probeOutcomeText(outcome);
                continue;
            }
            links_[i] = std::make_unique<db::Connection>(params_[i]);
            links_[i]->setAutoReconnect(false);
            // A report reads; its sessions cannot write.
            links_[i]->setReadOnly(true);
            logins_.add(*links_[i]);
        }
    }

    void takeLogins()
    {
        for (const db::ConnectBatch::Ended& ended : logins_.takeEnded()) {
            const std::size_t i = indexOf(ended.connection);
            if (!ended.failure.isEmpty()) {
                found_[i].error = loginFailure(ended.failure);
                links_[i].reset();
                continue;
            }
            found_[i].reachable = true;
            queries_[i] = terminalReads(*links_[i]);
            std::vector<db::Query*> reads;
            for (const auto& q : queries_[i])
                reads.push_back(q.get());
            reads_.add(reads);
        }
    }

    void takeReads()
    {
        for (const db::ReadBatch::Done& done : reads_.takeDone()) {
            const std::size_t i = indexOf(done.queries.front()->connection());
            fillFromReads(done, found_[i]);
            // Each link goes as soon as its terminal is done.
            queries_[i].clear();
            links_[i].reset();
        }
    }

    const std::vector<db::ConnectionParams>& params_;
    std::vector<TerminalStatus>& found_;
    // Before the batches, which still hold on to them until they go.
    std::vector<std::unique_ptr<db::Connection>> links_;
    std::vector<std::vector<std::unique_ptr<db::Query>>> queries_;
    terminals::ProbeBatch probe_;
    db::ConnectBatch logins_;
    db::ReadBatch reads_;
};

} // namespace

QStringList countedSaleTables()
{
    QStringList names;
    for (sales::SaleTable table :
         {sales::SaleTable::Transacoes, sales::SaleTable::Transitens, sales::SaleTable::Transparcelas,
          sales::SaleTable::FechamentoCupom, sales::SaleTable::ComplNfceFiscal,
          sales::SaleTable::NotasCanceladasNfce, sales::SaleTable::ChequesRecebidos})
        names << QLatin1String(sales::saleTable(table).name);
    return names;
}

QStringList countedTables()
{
    QStringList names = countedSaleTables();
    for (const sales::FiscalTableCopy& fiscal : sales::fiscalTables())
        names << QLatin1String(fiscal.name);
    return names;
}

qint64 TerminalStatus::waitingTotal() const
{
    qint64 total = 0;
    for (const WaitingRows& w : waiting)
        total += w.rows.value_or(0);
    return total;
}

QStringList TerminalStatus::missingTables() const
{
    QStringList names;
    for (const WaitingRows& w : waiting)
        if (w.missing)
            names << w.table;
    return names;
}

QStringList TerminalStatus::missingSaleTables() const
{
    const QStringList sale = countedSaleTables();
    QStringList names;
    for (const QString& table : missingTables())
        if (sale.contains(table))
            names << table;
    return names;
}

QString TerminalStatus::problem() const
{
    QStringList out;
    if (!error.isEmpty())
        out << error;
    if (const QStringList lacking = missingSaleTables(); !lacking.isEmpty())
        out << QStringLiteral("sales tables missing: ") + lacking.join(QStringLiteral(", "));
    return out.join(QStringLiteral("; "));
}

bool TerminalStatus::inStep() const
{
    return reachable && problem().isEmpty() && waitingTotal() == 0 && cancellationsPending.value_or(0) == 0;
}

qint64 StatusReport::waitingTotal() const
{
    qint64 total = 0;
    for (const TerminalStatus& t : terminals)
        total += t.waitingTotal();
    return total;
}

bool StatusReport::inStep() const
{
    return failure.isEmpty() && server.reachable
           && std::all_of(terminals.begin(), terminals.end(), [](const TerminalStatus& t) { return t.inStep(); });
}

int StatusReport::exitCode() const
{
    if (!failure.isEmpty() || !server.reachable)
        return 2;
    return inStep() ? 0 : 1;
}

StatusReport gatherStatus(const QString& iniPath)
{
    StatusReport report;
    QFile file(iniPath);
    if (!file.exists()) {
        report.failure = iniPath + QStringLiteral(" not found");
        return report;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        report.failure = QStringLiteral("cannot read ") + iniPath + QStringLiteral(": ") + file.errorString();
        return report;
    }
    const QByteArray contents = file.readAll();
    file.close();

    const QString secao = iniSecaoConexao();
    report.server.host = iniValue(contents, secao, iniServerName());
    report.server.port = iniValue(contents, secao, iniPorta());
    report.server.database = iniValue(contents, secao, iniBaseName());
    if (iniValue(contents, secao, iniUserName()).isEmpty() || iniValue(contents, secao, iniPassword()).isEmpty()) {
        report.failure = QStringLiteral("%1: %2 and %3 of [%4] are not both filled in; run quiborsync --configure")
                             .arg(iniPath, iniUserName(), iniPassword(), secao);
        return report;
    }

    db::Connection server(serverParamsFromIniContents(contents, {}));
    server.setReadOnly(true);
    std::vector<db::ConnectionParams> params;
    try {
        server.open();
        report.server.reachable = true;
        report.probeTimeoutMs = readProbeTimeout(server);

        db::Query list(server);
        list.setText("SELECT * FROM LICENCA_IF WHERE STATUS =:STATUS ORDER BY NUM_ECF");
        list.bindText("STATUS", QStringLiteral("A"));
        list.prepare();
        list.open();
        for (list.first(); !list.eof(); list.next()) {
            report.terminals.push_back(fromLicencaRow(list));
            params.push_back(terminals::terminalParams(list));
        }
    } catch (const db::Error& e) {
        const QString where = report.server.host + u':' + report.server.port + u'/' + report.server.database;
        report.failure = report.server.reachable
                             ? QStringLiteral("cannot read LICENCA_IF on %1: %2").arg(where, e.message().simplified())
                             : QStringLiteral("server %1 not reached: %2").arg(where, e.message().simplified());
        report.terminals.clear();
        return report;
    }
    server.close();

    TerminalVisit(params, report.terminals, report.probeTimeoutMs).run();
    return report;
}

} // namespace app
