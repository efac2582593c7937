// Record filters: every term form the data layer's LocateValue builds, the
// exact setting, quotes inside values, buffers and refused expressions.
#include "engine/date_text.h"
#include "engine/filter.h"
#include "tests/engine/engine_fixture.h"

namespace {

class FilterTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeDb("leave.adt",
           "CREATE TABLE LEAVE(EMP_NO CHAR(8), NOTE CHAR(20), DAYS NUMERIC(6,2), FROM_DATE DATE, OK LOGICAL,"
           " AT TIMESTAMP, START TIME);"
           "INSERT INTO LEAVE VALUES('E1', 'plain', 1.5, '2010-03-05', 1, '2010-03-05 08:00:00', '08:00:00');"
           "INSERT INTO LEAVE VALUES('E10', 'say \"hi\"', 2, '2010-03-06', 0, '2010-03-06 09:30:00', '09:30:00');"
           "INSERT INTO LEAVE VALUES('E2', 'it''s', 0, NULL, NULL, NULL, NULL);"
           "INSERT INTO LEAVE VALUES('e1', NULL, 3, '2010-03-05', 1, '2010-03-05 08:00:00.500', '08:00:00.500');");
    table_ = Open("leave");
    ASSERT_NE(table_, 0u) << LastText();
  }
  // The EMP_NO of the records visible under `filter` with exact `exact`.
  std::vector<std::string> Visible(const std::string& filter, UNSIGNED16 exact = 1) {
    EXPECT_EQ(AdsSetExact22(table_, exact), 0u);
    EXPECT_EQ(AdsSetAOF(table_, filter, 2), 0u) << LastText();
    std::vector<std::string> seen = Walk(table_, table_, "EMP_NO");
    EXPECT_EQ(AdsClearAOF(table_), 0u);
    return seen;
  }
  using V = std::vector<std::string>;
  ADSHANDLE table_ = 0;
};

TEST_F(FilterTest, TextEqualityFollowsTheExactSetting) {
  EXPECT_EQ(Visible("(EMP_NO=\"E1\")", 1), V{"E1"});
  EXPECT_EQ(Visible("(EMP_NO=\"E1\")", 0), (V{"E1", "E10"}));
  EXPECT_EQ(Visible("(EMP_NO==\"E1\")", 0), V{"E1"});
  EXPECT_EQ(Visible("(EMP_NO=\"E1   \")", 1), V{"E1"});  // trailing blanks do not count
}

TEST_F(FilterTest, QuotesInsideValuesUseChr34Joins) {
  // The value say "hi" as LocateValue writes it.
  EXPECT_EQ(Visible("(NOTE=\"say \"+ Chr(34) + \"hi\"+ Chr(34) + \"\")"), V{"E10"});
  EXPECT_EQ(Visible("(NOTE=\"it's\")"), V{"E2"});
  EXPECT_EQ(Visible("(NOTE='plain')"), V{"E1"});
}

TEST_F(FilterTest, NumbersLogicalsDatesAndTimes) {
  EXPECT_EQ(Visible("(DAYS=1.5)"), V{"E1"});
  EXPECT_EQ(Visible("(DAYS=2)"), V{"E10"});
  EXPECT_EQ(Visible("(OK=.TRUE.)"), (V{"E1", "e1"}));
  EXPECT_EQ(Visible("(OK=.FALSE.)"), (V{"E10", "E2"}));  // empty reads false
  EXPECT_EQ(Visible("(FROM_DATE=ctod(\"05/03/2010\"))"), (V{"E1", "e1"}));
  EXPECT_EQ(Visible("(AT=ctots(\"06/03/2010 09:30:00\"))"), V{"E10"});
  EXPECT_EQ(Visible("(AT=ctots(\"05/03/2010 08:00:00.500\"))"), V{"e1"});
  EXPECT_EQ(Visible("(START=ctot(\"08:00:00\"))"), V{"E1"});
  EXPECT_EQ(Visible("(START=ctot(\"9:30:00 AM\"))"), V{"E10"});
}

TEST_F(FilterTest, EmptyTermsAndUpperAndJoins) {
  EXPECT_EQ(Visible("(empty(FROM_DATE))"), V{"E2"});
  EXPECT_EQ(Visible("(empty(NOTE))"), V{"e1"});
  EXPECT_EQ(Visible("(empty(DAYS))"), V{"E2"});
  EXPECT_EQ(Visible("(UPPER(EMP_NO)=UPPER(\"e1\"))"), (V{"E1", "e1"}));
  EXPECT_EQ(Visible("(EMP_NO=\"E1\") AND (DAYS=1.5)"), V{"E1"});
  EXPECT_EQ(Visible("(DAYS=3) AND ((EMP_NO=\"e1\"))"), V{"e1"});
  EXPECT_EQ(Visible("(DAYS=3) .OR. (DAYS=2)"), (V{"E10", "e1"}));
  EXPECT_EQ(Visible(".NOT. (DAYS>1)"), V{"E2"});
}

