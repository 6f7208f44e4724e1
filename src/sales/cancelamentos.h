#pragma once
// The cancellation step of a terminal: sales cancelled on the terminal
// (EXPORTADO 3) are removed or trimmed on the server, and each is marked 4
// on the terminal once its server statements have run. A cancellation that
// fails stays at 3 and is carried out by a later import.

#include <QtGlobal>

namespace db {
class Connection;
}

namespace sales {

struct ImportCells;
struct StockLocationSettings;

// True when the terminal listed cancelled sales (the caller then shows the
// monitor). Failures of single cancellations are swallowed, but a lost link
// is raised (TerminalSkipped for the terminal's, ServerLost for the
// server's); a failure of the listing itself reaches the caller.
bool carryOutCancellations(
    db::Connection& pdv, db::Connection& server, ImportCells& cells, const StockLocationSettings& stock);

} // namespace sales
