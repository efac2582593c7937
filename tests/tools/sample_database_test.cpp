#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/storage.h"
#include "tests/tools/tool_test_support.h"
#include "tools/declared_type.h"
#include "tools/sample_database.h"
#include "tests/support/status_assertions.h"

namespace fs = std::filesystem;

namespace {

using tool_test::QueryRows;
using tool_test::TempFolder;

constexpr CivilDate kToday = tool_test::kSampleDay;

std::string One(const fs::path& file, const std::string& sql) {
  auto rows = QueryRows(file, sql);
  return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
}

class SampleDatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder();
    tool_test::GenerateSample(folder_->path().string(), 300, false, 7, &summary_);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  static fs::path File(const std::string& table) {
    for (const SampleTable& t : SampleTables()) {
      if (t.name == table) return folder_->path() / t.file_name;
    }
    ADD_FAILURE() << "no sample table " << table;
    return {};
  }
  static inline TempFolder* folder_ = nullptr;
  static inline SampleSummary summary_;
};

// sqlite3_prepare runs only the first statement; joins attach first.
std::vector<std::vector<std::string>> AttachedRows(const fs::path& main, const fs::path& other,
                                                   const std::string& sql) {
  return QueryRows(main, sql, {{other.string(), "other"}});
}

TEST_F(SampleDatabaseTest, EveryFileHoldsOneTableNamedLikeItWithDeclaredTypesAndValuesThatFit) {
  for (const SampleTable& table : SampleTables()) {
    const fs::path file = File(table.name);
    ASSERT_TRUE(fs::exists(file)) << file;
    auto tables = QueryRows(file, "SELECT name FROM sqlite_master WHERE type='table'");
    ASSERT_EQ(tables.size(), 1u) << file;
    EXPECT_EQ(tables[0][0], table.name);
    // Every stored value fits its declared type.
    auto columns = QueryRows(file, "SELECT name, type FROM pragma_table_info('" + table.name + "')");
    ASSERT_EQ(columns.size(), table.columns.size());
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table.name + "\"").c_str(), -1, &stmt, nullptr),
              SQLITE_OK);
    std::vector<engine::ColumnType> types(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
      std::string why;
      ASSERT_TRUE(ParseColumnType(columns[i][1], &types[i], &why)) << table.name << "." << columns[i][0] << why;
    }
    int row = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      ++row;
      for (size_t i = 0; i < columns.size(); ++i) {
        std::string why;
        EXPECT_TRUE(CheckStoredValue(types[i], sqlite3_column_value(stmt, static_cast<int>(i)), &why))
            << table.name << "." << columns[i][0] << " row " << row << ": " << why;
      }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }
}

TEST_F(SampleDatabaseTest, IndexesAreThoseTheComponentsName) {
  auto indexes = [](const std::string& table) {
    std::map<std::string, std::string> out;
    for (auto& row : QueryRows(File(table), "SELECT il.name, il.\"unique\", group_concat(ii.name, ';') FROM "
                                       "pragma_index_list('" + table + "') il, pragma_index_info(il.name) ii "
                                       "GROUP BY il.name")) {
      out[row[0]] = row[2] + (row[1] == "1" ? " unique" : "");
    }
    return out;
  };
  const std::map<std::string, std::string> pros = {{"PRIMARY", "EMP_CODE;PAY_EFFECTIVE_DATE;ID unique"},
                                                   {"PROINDE2", "EMP_CODE;CODE"},
                                                   {"PROINDE3", "EMP_CODE;ID"},
                                                   {"PROSINDEX", "EMP_CODE;PROGRESSION_DATE"},
                                                   {"EMPLOYEE", "EMP_CODE"}};
  EXPECT_EQ(indexes("EMP_PROS"), pros);
  const std::map<std::string, std::string> cld = {{"PRIMARY", "EMP_NO;DATE unique"}, {"EMPLOYEE", "EMP_NO"}};
  EXPECT_EQ(indexes("EMP_CLD"), cld);
  EXPECT_EQ(indexes("export").begin()->second, "SECTION;NO");
  EXPECT_EQ(indexes("CODE").begin()->second, "CATEGORY;CODE unique");
  EXPECT_EQ(indexes("EMP_ALW").begin()->second, "EMP_NO;ALLOW_CODE");
  EXPECT_EQ(indexes("PAYPARA1").begin()->second, "YEAR unique");
  EXPECT_EQ(indexes("EMPLOYMT").begin()->second, "EMP_NO unique");
  EXPECT_EQ(indexes("EMPMISC").begin()->second, "EMP_NO unique");
}

