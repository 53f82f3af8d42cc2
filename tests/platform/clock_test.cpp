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

TEST(SystemClockTest, TimerFiresFromTheEventLoop) {
    SystemClock clock;
    int fired = 0;
    const auto timer = clock.createTimer([&fired] { ++fired; });
    timer->start(0.01);
    EXPECT_TRUE(timer->isActive());
    clock.Delay(0.05);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer->isActive());
}

// Timers fire where the event loop would run them: in a yielding wait, at
// their time; never in a wait without yield, nor once stopped or destroyed.
TEST(VirtualClockTest, TimersFireInYieldingWaits) {
    VirtualClock clock;
    QList<double> fired;
    auto timer = clock.createTimer([&] { fired << clock.now(); });
    timer->start(0.5);
    clock.waitWithoutYield(1.0);
    EXPECT_TRUE(fired.isEmpty());
    clock.Delay(0.01); // overdue: fires at once
    EXPECT_EQ(fired, QList<double>{1.0});
    timer->start(0.25);
    clock.advance(1.0);
    ASSERT_EQ(fired.size(), 2);
    EXPECT_NEAR(fired.last(), 1.26, 1e-9);
    timer->start(0.1);
    timer->stop();
    clock.advance(1.0);
    timer->start(0.1);
    timer.reset();
    clock.advance(1.0);
    EXPECT_EQ(fired.size(), 2);

    // A callback that starts its timer again for no time cannot hold the clock still.
    std::unique_ptr<ClockTimer> again;
    int times = 0;
    again = clock.createTimer([&] {
        ++times;
        again->start(0);
    });
    again->start(0);
    clock.advance(0.01);
    EXPECT_GE(times, 2);
    EXPECT_LE(times, 12);
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
