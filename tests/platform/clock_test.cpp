#include "platform/busy_cursor.h"
#include "platform/clock.h"
#include "platform/virtual_clock.h"

#include <QTimer>
#include <ctime>

#include <gtest/gtest.h>

using namespace kqm::platform;

TEST(SystemClockTest, DelayLetsEventsRunWhileWaiting) {
    SystemClock clock;
    bool fired = false;
    QTimer::singleShot(5, [&fired] { fired = true; });
    const double start = clock.now();
    clock.Delay(0.03);
    EXPECT_TRUE(fired);
    EXPECT_GE(clock.now() - start, 0.025);
}

TEST(SystemClockTest, DelaySleepsInsteadOfSpinning) {
    // Processor time used during a wait shows whether it spins.
    SystemClock clock;
    const std::clock_t before = std::clock();
    clock.Delay(0.2);
    const double cpu = static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(cpu, 0.1);
}

TEST(VirtualClockTest, AdvancesInstantlyAndTellsListeners) {
    VirtualClock clock;
    int ticks = 0;
    double last = 0;
    clock.addListener([&](double now) {
        ++ticks;
        last = now;
    });
    clock.Delay(120.0); // two minutes of protocol pauses
    EXPECT_DOUBLE_EQ(clock.now(), 120.0);
    EXPECT_DOUBLE_EQ(last, 120.0);
    EXPECT_GE(ticks, 119999);
    clock.Delay(-1);
    clock.waitWithoutYield(0.5);
    EXPECT_DOUBLE_EQ(clock.now(), 120.5);
    EXPECT_DOUBLE_EQ(clock.totalDelayed(), 120.5);
}

TEST(BusyCursorTest, GuardRestoresOnEveryPath) {
    CountingBusyCursor cursor;
    const auto work = [&cursor](bool early) {
        BusyCursorGuard guard(cursor);
        if (early)
            return 1;
        return 2;
    };
    work(true);
    work(false);
    EXPECT_EQ(cursor.timesShown(), 2);
    EXPECT_EQ(cursor.depth(), 0);
}
