// Streamed SQL results (AdsStmtSetStreamed): which texts stream, rows equal
// to the stored result's across windows, the moves a streamed cursor makes
// and refuses, and failures of later windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/faults.h"
#include "engine/result_stream.h"
#include "engine/schema.h"
#include "engine/sealed_file.h"
#include "tests/engine/sql_test_support.h"
#include "tests/support/status_assertions.h"

namespace {

using kdx_test::FileRows;
using kdx_test::RunSql;
using kdx_test::ScratchFolder;

constexpr char kPassword[] = "VARDE5816";
constexpr char kCurrent[] = "select * from employee where (termination_date is null or termination_date >= :date)";
constexpr int kRows = 2000;

std::string LastErrorText() {
  UNSIGNED32 code = 0;
  std::string text;
  static_cast<void>(AdsGetLastError(&code, &text));
  return std::to_string(code) + " " + text;
}

// An employee table of kRows rows, every third one deleted (rowids with
// gaps), a quarter terminated before 2010-06-01 (about 1000 rows current),
// with text, date, number, memo and NULL values.
class StreamedResultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string sql =
        "CREATE TABLE employee(EMP_NO CHAR(10), NAME CHAR(20), SALARY NUMERIC(10,2), TERMINATION_DATE DATE,"
        " NOTES MEMO);"
        "CREATE INDEX \"employee.EMP_NO\" ON employee(EMP_NO);"
        "BEGIN;";
    for (int i = 1; i <= kRows; ++i) {
      const std::string n = std::to_string(i);
      sql += "INSERT INTO employee VALUES('E" + n + "','Name " + n + "'," + std::to_string(i * 10.5) + "," +
             (i % 4 == 0 ? "'2010-01-31'" : i % 4 == 1 ? "NULL" : "'2011-12-31'") + "," +
             (i % 5 == 0 ? "NULL" : "'memo " + n + "'") + ");";
    }
    sql += "DELETE FROM employee WHERE rowid % 3 = 2; COMMIT;";
    RunSql(folder_.File("employee.adt"), sql);
    RunSql(folder_.File("export.adt"), "CREATE TABLE export(NO INTEGER); INSERT INTO export VALUES(1);");
    RunSql(folder_.File("odd.adt"), "CREATE TABLE odd(oid CHAR(4)); INSERT INTO odd VALUES('a');");
    RunSql(folder_.File("keyed.adt"), "CREATE TABLE keyed(K CHAR(4) PRIMARY KEY) WITHOUT ROWID;"
                                      "INSERT INTO keyed VALUES('a');");
  }
  void TearDown() override {
    engine::SetStreamWindowRowsForTest(0);
    engine::DisarmFault();
    if (connection_ != 0) {
      EXPECT_EQ(AdsDisconnect(connection_), 0u);
    }
  }

  ADSHANDLE Statement() {
    if (connection_ == 0) {
      EXPECT_EQ(AdsConnect60(folder_.Path(), ADS_LOCAL_SERVER, "", "", 0, &connection_), 0u) << LastErrorText();
    }
    ADSHANDLE statement = 0;
    EXPECT_EQ(AdsCreateSQLStatement(connection_, &statement), 0u) << LastErrorText();
    return statement;
  }

  // Runs `text` (":date" bound to 2010-06-01 when it has it) on a new
  // statement, streamed or not.
  ADSHANDLE Execute(const std::string& text, bool streamed, ADSHANDLE* statement_out = nullptr,
                    const std::string& password = "") {
    const ADSHANDLE statement = Statement();
    if (!password.empty()) {
      EXPECT_EQ(AdsStmtSetTablePassword(statement, "employee", password), 0u);
    }
    EXPECT_EQ(AdsStmtSetStreamed(statement, streamed ? 1 : 0), 0u);
    EXPECT_EQ(AdsPrepareSQL(statement, text), 0u) << LastErrorText();
    if (text.find(":date") != std::string::npos) {
      EXPECT_EQ(AdsSetJulian(statement, 1, static_cast<SIGNED32>(engine::JulianFromCivil(2010, 6, 1))), 0u);
    }
    ADSHANDLE cursor = 0;
    EXPECT_EQ(AdsExecuteSQL(statement, &cursor), 0u) << LastErrorText();
    if (statement_out != nullptr) *statement_out = statement;
    return cursor;
  }

  // The current record: its raw bytes and its memo's text.
  static std::string Current(ADSHANDLE cursor) {
    std::vector<uint8_t> record(512);
    UNSIGNED32 length = static_cast<UNSIGNED32>(record.size());
    EXPECT_EQ(AdsGetRecord(cursor, record.data(), &length), 0u) << LastErrorText();
    std::string notes;
    EXPECT_EQ(AdsGetField(cursor, "NOTES", &notes), 0u) << LastErrorText();
    return std::string(record.begin(), record.begin() + length) + "|" + notes;
  }

  // Every record from the top; `most_held` gets the most rows the cursor
  // held on the way.
  static std::vector<std::string> Walk(ADSHANDLE cursor, size_t* most_held = nullptr) {
    std::vector<std::string> rows;
    EXPECT_EQ(AdsGotoTop(cursor), 0u) << LastErrorText();
    for (UNSIGNED16 eof = 0; AdsAtEOF(cursor, &eof) == 0 && eof == 0;) {
      rows.push_back(Current(cursor));
      if (most_held != nullptr) *most_held = std::max(*most_held, engine::StreamedRowsHeld(cursor));
      if (AdsSkip(cursor, 1) != 0) {
        ADD_FAILURE() << LastErrorText();
        break;
      }
    }
    return rows;
  }

  static UNSIGNED32 RecordNumber(ADSHANDLE cursor) {
    UNSIGNED32 record = 0;
    EXPECT_EQ(AdsGetRecordNum(cursor, &record), 0u);
    return record;
  }

  ScratchFolder folder_;
  ADSHANDLE connection_ = 0;
};

