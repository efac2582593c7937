// Column readers: every column kind the engine produces, read as text,
// date-time, float, currency and integer, full and empty.
#include "data_test_support.h"
#include "util/date_time.h"

#include <functional>

namespace {

using data_test::DataFixture;
using data_test::MessageOf;

class ReadersTest : public DataFixture {
 protected:
  void SetUp() override {
    MakeTable("ALLTYPES",
              "ROWNO INTEGER, C CHAR(10), D DATE, N NUMERIC(10,2), N0 NUMERIC(4,0), I INTEGER, F DOUBLE, "
              "M MONEY, T TIMESTAMP, L LOGICAL, TM TIME, S SHORTINT, A AUTOINC, MM MEMO",
              "CREATE INDEX BYROW ON ALLTYPES(ROWNO);"
              "INSERT INTO ALLTYPES VALUES(1,'ABC','2010-03-05',1234.5,12,42,0.25,12.5,"
              "'2010-03-10 15:00:00',1,'08:30:00',-7,5,'memo text');"
              "INSERT INTO ALLTYPES(ROWNO, A) VALUES(2, 6);"
              "INSERT INTO ALLTYPES(ROWNO,C,N,N0,F,M,L) VALUES(3,' 42',12,-3,2.5,0.00005,0);"
              "INSERT INTO ALLTYPES(ROWNO,C,N) VALUES(4,'$1F',1235.5);"
              "INSERT INTO ALLTYPES(ROWNO,C) VALUES(5,'05/03/2010');"
              "INSERT INTO ALLTYPES(ROWNO,C,F) VALUES(6,'1e15',9e999),(7,'-inf',-1e308),(8,'',1e15),"
              "(9,'',999999999999999);");
    table_ = NewTable("AdsTableAll", "ALLTYPES.adt", "ROWNO");
    table_->OpenDataSet();
  }
  void GoRow(int row) { ASSERT_TRUE(table_->SeekKey({row})) << row; }
  TField& Col(const std::string& name) { return table_->ColumnByName(name); }
  TAdsTable* table_ = nullptr;
};

TEST_F(ReadersTest, FullRowAsText) {
  GoRow(1);
  EXPECT_EQ(Col("C").ReadText(), "ABC");
  EXPECT_EQ(Col("D").ReadText(), "05/03/2010");
  EXPECT_EQ(Col("N").ReadText(), "1234.5");
  EXPECT_EQ(Col("N0").ReadText(), "12");
  EXPECT_EQ(Col("N0").Kind(), TFieldKind::SmallInt);
  EXPECT_EQ(Col("I").ReadText(), "42");
  EXPECT_EQ(Col("F").ReadText(), "0.25");
  EXPECT_EQ(Col("M").ReadText(), "12.5");
  EXPECT_EQ(Col("T").ReadText(), "10/03/2010 15:00:00");
  EXPECT_EQ(Col("L").ReadText(), "True");
  EXPECT_EQ(Col("TM").ReadText(), "08:30:00");
  EXPECT_EQ(Col("S").ReadText(), "-7");
  EXPECT_EQ(Col("A").ReadText(), "5");
  EXPECT_EQ(Col("MM").ReadText(), "memo text");
}

TEST_F(ReadersTest, DatesAndNumbersAsValues) {
  GoRow(1);
  EXPECT_EQ(Col("D").ReadDateTime(), 40242);
  EXPECT_EQ(Col("D").ReadFloat(), 40242);
  EXPECT_DOUBLE_EQ(Col("T").ReadDateTime(), 40247.625);
  EXPECT_DOUBLE_EQ(Col("TM").ReadDateTime(), 8.5 / 24);
  EXPECT_EQ(Col("N").ReadFloat(), 1234.5);
  EXPECT_EQ(Col("N").ReadCurrency(), 12345000);
  EXPECT_EQ(Col("M").ReadCurrency(), 125000);
  EXPECT_EQ(Col("I").ReadInt(), 42);
  EXPECT_EQ(Col("S").ReadInt(), -7);
  EXPECT_EQ(Col("A").ReadInt(), 5);
  EXPECT_EQ(Col("N0").ReadInt(), 12);
  // Floats round to the nearest integer, ties to even.
  EXPECT_EQ(Col("N").ReadInt(), 1234);
  GoRow(4);
  EXPECT_EQ(Col("N").ReadInt(), 1236);
}

TEST_F(ReadersTest, SmallValuesAndTies) {
  GoRow(3);
  EXPECT_EQ(Col("N").ReadText(), "12");
  EXPECT_EQ(Col("N0").ReadText(), "-3");
  EXPECT_EQ(Col("F").ReadInt(), 2);  // 2.5 rounds to even
  EXPECT_EQ(Col("M").ReadCurrency(), 0);  // 0.5 unit rounds to even
  EXPECT_EQ(Col("L").ReadText(), "False");
  EXPECT_EQ(Col("M").ReadText(), "0.00005");
}

// A number no amount can be never leaves the reader: INF or a field
// hundreds of characters wide would reach the file.
TEST_F(ReadersTest, NumbersBeyondAnyAmountAreRefused) {
  for (int row : {6, 7, 8}) {
    GoRow(row);
    for (const auto& read : std::vector<std::function<void()>>{
             [&] { Col("F").ReadText(); }, [&] { Col("F").ReadFloat(); }, [&] { Col("F").ReadCurrency(); },
             [&] { Col("F").ReadInt(); }}) {
      EXPECT_EQ(MessageOf<ENumberOutOfRange>(read).rfind("AdsTableAll: Column 'F' holds ", 0), 0u) << row << " " << MessageOf<ENumberOutOfRange>(read);
    }
  }
  GoRow(6);
  EXPECT_THROW(Col("C").ReadFloat(), ENumberOutOfRange);
  GoRow(9);
  EXPECT_EQ(Col("F").ReadText(), "999999999999999");
}

TEST_F(ReadersTest, EmptyColumnsReadEmpty) {
  GoRow(2);
  for (const char* name : {"C", "D", "N", "N0", "I", "F", "M", "T", "L", "TM", "S", "MM"}) {
    EXPECT_EQ(Col(name).ReadText(), "") << name;
    EXPECT_TRUE(Col(name).IsEmpty()) << name;
  }
  for (const char* name : {"D", "N", "I", "F", "M", "T", "TM", "S"}) {
    EXPECT_EQ(Col(name).ReadFloat(), 0) << name;
    EXPECT_EQ(Col(name).ReadCurrency(), 0) << name;
    EXPECT_EQ(Col(name).ReadDateTime(), 0) << name;
    EXPECT_EQ(Col(name).ReadInt(), 0) << name;
  }
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("C").ReadInt(); }), "'' is not a valid integer value");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("C").ReadFloat(); }), "'' is not a valid floating point value");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("C").ReadDateTime(); }), "'' is not a valid date and time");
}

