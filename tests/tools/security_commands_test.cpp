// kdx-db create-dictionary, add-user, seal and unseal, run as the built tool.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/storage.h"
#include "tests/tools/tool_test_support.h"

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
  // Runs kdx-db with `args` (already quoted), standard input from /dev/null
  // and KDX_DB_PASSWORD set to `env_password` unless it is null.
  Outcome Run(const std::string& args, const char* env_password = nullptr) {
    const std::string binary = (std::filesystem::path(KDX_BIN_DIR) / "kdx-db").string();
    std::string command = "env -u KDX_DB_PASSWORD ";
    if (env_password != nullptr) command += "KDX_DB_PASSWORD=" + Quote(env_password) + " ";
    command += Quote(binary) + " " + args + " </dev/null >" + Quote(folder_ / "out.txt") + " 2>" +
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
  std::string error;
  ASSERT_TRUE(OpenSealedImage(table_, "from-file", &db, &error)) << error;
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
  std::string error;
  EXPECT_TRUE(CheckDictionaryLogin(db, "gloverun4", "BRISKOLDENT", &error)) << error;
  EXPECT_FALSE(CheckDictionaryLogin(db, "gloverun4", "briskoldent", &error));
  sqlite3_close(db);
  o = Run("add-user " + Quote(dictionary) + " GloveRun4", "other");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("already exists"), std::string::npos) << o.err;
  EXPECT_EQ(Run("create-dictionary " + Quote(dictionary)).status, 1);
}

}  // namespace
