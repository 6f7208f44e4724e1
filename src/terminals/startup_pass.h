#pragma once
// The sales window's start-up terminal pass (its creation step 5).

#include "terminals/status_view.h"

namespace db {
class Connection;
class Dataset;
class Query;
} // namespace db

namespace terminals {

class SlotSet;

struct StartupPassLinks {
    db::Connection& server;     // Quibor_Server of the sales window
    db::Query& qListPdv;        // QList_Pdv: left open on the active list of step 2
    SlotSet& slotSet;           // Quibor_Pdv01..33
    const db::Dataset& config;  // the window's CONFIG view (TIMEOUT_ECFS)
    StatusLinesView& view;      // MemoPdv2
};

// STATUS of every terminal from a probe (as gravarStatusTerminais); then, for
// every active terminal in NUM_ECF order: when numbered 1..33, a second
// probe, its slot opened from its row and a green "ON" line (a red "OFF"
// line when silent or when the slot does not open; for terminals 4, 10, 16
// and 22 a failed open shows the OFF prefix and the current time only); and
// STATUS "D" when its DT_SYNC is before today (or null), line and slot kept.
// A failing statement or a NUM_ECF that is not a whole number raises; the
// caller shows "Erro Abertura:\rErro Abertura" + the error's text. A slot
// that does not open is not an error. Every probe round waits about one
// time-out in all, and the slots log in meanwhile: each as soon as its
// terminal answers the first probe, on the lines of that row. A slot logged
// in on its active row's lines counts as that terminal's second answer; a
// row changed meanwhile is probed and logs in again, and a login that failed
// is not tried twice. Events run only while slot logins keep the pass
// waiting after the probes.
void passagemInicialTerminais(StartupPassLinks links);

} // namespace terminals
