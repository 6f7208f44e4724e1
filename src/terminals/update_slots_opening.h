#pragma once
// The update window's creation step 6: connect the slots of the reachable
// active terminals and enable their check boxes.

#include "terminals/status_view.h"

namespace db {
class Connection;
class Query;
} // namespace db

namespace terminals {

class SlotSet;

struct UpdateSlotsLinks {
    db::Connection& server;  // Quibor_Server of the update window
    db::Query& qConfig;      // the window's "SELECT * FROM CONFIG" query
    SlotSet& slotSet;        // Quibor_TrasfPdv01..33
    UpdateStatusView& view;  // only setTerminalBoxEnabled is used
};

// Lists "SELECT * FROM LICENCA_IF WHERE STATUS =:STATUS ORDER BY NUM_ECF"
// with "A", probes every terminal numbered 1..33 at once, then for each
// answering one, in order, opens its slot from its row and enables its box
// (a slot that does not open is skipped silently and its box stays
// disabled). Silent terminals are neither connected nor marked. Raises on a
// failing list or a NUM_ECF that is not a whole number (rows before it are
// done); the caller shows "Erro conexao abertura pdvs:\rErro: " + the text.
void abrirSlotsAtualizacao(UpdateSlotsLinks links);

} // namespace terminals
