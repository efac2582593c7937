#include <gtest/gtest.h>

#include "engine/storage.h"
#include "tests/tools/tool_test_support.h"
#include "tools/table_import.h"
#include "tests/support/status_assertions.h"

namespace {

using tool_test::Exec;
using tool_test::Select;
using tool_test::WriteFile;

class TableImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = folder_ / "EMP_CLD.ADT";
    Exec(table_, "CREATE TABLE EMP_CLD (EMP_NO CHAR(12), \"DATE\" DATE, WORKCODE CHAR(2), HOURS NUMERIC(4,1), "
                 "SEQ AUTOINC); CREATE UNIQUE INDEX \"PRIMARY\" ON EMP_CLD (EMP_NO, \"DATE\");"
                 "INSERT INTO EMP_CLD VALUES ('E1', '2010-03-01', 'F', 8, 7);");
  }
  bool Import(const std::string& csv) {
    WriteFile(folder_ / "in.csv", csv);
    errors_.clear();
    return ImportCsvIntoTable(table_, folder_ / "in.csv", &rows_, &errors_);
  }
  std::string Errors() const {
    std::string all;
    for (const auto& e : errors_) all += e + "\n";
    return all;
  }
  std::vector<std::string> Table() { return Select(table_, "SELECT * FROM EMP_CLD ORDER BY rowid"); }

  tool_test::TempFolder folder_;
  std::string table_;
  int64_t rows_ = 0;
  std::vector<std::string> errors_;
};

TEST_F(TableImportTest, AppendsRowsMatchingHeaderNamesWithoutRegardToCase) {
  ASSERT_TRUE(Import("date,emp_no,WorkCode\r\n02/03/2010,E1,H\r\n2010-03-03,\"E2\",\r\n")) << Errors();
  EXPECT_EQ(rows_, 2);
  // Unnamed columns stay empty; AUTOINC continues after the largest number.
  EXPECT_EQ(Table(), (std::vector<std::string>{"E1|2010-03-01|F|8|7", "E1|2010-03-02|H|<null>|8",
                                               "E2|2010-03-03|<null>|<null>|9"}));
}

TEST_F(TableImportTest, ABadValueNamesFileLineAndColumnAndNothingIsImported) {
  EXPECT_FALSE(Import("EMP_NO,DATE,HOURS\nE1,2010-03-02,8\nE1,31/02/2010,8\nE1,2010-03-04,123.4\n"));
  const std::string errors = Errors();
  EXPECT_NE(errors.find("in.csv, line 3, column DATE: '31/02/2010' is not a valid date"), std::string::npos)
      << errors;
  EXPECT_NE(errors.find("line 4, column HOURS"), std::string::npos) << errors;
  EXPECT_NE(errors.find("Nothing was imported"), std::string::npos);
  EXPECT_EQ(Table().size(), 1u);
}

TEST_F(TableImportTest, ADuplicateKeyRollsBackTheRowsBeforeIt) {
  EXPECT_FALSE(Import("EMP_NO,DATE\nE5,2010-03-05\nE1,2010-03-01\n"));
  EXPECT_NE(Errors().find("line 3"), std::string::npos) << Errors();
  EXPECT_NE(Errors().find("UNIQUE"), std::string::npos) << Errors();
  EXPECT_EQ(Table().size(), 1u);
}

TEST_F(TableImportTest, HeaderProblemsNameTheColumn) {
  EXPECT_FALSE(Import("EMP_NO,SHIFT\nE1,S1\n"));
  EXPECT_NE(Errors().find("\"SHIFT\" is not a column of table EMP_CLD"), std::string::npos) << Errors();
  EXPECT_FALSE(Import("EMP_NO,emp_no\nE1,E2\n"));
  EXPECT_NE(Errors().find("named twice"), std::string::npos) << Errors();
  EXPECT_FALSE(Import(""));
  EXPECT_NE(Errors().find("empty"), std::string::npos);
  EXPECT_EQ(Table().size(), 1u);
}

TEST_F(TableImportTest, AShortRecordOrAnUnclosedQuoteIsRefused) {
  EXPECT_FALSE(Import("EMP_NO,DATE\nE1\n"));
  EXPECT_NE(Errors().find("line 2: 1 fields, but the header names 2 columns"), std::string::npos) << Errors();
  EXPECT_FALSE(Import("EMP_NO,DATE\n\"E1,2010-03-09\n"));
  EXPECT_NE(Errors().find("line 2"), std::string::npos) << Errors();
  EXPECT_EQ(Table().size(), 1u);
}

TEST_F(TableImportTest, BlankLinesAreSkipped) {
  ASSERT_TRUE(Import("EMP_NO,DATE\n\nE3,2010-03-09\n\n")) << Errors();
  EXPECT_EQ(rows_, 1);
}

TEST_F(TableImportTest, ListsAtMostTwentyProblemsAndCountsTheRest) {
  std::string csv = "EMP_NO,DATE\n";
  for (int i = 0; i < 30; ++i) csv += "E1,bad\n";
  EXPECT_FALSE(Import(csv));
  ASSERT_EQ(errors_.size(), kMaxListedImportErrors + 2);
  EXPECT_NE(errors_[kMaxListedImportErrors].find("10 more"), std::string::npos);
}

TEST_F(TableImportTest, RefusesFilesThatAreNotOneFreeTable) {
  EXPECT_FALSE(ImportCsvIntoTable(folder_ / "NOPE.ADT", folder_ / "in.csv", &rows_, &errors_));
  EXPECT_NE(Errors().find("NOPE.ADT does not exist"), std::string::npos) << Errors();
  const std::string two = folder_ / "TWO.adt";
  Exec(two, "CREATE TABLE TWO (A CHAR(1)); CREATE TABLE OTHER (B CHAR(1));");
  WriteFile(folder_ / "in.csv", "A\nx\n");
  EXPECT_FALSE(ImportCsvIntoTable(two, folder_ / "in.csv", &rows_, &errors_));
  EXPECT_NE(Errors().find("exactly one table"), std::string::npos) << Errors();
  const std::string junk = folder_ / "JUNK.adt";
  WriteFile(junk, "this is not a database at all, just some text that is long enough");
  EXPECT_FALSE(ImportCsvIntoTable(junk, folder_ / "in.csv", &rows_, &errors_));
  EXPECT_NE(Errors().find("JUNK.adt"), std::string::npos) << Errors();
}

TEST_F(TableImportTest, RefusesASealedTableAndLeavesItSealed) {
  ASSERT_TRUE(Succeeds(SealFile(table_, "VARDE5816")));
  EXPECT_FALSE(Import("EMP_NO,DATE\nE9,2010-03-09\n"));
  EXPECT_NE(Errors().find("sealed"), std::string::npos) << Errors();
  EXPECT_TRUE(IsSealedFile(table_));
}

}  // namespace
