// The employee export's lookup tables read in windows: every record, value
// and error of a run equals what reading the tables row by row gives (the
// template's rows and the lookups evaluated per employee through the public
// resolvers, on a context that read nothing ahead), on varied and on broken
// data, whatever the windows' sizes; and a window holds the rows of the
// moment it was read.
#include "exports/employee_export.h"
#include "exports/lookup_tables.h"

#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

// A run's employee file and the error it stopped with ("" when none).
struct Outcome {
  std::string file;
  std::string error;
};

class ReadAheadTest : public ExportFixture {
 protected:
  Outcome Run() {
    Outcome outcome;
    std::filesystem::remove(state().EmployeePath);
    outcome.error = ErrorOf([&] { ExportEmployees(host()); });
    if (outcome.error == "(no error)") outcome.error.clear();
    outcome.file = EmployeeFile();
    return outcome;
  }

  // The records built row by row on the datasets the last run prepared: for
  // each employee, each template row's value and layout, every lookup a seek.
  Outcome RowByRow() {
    EmployeeExportContext ctx(host());
    TAdsQuery& emp = *host().Components().AdsQueryEmp;
    TAdsQuery& tmpl = *host().Components().TemplateQuery;
    Outcome outcome;
    outcome.error = ErrorOf([&] {
      for (emp.GoFirst(); !emp.AtEof(); emp.GoNext()) {
        std::string record;
        for (tmpl.GoFirst(); !tmpl.AtEof(); tmpl.GoNext()) {
          if (std::optional<std::string> value = TemplateFieldValue(ctx)) AppendField(ctx, *value, record);
        }
        outcome.file += record + "\r\n";
      }
    });
    if (outcome.error == "(no error)") outcome.error.clear();
    return outcome;
  }

  void ExpectSameAsRowByRow(const std::string& what) {
    const Outcome run = Run();
    const Outcome reference = RowByRow();
    EXPECT_EQ(run.error, reference.error) << what;
    // A run that fails leaves no file; one that completes, the same records.
    if (run.error.empty()) {
      EXPECT_EQ(run.file, reference.file) << what;
    } else {
      EXPECT_FALSE(Exists(state().EmployeePath)) << what;
    }
  }

  void ClearTables() {
    for (const char* table : {"EMPLOYEE", "EMPLOYMT", "EMPMISC", "EMP_PROS", "EMP_ALW", "EXPORT", "CODE"}) {
      Sql(std::string(table) + ".ADT", std::string("DELETE FROM ") + table);
    }
  }

  // Batched inserts: one statement per table and data set.
  void Insert(const std::string& table, const std::vector<std::string>& rows) {
    if (rows.empty()) return;
    std::string sql = "INSERT INTO " + table + " VALUES ";
    for (size_t i = 0; i < rows.size(); ++i) sql += (i ? ",(" : "(") + rows[i] + ")";
    Sql(table + ".ADT", sql);
  }
};

// ---- varied data ----------------------------------------------------------------

// One random HR site: employees whose numbers collide, differ in case, hold
// blanks or sit at the width of the lookup tables' key columns; EMPLOYMT and
// EMPMISC rows for most of them (and for others); career rows before, on and
// after the run day, on the same day, undated; allowances of the template's
// codes and others with windows on the month's bounds; a template that reads
// every kind of lookup or only some.
class VariedSite {
 public:
  explicit VariedSite(unsigned seed) : random_(seed) {}

