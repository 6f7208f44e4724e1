#include "update/liberar_caixas.h"

#include "db/query.h"
#include "terminals/update_status_pass.h"
#include "ui/dialogs.h"

namespace update {

void Liberar_Caixas(db::Connection& server, terminals::UpdateStatusPass& statusPass)
{
    statusPass.VerificarConexao();

    db::Query liberar(server);
    liberar.setText("UPDATE LICENCA_IF SET ECF_STATUS = 0 , EXPORTACAO = 1 WHERE (STATUS ='A') ");
    liberar.prepare();
    liberar.exec();

    ui::dialogs().info(QStringLiteral("Caixas Liberados com sucesso."));
}

} // namespace update
