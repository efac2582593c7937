// Sealed table files: sealing, opening with and without the password,
// damage detection, and that no plaintext reaches the disk.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <string>

#include "engine/sealed_file.h"
#include "engine/sealed_format.h"
#include "tests/engine/sql_test_support.h"
#include "tests/support/status_assertions.h"

namespace {

using kdx_test::FileRows;
using kdx_test::ReadBytes;
using kdx_test::Rows;
using kdx_test::RunSql;
using kdx_test::ScratchFolder;
using kdx_test::WriteBytes;

constexpr char kPassword[] = "VARDE5816";
// A value that must never be readable in a sealed file.
constexpr char kSecret[] = "SALARY-7731-SECRET";

class SealedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_.File("EMPLOYEE.adt");
    RunSql(path_,
           "CREATE TABLE employee(EMP_NO CHAR(10), NAME CHAR(30), SALARY NUMERIC(10,2), HIRED DATE);"
           "CREATE INDEX \"employee.EMP_NO\" ON employee(EMP_NO);"
           "CREATE UNIQUE INDEX NAME_IDX ON employee(NAME, EMP_NO);"
           "INSERT INTO employee VALUES('E001','" + std::string(kSecret) + "',1234.5,'2010-03-05');"
           "INSERT INTO employee VALUES('E002','Jane',99,NULL);"
           "INSERT INTO employee VALUES('E003',NULL,NULL,'1999-12-31');");
    plain_rows_ = FileRows(path_, kAllRows);
    ASSERT_EQ(plain_rows_.size(), 3u);
  }

  void Seal(const std::string& password = kPassword) {
    std::string error;
    ASSERT_TRUE(Succeeds(SealFile(path_, password)));
  }

  // Opens the sealed file; returns its rows, or the error text as the only row.
  std::vector<std::string> OpenRows(const std::string& password, std::string* error) {
    sqlite3* db = nullptr;
    if (const engine::Status opened = OpenSealedImage(path_, password, &db); !opened.ok()) {
      *error = opened.text();
      return {};
    }
    auto rows = Rows(db, kAllRows);
    sqlite3_close(db);
    return rows;
  }

  void ExpectRefused(const std::string& password, const std::string& reason) {
    sqlite3* db = nullptr;
    engine::Status refused = OpenSealedImage(path_, password, &db);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(db, nullptr);
    EXPECT_NE(refused.text().find(path_), std::string::npos) << refused.text();
    EXPECT_NE(refused.text().find(reason), std::string::npos) << refused.text();
  }

  static constexpr char kAllRows[] = "SELECT * FROM employee ORDER BY rowid";
  ScratchFolder folder_;
  std::string path_;
  std::vector<std::string> plain_rows_;
};

TEST_F(SealedFileTest, RightPasswordReadsEveryRow) {
  Seal();
  EXPECT_TRUE(IsSealedFile(path_));
  std::string error;
  EXPECT_EQ(OpenRows(kPassword, &error), plain_rows_) << error;
}

TEST_F(SealedFileTest, WrongPasswordIsRefusedNamingTheFile) {
  Seal();
  ExpectRefused("VARDE5817", "wrong table password");
  ExpectRefused("varde5816", "wrong table password");
}

TEST_F(SealedFileTest, WrongPasswordAfterTheRightOneWasCachedIsStillRefused) {
  Seal();
  std::string error;
  ASSERT_EQ(OpenRows(kPassword, &error), plain_rows_) << error;
  ExpectRefused("not the password", "wrong table password");
  EXPECT_EQ(OpenRows(kPassword, &error), plain_rows_) << error;
}

TEST_F(SealedFileTest, EmptyPasswordCannotSealAndDoesNotOpen) {
  const std::string before = ReadBytes(path_);
  engine::Status refused = SealFile(path_, "");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("must not be empty"), std::string::npos) << refused.text();
  EXPECT_EQ(ReadBytes(path_), before);
  Seal();
  ExpectRefused("", "wrong table password");
}

