#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/poll_schedule.h"
#include "sim/sim_clock.h"

namespace zol {
namespace {

TEST(WaitTicks, LastsJustMoreThanTheDelay) {
  sim::SimClock clock(5000);
  WaitTicks(clock, 1000);
  EXPECT_EQ(clock.Now(), 6001u);
}

TEST(WaitTicks, IsWrapSafe) {
  sim::SimClock clock(0xFFFFFFFFu - 300);
  WaitTicks(clock, 1000);
  EXPECT_EQ(static_cast<uint32_t>(clock.Now() - (0xFFFFFFFFu - 300)), 1001u);
}

TEST(WaitTicks, ZeroDelayWaitsOneTick) {
  sim::SimClock clock(7);
  WaitTicks(clock, 0);
  EXPECT_EQ(clock.Now(), 8u);
}

TEST(SleepUntil, MeasuresAgainstTheDeadlineWhateverEachSleepLasts) {
  sim::SimClock coarse(100, 16);  // sleeps last whole 16 ms periods
  uint32_t deadline = coarse.Now();
  for (int step = 0; step < 201; ++step) {
    deadline += 50;
    SleepUntil(coarse, deadline);
  }
  EXPECT_GE(coarse.Now() - 100, 201u * 50);
  EXPECT_LT(coarse.Now() - 100, 201u * 50 + 16);
}

TEST(PollSchedule, TicksEveryPeriodFromTheFirstAndCollapsesThoseMissedWhileBusy) {
  PollSchedule ticks(0xFFFFFFF0u, 100);  // across the wrap of the counter
  uint32_t now = 0xFFFFFFF0u;
  EXPECT_EQ(ticks.MsUntilDue(now), 100u);
  EXPECT_FALSE(ticks.TakeDue(now + 99));
  // Woken 7 ms late: the next tick is still due 100 ms after the one before, not after the wake.
  now += 107;
  EXPECT_TRUE(ticks.TakeDue(now));
  EXPECT_FALSE(ticks.TakeDue(now));
  EXPECT_EQ(ticks.MsUntilDue(now), 93u);
  // Busy for 350 ms: one tick, then the next a whole period later.
  now += 350;
  EXPECT_TRUE(ticks.TakeDue(now));
  EXPECT_FALSE(ticks.TakeDue(now + 99));
  EXPECT_TRUE(ticks.TakeDue(now + 100));
}

}  // namespace
}  // namespace zol
