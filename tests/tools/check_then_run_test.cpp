// kdx-interface --check, then the run itself, on the same sites: a folder of
// free tables, the same folder sealed, and a dictionary, each as generated
// and with the faults a site meets. --check passes exactly where the run
// succeeds.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/storage.h"
#include "tests/tools/tool_test_support.h"
#include "tools/sample_database.h"
#include "tests/support/status_assertions.h"

namespace fs = std::filesystem;

namespace {

class CheckThenRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new tool_test::TempFolder();
    SampleOptions options;
    options.employees = 60;
    options.seed = 5;
    SampleSummary summary;
    std::string error;
    for (bool sealed : {false, true}) {
      options.sealed = sealed;
      ASSERT_TRUE(GenerateSampleDatabase(*root_ / (sealed ? "sealed" : "plain"), options, &summary, &error)) << error;
    }
    fs::create_directories(root_->path() / "dict");
    ASSERT_TRUE(GenerateSampleDictionary(*root_ / "dict/HR.ADD", options, "GLOVERUN4", "BRISKOLDENT", &summary, &error))
        << error;
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }

  void SetUp() override {
    site_ = folder_.path() / "site";
    fs::create_directories(site_);
    fs::create_directories(folder_.path() / "out");
  }

  // The status of kdx-interface with `arguments` on the site folder.
  int Status(const std::string& arguments, std::string* output) {
    const fs::path log = folder_.path() / "run.log";
    const std::string command = fmt::format("timeout 120 '{}/kdx-interface' --site '{}' {} </dev/null >'{}' 2>&1",
                                            KDX_BIN_DIR, site_.string(), arguments, log.string());
    const int rc = std::system(command.c_str());
    *output = tool_test::ReadFile(log.string());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  static inline tool_test::TempFolder* root_ = nullptr;
  tool_test::TempFolder folder_;
  fs::path site_;
};

TEST_F(CheckThenRunTest, CheckPassesExactlyWhereTheRunSucceeds) {
  // What a case does to its copy of the database and to PAVRO.ini.
  struct Fault {
    const char* name;
    std::function<void(const fs::path& database, std::string& ini)> apply;
  };
  const Fault faults[] = {
      {"none", [](const fs::path&, std::string&) {}},
      {"a misspelt key", [](const fs::path&, std::string& ini) { ini += "EMPLOYE_PATH=/tmp/x\n"; }},
      {"a table missing",
       [](const fs::path& database, std::string&) {
         if (fs::is_directory(database)) {
           fs::remove(database / "EMPMISC.ADT");
         } else {
           tool_test::Exec(database.string(), "DROP TABLE EMPMISC");
         }
       }},
      {"no export folder",
       [this](const fs::path&, std::string& ini) {
         ini += "EMPLOYEE_PATH=" + (folder_.path() / "gone/employee.txt").string() + "\n";
       }},
      {"a table sealed with another password",
       [](const fs::path& database, std::string&) {
         const std::string table = (database / "EMPLOYMT.ADT").string();
         if (!fs::is_directory(database) || !IsSealedFile(table)) return;
         ASSERT_TRUE(Succeeds(UnsealFile(table, kSampleTablePassword)));
         ASSERT_TRUE(Succeeds(SealFile(table, "ANOTHER1")));
       }},
  };
  const struct {
    const char* kind;
    const char* folder;  // copied for each case
    const char* file;    // SOURCE_PATH in the copy; empty: the copy itself
  } kinds[] = {{"plain", "plain", ""}, {"sealed", "sealed", ""}, {"dictionary", "dict", "HR.ADD"}};
  int n = 0;
  for (const auto& [kind, folder, file] : kinds) {
    for (const Fault& fault : faults) {
      const fs::path copy = folder_.path() / ("db" + std::to_string(n++));
      fs::copy(root_->path() / folder, copy, fs::copy_options::recursive);
      const fs::path database = file[0] == '\0' ? copy : copy / file;
      std::string ini = fmt::format("[PATH]\nSOURCE_PATH={}\nLEAVE_PATH={}\n", database.string(),
                                    (folder_.path() / "out/leave.txt").string());
      fault.apply(database, ini);
      if (ini.find("\nEMPLOYEE_PATH=") == std::string::npos) {
        ini += "EMPLOYEE_PATH=" + (folder_.path() / "out/employee.txt").string() + "\n";
      }
      tool_test::WriteFile((site_ / "PAVRO.ini").string(), ini);
      std::string check_output, run_output;
      const int check = Status("--check", &check_output);
      const int run = Status("--unattended --start-delay 0", &run_output);
      EXPECT_TRUE(check == 0 || check == 1) << kind << ", " << fault.name << ": " << check;
      EXPECT_EQ(check == 0, run == 0) << kind << ", " << fault.name << ": --check " << check << ", run " << run
                                      << "\n"
                                      << check_output << run_output;
      if (std::string(fault.name) == "none") {
        EXPECT_EQ(run, 0) << kind << "\n" << run_output;
      }
    }
  }
}

}  // namespace
