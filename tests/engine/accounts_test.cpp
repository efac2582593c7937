// Dictionary accounts: creating a dictionary, adding users, and logging in.
#include <gtest/gtest.h>
#include <sodium.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <string>

#include "engine/accounts.h"
#include "tests/engine/sql_test_support.h"
#include "tests/support/status_assertions.h"

namespace {

using kdx_test::FileRows;
using kdx_test::ReadBytes;
using kdx_test::RunSql;
using kdx_test::ScratchFolder;
using kdx_test::WriteBytes;

constexpr char kUser[] = "GLOVERUN4";
constexpr char kPassword[] = "BRISKOLDENT";

class AccountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.File("HR.add");
    std::string error;
    ASSERT_TRUE(Succeeds(CreateDictionary(path_)));
    ASSERT_TRUE(Succeeds(AddDictionaryUser(path_, kUser, kPassword)));
    ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db_); }

  // Logs in; returns "" on success, else the error text.
  std::string Login(const std::string& user, const std::string& password) {
    const engine::Status status = engine::CheckDictionaryLogin(db_, path_, user, password);
    const std::string error = status.text();
    EXPECT_EQ(status.ok(), error.empty()) << error;
    EXPECT_EQ(error.find(password.empty() ? std::string("\x01") : password), std::string::npos)
        << "the password appears in: " << error;
    return error;
  }

  ScratchFolder folder_;
  std::string path_;
  sqlite3* db_ = nullptr;
};

TEST_F(AccountsTest, RightPairLogsIn) { EXPECT_EQ(Login(kUser, kPassword), ""); }

TEST_F(AccountsTest, UserNameIsComparedWithoutRegardToCase) {
  EXPECT_EQ(Login("gloverun4", kPassword), "");
  EXPECT_EQ(Login("GloveRun4", kPassword), "");
}

TEST_F(AccountsTest, PasswordIsCaseSensitive) {
  EXPECT_NE(Login(kUser, "briskoldent"), "");
}

TEST_F(AccountsTest, WrongPasswordAndUnknownUserGiveTheSameClearError) {
  const std::string wrong = Login(kUser, "BRISKOLDENX");
  EXPECT_NE(wrong.find(path_), std::string::npos) << wrong;
  EXPECT_NE(wrong.find("unknown user name 'GLOVERUN4' or wrong password"), std::string::npos) << wrong;
  const std::string unknown = Login("NOBODY", kPassword);
  EXPECT_NE(unknown.find("unknown user name 'NOBODY' or wrong password"), std::string::npos) << unknown;
  EXPECT_NE(Login(kUser, ""), "");
  EXPECT_NE(Login("", kPassword).find("user name is needed"), std::string::npos);
}

TEST_F(AccountsTest, AnUnknownNameTakesAsLongAsAWrongPassword) {
  // The account's hash costs three times the passes AddDictionaryUser writes.
  char hash[crypto_pwhash_STRBYTES] = {};
  ASSERT_EQ(crypto_pwhash_str(hash, kPassword, std::strlen(kPassword), 3 * crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE),
            0);
  RunSql(path_, "UPDATE __users SET hash = '" + std::string(hash) + "'");
  using Clock = std::chrono::steady_clock;
  Clock::duration unknown{}, wrong{};
  EXPECT_NE(Login("NOBODY", kPassword), "");  // whatever a first login prepares
  for (int i = 0; i < 3; ++i) {
    auto start = Clock::now();
    EXPECT_NE(Login("NOBODY", kPassword), "");
    unknown += Clock::now() - start;
    start = Clock::now();
    EXPECT_NE(Login(kUser, "BRISKOLDENX"), "");
    wrong += Clock::now() - start;
  }
  const double ratio = std::chrono::duration<double>(unknown) / std::chrono::duration<double>(wrong);
  EXPECT_GT(ratio, 0.8);
  EXPECT_LT(ratio, 1.25);
}

TEST_F(AccountsTest, HashesAreArgon2idStringsAndNeverThePassword) {
  const auto rows = FileRows(path_, "SELECT name, hash FROM __users");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].rfind(std::string(kUser) + "|$argon2id$", 0), 0u) << rows[0];
  EXPECT_EQ(ReadBytes(path_).find(kPassword), std::string::npos);
}

