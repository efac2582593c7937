// The whole program, end to end, on generated databases: the unattended run
// and the leave CSV mode, on sealed and unsealed free tables and on a
// dictionary, checked against what the database says the files must hold.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/storage.h"
#include "tests/engine/pg_test_support.h"
#include "tests/tools/tool_test_support.h"
#include "tools/database_check.h"
#include "tools/sample_database.h"
#include "tools/server_database.h"
#include "tools/user_tables.h"
#include "util/ascii.h"
#include "tests/support/status_assertions.h"

namespace fs = std::filesystem;
using tool_test::ReadFile;
using tool_test::TempFolder;
using tool_test::WriteFile;

namespace {

constexpr int kEmployees = 400;
constexpr uint64_t kSeed = 11;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));  // an unterminated last line: reported by the callers
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> fields;
  std::stringstream s(line);
  std::string field;
  while (std::getline(s, field, sep)) fields.push_back(field);
  if (!line.empty() && line.back() == sep) fields.push_back("");
  return fields;
}

// Runs one query on the unsealed twin of the database, with the tables it
// names as "<table>_db.<table>" attached.
std::vector<std::vector<std::string>> Query(const fs::path& folder, const std::string& sql) {
  std::vector<tool_test::Attached> attached;
  for (const SampleTable& t : SampleTables()) {
    if (sql.find(t.name + "_db.") != std::string::npos) {
      attached.push_back({(folder / t.file_name).string(), t.name + "_db"});
    }
  }
  return tool_test::QueryRows(":memory:", sql, attached, "");
}

struct ProgramRun {
  int status = -1;
  std::string output;  // what the program wrote on its standard output and error
};

class EndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempFolder();
    today_ = LocalToday();
    SampleOptions options;
    options.employees = kEmployees;
    options.seed = kSeed;
    options.today = today_;
    std::string error;
    options.sealed = true;
    ASSERT_TRUE(GenerateSampleDatabase(*root_ / "sealed", options, &summary_, &error)) << error;
    options.sealed = false;
    SampleSummary summary;
    ASSERT_TRUE(GenerateSampleDatabase(*root_ / "plain", options, &summary, &error)) << error;
    fs::create_directories(root_->path() / "dict");
    ASSERT_TRUE(GenerateSampleDictionary(*root_ / "dict/HR.ADD", options, "GLOVERUN4", "BRISKOLDENT", &summary,
                                         &error))
        << error;
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }

  void SetUp() override {
    const fs::path binary = fs::path(KDX_BIN_DIR) / "kdx-interface";
    ASSERT_TRUE(fs::exists(binary)) << binary << " is not built";
    // The program reads PAVRO.ini and writes LOG.TXT beside itself.
    program_dir_ = program_folder_.path() / "bin";
    out_ = program_folder_.path() / "out";
    fs::create_directories(program_dir_);
    fs::create_directories(out_);
    fs::copy_file(binary, program_dir_ / "kdx-interface");
  }

  static fs::path Plain() { return root_->path() / "plain"; }
  static fs::path Sealed() { return root_->path() / "sealed"; }
  static fs::path Dictionary() { return root_->path() / "dict" / "HR.ADD"; }

  void Configure(const fs::path& source, const std::string& leave_path) {
    WriteFile((program_dir_ / "PAVRO.ini").string(),
              fmt::format("[PATH]\nSOURCE_PATH={}\nEMPLOYEE_PATH={}\nLEAVE_PATH={}\n", source.string(),
                          (out_ / "employee.txt").string(), leave_path));
  }

  // `read_only` names a folder the program sees mounted read-only.
  ProgramRun Start(const std::string& arguments, const fs::path& read_only = {}) {
    const fs::path log = program_folder_.path() / "run.log";
    // The time limit turns a program that waits for a user into a failure.
    std::string command = fmt::format("timeout 300 '{}' {}", (program_dir_ / "kdx-interface").string(), arguments);
    if (!read_only.empty()) {
      command = fmt::format("unshare -m --propagation private sh -c \"mount --bind '{0}' '{0}' && "
                            "mount -o remount,bind,ro '{0}' && exec {1}\"",
                            read_only.string(), command);
    }
    command += fmt::format(" </dev/null >'{}' 2>&1", log.string());
    const int rc = std::system(command.c_str());
    ProgramRun run;
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    run.output = ReadFile(log.string());
    return run;
  }

  // The unattended run with the leave-day file at out/leave.txt.
  ProgramRun Unattended(const fs::path& source) {
    Configure(source, (out_ / "leave.txt").string());
    return Start("--start-delay 0");
  }
  // The leave CSV mode with the CSV file in out/.
  ProgramRun LeaveCsv(const fs::path& source) {
    Configure(source, out_.string() + "/");
    return Start("--leave-csv");
  }

  std::string EmployeeFile() const { return ReadFile((out_ / "employee.txt").string()); }
  std::string LeaveFile() const { return ReadFile((out_ / "leave.txt").string()); }
  std::string Log() const { return ReadFile((program_dir_ / "LOG.TXT").string()); }
  std::string Today() const { return IsoDate(today_); }

  static inline TempFolder* root_ = nullptr;
  static inline CivilDate today_;
  static inline SampleSummary summary_;
  TempFolder program_folder_;
  fs::path program_dir_;
  fs::path out_;
};

