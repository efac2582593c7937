// Queries: the statement text and its parameter list, binding by position,
// the statement handle kept across reopening with its table passwords, and
// statements that give no cursor.
#include "data_test_support.h"
#include "engine/storage.h"
#include "util/date_time.h"
#include "tests/support/status_assertions.h"

namespace {

using data_test::DataFixture;
using data_test::Form;
using data_test::MessageOf;

std::vector<std::string> Names(TAdsQuery* query) {
  std::vector<std::string> names;
  for (const TParam& p : query->Params()) names.push_back(p.Name());
  return names;
}

class QueryTest : public DataFixture {
 protected:
  void SetUp() override {
    MakeTable("EMPLEAVE",
              "EMP_NO CHAR(10), LEAVE_CODE CHAR(4), APPROVED_DATE DATE, MODIFIED_DATE DATE, DAYS NUMERIC(6,2)",
              "INSERT INTO EMPLEAVE VALUES('E1','AL','2010-03-08','2010-03-08',2);"
              "INSERT INTO EMPLEAVE VALUES('E2','AL','2010-03-09','2010-03-09',1.5);"
              "INSERT INTO EMPLEAVE VALUES('E3','SL','2010-03-08','2010-03-10',3);");
    MakeTable("EXPORT", "SECTION CHAR(10), \"NO\" INTEGER, FIELD CHAR(20)",
              "CREATE INDEX BYSECTION ON EXPORT(SECTION, \"NO\");"
              "INSERT INTO EXPORT VALUES('KDX',2,'NAME');"
              "INSERT INTO EXPORT VALUES('KDX',1,'EMP_NO');"
              "INSERT INTO EXPORT VALUES('OTHER',1,'X');");
    query_ = NewQuery("AdsQuerySource");
  }
  std::vector<std::string> Column(const std::string& name) {
    std::vector<std::string> values;
    for (; !query_->AtEof(); query_->GoNext()) values.push_back(query_->ColumnByName(name).ReadText());
    return values;
  }
  TAdsQuery* query_ = nullptr;
};

class ParameterScanTest : public QueryTest {};

TEST_F(ParameterScanTest, EachOccurrenceIsItsOwnEntry) {
  query_->AddSqlLine(
      "select * from EMPLEAVE where (APPROVED_DATE>=:date1 and APPROVED_DATE<=:date2) or "
      "(MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2)");
  EXPECT_EQ(Names(query_), (std::vector<std::string>{"date1", "date2", "date1", "date2"}));
  EXPECT_EQ(&query_->ParamNamed("DATE1"), &query_->Params()[0]);
  EXPECT_EQ(&query_->ParamNamed("date2"), &query_->Params()[1]);
}

TEST_F(ParameterScanTest, NameAtTheEndBeforeAParenthesisAndInsideLiterals) {
  query_->AddSqlLine("select * from EXPORT where SECTION=:section");
  EXPECT_EQ(Names(query_), (std::vector<std::string>{"section"}));
  query_->SetSqlText("select * from EXPORT where (SECTION=:s)\r\nand FIELD <> ':notme' and \"NO\"=:n,:m;:k");
  EXPECT_EQ(Names(query_), (std::vector<std::string>{"s", "n", "m", "k"}));
  EXPECT_EQ(query_->SqlLines().size(), 2u);
  EXPECT_EQ(query_->SqlText(), "select * from EXPORT where (SECTION=:s)\r\nand FIELD <> ':notme' and \"NO\"=:n,:m;:k");
  query_->SetSqlText("select a::int from T where x=:\"quoted name\"");
  EXPECT_EQ(Names(query_), (std::vector<std::string>{"quoted name"}));
}

TEST_F(ParameterScanTest, RebuiltListKeepsTheFirstPreviousValueOfAName) {
  query_->AddSqlLine("select * from EMPLEAVE where EMP_NO=:emp");
  query_->ParamNamed("emp").BindText("E2");
  query_->AddSqlLine("or EMP_NO=:emp or LEAVE_CODE=:code");
  ASSERT_EQ(Names(query_), (std::vector<std::string>{"emp", "emp", "code"}));
  EXPECT_EQ(query_->Params()[1].Text(), "E2");
  EXPECT_EQ(query_->Params()[1].DataType(), TFieldType::ftString);
  EXPECT_TRUE(query_->Params()[2].IsEmpty());
  EXPECT_EQ(query_->Params()[2].DataType(), TFieldType::ftUnknown);
  // Emptying the text first gives fresh, empty entries.
  query_->ClearSql();
  EXPECT_TRUE(query_->Params().empty());
  query_->AddSqlLine("select * from EMPLEAVE where EMP_NO=:emp");
  EXPECT_TRUE(query_->Params()[0].IsEmpty());
}

TEST_F(ParameterScanTest, StoredDescriptionIsNotScanned) {
  query_->LoadStored({"select * from EXPORT where SECTION=:section"},
                     {MakeStoredParam("section", TFieldType::ftString)});
  ASSERT_EQ(query_->Params().size(), 1u);
  EXPECT_EQ(query_->Params()[0].DataType(), TFieldType::ftString);
  query_->ParamNamed("section").BindText("KDX");
  query_->OpenDataSet();
  EXPECT_EQ(Column("FIELD").size(), 2u);
}

TEST_F(ParameterScanTest, ChangingTheTextClosesTheQuery) {
  query_->AddSqlLine("select * from EXPORT");
  query_->OpenDataSet();
  query_->AddSqlLine("where SECTION='KDX'");
  EXPECT_FALSE(query_->IsActive());
  query_->OpenDataSet();
  EXPECT_EQ(Column("FIELD").size(), 2u);
}

class QueryRunTest : public QueryTest {};

TEST_F(QueryRunTest, RebindingAClosedQueryRunsTheNewValue) {
  query_->AddSqlLine("select * from EMPLEAVE where EMP_NO=:emp");
  query_->ParamNamed("emp").BindText("E1");
  query_->OpenDataSet();
  EXPECT_EQ(Column("LEAVE_CODE"), (std::vector<std::string>{"AL"}));
  query_->CloseDataSet();
  query_->ParamNamed("emp").BindText("E3");
  query_->OpenDataSet();
  EXPECT_EQ(Column("LEAVE_CODE"), (std::vector<std::string>{"SL"}));
}

TEST_F(QueryRunTest, DateTimeParametersAgainstDateColumns) {
  query_->AddSqlLine(
      "select * from EMPLEAVE where (APPROVED_DATE>=:date1 and APPROVED_DATE<=:date2) or "
      "(MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2) order by EMP_NO");
  const double run = EncodeDate(2010, 3, 10) + EncodeTime(9, 41, 7, 0);
  query_->ParamNamed("date1").BindDateTime(run);
  query_->ParamNamed("date2").BindDateTime(run);
  query_->OpenDataSet();
  // ParamNamed reaches only the first date1 and date2; entries 3 and 4 stay
  // empty and match nothing, and no approval falls on the run's day.
  EXPECT_EQ(Column("EMP_NO"), (std::vector<std::string>{}));
  query_->CloseDataSet();
  query_->Params()[2].BindDateTime(run);
  query_->Params()[3].BindDateTime(run);
  query_->OpenDataSet();
  EXPECT_EQ(Column("EMP_NO"), (std::vector<std::string>{"E3"}));
}

TEST_F(QueryRunTest, DateFloatAndTextBindings) {
  query_->AddSqlLine("select * from EMPLEAVE where APPROVED_DATE=:d and DAYS=:n and LEAVE_CODE=:c");
  query_->ParamNamed("d").BindDate(EncodeDate(2010, 3, 9));
  query_->ParamNamed("n").BindFloat(1.5);
  query_->ParamNamed("c").BindText("AL");
  query_->OpenDataSet();
  EXPECT_EQ(Column("EMP_NO"), (std::vector<std::string>{"E2"}));
  query_->CloseDataSet();
  query_->ParamNamed("n").BindFloat(2);
  query_->OpenDataSet();
  EXPECT_EQ(Column("EMP_NO"), (std::vector<std::string>{}));
}

TEST_F(QueryRunTest, CursorOrderedThroughAnIndexOfItsSourceTable) {
  query_->AddSqlLine("select * from export where section=:section");
  query_->SetIndexFieldNames("SECTION;NO");
  query_->ParamNamed("section").BindText("KDX");
  query_->OpenDataSet();
  EXPECT_EQ(Column("FIELD"), (std::vector<std::string>{"EMP_NO", "NAME"}));
}

TEST_F(QueryRunTest, EmptyResultReadsEmpty) {
  query_->AddSqlLine("select * from EMPLEAVE where EMP_NO=:emp");
  query_->ParamNamed("emp").BindText("NOBODY");
  query_->OpenDataSet();
  EXPECT_TRUE(query_->AtEof());
  EXPECT_EQ(query_->ColumnByName("EMP_NO").ReadText(), "");
  EXPECT_EQ(query_->ColumnByName("APPROVED_DATE").ReadDateTime(), 0);
}

// The database is only ever read: a writing statement is refused by the
// engine before it can change a table.
TEST_F(QueryRunTest, UpdateStatementIsRefused) {
  query_->AddSqlLine("update EMPLEAVE set DAYS=DAYS where EMP_NO='NOBODY'");
  const std::string message = MessageOf<EADSDatabaseError>([&] { query_->OpenDataSet(); });
  EXPECT_NE(message.find("attempt to write a readonly database"), std::string::npos) << message;
  EXPECT_FALSE(query_->IsActive());
}

TEST_F(QueryRunTest, UnknownAndUnsupportedParameterTypes) {
  query_->AddSqlLine("select * from EMPLEAVE where EMP_NO=:emp");
  query_->OpenDataSet();  // an empty parameter binds as empty
  EXPECT_TRUE(query_->AtEof());
  query_->CloseDataSet();
  query_->ParamNamed("emp").BindText("E1");
  query_->ParamNamed("emp").SetType(TFieldType::ftUnknown);
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { query_->OpenDataSet(); }),
            "AdsQuerySource: The field named: 'emp' has the DataType of ftUnknown, which is invalid.");
  query_->ParamNamed("emp").SetType(TFieldType::ftCursor);
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { query_->OpenDataSet(); }),
            "AdsQuerySource: The field named: 'emp' has a DataType that is not supported.");
}

