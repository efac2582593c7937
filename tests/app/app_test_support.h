// Helpers of the job-control tests: a scratch folder, a small real HR
// database (one SQLite file per table, as the engine reads them, optionally
// sealed with the table password), PAVRO.ini, and a way to start the built
// program and wait for it.
#ifndef KDX_TESTS_APP_APP_TEST_SUPPORT_H_
#define KDX_TESTS_APP_APP_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage.h"
#include "exports/credentials.h"
#include "tests/support/hr_site_schema.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/status_assertions.h"

namespace app_test {

namespace fs = std::filesystem;

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

using test_support::ScratchFolder;

// Today's local date as 'YYYY-MM-DD', the storage form of DATE columns.
inline std::string TodayIso() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
  return text;
}

// A small HR database in a folder of free tables.
class HrDatabase {
 public:
  explicit HrDatabase(std::string folder) : folder_(std::move(folder)) { fs::create_directories(folder_); }

  const std::string& Folder() const { return folder_; }
  std::string File(const std::string& name) const { return (fs::path(folder_) / name).string(); }

  void Sql(const std::string& file, const std::string& sql) const {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(File(file).c_str(), &db), SQLITE_OK) << file;
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text << " in: " << sql;
  }

  // Every table the unattended run and the leave CSV run read.
  void CreateTables() const {
    for (const HrSiteTable& table : kHrSiteTables) Sql(table.file, table.sql);
  }

  // A complete little site: `employees` employees E00001..., each with a
  // payroll company, a career row, an allowance, an employment and a misc
  // row; a template reading one value from each of those tables; and one
  // approved one-day leave of E00001 modified today.
  void FillSite(int employees) const {
    Sql("PAYPARA1.ADT", "INSERT INTO PAYPARA1 VALUES (" + TodayIso().substr(0, 4) + ",'ACME','','','','')");
    Sql("EXPORT.ADT",
        "INSERT INTO EXPORT (SECTION, NO, \"Field Name\", \"TABLE\", MAPFIELD2, DELIMITER) VALUES"
        " ('KDX',1,'emp_no','','','|'), ('KDX',2,'COMPANY','','','|'), ('KDX',3,'NEW_SALARY','','','|'),"
        " ('KDX',4,'ALLOW_CODE','','TRANS','|'), ('KDX',5,'DEPT','EMPLOYMT','','|'),"
        " ('KDX',6,'HOBBY','EMPMISC','','|')");
    std::string emp = "BEGIN;", pros = "BEGIN;", alw = "BEGIN;", mt = "BEGIN;", misc = "BEGIN;";
    for (int i = 1; i <= employees; ++i) {
      const std::string no = "'" + EmployeeNo(i) + "'";
      emp += "INSERT INTO EMPLOYEE (EMP_NO, NAME, PAY_TYPE, BATCH_NO) VALUES (" + no + ",'N','D','B1');";
      pros += "INSERT INTO EMP_PROS (EMP_CODE, PAY_EFFECTIVE_DATE, NEW_SALARY) VALUES (" + no +
              ",'2001-01-01',800);";
      alw += "INSERT INTO EMP_ALW VALUES (" + no + ",'TRANS','2001-01-01',NULL,NULL,NULL,50);";
      mt += "INSERT INTO EMPLOYMT VALUES (" + no + ",'SALES',NULL);";
      misc += "INSERT INTO EMPMISC VALUES (" + no + ",'golf','');";
    }
    Sql("EMPLOYEE.ADT", emp + "COMMIT;");
    Sql("EMP_PROS.ADT", pros + "COMMIT;");
    Sql("EMP_ALW.ADT", alw + "COMMIT;");
    Sql("EMPLOYMT.ADT", mt + "COMMIT;");
    Sql("EMPMISC.ADT", misc + "COMMIT;");
    Sql("EMPLEAVE.ADT", "INSERT INTO EMPLEAVE VALUES ('" + EmployeeNo(1) + "',1,'AL','" + TodayIso() + "','" +
                            TodayIso() + "',1,'AM','" + TodayIso() + "','Y',NULL,'note','N',NULL,NULL)");
  }

  // The record FillSite's template gives for employee `i`.
  static std::string ExpectedRecord(int i) { return EmployeeNo(i) + "|ACME|100.00|50.00|SALES|golf|"; }
  static std::string EmployeeNo(int i) {
    std::string n = std::to_string(i);
    return "E" + std::string(n.size() < 5 ? 5 - n.size() : 0, '0') + n;
  }

  // Seals the tables that carry the table password at the site.
  void SealProtectedTables() const {
    for (const char* file : {"EMPLOYEE.ADT", "EMP_PROS.ADT", "EMP_ALW.ADT", "PAYPARA1.ADT", "EMPLOYMT.ADT",
                             "EMPMISC.ADT"}) {
      ASSERT_TRUE(Succeeds(SealFile(File(file), kTablePassword))) << file;
    }
  }

 private:
  std::string folder_;
};

inline void WritePavroIni(const std::string& program_folder, const std::string& source,
                          const std::string& employee_path, const std::string& leave_path) {
  WriteBytes((fs::path(program_folder) / "PAVRO.ini").string(),
             "[PATH]\r\nSOURCE_PATH=" + source + "\r\nEMPLOYEE_PATH=" + employee_path + "\r\nLEAVE_PATH=" +
                 leave_path + "\r\n");
}

// ---- the built program -----------------------------------------------------------------

inline std::string BuiltProgram() { return std::string(KDX_BIN_DIR) + "/kdx-interface"; }

// A started copy of the program. Standard input is /dev/null and standard
// error goes to a file, so the program sees no terminal.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, const std::string& stderr_path,
          const std::string& working_folder) {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(working_folder.c_str()) != 0) _exit(126);
      FILE* in = freopen("/dev/null", "r", stdin);
      FILE* err = freopen(stderr_path.c_str(), "w", stderr);
      FILE* out = freopen((stderr_path + ".out").c_str(), "w", stdout);
      if (in == nullptr || err == nullptr || out == nullptr) _exit(126);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~Process() {
    if (pid_ > 0 && !done_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  pid_t Pid() const { return pid_; }
  void Signal(int sig) const { kill(pid_, sig); }
  // True while the program has not ended.
  bool Running() {
    if (done_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      done_ = true;
      status_ = status;
      return false;
    }
    return true;
  }
  // The exit status, or -1 (and a failure) when it did not end within
  // `timeout_ms`, or 128 + signal when a signal ended it.
  int Wait(int timeout_ms = 60000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Running()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the program did not end within " << timeout_ms << " ms";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
  int status_ = 0;
};

// Waits until `predicate` holds or `timeout_ms` passes.
template <typename Predicate>
bool WaitFor(Predicate predicate, int timeout_ms = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace app_test

#endif  // KDX_TESTS_APP_APP_TEST_SUPPORT_H_
