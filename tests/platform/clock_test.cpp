#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace {

TEST(ClockTest, SystemClockGivesTheLocalDateAndTime) {
  const time_t before = std::time(nullptr);
  const TDateTime now = SystemClock().Now();
  const time_t after = std::time(nullptr);
  tm local{};
  localtime_r(&before, &local);
  const TDateTime low = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                        EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0);
  localtime_r(&after, &local);
  const TDateTime high = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                         EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 999);
  EXPECT_GE(now, low - 1e-9);
  EXPECT_LE(now, high + 1e-9);
  EXPECT_GE(DefaultClock().Now(), now);
}

TEST(ClockTest, FixedClockStandsStillOrStepsWhenTold) {
  FixedClock clock(EncodeDate(2010, 12, 31) + EncodeTime(23, 59, 0, 0));
  EXPECT_EQ(clock.Now(), clock.Now());
  clock.SetStep(1.0 / 24);
  const TDateTime first = clock.Now();
  EXPECT_NEAR(clock.Now() - first, 1.0 / 24, 1e-9);
  clock.Set(5);
  clock.SetStep(0);
  EXPECT_EQ(clock.Now(), 5);
  EXPECT_EQ(clock.Now(), 5);
}

}  // namespace