  template <typename T>
  const T& Pick(const std::vector<T>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random_)];
  }
  bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(random_) < percent; }
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::vector<std::string> Employees(std::vector<std::string>* numbers) {
    static const std::vector<std::string> kNumbers = {"E1", "E2", "E10", "e1", "E 3", "", "E123456789AB", "A", "Z9"};
    static const std::vector<std::string> kPayTypes = {"SE", "SN", "D", "H", "M", "S", ""};
    std::vector<std::string> rows;
    for (int i = Between(3, 14); i > 0; --i) {
      const std::string& number = Pick(kNumbers);
      numbers->push_back(number);
      const std::string pay_type = Pick(kPayTypes);
      const std::string hours = Chance(95) ? "2080" : "0";
      const std::string ended = Chance(15) ? "'2010-05-31'" : "NULL";
      rows.push_back(Quote(number) + ",'N" + std::to_string(i) + "'," + Quote(pay_type) + "," + hours +
                     ",'','','','',0,NULL,0," + ended + "," + Quote(Pick<std::string>({"SG", "MY", "XX", ""})) +
                     ",'',''");
    }
    return rows;
  }

  std::vector<std::string> KeyedRows(const std::vector<std::string>& numbers, const std::string& extra) {
    std::vector<std::string> rows;
    std::vector<std::string> keyed;  // the tables' key is unique
    for (const std::string& number : numbers) {
      if (std::find(keyed.begin(), keyed.end(), number) != keyed.end()) continue;
      keyed.push_back(number);
      if (Chance(92)) rows.push_back(Quote(number) + ",'V" + std::to_string(Between(1, 99)) + "'," + extra);
    }
    rows.push_back("'E99','OTHER'," + extra);
    return rows;
  }

  std::vector<std::string> Careers(const std::vector<std::string>& numbers) {
    static const std::vector<std::string> kDates = {"'2009-01-01'", "'2010-03-01'", "'2010-06-15'",
                                                    "'2010-06-16'", "'2011-01-01'", "NULL"};
    std::vector<std::string> rows;
    for (const std::string& number : numbers) {
      for (int n = Between(0, 4); n > 0; --n) {
        rows.push_back(Quote(number) + "," + Pick(kDates) + ",NULL," + std::to_string(Between(0, 5000)) + "." +
                       std::to_string(Between(10, 99)) + "," + std::to_string(Between(100, 9000)) + ".5");
      }
    }
    return rows;
  }

  std::vector<std::string> Allowances(const std::vector<std::string>& numbers) {
    static const std::vector<std::string> kDays = {"NULL", "'2010-05-31'", "'2010-06-01'", "'2010-06-30'",
                                                   "'2010-07-01'"};
    static const std::vector<std::string> kMonths = {"0", "0", "201005", "201006", "201007", "NULL"};
    std::vector<std::string> rows;
    for (const std::string& number : numbers) {
      for (int n = Between(0, 4); n > 0; --n) {
        rows.push_back(Quote(number) + "," + Quote(Pick<std::string>({"TRANS", "MEAL", "HOUSE"})) + "," +
                       Pick(kDays) + "," + Pick(kDays) + "," + Pick(kMonths) + "," + Pick(kMonths) + "," +
                       std::to_string(Between(1, 400)) + ".25");
      }
    }
    return rows;
  }

  std::vector<TemplateRow> Template() {
    const std::vector<TemplateRow> kinds = {
        {.field_name = "EMP_NO"},
        {.field_name = "PAY_TYPE"},
        {.field_name = "NATIONAL_CODE", .category = "NAT"},
        {.field_name = "PAY_EFFECTIVE_DATE"},
        {.field_name = "NEW_SALARY"},
        {.field_name = "OLD_SALARY"},
        {.field_name = "ALLOW_CODE", .mapfield2 = "TRANS"},
        {.field_name = "ALLOW_CODE", .mapfield2 = "MEAL"},
        {.field_name = "HOBBY", .table = "EMPMISC"},
        {.field_name = "OLD_SALARY", .table = "EMPMISC"},
        {.field_name = "DEPT", .table = "EMPLOYMT"},
        {.field_name = "JOIN_DATE", .table = "EMPLOYMT"},
    };
    std::vector<TemplateRow> rows;
    for (int n = Between(2, 8); n > 0; --n) {
      rows.push_back(Pick(kinds));
      rows.back().no = static_cast<int>(rows.size());
      rows.back().delimiter = "|";
    }
    return rows;
  }

 private:
  std::mt19937 random_;
};

