#pragma once
// A request this window served on one terminal is closed there, and only
// that one: the terminal's row may hold a request of the sales window's
// (IMPORTACAO 1 or 3) or of another export, raised meanwhile or ticked
// along by a box, which must stay for the run that serves it.

#include <QString>

namespace db {
class Connection;
}

namespace update {

// IMPORTACAO and CARGA_TOTAL of `numEcf`'s row back to 0 when its request
// is `codigo` (10 to 16); the row is left alone otherwise.
void fecharPedido(db::Connection& server, const QString& numEcf, int codigo);

// The same, and TODAS_ECFS too: the manual customer export in
// all-terminals mode.
void fecharPedidoTodas(db::Connection& server, const QString& numEcf, int codigo);

} // namespace update
