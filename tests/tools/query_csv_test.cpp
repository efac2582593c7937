#include <gtest/gtest.h>

#include <sstream>

#include "tests/tools/tool_test_support.h"
#include "tools/query_csv.h"
#include "tools/sample_database.h"

namespace {

class QueryCsvTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (bool sealed : {false, true}) {
      auto* folder = new tool_test::TempFolder();
      (sealed ? sealed_ : plain_) = folder;
      tool_test::GenerateSample(folder->path().string(), 25, sealed);
    }
  }
  static void TearDownTestSuite() {
    delete plain_;
    delete sealed_;
  }
  static std::string Query(const tool_test::TempFolder* folder, const std::string& sql, bool expect_ok = true,
                           const QueryCredentials& credentials = QueryCredentials()) {
    std::ostringstream out;
    int64_t rows = 0;
    std::string error;
    const bool ok = RunQueryAsCsv(folder->path().string(), sql, credentials, out, &rows, &error);
    EXPECT_EQ(ok, expect_ok) << error;
    return ok ? out.str() : error;
  }
  static inline tool_test::TempFolder* plain_ = nullptr;
  static inline tool_test::TempFolder* sealed_ = nullptr;
};

TEST_F(QueryCsvTest, PrintsAHeaderAndOneCsvLinePerRowAsTheExportsReadThem) {
  const std::string out = Query(plain_, "select YEAR, CADDR1, CPOSTAL_CODE from PAYPARA1 where YEAR = 2010");
  EXPECT_EQ(out, "YEAR,CADDR1,CPOSTAL_CODE\r\n2010,\"10 Anson Road, #20-01\",079903\r\n");
  // Dates read in the program's date format.
  EXPECT_EQ(Query(plain_, "select emp_no, TERMINATION_DATE from employee where TERMINATION_DATE = '2010-03-01' "
                          "and emp_no = 'E000004'"),
            "emp_no,TERMINATION_DATE\r\nE000004,01/03/2010\r\n");
}

TEST_F(QueryCsvTest, ReadsSealedTablesWithTheTablePasswordAndFailsWithAWrongOneOrNone) {
  QueryCredentials right;
  right.table_password = kSampleTablePassword;
  EXPECT_EQ(Query(sealed_, "select count(*) AS N from employee", true, right), "N\r\n25\r\n");
  // No password is built in: without one the statement fails, naming the table.
  EXPECT_NE(Query(sealed_, "select count(*) from employee", false).find("Table employee is sealed"), std::string::npos);
  QueryCredentials wrong;
  wrong.table_password = "WRONG1234";
  const std::string error = Query(sealed_, "select count(*) from employee", false, wrong);
  EXPECT_NE(error.find("error"), std::string::npos) << error;
}

TEST_F(QueryCsvTest, ADictionaryIsReadWithTheProgramsAccountAndRefusesAnother) {
  tool_test::TempFolder folder;
  SampleOptions options;
  options.employees = 25;
  options.today = tool_test::kSampleDay;
  SampleSummary summary;
  std::string error;
  const std::string dictionary = folder / "HR.add";
  ASSERT_TRUE(GenerateSampleDictionary(dictionary, options, "GLOVERUN4", "BRISKOLDENT", &summary, &error)) << error;
  std::ostringstream out;
  int64_t rows = 0;
  QueryCredentials program;
  program.user = "GLOVERUN4";
  program.password = "BRISKOLDENT";
  ASSERT_TRUE(RunQueryAsCsv(dictionary, "select count(*) as N from employee", program, out, &rows, &error)) << error;
  EXPECT_EQ(out.str(), "N\r\n25\r\n");
  QueryCredentials wrong = program;
  wrong.password = "NOTTHEPASSWORD";
  EXPECT_FALSE(RunQueryAsCsv(dictionary, "select count(*) from employee", wrong, out, &rows, &error));
  EXPECT_EQ(error.find("NOTTHEPASSWORD"), std::string::npos) << error;
}

TEST_F(QueryCsvTest, EngineErrorsAreReportedWithTheirText) {
  EXPECT_NE(Query(plain_, "select nosuch from employee", false).find("nosuch"), std::string::npos);
  tool_test::TempFolder empty;
  const std::string missing = (empty.path() / "gone").string();
  std::ostringstream out;
  int64_t rows = 0;
  std::string error;
  EXPECT_FALSE(RunQueryAsCsv(missing, "select 1", QueryCredentials(), out, &rows, &error));
  EXPECT_NE(error.find("gone"), std::string::npos) << error;
}

}  // namespace