// Windows of one row, of rows that end inside one employee's rows, growing
// ones and the run's own sizes.
TEST_F(ReadAheadTest, RecordsAndErrorsEqualTheRowByRowPathOnVariedSites) {
  AddCode("NAT", "SG", "SINGAPOREAN");
  const std::vector<std::pair<size_t, size_t>> kWindows = {{1, 1}, {2, 3}, {1, 64}, {0, 0}};
  for (const auto& [first, most] : kWindows) {
    LookupTables::SetWindowRowsForTesting(first, most);
    for (unsigned seed = 1; seed <= 40; ++seed) {
      ClearTables();
      AddCode("NAT", "MY", "MALAYSIAN");
      VariedSite site(seed);
      std::vector<std::string> numbers;
      Insert("EMPLOYEE", site.Employees(&numbers));
      Insert("EMPLOYMT", site.KeyedRows(numbers, "'2001-02-03'"));
      Insert("EMPMISC", site.KeyedRows(numbers, "'1,200'"));
      Insert("EMP_PROS", site.Careers(numbers));
      Insert("EMP_ALW", site.Allowances(numbers));
      for (const TemplateRow& row : site.Template()) AddTemplate(row);
      ExpectSameAsRowByRow("seed " + std::to_string(seed) + ", windows " + std::to_string(first) + "/" +
                           std::to_string(most));
    }
  }
  LookupTables::SetWindowRowsForTesting(0, 0);
}

// ---- errors at the same employee ------------------------------------------------

TEST_F(ReadAheadTest, MissingEmploymentRowStopsAtTheSameEmployee) {
  for (const char* number : {"E1", "E2", "E3"}) AddEmployee({.emp_no = number});
  AddEmployment("E1", "HR");
  AddEmployment("E3", "IT");
  AddMisc("E1", "golf");
  AddMisc("E2", "chess");
  AddTemplate({.no = 1, .field_name = "HOBBY", .table = "EMPMISC"});
  AddTemplate({.no = 2, .field_name = "DEPT", .table = "EMPLOYMT"});
  const Outcome run = Run();
  EXPECT_EQ(run.error, "EMPLOYMT Unable to locate Employee : E2");
  EXPECT_EQ(run.file, "");  // a failed run replaces no file
  EXPECT_EQ(host().status_texts().back(), "Export Employee# : E2");
}

TEST_F(ReadAheadTest, UnreadableCareerRowStopsAtItsEmployeeOnly) {
  for (const char* number : {"E1", "E2", "E3"}) AddEmployee({.emp_no = number});
  AddEmployee({.emp_no = "A1", .termination_date = "2009-12-31"});
  AddCareer({.emp_code = "A0", .pay_effective_date = "2010-01-01", .new_salary = 1});
  AddCareer({.emp_code = "E3", .pay_effective_date = "2010-01-01", .new_salary = 300});
  // A value the engine cannot read as the column's type fails its record.
  Sql("EMP_PROS.ADT", "INSERT INTO EMP_PROS (EMP_CODE, PAY_EFFECTIVE_DATE, NEW_SALARY) VALUES ('A1', '2010-01-01',"
                      " 'lots')");
  AddTemplate({.no = 1, .field_name = "EMP_NO"});
  AddTemplate({.no = 2, .field_name = "NEW_SALARY"});
  // Only the terminated employee's row is unreadable: the run goes through.
  Outcome run = Run();
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.file, Crlf({"E1,,", "E2,,", "E3,300,"}));

  Sql("EMP_PROS.ADT", "UPDATE EMP_PROS SET EMP_CODE = 'E2' WHERE EMP_CODE = 'A1'");
  run = Run();
  EXPECT_EQ(run.file, "");  // a failed run replaces no file
  EXPECT_NE(run.error.find("EMP_PROS"), std::string::npos) << run.error;
  EXPECT_EQ(run.error, RowByRow().error);
}

