// The table password and the connection credentials, checked against real
// sealed tables: a sealed table opened without its password shows no
// records, and a statement reading a sealed table without it fails.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/connection.h"
#include "data/query.h"
#include "data/table.h"
#include "tests/app/window_fixture.h"
#include "tests/support/status_assertions.h"

namespace app_test {
namespace {

class HooksTest : public WindowFixture {
 protected:
  // A sealed site at `folder`, the run state pointed at it, the connection
  // prepared as a run prepares it.
  void PrepareSite(const std::string& folder) {
    MakeSite(2, folder);
    form().State().SourcePath = scratch_.Sub(folder);
    form().PrepareConnection();
  }
  static bool HasRecords(TAdsDataSet& dataset) {
    dataset.CloseDataSet();
    dataset.OpenDataSet();
    return !dataset.AtEof();
  }
  void OpenEmployeeQuery() {
    TAdsQuery& emp = *form().Components().AdsQueryEmp;
    emp.CloseDataSet();
    emp.ClearSql();
    emp.AddSqlLine("select * from employee");
    emp.OpenDataSet();
  }
};

TEST_F(HooksTest, OnAFolderTheHookedTablesGetTheTablePassword) {
  PrepareSite("db");
  ASSERT_TRUE(HasRecords(*form().Components().CareerTable));
  EXPECT_EQ(form().Components().CareerTable->ColumnByName("EMP_CODE").ReadText(), "E00001");
  ASSERT_TRUE(HasRecords(*form().Components().TableEmpAllowance));
  EXPECT_EQ(form().Components().TableEmpAllowance->ColumnByName("ALLOW_CODE").ReadText(), "TRANS");
  ASSERT_TRUE(HasRecords(*form().Components().AdsTablePara));
  EXPECT_EQ(form().Components().AdsTablePara->ColumnByName("COMPANY").ReadText(), "ACME");
}

TEST_F(HooksTest, OnAFolderTheEmployeeStatementGetsTheTablePasswordAtEveryOpen) {
  PrepareSite("db");
  OpenEmployeeQuery();
  ASSERT_FALSE(form().Components().AdsQueryEmp->AtEof());
  EXPECT_EQ(form().Components().AdsQueryEmp->ColumnByName("EMP_NO").ReadText(), "E00001");
  // A new connection (and so a new statement) gets the password again.
  form().PrepareConnection();
  OpenEmployeeQuery();
  EXPECT_FALSE(form().Components().AdsQueryEmp->AtEof());
}

TEST_F(HooksTest, TablesReopenedGetThePasswordAgain) {
  PrepareSite("db");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(HasRecords(*form().Components().TableEmpAllowance)) << i;
}

TEST_F(HooksTest, TheWindowHandsNoPasswordToTheOtherDatasets) {
  PrepareSite("db");
  // EMPLOYMT and EMPMISC get theirs from the employee export itself, right
  // after it opens them; the window's hooks leave them alone.
  EXPECT_FALSE(HasRecords(*form().Components().EmploymentTable));
  EXPECT_FALSE(HasRecords(*form().Components().AdsTableMisc));
  form().Components().EmploymentTable->EnableEncryption("VARDE5816");
  EXPECT_FALSE(form().Components().EmploymentTable->AtEof());
}

TEST_F(HooksTest, ADictionaryConnectionGetsNoTablePassword) {
  // On a dictionary the hooks apply nothing, so the sealed free tables beside
  // it stay closed. A folder whose name merely holds ".ADD" is a folder.
  PrepareSite("HR.ADDONS");
  ASSERT_FALSE(form().Components().AdsConnection1->IsDictionaryConnection());
  const std::string dictionary = scratch_.Sub("HR.ADDONS") + "/hr.add";
  ASSERT_TRUE(Succeeds(CreateDictionary(dictionary)));
  ASSERT_TRUE(Succeeds(AddDictionaryUser(dictionary, kDictionaryUsername, kDictionaryPassword)));
  form().State().SourcePath = dictionary;
  form().PrepareConnection();
  ASSERT_TRUE(form().Components().AdsConnection1->IsDictionaryConnection());
  EXPECT_FALSE(HasRecords(*form().Components().CareerTable));
  EXPECT_FALSE(HasRecords(*form().Components().TableEmpAllowance));
  EXPECT_FALSE(HasRecords(*form().Components().AdsTablePara));
  EXPECT_THROW(OpenEmployeeQuery(), Exception);
}

// ---- PrepareConnection ------------------------------------------------------------------------------

class PrepareConnectionTest : public HooksTest {};

TEST_F(PrepareConnectionTest, SetsPathAndTheFixedCredentialsWithoutConnecting) {
  form().State().SourcePath = "/no/such/folder";
  form().PrepareConnection();
  const TAdsConnection& c = *form().Components().AdsConnection1;
  EXPECT_EQ(c.ConnectPath(), "/no/such/folder");
  EXPECT_EQ(c.Username(), "GLOVERUN4");
  EXPECT_EQ(c.Password(), "BRISKOLDENT");
  EXPECT_FALSE(c.IsConnected());
}

TEST_F(PrepareConnectionTest, OnAConnectedConnectionClosesItsDatasetsAndMovesToTheNewPath) {
  PrepareSite("db");
  ASSERT_TRUE(HasRecords(*form().Components().AdsTablePara));
  ASSERT_TRUE(HasRecords(*form().Components().TableEmpAllowance));
  ASSERT_TRUE(form().Components().AdsConnection1->IsConnected());

  // A second site whose payroll company differs.
  HrDatabase other(scratch_.Sub("other"));
  other.CreateTables();
  other.Sql("PAYPARA1.ADT", "INSERT INTO PAYPARA1 VALUES (2010,'OTHER CO','','','','')");
  form().State().SourcePath = other.Folder();
  form().PrepareConnection();
  EXPECT_FALSE(form().Components().AdsConnection1->IsConnected());
  EXPECT_FALSE(form().Components().AdsTablePara->IsActive());
  EXPECT_FALSE(form().Components().TableEmpAllowance->IsActive());
  EXPECT_EQ(form().Components().AdsConnection1->ConnectPath(), other.Folder());

  // The next open connects on demand, to the new path.
  ASSERT_TRUE(HasRecords(*form().Components().AdsTablePara));
  EXPECT_EQ(form().Components().AdsTablePara->ColumnByName("COMPANY").ReadText(), "OTHER CO");
  EXPECT_TRUE(form().Components().AdsConnection1->IsConnected());
}

}  // namespace
}  // namespace app_test