TEST_F(SampleDatabaseTest, RowCountsMatchTheSummaryAndEveryEmployeeHasEmploymentAndMiscRows) {
  EXPECT_EQ(One(File("employee"), "SELECT count(*) FROM employee"), "300");
  EXPECT_EQ(One(File("EMPLOYMT"), "SELECT count(DISTINCT EMP_NO) FROM EMPLOYMT"), "300");
  EXPECT_EQ(One(File("EMPMISC"), "SELECT count(DISTINCT EMP_NO) FROM EMPMISC"), "300");
  for (const auto& [table, rows] : summary_.rows) {
    EXPECT_EQ(One(File(table), "SELECT count(*) FROM \"" + table + "\""), std::to_string(rows)) << table;
  }
  // Current employees: no termination date, or one on or after 1 March 2010.
  EXPECT_EQ(One(File("employee"), "SELECT count(*) FROM employee WHERE TERMINATION_DATE IS NULL OR "
                                  "TERMINATION_DATE >= '2010-03-01'"),
            std::to_string(summary_.current_employees));
  EXPECT_LT(summary_.current_employees, 300);
}

TEST_F(SampleDatabaseTest, EmployeesCoverEveryPayTypeLevyClassAndBoundaryCase) {
  std::set<std::string> pay_types, levies;
  for (auto& r : QueryRows(File("employee"), "SELECT DISTINCT coalesce(PAY_TYPE,'') FROM employee")) {
    pay_types.insert(r[0]);
  }
  for (auto& r : QueryRows(File("employee"), "SELECT DISTINCT coalesce(FUND_LEVY,'') FROM employee")) {
    levies.insert(r[0]);
  }
  for (const char* p : {"SE", "SN", "S", "D", "H", "M", "", "s"}) EXPECT_TRUE(pay_types.count(p)) << p;
  for (const char* l : {"PR", "CLASS1", "NONE", "WP", "PRX", ""}) EXPECT_TRUE(levies.count(l)) << l;
  const fs::path emp = File("employee");
  EXPECT_NE(One(emp, "SELECT count(*) FROM employee WHERE TEL_EXT = 0"), "0");
  EXPECT_NE(One(emp, "SELECT count(*) FROM employee WHERE TEL_EXT <> 0"), "0");
  EXPECT_NE(One(emp, "SELECT count(*) FROM employee WHERE EMP_PASS_EXPIRY IS NULL AND FUND_LEVY = 'WP'"), "0");
  EXPECT_NE(One(emp, "SELECT count(*) FROM employee WHERE EMP_PASS_EXPIRY IS NOT NULL"), "0");
  EXPECT_NE(One(emp, "SELECT count(*) FROM employee WHERE TERMINATION_DATE = '2010-03-01'"), "0");
  EXPECT_NE(One(emp, "SELECT count(*) FROM employee WHERE TERMINATION_DATE = '2010-02-28'"), "0");
  EXPECT_NE(One(emp, "SELECT count(*) FROM employee WHERE emp_name LIKE '%,%'"), "0");
  // A zero HRS_WORK_PERYEAR would end the export with a division error.
  EXPECT_EQ(One(emp, "SELECT count(*) FROM employee WHERE coalesce(HRS_WORK_PERYEAR, 0) = 0"), "0");
}

