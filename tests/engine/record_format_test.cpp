// The raw record format at byte level: what the data layer decodes must be
// what the engine encodes, on any machine.
#include "engine/record_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/pg_types.h"
#include "engine/schema.h"
#include "engine/stored_values.h"

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
  // Wide padding of blanks and NULs mixed is cut; a NUL inside the text stays.
  const std::string wide = std::string("AB\0C", 4) + std::string(9, ' ') + '\0' + std::string(10, ' ');
  EXPECT_EQ(rf::CharacterText(reinterpret_cast<const uint8_t*>(wide.data()), 24), std::string("AB\0C", 4));
  const std::string full(24, '@');
  EXPECT_EQ(rf::CharacterText(reinterpret_cast<const uint8_t*>(full.data()), 24), full);
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

// The column-type table is the one place a type is described: every row is
// found by its code, parsed from its declared names to its own layout and
// width, and its PostgreSQL counterpart maps back to a type of the same
// layout.
TEST(ColumnTypeTable, EveryRowParsesToItselfAndComesBackFromTheServer) {
  std::string listed = engine::DeclarableTypes();
  for (const engine::ColumnTypeRow& row : engine::ColumnTypes()) {
    ASSERT_EQ(engine::FindColumnType(row.type), &row);
    EXPECT_EQ(rf::LayoutOf(row.type), row.layout);
    if (row.stored == engine::StoredForm::kNone) continue;
    const std::string args = row.parameters == engine::TypeParameters::kNone        ? ""
                             : row.parameters == engine::TypeParameters::kPrecision ? "(9,2)"
                                                                                    : "(12)";
    for (const char* name : {row.name, row.alias}) {
      if (name == nullptr) continue;
      engine::ColumnType type;
      std::string why;
      ASSERT_TRUE(engine::ParseDeclaredType(std::string(name) + args, &type, &why)) << name << ": " << why;
      EXPECT_EQ(type.type, row.type) << name;
      const UNSIGNED32 declared = row.parameters == engine::TypeParameters::kPrecision ? 9 : 12;
      EXPECT_EQ(type.width, row.width != 0 ? row.width : declared) << name;
    }
    EXPECT_NE(listed.find(row.name), std::string::npos) << listed;
    engine::ColumnType type;
    std::string why, server;
    ASSERT_TRUE(engine::ParseDeclaredType(std::string(row.name) + args, &type, &why));
    if (!engine::ServerTypeOf(type, &server).ok()) {
      EXPECT_EQ(row.server_type, nullptr) << row.name;
      continue;
    }
    const int32_t typmod = args == "(12)" ? 12 + 4 : args == "(9,2)" ? ((9 << 16) | 2) + 4
                           : server == "numeric(19,4)"              ? ((19 << 16) | 4) + 4
                                                                     : -1;
    const engine::PgTypeMapping back =
        engine::MapServerType(row.server_oid, typmod, server.find("IDENTITY") != std::string::npos);
    engine::ColumnType mapped;
    ASSERT_TRUE(engine::ParseDeclaredType(back.declared, &mapped, &why)) << server << ": " << back.why;
    EXPECT_EQ(engine::FindColumnType(mapped.type)->layout, row.layout) << row.name << " as " << server;
    EXPECT_EQ(mapped.width, type.width) << row.name << " as " << server;
  }
}

// The engine reading a record (6008) and kdx-db checking a stored value
// apply one rule: what reading refuses, the check refuses for the same
// reason; the check refuses besides only what reading would change.
TEST(ColumnTypeTable, ReadingAndCheckingAStoredValueApplyOneRule) {
  using K = engine::StoredValue::Kind;
  struct Case {
    const char* declared;
    K kind;
    const char* text;
    double number;
    engine::Misfit read;   // reading the record
    engine::Misfit check;  // kdx-db check
  };
  using M = engine::Misfit;
  const Case cases[] = {
      {"LOGICAL", K::kInteger, "", 1, M::kNone, M::kNone},
      {"LOGICAL", K::kReal, "", 2, M::kNotLogical, M::kNotLogical},
      {"NUMERIC(5,2)", K::kReal, "", 123.456, M::kTooWide, M::kTooWide},
      {"NUMERIC(5,2)", K::kText, "abc", 0, M::kNotNumber, M::kNotNumber},
      {"NUMERIC(5,2)", K::kReal, "", HUGE_VAL, M::kNotFinite, M::kNotFinite},
      {"MONEY", K::kReal, "", HUGE_VAL, M::kNone, M::kNone},
      {"INTEGER", K::kReal, "", 1.5, M::kNotWhole, M::kNotWhole},
      {"SHORTINT", K::kInteger, "", 32768, M::kOutOfRange, M::kOutOfRange},
      {"AUTOINC", K::kInteger, "", -1, M::kOutOfRange, M::kOutOfRange},
      {"DATE", K::kText, "2010-02-30", 0, M::kNotDate, M::kNotDate},
      {"DATE", K::kInteger, "", 40261, M::kNotDate, M::kNotDate},
      {"TIME", K::kText, "8:30", 0, M::kNotTime, M::kNotTime},
      {"TIMESTAMP", K::kText, "2010-03-24T08:30:00", 0, M::kNone, M::kNone},
      {"CHAR(3)", K::kText, "ABCD", 0, M::kNone, M::kTooLong},  // read cut to the width
      {"CHAR(3)", K::kText, "AB ", 0, M::kNone, M::kTrailingBlanks},
      {"CHAR(3)", K::kBlob, "AB", 0, M::kNotText, M::kNotText},
      {"VARCHAR(3)", K::kText, "abcd", 0, M::kNone, M::kTooLong},
      {"MEMO", K::kBlob, "ab", 0, M::kNotText, M::kNotText},
      {"BLOB", K::kText, "ab", 0, M::kNone, M::kNotBytes},
      {"RAW(2)", K::kBlob, "abc", 0, M::kTooLong, M::kTooLong},
      {"RAW(2)", K::kText, "ab", 0, M::kNone, M::kNotBytes},
  };
  for (const Case& c : cases) {
    engine::ColumnType type;
    std::string why;
    ASSERT_TRUE(engine::ParseDeclaredType(c.declared, &type, &why)) << c.declared;
    engine::StoredValue value;
    value.kind = c.kind;
    value.text = c.text;
    value.integer = static_cast<int64_t>(c.number);
    value.real = c.number;
    const int sqlite_type = c.kind == K::kInteger ? 1 : c.kind == K::kReal ? 2 : c.kind == K::kText ? 3 : 4;
    const engine::StoredCell cell{sqlite_type, value.integer, value.real, value.text.data(), value.text.size()};
    std::vector<uint8_t> record(type.width);
    EXPECT_EQ(engine::EncodeStored(type, 1, cell, record.data()), c.read) << c.declared << " " << c.text << c.number;
    EXPECT_EQ(engine::StoredMisfit(type, value), c.check) << c.declared << " " << c.text << c.number;
  }
}

}  // namespace
