// Re-executing one SQL statement with new values: every execution gives a
// new cursor over the current rows, whatever the statement keeps from earlier
// executions to make the next one cheap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "tests/engine/sql_test_support.h"

namespace {

using kdx_test::RunSql;
using kdx_test::ScratchFolder;
using V = std::vector<std::string>;

std::string LastErrorText() {
  UNSIGNED32 code = 0;
  std::string text;
  static_cast<void>(AdsGetLastError(&code, &text));
  return std::to_string(code) + " " + text;
}

// A leave table as the exports read it, with an index on (EMPCODE, ID).
class SqlCursorReuseTest : public ::testing::Test {
 protected:
  static constexpr const char* kText =
      "select * from LEAV_TRX WHERE EMPCODE=:EMPCODE and LEAVE_CODE=:LEAVE_CODE order by DAYS desc";

  void SetUp() override {
    RunSql(folder_.File("LEAV_TRX.ADT"),
           "CREATE TABLE LEAV_TRX(ID INTEGER, EMPCODE CHAR(10), LEAVE_CODE CHAR(4), DAYS NUMERIC(5,2));"
           "CREATE INDEX \"LEAV_TRX.EMPID\" ON LEAV_TRX(EMPCODE, ID);"
           "INSERT INTO LEAV_TRX VALUES(3,'E001','AL',1);"
           "INSERT INTO LEAV_TRX VALUES(1,'E001','AL',2);"
           "INSERT INTO LEAV_TRX VALUES(2,'E001','AL',0.5);"
           "INSERT INTO LEAV_TRX VALUES(4,'E001','SL',1);"
           "INSERT INTO LEAV_TRX VALUES(5,'E002','AL',3);");
    ASSERT_EQ(AdsConnect60(folder_.Path(), ADS_LOCAL_SERVER, "", "", 0, &connection_), 0u) << LastErrorText();
    ASSERT_EQ(AdsCreateSQLStatement(connection_, &statement_), 0u) << LastErrorText();
  }

  void TearDown() override {
    if (connection_ != 0) {
      EXPECT_EQ(AdsDisconnect(connection_), 0u);
    }
  }

  // Prepares the text again, binds the values in order and executes.
  ADSHANDLE Open(const V& values, const std::string& text = kText) {
    EXPECT_EQ(AdsPrepareSQL(statement_, text), 0u) << LastErrorText();
    for (size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(AdsSetString(statement_, static_cast<UNSIGNED16>(i + 1), values[i]), 0u) << LastErrorText();
    }
    ADSHANDLE cursor = 0;
    EXPECT_EQ(AdsExecuteSQL(statement_, &cursor), 0u) << LastErrorText();
    EXPECT_NE(cursor, 0u);
    return cursor;
  }

  // `column` of every record, walking `order` (the cursor or an index handle)
  // forwards, or backwards from the bottom.
  std::vector<std::string> Walk(ADSHANDLE cursor, const std::string& column, ADSHANDLE order = 0,
                                bool backwards = false) {
    std::vector<std::string> values;
    const ADSHANDLE nav = order != 0 ? order : cursor;
    EXPECT_EQ(backwards ? AdsGotoBottom(nav) : AdsGotoTop(nav), 0u) << LastErrorText();
    for (int guard = 0; guard < 100; ++guard) {
      UNSIGNED16 end = 1;
      EXPECT_EQ(backwards ? AdsAtBOF(cursor, &end) : AdsAtEOF(cursor, &end), 0u) << LastErrorText();
      if (end) break;
      std::string value;
      EXPECT_EQ(AdsGetField(cursor, column, &value), 0u) << LastErrorText();
      values.push_back(value);
      EXPECT_EQ(AdsSkip(nav, backwards ? -1 : 1), 0u) << LastErrorText();
    }
    return values;
  }

  UNSIGNED32 Count(ADSHANDLE cursor) {
    UNSIGNED32 count = 0;
    EXPECT_EQ(AdsGetRecordCount(cursor, 0, &count), 0u) << LastErrorText();
    return count;
  }