TEST_F(SampleDatabaseTest, TemplateHasEveryFieldKindBothLayoutsAndADelimitedFirstRow) {
  std::set<std::string> fields, tables, delimiters;
  for (auto& r : QueryRows(File("export"), "SELECT \"Field Name\", coalesce(\"TABLE\",''), DELIMITER, size FROM export "
                                      "WHERE SECTION='KDX' ORDER BY NO")) {
    fields.insert(r[0]);
    tables.insert(r[1]);
    delimiters.insert(r[2]);
    if (r[2] == "F") {
      EXPECT_NE(r[3], "0") << r[0];
    }
  }
  for (const char* kind : {"DUMMY", "COMPANY", "CADDR1", "CPOSTAL_CODE", "DATE", "FIXED", "TEL_EXT", "PAY_TYPE",
                           "ALLOW_CODE", "SOC_NO", "SOC_EXPIRY_DATE", "RES_TYPE", "RES_DOC_NO", "RES_DURATION",
                           "RES_EXPIRY_DATE", "PAY_EFFECTIVE_DATE", "OLD_SALARY", "NEW_SALARY", "NRIC_NO",
                           "FIN_NO", "PR_NO", "PR"}) {
    EXPECT_TRUE(fields.count(kind)) << kind;
  }
  EXPECT_TRUE(tables.count("EMPMISC") && tables.count("EMPLOYMT") && tables.count("FORMULA"));
  EXPECT_TRUE(delimiters.count("F") && delimiters.count(","));
  EXPECT_EQ(One(File("export"), "SELECT DELIMITER FROM export WHERE SECTION='KDX' ORDER BY NO LIMIT 1"), ",");
  const std::string count = One(File("export"), "SELECT count(*) FROM export WHERE SECTION='KDX'");
  EXPECT_GE(std::stoi(count), 35);
  // Every plain column the template names exists in its source table.
  for (auto& r : QueryRows(File("export"), "SELECT \"Field Name\", coalesce(\"TABLE\",'') FROM export WHERE "
                                      "SECTION='KDX' AND \"Field Name\" GLOB '*[a-z]*'")) {
    const std::string table = r[1].empty() ? "employee" : r[1];
    EXPECT_EQ(One(File(table), "SELECT count(*) FROM pragma_table_info('" + table + "') WHERE name = '" + r[0] +
                                   "' COLLATE NOCASE"),
              "1")
        << r[0];
  }
}

TEST_F(SampleDatabaseTest, DayTransactionsAddUpToTheLeaveTotal) {
  auto rows = AttachedRows(File("empleave"), File("LEAV_TRX"),
                           "SELECT l.ID, l.DAY, sum(t.DAY) FROM empleave l JOIN other.LEAV_TRX t ON t.ID = l.ID "
                           "AND t.EMPCODE = l.EMPCODE AND t.LEAVE_CODE = l.LEAVE_CODE AND t.DATE BETWEEN "
                           "l.START_DATE AND l.END_DATE GROUP BY l.ID");
  ASSERT_FALSE(rows.empty());
  for (auto& r : rows) EXPECT_DOUBLE_EQ(std::stod(r[1]), std::stod(r[2])) << "leave " << r[0];
  // No transaction lies outside its leave's dates.
  EXPECT_EQ(AttachedRows(File("empleave"), File("LEAV_TRX"),
                         "SELECT count(*) FROM other.LEAV_TRX t JOIN empleave l ON t.ID = l.ID "
                         "WHERE t.DATE NOT BETWEEN l.START_DATE AND l.END_DATE")[0][0],
            "0");
}

