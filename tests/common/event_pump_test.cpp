#include "common/event_pump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace {

// A replacement stands for a run's turns between rows: it runs on every
// call in place of the loop, never for a connect's or a statement's wait,
// and once cleared the loop runs again.
TEST(EventPumpTest, AReplacementStandsForARunsTurnsOnly)
{
    int turns = 0;
    common::setEventPump([&] { ++turns; });
    bool delivered = false;
    QTimer::singleShot(0, [&] { delivered = true; });
    for (int i = 0; i < 1000; ++i)
        common::pumpEvents();
    EXPECT_EQ(turns, 1000);
    EXPECT_FALSE(delivered) << "the loop ran in the replacement's place";

    common::pumpWhileWaiting();
    EXPECT_TRUE(delivered) << "a wait runs the loop itself";
    EXPECT_EQ(turns, 1000);
    EXPECT_LT(common::msSinceEventsRan(), 1000) << "a wait's turn counts as events run";

    common::setEventPump({});
    delivered = false;
    QTimer::singleShot(0, [&] { delivered = true; });
    QElapsedTimer waited;
    waited.start();
    while (!delivered && waited.elapsed() < 2000)
        common::pumpEvents();
    EXPECT_TRUE(delivered);
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