TEST_F(EndToEndTest, UnattendedRunWritesOneLinePerCurrentEmployeeAndEveryLeaveDay) {
  const ProgramRun run = Unattended(Sealed());
  ASSERT_EQ(run.status, 0) << run.output;

  // One line per current employee, each ended by CR LF, in the employee
  // table's order, starting with the employee number.
  const std::string employees = EmployeeFile();
  ASSERT_GE(employees.size(), 2u);
  EXPECT_EQ(employees.substr(employees.size() - 2), "\r\n");
  const std::vector<std::string> lines = Lines(employees);
  const std::string month_start = Today().substr(0, 8) + "01";
  auto current = Query(Plain(), "SELECT emp_no FROM employee_db.employee WHERE TERMINATION_DATE IS NULL OR "
                                "TERMINATION_DATE >= '" + month_start + "' ORDER BY rowid");
  ASSERT_EQ(lines.size(), current.size());
  EXPECT_EQ(static_cast<int64_t>(lines.size()), summary_.current_employees);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Split(lines[i], ',')[0], current[i][0]) << lines[i];

  // Leave days: per employee, the day amounts written add up to the DAY of
  // the approved leave modified today (the generated leave tallies exactly),
  // and never more.
  std::map<std::string, double> written;
  for (const std::string& line : Lines(LeaveFile())) {
    const auto fields = Split(line, ',');
    ASSERT_GE(fields.size(), 7u) << line;
    written[fields[0]] += std::stod(fields[3]);
  }
  std::map<std::string, double> expected;
  for (auto& row : Query(Plain(), "SELECT l.EMPCODE, sum(l.DAY) FROM empleave_db.empleave l WHERE l.aprroved IN "
                                  "('Y','Z') AND l.MODIFIED_DATE = '" + Today() + "' AND EXISTS (SELECT 1 FROM "
                                  "employee_db.employee e WHERE e.emp_no = l.EMPCODE) GROUP BY l.EMPCODE")) {
    expected[row[0]] = std::stod(row[1]);
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(written.size(), expected.size());
  for (const auto& [employee, day] : expected) EXPECT_NEAR(written[employee], day, 1e-9) << employee;

  const std::vector<std::string> log = Lines(Log());
  ASSERT_EQ(log.size(), 1u) << Log();
  EXPECT_EQ(log[0].rfind("LEAVE DATA DOWNLOADED DATE : ", 0), 0u) << log[0];
  EXPECT_EQ(Log().substr(Log().size() - 2), "\r\n");
}

