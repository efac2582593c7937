// Server types to engine types, and server values to stored forms: pure
// functions, tested without a server.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <string>

#include "engine/pg_types.h"
#include "engine/pg_values.h"

namespace engine {
namespace {

// The numeric type modifier the server gives numeric(precision, scale).
int32_t NumericMod(int precision, int scale) { return ((precision << 16) | (scale & 0x7FF)) + 4; }

TEST(PgTypesTest, MapsEachServerTypeToItsEngineType) {
  EXPECT_EQ(MapServerType(pg_oid::kBool, -1, false).declared, "LOGICAL");
  EXPECT_EQ(MapServerType(pg_oid::kNumeric, NumericMod(12, 2), false).declared, "NUMERIC(12,2)");
  EXPECT_EQ(MapServerType(pg_oid::kNumeric, NumericMod(8, 0), false).declared, "NUMERIC(8,0)");
  EXPECT_EQ(MapServerType(pg_oid::kNumeric, NumericMod(19, 4), false).declared, "MONEY");
  EXPECT_EQ(MapServerType(pg_oid::kMoney, -1, false).declared, "MONEY");
  EXPECT_EQ(MapServerType(pg_oid::kDate, -1, false).declared, "DATE");
  EXPECT_EQ(MapServerType(pg_oid::kBpchar, 12 + 4, false).declared, "CHAR(12)");
  EXPECT_EQ(MapServerType(pg_oid::kVarchar, 40 + 4, false).declared, "VARCHAR(40)");
  EXPECT_EQ(MapServerType(pg_oid::kVarchar, -1, false).declared, "MEMO");
  EXPECT_EQ(MapServerType(pg_oid::kText, -1, false).declared, "MEMO");
  EXPECT_EQ(MapServerType(pg_oid::kBytea, -1, false).declared, "BLOB");
  EXPECT_EQ(MapServerType(pg_oid::kFloat8, -1, false).declared, "DOUBLE");
  EXPECT_EQ(MapServerType(pg_oid::kInt4, -1, false).declared, "INTEGER");
  EXPECT_EQ(MapServerType(pg_oid::kInt2, -1, false).declared, "SHORTINT");
  EXPECT_EQ(MapServerType(pg_oid::kTime, 3, false).declared, "TIME");
  EXPECT_EQ(MapServerType(pg_oid::kTimestamp, -1, false).declared, "TIMESTAMP");
  for (uint32_t oid : {pg_oid::kInt2, pg_oid::kInt4, pg_oid::kInt8}) {
    EXPECT_EQ(MapServerType(oid, -1, true).declared, "AUTOINC") << oid;
  }
}

TEST(PgTypesTest, RefusesTypesWithoutAFaithfulEngineType) {
  struct Case {
    uint32_t oid;
    int32_t typmod;
    const char* why_part;
  };
  const Case cases[] = {
      {pg_oid::kInt8, -1, "bigint"},
      {pg_oid::kFloat4, -1, "real"},
      {pg_oid::kNumeric, -1, "without a precision"},
      {pg_oid::kNumeric, NumericMod(40, 2), "40"},      // wider than NUMERIC allows
      {pg_oid::kNumeric, NumericMod(3, 2), "NUMERIC"},  // no room for the point and sign
      {pg_oid::kNumeric, NumericMod(5, -2), "scale"},
      {pg_oid::kBpchar, -1, "without a length"},
      {pg_oid::kBpchar, 70000 + 4, "65530"},
      {pg_oid::kTimestamptz, -1, "time zone"},
      {pg_oid::kTimetz, -1, "time zone"},
      {2950 /* uuid */, -1, "not one the engine maps"},
  };
  for (const Case& c : cases) {
    const PgTypeMapping mapping = MapServerType(c.oid, c.typmod, false);
    EXPECT_EQ(mapping.declared, "") << c.oid << " " << c.typmod;
    EXPECT_NE(mapping.why.find(c.why_part), std::string::npos) << mapping.why;
  }
  // A type without an engine type still converts in statement results.
  EXPECT_EQ(MapServerType(pg_oid::kInt8, -1, false).form, PgValueForm::kInteger);
}

// Converts `text` with `form`; fails the test when it is refused. The cell
// may point into `text`: a literal outlives it.
ResultCell Stored(PgValueForm form, const char* text, std::string* scratch) {
  ResultCell cell;
  std::string why;
  EXPECT_TRUE(ToStoredForm(form, text, std::strlen(text), scratch, &cell, &why)) << text << ": " << why;
  return cell;
}

std::string Bytes(const ResultCell& cell) { return std::string(cell.bytes, cell.size); }

std::string Refusal(PgValueForm form, const std::string& text) {
  ResultCell cell;
  std::string scratch;
  std::string why;
  EXPECT_FALSE(ToStoredForm(form, text.c_str(), text.size(), &scratch, &cell, &why)) << text;
  return why;
}

TEST(PgValuesTest, NumbersTakeTheStorageClassOfTheirValue) {
  std::string scratch;
  ResultCell cell = Stored(PgValueForm::kExactNumber, "2500.00", &scratch);
  EXPECT_EQ(cell.type, SQLITE_INTEGER);
  EXPECT_EQ(cell.integer, 2500);
  cell = Stored(PgValueForm::kExactNumber, "-2500.50", &scratch);
  EXPECT_EQ(cell.type, SQLITE_FLOAT);
  EXPECT_EQ(cell.real, -2500.5);
  cell = Stored(PgValueForm::kExactNumber, "9223372036854775807", &scratch);
  EXPECT_EQ(cell.type, SQLITE_INTEGER);
  EXPECT_EQ(cell.integer, INT64_MAX);
  cell = Stored(PgValueForm::kExactNumber, "9223372036854775808", &scratch);  // past int64: the nearest double
  EXPECT_EQ(cell.type, SQLITE_FLOAT);
  EXPECT_EQ(cell.real, 9223372036854775808.0);
  cell = Stored(PgValueForm::kExactNumber, "0.1", &scratch);
  EXPECT_EQ(cell.real, 0.1);
  cell = Stored(PgValueForm::kReal, "0.30000000000000004", &scratch);  // extra_float_digits 3: exact
  EXPECT_EQ(cell.real, 0.1 + 0.2);
  cell = Stored(PgValueForm::kReal, "-Infinity", &scratch);
  EXPECT_TRUE(std::isinf(cell.real) && cell.real < 0);
  cell = Stored(PgValueForm::kInteger, "-2147483648", &scratch);
  EXPECT_EQ(cell.integer, -2147483648LL);
  cell = Stored(PgValueForm::kLogical, "t", &scratch);
  EXPECT_EQ(cell.type, SQLITE_INTEGER);
  EXPECT_EQ(cell.integer, 1);
  EXPECT_EQ(Stored(PgValueForm::kLogical, "f", &scratch).integer, 0);
}

TEST(PgValuesTest, MoneyInTheCLocaleIsItsAmount) {
  std::string scratch;
  ResultCell cell = Stored(PgValueForm::kMoneyText, "-$1,234,567.89", &scratch);
  EXPECT_EQ(cell.type, SQLITE_FLOAT);
  EXPECT_EQ(cell.real, -1234567.89);
  cell = Stored(PgValueForm::kMoneyText, "$12.00", &scratch);
  EXPECT_EQ(cell.type, SQLITE_INTEGER);
  EXPECT_EQ(cell.integer, 12);
  EXPECT_NE(Refusal(PgValueForm::kMoneyText, "12,00 EUR").find("money"), std::string::npos);
}

TEST(PgValuesTest, RefusesValuesWithoutAStoredForm) {
  EXPECT_NE(Refusal(PgValueForm::kExactNumber, "NaN").find("'NaN'"), std::string::npos);
  Refusal(PgValueForm::kExactNumber, "Infinity");
  Refusal(PgValueForm::kExactNumber, "-");
  Refusal(PgValueForm::kReal, "NaN");  // SQLite would store it as NULL
  Refusal(PgValueForm::kInteger, "12x");
  Refusal(PgValueForm::kLogical, "true");
  EXPECT_NE(Refusal(PgValueForm::kDate, "0044-03-15 BC").find("years 1 to 9999"), std::string::npos);
  Refusal(PgValueForm::kDate, "infinity");
  Refusal(PgValueForm::kDate, "10000-01-01");
  Refusal(PgValueForm::kDate, "2010-02-30");
  Refusal(PgValueForm::kTime, "24:00:00");
  Refusal(PgValueForm::kTime, "10:00");
  Refusal(PgValueForm::kTime, "10:00:00.1234567");
  Refusal(PgValueForm::kTimestamp, "infinity");
  Refusal(PgValueForm::kTimestamp, "2010-03-05 10:00:00 BC");
  Refusal(PgValueForm::kTimestamp, "2010-03-05T10:00:00");
  Refusal(PgValueForm::kBytea, "\\x0");
  Refusal(PgValueForm::kBytea, "\\000");  // escape format
}

TEST(PgValuesTest, DatesAndTimesTakeTheTableFileForms) {
  std::string scratch;
  ResultCell cell = Stored(PgValueForm::kDate, "2010-03-05", &scratch);
  EXPECT_EQ(cell.type, SQLITE_TEXT);
  EXPECT_EQ(Bytes(cell), "2010-03-05");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kTime, "10:00:00", &scratch)), "10:00:00");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kTime, "10:00:00.5", &scratch)), "10:00:00.500");
  // Fractions are cut to milliseconds, never rounded into the next second or day.
  EXPECT_EQ(Bytes(Stored(PgValueForm::kTime, "23:59:59.999999", &scratch)), "23:59:59.999");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kTime, "10:00:00.000999", &scratch)), "10:00:00");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kTimestamp, "2010-03-05 10:00:00", &scratch)), "2010-03-05 10:00:00");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kTimestamp, "2010-12-31 23:59:59.9999", &scratch)), "2010-12-31 23:59:59.999");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kTimestamp, "0001-01-01 00:00:00.012", &scratch)), "0001-01-01 00:00:00.012");
}