TEST_F(SampleDatabaseTest, CalendarCoversEveryLeaveDayAndWalkedLeaveEqualsItsWorkingDays) {
  EXPECT_EQ(AttachedRows(File("empleave"), File("EMP_CLD"),
                         "WITH RECURSIVE d(id, emp, day, last) AS (SELECT ID, EMPCODE, START_DATE, END_DATE FROM "
                         "empleave UNION ALL SELECT id, emp, date(day, '+1 day'), last FROM d WHERE day < last) "
                         "SELECT count(*) FROM d WHERE NOT EXISTS (SELECT 1 FROM other.EMP_CLD c WHERE "
                         "c.EMP_NO = d.emp AND c.DATE = d.day)")[0][0],
            "0");
  // A multi-day leave without transactions is walked over the calendar: its
  // DAY is the sum of its full (1) and half (0.5) working days.
  auto rows = AttachedRows(File("empleave"), File("EMP_CLD"),
                           "SELECT l.ID, l.DAY, sum(CASE c.WORKCODE WHEN 'F' THEN 1.0 WHEN 'H' THEN 0.5 ELSE 0 END) "
                           "FROM empleave l JOIN other.EMP_CLD c ON c.EMP_NO = l.EMPCODE AND c.DATE BETWEEN "
                           "l.START_DATE AND l.END_DATE WHERE l.END_DATE > l.START_DATE GROUP BY l.ID");
  auto with_trx = AttachedRows(File("empleave"), File("LEAV_TRX"), "SELECT DISTINCT ID FROM other.LEAV_TRX");
  std::set<std::string> has_trx;
  for (auto& r : with_trx) has_trx.insert(r[0]);
  int walked = 0;
  for (auto& r : rows) {
    if (has_trx.count(r[0])) continue;
    ++walked;
    EXPECT_DOUBLE_EQ(std::stod(r[1]), std::stod(r[2])) << "leave " << r[0];
  }
  EXPECT_GT(walked, 0);
  std::set<std::string> codes;
  for (auto& r : QueryRows(File("EMP_CLD"), "SELECT DISTINCT WORKCODE FROM EMP_CLD")) codes.insert(r[0]);
  EXPECT_TRUE(codes.count("F") && codes.count("H") && codes.count("R"));
}

TEST_F(SampleDatabaseTest, LeaveOfTheGenerationDayComesInEveryShape) {
  const fs::path leave = File("empleave");
  auto count = [&](const std::string& where) {
    return std::stoi(AttachedRows(leave, File("LEAV_TRX"),
                                  "SELECT count(*) FROM empleave l WHERE aprroved IN ('Y','Z') AND "
                                  "MODIFIED_DATE = '2010-03-24' AND " + where)[0][0]);
  };
  const std::string has_trx = "EXISTS (SELECT 1 FROM other.LEAV_TRX t WHERE t.ID = l.ID)";
  EXPECT_GT(count("START_DATE = END_DATE AND " + has_trx), 0);
  EXPECT_GT(count("START_DATE = END_DATE AND NOT " + has_trx), 0);
  EXPECT_GT(count("START_DATE < END_DATE AND " + has_trx), 0);
  EXPECT_GT(count("START_DATE < END_DATE AND NOT " + has_trx), 0);
  EXPECT_GT(count("EXISTS (SELECT 1 FROM other.LEAV_TRX t WHERE t.ID = l.ID AND t.SHIFT = 'S1')"), 0);
  EXPECT_GT(count("EXISTS (SELECT 1 FROM other.LEAV_TRX t WHERE t.ID = l.ID AND t.SHIFT = 'X9')"), 0);
  EXPECT_GT(count("LEAVE_CODE = 'UL'"), 0);  // not in CODE category LEA
  // The summary counts the leave the leave-day export selects: that of people
  // in the employee table.
  EXPECT_EQ(count("EMPCODE LIKE 'E%'"), summary_.leaves_modified_today);
  EXPECT_GT(count("EMPCODE LIKE 'X%'"), 0);
  // Some leave is not approved, some was modified before the generation day.
  EXPECT_NE(One(leave, "SELECT count(*) FROM empleave WHERE aprroved NOT IN ('Y','Z') OR aprroved IS NULL"), "0");
  EXPECT_NE(One(leave, "SELECT count(*) FROM empleave WHERE MODIFIED_DATE < '2010-03-24'"), "0");
  EXPECT_NE(One(leave, "SELECT count(*) FROM empleave WHERE APPROVED_DATE = '2010-03-24' AND "
                       "MODIFIED_DATE < '2010-03-24'"),
            "0");
}

