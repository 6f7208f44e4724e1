#include "terminals/startup_pass.h"

#include "db/connection.h"
#include "db/query.h"
#include "terminals/probe.h"
#include "terminals/probe_timeout.h"
#include "terminals/row_snapshot.h"
#include "terminals/slot_set.h"
#include "terminals/status_line.h"
#include "terminals/status_writer.h"
#include "terminals/terminal_number.h"

#include <QDate>
#include <QTime>

namespace terminals {
namespace {

// These four terminals show the time of the failed open instead of their
// last synchronisation.
bool showsTimeOnFailedOpen(int n) { return n == 4 || n == 10 || n == 16 || n == 22; }

} // namespace

void passagemInicialTerminais(StartupPassLinks links)
{
    const std::optional<int> timeoutMs = probeTimeoutMs(links.config, kSalesDefaultTimeoutMs);
    gravarStatusTerminais(links.server, "SELECT * FROM LICENCA_IF  ORDER BY NUM_ECF", timeoutMs);

    db::Query& list = links.qListPdv;
    list.setText("SELECT * FROM LICENCA_IF WHERE STATUS =:STATUS ORDER BY NUM_ECF");
    list.bindText("STATUS", "A");
    list.prepare();
    list.open();
    list.first();
    links.view.terminalListReloaded();
    links.view.clearStatusLines();
    const std::vector<RowRead> rows = readRows(list);

    // The second probe of every active terminal that has a slot, all at once.
    std::vector<Endpoint> endpoints;
    for (const RowRead& r : rows) {
        const auto n = r.error ? std::nullopt : tryNumeroEcf(r.row.numEcf);
        endpoints.push_back(n && hasSlot(*n) ? endpointOf(r) : Endpoint{});
    }
    const std::vector<bool> answered = probeAll(endpoints, timeoutMs);

    // Every answering terminal's slot connects at once; the lines then follow
    // in NUM_ECF order. A slot that does not open only shows red.
    std::vector<std::pair<int, const LicencaRow*>> wanted;
    std::vector<std::size_t> wantedRow;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LicencaRow& row = rows[i].get();
        // A NUM_ECF that is no number ends the pass at its row, below.
        const std::optional<int> n = tryNumeroEcf(row.numEcf);
        if (!n)
            break;
        if (hasSlot(*n) && answered[i]) {
            wanted.emplace_back(*n, &row);
            wantedRow.push_back(i);
        }
    }
    const std::vector<bool> slotOpened = links.slotSet.openFromRows(wanted);
    std::vector<bool> openedRow(rows.size(), false);
    for (std::size_t k = 0; k < wanted.size(); ++k)
        openedRow[wantedRow[k]] = slotOpened[k];

    db::Query update(links.server);
    const QDate today = QDate::currentDate();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LicencaRow& row = rows[i].get();
        const int n = numeroEcf(row.numEcf);
        if (hasSlot(n)) {
            const bool opened = openedRow[i];
            if (opened)
                links.view.addStatusLine(statusLine(onPrefix(n), row), LineColor::Green);
            else if (answered[i] && showsTimeOnFailedOpen(n))
                links.view.addStatusLine(offPrefix(n) + formatLongTime(QTime::currentTime()), LineColor::Red);
            else
                links.view.addStatusLine(statusLine(offPrefix(n), row), LineColor::Red);
        }
        if (row.dtSyncNull || row.dtSync < today) {
            update.setText("UPDATE LICENCA_IF SET STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF");
            update.bindText("STATUS", "D");
            update.bindText("NUM_ECF", row.numEcf);
            update.prepare();
            update.exec();
        }
    }
}

} // namespace terminals
