#include "common/event_pump.h"

#include <QCoreApplication>

namespace common {
namespace {
std::function<void()>& currentPump()
{
    static std::function<void()> pump;
    return pump;
}
} // namespace

void pumpEvents()
{
    if (auto& pump = currentPump())
        pump();
    else if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void setEventPump(std::function<void()> pump)
{
    currentPump() = std::move(pump);
}

} // namespace common