TEST_F(QueryRunTest, BadStatementNamesTheQuery) {
  query_->AddSqlLine("select * from NO_SUCH_TABLE");
  try {
    query_->OpenDataSet();
    FAIL() << "no error";
  } catch (const EADSDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("AdsQuerySource: ", 0), 0u) << e.what();
    EXPECT_NE(std::string(e.what()).find("NO_SUCH_TABLE"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(query_->IsActive());
}

// A failed execution whose text carries 7209 releases the statement; any
// other failure keeps it. (An engine failure quotes the statement, so an
// execution that fails at run time with 7209 in its text shows the rule.)
TEST_F(QueryRunTest, FailureNamingCode7209ReleasesTheStatementOthersKeepIt) {
  query_->AddSqlLine("select NO_SUCH_COLUMN from EMPLEAVE");
  EXPECT_THROW(query_->OpenDataSet(), EADSDatabaseError);
  const ADSHANDLE kept = query_->StatementHandle();
  ASSERT_NE(kept, 0u);
  UNSIGNED16 type = 0;
  EXPECT_EQ(AdsGetHandleType(kept, &type), 0u);

  query_->ClearSql();
  query_->AddSqlLine("select abs(-9223372036854775808) as OVERFLOW_7209 from EMPLEAVE");
  EXPECT_EQ(query_->StatementHandle(), kept);
  try {
    query_->OpenDataSet();
    FAIL() << "no error";
  } catch (const EADSDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("7209"), std::string::npos) << e.what();
  }
  EXPECT_EQ(query_->StatementHandle(), 0u);
  EXPECT_NE(AdsGetHandleType(kept, &type), 0u);

  query_->ClearSql();
  query_->AddSqlLine("select EMP_NO from EMPLEAVE where LEAVE_CODE = 'SL'");
  query_->OpenDataSet();
  EXPECT_NE(query_->StatementHandle(), 0u);
  EXPECT_EQ(Column("EMP_NO"), (std::vector<std::string>{"E3"}));
}

TEST_F(QueryRunTest, ChangedDatabaseNameRunsOnTheNewConnection) {
  data_test::ScratchFolder other;
  data_test::ExecOnFile(other.File("EMPLEAVE.adt"),
                        "CREATE TABLE EMPLEAVE (EMP_NO CHAR(10), LEAVE_CODE CHAR(4));"
                        "INSERT INTO EMPLEAVE VALUES('X9','ML');");
  auto* second = new TAdsConnection(form_.get(), "AdsConnection2");
  second->SetConnectPath(other.Path());
  second->SetAdsServerTypes({TAdsServerType::stADS_LOCAL});
  query_->AddSqlLine("select * from EMPLEAVE order by EMP_NO");
  query_->OpenDataSet();
  EXPECT_EQ(query_->ColumnByName("EMP_NO").ReadText(), "E1");
  query_->CloseDataSet();
  // The statement kept from the first open belongs to AdsConnection1.
  query_->SetDatabaseName("AdsConnection2");
  query_->OpenDataSet();
  EXPECT_EQ(Column("EMP_NO"), (std::vector<std::string>{"X9"}));
}

class TablePasswordTest : public QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    MakeTable("employee", "EMP_NO CHAR(10), NAME CHAR(20)",
              "CREATE INDEX BYEMP ON employee(EMP_NO);"
              "INSERT INTO employee VALUES('E1','Ann');INSERT INTO employee VALUES('E2','Bob');");
    ASSERT_TRUE(Succeeds(SealFile(folder_.File("employee.adt"), "VARDE5816")));
  }
};

