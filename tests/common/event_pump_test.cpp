#include "common/event_pump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace {

TEST(EventPumpTest, AReplacedPumpRunsOnEveryCall)
{
    int turns = 0;
    common::setEventPump([&] { ++turns; });
    for (int i = 0; i < 1000; ++i)
        common::pumpEvents();
    common::setEventPump({});
    EXPECT_EQ(turns, 1000);
}

TEST(EventPumpTest, TheDefaultPumpDeliversPendingEventsDuringALongRun)
{
    // A run calls the pump between rows; whatever the window was sent
    // meanwhile must be handled while the run goes on.
    for (int round = 0; round < 3; ++round) {
        bool delivered = false;
        QTimer::singleShot(0, [&] { delivered = true; });
        QElapsedTimer waited;
        waited.start();
        while (!delivered && waited.elapsed() < 2000)
            common::pumpEvents();
        EXPECT_TRUE(delivered) << "round " << round;
    }
}

} // namespace
