#include "terminals/update_slots_opening.h"

#include "db/query.h"
#include "terminals/probe.h"
#include "terminals/probe_timeout.h"
#include "terminals/row_snapshot.h"
#include "terminals/slot_set.h"
#include "terminals/terminal_number.h"

namespace terminals {

void abrirSlotsAtualizacao(UpdateSlotsLinks links)
{
    db::Query list(links.server);
    list.setText("SELECT * FROM LICENCA_IF WHERE STATUS =:STATUS ORDER BY NUM_ECF");
    list.bindText("STATUS", "A");
    list.prepare();
    list.open();
    list.first();
    const std::vector<RowRead> rows = readRows(list);

    std::vector<Endpoint> endpoints;
    bool anyProbe = false;
    for (const RowRead& r : rows) {
        const auto n = r.error ? std::nullopt : tryNumeroEcf(r.row.numEcf);
        const bool probed = n && hasSlot(*n);
        endpoints.push_back(probed ? endpointOf(r) : Endpoint{});
        anyProbe = anyProbe || probed;
    }
    // CONFIG is re-read by the probe only when there is something to probe.
    const std::vector<bool> answered = anyProbe
        ? probeAll(endpoints, rereadProbeTimeoutMs(links.qConfig, kUpdateDefaultTimeoutMs))
        : std::vector<bool>(rows.size(), false);

    // Every answering terminal's slot connects at once; the boxes are then
    // enabled in NUM_ECF order. The box of a terminal whose slot does not
    // open stays disabled.
    // A row whose NUM_ECF is no number ends the pass there: the rows before
    // it are served, then its error is raised.
    std::vector<std::pair<int, const LicencaRow*>> wanted;
    std::size_t served = 0;
    for (; served < rows.size(); ++served) {
        const LicencaRow& row = rows[served].get();
        const std::optional<int> n = tryNumeroEcf(row.numEcf);
        if (!n)
            break;
        if (hasSlot(*n) && answered[served])
            wanted.emplace_back(*n, &row);
    }
    const std::vector<bool> opened = links.slotSet.openFromRows(wanted);
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (opened[i])
            links.view.setTerminalBoxEnabled(wanted[i].first, true);
    if (served < rows.size())
        numeroEcf(rows[served].get().numEcf);
}

} // namespace terminals
