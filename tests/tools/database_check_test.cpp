#include <gtest/gtest.h>

#include "engine/storage.h"
#include "tests/tools/tool_test_support.h"
#include "tools/database_check.h"
#include "tools/sample_database.h"
#include "tests/support/status_assertions.h"

namespace {

using tool_test::Exec;
using tool_test::WriteFile;

class DatabaseCheckTest : public ::testing::Test {
 protected:
  void Generate(bool sealed) { tool_test::GenerateSample(folder_.path().string(), 30, sealed); }
  CheckReport Check(const std::string& password = "VARDE5816") {
    return CheckDatabase(folder_.path().string(), password);
  }
  static std::string All(const CheckReport& report) {
    std::string all;
    for (const CheckProblem& p : report.problems) all += p.where + ": " + p.problem + " => " + p.fix + "\n";
    return all;
  }
  // The one problem whose place contains `where`.
  static const CheckProblem* Find(const CheckReport& report, const std::string& where) {
    for (const CheckProblem& p : report.problems) {
      if (p.where.find(where) != std::string::npos) return &p;
    }
    return nullptr;
  }

  tool_test::TempFolder folder_;
};

TEST_F(DatabaseCheckTest, TheSampleDatabasePassesSealedAndUnsealed) {
  Generate(false);
  CheckReport report = Check();
  EXPECT_TRUE(report.ok()) << All(report);
  EXPECT_EQ(report.tables, 12);
  tool_test::TempFolder other;
  std::swap(folder_, other);
  Generate(true);
  report = Check();
  EXPECT_TRUE(report.ok()) << All(report);
}

TEST_F(DatabaseCheckTest, AMissingIndexAndABadDateAreBothListedWithTheirFixes) {
  Generate(false);
  Exec(folder_ / "EMP_CLD.ADT", "DROP INDEX \"PRIMARY\"");
  Exec(folder_ / "empleave.adt", "UPDATE empleave SET START_DATE = '2010-02-30' WHERE rowid = 2");
  const CheckReport report = Check();
  ASSERT_EQ(report.problems.size(), 2u) << All(report);
  const CheckProblem* index = Find(report, "EMP_CLD");
  ASSERT_TRUE(index);
  EXPECT_NE(index->problem.find("EMP_NO;DATE"), std::string::npos);
  EXPECT_NE(index->fix.find("CREATE UNIQUE INDEX \"PRIMARY\" ON \"EMP_CLD\" (\"EMP_NO\", \"DATE\")"),
            std::string::npos)
      << index->fix;
  const CheckProblem* date = Find(report, "column START_DATE, row with rowid 2");
  ASSERT_TRUE(date) << All(report);
  EXPECT_NE(date->problem.find("'2010-02-30'"), std::string::npos);
  EXPECT_NE(date->fix.find("WHERE rowid = 2"), std::string::npos);
}

TEST_F(DatabaseCheckTest, AnIndexThatOnlyBeginsWithTheFieldsServesButADescendingOneDoesNot) {
  Generate(false);
  Exec(folder_ / "EMP_ALW.adt", "DROP INDEX EMPALW; CREATE INDEX LONGER ON EMP_ALW (EMP_NO, ALLOW_CODE, effdate)");
  EXPECT_TRUE(Check().ok()) << All(Check());
  Exec(folder_ / "EMP_ALW.adt", "DROP INDEX LONGER; CREATE INDEX BACKWARDS ON EMP_ALW (EMP_NO DESC, ALLOW_CODE)");
  EXPECT_TRUE(Find(Check(), "EMP_ALW")) << All(Check());
}

TEST_F(DatabaseCheckTest, MissingTablesAndColumnsComeWithTheStatementsThatCreateThem) {
  Generate(false);
  std::filesystem::remove(folder_ / "LV_PAYGRP_SHIFT.adt");
  Exec(folder_ / "employee.adt", "ALTER TABLE employee DROP COLUMN FUND_LEVY");
  const CheckReport report = Check();
  ASSERT_EQ(report.problems.size(), 2u) << All(report);
  const CheckProblem* table = Find(report, "LV_PAYGRP_SHIFT");
  ASSERT_TRUE(table);
  EXPECT_NE(table->fix.find("CREATE TABLE \"LV_PAYGRP_SHIFT\""), std::string::npos) << table->fix;
  const CheckProblem* column = Find(report, "column FUND_LEVY");
  ASSERT_TRUE(column);
  EXPECT_NE(column->fix.find("ADD COLUMN \"FUND_LEVY\" CHAR(8)"), std::string::npos) << column->fix;
}

TEST_F(DatabaseCheckTest, TheStorageFormatIsEnforcedFileByFile) {
  Generate(false);
  WriteFile(folder_ / "BROKEN.ADT", "not a database, but long enough to have sixteen bytes");
  WriteFile(folder_ / "readme.txt", "notes");
  Exec(folder_ / "TWO.adt", "CREATE TABLE TWO (A CHAR(1)); CREATE TABLE THREE (B CHAR(1));");
  Exec(folder_ / "ODD.adt", "CREATE TABLE ODD (A TEXT, B CHAR(2)); CREATE INDEX X ON ODD (lower(B));");
  Exec(folder_ / "WRONG.adt", "CREATE TABLE RIGHT (A CHAR(1));");
  const CheckReport report = Check();
  EXPECT_TRUE(Find(report, "file BROKEN.ADT")) << All(report);
  EXPECT_TRUE(Find(report, "file TWO.adt")) << All(report);
  EXPECT_TRUE(Find(report, "ODD (ODD.adt), column A")) << All(report);
  EXPECT_TRUE(Find(report, "ODD (ODD.adt), index X")) << All(report);
  EXPECT_TRUE(Find(report, "file WRONG.adt")) << All(report);
  EXPECT_FALSE(Find(report, "readme")) << All(report);
  ASSERT_EQ(report.notes.size(), 1u);
  EXPECT_NE(report.notes[0].find("readme.txt"), std::string::npos);
}

TEST_F(DatabaseCheckTest, AWrongTablePasswordNamesEverySealedFile) {
  Generate(true);
  const CheckReport report = Check("WRONG1234");
  for (const char* file : {"employee.adt", "EMP_PROS.adt", "EMP_ALW.adt", "PAYPARA1.adt", "EMPLOYMT.ADT",
                           "EMPMISC.ADT"}) {
    EXPECT_TRUE(Find(report, std::string("file ") + file)) << file << "\n" << All(report);
  }
  EXPECT_EQ(report.problems.size(), 6u) << All(report);
}

TEST_F(DatabaseCheckTest, ASealedTableTheRunReadsWithoutAPasswordIsAProblem) {
  Generate(false);
  for (const char* file : {"EMP_CLD.ADT", "EMP_PROS.adt"}) {
    ASSERT_TRUE(Succeeds(SealFile(folder_ / file, "VARDE5816")));
  }
  const CheckReport report = Check();
  ASSERT_EQ(report.problems.size(), 1u) << All(report);
  EXPECT_EQ(report.problems[0].where, "table EMP_CLD (EMP_CLD.ADT)");
  EXPECT_EQ(report.problems[0].problem, "is sealed, but the run reads it without a password and fails");
  EXPECT_EQ(report.problems[0].fix, "unseal it (kdx-db unseal)");
}

TEST_F(DatabaseCheckTest, FolderDictionaryOrTableFileAsTheRunTellsThem) {
  const std::string folder = folder_ / "hr.add";  // a folder, whatever its name
  std::filesystem::create_directory(folder);
  tool_test::GenerateSample(folder, 10, false);
  const CheckReport as_folder = CheckDatabase(folder, "VARDE5816");
  EXPECT_TRUE(as_folder.ok()) << All(as_folder);
  const CheckReport table_file = CheckDatabase(folder + "/EMP_CLD.ADT", "VARDE5816");
  ASSERT_EQ(table_file.problems.size(), 1u) << All(table_file);
  EXPECT_EQ(table_file.problems[0].problem, "is a table file: the run cannot connect to it");
}

TEST_F(DatabaseCheckTest, TemplateRowsMustNameColumnsOfTheirSource) {
  Generate(false);
  Exec(folder_ / "export.adt",
       "INSERT INTO export (SECTION, NO, \"Field Name\", \"TABLE\", DELIMITER, size) VALUES "
       "('KDX', 1001, 'NO_SUCH_COLUMN', '', ',', 0), ('KDX', 1002, 'SPOUSE', 'EMPMISC', ',', 0), "
       "('KDX', 1003, 'emp_no', '', 'F', 300), ('KDX', 1004, 'NEW_SALARY', 'FORMULA', ',', 0), "
       "('OTHER', 1, 'NOT_CHECKED', '', ',', 0)");
  const CheckReport report = Check();
  EXPECT_EQ(report.problems.size(), 3u) << All(report);
  EXPECT_TRUE(Find(report, "\"NO_SUCH_COLUMN\"")) << All(report);
  EXPECT_TRUE(Find(report, "\"SPOUSE\"")) << All(report);
  EXPECT_TRUE(Find(report, "\"emp_no\"")) << All(report);  // size 300
}

TEST_F(DatabaseCheckTest, ColumnsThatMakeTheLeaveJoinsAmbiguousAreReported) {
  Generate(false);
  Exec(folder_ / "employee.adt", "ALTER TABLE employee ADD COLUMN REMARK1 CHAR(10)");
  const CheckReport report = Check();
  ASSERT_EQ(report.problems.size(), 1u) << All(report);
  EXPECT_NE(report.problems[0].problem.find("ambiguous"), std::string::npos);
}

TEST_F(DatabaseCheckTest, AMissingPathIsOneProblem) {
  const CheckReport report = CheckDatabase((folder_ / "nowhere"), "VARDE5816");
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].where.find("nowhere"), std::string::npos);
}

