// The field kinds of a template row and their order of precedence, and the
// layout of a value as a delimited or fixed-width field, checked through the
// records the run writes.
#include "exports/employee_export.h"

#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

class TemplateFieldTest : public ExportFixture {
 protected:
  void Run() { ExportEmployees(host()); }
  std::string RunError() {
    return ErrorOf([&] { ExportEmployees(host()); });
  }
};

TEST_F(TemplateFieldTest, DummyAddsNothingNotEvenASeparator) {
  AddEmployee({.emp_no = "E01", .name = "Tan Ah Kow"});
  AddTemplate({.no = 1, .field_name = "DUMMY", .delimiter = "|"});
  AddTemplate({.no = 2, .field_name = "FIXED", .delimiter = "|", .value = "X"});
  AddTemplate({.no = 3, .field_name = "NAME", .delimiter = "|"});
  Run();
  EXPECT_EQ(EmployeeFile(), "X|Tan Ah Kow|\r\n");
}

TEST_F(TemplateFieldTest, CompanyFieldIsQuotedWhileEmployeeColumnLosesItsComma) {
  AddPara(2010, "ACME", "1 Main St, Singapore");
  AddEmployee({.emp_no = "E01", .addr1 = "1 Main St, Singapore"});
  AddTemplate({.no = 1, .field_name = "CADDR1", .delimiter = ";"});
  AddTemplate({.no = 2, .field_name = "ADDR1", .delimiter = ";"});
  AddTemplate({.no = 3, .field_name = "COMPANY", .delimiter = ";"});
  Run();
  EXPECT_EQ(EmployeeFile(), "\"1 Main St, Singapore\";1 Main St Singapore;ACME;\r\n");
}

TEST_F(TemplateFieldTest, ColumnOfOneCommaStaysUnchanged) {
  AddEmployee({.emp_no = "E01", .addr1 = ","});
  AddTemplate({.no = 1, .field_name = "ADDR1", .delimiter = "|"});
  Run();
  EXPECT_EQ(EmployeeFile(), ",|\r\n");
}

TEST_F(TemplateFieldTest, DateIsTheRunMomentInTheRowsFormat) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "DATE", .delimiter = "|", .format = "DDMMYYYY"});
  AddTemplate({.no = 2, .field_name = "DATE", .delimiter = "|", .format = "DD/MM/YYYY HH:NN"});
  Run();
  EXPECT_EQ(EmployeeFile(), "15062010|15/06/2010 10:30|\r\n");
}

TEST_F(TemplateFieldTest, TelephoneExtensionZeroGivesNoField) {
  AddEmployee({.emp_no = "E01", .tel_ext = 0});
  AddEmployee({.emp_no = "E02", .tel_ext = 123});
  AddEmployee({.emp_no = "E03", .tel_ext = 0});
  AddEmployee({.emp_no = "E04", .tel_ext = 7});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  // The first record has no extension: the row's own delimiter must still
  // lay out the later ones.
  AddTemplate({.no = 2, .field_name = "TEL_EXT", .delimiter = "|"});
  AddTemplate({.no = 3, .field_name = "FIXED", .value = "end"});
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"E01,end,", "E02,+65123|end,", "E03,end,", "E04,+657|end,"}));
}

TEST_F(TemplateFieldTest, PayTypesBeginningWithCapitalSAreMonthly) {
  for (const char* pay_type : {"SE", "SN", "S", "D", "H", "", "s"}) {
    AddEmployee({.emp_no = std::string("P") + pay_type, .pay_type = pay_type, .hrs_work_peryear = 2000});
  }
  AddTemplate({.no = 1, .field_name = "PAY_TYPE", .delimiter = ""});
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"M", "M", "M", "D", "D", "D", "D"}));
}

TEST_F(TemplateFieldTest, SocialFieldsAreEmptyButPresent) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "SOC_NO", .delimiter = ";"});
  AddTemplate({.no = 2, .field_name = "SOC_EXPIRY_DATE", .delimiter = ";"});
  AddTemplate({.no = 3, .field_name = "SOC_NO", .delimiter = "F", .size = 3});
  Run();
  EXPECT_EQ(EmployeeFile(), ";;   \r\n");
}

TEST_F(TemplateFieldTest, KeywordWinsOverCategory) {
  AddCode("NAT", "SG", "Singaporean");
  AddEmployee({.emp_no = "E01", .pay_type = "SE", .hrs_work_peryear = 2000, .national_code = "SG"});
  AddTemplate({.no = 1, .field_name = "PAY_TYPE", .category = "NAT"});
  Run();
  EXPECT_EQ(EmployeeFile(), "M,\r\n");
}

TEST_F(TemplateFieldTest, CategoryGivesCodeDescriptionOrNone) {
  AddCode("NAT", "SG", "Singaporean");
  AddCode("NAT", "MY", "Malaysian");
  AddCode("REL", "SG", "Wrong category");
  AddEmployee({.emp_no = "E01", .national_code = "SG"});
  AddEmployee({.emp_no = "E02", .national_code = "ID"});
  AddEmployee({.emp_no = "E03", .national_code = "MY"});
  AddEmployee({.emp_no = "E04", .national_code = "SG"});
  AddEmployee({.emp_no = "E05", .national_code = "ID"});
  AddTemplate({.no = 1, .field_name = "national_code", .category = "NAT"});
  // The same code in another category has its own description.
  AddTemplate({.no = 2, .field_name = "national_code", .category = "REL"});
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"Singaporean,Wrong category,", "NONE,NONE,", "Malaysian,NONE,",
                                  "Singaporean,Wrong category,", "NONE,NONE,"}));
}