TEST_F(StreamedResultTest, RowsAndOrderAreThoseOfTheStoredResultInWindowsOfAnySize) {
  const ADSHANDLE stored = Execute(kCurrent, false);
  ASSERT_FALSE(engine::IsStreamedCursor(stored));
  const std::vector<std::string> expected = Walk(stored);
  for (const size_t window : {1, 7, 64, 5000}) {
    engine::SetStreamWindowRowsForTest(window);
    const ADSHANDLE cursor = Execute(kCurrent, true);
    ASSERT_TRUE(engine::IsStreamedCursor(cursor));
    size_t most_held = 0;
    EXPECT_EQ(Walk(cursor, &most_held), expected) << "window " << window;
    EXPECT_LE(most_held, window + engine::kStreamKeptRows) << "window " << window;
  }
}

TEST_F(StreamedResultTest, OnlyPlainScansOfOneTableStream) {
  struct Case {
    const char* text;
    bool streams;
  };
  const Case cases[] = {
      {"select * from employee", true},
      {"SELECT ALL NAME, EMP_NO FROM employee AS e WHERE e.SALARY > 100; -- the rest", true},
      {"select * from employee NOT INDEXED where NAME like 'Name 1%'", true},
      {"select EMP_NO from employee", false},                      // read through its index
      {"select * from employee where EMP_NO = 'E4'", false},       // searched through its index
      {"select * from employee where NAME <> 'order'", false},     // a refused word, even quoted
      {"select * from employee limit 5", false},
      {"select upper(NAME) AS N from employee", false},            // a column of no table
      {"select employee.* from employee, export", false},          // two tables
      {"select * from employee where SALARY in (select NO from export)", false},
      {"select * from (select * from employee)", false},
      {"select NAME AS rowid from employee", false},
      {"select * from odd", false},                                // a column hides the rowid
      {"select * from keyed", false},                              // no rowid
  };
  for (const Case& c : cases) {
    const ADSHANDLE cursor = Execute(c.text, true);
    EXPECT_NE(cursor, 0u) << c.text;
    EXPECT_EQ(engine::IsStreamedCursor(cursor), c.streams) << c.text;
  }
}