TEST_F(EndToEndTest, SealedUnsealedAndDictionaryDatabasesGiveTheSameFiles) {
  ASSERT_EQ(Unattended(Sealed()).status, 0);
  const std::string sealed_employees = EmployeeFile();
  const std::string sealed_leave = LeaveFile();
  const ProgramRun plain = Unattended(Plain());
  ASSERT_EQ(plain.status, 0) << plain.output;
  EXPECT_EQ(EmployeeFile(), sealed_employees);
  EXPECT_EQ(LeaveFile(), sealed_leave);
  const ProgramRun dictionary = Unattended(Dictionary());
  ASSERT_EQ(dictionary.status, 0) << dictionary.output;
  EXPECT_EQ(EmployeeFile(), sealed_employees);
  EXPECT_EQ(LeaveFile(), sealed_leave);
  // The same tables sealed as earlier releases sealed them (version 1, the
  // whole table in one ciphertext) give the same files too.
  const fs::path version1 = program_folder_.path() / "sealed-v1";
  fs::copy(Sealed(), version1, fs::copy_options::recursive);
  int resealed = 0;
  for (const auto& entry : fs::directory_iterator(version1)) {
    const std::string file = entry.path().string();
    if (SealedFormatVersion(file) != 2) continue;
    ASSERT_TRUE(UnsealFile(file, kSampleTablePassword).ok()) << file;
    ASSERT_TRUE(SealFileVersion1(file, kSampleTablePassword).ok()) << file;
    ++resealed;
  }
  EXPECT_GT(resealed, 0);
  const ProgramRun old_seal = Unattended(version1);
  ASSERT_EQ(old_seal.status, 0) << old_seal.output;
  EXPECT_EQ(EmployeeFile(), sealed_employees);
  EXPECT_EQ(LeaveFile(), sealed_leave);
}

// Every file of a database folder, and its bytes (a -shm only by its name:
// SQLite's readers write into it).
std::map<std::string, std::string> FolderSnapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    files[name] = name.ends_with("-shm") ? "" : ReadFile(entry.path().string());
  }
  return files;
}

// Both modes only read the database: its folder holds the same files with
// the same bytes afterwards, for sealed, plain and dictionary databases, for
// tables in WAL mode whose writer keeps a log of committed rows open, and in
// a folder the program may not write.
TEST_F(EndToEndTest, RunsLeaveEveryFileOfTheDatabaseAsItWas) {
  ASSERT_EQ(std::system("unshare -m --propagation private true"), 0) << "no mount namespace for the read-only case";
  const fs::path wal = program_folder_.path() / "wal";
  fs::copy(Plain(), wal, fs::copy_options::recursive);
  std::vector<sqlite3*> writers;
  for (const auto& entry : fs::directory_iterator(wal)) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(entry.path().c_str(), &db), SQLITE_OK);
    writers.push_back(db);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  ASSERT_EQ(sqlite3_exec(writers[0], "PRAGMA wal_autocheckpoint=0", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writers[0], ("CREATE TABLE IF NOT EXISTS x(y); DROP TABLE x;"), nullptr, nullptr, nullptr),
            SQLITE_OK);
  const struct {
    fs::path source;
    fs::path folder;
    bool read_only;
  } cases[] = {{Sealed(), Sealed(), false},       {Plain(), Plain(), false}, {Dictionary(), Dictionary().parent_path(), false},
               {wal, wal, false},                 {Sealed(), Sealed(), true}};
  for (const auto& c : cases) {
    const auto before = FolderSnapshot(c.folder);
    Configure(c.source, (out_ / "leave.txt").string());
    const ProgramRun unattended = Start("--start-delay 0", c.read_only ? c.folder : fs::path());
    EXPECT_EQ(unattended.status, 0) << c.source << c.read_only << unattended.output;
    Configure(c.source, out_.string() + "/");
    const ProgramRun csv = Start("--leave-csv", c.read_only ? c.folder : fs::path());
    EXPECT_EQ(csv.status, 0) << c.source << c.read_only << csv.output;
    EXPECT_TRUE(FolderSnapshot(c.folder) == before) << c.source << c.read_only;
  }
  for (sqlite3* db : writers) sqlite3_close(db);
}

