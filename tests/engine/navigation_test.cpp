// Index order (empty keys first, ties by rowid), moving both ways, the
// BOF/EOF positions, bookmarks and records that disappear.
#include "tests/engine/engine_fixture.h"

namespace {

class NavigationTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    // rowids 1..7; CODE has an empty value, NAME ties on "B".
    MakeDb("emp.adt",
           "CREATE TABLE EMP(CODE CHAR(4), NAME CHAR(10), HIRED DATE, SALARY NUMERIC(8,2));"
           "CREATE INDEX EMP_BY_CODE ON EMP(CODE);"
           "CREATE INDEX \"EMP.BYNAME\" ON EMP(NAME, HIRED);"
           "CREATE UNIQUE INDEX BYSAL ON EMP(SALARY DESC);"
           "INSERT INTO EMP VALUES('E3', 'B', '2010-01-02', 300);"
           "INSERT INTO EMP VALUES('E1', 'C', '2009-05-06', 100);"
           "INSERT INTO EMP VALUES(NULL, 'B', '2010-01-02', 700);"
           "INSERT INTO EMP VALUES('E10', NULL, NULL, 400);"
           "INSERT INTO EMP VALUES('E2', 'B', '2008-12-31', 200);"
           "INSERT INTO EMP VALUES('', 'A', '2011-01-01', 500);"
           "INSERT INTO EMP VALUES('E1 ', 'D', '2001-01-01', NULL);");
    table_ = Open("EMP");
    ASSERT_NE(table_, 0u) << LastText();
  }
  std::vector<std::string> WalkBack(ADSHANDLE order, const std::string& field) {
    std::vector<std::string> seen;
    EXPECT_EQ(AdsGotoBottom(order), 0u);
    while (!Bof(table_) && seen.size() < 100) {
      seen.push_back(Text(table_, field));
      EXPECT_EQ(AdsSkip(order, -1), 0u) << LastText();
    }
    return seen;
  }
  UNSIGNED32 RecNo() {
    UNSIGNED32 record = 0;
    EXPECT_EQ(AdsGetRecordNum(table_, &record), 0u);
    return record;
  }
  ADSHANDLE table_ = 0;
};

TEST_F(NavigationTest, ListsIndexesWithSegmentsAndFlags) {
  std::vector<ADSHANDLE> indexes;
  ASSERT_EQ(AdsGetAllIndexes(table_, 50, &indexes), 0u);
  ASSERT_EQ(indexes.size(), 3u);
  std::string name;
  ASSERT_EQ(AdsGetIndexName(indexes[1], &name), 0u);
  EXPECT_EQ(name, "BYNAME");  // "EMP." removed
  UNSIGNED16 segments = 0, unique = 0, descending = 0;
  ASSERT_EQ(AdsGetNumSegments(indexes[1], &segments), 0u);
  EXPECT_EQ(segments, 2);
  ASSERT_EQ(AdsGetSegmentFieldname(indexes[1], 1, &name), 0u);
  EXPECT_EQ(name, "HIRED");
  EXPECT_NE(AdsGetSegmentFieldname(indexes[1], 2, &name), 0u);
  ASSERT_EQ(AdsIsIndexUnique(indexes[2], &unique), 0u);
  ASSERT_EQ(AdsIsIndexDescending(indexes[2], &descending), 0u);
  EXPECT_EQ(unique, 1);
  EXPECT_EQ(descending, 1);
  ASSERT_EQ(AdsIsIndexUnique(indexes[0], &unique), 0u);
  EXPECT_EQ(unique, 0);
  std::vector<ADSHANDLE> one;
  ASSERT_EQ(AdsGetAllIndexes(table_, 1, &one), 0u);
  EXPECT_EQ(one.size(), 1u);
}

TEST_F(NavigationTest, NaturalOrderIsRowidOrder) {
  EXPECT_EQ(Walk(table_, table_, "CODE"), (std::vector<std::string>{"E3", "E1", "", "E10", "E2", "", "E1"}));
}

