#include "common/event_pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <limits>

namespace common {
namespace {
std::function<void()>& currentPump()
{
    static std::function<void()> pump;
    return pump;
}

// Since the program's code last let events run.
QElapsedTimer& sinceTurn()
{
    static QElapsedTimer clock;
    return clock;
}

// Runs call this once per row; a turn of the loop every few milliseconds
// keeps the window as alive as one per row, at a fraction of the cost.
constexpr qint64 kDefaultPumpIntervalMs = 5;

void turn()
{
    QCoreApplication::processEvents();
    sinceTurn().start();
}

void defaultPump()
{
    if (sinceTurn().isValid() && sinceTurn().elapsed() < kDefaultPumpIntervalMs)
        return;
    turn();
}
} // namespace

void pumpEvents()
{
    if (auto& pump = currentPump())
        pump();
    else if (QCoreApplication::instance())
        defaultPump();
}

void pumpWhileWaiting()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    // Without an application there is nothing to run, and the wait then
    // sleeps a slice at a time instead of polling a clock that never starts.
    sinceTurn().start();
}

qint64 msSinceEventsRan()
{
    return sinceTurn().isValid() ? sinceTurn().elapsed() : std::numeric_limits<qint64>::max();
}

void setEventPump(std::function<void()> pump)
{
    currentPump() = std::move(pump);
}

} // namespace common
