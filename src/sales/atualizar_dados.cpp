#include "sales/atualizar_dados.h"

#include "db/query.h"
#include "terminals/probe_timeout.h"
#include "terminals/status_writer.h"

namespace sales {

void Atualizar_Dados(db::Connection& server, const db::Dataset& config)
{
    terminals::gravarStatusTerminais(server, "SELECT * FROM LICENCA_IF ORDER BY NUM_ECF",
                                     terminals::probeTimeoutMs(config, terminals::kSalesDefaultTimeoutMs));

    db::Query pedir(server);
    pedir.setText("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE STATUS = :STATUS AND ECF_STATUS = 0");
    pedir.bindText("STATUS", "A");
    pedir.prepare();
    pedir.exec();
}

} // namespace sales
