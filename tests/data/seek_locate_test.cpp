// SeekKey on the active index and LocateValue, found and missed.
#include "data_test_support.h"
#include "util/date_time.h"

namespace {

using data_test::DataFixture;
using data_test::MessageOf;

class SeekTest : public DataFixture {
 protected:
  void SetUp() override {
    MakeTable("EMP_PROS", "EMP_CODE CHAR(12), PAY_EFFECTIVE_DATE DATE, ID INTEGER, SALARY NUMERIC(10,2)",
              "CREATE INDEX \"PRIMARY\" ON EMP_PROS(EMP_CODE, PAY_EFFECTIVE_DATE, ID);"
              "CREATE INDEX BYSALARY ON EMP_PROS(SALARY);"
              "INSERT INTO EMP_PROS VALUES('E002','2009-01-01',7,900);"
              "INSERT INTO EMP_PROS VALUES('E001','2010-01-01',2,1200);"
              "INSERT INTO EMP_PROS VALUES('E001','2009-06-01',5,1100);"
              "INSERT INTO EMP_PROS VALUES('E001','2009-06-01',3,1000);"
              "INSERT INTO EMP_PROS VALUES('E10','2008-01-01',1,800);");
    MakeTable("EMP_CLD", "EMP_NO CHAR(10), DATE DATE, WORK CHAR(2)",
              "CREATE INDEX \"PRIMARY\" ON EMP_CLD(EMP_NO, DATE);"
              "INSERT INTO EMP_CLD VALUES('E1','2010-03-09','F');"
              "INSERT INTO EMP_CLD VALUES('E1','2010-03-10','H');"
              "INSERT INTO EMP_CLD VALUES('E1','2010-03-11','F');");
  }
  void ExecOnTable(const std::string& sql) { data_test::ExecOnFile(folder_.File("EMP_PROS.adt"), sql); }
};

TEST_F(SeekTest, LeadingSegmentFindsTheFirstRecordInIndexOrder) {
  TAdsTable* table = NewTable("wwQueryEmpCareer", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  ASSERT_TRUE(table->SeekKey({"E001"}));
  std::vector<std::string> ids;
  while (!table->AtEof() && table->ColumnByName("EMP_CODE").ReadText() == "E001") {
    ids.push_back(table->ColumnByName("ID").ReadText());
    table->GoNext();
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"3", "5", "2"}));
}

TEST_F(SeekTest, TextKeyMatchesTheWholeColumn) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  EXPECT_FALSE(table->SeekKey({"E1"}));  // E10 is not E1
  EXPECT_TRUE(table->SeekKey({"E10"}));
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 1);
  table->CloseDataSet();
  ExecOnTable("INSERT INTO EMP_PROS VALUES('E1','2011-01-01',9,10)");
  table->OpenDataSet();
  ASSERT_TRUE(table->SeekKey({"E1"}));
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 9);
}

TEST_F(SeekTest, TwoValuesAndADateValue) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  ASSERT_TRUE(table->SeekKey({"E001", EncodeDate(2010, 1, 1)}));
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 2);
  ASSERT_TRUE(table->SeekKey({"E001", EncodeDate(2009, 6, 1), 5}));
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 5);
}

TEST_F(SeekTest, DateTimeKeyOnADateColumnMatchesTheDay) {
  TAdsTable* table = NewTable("AdsTableCLD", "EMP_CLD.ADT", "EMP_NO;DATE");
  table->OpenDataSet();
  ASSERT_TRUE(table->SeekKey({"E1", EncodeDate(2010, 3, 10) + EncodeTime(15, 0, 0, 0)}));
  EXPECT_EQ(table->ColumnByName("WORK").ReadText(), "H");
  EXPECT_EQ(table->ColumnByName("DATE").ReadText(), "10/03/2010");
}

TEST_F(SeekTest, MissLeavesThePreviousRecordCurrent) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  table->GoNext();
  table->GoNext();  // E001 2010-01-01 2
  EXPECT_FALSE(table->SeekKey({"E005"}));
  EXPECT_FALSE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 2);
  table->GoNext();
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 7);
}

// A miss leaves the engine where the seek ended; what needs the engine's own
// position (the next step, a memo column, another miss) must still see the
// record that stayed current.
TEST_F(SeekTest, AfterAMissStepsAndMemoColumnsStartFromTheCurrentRecord) {
  MakeTable("NOTES", "K CHAR(4), NOTE MEMO",
            "CREATE INDEX BYK ON NOTES(K);"
            "INSERT INTO NOTES VALUES('A','alpha');INSERT INTO NOTES VALUES('B','beta');"
            "INSERT INTO NOTES VALUES('C','gamma');");
  TAdsTable* table = NewTable("T", "NOTES.adt", "K");
  table->OpenDataSet();
  ASSERT_TRUE(table->SeekKey({"B"}));
  EXPECT_FALSE(table->SeekKey({"BB"}));
  EXPECT_FALSE(table->SeekKey({"ZZ"}));
  EXPECT_EQ(table->ColumnByName("NOTE").ReadText(), "beta");
  table->GoNext();
  EXPECT_EQ(table->ColumnByName("K").ReadText(), "C");
  EXPECT_EQ(table->ColumnByName("NOTE").ReadText(), "gamma");

  ASSERT_TRUE(table->SeekKey({"A"}));
  EXPECT_FALSE(table->SeekKey({"ZZ"}));
  EXPECT_TRUE(table->SeekKey({"C"}));
  EXPECT_EQ(table->ColumnByName("NOTE").ReadText(), "gamma");
}

