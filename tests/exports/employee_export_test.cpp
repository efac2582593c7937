// The employee export run: selection, record layout, the file it leaves in
// every outcome, and what it hands on to the leave-day export.
#include "exports/employee_export.h"

#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

class EmployeeExportTest : public ExportFixture {
 protected:
  void Run() { ExportEmployees(host()); }
  std::string RunError() {
    return ErrorOf([&] { ExportEmployees(host()); });
  }
};

TEST_F(EmployeeExportTest, WorkedRecord) {
  AddEmployee({.emp_no = "E01", .pay_type = "SE", .hrs_work_peryear = 2400});
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = ","});
  AddTemplate({.no = 2, .field_name = "PAY_TYPE", .delimiter = ","});
  AddTemplate({.no = 3, .field_name = "FIXED", .delimiter = "F", .value = "AB", .size = 4});
  AddTemplate({.no = 4, .field_name = "DUMMY", .delimiter = ","});
  Run();
  EXPECT_EQ(EmployeeFile(), "E01,M,AB  \r\n");
  EXPECT_EQ(state().FieldSeparator, ",");
  EXPECT_EQ(state().AsOfDate, RunMoment());
}

TEST_F(EmployeeExportTest, TemplateRowsFollowNoNotInsertionOrder) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 20, .field_name = "FIXED", .delimiter = "|", .value = "second"});
  AddTemplate({.no = 3, .field_name = "FIXED", .delimiter = ";", .value = "first"});
  AddTemplate({.no = 7, .field_name = "FIXED", .delimiter = ",", .value = "other", .section = "XYZ"});
  Run();
  EXPECT_EQ(EmployeeFile(), "first;second|\r\n");
  EXPECT_EQ(state().FieldSeparator, ";");
}

TEST_F(EmployeeExportTest, EmptyTemplateSectionGivesEmptyLines) {
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  AddTemplate({.no = 1, .field_name = "emp_no", .section = "OTHER"});
  state().FieldSeparator = "stale";
  Run();
  EXPECT_EQ(EmployeeFile(), "\r\n\r\n");
  EXPECT_EQ(state().FieldSeparator, "");
}

TEST_F(EmployeeExportTest, NoEmployeeGivesZeroByteFile) {
  AddTemplate({.no = 1, .field_name = "emp_no"});
  // A file of an earlier run is replaced.
  { std::ofstream(state().EmployeePath) << "old content\r\n"; }
  Run();
  ASSERT_TRUE(Exists(state().EmployeePath));
  EXPECT_EQ(EmployeeFile(), "");
  EXPECT_FALSE(host().Output().IsOpen());
}

TEST_F(EmployeeExportTest, SelectsByTerminationDateAgainstFirstOfMonth) {
  AddEmployee({.emp_no = "IN_FIRST", .termination_date = "2010-06-01"});
  AddEmployee({.emp_no = "OUT_LAST", .termination_date = "2010-05-31"});
  AddEmployee({.emp_no = "NONE_SET"});
  AddEmployee({.emp_no = "LATER", .termination_date = "2011-01-31"});
  TemplateOf("emp_no");
  Run();
  EXPECT_EQ(EmployeeFile(), "IN_FIRST,\r\nNONE_SET,\r\nLATER,\r\n");
}

TEST_F(EmployeeExportTest, FirstRowDelimiterBecomesFieldSeparator) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = "|"});
  AddTemplate({.no = 2, .field_name = "emp_no", .delimiter = ","});
  Run();
  EXPECT_EQ(state().FieldSeparator, "|");
  EXPECT_EQ(EmployeeFile(), "E01|E01,\r\n");
}

TEST_F(EmployeeExportTest, FixedWidthFirstRowMakesSeparatorF) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = "F", .size = 6});
  Run();
  EXPECT_EQ(state().FieldSeparator, "F");
  EXPECT_EQ(EmployeeFile(), "E01   \r\n");
}