// Leave records (outer rows, some deleted) joined with staff rows found
// through an index on (EMP_NO, BATCH): employee E<n> has kMatches[n] staff
// rows, inserted against the index's order, so that outer rows have none,
// one or several inner rows, and some more than a window of 1, 2 or 7 rows.
constexpr char kJoin[] =
    "select leave.*, staff.BATCH, staff.NAME from leave, staff where EMPCODE = EMP_NO and +DAY > 0.5";
constexpr int kMatches[] = {0, 1, 3, 9, 2, 0};

void WriteJoinTables(const ScratchFolder& folder) {
  std::string leave =
      "CREATE TABLE leave(EMPCODE CHAR(10), DAY NUMERIC(5,2), NOTES CHAR(10));"
      "CREATE INDEX \"leave.DAY\" ON leave(DAY); BEGIN;";
  for (int i = 1; i <= 60; ++i) {
    leave += "INSERT INTO leave VALUES('E" + std::to_string(i * 7 % 6) + "'," + (i % 5 == 0 ? "0.5" : "1") + ",'n" +
             std::to_string(i) + "');";
  }
  RunSql(folder.File("leave.adt"), leave + "DELETE FROM leave WHERE rowid % 4 = 3; COMMIT;");
  std::string staff =
      "CREATE TABLE staff(EMP_NO CHAR(10), BATCH CHAR(6), NAME CHAR(10));"
      "CREATE INDEX \"staff.EMP_NO\" ON staff(EMP_NO, BATCH); BEGIN;";
  for (int e = 0; e < 6; ++e) {
    for (int m = kMatches[e]; m > 0; --m) {
      staff += "INSERT INTO staff VALUES('E" + std::to_string(e) + "','B" + std::to_string(m) + "','S" + std::to_string(e) + "');";
    }
  }
  RunSql(folder.File("staff.adt"), staff + "COMMIT;");
}

TEST_F(StreamedResultTest, JoinRowsAndOrderAreThoseOfTheStoredResultInWindowsOfAnySize) {
  WriteJoinTables(folder_);
  const ADSHANDLE stored = Execute(kJoin, false);
  const std::vector<std::string> expected = Walk(stored);
  ASSERT_GT(expected.size(), 60u);
  for (const size_t window : {1, 2, 7}) {
    engine::SetStreamWindowRowsForTest(window);
    const ADSHANDLE cursor = Execute(kJoin, true);
    ASSERT_TRUE(engine::IsStreamedCursor(cursor));
    EXPECT_EQ(Walk(cursor), expected) << "window " << window;
    UNSIGNED32 count = 0;
    ASSERT_EQ(AdsGetRecordCount(cursor, 1, &count), 0u) << LastErrorText();
    EXPECT_EQ(count, expected.size()) << "window " << window;
    ASSERT_EQ(AdsGotoTop(cursor), 0u);
    ASSERT_EQ(AdsSkip(cursor, 30), 0u);
    ASSERT_EQ(AdsGotoTop(stored), 0u);
    ASSERT_EQ(AdsSkip(stored, 30), 0u);
    EXPECT_EQ(RecordNumber(cursor), RecordNumber(stored)) << "window " << window;
  }
}