TEST_F(SeekTest, RecordRemovedAfterAMissEndsTheWalkOnTheLastRecord) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  ASSERT_TRUE(table->SeekKey({"E001", EncodeDate(2010, 1, 1)}));
  EXPECT_FALSE(table->SeekKey({"E005"}));
  ExecOnTable("DELETE FROM EMP_PROS WHERE ID = 2");
  table->GoNext();
  EXPECT_TRUE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("EMP_CODE").ReadText(), "E10");
}

TEST_F(SeekTest, MissRightAfterOpenStaysOnTheFirstRecord) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  EXPECT_FALSE(table->SeekKey({"ZZZ"}));
  EXPECT_FALSE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 3);
}

TEST_F(SeekTest, MissAtTheEndStaysAtTheEnd) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  while (!table->AtEof()) table->GoNext();
  EXPECT_FALSE(table->SeekKey({"E005"}));
  EXPECT_TRUE(table->AtEof());
  // A walk guarded by the end flag and the key visits nothing.
  int visited = 0;
  while (!table->AtEof() && table->ColumnByName("EMP_CODE").ReadText() == "E005") {
    ++visited;
    table->GoNext();
  }
  EXPECT_EQ(visited, 0);
  EXPECT_EQ(table->ColumnByName("EMP_CODE").ReadText(), "E10");
}

TEST_F(SeekTest, TooManyValuesAndNoIndex) {
  TAdsTable* table = NewTable("T", "EMP_CLD.ADT", "EMP_NO;DATE");
  table->OpenDataSet();
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { return table->SeekKey({"E1", 40247.0, "F"}); }),
            "T: Too many values given for current index");
  TAdsTable* plain = NewTable("P", "EMP_CLD.ADT");
  plain->OpenDataSet();
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { return plain->SeekKey({"E1"}); }),
            "P: No parseable expressions in setting key fields");
}

TEST_F(SeekTest, AVarcharSegmentIsRefusedByNameNotTakenForANumber) {
  MakeTable("NOTES", "CODE CHAR(4), NOTE VARCHAR(20)",
            "CREATE INDEX BYNOTE ON NOTES(NOTE);"
            "INSERT INTO NOTES VALUES('A','alice');");
  TAdsTable* table = NewTable("T", "NOTES.adt", "NOTE");
  table->OpenDataSet();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { return table->SeekKey({"alice"}); }),
            "Field 'NOTE' of type VARCHAR cannot be sought");
}

TEST_F(SeekTest, NumericKeyAndNumericOutOfRange) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "SALARY");
  table->OpenDataSet();
  ASSERT_TRUE(table->SeekKey({1100.0}));
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 5);
  ASSERT_TRUE(table->SeekKey({900}));
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 7);
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { return table->SeekKey({1e12}); }), "T: Numeric out of range.");
  EXPECT_EQ(table->ColumnByName("ID").ReadInt(), 7);
}

class LocateTest : public DataFixture {
 protected:
  void SetUp() override {
    MakeTable("CODE", "CODE CHAR(6), DESC CHAR(30), VALID DATE, AMT NUMERIC(8,2), ACTIVE LOGICAL",
              "CREATE INDEX BYCODE ON CODE(CODE);"
              "INSERT INTO CODE VALUES('A','Alpha','2010-01-05',1.5,1);"
              "INSERT INTO CODE VALUES('B','He said \"hi\"','2010-02-06',2.5,0);"
              "INSERT INTO CODE VALUES('C','It''s','2010-03-07',NULL,1);"
              "INSERT INTO CODE VALUES('D',NULL,NULL,4,0);");
    table_ = NewTable("AdsTableCode", "CODE.ADT");
    table_->OpenDataSet();
    table_->GoNext();  // B
  }
  std::string Code() { return table_->ColumnByName("CODE").ReadText(); }
  TAdsTable* table_ = nullptr;
};

TEST_F(LocateTest, IndexedColumnFoundAndMissed) {
  EXPECT_TRUE(table_->LocateValue("CODE", {LocateItem::Text("C")}));
  EXPECT_EQ(table_->ColumnByName("DESC").ReadText(), "It's");
  // Walking goes on from there in the dataset's own order.
  table_->GoNext();
  EXPECT_EQ(Code(), "D");
  EXPECT_FALSE(table_->LocateValue("code", {LocateItem::Text("Q")}));
  EXPECT_EQ(Code(), "D");
  EXPECT_FALSE(table_->AtEof());
}

