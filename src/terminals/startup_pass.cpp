#include "terminals/startup_pass.h"

#include "db/connection.h"
#include "db/query.h"
#include "terminals/probe.h"
#include "terminals/probe_timeout.h"
#include "terminals/row_snapshot.h"
#include "terminals/slot_set.h"
#include "terminals/status_line.h"
#include "terminals/status_writer.h"
#include "terminals/terminal_number.h"

#include <QDate>
#include <QTime>

namespace terminals {
namespace {

// These four terminals show the time of the failed open instead of their
// last synchronisation.
bool showsTimeOnFailedOpen(int n) { return n == 4 || n == 10 || n == 16 || n == 22; }

// Each terminal's slot begins to log in as soon as it answers the probe,
// while the silent ones keep the probe waiting.
class SlotLogins : public WhileProbing {
public:
    SlotLogins(SlotSet& slotSet, const std::vector<RowRead>& rows) : slots_(slotSet), rows_(rows) {}

    void reached(std::size_t i) override
    {
        if (rows_[i].error)
            return;
        const LicencaRow& row = rows_[i].row;
        if (const std::optional<int> n = tryNumeroEcf(row.numEcf); n && hasSlot(*n))
            slots_.beginOpenFromRow(*n, row);
    }
    bool busy() const override { return slots_.opening(); }
    void turn(std::chrono::milliseconds maxWait) override { slots_.advanceOpening(maxWait); }

private:
    SlotSet& slots_;
    const std::vector<RowRead>& rows_;
};

// Logins begun for a pass that ends before its slots are opened are not
// kept.
class BegunLogins {
public:
    explicit BegunLogins(SlotSet& slotSet) : slots_(slotSet) {}
    ~BegunLogins() { slots_.abandonBegun(); }
    BegunLogins(const BegunLogins&) = delete;
    BegunLogins& operator=(const BegunLogins&) = delete;

private:
    SlotSet& slots_;
};

} // namespace

void passagemInicialTerminais(StartupPassLinks links)
{
    const std::optional<int> timeoutMs = probeTimeoutMs(links.config, kSalesDefaultTimeoutMs);
    const BegunLogins begun(links.slotSet);
    {
        // STATUS of every terminal from a probe, as gravarStatusTerminais
        // writes it; meanwhile the answering terminals' slots begin to log in.
        db::Query every(links.server);
        every.setText("SELECT * FROM LICENCA_IF  ORDER BY NUM_ECF");
        every.prepare();
        every.open();
        const std::vector<RowRead> all = readRows(every);
        std::vector<Endpoint> targets;
        for (const RowRead& r : all)
            targets.push_back(endpointOf(r));
        SlotLogins early(links.slotSet, all);
        gravarStatus(links.server, all, probeAll(targets, timeoutMs, early));
    }

    db::Query& list = links.qListPdv;
    list.setText("SELECT * FROM LICENCA_IF WHERE STATUS =:STATUS ORDER BY NUM_ECF");
    list.bindText("STATUS", "A");
    list.prepare();
    list.open();
    list.first();
    links.view.terminalListReloaded();
    links.view.clearStatusLines();
    const std::vector<RowRead> rows = readRows(list);

    // The second probe of every active terminal that has a slot, all at once.
    // The logins begun meanwhile end first: a slot that has logged in on its
    // row's lines has its answer, and its terminal is not probed again (on a
    // single database server every probe costs it a session start).
    links.slotSet.settleBegun();
    std::vector<Endpoint> endpoints;
    std::vector<bool> loggedIn(rows.size(), false);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RowRead& r = rows[i];
        const auto n = r.error ? std::nullopt : tryNumeroEcf(r.row.numEcf);
        loggedIn[i] = n && hasSlot(*n) && links.slotSet.begunOutcome(*n, r.row) == true;
        endpoints.push_back(n && hasSlot(*n) && !loggedIn[i] ? endpointOf(r) : Endpoint{});
    }
    std::vector<bool> answered = probeAll(endpoints, timeoutMs);
    for (std::size_t i = 0; i < rows.size(); ++i)
        answered[i] = answered[i] || loggedIn[i];

    // Every answering terminal's slot connects at once (a slot begun on its
    // row's lines keeps that login's outcome); the lines then follow in
    // NUM_ECF order. A slot that does not open only shows red.
    std::vector<std::pair<int, const LicencaRow*>> wanted;
    std::vector<std::size_t> wantedRow;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LicencaRow& row = rows[i].get();
        // A NUM_ECF that is no number ends the pass at its row, below.
        const std::optional<int> n = tryNumeroEcf(row.numEcf);
        if (!n)
            break;
        if (hasSlot(*n) && answered[i]) {
            wanted.emplace_back(*n, &row);
            wantedRow.push_back(i);
        }
    }
    const std::vector<bool> slotOpened = links.slotSet.openFromRows(wanted);
    std::vector<bool> openedRow(rows.size(), false);
    for (std::size_t k = 0; k < wanted.size(); ++k)
        openedRow[wantedRow[k]] = slotOpened[k];

    db::Query update(links.server);
    const QDate today = QDate::currentDate();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LicencaRow& row = rows[i].get();
        const int n = numeroEcf(row.numEcf);
        if (hasSlot(n)) {
            const bool opened = openedRow[i];
            if (opened)
                links.view.addStatusLine(statusLine(onPrefix(n), row), LineColor::Green);
            else if (answered[i] && showsTimeOnFailedOpen(n))
                links.view.addStatusLine(offPrefix(n) + formatLongTime(QTime::currentTime()), LineColor::Red);
            else
                links.view.addStatusLine(statusLine(offPrefix(n), row), LineColor::Red);
        }
        if (row.dtSyncNull || row.dtSync < today) {
            update.setText("UPDATE LICENCA_IF SET STATUS = :STATUS WHERE NUM_ECF = :NUM_ECF");
            update.bindText("STATUS", "D");
            update.bindText("NUM_ECF", row.numEcf);
            update.prepare();
            update.exec();
        }
    }
}

} // namespace terminals
