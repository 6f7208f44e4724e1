#include "app/status_output.h"

#include "app/status_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace app {
namespace {

QString dash() { return QStringLiteral("-"); }

QString stampText(const std::optional<QDateTime>& stamp)
{
    return stamp ? stamp->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : dash();
}

QString plural(qint64 n, const char* one, const char* many)
{
    return QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
}

QString notes(const TerminalStatus& t)
{
    QStringList out;
    if (const QString problem = t.problem(); !problem.isEmpty())
        out << problem;
    QStringList fiscalMissing = t.missingTables();
    for (const QString& table : t.missingSaleTables())
        fiscalMissing.removeAll(table);
    if (!fiscalMissing.isEmpty())
        out << QStringLiteral("missing ") + fiscalMissing.join(QStringLiteral(", "));
    if (t.cancellationsPending.value_or(0) > 0)
        out << plural(*t.cancellationsPending, "cancellation", "cancellations") + QStringLiteral(" pending");
    if (t.ecfStatus.value_or(0) == 1)
        out << QStringLiteral("marked unreachable");
    if (t.importacao.value_or(0) != 0)
        out << QStringLiteral("request ") + QString::number(*t.importacao);
    return out.join(QStringLiteral("; "));
}

QString summary(const StatusReport& report)
{
    const qint64 total = static_cast<qint64>(report.terminals.size());
    qint64 unreached = 0;
    qint64 lacking = 0;
    qint64 cancellations = 0;
    for (const TerminalStatus& t : report.terminals) {
        const bool read = t.reachable && t.error.isEmpty();
        unreached += read ? 0 : 1;
        lacking += read && !t.missingSaleTables().isEmpty() ? 1 : 0;
        cancellations += t.cancellationsPending.value_or(0);
    }
    if (report.inStep())
        return total == 0 ? QStringLiteral("In step: no active terminal.")
                          : QStringLiteral("In step: ") + plural(total, "terminal", "terminals")
                                + QStringLiteral(" reached, nothing waiting.");
    QStringList why;
    if (unreached > 0)
        why << QString::number(unreached) + QStringLiteral(" of ") + plural(total, "terminal", "terminals")
                   + QStringLiteral(" not reached or not read");
    if (lacking > 0)
        why << QString::number(lacking) + QStringLiteral(" of ") + plural(total, "terminal", "terminals")
                   + QStringLiteral(" without sales tables");
    if (report.waitingTotal() > 0)
        why << plural(report.waitingTotal(), "row", "rows") + QStringLiteral(" waiting");
    if (cancellations > 0)
        why << plural(cancellations, "cancellation", "cancellations") + QStringLiteral(" pending");
    return QStringLiteral("Not in step: ") + why.join(QStringLiteral(", ")) + u'.';
}

QJsonValue optionalNumber(const std::optional<qint64>& n)
{
    return n ? QJsonValue(static_cast<double>(*n)) : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalText(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue isoStamp(const std::optional<QDateTime>& stamp)
{
    return stamp ? QJsonValue(stamp->toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null);
}

// A port that is a number is written as one.
QJsonValue portValue(const QString& port)
{
    bool ok = false;
    const int n = port.trimmed().toInt(&ok);
    return ok ? QJsonValue(n) : optionalText(port);
}

QJsonObject terminalJson(const TerminalStatus& t)
{
    QJsonObject waiting;
    for (const QString& table : countedTables())
        waiting.insert(table, QJsonValue::Null);
    for (const WaitingRows& w : t.waiting)
        waiting.insert(w.table, optionalNumber(w.rows));
    QJsonArray missing;
    for (const QString& table : t.missingTables())
        missing.append(table);

    QJsonObject o;
    o.insert("num_ecf", t.numEcf);
    o.insert("host", t.host);
    o.insert("port", portValue(t.port));
    o.insert("reachable", t.reachable);
    o.insert("error", optionalText(t.problem()));
    o.insert("waiting", waiting);
    o.insert("missing_tables", missing);
    o.insert("waiting_total", t.reachable ? QJsonValue(static_cast<double>(t.waitingTotal())) : QJsonValue::Null);
    o.insert("cancellations_pending", optionalNumber(t.cancellationsPending));
    o.insert("oldest_waiting_sale",
             t.oldestWaitingSale ? QJsonValue(t.oldestWaitingSale->toString(Qt::ISODate)) : QJsonValue::Null);
    o.insert("importacao", optionalNumber(t.importacao));
    o.insert("carga_total", optionalNumber(t.cargaTotal));
    o.insert("todas_ecfs", optionalNumber(t.todasEcfs));
    o.insert("exportacao", optionalNumber(t.exportacao));
    o.insert("ecf_status", optionalNumber(t.ecfStatus));
    o.insert("ultima_trans", optionalNumber(t.ultimaTrans));
    o.insert("last_customer_export", isoStamp(t.lastCustomerExport));
    o.insert("last_product_export", isoStamp(t.lastProductExport));
    return o;
}

} // namespace

QString statusText(const StatusReport& report)
{
    if (!report.failure.isEmpty())
        return {};
    QString out = QStringLiteral("Server ") + report.server.host + u':' + report.server.port + QStringLiteral(", database ")
                  + report.server.database + QStringLiteral(": reached; terminals probed within ")
                  + QString::number(report.probeTimeoutMs) + QStringLiteral(" ms\n");
    // Pasted together rather than through arg(): a server's text may hold
    // a "%1" of its own.
    auto line = [](const QString& ecf, const QString& state, const QString& waiting, const QString& oldest,
                   const QString& exported, const QString& notes) {
        const QString gap = QStringLiteral("  ");
        const QString text = ecf.leftJustified(3) + gap + state.leftJustified(5) + gap + waiting.rightJustified(7)
                             + gap + oldest.leftJustified(11) + gap + exported.leftJustified(20) + gap + notes;
        QString trimmed = text;
        while (trimmed.endsWith(u' '))
            trimmed.chop(1);
        return trimmed + u'\n';
    };
    out += line(QStringLiteral("ECF"), QStringLiteral("STATE"), QStringLiteral("WAITING"), QStringLiteral("OLDEST SALE"),
                QStringLiteral("LAST CUSTOMER EXPORT"), QStringLiteral("NOTES"));
    for (const TerminalStatus& t : report.terminals)
        out += line(t.numEcf, t.reachable ? QStringLiteral("ON") : QStringLiteral("OFF"),
                    t.reachable ? QString::number(t.waitingTotal()) : dash(),
                    t.oldestWaitingSale ? t.oldestWaitingSale->toString(Qt::ISODate) : dash(),
                    stampText(t.lastCustomerExport), notes(t));
    return out + summary(report) + u'\n';
}

QByteArray statusJson(const StatusReport& report)
{
    QJsonObject server;
    server.insert("host", report.server.host);
    server.insert("port", portValue(report.server.port));
    server.insert("database", report.server.database);
    server.insert("reachable", report.server.reachable);
    server.insert("error", optionalText(report.failure));

    QJsonArray terminals;
    for (const TerminalStatus& t : report.terminals)
        terminals.append(terminalJson(t));

    QJsonObject root;
    root.insert("server", server);
    root.insert("probe_timeout_ms", report.probeTimeoutMs);
    root.insert("terminals", terminals);
    root.insert("waiting_total", static_cast<double>(report.waitingTotal()));
    root.insert("in_step", report.inStep());
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString statusFailureLine(const StatusReport& report)
{
    return QStringLiteral("quiborsync --status: ") + report.failure.simplified();
}

} // namespace app