TEST_F(LocateTest, FilterWithQuotesInsideTheValue) {
  EXPECT_TRUE(table_->LocateValue("DESC", {LocateItem::Text("He said \"hi\"")}));
  EXPECT_EQ(Code(), "B");
  EXPECT_TRUE(table_->LocateValue("DESC", {LocateItem::Text("It's")}));
  EXPECT_EQ(Code(), "C");
  EXPECT_FALSE(table_->LocateValue("DESC", {LocateItem::Text("Alp")}));
  EXPECT_EQ(Code(), "C");
}

TEST_F(LocateTest, FilterTermsOfEveryKind) {
  LocateItem amount;
  amount.type = LocateItem::Type::Number;
  amount.number = 4;
  EXPECT_TRUE(table_->LocateValue("AMT", {amount}));
  EXPECT_EQ(Code(), "D");
  LocateItem date;
  date.type = LocateItem::Type::Date;
  date.number = EncodeDate(2010, 2, 6);
  EXPECT_TRUE(table_->LocateValue("VALID", {date}));
  EXPECT_EQ(Code(), "B");
  LocateItem empty;
  EXPECT_TRUE(table_->LocateValue("DESC", {empty}));
  EXPECT_EQ(Code(), "D");
  LocateItem yes;
  yes.type = LocateItem::Type::Logical;
  yes.logical = true;
  EXPECT_TRUE(table_->LocateValue("ACTIVE;AMT", {yes, amount}) == false);
  EXPECT_EQ(Code(), "D");
  amount.number = 1.5;
  EXPECT_TRUE(table_->LocateValue("ACTIVE;AMT", {yes, amount}));
  EXPECT_EQ(Code(), "A");
}

TEST_F(LocateTest, FilterComparesTheValueAsTheColumnsKindLikeTheIndex) {
  // Without an index on these columns the filter decides; a text value reads
  // as the number, date or logical of its column, as a key would.
  EXPECT_TRUE(table_->LocateValue("AMT", {LocateItem::Text("4")}));
  EXPECT_EQ(Code(), "D");
  EXPECT_TRUE(table_->LocateValue("VALID", {LocateItem::Text("06/02/2010")}));
  EXPECT_EQ(Code(), "B");
  EXPECT_TRUE(table_->LocateValue("ACTIVE;AMT", {LocateItem::Text("T"), LocateItem::Text("1.5")}));
  EXPECT_EQ(Code(), "A");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { return table_->LocateValue("AMT", {LocateItem::Text("four")}); }),
            "'four' is not a valid floating point value");
  EXPECT_EQ(Code(), "A");
  // A number in a character column is compared as its text, found through
  // the index (CODE) and through the filter (NAME) alike.
  MakeTable("NUMS", "CODE CHAR(4), NAME CHAR(4)",
            "CREATE INDEX BYCODE ON NUMS(CODE);"
            "INSERT INTO NUMS VALUES('1','x');INSERT INTO NUMS VALUES('5','5');");
  TAdsTable* nums = NewTable("AdsTableNums", "NUMS.ADT");
  nums->OpenDataSet();
  LocateItem five;
  five.type = LocateItem::Type::Number;
  five.number = 5;
  EXPECT_TRUE(nums->LocateValue("CODE", {five}));
  nums->GoFirst();
  EXPECT_TRUE(nums->LocateValue("NAME", {five}));
  EXPECT_EQ(nums->ColumnByName("CODE").ReadText(), "5");
}

TEST_F(LocateTest, CaseInsensitiveSearch) {
  LocateOptions options;
  options.case_insensitive = true;
  EXPECT_TRUE(table_->LocateValue("DESC", {LocateItem::Text("ALPHA")}, options));
  EXPECT_EQ(Code(), "A");
  EXPECT_FALSE(table_->LocateValue("DESC", {LocateItem::Text("ALPHA")}));
}

TEST_F(LocateTest, FilterIsGoneAfterwards) {
  EXPECT_TRUE(table_->LocateValue("DESC", {LocateItem::Text("Alpha")}));
  std::vector<std::string> codes;
  for (table_->GoFirst(); !table_->AtEof(); table_->GoNext()) codes.push_back(Code());
  EXPECT_EQ(codes, (std::vector<std::string>{"A", "B", "C", "D"}));
}

TEST_F(LocateTest, MissAtTheEndKeepsTheEnd) {
  table_->GoLast();
  EXPECT_FALSE(table_->LocateValue("DESC", {LocateItem::Text("none")}));
  EXPECT_TRUE(table_->AtEof());
  EXPECT_EQ(Code(), "D");
}

TEST_F(LocateTest, ValueCountMustMatchTheColumns) {
  EXPECT_THROW(static_cast<void>(table_->LocateValue("CODE;DESC", {LocateItem::Text("A")})), EDatabaseError);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { return table_->LocateValue("NOPE", {LocateItem::Text("A")}); }),
            "AdsTableCode: Field 'NOPE' not found");
}

}  // namespace
