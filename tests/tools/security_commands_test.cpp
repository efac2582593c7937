// kdx-db run as the built tool: create-dictionary, add-user, list-users,
// remove-user, seal and unseal; where query, check and import take their
// passwords and their CSV from; --version and its number options.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/storage.h"
#include "tests/tools/tool_test_support.h"
#include "tools/sample_database.h"
#include "tests/support/status_assertions.h"

namespace {

using tool_test::ReadFile;
using tool_test::Select;
using tool_test::TempFolder;
using tool_test::WriteFile;

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class SecurityCommandsTest : public ::testing::Test {
 protected:
  // Runs kdx-db with `args` (already quoted), standard input from `input`
  // and KDX_DB_PASSWORD set to `env_password` unless it is null.
  Outcome Run(const std::string& args, const char* env_password = nullptr, const std::string& input = "/dev/null") {
    const std::string binary = (std::filesystem::path(KDX_BIN_DIR) / "kdx-db").string();
    std::string command = "env -u KDX_DB_PASSWORD ";
    if (env_password != nullptr) command += "KDX_DB_PASSWORD=" + Quote(env_password) + " ";
    command += Quote(binary) + " " + args + " <" + Quote(input) + " >" + Quote(folder_ / "out.txt") + " 2>" +
               Quote(folder_ / "err.txt");
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = ReadFile(folder_ / "out.txt");
    outcome.err = ReadFile(folder_ / "err.txt");
    std::filesystem::remove(folder_ / "out.txt");
    std::filesystem::remove(folder_ / "err.txt");
    return outcome;
  }

  void MakeTable() {
    tool_test::Exec(table_, "CREATE TABLE EMP(EMP_NO CHAR(10), NAME CHAR(20));"
                            "INSERT INTO EMP VALUES('E1','Secret Name'),('E2','Other');");
  }

  TempFolder folder_;
  std::string table_ = folder_ / "EMP.adt";
};

TEST_F(SecurityCommandsTest, SealAndUnsealWithThePasswordFromTheEnvironment) {
  MakeTable();
  const auto before = Select(table_, "SELECT * FROM EMP ORDER BY rowid");
  Outcome o = Run("seal " + Quote(table_), "VARDE5816");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(IsSealedFile(table_));
  EXPECT_EQ(ReadFile(table_).find("Secret Name"), std::string::npos);
  o = Run("unseal " + Quote(table_), "VARDE5816");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Select(table_, "SELECT * FROM EMP ORDER BY rowid"), before);
}

TEST_F(SecurityCommandsTest, PasswordFileGivesTheFirstLine) {
  MakeTable();
  WriteFile(folder_ / "pw.txt", "from-file\r\nignored\n");
  std::filesystem::permissions(folder_ / "pw.txt", std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_write);
  Outcome o = Run("seal --password-file " + Quote(folder_ / "pw.txt") + " " + Quote(table_), "not-this-one");
  ASSERT_EQ(o.status, 0) << o.err;
  sqlite3* db = nullptr;
  ASSERT_TRUE(Succeeds(OpenSealedImage(table_, "from-file", &db)));
  sqlite3_close(db);
}

TEST_F(SecurityCommandsTest, NoPasswordSourceFailsAndChangesNothing) {
  MakeTable();
  const std::string before = ReadFile(table_);
  const Outcome o = Run("seal " + Quote(table_));
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("No password"), std::string::npos) << o.err;
  EXPECT_EQ(ReadFile(table_), before);
}

TEST_F(SecurityCommandsTest, PasswordIsNeverAPlainArgument) {
  MakeTable();
  const std::string before = ReadFile(table_);
  const Outcome o = Run("seal " + Quote(table_) + " VARDE5816", "VARDE5816");
  EXPECT_NE(o.status, 0);
  EXPECT_EQ(ReadFile(table_), before);
  EXPECT_NE(Run("seal --password VARDE5816 " + Quote(table_)).status, 0);
}

TEST_F(SecurityCommandsTest, WrongPasswordOnUnsealLeavesTheFileSealed) {
  MakeTable();
  ASSERT_EQ(Run("seal " + Quote(table_), "right").status, 0);
  const std::string sealed = ReadFile(table_);
  const Outcome o = Run("unseal " + Quote(table_), "wrong");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("wrong table password"), std::string::npos) << o.err;
  EXPECT_EQ(ReadFile(table_), sealed);
}

