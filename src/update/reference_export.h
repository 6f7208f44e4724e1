#pragma once
// The reference-table exports (payment methods, taxes, donation entities,
// operators, the IBPT table, the configuration): for every checked terminal
// slot the terminal's tables are cleared and refilled from the server in one
// transaction on the slot, so a failed copy leaves the terminal's previous
// rows in place; then the terminal's last sync is stamped on the server.

#include "update/reference_members.h"

namespace update {

struct ExportLinks;

// A terminal's failure is shown with the member's error prefix (the IBPT
// export stays silent) and the next checked slot is served. A failure of
// the probe or the request rows ends the run with the error, with the boxes
// unchecked and the button enabled as after a finished run.
void Exportar_Referencia(Referencia which, const ExportLinks& links);

} // namespace update