TEST_F(SealedFileTest, ThousandCharacterPasswordWorksAndEveryCharacterCounts) {
  std::string long_password(1000, 'x');
  for (size_t i = 0; i < long_password.size(); i += 7) long_password[i] = static_cast<char>('A' + i % 26);
  Seal(long_password);
  std::string error;
  EXPECT_EQ(OpenRows(long_password, &error), plain_rows_) << error;
  std::string last_changed = long_password;
  last_changed.back() = 'y';
  ExpectRefused(last_changed, "wrong table password");
  ExpectRefused(long_password.substr(0, 999), "wrong table password");
}

TEST_F(SealedFileTest, SealingTwiceGivesDifferentFiles) {
  const std::string copy = folder_.File("COPY.adt");
  WriteBytes(copy, ReadBytes(path_));
  Seal();
  ASSERT_TRUE(Succeeds(SealFile(copy, kPassword)));
  const std::string a = ReadBytes(path_);
  const std::string b = ReadBytes(copy);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_NE(a.substr(20, 16), b.substr(20, 16)) << "salt reused";
  EXPECT_NE(a.substr(36, 24), b.substr(36, 24)) << "nonce reused";
  EXPECT_NE(a.substr(a.size() - 100), b.substr(b.size() - 100));
}

TEST_F(SealedFileTest, UnsealGivesBackATableThatReadsTheSame) {
  const std::vector<std::string> schema_before =
      FileRows(path_, "SELECT type, name, sql FROM sqlite_schema ORDER BY name");
  Seal();
  ASSERT_TRUE(Succeeds(UnsealFile(path_, kPassword)));
  EXPECT_FALSE(IsSealedFile(path_));
  EXPECT_EQ(FileRows(path_, kAllRows), plain_rows_);
  EXPECT_EQ(FileRows(path_, "SELECT type, name, sql FROM sqlite_schema ORDER BY name"), schema_before);
  // The unsealed file is an ordinary writable table again.
  RunSql(path_, "INSERT INTO employee VALUES('E004','New',1,NULL)");
  EXPECT_EQ(FileRows(path_, kAllRows).size(), 4u);
}

TEST_F(SealedFileTest, UnsealWithWrongPasswordLeavesTheFileSealed) {
  Seal();
  const std::string sealed = ReadBytes(path_);
  engine::Status refused = UnsealFile(path_, "wrong");
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("wrong table password"), std::string::npos) << refused.text();
  EXPECT_EQ(ReadBytes(path_), sealed);
}

TEST_F(SealedFileTest, NoPlaintextIsEverWritten) {
  const auto entries_before = folder_.Entries();
  Seal();
  EXPECT_EQ(folder_.Entries(), entries_before) << "temporary or journal files left behind";
  const std::string sealed = ReadBytes(path_);
  EXPECT_EQ(sealed.find(kSecret), std::string::npos);
  EXPECT_EQ(sealed.find("SQLite format 3"), std::string::npos);
  EXPECT_EQ(sealed.find("Jane"), std::string::npos);

  // Opening, querying with a sort and attaching leave nothing on disk.
  sqlite3* db = nullptr;
  ASSERT_TRUE(Succeeds(OpenSealedImage(path_, kPassword, &db)));
  EXPECT_EQ(Rows(db, "SELECT NAME FROM employee ORDER BY SALARY DESC").size(), 3u);
  sqlite3_close(db);
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const engine::Status attached = engine::AttachSealedImage(db, "emp", path_, kPassword);
  ASSERT_TRUE(attached.ok()) << attached.text();
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM emp.employee"), std::vector<std::string>{"3"});
  sqlite3_close(db);
  EXPECT_EQ(folder_.Entries(), entries_before);
  EXPECT_EQ(ReadBytes(path_), sealed);
}

