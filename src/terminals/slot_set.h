#pragma once
// The 33 terminal connection slots a window owns: Quibor_Pdv01..33 in the
// sales window, Quibor_TrasfPdv01..33 in the update window. Slot n serves the
// terminal whose NUM_ECF converts to n, never the row's position.

#include "db/connection.h"
#include "terminals/terminal_number.h"

#include <QString>
#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace terminals {

struct LicencaRow;

// Slot connections reconnect on a lost link (the "retry" answer), but every
// connect is bounded by this so a dead terminal cannot hold the window.
constexpr int kSlotConnectTimeoutSeconds = 5;

class SlotSet {
public:
    // namePrefix is "Quibor_Pdv" or "Quibor_TrasfPdv".
    explicit SlotSet(QString namePrefix);
    static SlotSet forSales();   // Quibor_Pdv01..33
    static SlotSet forUpdate();  // Quibor_TrasfPdv01..33
    SlotSet(SlotSet&&) noexcept = default;
    SlotSet& operator=(SlotSet&&) noexcept = default;

    // n in 1..33; anything else raises db::UsageError.
    db::Connection& slot(int n);
    const db::Connection& slot(int n) const;
    bool isOpen(int n) const;

    QString slotName(int n) const;   // "Quibor_Pdv07", "Quibor_TrasfPdv07"
    // Characters 13 to 17 of the update slots' names ("Pdv07"): their label
    // in the reference exports' progress lines.
    static QString slotLabel(int n);

    // Closes slot n, rebuilds its lines from the row (terminalParams) and
    // opens it. Raises the open's error (db::BrokenConnection with the
    // server's text); the slot is then left closed.
    void openFromRow(int n, const LicencaRow& row);

    // The same for several slots at once: every connect starts together and
    // each keeps its own time-out, so a batch costs about one time-out
    // however many terminals keep it waiting. Result i tells whether slot
    // wanted[i].first opened; a slot that did not is left closed.
    std::vector<bool> openFromRows(const std::vector<std::pair<int, const LicencaRow*>>& wanted);

    void closeAll();

private:
    QString prefix_;
    // Connections are move-only; held by pointer so the set can move.
    std::array<std::unique_ptr<db::Connection>, kSlotCount> slots_;
};

} // namespace terminals