TEST_F(TemplateFieldTest, CategoryWinsOverTable) {
  AddCode("NAT", "SG", "Singaporean");
  AddEmployee({.emp_no = "E01", .national_code = "SG"});
  // No EMPMISC row: reading EMPMISC would stop the run.
  AddTemplate({.no = 1, .field_name = "national_code", .table = "EMPMISC", .category = "NAT"});
  Run();
  EXPECT_EQ(EmployeeFile(), "Singaporean,\r\n");
}

TEST_F(TemplateFieldTest, PayEffectiveDateWinsOverTable) {
  AddEmployee({.emp_no = "E01"});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-02-01", .new_salary = 1});
  AddTemplate({.no = 1, .field_name = "PAY_EFFECTIVE_DATE", .table = "EMPMISC"});
  Run();
  EXPECT_EQ(EmployeeFile(), "01/02/2010,\r\n");
}

TEST_F(TemplateFieldTest, TableEmpmiscWinsOverSalaryNames) {
  AddEmployee({.emp_no = "E01", .pay_type = "D"});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-01-01", .old_salary = 800});
  AddMisc("E01", "golf", "misc-old");
  AddTemplate({.no = 1, .field_name = "OLD_SALARY", .table = "EMPMISC"});
  AddTemplate({.no = 2, .field_name = "OLD_SALARY"});
  Run();
  EXPECT_EQ(EmployeeFile(), "misc-old,100.00,\r\n");
}

TEST_F(TemplateFieldTest, EmploymentColumn) {
  AddEmployee({.emp_no = "E01"});
  AddEmployment("E01", "SALES");
  AddTemplate({.no = 1, .field_name = "dept", .table = "EMPLOYMT"});
  Run();
  EXPECT_EQ(EmployeeFile(), "SALES,\r\n");
}

TEST_F(TemplateFieldTest, UnknownFormulaNameGivesEmptyField) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "emp_no", .table = "FORMULA"});
  AddTemplate({.no = 2, .field_name = "FIXED", .value = "x"});
  Run();
  EXPECT_EQ(EmployeeFile(), ",x,\r\n");
}

TEST_F(TemplateFieldTest, LowerCaseKeywordIsAnEmployeeColumn) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "dummy"});
  const std::string error = RunError();
  EXPECT_NE(error.find("Field 'dummy' not found"), std::string::npos) << error;
}

TEST_F(TemplateFieldTest, MissingTemplateColumnIsAColumnError) {
  Sql("EXPORT.ADT", "ALTER TABLE EXPORT DROP COLUMN SIZE");
  AddEmployee({.emp_no = "E01"});
  Sql("EXPORT.ADT", "INSERT INTO EXPORT (SECTION, NO, \"Field Name\", DELIMITER) VALUES ('KDX', 1, 'emp_no', ',')");
  Sql("EXPORT.ADT", "INSERT INTO EXPORT (SECTION, NO, \"Field Name\", DELIMITER) VALUES ('KDX', 2, 'emp_no', 'F')");
  const std::string error = RunError();
  EXPECT_NE(error.find("Field 'size' not found"), std::string::npos) << error;
  EXPECT_EQ(EmployeeFile(), "");
}

// ---- layout -------------------------------------------------------------------

TEST_F(TemplateFieldTest, DelimitedFieldsCarryTheirOwnSeparator) {
  AddEmployee({.emp_no = "ABC", .name = ""});
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = ";"});
  AddTemplate({.no = 2, .field_name = "NAME", .delimiter = ";"});
  AddTemplate({.no = 3, .field_name = "emp_no", .delimiter = "<>"});
  AddTemplate({.no = 4, .field_name = "emp_no", .delimiter = ""});
  AddTemplate({.no = 5, .field_name = "emp_no", .delimiter = "f"});
  Run();
  EXPECT_EQ(EmployeeFile(), "ABC;;ABC<>ABCABCf\r\n");
}

TEST_F(TemplateFieldTest, FixedWidthFieldsAreCutOrPadded) {
  AddEmployee({.emp_no = "ABC", .name = "ABCDEFG"});
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = "F", .size = 5});
  AddTemplate({.no = 2, .field_name = "NAME", .delimiter = "F", .size = 5});
  AddTemplate({.no = 3, .field_name = "SOC_NO", .delimiter = "F", .size = 5});
  AddTemplate({.no = 4, .field_name = "NAME", .delimiter = "F", .size = 0});
  AddTemplate({.no = 5, .field_name = "emp_no", .delimiter = "F", .size = 3});
  AddTemplate({.no = 6, .field_name = "FIXED", .delimiter = ",", .value = "|"});
  Run();
  EXPECT_EQ(EmployeeFile(), "ABC  ABCDE     ABC|,\r\n");
}

TEST_F(TemplateFieldTest, FormatFieldOnTheCurrentRow) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = "F", .size = 4});
  AddTemplate({.no = 2, .field_name = "emp_no", .delimiter = "#"});
  Run();
  EmployeeExportContext ctx(host());
  TAdsQuery& tmpl = *host().Components().TemplateQuery;
  tmpl.GoFirst();
  EXPECT_EQ(FormatField(ctx, "ABCDEF"), "ABCD");
  EXPECT_EQ(FormatField(ctx, "A"), "A   ");
  tmpl.GoNext();
  EXPECT_EQ(FormatField(ctx, "A"), "A#");
  EXPECT_EQ(FormatField(ctx, ""), "#");
}

}  // namespace
}  // namespace export_test