TEST_F(SealedFileTest, DecryptedTableIsReadOnly) {
  Seal();
  sqlite3* db = nullptr;
  ASSERT_TRUE(Succeeds(OpenSealedImage(path_, kPassword, &db)));
  EXPECT_NE(sqlite3_exec(db, "DELETE FROM employee", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM employee"), std::vector<std::string>{"3"});
  sqlite3_close(db);
}

TEST_F(SealedFileTest, WithoutPasswordTheSchemaShowsColumnsAndIndexesButNoRows) {
  Seal();
  SealedHeader header;
  ASSERT_TRUE(Succeeds(ReadSealedHeader(path_, &header)));
  ASSERT_EQ(header.schema_sql.size(), 3u);
  EXPECT_EQ(header.schema_sql[0].rfind("CREATE TABLE employee", 0), 0u) << header.schema_sql[0];
  sqlite3* db = nullptr;
  ASSERT_TRUE(Succeeds(OpenSealedSchema(header, &db)));
  EXPECT_EQ(Rows(db, "SELECT name FROM pragma_table_info('employee') ORDER BY cid"),
            (std::vector<std::string>{"EMP_NO", "NAME", "SALARY", "HIRED"}));
  EXPECT_EQ(Rows(db, "SELECT type FROM pragma_table_info('employee') ORDER BY cid"),
            (std::vector<std::string>{"CHAR(10)", "CHAR(30)", "NUMERIC(10,2)", "DATE"}));
  EXPECT_EQ(Rows(db, "SELECT name, \"unique\" FROM pragma_index_list('employee') ORDER BY name"),
            (std::vector<std::string>{"NAME_IDX|1", "employee.EMP_NO|0"}));
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM employee"), std::vector<std::string>{"0"});
  sqlite3_close(db);
}

TEST_F(SealedFileTest, HeaderLongerThanTheReadAheadIsReadWhole) {
  const std::string wide = folder_.File("WIDE.adt");
  RunSql(wide, "CREATE TABLE wide(A CHAR(5) /* " + std::string(100000, 'x') + " */); INSERT INTO wide VALUES('v');");
  ASSERT_TRUE(Succeeds(SealFile(wide, kPassword)));
  SealedHeader header;
  ASSERT_TRUE(Succeeds(ReadSealedHeader(wide, &header)));
  ASSERT_EQ(header.schema_sql.size(), 1u);
  EXPECT_GT(header.schema_sql[0].size(), 100000u);
  // Cut short, it is refused even though the header is whole.
  const std::string bytes = ReadBytes(wide);
  WriteBytes(wide, bytes.substr(0, bytes.size() - 1));
  engine::Status refused = ReadSealedHeader(wide, &header);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("truncated"), std::string::npos) << refused.text();
}

TEST_F(SealedFileTest, WalModeTableSealsAndOpens) {
  RunSql(path_, "PRAGMA journal_mode=WAL; INSERT INTO employee VALUES('E009','Wal',1,NULL);");
  Seal();
  std::string error;
  auto rows = OpenRows(kPassword, &error);
  EXPECT_EQ(rows.size(), 4u) << error;
  EXPECT_FALSE(std::filesystem::exists(path_ + "-wal"));
  EXPECT_FALSE(std::filesystem::exists(path_ + "-shm"));
}

class SealRefusalTest : public SealedFileTest {
 protected:
  void ExpectSealRefused(const std::string& path, const std::string& reason) {
    const bool existed = std::filesystem::exists(path);
    const std::string before = existed ? ReadBytes(path) : "";
    const auto entries = folder_.Entries();
    engine::Status refused = SealFile(path, kPassword);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.text().find(path), std::string::npos) << refused.text();
    EXPECT_NE(refused.text().find(reason), std::string::npos) << refused.text();
    if (existed) {
      EXPECT_EQ(ReadBytes(path), before);
    }
    EXPECT_EQ(folder_.Entries(), entries);
  }
};

