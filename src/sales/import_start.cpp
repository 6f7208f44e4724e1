#include "sales/import_start.h"

#include "common/event_pump.h"
#include "db/dataset.h"
#include "db/query.h"
#include "sales/sales_view.h"

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

void serveRequests(const SalesImportLinks& links, const char* requestsSql,
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
        } catch (const std::exception&) {
            // Whatever failed, the terminal's request is still closed below.
        }
        closeTerminal(numEcf);
        links.view.setProgress(qRound(k * 100.0 / n));
        common::pumpEvents();
    }
}

} // namespace sales