TEST_F(ReadAheadTest, UnreadableValueRaisesWhereTheRuleFirstReadsIt) {
  // START_MTH as text: read only for rows without effdate.
  Sql("EMP_ALW.ADT", "DROP TABLE EMP_ALW; CREATE TABLE EMP_ALW (EMP_NO CHAR(12), ALLOW_CODE CHAR(8), EFFDATE DATE,"
                     " ENDDATE DATE, START_MTH CHAR(6), END_MTH NUMERIC(6,0), AMT MONEY);"
                     " CREATE INDEX \"EMP_ALW.EMPALW\" ON EMP_ALW (EMP_NO, ALLOW_CODE);");
  for (const char* number : {"E1", "E2", "E3"}) AddEmployee({.emp_no = number});
  Insert("EMP_ALW", {"'E1','TRANS','2010-01-01',NULL,'x',0,10", "'E2','TRANS',NULL,NULL,'0',0,20",
                     "'E3','TRANS',NULL,NULL,'soon',0,30"});
  AddTemplate({.no = 1, .field_name = "ALLOW_CODE", .mapfield2 = "TRANS"});
  const Outcome run = Run();
  EXPECT_EQ(run.file, "");  // a failed run replaces no file
  EXPECT_EQ(run.error, "'soon' is not a valid integer value");
  EXPECT_EQ(RowByRow().error, run.error);
}

TEST_F(ReadAheadTest, InvalidAllowanceMonthNamesTheEmployeeItBelongsTo) {
  for (const char* number : {"E1", "E2", "E3"}) AddEmployee({.emp_no = number});
  AddAllowance({.emp_no = "E1", .allow_code = "MEAL", .start_mth = 201013, .amt = 5});
  AddAllowance({.emp_no = "E1", .allow_code = "TRANS", .amt = 5});
  AddAllowance({.emp_no = "E3", .allow_code = "TRANS", .start_mth = 0, .end_mth = 13, .amt = 7});
  AddTemplate({.no = 1, .field_name = "ALLOW_CODE", .mapfield2 = "TRANS"});
  const Outcome run = Run();
  EXPECT_EQ(run.file, "");  // a failed run replaces no file
  EXPECT_EQ(run.error, "EMP_ALW of employee E3, allowance TRANS: END_MTH 13 is not a month in the form YYYYMM");
}

// ---- keys a seek and a text may read differently --------------------------------

TEST_F(ReadAheadTest, KeysCutToTheColumnWidthAreSoughtAsASeekCutsThem) {
  // EMPLOYMT keyed on four characters: a seek cuts longer numbers to four.
  Sql("EMPLOYMT.ADT", "DROP TABLE EMPLOYMT; CREATE TABLE EMPLOYMT (EMP_NO CHAR(4), DEPT CHAR(10), JOIN_DATE DATE);"
                      " CREATE UNIQUE INDEX \"EMPLOYMT.EMP_NO\" ON EMPLOYMT (EMP_NO);");
  Sql("EMP_PROS.ADT", "DROP TABLE EMP_PROS; CREATE TABLE EMP_PROS (EMP_CODE CHAR(4), PAY_EFFECTIVE_DATE DATE,"
                      " ID AUTOINC, OLD_SALARY MONEY, NEW_SALARY MONEY); CREATE UNIQUE INDEX \"EMP_PROS.PRIMARY\""
                      " ON EMP_PROS (EMP_CODE, PAY_EFFECTIVE_DATE, ID);");
  for (const char* number : {"E001", "E0012", "E002"}) AddEmployee({.emp_no = number});
  AddEmployment("E001", "HR");
  AddEmployment("E002", "IT");
  AddCareer({.emp_code = "E001", .pay_effective_date = "2010-01-01", .new_salary = 1});
  AddTemplate({.no = 1, .field_name = "DEPT", .table = "EMPLOYMT"});
  AddTemplate({.no = 2, .field_name = "NEW_SALARY"});
  // E0012 finds E001's EMPLOYMT row; its career walk compares whole texts.
  EXPECT_EQ(Run().file, Crlf({"HR,1,", "HR,,", "IT,,"}));
  ExpectSameAsRowByRow("cut keys");
}

