#pragma once
// "Liaberar Caixas para Carga": after a status pass, every active terminal
// becomes eligible again (ECF_STATUS 0) and a target of the next manual
// export (EXPORTACAO 1), including one the pass has just marked.

namespace db {
class Connection;
}
namespace terminals {
class UpdateStatusPass;
}

namespace update {

// No failure is caught: an error ends the release before its confirmation.
void Liberar_Caixas(db::Connection& server, terminals::UpdateStatusPass& statusPass);

} // namespace update