TEST_F(SealRefusalTest, NotAnSQLiteFile) {
  const std::string text = folder_.File("NOTES.adt");
  WriteBytes(text, std::string(4096, 'z'));
  ExpectSealRefused(text, "not an SQLite table file");
}

TEST_F(SealRefusalTest, MissingFile) { ExpectSealRefused(folder_.File("NONE.adt"), "cannot open"); }

TEST_F(SealRefusalTest, AlreadySealed) {
  Seal();
  ExpectSealRefused(path_, "already sealed");
}

TEST_F(SealRefusalTest, TableWithATrigger) {
  RunSql(path_, "CREATE TRIGGER t AFTER INSERT ON employee BEGIN SELECT 1; END;");
  ExpectSealRefused(path_, "trigger t");
}

TEST_F(SealRefusalTest, UnsealOfAPlainFile) {
  engine::Status refused = UnsealFile(path_, kPassword);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("is not sealed"), std::string::npos) << refused.text();
}

// Damage anywhere in a sealed file is refused with an error naming the file.
// Damage to a file of format version 1, which sites sealed by earlier
// releases still hold (version 2: sealed_pages_file_test.cpp).
class SealedDamageTest : public SealedFileTest {
 protected:
  void SetUp() override {
    SealedFileTest::SetUp();
    ASSERT_TRUE(Succeeds(SealFileVersion1(path_, kPassword)));
    sealed_ = ReadBytes(path_);
    ASSERT_TRUE(Succeeds(ParseSealedLayout(sealed_, true, path_, &layout_)));
  }

  void FlipAndExpect(size_t offset, const std::string& reason) {
    SCOPED_TRACE("byte " + std::to_string(offset));
    std::string damaged = sealed_;
    damaged[offset] = static_cast<char>(damaged[offset] ^ 0x01);
    WriteBytes(path_, damaged);
    ExpectRefused(kPassword, reason);
  }

  std::string sealed_;
  SealedLayout layout_;
};

TEST_F(SealedDamageTest, FlippedMarkerVersionAndKdf) {
  FlipAndExpect(0, "not a sealed table file");
  FlipAndExpect(8, "unknown format version");
  FlipAndExpect(10, "unknown key derivation");
  FlipAndExpect(12, "exceeds the maximum");  // 2 passes become 3: more than sealing writes
}

TEST_F(SealedDamageTest, FlippedSaltNonceOrKeyCheck) {
  FlipAndExpect(20, "wrong table password");  // another salt derives another key
  FlipAndExpect(60, "wrong table password");
  FlipAndExpect(40, "fail authentication");   // the nonce
}

TEST_F(SealedDamageTest, FlippedSchemaTextFailsAuthentication) {
  FlipAndExpect(kSealFixedHeaderBytes + 4 + 20, "fail authentication");
}

TEST_F(SealedDamageTest, FlippedLengthFields) {
  FlipAndExpect(kSealFixedHeaderBytes + 3, "claims");  // first statement's length
  FlipAndExpect(kSealFixedHeaderBytes, "");            // shifts every later field
  FlipAndExpect(layout_.header_bytes - 8, "truncated");  // encrypted length one more
}

TEST_F(SealedDamageTest, FlippedBodyOrTag) {
  FlipAndExpect(layout_.header_bytes, "fail authentication");
  FlipAndExpect(layout_.header_bytes + layout_.cipher_bytes / 2, "fail authentication");
  FlipAndExpect(sealed_.size() - 1, "fail authentication");  // last byte of the tag
  FlipAndExpect(sealed_.size() - kSealTagBytes, "fail authentication");
}

TEST_F(SealedDamageTest, CutOneByteShort) {
  WriteBytes(path_, sealed_.substr(0, sealed_.size() - 1));
  ExpectRefused(kPassword, "truncated");
  SealedHeader header;
  engine::Status refused = ReadSealedHeader(path_, &header);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("truncated"), std::string::npos) << refused.text();
}