TEST_F(EmployeeExportTest, AFixedWidthCutNeverSplitsAUtf8Character) {
  AddEmployee({.emp_no = "E01"});
  const struct {
    const char* value;
    int size;
    const char* field;
  } cases[] = {
      {"Abc\xC3\x84", 4, "Abc "},              // the 2-byte \xC3\x84 would be split: dropped, a blank instead
      {"Ab\xE2\x82\xAC" "x", 4, "Ab  "},          // the 3-byte euro sign
      {"Ab\xE2\x82\xAC" "x", 5, "Ab\xE2\x82\xAC"},  // it fits
      {"A\xF0\x9F\x98\x80", 3, "A  "},         // a 4-byte character
      {"a\x84\x84" "b", 2, "a\x84"},         // no valid UTF-8: cut as bytes
  };
  int no = 0;
  std::string record;
  for (const auto& c : cases) {
    AddTemplate({.no = ++no, .field_name = "FIXED", .delimiter = "F", .value = c.value, .size = c.size});
    record += c.field;
  }
  Run();
  EXPECT_EQ(EmployeeFile(), record + "\r\n");
}

TEST_F(EmployeeExportTest, StatusLineProgressAndMessagesOncePerEmployee) {
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  AddEmployee({.emp_no = "E03"});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "NAME"});
  AddTemplate({.no = 3, .field_name = "PAY_TYPE"});
  Run();
  EXPECT_EQ(host().status_texts(), (std::vector<std::string>{"Export Employee# : E01", "Export Employee# : E02",
                                                              "Export Employee# : E03"}));
  EXPECT_EQ(host().progress_steps(), 3);
  EXPECT_EQ(host().messages_processed(), 3);
  EXPECT_TRUE(host().messages().empty());
}

TEST_F(EmployeeExportTest, MissingMiscRowStopsRunAndLeavesThePreviousFile) {
  { std::ofstream(state().EmployeePath) << "last night\r\n"; }
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  AddEmployee({.emp_no = "E03"});
  AddMisc("E01", "golf");
  AddMisc("E03", "chess");
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "HOBBY", .table = "EMPMISC"});
  EXPECT_EQ(RunError(), "EMPMISC Unable to locate Employee : E02");
  EXPECT_EQ(EmployeeFile(), "last night\r\n");
  EXPECT_EQ(host().status_texts().back(), "Export Employee# : E02");
  EXPECT_FALSE(host().Output().IsOpen());
}

TEST_F(EmployeeExportTest, EveryRecordReadsItsOwnEmployeesMiscAndEmploymentRows) {
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  AddEmployee({.emp_no = "E03"});
  AddMisc("E01", "golf", "100");
  AddMisc("E02", "chess", "200");
  AddMisc("E03", "judo", "300");
  AddEmployment("E01", "HR");
  AddEmployment("E02", "IT");
  AddEmployment("E03", "OPS");
  AddTemplate({.no = 1, .field_name = "HOBBY", .table = "EMPMISC"});
  AddTemplate({.no = 2, .field_name = "DEPT", .table = "EMPLOYMT"});
  AddTemplate({.no = 3, .field_name = "OLD_SALARY", .table = "EMPMISC"});
  AddTemplate({.no = 4, .field_name = "DEPT", .table = "EMPLOYMT"});
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"golf,HR,100,HR,", "chess,IT,200,IT,", "judo,OPS,300,OPS,"}));
}

TEST_F(EmployeeExportTest, MissingEmploymentRowNamesTheEmployee) {
  AddEmployee({.emp_no = "E07"});
  AddTemplate({.no = 1, .field_name = "DEPT", .table = "EMPLOYMT"});
  EXPECT_EQ(RunError(), "EMPLOYMT Unable to locate Employee : E07");
  EXPECT_EQ(EmployeeFile(), "");
}

TEST_F(EmployeeExportTest, MissingColumnStopsAtTheRowThatNeedsIt) {
  AddEmployee({.emp_no = "E01", .pay_type = "D"});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "NO_SUCH_COLUMN"});
  const std::string error = RunError();
  EXPECT_NE(error.find("NO_SUCH_COLUMN"), std::string::npos) << error;
  EXPECT_NE(error.find("AdsQueryEmp"), std::string::npos) << error;
  EXPECT_EQ(EmployeeFile(), "");
}

TEST_F(EmployeeExportTest, SecondRunReplacesTheFile) {
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  TemplateOf("emp_no");
  Run();
  Sql("EMPLOYEE.ADT", "DELETE FROM EMPLOYEE WHERE EMP_NO = 'E02'");
  Run();
  EXPECT_EQ(EmployeeFile(), "E01,\r\n");
}

TEST_F(EmployeeExportTest, CompanyFieldsComeFromLatestYearWhenRunYearIsMissing) {
  AddPara(2008, "Old Co");
  AddPara(2009, "Newer Co");
  AddEmployee({.emp_no = "E01"});
  TemplateOf("COMPANY");
  Run();
  EXPECT_EQ(EmployeeFile(), "Newer Co,\r\n");
}