  ADSHANDLE FirstIndex(ADSHANDLE cursor) {
    std::vector<ADSHANDLE> indexes;
    EXPECT_EQ(AdsGetAllIndexes(cursor, 10, &indexes), 0u) << LastErrorText();
    EXPECT_EQ(indexes.size(), 1u);
    return indexes.empty() ? 0 : indexes[0];
  }

  // Type, length and offset of every field, and the record length.
  std::vector<UNSIGNED32> Layout(ADSHANDLE cursor) {
    std::vector<UNSIGNED32> layout;
    UNSIGNED32 length = 0;
    EXPECT_EQ(AdsGetRecordLength(cursor, &length), 0u);
    layout.push_back(length);
    UNSIGNED16 fields = 0;
    EXPECT_EQ(AdsGetNumFields(cursor, &fields), 0u);
    for (UNSIGNED16 f = 1; f <= fields; ++f) {
      UNSIGNED16 type = 0;
      UNSIGNED32 width = 0;
      UNSIGNED32 offset = 0;
      EXPECT_EQ(AdsGetFieldType(cursor, f, &type), 0u);
      EXPECT_EQ(AdsGetFieldLength(cursor, f, &width), 0u);
      EXPECT_EQ(AdsGetFieldOffset(cursor, f, &offset), 0u);
      layout.insert(layout.end(), {type, width, offset});
    }
    return layout;
  }

  ScratchFolder folder_;
  ADSHANDLE connection_ = 0;
  ADSHANDLE statement_ = 0;
};

TEST_F(SqlCursorReuseTest, EachReopenShowsItsOwnRowsAndNoneOfAnEarlierOne) {
  struct Case {
    V values;
    V ids;  // in the statement's order
  };
  const std::vector<Case> cases = {{{"E001", "AL"}, {"1", "3", "2"}},
                                   {{"E002", "AL"}, {"5"}},
                                   {{"E009", "AL"}, {}},
                                   {{"E001", "SL"}, {"4"}},
                                   {{"E001", "AL"}, {"1", "3", "2"}}};
  for (const Case& c : cases) {
    const std::string label = c.values[0] + "/" + c.values[1];
    const ADSHANDLE cursor = Open(c.values);
    EXPECT_EQ(Count(cursor), c.ids.size()) << label;
    EXPECT_EQ(Walk(cursor, "ID"), c.ids) << label;
    EXPECT_EQ(Walk(cursor, "ID", 0, true), V(c.ids.rbegin(), c.ids.rend())) << label;
    // The index order of the result: by EMPCODE, then ID.
    V sorted = c.ids;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Walk(cursor, "ID", FirstIndex(cursor)), sorted) << label;
    // The raw record of the first row holds this execution's EMPCODE.
    EXPECT_EQ(AdsGotoTop(cursor), 0u);
    std::vector<uint8_t> record(64, 0xEE);
    UNSIGNED32 length = static_cast<UNSIGNED32>(record.size());
    EXPECT_EQ(AdsGetRecord(cursor, record.data(), &length), 0u) << LastErrorText();
    const std::string code(reinterpret_cast<const char*>(record.data()) + 4, 10);
    EXPECT_EQ(code, c.ids.empty() ? std::string(10, '\0') : (c.values[0] + std::string(6, ' '))) << label;
    EXPECT_EQ(AdsCloseTable(cursor), 0u);
  }
}