TEST_F(StreamedResultTest, OnlyJoinsOnAFullScanOfTheOuterTableAndIndexSearchesStream) {
  WriteJoinTables(folder_);
  struct Case {
    const char* text;
    bool streams;
  };
  const Case cases[] = {
      {kJoin, true},
      {"select l.NOTES, s.* from leave AS l, staff s where s.EMP_NO = l.EMPCODE;", true},
      {"select leave.*, staff.BATCH from leave, staff where EMPCODE = EMP_NO", false},  // a covering index
      {"select leave.*, staff.BATCH from leave, staff where EMPCODE = BATCH", false},  // an automatic index
      {"select leave.*, employee.NAME from leave, employee where EMPCODE = NAME", false},
      {"select leave.*, staff.BATCH from leave, staff where EMPCODE = EMP_NO and DAY = 1", false},  // outer by index
      {"select staff.* from odd, staff where EMP_NO = odd.oid", false},  // a column hides the outer rowid
      {"select leave.*, upper(staff.NAME) AS B from leave, staff where EMPCODE = EMP_NO", false},
      {"select leave.*, staff.* from leave, staff where EMPCODE = EMP_NO order by DAY", false},
      {"select staff.* from leave, staff where EMPCODE = EMP_NO and +DAY in (select NO from export)", false},
  };
  for (const Case& c : cases) {
    const ADSHANDLE cursor = Execute(c.text, true);
    EXPECT_NE(cursor, 0u) << c.text;
    EXPECT_EQ(engine::IsStreamedCursor(cursor), c.streams) << c.text;
  }
}

// The cursor keeps what it read ahead (up to 256 rows, and the first rows
// read from the top): the moves below go beyond that too.
TEST_F(StreamedResultTest, MovesTheWindowsCannotServeFailNamingTheStatement) {
  engine::SetStreamWindowRowsForTest(10);
  struct Case {
    const char* what;
    std::function<UNSIGNED32(ADSHANDLE cursor)> move;
  };
  const Case cases[] = {
      {"a bookmark of a row no longer held",
       [](ADSHANDLE c) {
         EXPECT_EQ(AdsSkip(c, 200), 0u);
         const UNSIGNED32 record = RecordNumber(c);
         EXPECT_EQ(AdsSkip(c, 500), 0u) << LastErrorText();
         return AdsGotoBookmark(c, record);
       }},
      {"a move before the rows held",
       [](ADSHANDLE c) {
         EXPECT_EQ(AdsSkip(c, 700), 0u) << LastErrorText();
         return AdsSkip(c, -400);
       }},
      {"an index order",
       [](ADSHANDLE c) {
         ADSHANDLE index = 0;
         return AdsGetIndexHandle(c, "EMP_NO", &index);
       }},
  };
  for (const Case& c : cases) {
    const ADSHANDLE cursor = Execute(kCurrent, true);
    ASSERT_EQ(AdsGotoTop(cursor), 0u);
    EXPECT_NE(c.move(cursor), 0u) << c.what;
    const std::string text = LastErrorText();
    EXPECT_NE(text.find(kCurrent), std::string::npos) << c.what << ": " << text;
    EXPECT_NE(text.find("read forward in windows"), std::string::npos) << c.what << ": " << text;
  }
}

TEST_F(StreamedResultTest, BackwardMovesWorkAmongTheRowsHeld) {
  engine::SetStreamWindowRowsForTest(10);
  const std::vector<std::string> all = Walk(Execute(kCurrent, false));
  const ADSHANDLE cursor = Execute(kCurrent, true);
  ASSERT_EQ(AdsGotoTop(cursor), 0u);
  ASSERT_EQ(AdsSkip(cursor, 600), 0u);
  for (int back = 1; back <= 20; ++back) {
    ASSERT_EQ(AdsSkip(cursor, -1), 0u) << back << ": " << LastErrorText();
    EXPECT_EQ(Current(cursor), all[static_cast<size_t>(600 - back)]) << back;
  }
}

