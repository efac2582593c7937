// The raw record format at byte level: what the data layer decodes must be
// what the engine encodes, on any machine.
#include "engine/record_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace rf = record_format;

namespace {

TEST(RecordFormat, NumbersAreLittleEndianWhateverTheMachine) {
  uint8_t bytes[8] = {};
  rf::Put32(bytes, 0x11223344u);
  EXPECT_EQ(bytes[0], 0x44);
  EXPECT_EQ(bytes[3], 0x11);
  EXPECT_EQ(rf::Get32(bytes), 0x11223344u);
  rf::Put16(bytes, 0xABCD);
  EXPECT_EQ(bytes[0], 0xCD);
  EXPECT_EQ(rf::Get16(bytes), 0xABCD);
  rf::PutDouble(bytes, -1.5);
  EXPECT_EQ(bytes[7], 0xBF);  // sign and exponent in the last byte
  EXPECT_EQ(rf::GetDouble(bytes), -1.5);
}

TEST(RecordFormat, EveryTypesEmptyValueReadsAsEmptyAndNoOrdinaryValueDoes) {
  struct Case {
    UNSIGNED16 type;
    UNSIGNED32 width;
  };
  for (const Case& c : {Case{ADS_LOGICAL, 1}, Case{ADS_NUMERIC, 8}, Case{ADS_DATE, 4}, Case{ADS_STRING, 5},
                        Case{ADS_DOUBLE, 8}, Case{ADS_CURDOUBLE, 8}, Case{ADS_INTEGER, 4}, Case{ADS_SHORTINT, 2},
                        Case{ADS_TIME, 4}, Case{ADS_TIMESTAMP, 8}, Case{ADS_AUTOINC, 4}, Case{ADS_RAW, 3}}) {
    std::vector<uint8_t> bytes(c.width, 0xEE);
    rf::PutEmpty(c.type, c.width, bytes.data());
    EXPECT_TRUE(rf::IsEmpty(c.type, c.width, bytes.data())) << "type " << c.type;
  }
  uint8_t value[8] = {};
  rf::PutDouble(value, 0.0);
  EXPECT_FALSE(rf::IsEmpty(ADS_DOUBLE, 8, value));
  rf::Put32(value, 0);
  EXPECT_FALSE(rf::IsEmpty(ADS_INTEGER, 4, value));  // zero is a value, not empty
  EXPECT_FALSE(rf::IsEmpty(ADS_TIME, 4, value));      // midnight
  rf::PutLogical(false, value);
  EXPECT_FALSE(rf::IsEmpty(ADS_LOGICAL, 1, value));
}

TEST(RecordFormat, NumericTextIsFixedPointRightAlignedAndRefusedWhenTooWide) {
  EXPECT_EQ(rf::NumericText(int64_t{1234}, 2), "1234.00");
  EXPECT_EQ(rf::NumericText(1234.5, 2), "1234.50");
  EXPECT_EQ(rf::NumericText(-0.001, 2), "0.00");  // no sign on a zero
  EXPECT_EQ(rf::NumericText(int64_t{9007199254740993}, 0), "9007199254740993");  // beyond a double's precision
  uint8_t bytes[8];
  ASSERT_TRUE(rf::PutNumericText("12.50", 8, bytes));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8), "   12.50");
  EXPECT_EQ(rf::NumericColumnText(bytes, 8), "12.50");
  std::fill(bytes, bytes + 8, 'x');
  EXPECT_FALSE(rf::PutNumericText("123456.789", 8, bytes));
  EXPECT_EQ(bytes[0], 'x');  // nothing written
}

TEST(RecordFormat, CharacterColumnsPadWithBlanksAndReadBackTrimmed) {
  uint8_t bytes[6];
  EXPECT_EQ(rf::PutCharacter("E1", 6, bytes), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 6), "E1    ");
  EXPECT_EQ(rf::CharacterText(bytes, 6), "E1");
  EXPECT_EQ(rf::PutCharacter("ABCDEFGH", 6, bytes), 6u);  // cut to the width
  EXPECT_EQ(rf::CharacterText(bytes, 6), "ABCDEF");
  rf::PutCharacter("", 6, bytes);
  EXPECT_TRUE(rf::IsEmpty(ADS_STRING, 6, bytes));  // the empty text is the empty value
}

TEST(RecordFormat, IntegerRangesLeaveTheEmptyMarkOutside) {
  EXPECT_EQ(rf::RangeOf(ADS_INTEGER).low, -static_cast<int64_t>(rf::kEmptyInteger) + 1);
  EXPECT_EQ(rf::RangeOf(ADS_SHORTINT).low, -static_cast<int64_t>(rf::kEmptyShort) + 1);
  EXPECT_EQ(static_cast<uint64_t>(rf::RangeOf(ADS_AUTOINC).high), rf::kEmptyAutoinc - 1ull);
  uint8_t bytes[8];
  rf::PutBlockReference(0, 3, bytes);
  EXPECT_TRUE(rf::IsEmpty(ADS_MEMO, 8, bytes));
  rf::PutBlockReference(5, 3, bytes);
  EXPECT_EQ(rf::Get32(bytes), 6u);  // length + 1
  EXPECT_EQ(rf::Get32(bytes + 4), 3u);
}

}  // namespace