TEST_F(SqlCursorReuseTest, HandlesOfAClosedCursorStayStaleAfterTheReopen) {
  const ADSHANDLE first = Open({"E001", "AL"});
  const ADSHANDLE first_index = FirstIndex(first);
  ASSERT_EQ(AdsCloseTable(first), 0u);
  const ADSHANDLE second = Open({"E002", "AL"});
  const ADSHANDLE second_index = FirstIndex(second);
  EXPECT_NE(second, first);
  EXPECT_NE(second_index, first_index);
  EXPECT_NE(second_index, first);
  EXPECT_EQ(AdsGotoTop(first), static_cast<UNSIGNED32>(AE_INVALID_HANDLE));
  EXPECT_EQ(AdsGotoTop(first_index), static_cast<UNSIGNED32>(AE_INVALID_HANDLE));
  UNSIGNED32 count = 0;
  EXPECT_NE(AdsGetRecordCount(first, 0, &count), 0u);
  std::string value;
  EXPECT_NE(AdsGetField(first, "ID", &value), 0u);
  EXPECT_NE(AdsCloseTable(first), 0u);
  UNSIGNED16 type = 0;
  EXPECT_NE(AdsGetHandleType(first, &type), 0u);
  EXPECT_NE(AdsGetHandleType(first_index, &type), 0u);
  // The closed handles did not touch the new cursor.
  EXPECT_EQ(Walk(second, "ID"), V{"5"});
  EXPECT_EQ(Walk(second, "ID", second_index), V{"5"});
  EXPECT_EQ(AdsCloseTable(second), 0u);
}

