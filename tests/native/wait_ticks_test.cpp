#include <gtest/gtest.h>

#include "core/clock.h"
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

}  // namespace
}  // namespace zol