TEST_F(NavigationTest, IndexOrderPutsEmptyFirstAndTiesInRowidOrder) {
  ADSHANDLE by_code = Index(table_, "EMP_BY_CODE");
  std::vector<std::string> salaries = Walk(table_, by_code, "SALARY");
  // NULL (700), '' (500), E1 (100), 'E1 ' (empty salary), E10 (400), E2, E3.
  EXPECT_EQ(salaries, (std::vector<std::string>{"700.00", "500.00", "100.00", "", "400.00", "200.00", "300.00"}));
  ADSHANDLE by_name = Index(table_, "byname");
  // NULL name first; B ties ordered by HIRED, then rowid.
  EXPECT_EQ(Walk(table_, by_name, "SALARY"),
            (std::vector<std::string>{"400.00", "500.00", "200.00", "300.00", "700.00", "100.00", ""}));
}

TEST_F(NavigationTest, DescendingIndexWalksLargestFirstWithEmptyLast) {
  ADSHANDLE by_sal = Index(table_, "BYSAL");
  EXPECT_EQ(Walk(table_, by_sal, "SALARY"),
            (std::vector<std::string>{"700.00", "500.00", "400.00", "300.00", "200.00", "100.00", ""}));
  EXPECT_EQ(WalkBack(by_sal, "SALARY"),
            (std::vector<std::string>{"", "100.00", "200.00", "300.00", "400.00", "500.00", "700.00"}));
}

TEST_F(NavigationTest, BackwardWalkIsTheForwardWalkReversed) {
  ADSHANDLE by_name = Index(table_, "BYNAME");
  std::vector<std::string> forward = Walk(table_, by_name, "SALARY");
  std::vector<std::string> backward = WalkBack(by_name, "SALARY");
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(forward, backward);
}

TEST_F(NavigationTest, ChangingDirectionMidwayKeepsTheOrder) {
  ADSHANDLE by_code = Index(table_, "EMP_BY_CODE");
  ASSERT_EQ(AdsGotoTop(by_code), 0u);
  ASSERT_EQ(AdsSkip(by_code, 3), 0u);  // 'E1 ' (row 7)
  EXPECT_EQ(RecNo(), 7u);
  ASSERT_EQ(AdsSkip(by_code, -1), 0u);
  EXPECT_EQ(RecNo(), 2u);  // E1
  ASSERT_EQ(AdsSkip(by_code, -1), 0u);
  EXPECT_EQ(RecNo(), 6u);  // ''
  ASSERT_EQ(AdsSkip(by_code, 1), 0u);
  EXPECT_EQ(RecNo(), 2u);
  ASSERT_EQ(AdsSkip(by_code, 1), 0u);
  EXPECT_EQ(RecNo(), 7u);
}

TEST_F(NavigationTest, BeginAndEndAreCracksAroundTheRecords) {
  ADSHANDLE by_code = Index(table_, "EMP_BY_CODE");
  // GoFirst of the data layer: top, back one (BOF), forward one.
  ASSERT_EQ(AdsGotoTop(by_code), 0u);
  EXPECT_FALSE(Bof(table_));
  ASSERT_EQ(AdsSkip(by_code, -1), 0u);
  EXPECT_TRUE(Bof(table_));
  EXPECT_FALSE(Eof(table_));
  ASSERT_EQ(AdsSkip(by_code, 1), 0u);
  EXPECT_EQ(RecNo(), 3u);
  // GoLast: bottom, forward one (EOF), back one.
  ASSERT_EQ(AdsGotoBottom(by_code), 0u);
  EXPECT_EQ(RecNo(), 1u);
  ASSERT_EQ(AdsSkip(by_code, 1), 0u);
  EXPECT_TRUE(Eof(table_));
  EXPECT_EQ(RecNo(), 0u);
  ASSERT_EQ(AdsSkip(by_code, -1), 0u);
  EXPECT_EQ(RecNo(), 1u);
  EXPECT_FALSE(Eof(table_));
}

TEST_F(NavigationTest, AtTheEndTheRecordReadsEmpty) {
  ASSERT_EQ(AdsGotoBottom(table_), 0u);
  ASSERT_EQ(AdsSkip(table_, 1), 0u);
  std::vector<uint8_t> record = Record(table_);
  std::vector<uint8_t> empty(record.size());
  ASSERT_EQ(AdsGetNullRecord(table_, empty.data(), static_cast<UNSIGNED32>(empty.size())), 0u);
  EXPECT_EQ(record, empty);
  EXPECT_EQ(Text(table_, "CODE"), "");
}