TEST_F(TablePasswordTest, PasswordSetBeforeTheFirstOpenSurvivesReopening) {
  query_->AddSqlLine("select * from employee where EMP_NO=:emp");
  query_->SetTablePassword("employee", "VARDE5816");
  query_->ParamNamed("emp").BindText("E1");
  query_->OpenDataSet();
  EXPECT_EQ(Column("NAME"), (std::vector<std::string>{"Ann"}));
  query_->CloseDataSet();
  query_->ParamNamed("emp").BindText("E2");
  query_->OpenDataSet();
  EXPECT_EQ(Column("NAME"), (std::vector<std::string>{"Bob"}));
}

TEST_F(TablePasswordTest, WithoutThePasswordTheStatementFails) {
  query_->AddSqlLine("select * from employee");
  EXPECT_THROW(query_->OpenDataSet(), EADSDatabaseError);
  EXPECT_FALSE(query_->IsActive());
}

TEST_F(TablePasswordTest, BeforeOpenHookGivesThePasswordAfterADisconnect) {
  query_->AddSqlLine("select * from employee");
  int hook_calls = 0;
  query_->BeforeOpen = [&](TAdsDataSet&) {
    ++hook_calls;
    query_->SetTablePassword("employee", "VARDE5816");
  };
  query_->OpenDataSet();
  EXPECT_EQ(Column("NAME").size(), 2u);
  connection_->SetIsConnected(false);  // the statement goes with the connection
  query_->OpenDataSet();
  EXPECT_EQ(Column("NAME").size(), 2u);
  EXPECT_EQ(hook_calls, 2);
}

TEST_F(TablePasswordTest, EncryptedTableOpensAfterItsPassword) {
  TAdsTable* table = NewTable("TableEmpAllowance", "employee.adt", "EMP_NO");
  table->AfterOpen = [&](TAdsDataSet&) { table->EnableEncryption("VARDE5816"); };
  table->OpenDataSet();
  EXPECT_FALSE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("NAME").ReadText(), "Ann");
  ASSERT_TRUE(table->SeekKey({"E2"}));
  EXPECT_EQ(table->ColumnByName("NAME").ReadText(), "Bob");
  // A second call is no failure and keeps the position.
  table->EnableEncryption("VARDE5816");
  EXPECT_EQ(table->ColumnByName("NAME").ReadText(), "Bob");
}

TEST_F(TablePasswordTest, WrongTablePasswordFailsTheOpen) {
  TAdsTable* table = NewTable("TableEmpAllowance", "employee.adt");
  table->AfterOpen = [&](TAdsDataSet&) { table->EnableEncryption("WRONG"); };
  EXPECT_THROW(table->OpenDataSet(), EADSDatabaseError);
  EXPECT_FALSE(table->IsActive());
}

}  // namespace
