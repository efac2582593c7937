// Shared fixture of the engine tests: a fresh temporary folder per test, in
// which real SQLite table files and dictionaries are built with SQL.
#ifndef KDX_TESTS_ENGINE_ENGINE_FIXTURE_H_
#define KDX_TESTS_ENGINE_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ads.h"

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kdx-engine-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(AdsSetDateFormat("dd/MM/yyyy"), 0u);
  }
  void TearDown() override {
    if (connection_ != 0) {
      EXPECT_EQ(AdsDisconnect(connection_), 0u) << LastText();
    }
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Creates (or extends) the SQLite file `name` in the folder with `sql`.
  void MakeDb(const std::string& name, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path(name).c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
  }

  void WriteFile(const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(Path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

  ADSHANDLE ConnectFolder() {
    EXPECT_EQ(AdsConnect60(dir_, ADS_LOCAL_SERVER | ADS_REMOTE_SERVER, "", "", 0, &connection_), 0u) << LastText();
    return connection_;
  }

  // Opens `name` on the folder connection; 0 on failure (the code in `*rc`).
  ADSHANDLE Open(const std::string& name, UNSIGNED32* rc = nullptr) {
    if (connection_ == 0) ConnectFolder();
    ADSHANDLE table = 0;
    UNSIGNED32 result = AdsOpenTable(connection_, name, "", 3, 1, 1, 2, 0, &table);
    if (rc != nullptr) *rc = result;
    return result == 0 ? table : 0;
  }

  static std::string LastText() {
    UNSIGNED32 code = 0;
    std::string text;
    static_cast<void>(AdsGetLastError(&code, &text));
    return std::to_string(code) + " " + text;
  }
  static UNSIGNED32 LastCode() {
    UNSIGNED32 code = 0;
    std::string text;
    static_cast<void>(AdsGetLastError(&code, &text));
    return code;
  }

  static std::vector<uint8_t> Record(ADSHANDLE table) {
    UNSIGNED32 length = 0;
    EXPECT_EQ(AdsGetRecordLength(table, &length), 0u) << LastText();
    std::vector<uint8_t> record(length);
    EXPECT_EQ(AdsGetRecord(table, record.data(), &length), 0u) << LastText();
    return record;
  }

  // The bytes of column `field` (1-based) in `record`.
  static std::vector<uint8_t> FieldBytes(ADSHANDLE table, const std::vector<uint8_t>& record, UNSIGNED16 field) {
    UNSIGNED32 offset = 0, length = 0;
    EXPECT_EQ(AdsGetFieldOffset(table, field, &offset), 0u);
    EXPECT_EQ(AdsGetFieldLength(table, field, &length), 0u);
    return std::vector<uint8_t>(record.begin() + offset, record.begin() + offset + length);
  }

  static std::string Text(ADSHANDLE table, const std::string& field) {
    std::string value;
    EXPECT_EQ(AdsGetField(table, field, &value), 0u) << LastText();
    return value;
  }

  static bool Eof(ADSHANDLE table) {
    UNSIGNED16 at = 0;
    EXPECT_EQ(AdsAtEOF(table, &at), 0u);
    return at != 0;
  }
  static bool Bof(ADSHANDLE table) {
    UNSIGNED16 at = 0;
    EXPECT_EQ(AdsAtBOF(table, &at), 0u);
    return at != 0;
  }

  // Walks `order` forward from the top and collects column `field` as text.
  static std::vector<std::string> Walk(ADSHANDLE table, ADSHANDLE order, const std::string& field) {
    std::vector<std::string> seen;
    EXPECT_EQ(AdsGotoTop(order), 0u) << LastText();
    while (!Eof(table) && seen.size() < 1000) {
      seen.push_back(Text(table, field));
      EXPECT_EQ(AdsSkip(order, 1), 0u) << LastText();
    }
    return seen;
  }

  static ADSHANDLE Index(ADSHANDLE table, const std::string& name) {
    ADSHANDLE index = 0;
    EXPECT_EQ(AdsGetIndexHandle(table, name, &index), 0u) << LastText();
    return index;
  }

  static std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
  }
  static std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

  std::string dir_;
  ADSHANDLE connection_ = 0;
};

#endif  // KDX_TESTS_ENGINE_ENGINE_FIXTURE_H_