TEST_F(ReadersTest, TextColumnsConvertOrFailWithTheirText) {
  GoRow(3);
  EXPECT_EQ(Col("C").ReadInt(), 42);  // leading blanks skipped
  EXPECT_EQ(Col("C").ReadFloat(), 42);
  GoRow(4);
  EXPECT_EQ(Col("C").ReadInt(), 31);  // hexadecimal
  GoRow(5);
  EXPECT_EQ(Col("C").ReadDateTime(), 40242);
  GoRow(1);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("C").ReadFloat(); }), "'ABC' is not a valid floating point value");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("C").ReadDateTime(); }), "'ABC' is not a valid date and time");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("C").ReadInt(); }), "'ABC' is not a valid integer value");
}

TEST_F(ReadersTest, KindsThatCannotBeReadAsAType) {
  GoRow(1);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("L").ReadFloat(); }), "Cannot access field 'L' as type Float");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("L").ReadInt(); }), "Cannot access field 'L' as type Integer");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("D").ReadInt(); }), "Cannot access field 'D' as type Integer");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("N").ReadDateTime(); }),
            "Cannot access field 'N' as type DateTime");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("I").ReadDateTime(); }),
            "Cannot access field 'I' as type DateTime");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("L").ReadCurrency(); }), "Cannot access field 'L' as type Float");
}

TEST_F(ReadersTest, UnknownColumnNamesTheDataset) {
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { Col("NOPE"); }), "AdsTableAll: Field 'NOPE' not found");
}

TEST_F(ReadersTest, ColumnReferenceFollowsTheCurrentRecord) {
  TField& c = Col("c");
  GoRow(1);
  EXPECT_EQ(c.ReadText(), "ABC");
  table_->GoNext();
  EXPECT_EQ(c.ReadText(), "");
  table_->GoNext();
  EXPECT_EQ(c.ReadText(), " 42");
}

}  // namespace
