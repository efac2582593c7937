// SQL statements through the engine interface: folders of free tables,
// parameters, date comparisons, cursors and their indexes, sealed tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/accounts.h"
#include "engine/ads.h"
#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/sealed_file.h"
#include "engine/sql_statement.h"
#include "tests/engine/sql_test_support.h"
#include "tests/support/status_assertions.h"

namespace {

using kdx_test::FileRows;
using kdx_test::ReadBytes;
using kdx_test::RunSql;
using kdx_test::ScratchFolder;

constexpr char kTablePassword[] = "VARDE5816";

int32_t Julian(int y, int m, int d) { return static_cast<int32_t>(engine::JulianFromCivil(y, m, d)); }

std::string LastErrorText() {
  UNSIGNED32 code = 0;
  std::string text;
  static_cast<void>(AdsGetLastError(&code, &text));
  return std::to_string(code) + " " + text;
}

std::vector<uint8_t> TimeStampRaw(int32_t julian, int32_t ms) {
  std::vector<uint8_t> raw(8);
  std::memcpy(raw.data(), &julian, 4);
  std::memcpy(raw.data() + 4, &ms, 4);
  return raw;
}

// A folder holding the tables the exports read, in mixed-case file names.
class SqlFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    RunSql(folder_.File("employee.adt"),
           "CREATE TABLE employee(EMP_NO CHAR(10), NAME CHAR(20), BATCH_NO CHAR(4), SALARY NUMERIC(10,2),"
           " TERMINATION_DATE DATE, REMARK1 CHAR(10));"
           "CREATE INDEX \"employee.EMP_NO\" ON employee(EMP_NO);"
           "INSERT INTO employee VALUES('E001','Anna','B1',1000.5,NULL,'r1');"
           "INSERT INTO employee VALUES('E002','Bert','B2',2000,'2010-01-31','r2');"
           "INSERT INTO employee VALUES('E003','Cleo','B1',3000,'2010-03-31','r3');");
    RunSql(folder_.File("EMPLEAVE.ADT"),
           "CREATE TABLE EMPLEAVE(ID INTEGER, EMPCODE CHAR(10), LEAVE_CODE CHAR(4), APRROVED CHAR(1),"
           " APPROVED_DATE DATE, MODIFIED_DATE DATE, STAMP TIMESTAMP, DAY NUMERIC(5,2));"
           "INSERT INTO EMPLEAVE VALUES(1,'E001','AL','Y','2010-03-07','2010-03-07','2010-03-08 11:00:00',1);"
           "INSERT INTO EMPLEAVE VALUES(2,'E001','SL','Z','2010-03-08','2010-03-08','2010-03-08 13:00:00',2);"
           "INSERT INTO EMPLEAVE VALUES(3,'E002','AL','Y','2010-03-09','2010-03-08','2010-03-08 12:00:00',1);"
           "INSERT INTO EMPLEAVE VALUES(4,'E003','AL','N','2010-03-08','2010-03-09','2010-03-09 00:00:00',3);"
           "INSERT INTO EMPLEAVE VALUES(5,'E003','ML','Y',NULL,'2010-03-08','2010-03-08 12:00:00.500',1);");
    RunSql(folder_.File("Export.adt"),
           "CREATE TABLE export(SECTION CHAR(10), NO INTEGER, FIELD CHAR(20));"
           "CREATE INDEX \"export.SECTION\" ON export(SECTION, NO);"
           "CREATE INDEX NOIDX ON export(NO);"
           "INSERT INTO export VALUES('KDX',3,'C');"
           "INSERT INTO export VALUES('OTHER',1,'X');"
           "INSERT INTO export VALUES('KDX',1,'A');"
           "INSERT INTO export VALUES('KDX',2,'B');");
    ASSERT_EQ(AdsConnect60(folder_.Path(), ADS_LOCAL_SERVER, "", "", 0, &connection_), 0u) << LastErrorText();
    ASSERT_EQ(AdsCreateSQLStatement(connection_, &statement_), 0u) << LastErrorText();
  }

  void TearDown() override {
    if (connection_ != 0) {
      EXPECT_EQ(AdsDisconnect(connection_), 0u);
    }
  }

  // Prepares `text`; every later Bind... call binds the next position.
  UNSIGNED32 Prepare(const std::string& text) {
    const UNSIGNED32 rc = AdsPrepareSQL(statement_, text);
    EXPECT_EQ(rc, 0u) << LastErrorText();
    return rc;
  }

  // Executes and returns the cursor (0 on failure, which fails the test).
  ADSHANDLE Execute() {
    ADSHANDLE cursor = 0;
    EXPECT_EQ(AdsExecuteSQL(statement_, &cursor), 0u) << LastErrorText();
    return cursor;
  }

  // The values of `column` in the cursor's order (its natural order, or the
  // index `order` when given).
  std::vector<std::string> Column(ADSHANDLE cursor, const std::string& column, ADSHANDLE order = 0) {
    std::vector<std::string> values;
    const ADSHANDLE nav = order != 0 ? order : cursor;
    EXPECT_EQ(AdsGotoTop(nav), 0u) << LastErrorText();
    for (int guard = 0; guard < 10000; ++guard) {
      UNSIGNED16 eof = 1;
      EXPECT_EQ(AdsAtEOF(cursor, &eof), 0u) << LastErrorText();
      if (eof) break;
      std::string value;
      EXPECT_EQ(AdsGetField(cursor, column, &value), 0u) << LastErrorText();
      values.push_back(value);
      EXPECT_EQ(AdsSkip(nav, 1), 0u) << LastErrorText();
    }
    return values;
  }

  std::vector<std::string> Select(const std::string& text, const std::string& column) {
    if (Prepare(text) != 0) return {};
    const ADSHANDLE cursor = Execute();
    if (cursor == 0) return {};
    auto values = Column(cursor, column);
    EXPECT_EQ(AdsCloseTable(cursor), 0u);
    return values;
  }

  ScratchFolder folder_;
  ADSHANDLE connection_ = 0;
  ADSHANDLE statement_ = 0;
};