TEST_F(EndToEndTest, LeaveCsvModeWritesTheDatedFileWithALinePerLeaveOrShiftedDay) {
  const ProgramRun run = LeaveCsv(Sealed());
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string name = fmt::format("LVDATA{:02d}{:02d}{:04d}.CSV", today_.day, today_.month, today_.year);
  ASSERT_TRUE(fs::exists(out_ / name)) << name << "\n" << run.output;
  const std::vector<std::string> lines = Lines(ReadFile((out_ / name).string()));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "EMP_NO,LVCODE,DESC,ENTRY_DATE,START_DATE,END_DATE,DAY,AMPM,TIMEIN,TIMEOUT,APPROVED");
  for (const std::string& line : lines) {
    EXPECT_GE(std::count(line.begin(), line.end(), ','), 10) << line;
  }
  // A leave approved today with a leave code of category LEA gives one line,
  // or one line per day transaction when one of them carries a shift.
  auto expected = Query(
      Plain(),
      "SELECT sum(CASE WHEN EXISTS (SELECT 1 FROM LEAV_TRX_db.LEAV_TRX t WHERE t.ID = l.ID AND t.SHIFT <> '') "
      "THEN (SELECT count(*) FROM LEAV_TRX_db.LEAV_TRX t WHERE t.ID = l.ID) ELSE 1 END) FROM empleave_db.empleave l "
      "WHERE l.aprroved IN ('Y','Z') AND l.APPROVED_DATE = '" + Today() + "' AND l.LEAVE_CODE IN (SELECT CODE FROM "
      "CODE_db.CODE WHERE CATEGORY = 'LEA')");
  EXPECT_EQ(std::to_string(lines.size() - 1), expected[0][0]);
  // The day line of a transaction of shift S1 (AM, 08:30 to 12:30: a
  // date-and-time and a time column), and of shift X9, which has no
  // definition (three empty fields).
  auto shifted = [&](const std::string& shift) {
    auto rows = Query(Plain(), "SELECT t.EMPCODE, replace(t.DATE, '-', '') FROM LEAV_TRX_db.LEAV_TRX t JOIN "
                               "empleave_db.empleave l ON l.ID = t.ID WHERE t.SHIFT = '" + shift + "' AND l.aprroved "
                               "IN ('Y','Z') AND l.APPROVED_DATE = '" + Today() + "' AND l.LEAVE_CODE IN (SELECT CODE "
                               "FROM CODE_db.CODE WHERE CATEGORY = 'LEA') LIMIT 1");
    EXPECT_EQ(rows.size(), 1u) << shift;
    std::vector<std::string> fields;
    for (const std::string& line : lines) {
      auto f = Split(line, ',');
      if (!rows.empty() && f.size() == 11 && f[0] == rows[0][0] && f[4] == rows[0][1] && f[5] == rows[0][1]) fields = f;
    }
    return fields;
  };
  const auto s1 = shifted("S1");
  ASSERT_EQ(s1.size(), 11u);
  EXPECT_EQ(s1[7] + "|" + s1[8] + "|" + s1[9], "AM|0830|1230");
  const auto x9 = shifted("X9");
  ASSERT_EQ(x9.size(), 11u);
  EXPECT_EQ(x9[7] + "|" + x9[8] + "|" + x9[9], "||");
  const std::vector<std::string> log = Lines(Log());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("LEAVE DATA DOWNLOADED DATE : ", 0), 0u);
}

TEST_F(EndToEndTest, AWrongSourcePathFailsTheRunAndNamesThePath) {
  const fs::path missing = root_->path() / "no_such_database";
  const ProgramRun run = Unattended(missing);
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.output.find(missing.string()), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(program_dir_ / "LOG.TXT"));
  EXPECT_FALSE(fs::exists(out_ / "leave.txt"));
}