TEST_F(StreamedResultTest, GotoTopReadsTheFirstWindowAgain) {
  engine::SetStreamWindowRowsForTest(10);
  const std::vector<std::string> all = Walk(Execute(kCurrent, false));
  const ADSHANDLE cursor = Execute(kCurrent, true);
  ASSERT_EQ(AdsGotoTop(cursor), 0u);
  ASSERT_EQ(AdsSkip(cursor, 700), 0u);
  ASSERT_EQ(AdsClearAOF(cursor), 0u);  // forgets the rows the cursor kept from the top
  ASSERT_EQ(AdsGotoTop(cursor), 0u);
  EXPECT_EQ(Current(cursor), all[0]);
  ASSERT_EQ(AdsSkip(cursor, 300), 0u);
  EXPECT_EQ(Current(cursor), all[300]);
}

TEST_F(StreamedResultTest, RecordCountIsExactAndLeavesTheCursorWhereItWas) {
  engine::SetStreamWindowRowsForTest(10);
  const std::vector<std::string> all = Walk(Execute(kCurrent, false));
  const ADSHANDLE cursor = Execute(kCurrent, true);
  ASSERT_EQ(AdsGotoTop(cursor), 0u);
  ASSERT_EQ(AdsSkip(cursor, 50), 0u);
  UNSIGNED32 count = 0;
  ASSERT_EQ(AdsGetRecordCount(cursor, 1, &count), 0u) << LastErrorText();
  EXPECT_EQ(count, all.size());
  ASSERT_EQ(AdsSetAOF(cursor, "SALARY < 1000", 0), 0u) << LastErrorText();
  ASSERT_EQ(AdsGetRecordCount(cursor, 2, &count), 0u) << LastErrorText();  // 2: through the filter
  EXPECT_EQ(std::to_string(count),
            FileRows(folder_.File("employee.adt"), "select count(*) from employee where SALARY < 1000 and "
                                                   "(termination_date is null or termination_date >= '2010-06-01')")
                .at(0));
  ASSERT_EQ(AdsClearAOF(cursor), 0u);
  ASSERT_EQ(AdsSkip(cursor, -1), 0u) << LastErrorText();
  EXPECT_EQ(Current(cursor), all[49]);
}

TEST_F(StreamedResultTest, AFailedLaterWindowFailsTheMoveNamingTheTable) {
  engine::SetStreamWindowRowsForTest(10);
  engine::ArmFault(0, engine::kFile);  // files opened from now on can fail
  const ADSHANDLE cursor = Execute(kCurrent, true);
  ASSERT_EQ(AdsGotoTop(cursor), 0u);
  ASSERT_EQ(AdsSkip(cursor, 5), 0u);
  engine::ArmFault(1, engine::kFile);
  UNSIGNED32 result = 0;
  for (int i = 0; i < 20 && result == 0; ++i) result = AdsSkip(cursor, 1);
  EXPECT_EQ(result, AE_KDX_SQLITE);
  EXPECT_NE(LastErrorText().find("Table employee (file '" + folder_.File("employee.adt") + "')"), std::string::npos)
      << LastErrorText();
  AdsErrorDetail detail;
  ASSERT_EQ(AdsGetLastErrorDetail(&detail), 0u);
  EXPECT_EQ(detail.table, "employee");
}

TEST_F(StreamedResultTest, CursorReadsOnAfterItsStatementCloses) {
  engine::SetStreamWindowRowsForTest(10);
  const std::vector<std::string> all = Walk(Execute(kCurrent, false));
  ADSHANDLE statement = 0;
  const ADSHANDLE cursor = Execute(kCurrent, true, &statement);
  ASSERT_EQ(AdsCloseSQLStatement(statement), 0u);
  EXPECT_EQ(Walk(cursor), all);
}

TEST_F(StreamedResultTest, SealedTableStreams) {
  engine::SetStreamWindowRowsForTest(10);
  const std::vector<std::string> all = Walk(Execute(kCurrent, false));
  ASSERT_TRUE(Succeeds(SealFile(folder_.File("employee.adt"), kPassword)));
  const ADSHANDLE cursor = Execute(kCurrent, true, nullptr, kPassword);
  EXPECT_TRUE(engine::IsStreamedCursor(cursor));
  EXPECT_EQ(Walk(cursor), all);
}

}  // namespace