using V = std::vector<std::string>;

// ---- statements and cursors ---------------------------------------------------

class SqlCursorTest : public SqlFixture {};

TEST_F(SqlCursorTest, SelectGivesACursorInTheStatementsOrder) {
  EXPECT_EQ(Select("select * from employee order by NAME desc", "EMP_NO"), (V{"E003", "E002", "E001"}));
  EXPECT_EQ(Select("select EMP_NO from EMPLOYEE where BATCH_NO='B1'", "EMP_NO"), (V{"E001", "E003"}));
}

TEST_F(SqlCursorTest, CursorIsAReadOnlyTableWithARecordCount) {
  Prepare("select * from employee");
  const ADSHANDLE cursor = Execute();
  UNSIGNED16 type = 0;
  EXPECT_EQ(AdsGetHandleType(cursor, &type), 0u);
  EXPECT_EQ(type, ADS_CURSOR);
  UNSIGNED32 options = 0;
  EXPECT_EQ(AdsGetTableOpenOptions(cursor, &options), 0u);
  EXPECT_EQ(options & 2u, 2u);
  UNSIGNED32 count = 0;
  EXPECT_EQ(AdsGetRecordCount(cursor, 0, &count), 0u) << LastErrorText();
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, ColumnsCarryTheirSourceTypesAndExpressionsTheirValuesType) {
  Prepare("select EMP_NO, SALARY, TERMINATION_DATE, EMP_NO || '-' || NAME AS LABEL, SALARY * 2 AS DOUBLED,"
          " length(NAME) AS LEN, NULL AS NONE_VALUE from employee");
  const ADSHANDLE cursor = Execute();
  struct Expect {
    UNSIGNED16 field;
    const char* name;
    UNSIGNED16 type;
    UNSIGNED32 length;
  };
  for (const Expect& e : {Expect{1, "EMP_NO", ADS_STRING, 10}, Expect{3, "TERMINATION_DATE", ADS_DATE, 4},
                          Expect{4, "LABEL", ADS_STRING, 9}, Expect{5, "DOUBLED", ADS_DOUBLE, 8},
                          Expect{6, "LEN", ADS_INTEGER, 4}, Expect{7, "NONE_VALUE", ADS_STRING, 1}}) {
    SCOPED_TRACE(e.name);
    std::string name;
    UNSIGNED16 type = 0;
    UNSIGNED32 length = 0;
    EXPECT_EQ(AdsGetFieldName(cursor, e.field, &name), 0u) << LastErrorText();
    EXPECT_EQ(name, e.name);
    EXPECT_EQ(AdsGetFieldType(cursor, e.field, &type), 0u) << LastErrorText();
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(AdsGetFieldLength(cursor, e.field, &length), 0u) << LastErrorText();
    EXPECT_EQ(length, e.length);
  }
  UNSIGNED16 type = 0;
  UNSIGNED16 decimals = 0;
  EXPECT_EQ(AdsGetFieldType(cursor, 2, &type), 0u);
  EXPECT_EQ(type, ADS_NUMERIC);
  EXPECT_EQ(AdsGetFieldDecimals(cursor, 2, &decimals), 0u);
  EXPECT_EQ(decimals, 2);
  EXPECT_EQ(Column(cursor, "LABEL"), (V{"E001-Anna", "E002-Bert", "E003-Cleo"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, RepeatedColumnNamesAreMadeDistinct) {
  Prepare("select e.EMP_NO, l.EMPCODE AS EMP_NO, l.ID from employee e, empleave l where e.EMP_NO = l.EMPCODE and l.ID = 1");
  const ADSHANDLE cursor = Execute();
  std::string name;
  EXPECT_EQ(AdsGetFieldName(cursor, 2, &name), 0u);
  EXPECT_EQ(name, "EMP_NO_1");
  EXPECT_EQ(Column(cursor, "EMP_NO_1"), V{"E001"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, TemplateQueryOffersTheSectionNoIndex) {
  Prepare("select * from  export\r\nwhere section=:section");
  ASSERT_EQ(AdsSetString(statement_, 1, "KDX"), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  std::vector<ADSHANDLE> indexes;
  ASSERT_EQ(AdsGetAllIndexes(cursor, 50, &indexes), 0u) << LastErrorText();
  ASSERT_EQ(indexes.size(), 2u);
  std::string name;
  UNSIGNED16 segments = 0;
  EXPECT_EQ(AdsGetIndexName(indexes[0], &name), 0u);
  EXPECT_EQ(name, "SECTION");
  EXPECT_EQ(AdsGetNumSegments(indexes[0], &segments), 0u);
  ASSERT_EQ(segments, 2);
  std::string first, second;
  EXPECT_EQ(AdsGetSegmentFieldname(indexes[0], 0, &first), 0u);
  EXPECT_EQ(AdsGetSegmentFieldname(indexes[0], 1, &second), 0u);
  EXPECT_EQ(first + ";" + second, "SECTION;NO");
  ADSHANDLE order = 0;
  ASSERT_EQ(AdsGetIndexHandle(cursor, "SECTION", &order), 0u) << LastErrorText();
  EXPECT_EQ(Column(cursor, "FIELD", order), (V{"A", "B", "C"}));
  UNSIGNED32 count = 0;
  EXPECT_EQ(AdsGetRecordCount(cursor, 0, &count), 0u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, NaturalOrderIsTheStatementsAndIndexOrderTheIndexs) {
  Prepare("select * from export order by FIELD desc");
  const ADSHANDLE cursor = Execute();
  ADSHANDLE order = 0;
  ASSERT_EQ(AdsGetIndexHandle(cursor, "SECTION", &order), 0u) << LastErrorText();
  EXPECT_EQ(Column(cursor, "FIELD"), (V{"X", "C", "B", "A"}));
  EXPECT_EQ(Column(cursor, "FIELD", order), (V{"A", "B", "C", "X"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, OnlyIndexesWhoseColumnsAreInTheResultAreOffered) {
  Prepare("select NO, FIELD from export");
  const ADSHANDLE cursor = Execute();
  std::vector<ADSHANDLE> indexes;
  ASSERT_EQ(AdsGetAllIndexes(cursor, 50, &indexes), 0u);
  ASSERT_EQ(indexes.size(), 1u);
  std::string name;
  EXPECT_EQ(AdsGetIndexName(indexes[0], &name), 0u) << LastErrorText();
  EXPECT_EQ(name, "NOIDX");
  EXPECT_EQ(Column(cursor, "FIELD", indexes[0]), (V{"X", "A", "B", "C"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, AJoinOffersNoIndex) {
  Prepare("select export.*, employee.EMP_NO from export, employee where employee.EMP_NO = 'E001'");
  const ADSHANDLE cursor = Execute();
  std::vector<ADSHANDLE> indexes;
  ASSERT_EQ(AdsGetAllIndexes(cursor, 50, &indexes), 0u);
  EXPECT_TRUE(indexes.empty());
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, JoinAcrossTwoFreeTablesNamedInOtherCases) {
  // File names employee.adt and EMPLEAVE.ADT; the statement writes them the other way round.
  Prepare("select empleave.*,employee.BATCH_NO,REMARK1 from empleave,EMPLOYEE where EMPCODE=EMP_NO  AND "
          "((aprroved='Z') OR (aprroved='Y')) order by ID");
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "ID"), (V{"1", "2", "3", "5"}));
  EXPECT_EQ(Column(cursor, "BATCH_NO"), (V{"B1", "B1", "B2", "B1"}));
  EXPECT_EQ(Column(cursor, "REMARK1"), (V{"r1", "r1", "r2", "r3"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, EmptyResultIsACursorAtItsEnd) {
  Prepare("select * from employee where EMP_NO = 'none'");
  const ADSHANDLE cursor = Execute();
  ASSERT_NE(cursor, 0u);
  UNSIGNED32 count = 99;
  EXPECT_EQ(AdsGetRecordCount(cursor, 0, &count), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(Column(cursor, "EMP_NO").empty());
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlCursorTest, WritingStatementIsRefusedAndChangesNothing) {
  Prepare("update EMPLEAVE set DAY = :day where ID = :id");
  ASSERT_EQ(AdsSetDouble(statement_, 1, 4.5), 0u) << LastErrorText();
  ASSERT_EQ(AdsSetString(statement_, 2, "2"), 0u) << LastErrorText();
  ADSHANDLE cursor = 77;
  EXPECT_EQ(AdsExecuteSQL(statement_, &cursor), AE_KDX_SQL_EXECUTE);
  EXPECT_NE(LastErrorText().find("readonly database"), std::string::npos) << LastErrorText();
  EXPECT_EQ(FileRows(folder_.File("EMPLEAVE.ADT"), "SELECT DAY FROM EMPLEAVE WHERE ID=2"), V{"2"});
}

TEST_F(SqlCursorTest, CursorOutlivesItsStatementButNotItsConnection) {
  Prepare("select * from employee");
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(AdsCloseSQLStatement(statement_), 0u);
  EXPECT_EQ(Column(cursor, "EMP_NO").size(), 3u);
  EXPECT_EQ(AdsDisconnect(connection_), 0u);
  connection_ = 0;
  UNSIGNED16 type = 0;
  EXPECT_NE(AdsGetHandleType(cursor, &type), 0u);
  EXPECT_NE(AdsGotoTop(cursor), 0u);
}

TEST_F(SqlCursorTest, ReopenWithNewValuesRunsWithThem) {
  const std::string text = "select EMP_NO from employee where BATCH_NO = :batch";
  for (const auto& [batch, expected] : std::vector<std::pair<std::string, V>>{
           {"B1", {"E001", "E003"}}, {"B2", {"E002"}}, {"B9", {}}, {"B1", {"E001", "E003"}}}) {
    Prepare(text);
    ASSERT_EQ(AdsSetString(statement_, 1, batch), 0u) << LastErrorText();
    const ADSHANDLE cursor = Execute();
    EXPECT_EQ(Column(cursor, "EMP_NO"), expected) << batch;
    EXPECT_EQ(AdsCloseTable(cursor), 0u);
  }
}

TEST_F(SqlCursorTest, CursorsOfOneStatementAreIndependent) {
  const std::string text = "select EMP_NO from employee where BATCH_NO = :batch";
  Prepare(text);
  ASSERT_EQ(AdsSetString(statement_, 1, "B1"), 0u) << LastErrorText();
  const ADSHANDLE first = Execute();
  Prepare(text);
  ASSERT_EQ(AdsSetString(statement_, 1, "B2"), 0u) << LastErrorText();
  const ADSHANDLE second = Execute();
  EXPECT_EQ(Column(first, "EMP_NO"), (V{"E001", "E003"}));
  EXPECT_EQ(Column(second, "EMP_NO"), (V{"E002"}));
  EXPECT_EQ(AdsCloseTable(first), 0u);
  // A third run may reuse the first one's storage, never the second's.
  Prepare(text);
  ASSERT_EQ(AdsSetString(statement_, 1, "B9"), 0u) << LastErrorText();
  const ADSHANDLE third = Execute();
  EXPECT_TRUE(Column(third, "EMP_NO").empty());
  EXPECT_EQ(Column(second, "EMP_NO"), (V{"E002"}));
  EXPECT_EQ(AdsCloseTable(second), 0u);
  EXPECT_EQ(AdsCloseTable(third), 0u);
}

TEST_F(SqlCursorTest, StatementSeesRowsWrittenBetweenExecutions) {
  const std::string text = "select count(*) AS N from empleave";
  EXPECT_EQ(Select(text, "N"), V{"5"});
  RunSql(folder_.File("EMPLEAVE.ADT"), "DELETE FROM EMPLEAVE WHERE ID > 2");
  EXPECT_EQ(Select(text, "N"), V{"2"});
}

class SqlStatementErrorTest : public SqlFixture {
 protected:
  std::string Fails(const std::string& text) {
    if (AdsPrepareSQL(statement_, text) != 0) return LastErrorText();
    ADSHANDLE cursor = 0;
    if (AdsExecuteSQL(statement_, &cursor) != 0) return LastErrorText();
    EXPECT_EQ(AdsCloseTable(cursor), 0u);
    return "";
  }
};

TEST_F(SqlStatementErrorTest, UnknownTableIsNamed) {
  const std::string error = Fails("select * from NOSUCH where a = 1");
  EXPECT_NE(error.find("NOSUCH"), std::string::npos) << error;
  EXPECT_EQ(error.rfind(std::to_string(AE_KDX_TABLE_NOT_FOUND), 0), 0u) << error;
}

TEST_F(SqlStatementErrorTest, UnknownColumnAndSyntaxNameTheStatement) {
  std::string error = Fails("select NOPE from employee");
  EXPECT_NE(error.find("no such column: NOPE"), std::string::npos) << error;
  EXPECT_NE(error.find("select NOPE from employee"), std::string::npos) << error;
  error = Fails("selec * from employee");
  EXPECT_EQ(error.rfind(std::to_string(AE_KDX_SQL_PREPARE), 0), 0u) << error;
}

TEST_F(SqlStatementErrorTest, OneStatementOnly) {
  EXPECT_NE(Fails("select * from employee; delete from employee"), "");
  EXPECT_EQ(FileRows(folder_.File("employee.adt"), "SELECT count(*) FROM employee"), V{"3"});
  EXPECT_EQ(Fails("select * from employee;  -- done"), "");
}

TEST_F(SqlStatementErrorTest, StatementsCannotAttachFiles) {
  const std::string error = Fails("ATTACH DATABASE '" + folder_.File("x.db") + "' AS x");
  EXPECT_NE(error, "");
  EXPECT_FALSE(std::filesystem::exists(folder_.File("x.db")));
}

TEST_F(SqlStatementErrorTest, ClosedStatementAnswers5106) {
  EXPECT_EQ(AdsCloseSQLStatement(statement_), 0u);
  EXPECT_EQ(AdsCloseSQLStatement(statement_), AE_INVALID_SQLSTATEMENT_HANDLE);
  EXPECT_EQ(AdsPrepareSQL(statement_, "select 1"), AE_INVALID_SQLSTATEMENT_HANDLE);
  ADSHANDLE other = 0;
  EXPECT_EQ(AdsCreateSQLStatement(123456789, &other), AE_INVALID_CONNECTION_HANDLE);
}

TEST_F(SqlStatementErrorTest, ExecuteBeforePrepare) {
  ADSHANDLE cursor = 0;
  EXPECT_EQ(AdsExecuteSQL(statement_, &cursor), AE_KDX_SQL_NOT_PREPARED);
  EXPECT_EQ(AdsSetString(statement_, 1, "x"), AE_KDX_SQL_NOT_PREPARED);
}

TEST_F(SqlStatementErrorTest, OptionsAreRemembered) {
  EXPECT_EQ(AdsStmtSetTableLockType(statement_, 1), 0u);
  EXPECT_EQ(AdsStmtSetTableCharType(statement_, 1), 0u);
  EXPECT_EQ(AdsStmtSetTableRights(statement_, 2), 0u);
  EXPECT_EQ(AdsStmtSetTableReadOnly(statement_, 1), 0u);
  EXPECT_EQ(AdsStmtSetTableType(statement_, 3), 0u);
  EXPECT_EQ(AdsStmtConstrainUpdates(statement_, 2), 0u);
  EXPECT_EQ(AdsStmtReadAllColumns(statement_, 2), 0u);
  engine::StatementOptions options;
  ASSERT_EQ(engine::GetStatementOptions(statement_, &options), 0u);
  EXPECT_EQ(options.lock_type, 1);
  EXPECT_EQ(options.char_type, 1);
  EXPECT_EQ(options.rights, 2);
  EXPECT_EQ(options.read_only, 1);
  EXPECT_EQ(options.table_type, 3);
  EXPECT_EQ(options.constrain_updates, 2);
  EXPECT_EQ(options.read_all_columns, 2);
  UNSIGNED16 type = 0;
  EXPECT_EQ(AdsGetHandleType(statement_, &type), 0u);
  EXPECT_EQ(type, ADS_STATEMENT);
}

// ---- parameters ------------------------------------------------------------------

class SqlParameterTest : public SqlFixture {};

TEST_F(SqlParameterTest, ParameterListHasOneEntryPerOccurrence) {
  std::vector<std::string> names;
  ASSERT_EQ(AdsGetSQLStmtParams("select * from t where (a>=:date1 and a<=:date2) or (b>=:date1 and b<=:date2)",
                                &names), 0u);
  EXPECT_EQ(names, (V{"date1", "date2", "date1", "date2"}));
  ASSERT_EQ(AdsGetSQLStmtParams("", &names), 0u);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(AdsGetSQLStmtParams("select * from t where a = : ", &names), AE_KDX_SQL_PARAMETER);
  EXPECT_NE(LastErrorText().find("offset 26"), std::string::npos) << LastErrorText();
}

TEST_F(SqlParameterTest, RepeatedNameIsBoundOnlyWhereBound) {
  // Only places 1 and 2 are bound: places 3 and 4 stay NULL and match nothing.
  Prepare("select ID from EMPLEAVE where (APPROVED_DATE>=:date1 and APPROVED_DATE<=:date2) or "
          "(MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2) order by ID");
  ASSERT_EQ(AdsSetJulian(statement_, 1, Julian(2010, 3, 8)), 0u) << LastErrorText();
  ASSERT_EQ(AdsSetJulian(statement_, 2, Julian(2010, 3, 8)), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "ID"), (V{"2", "4"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  // With all four bound the MODIFIED_DATE rows join in.
  Prepare("select ID from EMPLEAVE where (APPROVED_DATE>=:date1 and APPROVED_DATE<=:date2) or "
          "(MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2) order by ID");
  for (UNSIGNED16 p = 1; p <= 4; ++p) {
    ASSERT_EQ(AdsSetJulian(statement_, p, Julian(2010, 3, 8)), 0u) << LastErrorText();
  }
  const ADSHANDLE all = Execute();
  EXPECT_EQ(Column(all, "ID"), (V{"2", "3", "4", "5"}));
  EXPECT_EQ(AdsCloseTable(all), 0u);
}

TEST_F(SqlParameterTest, EmptyAndUnboundPlacesAreNull) {
  Prepare("select count(*) AS N from employee where :p is null and :q is null");
  ASSERT_EQ(AdsSetString(statement_, 1, "x"), 0u) << LastErrorText();
  ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "N"), V{"0"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  Prepare("select count(*) AS N from employee where :p is null and :q is null");
  ASSERT_EQ(AdsSetEmpty(statement_, 1), 0u) << LastErrorText();
  cursor = Execute();
  EXPECT_EQ(Column(cursor, "N"), V{"3"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  // Compared with an empty place a column matches nothing, not even its own NULLs.
  EXPECT_TRUE(Select("select EMP_NO from employee where TERMINATION_DATE = :d", "EMP_NO").empty());
}

TEST_F(SqlParameterTest, PreparingAgainForgetsEarlierValues) {
  const std::string text = "select count(*) AS N from employee where :p is null";
  Prepare(text);
  ASSERT_EQ(AdsSetString(statement_, 1, "bound"), 0u) << LastErrorText();
  ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "N"), V{"0"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  Prepare(text);
  cursor = Execute();
  EXPECT_EQ(Column(cursor, "N"), V{"3"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlParameterTest, PositionsOutsideTheTextAreRefused) {
  Prepare("select * from employee where EMP_NO = :a");
  EXPECT_EQ(AdsSetString(statement_, 0, "x"), AE_KDX_SQL_PARAMETER);
  EXPECT_EQ(AdsSetString(statement_, 2, "x"), AE_KDX_SQL_PARAMETER);
  EXPECT_NE(LastErrorText().find("outside 1 to 1"), std::string::npos) << LastErrorText();
  const uint8_t short_stamp[4] = {};
  EXPECT_EQ(AdsSetTimeStampRaw(statement_, 1, short_stamp, 4), AE_KDX_SQL_PARAMETER);
  EXPECT_EQ(AdsSetMilliseconds(statement_, 1, 86400000), AE_KDX_SQL_PARAMETER);
  EXPECT_EQ(AdsSetJulian(statement_, 1, 5), AE_KDX_SQL_PARAMETER);
}

TEST_F(SqlParameterTest, ForeignPlaceholdersAreRefused) {
  EXPECT_NE(AdsPrepareSQL(statement_, "select * from employee where EMP_NO = ?"), 0u);
  EXPECT_NE(AdsPrepareSQL(statement_, "select * from employee where EMP_NO = @x"), 0u);
  EXPECT_NE(LastErrorText().find("@x"), std::string::npos) << LastErrorText();
}

TEST_F(SqlParameterTest, NumbersLogicalsAndBinaryValues) {
  Prepare("select EMP_NO from employee where SALARY > :s order by EMP_NO");
  ASSERT_EQ(AdsSetDouble(statement_, 1, 1500.25), 0u) << LastErrorText();
  ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "EMP_NO"), (V{"E002", "E003"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  Prepare("select :flag + 0 AS F, length(:blob) AS L from employee where EMP_NO = 'E001'");
  ASSERT_EQ(AdsSetLogical(statement_, 1, 7), 0u) << LastErrorText();
  const uint8_t bytes[3] = {0, 1, 2};
  ASSERT_EQ(AdsSetBinary(statement_, 2, 6, bytes, 3), 0u) << LastErrorText();
  cursor = Execute();
  EXPECT_EQ(Column(cursor, "F"), V{"1"});
  EXPECT_EQ(Column(cursor, "L"), V{"3"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlParameterTest, QuotedColonsStayInTheText) {
  Prepare("select 'a:b' || :x AS T from employee where EMP_NO = 'E001'");
  ASSERT_EQ(AdsSetString(statement_, 1, "!"), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "T"), V{"a:b!"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

// ---- dates -----------------------------------------------------------------------

class SqlDateTest : public SqlFixture {
 protected:
  // IDs of EMPLEAVE rows selected by `text` with every place bound to the
  // moment 8 March 2010 14:05:09.250 as a raw time stamp.
  V IdsAtRunMoment(const std::string& text) {
    if (Prepare(text) != 0) return {};
    std::vector<std::string> names;
    EXPECT_EQ(AdsGetSQLStmtParams(text, &names), 0u) << LastErrorText();
    const auto raw = TimeStampRaw(Julian(2010, 3, 8), ((14 * 60 + 5) * 60 + 9) * 1000 + 250);
    for (UNSIGNED16 p = 1; p <= names.size(); ++p)
      EXPECT_EQ(AdsSetTimeStampRaw(statement_, p, raw.data(), 8), 0u) << LastErrorText();
    const ADSHANDLE cursor = Execute();
    auto ids = Column(cursor, "ID");
    EXPECT_EQ(AdsCloseTable(cursor), 0u);
    return ids;
  }
};

TEST_F(SqlDateTest, DateColumnComparesByCalendarDay) {
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2 order by ID"),
            (V{"2", "3", "5"}));
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where MODIFIED_DATE = :d order by ID"), (V{"2", "3", "5"}));
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where MODIFIED_DATE < :d order by ID"), (V{"1"}));
}

TEST_F(SqlDateTest, QualifiedReversedInAndBetweenForms) {
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where EMPLEAVE.MODIFIED_DATE = :d order by ID"),
            (V{"2", "3", "5"}));
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE e where :d = e.MODIFIED_DATE order by ID"), (V{"2", "3", "5"}));
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where :d <> MODIFIED_DATE order by ID"), (V{"1", "4"}));
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where APPROVED_DATE IN (:a, :b) order by ID"), (V{"2", "4"}));
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where MODIFIED_DATE BETWEEN :a AND :b order by ID"),
            (V{"2", "3", "5"}));
}

TEST_F(SqlDateTest, TimestampColumnComparesAsTimestamp) {
  // 14:05:09.250 on 8 March: the stamps 11:00, 12:00, 12:00.500 and 13:00 are before it.
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where STAMP >= :t order by ID"), (V{"4"}));
  EXPECT_EQ(IdsAtRunMoment("select ID from EMPLEAVE where STAMP < :t order by ID"), (V{"1", "2", "3", "5"}));
}

TEST_F(SqlDateTest, TimestampColumnWithAJulianDateMeansMidnight) {
  Prepare("select ID from EMPLEAVE where STAMP >= :d order by ID");
  ASSERT_EQ(AdsSetJulian(statement_, 1, Julian(2010, 3, 9)), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "ID"), (V{"4"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlDateTest, TimestampWithoutMillisecondsMatchesStoredSeconds) {
  Prepare("select ID from EMPLEAVE where STAMP = :t");
  const auto raw = TimeStampRaw(Julian(2010, 3, 8), 12 * 3600 * 1000);
  ASSERT_EQ(AdsSetTimeStampRaw(statement_, 1, raw.data(), 8), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "ID"), (V{"3"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlDateTest, EmployeeSelectionWithTerminationDate) {
  // Current employees: no termination date, or one on or after the run date.
  Prepare("select * from employee where (termination_date is null or termination_date >=:date)");
  ASSERT_EQ(AdsSetJulian(statement_, 1, Julian(2010, 3, 8)), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "EMP_NO"), (V{"E001", "E003"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlDateTest, ZeroDayIsTheEmptyDate) {
  Prepare("select count(*) AS N from employee where :d is null");
  const auto raw = TimeStampRaw(0, 5000);
  ASSERT_EQ(AdsSetTimeStampRaw(statement_, 1, raw.data(), 8), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "N"), V{"3"});
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

// ---- sealed tables -----------------------------------------------------------------

class SqlSealedTest : public SqlFixture {
 protected:
  void SetUp() override {
    SqlFixture::SetUp();
    ASSERT_TRUE(Succeeds(SealFile(folder_.File("employee.adt"), kTablePassword)));
    entries_ = folder_.Entries();
  }
  std::set<std::string> entries_;
};

TEST_F(SqlSealedTest, WithoutThePasswordTheStatementFailsNamingTheTable) {
  EXPECT_EQ(AdsPrepareSQL(statement_, "select * from employee"), AE_KDX_TABLE_PASSWORD_MISSING);
  EXPECT_NE(LastErrorText().find("Table employee is sealed"), std::string::npos) << LastErrorText();
}

TEST_F(SqlSealedTest, WrongPasswordFailsNamingTheTable) {
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee", "VARDE5817"), 0u) << LastErrorText();
  EXPECT_EQ(AdsPrepareSQL(statement_, "select * from employee"), AE_KDX_SEALED_REFUSED);
  EXPECT_NE(LastErrorText().find("Table employee"), std::string::npos) << LastErrorText();
  EXPECT_NE(LastErrorText().find("wrong table password"), std::string::npos) << LastErrorText();
  EXPECT_EQ(LastErrorText().find("VARDE581"), std::string::npos) << "password in the message";
}

TEST_F(SqlSealedTest, RightPasswordWithTableNameInAnyCase) {
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "EMPLOYEE", kTablePassword), 0u);
  EXPECT_EQ(Select("select EMP_NO from Employee order by EMP_NO", "EMP_NO"), (V{"E001", "E002", "E003"}));
  EXPECT_EQ(folder_.Entries(), entries_) << "a file appeared next to the sealed table";
}

TEST_F(SqlSealedTest, SealedAndPlainTablesJoin) {
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee.adt", kTablePassword), 0u) << LastErrorText();
  Prepare("select empleave.ID, employee.BATCH_NO from empleave, employee where EMPCODE = EMP_NO and "
          "MODIFIED_DATE = :d order by ID");
  ASSERT_EQ(AdsSetJulian(statement_, 1, Julian(2010, 3, 8)), 0u) << LastErrorText();
  const ADSHANDLE cursor = Execute();
  EXPECT_EQ(Column(cursor, "BATCH_NO"), (V{"B1", "B2", "B1"}));
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
  EXPECT_EQ(folder_.Entries(), entries_);
}

TEST_F(SqlSealedTest, CursorOverASealedTableOffersItsIndexes) {
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee", kTablePassword), 0u) << LastErrorText();
  Prepare("select * from employee");
  const ADSHANDLE cursor = Execute();
  ADSHANDLE order = 0;
  EXPECT_EQ(AdsGetIndexHandle(cursor, "EMP_NO", &order), 0u) << LastErrorText();
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlSealedTest, SealedTablesCannotBeWritten) {
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee", kTablePassword), 0u) << LastErrorText();
  Prepare("delete from employee");
  ADSHANDLE cursor = 0;
  EXPECT_EQ(AdsExecuteSQL(statement_, &cursor), AE_KDX_SQL_EXECUTE);
  EXPECT_NE(LastErrorText().find("readonly"), std::string::npos) << LastErrorText();
}

TEST_F(SqlSealedTest, ChangedPasswordIsCheckedAgain) {
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee", kTablePassword), 0u) << LastErrorText();
  EXPECT_EQ(Select("select count(*) AS N from employee", "N"), V{"3"});
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee", "wrong"), 0u) << LastErrorText();
  EXPECT_EQ(AdsPrepareSQL(statement_, "select count(*) AS N from employee"), AE_KDX_SEALED_REFUSED);
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee", kTablePassword), 0u) << LastErrorText();
  EXPECT_EQ(Select("select count(*) AS N from employee", "N"), V{"3"});
}

TEST_F(SqlSealedTest, NewStatementCarriesNoPasswordOfTheOld) {
  ASSERT_EQ(AdsStmtSetTablePassword(statement_, "employee", kTablePassword), 0u) << LastErrorText();
  EXPECT_EQ(Select("select count(*) AS N from employee", "N"), V{"3"});
  ADSHANDLE other = 0;
  ASSERT_EQ(AdsCreateSQLStatement(connection_, &other), 0u);
  EXPECT_EQ(AdsPrepareSQL(other, "select count(*) AS N from employee"), AE_KDX_TABLE_PASSWORD_MISSING);
  EXPECT_EQ(AdsCloseSQLStatement(other), 0u);
}

// ---- dictionaries ---------------------------------------------------------------------

class SqlDictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.File("HR.add");
    ASSERT_TRUE(Succeeds(CreateDictionary(path_)));
    ASSERT_TRUE(Succeeds(AddDictionaryUser(path_, "GLOVERUN4", "BRISKOLDENT")));
    RunSql(path_,
           "CREATE TABLE EMP_CLD(EMP_CODE CHAR(10), CLD_DATE DATE);"
           "CREATE INDEX \"EMP_CLD.PRIMARY\" ON EMP_CLD(EMP_CODE, CLD_DATE);"
           "INSERT INTO EMP_CLD VALUES('E1','2010-03-08'),('E1','2010-03-09'),('E2','2010-03-08');");
    ASSERT_EQ(AdsConnect60(path_, ADS_LOCAL_SERVER, "gloverun4", "BRISKOLDENT", 0, &connection_), 0u)
        << LastErrorText();
    ASSERT_EQ(AdsCreateSQLStatement(connection_, &statement_), 0u);
  }
  void TearDown() override {
    if (connection_ != 0) {
      EXPECT_EQ(AdsDisconnect(connection_), 0u);
    }
  }

  ScratchFolder folder_;
  std::string path_;
  ADSHANDLE connection_ = 0;
  ADSHANDLE statement_ = 0;
};

TEST_F(SqlDictionaryTest, TablesOfTheDictionaryWithTheirIndexes) {
  ASSERT_EQ(AdsPrepareSQL(statement_, "select * from emp_cld where CLD_DATE = :d"), 0u) << LastErrorText();
  ASSERT_EQ(AdsSetJulian(statement_, 1, Julian(2010, 3, 8)), 0u) << LastErrorText();
  ADSHANDLE cursor = 0;
  ASSERT_EQ(AdsExecuteSQL(statement_, &cursor), 0u) << LastErrorText();
  UNSIGNED32 count = 0;
  EXPECT_EQ(AdsGetRecordCount(cursor, 0, &count), 0u) << LastErrorText();
  EXPECT_EQ(count, 2u);
  ADSHANDLE order = 0;
  EXPECT_EQ(AdsGetIndexHandle(cursor, "PRIMARY", &order), 0u) << LastErrorText();
  EXPECT_EQ(AdsCloseTable(cursor), 0u);
}

TEST_F(SqlDictionaryTest, MissingTableAnswers5132) {
  EXPECT_EQ(AdsPrepareSQL(statement_, "select * from NOSUCH"), AE_TABLE_NOT_IN_DICTIONARY);
  EXPECT_NE(LastErrorText().find("NOSUCH"), std::string::npos);
}

TEST_F(SqlDictionaryTest, AccountTableIsNotReadableThroughSql) {
  EXPECT_NE(AdsPrepareSQL(statement_, "select hash from __users"), 0u);
  EXPECT_NE(AdsPrepareSQL(statement_, "delete from __users"), 0u);
  EXPECT_EQ(FileRows(path_, "SELECT count(*) FROM __users"), V{"1"});
}

TEST_F(SqlDictionaryTest, WrongLoginGivesNoConnection) {
  ADSHANDLE other = 0;
  EXPECT_EQ(AdsConnect60(path_, ADS_LOCAL_SERVER, "GLOVERUN4", "Xq9-secret", 0, &other), AE_KDX_LOGIN_FAILED);
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(LastErrorText().find("Xq9-secret"), std::string::npos) << LastErrorText();
  EXPECT_NE(LastErrorText().find("HR.add"), std::string::npos) << LastErrorText();
  EXPECT_NE(AdsConnect60(path_, ADS_LOCAL_SERVER, "NOBODY", "BRISKOLDENT", 0, &other), 0u);
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(LastErrorText().find("BRISKOLDENT"), std::string::npos) << LastErrorText();
}

}  // namespace