TEST_F(FilterTest, DateFormatOfTheEngineReadsCtod) {
  ASSERT_EQ(AdsSetDateFormat("MM-dd-ccyy"), 0u);
  EXPECT_EQ(Visible("(FROM_DATE=ctod(\"03-06-2010\"))"), V{"E10"});
  ASSERT_EQ(AdsSetDateFormat("dd/MM/yyyy"), 0u);
}

TEST_F(FilterTest, GetAofReturnsTheTextOr5005Or5037) {
  char buffer[128];
  UNSIGNED16 length = sizeof buffer;
  EXPECT_EQ(AdsGetAOF(table_, buffer, &length), AE_NO_FILTER);
  const std::string filter = "(EMP_NO=\"E2\")";
  ASSERT_EQ(AdsSetAOF(table_, filter, 2), 0u);
  ASSERT_EQ(AdsGetAOF(table_, buffer, &length), 0u);
  EXPECT_EQ(std::string(buffer), filter);
  char small[4];
  length = sizeof small;
  EXPECT_EQ(AdsGetAOF(table_, small, &length), AE_INSUFFICIENT_BUFFER);
  EXPECT_GE(length, filter.size());
}

TEST_F(FilterTest, FilteredOutRecordsAreInvisibleToEveryMove) {
  ASSERT_EQ(AdsSetAOF(table_, "(DAYS>1.5)", 2), 0u);
  ASSERT_EQ(AdsGotoBottom(table_), 0u);
  EXPECT_EQ(Text(table_, "EMP_NO"), "e1");
  ASSERT_EQ(AdsSkip(table_, -1), 0u);
  EXPECT_EQ(Text(table_, "EMP_NO"), "E10");
  ASSERT_EQ(AdsSkip(table_, -1), 0u);
  EXPECT_TRUE(Bof(table_));
  UNSIGNED32 count = 0;
  ASSERT_EQ(AdsGetRecordCount(table_, 0, &count), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(AdsGotoRecord(table_, 1), AE_INVALID_RECORD_NUMBER);
}

TEST_F(FilterTest, ARefusedFilterKeepsThePreviousOne) {
  ASSERT_EQ(AdsSetAOF(table_, "(DAYS=2)", 2), 0u);
  EXPECT_EQ(AdsSetAOF(table_, "(DAYS=\"x\")", 2), AE_COLUMN_TYPE_MISMATCH);
  EXPECT_NE(LastText().find("column \"DAYS\""), std::string::npos) << LastText();
  EXPECT_EQ(AdsSetAOF(table_, "(NOPE=1)", 2), AE_COLUMN_NOT_FOUND);
  EXPECT_NE(LastText().find("column \"NOPE\""), std::string::npos) << LastText();
  EXPECT_EQ(AdsSetAOF(table_, "(EMP_NO=\"E1)", 2), AE_KDX_FILTER_SYNTAX);
  EXPECT_EQ(AdsSetAOF(table_, "(FROM_DATE=ctod(\"31/02/2010\"))", 2), AE_KDX_FILTER_SYNTAX);
  EXPECT_EQ(Walk(table_, table_, "EMP_NO"), V{"E10"});
}

TEST_F(FilterTest, UserTextNeverBecomesSql) {
  // Text that would break out of an SQL literal is only ever a bound value.
  EXPECT_EQ(Visible("(NOTE=\"x') OR 1=1 --\")"), V{});
  EXPECT_EQ(AdsSetAOF(table_, "(EMP_NO=\"E1\" OR 1=1)", 2), AE_KDX_FILTER_SYNTAX);
}

class FilterCompileTest : public ::testing::Test {};

TEST_F(FilterCompileTest, DeepNestingIsRefusedNotOverflowed) {
  std::vector<engine::ColumnInfo> columns(1);
  columns[0].name = "A";
  columns[0].type.type = ADS_STRING;
  columns[0].type.width = 4;
  std::unique_ptr<engine::FilterProgram> program;
  std::string deep(100000, '(');
  EXPECT_EQ(engine::FilterProgram::Compile(deep, columns, true, "T", "dd/MM/yyyy", &program), AE_KDX_FILTER_SYNTAX);
  std::string upper;
  for (int i = 0; i < 100000; ++i) upper += "UPPER(";
  EXPECT_EQ(engine::FilterProgram::Compile(upper, columns, true, "T", "dd/MM/yyyy", &program), AE_KDX_FILTER_SYNTAX);
}

TEST_F(FilterCompileTest, DatesParseInTheGivenFormat) {
  int64_t julian = 0;
  ASSERT_TRUE(engine::ParseDateWithFormat("05/03/2010", "dd/MM/yyyy", &julian));
  EXPECT_EQ(julian, 2455261);
  ASSERT_TRUE(engine::ParseDateWithFormat("3/5/10", "M/d/yy", &julian));
  EXPECT_EQ(julian, 2455261);
  EXPECT_FALSE(engine::ParseDateWithFormat("29/02/2010", "dd/MM/yyyy", &julian));
  EXPECT_FALSE(engine::ParseDateWithFormat("05/03", "dd/MM/yyyy", &julian));
  EXPECT_EQ(engine::FormatDateWithFormat(2455261, "MM-dd-ccyy"), "03-05-2010");
}

}  // namespace
