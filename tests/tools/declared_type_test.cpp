#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/tools/tool_test_support.h"
#include "tools/declared_type.h"

namespace {

engine::ColumnType Type(const std::string& text) {
  engine::ColumnType type;
  std::string why;
  EXPECT_TRUE(ParseColumnType(text, &type, &why)) << text << ": " << why;
  return type;
}

StoredValue Convert(const std::string& type, const std::string& text) {
  StoredValue value;
  std::string why;
  EXPECT_TRUE(ConvertUserValue(Type(type), text, &value, &why)) << type << " " << text << ": " << why;
  return value;
}

std::string Refusal(const std::string& type, const std::string& text) {
  StoredValue value;
  std::string why;
  EXPECT_FALSE(ConvertUserValue(Type(type), text, &value, &why)) << type << " accepted " << text;
  return why;
}

class DeclaredTypeTest : public ::testing::Test {};

TEST_F(DeclaredTypeTest, ParsesEveryTypeOfTheFormatWithWidthsAnyCase) {
  EXPECT_EQ(Type("char(12)").type, ADS_STRING);
  EXPECT_EQ(Type("char(12)").declared_width, 12u);
  EXPECT_EQ(Type("CHARACTER(3)").type, ADS_STRING);
  const engine::ColumnType n = Type("Numeric( 7 , 2 )");
  EXPECT_EQ(n.type, ADS_NUMERIC);
  EXPECT_EQ(n.declared_width, 7u);
  EXPECT_EQ(n.decimals, 2);
  for (const char* t : {"LOGICAL", "DATE", "MEMO", "BLOB", "BINARY", "IMAGE", "VARCHAR(60)", "DOUBLE", "INTEGER",
                        "SHORTINT", "TIME", "TIMESTAMP", "AUTOINC", "RAW(8)", "MONEY"}) {
    Type(t);
  }
  engine::ColumnType type;
  std::string why;
  EXPECT_FALSE(ParseColumnType("TEXT", &type, &why));
  EXPECT_NE(why.find("'TEXT'"), std::string::npos);
  EXPECT_NE(why.find("VARCHAR(n)"), std::string::npos) << why;  // says what a column may be
  EXPECT_FALSE(ParseColumnType("CHAR(x)", &type, &why));
  EXPECT_FALSE(ParseColumnType("CHAR(12", &type, &why));
}

// The tool reads declared types as the program does: a table it accepts for
// an import or passes in a check must open in the program.
TEST_F(DeclaredTypeTest, RefusesWhatTheEngineRefusesToOpen) {
  engine::ColumnType type;
  std::string why;
  for (const char* t : {"CHAR", "VARCHAR", "RAW", "NUMERIC", "DATE(8)", "INTEGER(4)", "NUMERIC(2,2)", "NUMERIC(33)",
                        "CHAR(0)", "CHAR(5,2)"}) {
    EXPECT_FALSE(ParseColumnType(t, &type, &why)) << t;
  }
}

TEST_F(DeclaredTypeTest, DatesInBothFormsBecomeIsoAndImpossibleDatesAreRefused) {
  EXPECT_EQ(Convert("DATE", "2010-03-24").text, "2010-03-24");
  EXPECT_EQ(Convert("DATE", "24/03/2010").text, "2010-03-24");
  EXPECT_EQ(Convert("DATE", "5/3/2010").text, "2010-03-05");
  EXPECT_EQ(Convert("DATE", "29/02/2008").text, "2008-02-29");
  EXPECT_NE(Refusal("DATE", "29/02/2010").find("'29/02/2010' is not a valid date"), std::string::npos);
  Refusal("DATE", "2010-13-01");
  Refusal("DATE", "03/24/10");
  Refusal("DATE", "yesterday");
  EXPECT_EQ(Convert("DATE", "").kind, StoredValue::Kind::kNull);
  EXPECT_EQ(Convert("DATE", "  ").kind, StoredValue::Kind::kNull);
}

TEST_F(DeclaredTypeTest, TimesAndTimestampsAreNormalised) {
  EXPECT_EQ(Convert("TIME", "8:30").text, "08:30:00");
  EXPECT_EQ(Convert("TIME", "17:30:05.250").text, "17:30:05.250");
  Refusal("TIME", "24:00");
  Refusal("TIME", "12:5");
  EXPECT_EQ(Convert("TIMESTAMP", "24/03/2010 08:30").text, "2010-03-24 08:30:00");
  EXPECT_EQ(Convert("TIMESTAMP", "2010-03-24T08:30:01").text, "2010-03-24 08:30:01");
  EXPECT_EQ(Convert("TIMESTAMP", "2010-03-24").text, "2010-03-24 00:00:00");
  Refusal("TIMESTAMP", "2010-03-24 25:00");
}

TEST_F(DeclaredTypeTest, NumbersRespectWidthDecimalsAndIntegerRanges) {
  EXPECT_EQ(Convert("NUMERIC(5,2)", "12.5").real, 12.5);
  EXPECT_EQ(Convert("NUMERIC(5,2)", "-1").integer, -1);
  EXPECT_EQ(Convert("NUMERIC(5,2)", "-1").kind, StoredValue::Kind::kInteger);
  EXPECT_NE(Refusal("NUMERIC(5,2)", "123.45").find("wider"), std::string::npos);  // 6 characters
  EXPECT_NE(Refusal("NUMERIC(5,2)", "1.255").find("decimals"), std::string::npos);
  Refusal("NUMERIC(5,2)", "1,5");
  Refusal("NUMERIC(5,2)", "1e3");
  EXPECT_EQ(Convert("SHORTINT", "32767").integer, 32767);
  Refusal("SHORTINT", "32768");
  Refusal("INTEGER", "2147483648");
  Refusal("INTEGER", "12.0");
  Refusal("AUTOINC", "-1");
  // One past each end is the record's mark of an empty field: the program
  // would read such a value as a bad one.
  EXPECT_NE(Refusal("INTEGER", "-2147483648").find("-2147483647 to 2147483647"), std::string::npos);
  EXPECT_EQ(Convert("INTEGER", "-2147483647").integer, -2147483647);
  Refusal("SHORTINT", "-32768");
  Refusal("AUTOINC", "4294967295");
  EXPECT_EQ(Convert("NUMERIC(4,2)", "-0").integer, 0);  // written "0.00": it fits
  EXPECT_EQ(Convert("MONEY", "2500").real, 2500.0);
  Refusal("DOUBLE", "abc");
}

TEST_F(DeclaredTypeTest, LogicalsCharactersAndBinaries) {
  EXPECT_EQ(Convert("LOGICAL", "y").integer, 1);
  EXPECT_EQ(Convert("LOGICAL", "False").integer, 0);
  Refusal("LOGICAL", "maybe");
  EXPECT_EQ(Convert("CHAR(5)", "AB   ").text, "AB");  // trailing blanks are not stored
  EXPECT_EQ(Convert("CHAR(5)", "   ").kind, StoredValue::Kind::kNull);
  EXPECT_EQ(Convert("CHAR(5)", " AB").text, " AB");  // leading blanks are data
  EXPECT_NE(Refusal("CHAR(5)", "ABCDEF").find("6 characters"), std::string::npos);
  Refusal("VARCHAR(2)", "abc");
  EXPECT_EQ(Convert("MEMO", "a\nb").text, "a\nb");
  Refusal("BLOB", "00ff");
}

class StoredValueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK); }
  void TearDown() override { sqlite3_close(db_); }
  // Checks the value the SQL literal `literal` gives against `type`.
  bool Fits(const std::string& type, const std::string& literal, std::string* why = nullptr) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, ("SELECT " + literal).c_str(), -1, &stmt, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    std::string ignored;
    const bool ok = CheckStoredValue(Type(type), sqlite3_column_value(stmt, 0), why ? why : &ignored);
    sqlite3_finalize(stmt);
    return ok;
  }
  sqlite3* db_ = nullptr;
};