TEST_F(EmployeeExportTest, CompanyFieldsComeFromRunYear) {
  AddPara(2009, "Co 2009");
  AddPara(2010, "Co 2010");
  AddPara(2011, "Co 2011");
  AddEmployee({.emp_no = "E01"});
  TemplateOf("COMPANY");
  Run();
  EXPECT_EQ(EmployeeFile(), "Co 2010,\r\n");
}

TEST_F(EmployeeExportTest, UnopenablePayrollParametersAreShownAndTheRunGoesOn) {
  std::filesystem::remove(TableFile("PAYPARA1.ADT"));
  AddEmployee({.emp_no = "E01"});
  TemplateOf("emp_no");
  Run();
  EXPECT_EQ(EmployeeFile(), "E01,\r\n");
  ASSERT_EQ(host().messages().size(), 1u);
  const std::string& message = host().messages()[0];
  EXPECT_NE(message.find("AdsTablePara"), std::string::npos) << message;
  const std::string tail = " path " + DbFolder();
  ASSERT_GE(message.size(), tail.size());
  EXPECT_EQ(message.substr(message.size() - tail.size()), tail) << message;
}

TEST_F(EmployeeExportTest, UnopenablePayrollParametersFailAtTheFirstCompanyField) {
  std::filesystem::remove(TableFile("PAYPARA1.ADT"));
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "CADDR1"});
  const std::string error = RunError();
  EXPECT_NE(error.find("CADDR1"), std::string::npos) << error;
  EXPECT_EQ(host().messages().size(), 1u);
  EXPECT_EQ(EmployeeFile(), "");
}

TEST_F(EmployeeExportTest, PayrollParametersWithoutRowsOrColumnAreNamed) {
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  TemplateOf("COMPANY");
  Run();
  EXPECT_EQ(EmployeeFile(), ",\r\n,\r\n");
  EXPECT_EQ(state().Warnings, std::vector<std::string>{"PAYPARA1 has no rows: the company fields (COMPANY, "
                                                       "CADDR1, CADDR2, CADDR3, CPOSTAL_CODE) of every record "
                                                       "are empty"});
  Sql("PAYPARA1.ADT", "DROP TABLE PAYPARA1; CREATE TABLE PAYPARA1 (YEAR INTEGER, CADDR1 CHAR(30));"
                      "CREATE INDEX YEAR ON PAYPARA1(YEAR); INSERT INTO PAYPARA1 VALUES (2010, 'x')");
  TemplateOf("COMPANY");
  EXPECT_EQ(RunError(), "AdsTablePara: Field 'COMPANY' not found in table PAYPARA1");
}

// A CR, LF or NUL in a value would split the record or cut the field: each
// is written as a blank, and the run ends with a warning naming the first.
TEST_F(EmployeeExportTest, ControlCharactersAreWrittenAsBlanksAndWarnedOf) {
  AddPara(2010, "Co");
  AddEmployee({.emp_no = "E01", .name = "plain"});
  AddEmployee({.emp_no = "E02"});
  Sql("EMPLOYEE.ADT", "UPDATE EMPLOYEE SET NAME = 'a' || char(13) || char(10) || 'b,' || char(0) || 'c', "
                      "ADDR1 = char(9) || 'tab' WHERE EMP_NO = 'E02'");
  AddTemplate({.no = 1, .field_name = "NAME", .delimiter = "F", .size = 8});
  AddTemplate({.no = 2, .field_name = "ADDR1", .delimiter = "|"});
  Run();
  EXPECT_EQ(EmployeeFile(), "plain   |\r\na  b c  \ttab|\r\n");
  EXPECT_EQ(state().Warnings,
            std::vector<std::string>{"employee file: 3 control characters (CR, LF, NUL or the like) written as "
                                     "blanks, the first in column NAME of employee E02"});
}

