#pragma once
// New identifiers from the server's two sequences.

#include <QtGlobal>

namespace db {

class Connection;

// "SELECT NEXTVAL(:GEN_TRANSACOES) ID"
qint64 nextTransacaoId(Connection& server);
// "SELECT NEXTVAL(:GEN_FECHAMENTO) ID"
qint64 nextFechamentoId(Connection& server);

} // namespace db