TEST_F(SampleDatabaseTest, PayrollParametersHoldSeveralYearsAndAnAddressWithAComma) {
  EXPECT_EQ(One(File("PAYPARA1"), "SELECT group_concat(YEAR, ',') FROM PAYPARA1"), "2008,2009,2010");
  EXPECT_NE(One(File("PAYPARA1"), "SELECT CADDR1 FROM PAYPARA1").find(','), std::string::npos);
}

// A fixed number of leave records selected by the leave-day export, over
// employees of the cyclic and of the random kind.
class SampleSelectedLeaveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder();
    SampleOptions options;
    options.employees = 90;
    options.selected_leaves = 501;
    options.seed = 7;
    options.sealed = false;
    options.today = kToday;
    std::string error;
    ASSERT_TRUE(GenerateSampleDatabase(folder_->path().string(), options, &summary_, &error)) << error;
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  // Selected leave records matching `where` (l is empleave; x.LEAV_TRX and
  // e.employee are attached).
  static int Selected(const std::string& where) {
    const fs::path dir = folder_->path();
    return std::stoi(QueryRows(dir / "empleave.adt",
                               "SELECT count(*) FROM empleave l WHERE aprroved IN ('Y','Z') AND MODIFIED_DATE = "
                               "'2010-03-24' AND EMPCODE IN (SELECT emp_no FROM e.employee) AND " + where,
                               {{(dir / "LEAV_TRX.adt").string(), "x"}, {(dir / "employee.adt").string(), "e"}})[0][0]);
  }
  static inline TempFolder* folder_ = nullptr;
  static inline SampleSummary summary_;
};

TEST_F(SampleSelectedLeaveTest, ExactlyTheAskedNumberIsSelectedHalfOfItSplitIntoDayTransactions) {
  const std::string has_trx = "EXISTS (SELECT 1 FROM x.LEAV_TRX t WHERE t.ID = l.ID)";
  EXPECT_EQ(Selected("1"), 501);
  EXPECT_EQ(summary_.leaves_modified_today, 501);
  EXPECT_EQ(Selected(has_trx), 251);
  EXPECT_GT(Selected("START_DATE = END_DATE AND " + has_trx), 0);
  EXPECT_GT(Selected("START_DATE = END_DATE AND NOT " + has_trx), 0);
  EXPECT_GT(Selected("START_DATE < END_DATE AND " + has_trx), 0);
  EXPECT_GT(Selected("START_DATE < END_DATE AND NOT " + has_trx), 0);
  EXPECT_GT(Selected("aprroved = 'Z'"), 0);
  EXPECT_GT(Selected("aprroved = 'Y'"), 0);
  // Spread over every employee, the employees' own leave still written.
  const fs::path leave = folder_->path() / "empleave.adt";
  EXPECT_EQ(One(leave, "SELECT count(DISTINCT EMPCODE) FROM empleave WHERE EMPCODE LIKE 'E%'"), "90");
  EXPECT_NE(One(leave, "SELECT count(*) FROM empleave WHERE MODIFIED_DATE < '2010-03-24'"), "0");
}