TEST_F(SealedDamageTest, CutInsideTheHeader) {
  for (size_t size : {size_t{7}, size_t{50}, kSealFixedHeaderBytes + 2, layout_.header_bytes - 1}) {
    WriteBytes(path_, sealed_.substr(0, size));
    ExpectRefused(kPassword, size < 8 ? "not a sealed table file" : "truncated");
  }
}

TEST_F(SealedDamageTest, EveryHeaderByteIsCovered) {
  // Whatever byte of the header changes, the file does not open.
  for (size_t offset = 0; offset < layout_.header_bytes; offset += 3) {
    std::string damaged = sealed_;
    damaged[offset] = static_cast<char>(damaged[offset] ^ 0x80);
    WriteBytes(path_, damaged);
    sqlite3* db = nullptr;
    engine::Status refused = OpenSealedImage(path_, kPassword, &db);
    EXPECT_FALSE(refused.ok()) << "byte " << offset;
    EXPECT_NE(refused.text().find(path_), std::string::npos) << refused.text();
  }
}

TEST_F(SealedDamageTest, WeakKeyDerivationIsRefusedBeforeDeriving) {
  std::string weak = sealed_;
  weak[16] = 0;  // memory 19456 KiB -> less
  weak[17] = 0;
  WriteBytes(path_, weak);
  ExpectRefused(kPassword, "weaker than the minimum");
  std::string one_pass = sealed_;
  one_pass[12] = 1;
  WriteBytes(path_, one_pass);
  ExpectRefused(kPassword, "weaker than the minimum");
  std::string huge = sealed_;
  huge[19] = 0x7f;  // terabytes of memory
  WriteBytes(path_, huge);
  ExpectRefused(kPassword, "exceeds the maximum");
}

TEST_F(SealedDamageTest, KeyDerivationCostlierThanSealingWritesIsRefusedAtOnce) {
  std::string costly = sealed_;
  costly[12] = 16;  // passes
  costly[16] = 0;   // memory: 1 GiB
  costly[17] = 0;
  costly[18] = 0x10;
  WriteBytes(path_, costly);
  const auto start = std::chrono::steady_clock::now();
  SealedHeader header;
  engine::Status refused = ReadSealedHeader(path_, &header);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.text().find("'" + path_ + "': damaged header"), std::string::npos) << refused.text();
  ExpectRefused(kPassword, "damaged header");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// The header parser on its own (the same code the header fuzz target runs).
class SealedLayoutTest : public ::testing::Test {};

TEST_F(SealedLayoutTest, OnlyTableAndIndexDefinitionsAreSchemaStatements) {
  EXPECT_TRUE(IsSchemaStatement("CREATE TABLE t(a)"));
  EXPECT_TRUE(IsSchemaStatement("  create  unique index i on t(a)"));
  EXPECT_TRUE(IsSchemaStatement("CREATE /* c */ INDEX i ON t(a)"));
  EXPECT_FALSE(IsSchemaStatement("ATTACH DATABASE 'x' AS y"));
  EXPECT_FALSE(IsSchemaStatement("CREATE TRIGGER x"));
  EXPECT_FALSE(IsSchemaStatement("CREATE TABLEX(a)"));
  EXPECT_FALSE(IsSchemaStatement(std::string("CREATE TABLE t(a)\0x", 19)));
}

TEST_F(SealedLayoutTest, HostileSchemaStatementIsNeverRun) {
  SealedHeader header;
  header.schema_sql = {"CREATE TABLE t(a); ATTACH DATABASE '/tmp/kdx-h3-evil' AS e"};
  sqlite3* db = nullptr;
  engine::Status refused = OpenSealedSchema(header, &db);
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(db, nullptr);
  EXPECT_FALSE(std::filesystem::exists("/tmp/kdx-h3-evil"));
}

}  // namespace