TEST_F(EndToEndTest, ADatabaseSealedWithAnotherPasswordFailsTheRunInsteadOfWritingGarbage) {
  TempFolder other;
  tool_test::GenerateSample(other.path().string(), 10, false, 1, nullptr, today_);
  ASSERT_TRUE(Succeeds(SealFile((other.path() / "EMPMISC.ADT").string(), "OTHER0000")));
  const ProgramRun run = Unattended(other.path());
  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("EMPMISC"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(program_dir_ / "LOG.TXT"));
}

}  // namespace

// The same sample on a PostgreSQL server (KDX_TEST_PG_URI; see
// tests/engine/pg_test_support.h): a database of its own per test.
class ServerEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    const char* uri = std::getenv("KDX_TEST_PG_URI");
    if (uri == nullptr || *uri == '\0') {
      if (std::getenv("KDX_TEST_PG_REQUIRED") != nullptr || std::getenv("CI") != nullptr) {
        FAIL() << "KDX_TEST_PG_URI is not set, and server tests are required here";
      }
      GTEST_SKIP() << "no PostgreSQL server: set KDX_TEST_PG_URI";
    }
    admin_ = pg_test::Connect(uri);
    database_ = fmt::format("kdx_e2e_{}_{}", getpid(), ++counter_);
    pg_test::RunSql(admin_.get(), "CREATE DATABASE " + database_);
    uri_ = pg_test::WithDatabase(uri, database_);
  }
  void TearDown() override {
    if (admin_ != nullptr && !database_.empty()) {
      pg_test::RunSql(admin_.get(), "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    }
  }
  void WriteSample() {
    SampleOptions options;
    options.employees = kEmployees;
    options.seed = kSeed;
    options.today = today_;
    SampleSummary summary;
    std::string error;
    ASSERT_TRUE(GenerateSampleOnServer(uri_, options, &summary, &error)) << error;
  }
  // The URI's password, which no output may show.
  std::string Password() const {
    const size_t at = uri_.find('@');
    const size_t colon = uri_.rfind(':', at);
    return uri_.substr(colon + 1, at - colon - 1);
  }

  static inline int counter_ = 0;
  pg_test::Conn admin_;
  std::string database_;
  std::string uri_;
};

// The same edits on the folder and on the server: the first employee's
// allowance rows once more (amounts 111 more), so that two rows of one code
// are in effect; a fixed-width template field of 4 bytes for the employee's
// name; and names of 2-byte characters, which that field cuts inside one.
const struct {
  const char* file;
  const char* sql;
} kSameEdits[] = {
    {"EMP_ALW.adt",
     "INSERT INTO emp_alw (emp_no, allow_code, effdate, enddate, start_mth, end_mth, amt) "
     "SELECT emp_no, allow_code, effdate, enddate, start_mth, end_mth, amt + 111 FROM emp_alw "
     "WHERE emp_no = (SELECT min(emp_no) FROM emp_alw)"},
    {"export.adt", "INSERT INTO export (section, no, \"field name\", delimiter, size) VALUES ('KDX', 999, 'emp_name', 'F', 4)"},
    {"employee.adt",
     "UPDATE employee SET emp_name = 'Jos\xC3\xA9 M\xC3\xBCller' WHERE emp_no IN "
     "(SELECT emp_no FROM employee ORDER BY emp_no LIMIT 40)"},
};

TEST_F(ServerEndToEndTest, TheSameSampleOnAServerGivesByteIdenticalFiles) {
  WriteSample();
  const fs::path folder = program_folder_.path() / "edited";
  fs::copy(Plain(), folder, fs::copy_options::recursive);
  pg_test::Conn db = pg_test::Connect(uri_);
  for (const auto& edit : kSameEdits) {
    tool_test::Exec((folder / edit.file).string(), edit.sql);
    pg_test::RunSql(db.get(), edit.sql);
  }
  // Rows of every table updated without a change, which moves them on the
  // server (the first employee's allowance rows after their copies too), and
  // tables and columns the server spells in upper case.
  for (const SampleTable& t : SampleTables()) {
    const std::string column = QuoteSqlName(ToLowerAscii(t.columns[0].name));
    pg_test::RunSql(db.get(), "UPDATE " + QuoteSqlName(ToLowerAscii(t.name)) + " SET " + column + " = " + column +
                                  " WHERE kdx_order % 3 = 1");
  }
  pg_test::RunSql(db.get(), "ALTER TABLE employee RENAME TO \"EMPLOYEE\"; "
                            "ALTER TABLE \"EMPLOYEE\" RENAME COLUMN termination_date TO \"TERMINATION_DATE\"; "
                            "ALTER TABLE empleave RENAME COLUMN remark1 TO \"REMARK1\"; "
                            "ALTER TABLE leav_trx RENAME TO \"LEAV_TRX\"; "
                            "ALTER TABLE \"LEAV_TRX\" RENAME COLUMN empcode TO \"EMPCODE\"; "
                            "ALTER TABLE export RENAME COLUMN section TO \"SECTION\"");
  // A server that has gathered its statistics, as a live one has: its
  // planner then prefers hash joins, which would reorder the leave rows.
  pg_test::RunSql(db.get(), "ANALYZE");
  ASSERT_EQ(Unattended(folder).status, 0);
  const std::string employees = EmployeeFile();
  const std::string leave = LeaveFile();
  ASSERT_NE(employees.find("Jos \r\n"), std::string::npos);  // the name cut to 4 bytes of whole characters
  const ProgramRun server = Unattended(uri_);
  ASSERT_EQ(server.status, 0) << server.output;
  EXPECT_EQ(EmployeeFile(), employees);
  EXPECT_EQ(LeaveFile(), leave);
  EXPECT_EQ(server.output.find(Password()), std::string::npos) << server.output;

  const std::string csv_name = fmt::format("LVDATA{:02}{:02}{:04}.CSV", today_.day, today_.month, today_.year);
  ASSERT_EQ(LeaveCsv(folder).status, 0);
  const std::string csv = ReadFile((out_ / csv_name).string());
  ASSERT_FALSE(csv.empty());
  fs::remove(out_ / csv_name);
  const ProgramRun server_csv = LeaveCsv(uri_);
  ASSERT_EQ(server_csv.status, 0) << server_csv.output;
  EXPECT_EQ(ReadFile((out_ / csv_name).string()), csv);
}

TEST_F(ServerEndToEndTest, TheSiteCheckPassesOnTheSameSampleInAFolderAndOnAServer) {
  WriteSample();
  for (const std::string& source : {Plain().string(), uri_}) {
    for (const char* mode : {"--check", "--check --leave-csv"}) {
      Configure(source, mode[7] == '\0' ? (out_ / "leave.txt").string() : out_.string() + "/");
      const ProgramRun check = Start(mode);
      EXPECT_EQ(check.status, 0) << source << " " << mode << "\n" << check.output;
      EXPECT_NE(check.output.find("result: no problems"), std::string::npos) << check.output;
    }
  }
}

TEST_F(ServerEndToEndTest, ATableWithoutAStableOrderIsRefusedByTheRunTheSiteCheckAndKdxDbCheck) {
  WriteSample();
  pg_test::Conn db = pg_test::Connect(uri_);
  pg_test::RunSql(db.get(), "ALTER TABLE emp_alw DROP COLUMN kdx_order");
  const ProgramRun run = Unattended(uri_);
  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Table emp_alw on PostgreSQL server"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("has no stable row order"), std::string::npos) << run.output;
  const ProgramRun check = Start("--check");
  EXPECT_NE(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("PROBLEM  TableEmpAllowance: Table emp_alw on PostgreSQL server"), std::string::npos)
      << check.output;
  const CheckReport report = CheckDatabase(uri_, "");
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].where, "table emp_alw");
  EXPECT_NE(report.problems[0].fix.find("ADD COLUMN kdx_order bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY"),
            std::string::npos)
      << report.problems[0].fix;
}

