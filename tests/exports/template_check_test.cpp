// The site check's reading of the export template: every row judged by the
// run's own rules, every finding listed, and the same verdict the run would
// reach on the same row.
#include "exports/template_check.h"

#include "exports/employee_export.h"
#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

class TemplateCheckTest : public ExportFixture {
 protected:
  // Opens what the employee export opens before its first record, as the
  // site check does, and checks the template.
  TemplateCheck Check() {
    const ExportComponents& c = host().Components();
    host().PrepareConnection();
    SelectCurrentEmployees(host());
    c.AdsTablePara->OpenDataSet();
    c.CareerTable->OpenDataSet();
    c.EmploymentTable->OpenDataSet();
    c.AdsTableMisc->OpenDataSet();
    OpenTemplateSection(host());
    return CheckTemplateRows(host());
  }
  static std::vector<std::string> Texts(const TemplateCheck& check, bool problems) {
    std::vector<std::string> texts;
    for (const TemplateFinding& f : check.findings) {
      if (f.problem == problems) texts.push_back(f.text);
    }
    return texts;
  }
};

TEST_F(TemplateCheckTest, ASoundTemplateOfEveryKindHasNoFindings) {
  AddPara(2010, "ACME");
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = "F", .size = 10});
  AddTemplate({.no = 2, .field_name = "DUMMY", .delimiter = "F", .size = 999});  // adds nothing, reads no size
  AddTemplate({.no = 3, .field_name = "COMPANY"});
  AddTemplate({.no = 4, .field_name = "DATE", .format = "DDMMYYYY"});
  AddTemplate({.no = 5, .field_name = "FIXED", .value = "X"});
  AddTemplate({.no = 6, .field_name = "TEL_EXT"});
  AddTemplate({.no = 7, .field_name = "PAY_TYPE", .delimiter = "F", .size = 0});
  AddTemplate({.no = 8, .field_name = "ALLOW_CODE", .mapfield2 = "TRANS"});
  AddTemplate({.no = 9, .field_name = "national_code", .category = "NAT"});
  AddTemplate({.no = 10, .field_name = "NEW_SALARY", .delimiter = "F", .size = 255});
  AddTemplate({.no = 11, .field_name = "HOBBY", .table = "EMPMISC"});
  AddTemplate({.no = 12, .field_name = "DEPT", .table = "EMPLOYMT"});
  AddTemplate({.no = 13, .field_name = "NRIC_NO", .table = "FORMULA"});
  AddTemplate({.no = 14, .field_name = "RES_TYPE"});
  const TemplateCheck check = Check();
  EXPECT_EQ(check.rows, 14);
  EXPECT_TRUE(check.findings.empty()) << check.findings.front().text;
}

TEST_F(TemplateCheckTest, ListsEveryProblemWithItsRowNotOnlyTheFirst) {
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "FIXED", .delimiter = "F", .value = "AB", .size = 300});
  AddTemplate({.no = 3, .field_name = "DATE", .format = "'run day'"});
  AddTemplate({.no = 4, .field_name = "dummy"});  // keywords are case-sensitive: an employee column
  AddTemplate({.no = 5, .field_name = "SPORT", .table = "EMPMISC"});
  AddTemplate({.no = 6, .field_name = "CADDR9"});
  AddTemplate({.no = 7, .field_name = "emp_no", .delimiter = "F", .size = -1});
  AddTemplate({.no = 8, .field_name = "DATE", .format = ""});
  const TemplateCheck check = Check();
  EXPECT_EQ(check.rows, 8);
  EXPECT_EQ(Texts(check, true),
            (std::vector<std::string>{
                "Export template section KDX, row NO 2: size 300 is not a field width of 0 to 255",
                "Export template section KDX, row NO 3: DATE with FORMAT \"'run day'\" prints no part of the date or "
                "time (patterns such as DD/MM/YYYY or YYYYMMDD do)",
                "Export template section KDX, row NO 4: Field Name \"dummy\" reads column dummy of employee, which "
                "it does not have (AdsQueryEmp: Field 'dummy' not found)",
                "Export template section KDX, row NO 5: Field Name \"SPORT\" reads column SPORT of EMPMISC, which it "
                "does not have (AdsTableMisc: Field 'SPORT' not found)",
                "Export template section KDX, row NO 6: Field Name \"CADDR9\" reads column CADDR9 of employee, which "
                "it does not have (AdsQueryEmp: Field 'CADDR9' not found)",
                "Export template section KDX, row NO 7: size -1 is not a field width of 0 to 255",
                "Export template section KDX, row NO 8: DATE with FORMAT \"\" prints no part of the date or time "
                "(patterns such as DD/MM/YYYY or YYYYMMDD do)"}));
  EXPECT_TRUE(Texts(check, false).empty());
}