TEST_F(NavigationTest, AnEmptyTableIsAtBothEnds) {
  MakeDb("none.adt", "CREATE TABLE NONE(A CHAR(2)); CREATE INDEX NA ON NONE(A);");
  ADSHANDLE none = Open("none");
  ASSERT_NE(none, 0u);
  ADSHANDLE index = Index(none, "NA");
  ASSERT_EQ(AdsGotoTop(index), 0u);
  EXPECT_TRUE(Eof(none));
  EXPECT_TRUE(Bof(none));
  ASSERT_EQ(AdsSkip(index, 1), 0u);
  EXPECT_TRUE(Eof(none));
  UNSIGNED32 count = 9;
  ASSERT_EQ(AdsGetRecordCount(none, 0, &count), 0u);
  EXPECT_EQ(count, 0u);
}

TEST_F(NavigationTest, BookmarksReturnToTheRecordInTheActiveOrder) {
  ADSHANDLE by_code = Index(table_, "EMP_BY_CODE");
  ASSERT_EQ(AdsGotoTop(by_code), 0u);
  ASSERT_EQ(AdsSkip(by_code, 2), 0u);
  UNSIGNED32 mark = 0;
  ASSERT_EQ(AdsGetBookmark(by_code, &mark), 0u);
  ASSERT_EQ(AdsGotoBottom(by_code), 0u);
  ASSERT_EQ(AdsGotoBookmark(by_code, mark), 0u);
  EXPECT_EQ(Text(table_, "CODE"), "E1");
  ASSERT_EQ(AdsSkip(by_code, 1), 0u);
  EXPECT_EQ(RecNo(), 7u);
  // Through the table handle, the next skip on the index continues in index order.
  ASSERT_EQ(AdsGotoRecord(table_, 2), 0u);
  ASSERT_EQ(AdsSkip(by_code, 1), 0u);
  EXPECT_EQ(RecNo(), 7u);
}

TEST_F(NavigationTest, AVanishedRecordAnswers5022) {
  EXPECT_EQ(AdsGotoRecord(table_, 99), AE_INVALID_RECORD_NUMBER);
  EXPECT_EQ(AdsGotoRecord(table_, 0), AE_INVALID_RECORD_NUMBER);
  ASSERT_EQ(AdsGotoRecord(table_, 4), 0u);
  MakeDb("emp.adt", "DELETE FROM EMP WHERE rowid = 4;");
  EXPECT_EQ(AdsGotoRecord(table_, 4), AE_INVALID_RECORD_NUMBER);
}

TEST_F(NavigationTest, SeesRowsWrittenByAnotherProgramAfterTheOpen) {
  MakeDb("emp.adt", "INSERT INTO EMP VALUES('E0', 'Z', NULL, 1);");
  ADSHANDLE by_code = Index(table_, "EMP_BY_CODE");
  std::vector<std::string> codes = Walk(table_, by_code, "CODE");
  ASSERT_EQ(codes.size(), 8u);
  EXPECT_EQ(codes[2], "E0");
}

TEST_F(NavigationTest, RecordCountIgnoresOrder) {
  UNSIGNED32 count = 0;
  ASSERT_EQ(AdsGetRecordCount(Index(table_, "BYSAL"), 0, &count), 0u);
  EXPECT_EQ(count, 7u);
}

TEST_F(NavigationTest, LargeAndNegativeRowidsGetStableRecordNumbers) {
  MakeDb("big.adt",
         "CREATE TABLE BIG(A INTEGER); INSERT INTO BIG(rowid, A) VALUES(-5, 1), (0, 2), (5000000000, 3);");
  ADSHANDLE big = Open("big");
  ASSERT_NE(big, 0u);
  std::vector<UNSIGNED32> marks;
  ASSERT_EQ(AdsGotoTop(big), 0u);
  while (!Eof(big)) {
    UNSIGNED32 mark = 0;
    ASSERT_EQ(AdsGetBookmark(big, &mark), 0u);
    EXPECT_NE(mark, 0u);
    marks.push_back(mark);
    ASSERT_EQ(AdsSkip(big, 1), 0u);
  }
  ASSERT_EQ(marks.size(), 3u);
  ASSERT_EQ(AdsGotoBookmark(big, marks[1]), 0u);
  EXPECT_EQ(Text(big, "A"), "2");
  ASSERT_EQ(AdsGotoBookmark(big, marks[2]), 0u);
  EXPECT_EQ(Text(big, "A"), "3");
}

}  // namespace