TEST_F(DatabaseCheckTest, TheSampleDictionaryPasses) {
  SampleOptions options;
  options.employees = 20;
  SampleSummary summary;
  std::string error;
  const std::string dictionary = folder_ / "HR.add";
  ASSERT_TRUE(GenerateSampleDictionary(dictionary, options, "GLOVERUN4", "BRISKOLDENT", &summary, &error)) << error;
  const CheckReport report = CheckDatabase(dictionary, "");
  EXPECT_TRUE(report.ok()) << All(report);
  EXPECT_EQ(report.tables, 12);
  // The staging folder is gone; a second dictionary of the same name is refused.
  EXPECT_FALSE(std::filesystem::exists(dictionary + ".tables"));
  EXPECT_FALSE(GenerateSampleDictionary(dictionary, options, "GLOVERUN4", "BRISKOLDENT", &summary, &error));
  EXPECT_NE(error.find("exists already"), std::string::npos);
}

TEST_F(DatabaseCheckTest, ADictionaryIsCheckedTableByTableWithPrefixedIndexNames) {
  Generate(false);
  const std::string dictionary = folder_ / "HR.add";
  std::string sql;
  for (const SampleTable& t : SampleTables()) {
    sql += "ATTACH '" + (folder_ / t.file_name) + "' AS src; CREATE TABLE \"" + t.name + "\" AS SELECT * FROM src.\"" +
           t.name + "\"; DETACH src;";
  }
  Exec(dictionary, sql);
  // CREATE TABLE AS SELECT loses the declared types: the check must say so.
  CheckReport report = CheckDatabase(dictionary, "");
  EXPECT_FALSE(report.ok());
  EXPECT_TRUE(Find(report, "table EMP_CLD")) << All(report);
  const CheckProblem* index = nullptr;
  for (const CheckProblem& p : report.problems) {
    if (p.problem.find("no index on EMP_NO;DATE") != std::string::npos) index = &p;
  }
  ASSERT_TRUE(index) << All(report);
  EXPECT_NE(index->fix.find("\"EMP_CLD.PRIMARY\""), std::string::npos) << index->fix;
}

}  // namespace
