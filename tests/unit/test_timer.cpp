#include <gtest/gtest.h>

#include <cstdint>

#include "measure/Timer.h"
#include "platform/Time.h"

// The coarse clock of the calibration and the samplers' throttles: 64 bits,
// so no reading ever wraps below an earlier one.
TEST(MonotonicClock, NeverGoesBackAndFollowsASleep) {
    uint64_t previous = platform::MonotonicMs();
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = platform::MonotonicMs();
        ASSERT_GE(now, previous);
        previous = now;
    }
    // The tick advances in steps of up to about 16 ms on Windows.
    const double before = Timer.TickSeconds();
    platform::SleepMs(100);
    const double slept = Timer.TickSeconds() - before;
    EXPECT_GE(slept, 0.07);
    EXPECT_LT(slept, 5.0);
}

TEST(CounterSeconds, DividesAndRefusesAZeroFrequency) {
    EXPECT_DOUBLE_EQ(CounterSeconds(1500, 1000), 1.5);
    EXPECT_DOUBLE_EQ(CounterSeconds(int64_t{123456789012345}, 1000000000), 123456.789012345);
    EXPECT_EQ(CounterSeconds(42, 0), 0.0);
    EXPECT_EQ(CounterSeconds(42, -1), 0.0);
}

TEST(CounterRate, WithinFortyPerCentOfTheTickClockBoundsExcluded) {
    EXPECT_TRUE(CounterRateIsPlausible(0.5, 0.5));
    EXPECT_TRUE(CounterRateIsPlausible(0.3001, 0.5));
    EXPECT_TRUE(CounterRateIsPlausible(6.999, 5.0));
    EXPECT_FALSE(CounterRateIsPlausible(0.3, 0.5));
    EXPECT_FALSE(CounterRateIsPlausible(0.7, 0.5));
    EXPECT_FALSE(CounterRateIsPlausible(-0.5, 0.5));  // running backwards
    EXPECT_FALSE(CounterRateIsPlausible(0.0, 0.5));   // standing still
    EXPECT_FALSE(CounterRateIsPlausible(0.0, 0.0));   // no time passed
}

TEST(FormatDuration, FreeWidthDropsLeadingBlanks) {
    EXPECT_EQ(Timer.FormatDuration(3600000, false), "01:00:00.000");
    EXPECT_EQ(Timer.FormatDuration(int64_t{100} * 3600000, false), "100:00:00.000");
    EXPECT_EQ(Timer.FormatDuration(0, false), "00:00:00.000");
    EXPECT_EQ(Timer.FormatDuration(int64_t{99} * 3600000 + 3599999, false), "99:59:59.999");
    EXPECT_EQ(Timer.FormatDuration(61001, false), "00:01:01.001");
}

TEST(FormatDuration, FixedWidthIsFifteenCharacters) {
    EXPECT_EQ(Timer.FormatDuration(83456, true), "   00:01:23.456");
    EXPECT_EQ(Timer.FormatDuration(int64_t{100} * 3600000, true), "  100:00:00.000");
    EXPECT_EQ(Timer.FormatDuration(int64_t{99999} * 3600000 + 59000, true), "99999:00:59.000");
    EXPECT_EQ(Timer.FormatDuration(int64_t{99} * 3600000, true).size(), 15u);
}

TEST(TimerLive, GetTimeMeasuresASleep) {
    const double before = Timer.GetTime();
    platform::SleepMs(200);
    const double after = Timer.GetTime();
    EXPECT_GT(after - before, 0.15);
    EXPECT_LT(after - before, 2.0);
}

TEST(TimerLive, GetTimeNeverGoesBack) {
    double previous = Timer.GetTime();
    for (int i = 0; i < 10000; ++i) {
        const double now = Timer.GetTime();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(TimerLive, TickSecondsFollowsTheClock) {
    const double before = Timer.TickSeconds();
    platform::SleepMs(200);
    const double after = Timer.TickSeconds();
    EXPECT_GT(after - before, 0.1);
    EXPECT_LT(after - before, 2.0);
}

TEST(TimerLive, CounterCheckPassesOnAWorkingCounter) {
    const CounterCheck check;
    EXPECT_TRUE(check.Usable());
    EXPECT_TRUE(check.Passed());
}
