#include "terminals/update_status_pass.h"

#include "db/connection.h"
#include "db/query.h"
#include "terminals/probe.h"
#include "terminals/probe_timeout.h"
#include "terminals/row_snapshot.h"
#include "terminals/status_writer.h"

namespace terminals {

UpdateStatusPass::UpdateStatusPass(UpdateStatusLinks links)
    : links_(links),
      qList_(std::make_unique<db::Query>(links.server)),
      qUpdate_(std::make_unique<db::Query>(links.server))
{
}

UpdateStatusPass::~UpdateStatusPass() = default;

void UpdateStatusPass::VerificarConexao()
{
    qList_->setText("SELECT * FROM LICENCA_IF WHERE STATUS =:STATUS  ORDER BY NUM_ECF");
    qList_->bindText("STATUS", "A");
    qList_->prepare();
    qList_->open();
    qList_->first();
    ecfsOnline_ = true;
    const std::vector<RowRead> rows = readRows(*qList_);

    // Only terminals 1..33 are probed; the server goes in the same batch.
    std::vector<Endpoint> endpoints;
    for (const RowRead& r : rows) {
        const auto n = r.error ? std::nullopt : tryNumeroEcf(r.row.numEcf);
        endpoints.push_back(n && hasSlot(*n) ? endpointOf(r) : Endpoint{});
    }
    endpoints.push_back(endpointOf(links_.server.params()));
    const std::vector<bool> answered =
        probeAll(endpoints, rereadProbeTimeoutMs(links_.qConfig, kUpdateDefaultTimeoutMs));

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LicencaRow& row = rows[i].get();
        const int n = numeroEcf(row.numEcf);
        if (!hasSlot(n))
            continue;
        ecfOnline_[n] = answered[i];
        links_.view.setTerminalBoxEnabled(n, answered[i]);
        if (!answered[i]) {
            ecfsOnline_ = false;
            marcarForaDoAr(*qUpdate_, row.numEcf);
        }
    }

    servidorOnline_ = servidorNoAr(links_.server, answered.back(), servidorOnline_);
    if (!servidorOnline_)
        ecfsOnline_ = false;
    links_.view.statusPassFinished();
}

} // namespace terminals
