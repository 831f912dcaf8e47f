#include "backend/linux/clock.h"

#include <gtest/gtest.h>

namespace tonalis::lnx {
namespace {

TEST(LinuxClock, TicksAreMillisecondsAndTheTimeIsAClockTime) {
  LinuxClock clock;
  const uint32_t before = clock.tickCount();
  clock.sleepMillis(30);
  const uint32_t slept = clock.tickCount() - before;  // wrap-safe difference
  EXPECT_GE(slept, 30u);
  EXPECT_LT(slept, 30000u) << "ticks in a unit finer than milliseconds";
  const LocalTime now = clock.localTime();
  EXPECT_TRUE(now.hour >= 0 && now.hour < 24 && now.minute >= 0 && now.minute < 60);
}

}  // namespace
}  // namespace tonalis::lnx
