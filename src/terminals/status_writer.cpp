#include "terminals/status_writer.h"

#include "db/connection.h"
#include "db/query.h"
#include "terminals/probe.h"

namespace terminals {

void gravarStatusTerminais(db::Connection& server, const QString& listSql, std::optional<int> timeoutMs)
{
    db::Query list(server);
    list.setText(listSql);
    list.prepare();
    list.open();
    const std::vector<RowRead> rows = readRows(list);

    std::vector<Endpoint> endpoints;
    for (const RowRead& r : rows)
        endpoints.push_back(endpointOf(r));
    gravarStatus(server, rows, probeAll(endpoints, timeoutMs));
}

void gravarStatus(db::Connection& server, const std::vector<RowRead>& rows, const std::vector<bool>& answered)
{
    db::Query update(server);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LicencaRow& row = rows[i].get();
        if (answered[i]) {
            update.setText("UPDATE LICENCA_IF SET STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF");
            update.bindText("STATUS", "A");
        } else {
            update.setText("UPDATE LICENCA_IF SET  STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF");
            update.bindText("STATUS", "D");
        }
        update.bindText("NUM_ECF", row.numEcf);
        update.prepare();
        update.exec();
    }
}

void marcarForaDoAr(db::Query& update, const QString& numEcf)
{
    update.setText("UPDATE LICENCA_IF SET ECF_STATUS = 1 WHERE NUM_ECF = :NUM_ECF");
    update.bindText("NUM_ECF", numEcf);
    update.prepare();
    update.exec();
}

bool servidorNoAr(db::Connection& server, bool answered, bool wasOnline)
{
    if (answered && !wasOnline)
        server.open();
    return answered;
}

} // namespace terminals