TEST_F(SecurityCommandsTest, DictionaryWithAUserWhoCanLogIn) {
  const std::string dictionary = folder_ / "HR.add";
  Outcome o = Run("create-dictionary " + Quote(dictionary));
  ASSERT_EQ(o.status, 0) << o.err;
  o = Run("add-user " + Quote(dictionary) + " GLOVERUN4", "BRISKOLDENT");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.find("BRISKOLDENT"), std::string::npos);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dictionary.c_str(), &db), SQLITE_OK);
  EXPECT_TRUE(Succeeds(CheckDictionaryLogin(db, "gloverun4", "BRISKOLDENT")));
  engine::Status refused = CheckDictionaryLogin(db, "gloverun4", "briskoldent");
  EXPECT_FALSE(refused.ok());
  sqlite3_close(db);
  o = Run("add-user " + Quote(dictionary) + " GloveRun4", "other");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("already exists"), std::string::npos) << o.err;
  EXPECT_EQ(Run("create-dictionary " + Quote(dictionary)).status, 1);
}

// No password is built in: a sealed table is read only with the password
// of --password-file or KDX_DB_PASSWORD, and none is taken as an argument.
TEST_F(SecurityCommandsTest, QueryAndCheckOfSealedTablesTakeThePasswordFromTheFileOrTheEnvironment) {
  const std::string db = folder_ / "db";
  tool_test::GenerateSample(db, 25, true);
  const std::string count = "query " + Quote(db) + " \"select count(*) as N from employee\"";
  Outcome o = Run(count);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Table employee is sealed"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("no table password given"), std::string::npos) << o.err;
  EXPECT_EQ(Run(count, kSampleTablePassword).out, "N\r\n25\r\n");
  WriteFile(folder_ / "pw.txt", std::string(kSampleTablePassword) + "\n");
  std::filesystem::permissions(folder_ / "pw.txt", std::filesystem::perms::owner_read);
  EXPECT_EQ(Run("query --password-file " + Quote(folder_ / "pw.txt") + " " + Quote(db) + " \"select 1 as X\"").status,
            0);
  for (const char* option : {"--table-password", "--password"}) {
    o = Run("query " + std::string(option) + " " + kSampleTablePassword + " " + Quote(db) + " \"select 1\"");
    EXPECT_EQ(o.status, 2) << option;
    EXPECT_NE(o.err.find(std::string(option) + " is refused: no password is taken on the command line"),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("give --password-file FILE, set KDX_DB_PASSWORD"), std::string::npos) << o.err;
  }
  o = Run("check " + Quote(db));
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_NE(o.out.find("no table password given"), std::string::npos) << o.out;
  EXPECT_EQ(Run("check " + Quote(db), kSampleTablePassword).status, 0);
}

TEST_F(SecurityCommandsTest, ListUsersAndRemoveUser) {
  const std::string dictionary = folder_ / "HR.add";
  ASSERT_EQ(Run("create-dictionary " + Quote(dictionary)).status, 0);
  for (const char* user : {"payroll", "Audit"}) ASSERT_EQ(Run("add-user " + Quote(dictionary) + " " + user, "pw").status, 0);
  Outcome o = Run("list-users " + Quote(dictionary));
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Audit\npayroll\n");
  EXPECT_EQ(o.out.find("$argon2"), std::string::npos);
  EXPECT_EQ(Run("remove-user " + Quote(dictionary) + " AUDIT").status, 0);
  EXPECT_EQ(Run("list-users " + Quote(dictionary)).out, "payroll\n");
  o = Run("remove-user " + Quote(dictionary) + " nobody");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("no user 'nobody'"), std::string::npos) << o.err;
  EXPECT_EQ(Run("list-users " + Quote(table_)).status, 1);
}

TEST_F(SecurityCommandsTest, ImportReadsTheCsvFromStandardInput) {
  MakeTable();
  WriteFile(folder_ / "rows.csv", "EMP_NO,NAME\r\nE3,Third\r\n");
  const Outcome o = Run("import " + Quote(table_) + " -", nullptr, folder_ / "rows.csv");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Select(table_, "SELECT EMP_NO FROM EMP ORDER BY rowid"),
            (std::vector<std::string>{"E1", "E2", "E3"}));
}

TEST_F(SecurityCommandsTest, VersionAndWholeNumberOptions) {
  Outcome o = Run("--version");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "kdx-db 1.0\n");
  o = Run("sample " + Quote(folder_ / "s") + " --employees -5");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--employees: takes a whole number from 0 to 10000000, not '-5'"), std::string::npos) << o.err;
  EXPECT_FALSE(std::filesystem::exists(folder_ / "s"));
}

}  // namespace