TEST(PgValuesTest, TextsAndBytes) {
  std::string scratch;
  ResultCell cell = Stored(PgValueForm::kCharacter, "E001        ", &scratch);
  EXPECT_EQ(cell.type, SQLITE_TEXT);
  EXPECT_EQ(Bytes(cell), "E001");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kCharacter, "  ", &scratch)), "");
  EXPECT_EQ(Bytes(Stored(PgValueForm::kText, " leading and trailing ", &scratch)), " leading and trailing ");
  cell = Stored(PgValueForm::kBytea, "\\x00ff10Ab", &scratch);
  EXPECT_EQ(cell.type, SQLITE_BLOB);
  EXPECT_EQ(Bytes(cell), std::string("\x00\xff\x10\xab", 4));
  EXPECT_EQ(Stored(PgValueForm::kBytea, "\\x", &scratch).size, 0u);
  EXPECT_EQ(ByteaParameterText(std::string("\x00\xff\x10", 3)), "\\x00ff10");

  ResultCell null_cell;
  std::string why;
  for (PgValueForm form : {PgValueForm::kDate, PgValueForm::kInteger, PgValueForm::kBytea}) {
    ASSERT_TRUE(ToStoredForm(form, nullptr, 0, &scratch, &null_cell, &why));
    EXPECT_EQ(null_cell.type, SQLITE_NULL);
  }
}

}  // namespace
}  // namespace engine
