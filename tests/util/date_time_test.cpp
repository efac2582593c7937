#include "util/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "util/error.h"

namespace {

struct Ymd {
  int y, m, d;
};

Ymd Decoded(TDateTime v) {
  Ymd r{};
  DecodeDate(v, &r.y, &r.m, &r.d);
  return r;
}

TEST(DateEncodingTest, KnownDayNumbers) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_EQ(EncodeDate(2010, 3, 24), 40261);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465);
}

TEST(DateEncodingTest, RejectsDatesThatDoNotExist) {
  TDateTime v = 123;
  EXPECT_FALSE(TryEncodeDate(2010, 2, 29, &v));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, &v));  // not a leap year
  EXPECT_FALSE(TryEncodeDate(2010, 13, 1, &v));
  EXPECT_FALSE(TryEncodeDate(2010, 4, 31, &v));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, &v));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, &v));
  EXPECT_EQ(v, 123);
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, &v));
  EXPECT_THROW(EncodeDate(2010, 2, 30), Exception);
}

TEST(DateEncodingTest, DecodeRoundTripsEveryDayOfSomeYears) {
  for (int y : {1, 1600, 1899, 1900, 2000, 2010, 2100, 9999}) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= 31; ++d) {
        TDateTime v;
        if (!TryEncodeDate(y, m, d, &v)) continue;
        const Ymd r = Decoded(v < 0 ? v - 0.75 : v + 0.75);
        ASSERT_EQ(r.y, y);
        ASSERT_EQ(r.m, m);
        ASSERT_EQ(r.d, d);
      }
    }
  }
}

TEST(DateEncodingTest, NegativeValuesKeepTheirDayAndUseTheAbsoluteFraction) {
  const Ymd r = Decoded(-1.25);
  EXPECT_EQ(r.y, 1899);
  EXPECT_EQ(r.m, 12);
  EXPECT_EQ(r.d, 29);
  int h, n, s, ms;
  DecodeTime(-1.25, &h, &n, &s, &ms);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(n, 0);
}

TEST(DateEncodingTest, UndecodableValuesGiveZeroesNotGarbage) {
  for (double v : {1e12, -1e12, std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity()}) {
    const Ymd r = Decoded(v);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(r.m, 0);
    EXPECT_EQ(r.d, 0);
  }
}

TEST(TimeEncodingTest, EncodesAndDecodesToTheMillisecond) {
  const TDateTime t = EncodeTime(14, 5, 9, 123);
  int h, n, s, ms;
  DecodeTime(40245 + t, &h, &n, &s, &ms);
  EXPECT_EQ(h, 14);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(s, 9);
  EXPECT_EQ(ms, 123);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), Exception);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), Exception);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), Exception);
}

TEST(TimeEncodingTest, RoundsToTheNearestMillisecondWithoutSpillingIntoTheNextDay) {
  int h, n, s, ms;
  // 10:00:00 less a hair of floating-point error reads as 10:00:00.000.
  DecodeTime(std::nextafter(10.0 / 24.0, 0.0), &h, &n, &s, &ms);
  EXPECT_EQ(h, 10);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ms, 0);
  DecodeTime(std::nextafter(40246.0, 0.0), &h, &n, &s, &ms);
  EXPECT_EQ(h, 23);
  EXPECT_EQ(n, 59);
  EXPECT_EQ(s, 59);
  EXPECT_EQ(ms, 999);
}

TEST(DatePartsTest, MonthYearAndJulianDay) {
  const TDateTime v = EncodeDate(2010, 3, 24) + 0.75;  // 18:00
  EXPECT_EQ(DateMonth(v), 3);
  EXPECT_EQ(DateYear(v), 2010);
  EXPECT_EQ(DateToJulianDay(EncodeDate(2000, 1, 1)), 2451545);
  EXPECT_EQ(DateToJulianDay(36526.99), 2451545);
  EXPECT_EQ(JulianDayToDate(2451545), 36526);
  EXPECT_EQ(DayOfWeek(EncodeDate(2010, 3, 24)), 4);  // a Wednesday
  EXPECT_EQ(DayOfWeek(-1), 6);                       // 29 Dec 1899, a Friday
}

}  // namespace
