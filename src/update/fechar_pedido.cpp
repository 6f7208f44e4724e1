#include "update/fechar_pedido.h"

#include "db/query.h"

namespace update {
namespace {

const char* const kFecharPedido =
    "UPDATE LICENCA_IF SET IMPORTACAO = 0, CARGA_TOTAL = 0 WHERE NUM_ECF = :NUM_ECF AND IMPORTACAO = :IMPORTACAO";
const char* const kFecharPedidoTodas = "UPDATE LICENCA_IF SET IMPORTACAO = 0, CARGA_TOTAL = 0, TODAS_ECFS = 0 "
                                       "WHERE NUM_ECF = :NUM_ECF AND IMPORTACAO = :IMPORTACAO";

void fechar(db::Connection& server, const char* sql, const QString& numEcf, int codigo)
{
    db::Query q(server);
    q.setText(QString::fromUtf8(sql));
    q.bindText("NUM_ECF", numEcf);
    q.bindInteger("IMPORTACAO", codigo);
    q.prepare();
    q.exec();
}

} // namespace

void fecharPedido(db::Connection& server, const QString& numEcf, int codigo)
{
    fechar(server, kFecharPedido, numEcf, codigo);
}

void fecharPedidoTodas(db::Connection& server, const QString& numEcf, int codigo)
{
    fechar(server, kFecharPedidoTodas, numEcf, codigo);
}

} // namespace update