TEST_F(SampleSelectedLeaveTest, TransactionsTallyAndWalkedLeaveEqualsItsCalendarWorkingDays) {
  const fs::path leave = folder_->path() / "empleave.adt";
  auto rows = AttachedRows(leave, folder_->path() / "LEAV_TRX.adt",
                           "SELECT l.ID, l.DAY, sum(t.DAY) FROM empleave l JOIN other.LEAV_TRX t ON t.ID = l.ID "
                           "AND t.EMPCODE = l.EMPCODE AND t.LEAVE_CODE = l.LEAVE_CODE AND t.DATE BETWEEN "
                           "l.START_DATE AND l.END_DATE GROUP BY l.ID");
  ASSERT_GE(rows.size(), 251u);
  for (auto& r : rows) EXPECT_DOUBLE_EQ(std::stod(r[1]), std::stod(r[2])) << "leave " << r[0];
  std::set<std::string> has_trx;
  for (auto& r : QueryRows(folder_->path() / "LEAV_TRX.adt", "SELECT DISTINCT ID FROM LEAV_TRX")) has_trx.insert(r[0]);
  int walked = 0;
  std::set<std::string> codes;
  for (auto& r : AttachedRows(leave, folder_->path() / "EMP_CLD.ADT",
                              "SELECT l.ID, l.DAY, sum(CASE c.WORKCODE WHEN 'F' THEN 1.0 WHEN 'H' THEN 0.5 ELSE 0 "
                              "END), count(c.DATE), julianday(l.END_DATE) - julianday(l.START_DATE) + 1, "
                              "group_concat(DISTINCT c.WORKCODE) FROM empleave l LEFT JOIN other.EMP_CLD c ON "
                              "c.EMP_NO = l.EMPCODE AND c.DATE BETWEEN l.START_DATE AND l.END_DATE "
                              "WHERE l.END_DATE > l.START_DATE GROUP BY l.ID")) {
    EXPECT_EQ(std::stod(r[3]), std::stod(r[4])) << "calendar days of leave " << r[0];
    if (has_trx.count(r[0])) continue;
    ++walked;
    EXPECT_DOUBLE_EQ(std::stod(r[1]), std::stod(r[2])) << "leave " << r[0];
    for (size_t from = 0; from <= r[5].size();) {
      const size_t comma = std::min(r[5].find(',', from), r[5].size());
      codes.insert(r[5].substr(from, comma - from));
      from = comma + 1;
    }
  }
  EXPECT_GE(walked, 160);
  EXPECT_TRUE(codes.count("F") && codes.count("H") && codes.count("R"));
}

class SampleDeterminismTest : public ::testing::Test {
 protected:
  static std::map<std::string, std::vector<std::vector<std::string>>> Generate(const fs::path& folder, uint64_t seed,
                                                                               CivilDate today) {
    tool_test::GenerateSample(folder.string(), 120, false, seed, nullptr, today);
    std::map<std::string, std::vector<std::vector<std::string>>> dump;
    for (const SampleTable& t : SampleTables()) {
      dump[t.name] = QueryRows(folder / t.file_name, "SELECT * FROM \"" + t.name + "\" ORDER BY rowid");
    }
    return dump;
  }
};

TEST_F(SampleDeterminismTest, SameSeedAndDayGiveTheSameDataAndAnotherSeedDoesNot) {
  TempFolder a, b, c;
  const auto first = Generate(a.path(), 42, kToday);
  const auto second = Generate(b.path(), 42, kToday);
  const auto third = Generate(c.path(), 43, kToday);
  EXPECT_EQ(first, second);
  EXPECT_NE(first.at("employee"), third.at("employee"));
}

TEST_F(SampleDeterminismTest, DatesMoveWithTheGenerationDay) {
  TempFolder a;
  Generate(a.path(), 42, CivilDate{2024, 1, 15});
  EXPECT_EQ(One(a.path() / "PAYPARA1.adt", "SELECT max(YEAR) FROM PAYPARA1"), "2024");
  EXPECT_NE(One(a.path() / "empleave.adt", "SELECT count(*) FROM empleave WHERE MODIFIED_DATE = '2024-01-15'"), "0");
  EXPECT_EQ(One(a.path() / "empleave.adt", "SELECT count(*) FROM empleave WHERE MODIFIED_DATE > '2024-01-15'"), "0");
}

