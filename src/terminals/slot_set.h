#pragma once
// The 33 terminal connection slots a window owns: Quibor_Pdv01..33 in the
// sales window, Quibor_TrasfPdv01..33 in the update window. Slot n serves the
// terminal whose NUM_ECF converts to n, never the row's position.

#include "db/connection.h"
#include "terminals/terminal_number.h"

#include <QString>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
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
    SlotSet(SlotSet&&) noexcept;
    SlotSet& operator=(SlotSet&&) noexcept;
    ~SlotSet();

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
    // Connects begun by beginOpenFromRow are waited for first: a slot begun
    // on the lines its row gives here keeps that connect's outcome, and a
    // begun slot that is not wanted, or wanted on other lines, is closed.
    std::vector<bool> openFromRows(const std::vector<std::pair<int, const LicencaRow*>>& wanted);

    // Starts opening slot n from the row and returns at once, so the login
    // goes on while the caller waits for something else (the other
    // terminals' probes); openFromRows takes it over. A slot already begun
    // is left as it is.
    void beginOpenFromRow(int n, const LicencaRow& row);
    // Whether begun connects are under way; advances them, waiting at most
    // `maxWait`.
    bool opening() const;
    void advanceOpening(std::chrono::milliseconds maxWait);
    // Waits until every begun connect has ended (events run while nothing
    // progresses), each bounded by the slot time-out.
    void settleBegun();
    // Once settled: whether slot n, begun on exactly the lines `row` gives,
    // opened. Nothing when it was not begun, or on other lines.
    std::optional<bool> begunOutcome(int n, const LicencaRow& row) const;
    // Closes every begun slot that openFromRows has not taken over (a run
    // that ends before it does). openFromRow and closeAll do this first.
    void abandonBegun();

    void closeAll();

private:
    struct Begun;
    // Waits begun connects out; true for each begun slot that opened.
    std::array<std::optional<bool>, kSlotCount> finishBegun();

    QString prefix_;
    // Connections are move-only; held by pointer so the set can move.
    std::array<std::unique_ptr<db::Connection>, kSlotCount> slots_;
    // After the slots, which it points into: it goes first.
    std::unique_ptr<Begun> begun_;
};

} // namespace terminals
