#include "terminals/slot_set.h"

#include "common/event_pump.h"
#include "db/errors.h"
#include "db/open_together.h"
#include "terminals/licenca_row.h"
#include "terminals/terminal_number.h"

namespace terminals {

// Connects begun ahead of openFromRows, one per slot at most.
struct SlotSet::Begun {
    db::ConnectBatch batch{std::chrono::seconds(kSlotConnectTimeoutSeconds)};
    std::array<bool, kSlotCount> slot{};             // begun and not yet taken over
    std::array<std::optional<bool>, kSlotCount> opened{};
};

SlotSet::SlotSet(QString namePrefix) : prefix_(std::move(namePrefix))
{
    for (auto& s : slots_) {
        s = std::make_unique<db::Connection>(db::ConnectionParams::terminalDefaults());
        s->setAutoReconnect(true);
        s->setConnectTimeoutSeconds(kSlotConnectTimeoutSeconds);
    }
}

SlotSet::SlotSet(SlotSet&&) noexcept = default;

SlotSet& SlotSet::operator=(SlotSet&& other) noexcept
{
    if (this != &other) {
        // The begun connects point into the slots about to go.
        begun_.reset();
        prefix_ = std::move(other.prefix_);
        slots_ = std::move(other.slots_);
        begun_ = std::move(other.begun_);
    }
    return *this;
}

SlotSet::~SlotSet() = default;

SlotSet SlotSet::forSales() { return SlotSet("Quibor_Pdv"); }
SlotSet SlotSet::forUpdate() { return SlotSet("Quibor_TrasfPdv"); }

db::Connection& SlotSet::slot(int n)
{
    if (!hasSlot(n))
        throw db::UsageError(QString("Slot de terminal inexistente: %1").arg(n));
    return *slots_[n - 1];
}

const db::Connection& SlotSet::slot(int n) const
{
    return const_cast<SlotSet*>(this)->slot(n);
}

bool SlotSet::isOpen(int n) const { return hasSlot(n) && slots_[n - 1]->connected(); }

QString SlotSet::slotName(int n) const { return prefix_ + twoDigits(n); }

QString SlotSet::slotLabel(int n) { return "Pdv" + twoDigits(n); }

void SlotSet::openFromRow(int n, const LicencaRow& row)
{
    abandonBegun();
    db::Connection& c = slot(n);
    c.close();
    c.params() = terminalParams(row);
    c.open();
}

std::vector<bool> SlotSet::openFromRows(const std::vector<std::pair<int, const LicencaRow*>>& wanted)
{
    const std::array<std::optional<bool>, kSlotCount> begun = finishBegun();
    std::vector<std::optional<bool>> outcome(wanted.size());
    std::array<bool, kSlotCount> kept{};
    std::vector<std::size_t> fresh;
    std::vector<db::Connection*> connections;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const auto& [n, row] = wanted[i];
        db::Connection& c = slot(n);
        const db::ConnectionParams lines = terminalParams(*row);
        if (begun[n - 1] && c.params().lines() == lines.lines()) {
            outcome[i] = *begun[n - 1] && c.connected();
            kept[n - 1] = true;
            continue;
        }
        kept[n - 1] = false;
        c.close();
        c.params() = lines;
        fresh.push_back(i);
        connections.push_back(&c);
    }
    for (int n = 1; n <= kSlotCount; ++n)
        if (begun[n - 1] && !kept[n - 1])
            slot(n).close();

    const std::vector<QString> failures
        = db::openTogether(connections, std::chrono::seconds(kSlotConnectTimeoutSeconds));
    for (std::size_t k = 0; k < fresh.size(); ++k)
        outcome[fresh[k]] = failures[k].isEmpty() && connections[k]->connected();

    // A slot wanted twice ends as its last row left it.
    std::array<std::size_t, kSlotCount> last{};
    for (std::size_t i = 0; i < wanted.size(); ++i)
        last[wanted[i].first - 1] = i;
    std::vector<bool> opened;
    opened.reserve(wanted.size());
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        opened.push_back(*outcome[i]);
        if (!opened.back() && last[wanted[i].first - 1] == i)
            slot(wanted[i].first).close();
    }
    return opened;
}

void SlotSet::beginOpenFromRow(int n, const LicencaRow& row)
{
    db::Connection& c = slot(n);
    if (!begun_)
        begun_ = std::make_unique<Begun>();
    if (begun_->slot[n - 1])
        return;
    c.close();
    c.params() = terminalParams(row);
    begun_->slot[n - 1] = true;
    begun_->batch.add(c);
}

bool SlotSet::opening() const { return begun_ && begun_->batch.running(); }

void SlotSet::advanceOpening(std::chrono::milliseconds maxWait)
{
    if (!begun_)
        return;
    if (begun_->batch.running())
        begun_->batch.wait(maxWait);
    for (const db::ConnectBatch::Ended& e : begun_->batch.takeEnded())
        for (int n = 1; n <= kSlotCount; ++n)
            if (slots_[n - 1].get() == e.connection)
                begun_->opened[n - 1] = e.failure.isEmpty() && e.connection->connected();
}

void SlotSet::settleBegun()
{
    if (!begun_)
        return;
    // As openTogether waits: events run while nothing progresses.
    constexpr std::chrono::milliseconds kSlice{10};
    advanceOpening(std::chrono::milliseconds(0));
    while (begun_->batch.running()) {
        if (!begun_->batch.wait(kSlice))
            common::pumpEvents();
        advanceOpening(std::chrono::milliseconds(0));
    }
}

std::optional<bool> SlotSet::begunOutcome(int n, const LicencaRow& row) const
{
    if (!begun_ || !hasSlot(n) || !begun_->slot[n - 1] || begun_->batch.running())
        return std::nullopt;
    if (slots_[n - 1]->params().lines() != terminalParams(row).lines())
        return std::nullopt;
    return begun_->opened[n - 1].value_or(false) && slots_[n - 1]->connected();
}

std::array<std::optional<bool>, kSlotCount> SlotSet::finishBegun()
{
    std::array<std::optional<bool>, kSlotCount> opened{};
    if (!begun_)
        return opened;
    settleBegun();
    for (int n = 1; n <= kSlotCount; ++n)
        if (begun_->slot[n - 1])
            opened[n - 1] = begun_->opened[n - 1].value_or(false);
    begun_.reset();
    return opened;
}

void SlotSet::abandonBegun()
{
    if (!begun_)
        return;
    const std::unique_ptr<Begun> begun = std::move(begun_);
    // Closing a slot whose connect is still in flight ends that connect.
    for (int n = 1; n <= kSlotCount; ++n)
        if (begun->slot[n - 1])
            slots_[n - 1]->close();
}

void SlotSet::closeAll()
{
    abandonBegun();
    for (auto& s : slots_)
        s->close();
}

} // namespace terminals