// A number no amount can be fails the run, naming the employee, the table
// and the column, instead of writing INF or a field hundreds of characters
// wide.
TEST_F(EmployeeExportTest, NumbersBeyondAnyAmountNameEmployeeTableAndColumn) {
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  Sql("EMPLOYEE.ADT", "ALTER TABLE EMPLOYEE ADD COLUMN SALARY DOUBLE; UPDATE EMPLOYEE SET SALARY = 2500;"
                      "UPDATE EMPLOYEE SET SALARY = -9e999 WHERE EMP_NO = 'E02'");
  AddAllowance({.emp_no = "E01", .allow_code = "TR", .effdate = "2001-01-01", .amt = 1e15});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "SALARY"});
  EXPECT_EQ(RunError().rfind("Column 'SALARY' of table employee holds ", 0), 0u) << RunError();
  EXPECT_NE(RunError().find(" for employee E02, which is beyond any amount"), std::string::npos) << RunError();
  EXPECT_EQ(EmployeeFile(), "");
  AddTemplate({.no = 3, .field_name = "ALLOW_CODE", .mapfield2 = "TR"});
  EXPECT_EQ(RunError().rfind("Column 'AMT' of table EMP_ALW holds 1", 0), 0u) << RunError();
}

TEST_F(EmployeeExportTest, SizeOutsideByteRangeNamesRowAndValue) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 9, .field_name = "FIXED", .delimiter = "F", .value = "AB", .size = 300});
  EXPECT_EQ(RunError(), "Export template section KDX, row NO 9: size 300 is not a field width of 0 to 255");
  EXPECT_EQ(EmployeeFile(), "");
}

TEST_F(EmployeeExportTest, SizeOfARowFirstNeededByALaterRecordNamesThatRow) {
  AddEmployee({.emp_no = "E01", .tel_ext = 0});
  AddEmployee({.emp_no = "E02", .tel_ext = 55});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 7, .field_name = "TEL_EXT", .delimiter = "F", .size = 256});
  AddTemplate({.no = 8, .field_name = "FIXED", .delimiter = "F", .value = "AB", .size = 2});
  EXPECT_EQ(RunError(), "Export template section KDX, row NO 7: size 256 is not a field width of 0 to 255");
  EXPECT_FALSE(Exists(state().EmployeePath));
}

TEST_F(EmployeeExportTest, NegativeSizeIsRefusedToo) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 4, .field_name = "FIXED", .delimiter = "F", .value = "AB", .size = -1});
  EXPECT_EQ(RunError(), "Export template section KDX, row NO 4: size -1 is not a field width of 0 to 255");
}

TEST_F(EmployeeExportTest, SizeOf255IsAccepted) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "FIXED", .delimiter = "F", .value = "AB", .size = 255});
  Run();
  EXPECT_EQ(EmployeeFile(), "AB" + std::string(253, ' ') + "\r\n");
}

TEST_F(EmployeeExportTest, HourlyConversionWithoutHoursStopsWithDivisionByZero) {
  AddEmployee({.emp_no = "E01", .pay_type = "M"});
  AddEmployee({.emp_no = "E02", .pay_type = "SE", .hrs_work_peryear = 0});
  AddCareer({.emp_code = "E02", .pay_effective_date = "2010-01-01", .new_salary = 3000});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "NEW_SALARY"});
  EXPECT_EQ(RunError(), "Floating point division by zero");
  EXPECT_FALSE(Exists(state().EmployeePath));
}

TEST_F(EmployeeExportTest, HourlyConversionWithEmptyHoursStopsToo) {
  AddEmployee({.emp_no = "E02", .pay_type = "SN"});
  AddTemplate({.no = 1, .field_name = "OLD_SALARY"});
  EXPECT_EQ(RunError(), "Floating point division by zero");
}

TEST_F(EmployeeExportTest, WriteFailureAtCloseReportsDiskFullAndLeavesThePreviousFile) {
  { std::ofstream(state().EmployeePath) << "last night\r\n"; }
  AddEmployee({.emp_no = "E01"});
  AddEmployee({.emp_no = "E02"});
  TemplateOf("emp_no");
  host().file_system().FailWritesFrom(1);
  EXPECT_EQ(RunError(), "Disk full: '" + state().EmployeePath + "' (EMPLOYEE_PATH)");
  EXPECT_FALSE(host().Output().IsOpen());
  EXPECT_EQ(EmployeeFile(), "last night\r\n");
}

TEST_F(EmployeeExportTest, UnwritableEmployeePathIsAFileError) {
  AddEmployee({.emp_no = "E01"});
  TemplateOf("emp_no");
  state().EmployeePath = Root() + "/missing-folder/employee.txt";
  EXPECT_EQ(RunError(), "Invalid filename: '" + state().EmployeePath + "' (EMPLOYEE_PATH)");
}

}  // namespace
}  // namespace export_test
