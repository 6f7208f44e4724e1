#pragma once
// Monitor_Venda: shows a sale the import brought to the server in the six
// monitor panes, marks its customer as changed today (when it has
// instalments) and touches the product of its first item. Errors end the
// display with "Erro ATUALIZAR MENU:\rErro: " and never reach the caller,
// but a failure of the server link is raised as ServerLost: it ends the
// caller's run, with no box.

#include <QtGlobal>

namespace db {
class Connection;
}

namespace sales {

class MonitorView;

void Monitor_Venda(db::Connection& server, MonitorView& view, qint64 transacaoId, qint64 cupom, qint64 caixa);

} // namespace sales