TEST_F(ServerEndToEndTest, AMalformedUriStopsTheRunAndTheCheckShowingNoPartOfIt) {
  WriteSample();
  // The password with a raw "/": libpq would read its pieces as host, port
  // and database.
  const std::string uri = uri_.substr(0, uri_.rfind(':', uri_.find('@')) + 1) + "Pa55wd/Se3cret" +
                          uri_.substr(uri_.find('@'));
  const ProgramRun run = Unattended(uri);
  EXPECT_NE(run.status, 0) << run.output;
  const ProgramRun check = Start("--check");
  EXPECT_NE(check.status, 0) << check.output;
  for (const ProgramRun& shown : {run, check}) {
    EXPECT_NE(shown.output.find("malformed"), std::string::npos) << shown.output;
    for (const char* piece : {"Pa55", "Se3c"}) EXPECT_EQ(shown.output.find(piece), std::string::npos) << shown.output;
  }
}

TEST_F(ServerEndToEndTest, ARefusedLoginStopsTheRunNamingTheServerButNotThePassword) {
  WriteSample();
  const std::string wrong = uri_.substr(0, uri_.rfind(':', uri_.find('@')) + 1) + "Wr0ngSecret" +
                            uri_.substr(uri_.find('@'));
  const ProgramRun run = Unattended(wrong);
  EXPECT_EQ(run.status, 69) << run.output;
  EXPECT_NE(run.output.find("database " + database_), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Wr0ngSecret"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(out_ / "employee.txt") && !EmployeeFile().empty());
}

TEST_F(ServerEndToEndTest, SampleRefusesADatabaseThatHoldsATableAndImportIsAllOrNothing) {
  WriteSample();
  SampleOptions options;
  SampleSummary summary;
  std::string error;
  EXPECT_FALSE(GenerateSampleOnServer(uri_, options, &summary, &error));
  EXPECT_NE(error.find("already holds a table"), std::string::npos) << error;
  EXPECT_EQ(error.find(Password()), std::string::npos) << error;

  const std::string before = pg_test::RunSql(admin_.get(), "SELECT 1");  // the admin connection still works
  pg_test::Conn db = pg_test::Connect(uri_);
  const std::string count = pg_test::RunSql(db.get(), "SELECT count(*) FROM code");
  TempFolder csv;
  WriteFile((csv.path() / "codes.csv").string(), "CATEGORY,CODE,desc\nLEA,QQ1,first\nLEA,QQ1,again\n");
  int64_t rows = 0;
  std::vector<std::string> errors;
  EXPECT_FALSE(ImportCsvIntoServerTable(uri_, "CODE.ADT", (csv.path() / "codes.csv").string(), &rows, &errors));
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors.front().find("line 3"), std::string::npos) << errors.front();
  EXPECT_EQ(pg_test::RunSql(db.get(), "SELECT count(*) FROM code"), count);  // nothing added
  WriteFile((csv.path() / "codes.csv").string(), "CATEGORY,CODE,desc\nLEA,QQ1,first\nLEA,QQ2,second\n");
  ASSERT_TRUE(ImportCsvIntoServerTable(uri_, "code", (csv.path() / "codes.csv").string(), &rows, &errors));
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(pg_test::RunSql(db.get(), "SELECT rtrim(\"desc\") FROM code WHERE code = 'QQ2'"), "second");
  EXPECT_EQ(before, "1");
}

TEST_F(ServerEndToEndTest, AMissingServerTableStopsTheRunNamingItButNotThePassword) {
  WriteSample();
  pg_test::Conn db = pg_test::Connect(uri_);
  pg_test::RunSql(db.get(), "DROP TABLE emp_cld");
  const ProgramRun run = Unattended(uri_);
  EXPECT_EQ(run.status, 69) << run.output;
  EXPECT_NE(run.output.find("EMP_CLD"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(Password()), std::string::npos) << run.output;
}