TEST_F(TemplateCheckTest, FindsWhatTheRunFailsOnInTheRunsOwnWords) {
  AddEmployee({.emp_no = "E01"});
  AddTemplate({.no = 4, .field_name = "emp_no", .delimiter = "F", .size = 256});
  const std::string run_error = ErrorOf([&] { ExportEmployees(host()); });
  const TemplateCheck check = Check();
  ASSERT_EQ(check.findings.size(), 1u);
  EXPECT_EQ(check.findings[0].text, run_error);
}

TEST_F(TemplateCheckTest, AnEmptySectionAndAnAllowanceWithoutCodeAreWarnings) {
  AddTemplate({.no = 1, .field_name = "emp_no", .section = "OTHER"});
  TemplateCheck check = Check();
  EXPECT_EQ(check.rows, 0);
  EXPECT_EQ(Texts(check, false), (std::vector<std::string>{"Export template section KDX has no rows: every "
                                                           "employee's record would be an empty line"}));

  AddTemplate({.no = 1, .field_name = "ALLOW_CODE"});
  check = Check();
  EXPECT_TRUE(Texts(check, true).empty());
  EXPECT_EQ(Texts(check, false), (std::vector<std::string>{"Export template section KDX, row NO 1: ALLOW_CODE "
                                                           "without an allowance code in MAPFIELD2; the field is "
                                                           "always 0.00"}));
}

TEST_F(TemplateCheckTest, ASourceThatIsNotOpenIsLeftToTheCaller) {
  AddTemplate({.no = 1, .field_name = "SPORT", .table = "EMPMISC"});
  AddTemplate({.no = 2, .field_name = "NO_SUCH", .table = "EMPLOYMT"});
  host().PrepareConnection();
  SelectCurrentEmployees(host());
  OpenTemplateSection(host());
  const TemplateCheck check = CheckTemplateRows(host());
  EXPECT_EQ(check.rows, 2);
  EXPECT_TRUE(check.findings.empty()) << check.findings.front().text;
}

TEST_F(TemplateCheckTest, ATemplateWithoutAColumnARuleNeedsIsAProblemPerRow) {
  Sql("EXPORT.ADT", "DROP TABLE EXPORT");
  Sql("EXPORT.ADT", "CREATE TABLE EXPORT (SECTION CHAR(10), NO INTEGER, \"Field Name\" CHAR(30), DELIMITER CHAR(2))");
  Sql("EXPORT.ADT", "CREATE INDEX \"EXPORT.SECNO\" ON EXPORT (SECTION, NO)");
  Sql("EXPORT.ADT", "INSERT INTO EXPORT VALUES ('KDX', 1, 'emp_no', ','), ('KDX', 2, 'FIXED', ',')");
  const TemplateCheck check = Check();
  EXPECT_EQ(check.rows, 2);
  // Row 1 reaches the CATEGORY rule, row 2 needs VALUE.
  EXPECT_EQ(Texts(check, true),
            (std::vector<std::string>{"Export template section KDX, row NO 1: wwTableTemplate: Field 'CATEGORY' not found",
                                      "Export template section KDX, row NO 2: wwTableTemplate: Field 'VALUE' not found"}));
}

}  // namespace
}  // namespace export_test