class SampleFolderTest : public ::testing::Test {};

TEST_F(SampleFolderTest, RefusesAFolderThatAlreadyHoldsOneOfTheTablesAndLeavesItAlone) {
  TempFolder folder;
  fs::create_directories(folder.path());
  {
    std::FILE* f = std::fopen((folder.path() / "EMPLOYEE.ADT").c_str(), "w");
    std::fputs("precious", f);
    std::fclose(f);
  }
  SampleOptions options;
  options.employees = 5;
  options.sealed = false;
  SampleSummary summary;
  std::string error;
  EXPECT_FALSE(GenerateSampleDatabase(folder.path().string(), options, &summary, &error));
  EXPECT_NE(error.find("employee"), std::string::npos) << error;
  EXPECT_EQ(fs::file_size(folder.path() / "EMPLOYEE.ADT"), 8u);
  EXPECT_FALSE(fs::exists(folder.path() / "CODE.ADT"));
}

TEST_F(SampleFolderTest, RefusesANegativeEmployeeCount) {
  TempFolder folder;
  SampleOptions options;
  options.employees = -1;
  SampleSummary summary;
  std::string error;
  EXPECT_FALSE(GenerateSampleDatabase(folder.path().string(), options, &summary, &error));
  EXPECT_NE(error.find("-1"), std::string::npos);
}

TEST_F(SampleFolderTest, RefusesMoreSelectedLeaveThanTheEmployeesCanTakeNamingTheCount) {
  TempFolder folder;
  SampleOptions options;
  options.employees = 3;
  options.selected_leaves = 301;
  options.sealed = false;
  SampleSummary summary;
  std::string error;
  EXPECT_FALSE(GenerateSampleDatabase(folder.path().string(), options, &summary, &error));
  EXPECT_NE(error.find("301"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(folder.path() / "employee.adt"));
  options.selected_leaves = 300;
  EXPECT_TRUE(GenerateSampleDatabase(folder.path().string(), options, &summary, &error)) << error;
  EXPECT_EQ(summary.leaves_modified_today, 300);
}

TEST_F(SampleFolderTest, SealsExactlyThePasswordCarryingTablesWithTheTablePassword) {
  TempFolder folder;
  tool_test::GenerateSample(folder.path().string(), 20, true);
  std::set<std::string> sealed;
  for (const SampleTable& t : SampleTables()) {
    if (IsSealedFile((folder.path() / t.file_name).string())) sealed.insert(t.name);
  }
  EXPECT_EQ(sealed, (std::set<std::string>{"employee", "EMP_PROS", "EMP_ALW", "PAYPARA1", "EMPLOYMT", "EMPMISC"}));
  sqlite3* db = nullptr;
  ASSERT_TRUE(Succeeds(OpenSealedImage((folder.path() / "employee.adt").string(), kSampleTablePassword, &db)));
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM employee", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 20);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  engine::Status refused = OpenSealedImage((folder.path() / "employee.adt").string(), "WRONG", &db);
  EXPECT_FALSE(refused.ok());
}

class CivilDateTest : public ::testing::Test {};

TEST_F(CivilDateTest, RoundTripsAcrossLeapYearsAndCenturies) {
  for (int64_t d = DaysFromCivil({1899, 12, 30}); d < DaysFromCivil({2101, 1, 1}); d += 17) {
    EXPECT_EQ(DaysFromCivil(CivilFromDays(d)), d);
  }
  EXPECT_EQ(IsoDate(CivilFromDays(DaysFromCivil({2000, 2, 28}) + 1)), "2000-02-29");
  EXPECT_EQ(IsoDate(CivilFromDays(DaysFromCivil({1900, 2, 28}) + 1)), "1900-03-01");
  EXPECT_EQ(DaysFromCivil({1970, 1, 1}), 0);
}

}  // namespace
