#include "terminals/slot_set.h"

#include "db/open_together.h"

#include "db/errors.h"
#include "terminals/licenca_row.h"
#include "terminals/terminal_number.h"

namespace terminals {

SlotSet::SlotSet(QString namePrefix) : prefix_(std::move(namePrefix))
{
    for (auto& s : slots_) {
        s = std::make_unique<db::Connection>(db::ConnectionParams::terminalDefaults());
        s->setAutoReconnect(true);
        s->setConnectTimeoutSeconds(kSlotConnectTimeoutSeconds);
    }
}

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
    db::Connection& c = slot(n);
    c.close();
    c.params() = terminalParams(row);
    c.open();
}

std::vector<bool> SlotSet::openFromRows(const std::vector<std::pair<int, const LicencaRow*>>& wanted)
{
    std::vector<db::Connection*> connections;
    connections.reserve(wanted.size());
    for (const auto& [n, row] : wanted) {
        db::Connection& c = slot(n);
        c.close();
        c.params() = terminalParams(*row);
        connections.push_back(&c);
    }
    const std::vector<QString> failures
        = db::openTogether(connections, std::chrono::seconds(kSlotConnectTimeoutSeconds));
    std::vector<bool> opened;
    opened.reserve(failures.size());
    for (std::size_t i = 0; i < failures.size(); ++i) {
        opened.push_back(failures[i].isEmpty() && connections[i]->connected());
        if (!opened.back())
            connections[i]->close();
    }
    return opened;
}

void SlotSet::closeAll()
{
    for (auto& s : slots_)
        s->close();
}

} // namespace terminals
