#include "terminals/sales_status_pass.h"

#include "common/event_pump.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/link_failure.h"
#include "db/query.h"
#include "terminals/probe.h"
#include "terminals/probe_timeout.h"
#include "terminals/row_snapshot.h"
#include "terminals/status_line.h"
#include "terminals/status_writer.h"
#include "terminals/terminal_number.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

namespace terminals {

SalesStatusPass::SalesStatusPass(SalesStatusLinks links)
    : links_(links), qUpdate_(std::make_unique<db::Query>(links.server))
{
}

SalesStatusPass::~SalesStatusPass() = default;

void SalesStatusPass::VerificarConexao()
{
    db::Query& list = links_.qListPdv;
    list.clear();
    list.setText("SELECT * FROM LICENCA_IF WHERE STATUS =:STATUS ORDER BY NUM_ECF");
    list.bindText("STATUS", "A");
    list.prepare();
    list.open();
    list.first();
    links_.view.terminalListReloaded();

    links_.view.clearStatusLines();
    try {
        const std::vector<RowRead> rows = readRows(list);

        // Every terminal and the server at once; the results are applied below
        // in the list's order.
        std::vector<Endpoint> endpoints;
        for (const RowRead& r : rows)
            endpoints.push_back(endpointOf(r));
        endpoints.push_back(endpointOf(links_.server.params()));
        const std::vector<bool> answered =
            probeAll(endpoints, probeTimeoutMs(links_.config, kSalesDefaultTimeoutMs));

        for (std::size_t i = 0; i < rows.size(); ++i) {
            const LicencaRow& row = rows[i].get();
            const int n = numeroEcf(row.numEcf);
            if (hasSlot(n)) {
                if (answered[i]) {
                    links_.view.addStatusLine(statusLine(onPrefix(n), row), LineColor::Green);
                } else if (n != 1 || row.ecfStatus == 0) {
                    // Terminal 1 is shown and marked off line only while not
                    // yet marked; the others every time.
                    links_.view.addStatusLine(statusLine(offPrefix(n), row), LineColor::Red);
                    marcarForaDoAr(*qUpdate_, row.numEcf);
                }
            }
            common::pumpEvents();
        }

        servidorOnline_ = servidorNoAr(links_.server, answered.back(), servidorOnline_);
    } catch (const std::exception& e) {
        // A lost server link ends the run that called the pass: the run
        // says so in the pane, and the next run tries again. No box.
        if (db::isLinkFailure(e))
            throw;
        ui::dialogs().error("Erro Verifica Conexao:\rErro Verifica conexao: " + ui::failureText(e));
        if (!servidorOnline_)
            ui::dialogs().plain("Servidor Fora do Ar!");
        return;
    }
    // The probe found the server away: the run has nothing to work on.
    if (!servidorOnline_)
        throw db::BrokenConnection(QStringLiteral("Servidor Fora do Ar!"));
}

} // namespace terminals