TEST_F(StoredValueTest, AcceptsTheStoredFormsAndNull) {
  EXPECT_TRUE(Fits("DATE", "'2010-03-24'"));
  EXPECT_TRUE(Fits("DATE", "NULL"));
  EXPECT_TRUE(Fits("TIMESTAMP", "'2010-03-24 08:30:00.125'"));
  EXPECT_TRUE(Fits("TIME", "'08:30:00'"));
  EXPECT_TRUE(Fits("NUMERIC(5,2)", "12.5"));
  EXPECT_TRUE(Fits("LOGICAL", "1"));
  EXPECT_TRUE(Fits("CHAR(3)", "'ABC'"));
  EXPECT_TRUE(Fits("MONEY", "2500"));
  // The program reads a whole REAL as the number and a 'T' between date and
  // time as the blank.
  EXPECT_TRUE(Fits("INTEGER", "12.0"));
  EXPECT_TRUE(Fits("LOGICAL", "1.0"));
  EXPECT_TRUE(Fits("TIMESTAMP", "'2010-03-24T08:30:00'"));
  EXPECT_TRUE(Fits("RAW(2)", "x'00ff'"));
}

TEST_F(StoredValueTest, RefusesWhatTheEngineWouldReportAsABadValue) {
  std::string why;
  EXPECT_FALSE(Fits("DATE", "'24/03/2010'", &why));
  EXPECT_NE(why.find("'24/03/2010'"), std::string::npos);
  EXPECT_FALSE(Fits("DATE", "'2010-02-30'"));
  EXPECT_FALSE(Fits("DATE", "40261"));
  EXPECT_FALSE(Fits("INTEGER", "'abc'"));
  EXPECT_FALSE(Fits("INTEGER", "1.5"));
  EXPECT_FALSE(Fits("NUMERIC(4,2)", "123.4"));
  EXPECT_FALSE(Fits("CHAR(3)", "'ABCD'"));
  EXPECT_FALSE(Fits("CHAR(5)", "'AB '"));
  EXPECT_FALSE(Fits("LOGICAL", "2"));
  EXPECT_FALSE(Fits("TIME", "'8:30'"));
  EXPECT_FALSE(Fits("TIMESTAMP", "'2010-03-24 8:30:00'"));
  EXPECT_FALSE(Fits("BLOB", "'text'"));
  EXPECT_FALSE(Fits("INTEGER", "-2147483648"));
  EXPECT_FALSE(Fits("SHORTINT", "32768"));
  EXPECT_FALSE(Fits("AUTOINC", "4294967295"));
  EXPECT_FALSE(Fits("RAW(2)", "x'00ff00'"));
  EXPECT_FALSE(Fits("MEMO", "x'00ff'"));
  EXPECT_FALSE(Fits("VARCHAR(10)", "x'00ff'"));
}

}  // namespace
