#include "common/event_pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace common {
namespace {
std::function<void()>& currentPump()
{
    static std::function<void()> pump;
    return pump;
}

// Runs call this once per row; a turn of the loop every few milliseconds
// keeps the window as alive as one per row, at a fraction of the cost.
constexpr qint64 kDefaultPumpIntervalMs = 5;

void defaultPump()
{
    static QElapsedTimer sinceLastTurn;
    if (sinceLastTurn.isValid() && sinceLastTurn.elapsed() < kDefaultPumpIntervalMs)
        return;
    QCoreApplication::processEvents();
    sinceLastTurn.start();
}
} // namespace

void pumpEvents()
{
    if (auto& pump = currentPump())
        pump();
    else if (QCoreApplication::instance())
        defaultPump();
}

void setEventPump(std::function<void()> pump)
{
    currentPump() = std::move(pump);
}

} // namespace common
