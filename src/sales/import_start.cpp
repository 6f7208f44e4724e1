#include "sales/import_start.h"

#include "common/event_pump.h"
#include "db/connection.h"
#include "db/dataset.h"
#include "db/errors.h"
#include "db/link_failure.h"
#include "db/query.h"
#include "sales/sales_view.h"
#include "terminals/terminal_number.h"
#include "ui/standard_error.h"

#include <QFile>
#include <QLocale>
#include <QtMath>
#include <exception>

namespace sales {

void startImportRun(const SalesImportLinks& links)
{
    if (links.verificarConexao)
        links.verificarConexao();
    const QDate businessDate = links.abertura.field("DT_MOVIMENTO").asDateTime().date();
    const QString baseName = links.baseName ? links.baseName() : QString();
    links.view.showDatabaseLabel(QStringLiteral("Banco: ") + baseName + QStringLiteral(" - ")
        + QLocale().toString(businessDate, QLocale::ShortFormat));
    links.view.clearLabel9();
    links.view.repaintWindow();
}

void skipIfUnavailable(const db::Connection* terminal, const std::exception& failure)
{
    if (dynamic_cast<const TerminalSkipped*>(&failure))
        throw TerminalSkipped(static_cast<const TerminalSkipped&>(failure).reason());
    if (dynamic_cast<const ServerLost*>(&failure))
        throw ServerLost(static_cast<const ServerLost&>(failure).reason());
    const auto* dbError = dynamic_cast<const db::DatabaseError*>(&failure);
    // lock_not_available: the terminal session's lock_timeout; query_canceled:
    // a cancel of a statement that did not answer.
    const bool refused = dbError
                         && (dbError->sqlState() == QLatin1String("55P03")
                             || dbError->sqlState() == QLatin1String("57014"));
    const bool lost = !terminal || !terminal->linkUp();
    if (refused || lost)
        throw TerminalSkipped(ui::failureText(failure).section(u'\n', 0, 0).trimmed());
}

void serveRequests(const SalesImportLinks& links, const char* requestsSql, const QString& runName,
                   const std::function<void(const db::Dataset&)>& importTerminal,
                   const std::function<void(const QString&)>& closeTerminal)
{
    db::Query requests(links.server);
    requests.setText(requestsSql);
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
        } catch (const ServerLost&) {
            throw;
        } catch (const TerminalSkipped& skipped) {
            const int n = terminals::tryNumeroEcf(numEcf).value_or(0);
            links.view.reportSkippedTerminal(terminals::ecfLabel(n) + QStringLiteral(" - ") + runName
                                             + QStringLiteral(": caixa ignorado - ") + skipped.reason());
        } catch (const std::exception&) {
            // Whatever failed, the terminal's request is still closed below.
        }
        closeTerminal(numEcf);
        links.view.setProgress(qRound(k * 100.0 / n));
        common::pumpEvents();
    }
}

void reportServerInterrupted(SalesView& view, const QString& logFile, const std::exception& failure)
{
    const QString line = serverLostLine(db::failureReason(failure));
    view.reportSkippedTerminal(line);
    if (logFile.isEmpty())
        return;
    QFile log(logFile);
    // The pane has the line already; a log that cannot be written adds nothing to say.
    if (log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        log.write(line.toUtf8() + '\n');
}

} // namespace sales
