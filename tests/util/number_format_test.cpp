#include "util/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

TEST(AmountTextTest, TwoDecimalsAndAtLeastOneIntegerDigit) {
  EXPECT_EQ(FormatAmount(1), "1.00");
  EXPECT_EQ(FormatAmount(0.5), "0.50");
  EXPECT_EQ(FormatAmount(0), "0.00");
  EXPECT_EQ(FormatAmount(1234567.891), "1234567.89");
  EXPECT_EQ(FormatAmount(0.07), "0.07");
}

TEST(AmountTextTest, HalvesRoundAwayFromZeroAsTyped) {
  EXPECT_EQ(FormatAmount(0.125), "0.13");  // exactly representable
  EXPECT_EQ(FormatAmount(2.675), "2.68");  // binary form lies below 2.675
  EXPECT_EQ(FormatAmount(1.005), "1.01");
  EXPECT_EQ(FormatAmount(0.005), "0.01");
  EXPECT_EQ(FormatAmount(0.285 * 3), "0.86");
  EXPECT_EQ(FormatAmount(0.994999), "0.99");
  EXPECT_EQ(FormatAmount(9.995), "10.00");
  EXPECT_EQ(FormatAmount(99999.995), "100000.00");
}

TEST(AmountTextTest, NegativeValues) {
  EXPECT_EQ(FormatAmount(-1.5), "-1.50");
  EXPECT_EQ(FormatAmount(-2.675), "-2.68");
  EXPECT_EQ(FormatAmount(-0.005), "-0.01");
  EXPECT_EQ(FormatAmount(-0.001), "0.00");
  EXPECT_EQ(FormatAmount(-0.0), "0.00");
}

TEST(AmountTextTest, LargeAndSpecialValues) {
  EXPECT_EQ(FormatAmount(1e15), "1000000000000000.00");
  EXPECT_EQ(FormatAmount(1e20), "100000000000000000000.00");
  EXPECT_EQ(FormatAmount(-123456789012.345), "-123456789012.35");
  EXPECT_EQ(FormatAmount(1e-300), "0.00");
  EXPECT_EQ(FormatAmount(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FormatAmount(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(AmountTextTest, AgreesWithCorrectRoundingAwayFromHalves) {
  // For values that are not near a half cent, the result is the plainly
  // rounded value.
  for (int cents = -100000; cents <= 100000; cents += 37) {
    const double v = cents / 100.0 + 0.0013;
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.2f", v);
    ASSERT_EQ(FormatAmount(v), expected) << v;
  }
}

TEST(GeneralTextTest, ShortestFormUpToFifteenDigits) {
  EXPECT_EQ(FormatGeneral(1234.5), "1234.5");
  EXPECT_EQ(FormatGeneral(1234), "1234");
  EXPECT_EQ(FormatGeneral(0.5), "0.5");
  EXPECT_EQ(FormatGeneral(-0.25), "-0.25");
  EXPECT_EQ(FormatGeneral(0), "0");
  EXPECT_EQ(FormatGeneral(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatGeneral(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(123456789012345), "123456789012345");
  EXPECT_EQ(FormatGeneral(100), "100");
}

TEST(GeneralTextTest, ExponentOnlyOutsideTheFixedRange) {
  EXPECT_EQ(FormatGeneral(1e20), "1E20");
  EXPECT_EQ(FormatGeneral(1e15), "1E15");
  EXPECT_EQ(FormatGeneral(-2.5e15), "-2.5E15");
  EXPECT_EQ(FormatGeneral(1.5e-7), "1.5E-7");
  EXPECT_EQ(FormatGeneral(0.00001), "0.00001");
  EXPECT_EQ(FormatGeneral(0.000012), "0.000012");
  EXPECT_EQ(FormatGeneral(999999999999999.9), "1E15");
}

TEST(TextToFloatTest, ReadsDecimalNumbers) {
  double v = 0;
  EXPECT_TRUE(TryTextToFloat("1234.5", &v));
  EXPECT_EQ(v, 1234.5);
  EXPECT_TRUE(TryTextToFloat("  -0.25  ", &v));
  EXPECT_EQ(v, -0.25);
  EXPECT_TRUE(TryTextToFloat("+1.5E3", &v));
  EXPECT_EQ(v, 1500);
  EXPECT_TRUE(TryTextToFloat("2e-2", &v));
  EXPECT_DOUBLE_EQ(v, 0.02);
  EXPECT_TRUE(TryTextToFloat(".5", &v));
  EXPECT_EQ(v, 0.5);
  EXPECT_TRUE(TryTextToFloat("7.", &v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(TryTextToFloat("1e-400", &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(TryTextToFloat("0.0000000000000000000000000000001e-400", &v));
  EXPECT_EQ(v, 0);
}

TEST(TextToFloatTest, RejectsWhatIsNoNumber) {
  for (const char* text : {"", " ", "1,5", "1.2.3", "abc", "1e", "1e+", "--1", "nan", "inf",
                           "1 2", "0x10", ".", "1e400", "-1e400", "100000e305"}) {
    double v = 42;
    EXPECT_FALSE(TryTextToFloat(text, &v)) << text;
    EXPECT_EQ(v, 42) << text;
  }
}

TEST(TextToIntTest, DecimalAndHexadecimal) {
  int32_t v = 0;
  EXPECT_TRUE(TryTextToInt("42", &v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(TryTextToInt("  -17", &v));
  EXPECT_EQ(v, -17);
  EXPECT_TRUE(TryTextToInt("$1F", &v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(TryTextToInt("x10", &v));
  EXPECT_EQ(v, 16);
  EXPECT_TRUE(TryTextToInt("0xff", &v));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(TryTextToInt("-$10", &v));
  EXPECT_EQ(v, -16);
  EXPECT_TRUE(TryTextToInt("2147483647", &v));
  EXPECT_EQ(v, 2147483647);
  EXPECT_TRUE(TryTextToInt("-2147483648", &v));
  EXPECT_EQ(v, -2147483647 - 1);
}

TEST(TextToIntTest, RejectsEmptyMalformedAndOutOfRange) {
  for (const char* text : {"", "   ", "12 ", "1.0", "12a", "$", "0x", "+", "2147483648",
                           "-2147483649", "99999999999999999999", "$100000000", "1e3"}) {
    int32_t v = 7;
    EXPECT_FALSE(TryTextToInt(text, &v)) << text;
    EXPECT_EQ(v, 7) << text;
  }
}

}  // namespace