TEST_F(AccountsTest, SeveralUsersEachWithTheirOwnPassword) {
  ASSERT_TRUE(Succeeds(AddDictionaryUser(db_, "clerk", "other-secret")));
  EXPECT_EQ(Login("CLERK", "other-secret"), "");
  EXPECT_NE(Login("CLERK", kPassword), "");
  EXPECT_NE(Login(kUser, "other-secret"), "");
}

TEST_F(AccountsTest, AddingAnExistingUserInAnyCaseIsRefused) {
  engine::Status refused = AddDictionaryUser(db_, "gloverun4", "new password");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("already exists"), std::string::npos) << refused.text();
  EXPECT_EQ(Login(kUser, kPassword), "");  // the old password still holds
  EXPECT_NE(Login(kUser, "new password"), "");
}

TEST_F(AccountsTest, BadNamesAndEmptyPasswordsAreRefused) {
  engine::Status refused = AddDictionaryUser(db_, "", "x");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("must not be empty"), std::string::npos) << refused.text();
  refused = AddDictionaryUser(db_, "tab\tname", "x");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("control characters"), std::string::npos) << refused.text();
  refused = AddDictionaryUser(db_, std::string(129, 'u'), "x");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("128"), std::string::npos) << refused.text();
  refused = AddDictionaryUser(db_, "newuser", "");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("password of user 'newuser' must not be empty"), std::string::npos) << refused.text();
  EXPECT_EQ(FileRows(path_, "SELECT count(*) FROM __users"), std::vector<std::string>{"1"});
}

TEST_F(AccountsTest, DamagedHashIsReportedNotAccepted) {
  RunSql(path_, "UPDATE __users SET hash='BRISKOLDENT'");
  const std::string error = Login(kUser, kPassword);
  EXPECT_NE(error.find("no valid Argon2id password hash"), std::string::npos) << error;
  RunSql(path_, "UPDATE __users SET hash=NULL WHERE 0; UPDATE __users SET hash=x'00'");
  EXPECT_NE(Login(kUser, kPassword), "");
}

class DictionaryFileTest : public ::testing::Test {
 protected:
  ScratchFolder folder_;
};

TEST_F(DictionaryFileTest, NewDictionaryHasNoAccountsAndRefusesEveryLogin) {
  const std::string path = folder_.File("EMPTY.add");
  ASSERT_TRUE(Succeeds(CreateDictionary(path)));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  engine::Status refused = CheckDictionaryLogin(db, "anyone", "anything");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("unknown user name"), std::string::npos) << refused.text();
  sqlite3_close(db);
}

TEST_F(DictionaryFileTest, DictionaryWithoutAccountTableRefusesLogins) {
  const std::string path = folder_.File("OLD.add");
  RunSql(path, "CREATE TABLE EMP_CLD(EMP_CODE CHAR(10))");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const engine::Status refused = engine::CheckDictionaryLogin(db, path, kUser, kPassword);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("no account table __users"), std::string::npos) << refused.text();
  // Adding a user creates the table.
  ASSERT_TRUE(Succeeds(AddDictionaryUser(db, kUser, kPassword)));
  const engine::Status accepted = engine::CheckDictionaryLogin(db, path, kUser, kPassword);
  EXPECT_TRUE(accepted.ok()) << accepted.text();
  sqlite3_close(db);
}

TEST_F(DictionaryFileTest, CreateNeverOverwrites) {
  const std::string path = folder_.File("HR.add");
  WriteBytes(path, "precious");
  engine::Status refused = CreateDictionary(path);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("already exists"), std::string::npos) << refused.text();
  EXPECT_EQ(ReadBytes(path), "precious");
}

TEST_F(DictionaryFileTest, AddUserToAMissingOrForeignFileFails) {
  engine::Status refused = AddDictionaryUser(folder_.File("NONE.add"), kUser, kPassword);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("NONE.add"), std::string::npos) << refused.text();
  const std::string text = folder_.File("TEXT.add");
  WriteBytes(text, std::string(2048, 'q'));
  refused = AddDictionaryUser(text, kUser, kPassword);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("TEXT.add"), std::string::npos) << refused.text();
  EXPECT_EQ(ReadBytes(text), std::string(2048, 'q'));
}

}  // namespace