// Keys that read as the text of an employee number which a seek on that
// number does not find: with E2's row, EMPMISC holds the row of `key` (an
// SQL expression); the employees are E2, then `number`.
class UnfoundKeyTest : public ReadAheadTest {
 protected:
  void ExpectNotFound(const std::string& key, const std::string& number) {
    Sql("EMPMISC.ADT", "INSERT INTO EMPMISC VALUES (" + key + ", 'odd', ''), ('E2', 'two', '')");
    for (const std::string& n : {std::string("E2"), number}) AddEmployee({.emp_no = n});
    AddTemplate({.no = 1, .field_name = "HOBBY", .table = "EMPMISC"});
    const Outcome run = Run();
    EXPECT_EQ(run.file, "");  // a failed run replaces no file
    EXPECT_EQ(run.error, "EMPMISC Unable to locate Employee : " + number);
    EXPECT_EQ(host().status_texts().back(), "Export Employee# : " + number);
    ExpectSameAsRowByRow(key);
  }
};

TEST_F(UnfoundKeyTest, KeyCutShortByAZeroByte) {
  // The zero byte is part of the text, and the seek compares all four bytes.
  ExpectNotFound("'E1' || char(0) || 'Z'", "E1");
}

TEST_F(UnfoundKeyTest, KeyOfBlanksOnly) {
  // Blanks read as the empty number, which a seek finds only as no value.
  ExpectNotFound("'  '", "");
}

TEST_F(ReadAheadTest, RowsOutOfTextOrderAreSoughtAsBefore) {
  // A control character sorts between a number and the same number stored
  // with a trailing blank, and a number stored as bytes after every text:
  // the table is not in the order of its texts.
  Sql("EMPMISC.ADT", "INSERT INTO EMPMISC VALUES ('E1 ', 'blank', ''), ('E1' || char(1), 'control', ''),"
                     " ('E2', 'two', ''), (X'4530', 'bytes', '')");
  for (const char* number : {"E1", "E2", "E0"}) AddEmployee({.emp_no = number});
  AddTemplate({.no = 1, .field_name = "HOBBY", .table = "EMPMISC"});
  ExpectSameAsRowByRow("out of order");
}

// ---- read once, at the start --------------------------------------------------

// A window holds the rows of the moment it was read, and no more rows than
// its size allows beyond its last employee's.
TEST_F(ReadAheadTest, WindowsHoldTheRowsOfTheMomentTheyWereRead) {
  LookupTables::SetWindowRowsForTesting(2, 4);
  std::string expected;
  for (int i = 0; i < 12; ++i) {
    const std::string number = "E" + std::string(1, static_cast<char>('A' + i));
    AddEmployee({.emp_no = number, .pay_type = "M"});
    AddMisc(number, "old");
    // Three rows each: window ends fall inside an employee's rows.
    for (int n = 1; n <= 3; ++n) AddAllowance({.emp_no = number, .allow_code = "TRANS", .amt = static_cast<double>(n)});
    expected += i < 2 ? "old,3.00,\r\n" : "new,3.00,\r\n";
  }
  AddTemplate({.no = 1, .field_name = "HOBBY", .table = "EMPMISC"});
  AddTemplate({.no = 2, .field_name = "ALLOW_CODE", .mapfield2 = "TRANS"});
  int records = 0;
  host().on_process_messages = [&] {
    // Once the first record has read the first windows, the HR application
    // changes every row.
    if (++records == 2) Sql("EMPMISC.ADT", "UPDATE EMPMISC SET HOBBY = 'new'");
  };
  const Outcome outcome = Run();
  LookupTables::SetWindowRowsForTesting(0, 0);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.file, expected);
}

}  // namespace
}  // namespace export_test
