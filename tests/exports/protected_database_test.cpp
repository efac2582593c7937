// The unattended run against the two protected forms of an HR database: a
// folder whose password-carrying tables are sealed with the table password,
// and a data dictionary reached with the fixed account.
#include <string>

#include "engine/storage.h"
#include "exports/employee_export.h"
#include "exports/leave_csv.h"
#include "exports/leave_days.h"
#include "tests/exports/export_fixture.h"
#include "tests/support/status_assertions.h"

namespace export_test {
namespace {

constexpr char kExpectedEmployees[] = "E01|ACME|100.00|50.00|SALES|golf|\r\nE02|ACME|15.00|0.00|HR|chess|\r\n";
constexpr char kExpectedLeave[] = "E01|AL|14/06/2010|1.00|Z|AM|note\r\n";

class ProtectedDatabaseTest : public ExportFixture {
 protected:
  // Data touching every password-carrying table: the employee statement, the
  // career table, the allowances, the payroll parameters, EMPLOYMT and
  // EMPMISC, and the leave statement that joins the employee table.
  void AddData() {
    AddEmployee({.emp_no = "E01", .pay_type = "D"});
    AddEmployee({.emp_no = "E02", .pay_type = "SE", .hrs_work_peryear = 2400});
    AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = "|"});
    AddTemplate({.no = 2, .field_name = "COMPANY", .delimiter = "|"});
    AddTemplate({.no = 3, .field_name = "NEW_SALARY", .delimiter = "|"});
    AddTemplate({.no = 4, .field_name = "ALLOW_CODE", .delimiter = "|", .mapfield2 = "TRANS"});
    AddTemplate({.no = 5, .field_name = "DEPT", .delimiter = "|", .table = "EMPLOYMT"});
    AddTemplate({.no = 6, .field_name = "HOBBY", .delimiter = "|", .table = "EMPMISC"});
    AddPara(2010, "ACME");
    AddCareer({.emp_code = "E01", .pay_effective_date = "2010-01-01", .new_salary = 800});
    AddCareer({.emp_code = "E02", .pay_effective_date = "2010-01-01", .new_salary = 3000});
    AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .effdate = "2010-01-01", .amt = 50});
    AddEmployment("E01", "SALES");
    AddEmployment("E02", "HR");
    AddMisc("E01", "golf");
    AddMisc("E02", "chess");
    AddLeave({.empcode = "E01", .id = 1, .start_date = "2010-06-14", .end_date = "2010-06-14", .day = 1,
              .ampm = "AM", .modified_date = "2010-06-15", .remark1 = "note"});
  }
  void RunBoth() {
    ExportEmployees(host());
    ExportLeaveDays(host());
  }
};

class SealedTablesTest : public ProtectedDatabaseTest {};

TEST_F(SealedTablesTest, RunReadsSealedTablesWithTheTablePassword) {
  AddData();
  for (const char* file : {"EMPLOYEE.ADT", "EMP_PROS.ADT", "EMP_ALW.ADT", "PAYPARA1.ADT", "EMPLOYMT.ADT",
                           "EMPMISC.ADT"}) {
    ASSERT_TRUE(Succeeds(SealFile(TableFile(file), kTablePassword))) << file;
  }
  RunBoth();
  EXPECT_EQ(EmployeeFile(), kExpectedEmployees);
  EXPECT_EQ(LeaveFile(), kExpectedLeave);
  EXPECT_TRUE(host().messages().empty());
}

TEST_F(SealedTablesTest, TableSealedWithAnotherPasswordStopsTheRun) {
  AddData();
  ASSERT_TRUE(Succeeds(SealFile(TableFile("EMPMISC.ADT"), "OTHER0000")));
  const std::string message = ErrorOf([&] { RunBoth(); });
  EXPECT_NE(message.find("AdsTableMisc"), std::string::npos) << message;
  EXPECT_EQ(EmployeeFile(), "");
}

class DictionaryTest : public ProtectedDatabaseTest {
 protected:
  DictionaryTest() { use_dictionary_ = true; }
};

TEST_F(DictionaryTest, RunLogsInWithTheFixedAccount) {
  AddData();
  RunBoth();
  EXPECT_EQ(EmployeeFile(), kExpectedEmployees);
  EXPECT_EQ(LeaveFile(), kExpectedLeave);
  EXPECT_TRUE(host().messages().empty());
  EXPECT_TRUE(host().Components().AdsConnection1->IsDictionaryConnection());
}

TEST_F(DictionaryTest, LeaveCsvRunsOnTheDictionary) {
  AddData();
  AddCode("LEA", "AL", "Annual", "A01", "Annual leave");
  Sql("EMPLEAVE.ADT", "UPDATE EMPLEAVE SET APPROVED_DATE = '2010-06-15'");
  state().LeavePath = OutFolder() + "/";
  EXPECT_TRUE(ExportLeaveCsv(host())) << (host().messages().empty() ? "" : host().messages()[0]);
  EXPECT_EQ(ReadBytes(OutFolder() + "/LVDATA15062010.CSV"),
            "EMP_NO,LVCODE,DESC,ENTRY_DATE,START_DATE,END_DATE,DAY,AMPM,TIMEIN,TIMEOUT,APPROVED\r\n"
            "E01,A01,Annual leave,20100615,20100614,20100614,1.00,,,,Y\r\n");
}

}  // namespace
}  // namespace export_test