TEST_F(SqlCursorReuseTest, ReopenWithTheSameValuesShowsRowsWrittenMeanwhile) {
  ADSHANDLE cursor = Open({"E002", "AL"});
  EXPECT_EQ(Walk(cursor, "DAYS"), V{"3.00"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  RunSql(folder_.File("LEAV_TRX.ADT"),
         "UPDATE LEAV_TRX SET DAYS = 4.5 WHERE ID = 5; INSERT INTO LEAV_TRX VALUES(6,'E002','AL',1)");
  cursor = Open({"E002", "AL"});
  EXPECT_EQ(Walk(cursor, "DAYS"), (V{"4.50", "1.00"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  RunSql(folder_.File("LEAV_TRX.ADT"), "DELETE FROM LEAV_TRX WHERE EMPCODE = 'E002'");
  cursor = Open({"E002", "AL"});
  EXPECT_EQ(Count(cursor), 0u);
  UNSIGNED16 eof = 0;
  EXPECT_EQ(AdsGotoTop(cursor), 0u);
  EXPECT_EQ(AdsAtEOF(cursor, &eof), 0u);
  EXPECT_EQ(eof, 1u);
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorReuseTest, FilterAndExactSettingOfAClosedCursorDoNotCarryOver) {
  ADSHANDLE cursor = Open({"E001", "AL"});
  ASSERT_EQ(AdsSetAOF(cursor, "ID > 1", 0), 0u) << LastErrorText();
  ASSERT_EQ(AdsSetExact22(cursor, 1), 0u);
  EXPECT_EQ(Walk(cursor, "ID"), (V{"3", "2"}));
  EXPECT_EQ(Walk(cursor, "ID", FirstIndex(cursor)), (V{"2", "3"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  cursor = Open({"E001", "AL"});
  char buffer[64] = {};
  UNSIGNED16 length = sizeof buffer;
  EXPECT_EQ(AdsGetAOF(cursor, buffer, &length), static_cast<UNSIGNED32>(AE_NO_FILTER));
  UNSIGNED16 exact = 1;
  EXPECT_EQ(AdsGetExact22(cursor, &exact), 0u);
  EXPECT_EQ(exact, 0u);
  EXPECT_EQ(Walk(cursor, "ID"), (V{"1", "3", "2"}));
  EXPECT_EQ(Walk(cursor, "ID", FirstIndex(cursor)), (V{"1", "2", "3"}));
  EXPECT_EQ(Count(cursor), 3u);
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorReuseTest, LayoutAndIndexesAreTheSameOnEveryExecution) {
  const ADSHANDLE first = Open({"E001", "AL"});
  const std::vector<UNSIGNED32> layout = Layout(first);
  ASSERT_EQ(layout.size(), 1u + 4 * 3);
  EXPECT_EQ(AdsCloseTable(first), 0u);
  for (const V& values : {V{"E002", "AL"}, V{"E009", "XX"}, V{"E001", "AL"}}) {
    const ADSHANDLE cursor = Open(values);
    EXPECT_EQ(Layout(cursor), layout) << values[0];
    std::string name;
    EXPECT_EQ(AdsGetIndexName(FirstIndex(cursor), &name), 0u);
    EXPECT_EQ(name, "EMPID");
    UNSIGNED32 options = 0;
    EXPECT_EQ(AdsGetTableOpenOptions(cursor, &options), 0u);
    EXPECT_EQ(options & 2u, 2u);  // read-only
    EXPECT_EQ(AdsCloseTable(cursor), 0u);
  }
}

TEST_F(SqlCursorReuseTest, ChangedTableLayoutIsSeenByTheNextExecution) {
  ADSHANDLE cursor = Open({"E001", "SL"});
  UNSIGNED16 fields = 0;
  EXPECT_EQ(AdsGetNumFields(cursor, &fields), 0u);
  EXPECT_EQ(fields, 4u);
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  RunSql(folder_.File("LEAV_TRX.ADT"),
         "ALTER TABLE LEAV_TRX ADD COLUMN REMARK CHAR(12); UPDATE LEAV_TRX SET REMARK = 'half day' WHERE ID = 4");
  cursor = Open({"E001", "SL"});
  EXPECT_EQ(AdsGetNumFields(cursor, &fields), 0u);
  EXPECT_EQ(fields, 5u);
  UNSIGNED32 width = 0;
  EXPECT_EQ(AdsGetFieldLength(cursor, 5, &width), 0u);
  EXPECT_EQ(width, 12u);
  EXPECT_EQ(Walk(cursor, "REMARK"), V{"half day"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorReuseTest, ExpressionColumnsAreTypedByEachExecutionsValues) {
  const std::string text = "select ID, LEAVE_CODE || :SUFFIX AS TAG from LEAV_TRX WHERE EMPCODE=:EMPCODE";
  ADSHANDLE cursor = Open({"-", "E002"}, text);
  UNSIGNED32 width = 0;
  EXPECT_EQ(AdsGetFieldLength(cursor, 2, &width), 0u);
  EXPECT_EQ(width, 3u);
  EXPECT_EQ(Walk(cursor, "TAG"), V{"AL-"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  cursor = Open({"-long", "E002"}, text);
  EXPECT_EQ(AdsGetFieldLength(cursor, 2, &width), 0u);
  EXPECT_EQ(width, 7u);
  EXPECT_EQ(Walk(cursor, "TAG"), V{"AL-long"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorReuseTest, CursorKeepsItsPlaceWhenItsStatementCloses) {
  // Earlier executions leave prepared reads with the statement.
  for (const char* code : {"E002", "E001"}) EXPECT_EQ(AdsCloseTable(Open({code, "AL"})), 0u);
  const ADSHANDLE cursor = Open({"E001", "AL"});
  ASSERT_EQ(AdsGotoTop(cursor), 0u);
  ASSERT_EQ(AdsSkip(cursor, 1), 0u);
  ASSERT_EQ(AdsCloseSQLStatement(statement_), 0u);
  std::string id;
  EXPECT_EQ(AdsGetField(cursor, "ID", &id), 0u) << LastErrorText();
  EXPECT_EQ(id, "3");
  EXPECT_EQ(AdsSkip(cursor, 1), 0u);
  EXPECT_EQ(AdsGetField(cursor, "ID", &id), 0u);
  EXPECT_EQ(id, "2");
  EXPECT_EQ(Walk(cursor, "ID", FirstIndex(cursor)), (V{"1", "2", "3"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorReuseTest, DisconnectClosesOpenAndReusableCursorsAlike) {
  const ADSHANDLE closed = Open({"E002", "AL"});
  EXPECT_EQ(AdsCloseTable(closed), 0u);
  const ADSHANDLE open = Open({"E001", "AL"});
  const ADSHANDLE index = FirstIndex(open);
  ASSERT_EQ(AdsGotoTop(index), 0u);
  ASSERT_EQ(AdsDisconnect(connection_), 0u);
  connection_ = 0;
  UNSIGNED16 type = 0;
  EXPECT_NE(AdsGetHandleType(open, &type), 0u);
  EXPECT_NE(AdsGetHandleType(index, &type), 0u);
  EXPECT_NE(AdsGotoTop(open), 0u);
  EXPECT_NE(AdsPrepareSQL(statement_, kText), 0u);
}

}  // namespace
