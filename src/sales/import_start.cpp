#include "sales/import_start.h"

#include "db/dataset.h"
#include "sales/sales_view.h"

#include <QLocale>

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

} // namespace sales
