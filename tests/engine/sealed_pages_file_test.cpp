// Sealed table files of format version 2 read through the engine: the rows of
// version 1, version 2 and the plain table are the same; every damage to the
// header or a page, and every wrong password, ends in an error naming the
// table's file; kdx-db check's verification finds each; nothing is written
// beside the file; reseal turns version 1 into version 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/sealed_format.h"
#include "engine/sealed_pages.h"
#include "engine/storage.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/sql_test_support.h"
#include "tests/support/status_assertions.h"

namespace {

using kdx_test::ReadBytes;

constexpr char kPassword[] = "VARDE5816";

class SealedPagesFileTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeTable("emp.adt");
    plain_ = ReadAll(kPassword);
    ASSERT_EQ(plain_.size(), 400u);
  }

  // 400 rows over 1 KiB pages: a table of some dozens of pages.
  void MakeTable(const std::string& file) {
    MakeDb(file,
           "PRAGMA page_size=1024; CREATE TABLE EMP(EMP_NO CHAR(10), NAME CHAR(40)); CREATE INDEX EMP_NO ON "
           "EMP(EMP_NO); WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<400) INSERT INTO EMP "
           "SELECT printf('E%05d', i), printf('Employee number %d of the sample', i) FROM c;");
  }

  // Every record of EMP, in natural order; on the first failure, the
  // records read until then (in natural order, then by the index) followed
  // by the last error's text.
  std::vector<std::string> ReadAll(const std::string& password) {
    if (connection_ != 0) {
      EXPECT_EQ(AdsDisconnect(connection_), 0u);
      connection_ = 0;
    }
    const ADSHANDLE table = Open("EMP");
    if (table == 0) return {LastText()};
    if (IsSealedFile(Path("emp.adt")) && AdsEnableEncryption(table, password) != 0) return {LastText()};
    std::vector<std::string> rows;
    const auto failed = [&] {
      rows.push_back(LastText());
      return rows;
    };
    for (const ADSHANDLE order : {table, Index(table, "EMP_NO")}) {
      if (AdsGotoTop(order) != 0) return failed();
      for (;;) {
        UNSIGNED16 eof = 0;
        if (AdsAtEOF(order, &eof) != 0) return failed();
        if (eof != 0) break;
        std::vector<uint8_t> record(256);
        UNSIGNED32 length = static_cast<UNSIGNED32>(record.size());
        if (AdsGetRecord(order, record.data(), &length) != 0) return failed();
        rows.emplace_back(record.begin(), record.begin() + length);
        if (AdsSkip(order, 1) != 0) return failed();
      }
    }
    return std::vector<std::string>(rows.begin(), rows.begin() + static_cast<long>(rows.size() / 2));
  }

  std::vector<std::string> plain_;
};

TEST_F(SealedPagesFileTest, VersionOneAndTwoReadAsThePlainTableAndResealMakesVersionTwo) {
  const std::string path = Path("emp.adt");
  ASSERT_TRUE(Succeeds(SealFileVersion1(path, kPassword)));
  EXPECT_EQ(SealedFormatVersion(path), 1);
  EXPECT_EQ(ReadAll(kPassword), plain_);
  EXPECT_FALSE(ResealFile(path, "wrong").ok());
  EXPECT_EQ(SealedFormatVersion(path), 1);
  ASSERT_TRUE(Succeeds(ResealFile(path, kPassword)));
  EXPECT_EQ(SealedFormatVersion(path), 2);
  EXPECT_FALSE(ResealFile(path, kPassword).ok());
  EXPECT_EQ(ReadAll(kPassword), plain_);
  EXPECT_TRUE(Succeeds(VerifySealedFile(path, kPassword)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("")), {}), 1);
  // Whatever the version, the password opens the rows and nothing else does.
  for (const std::string& wrong : {std::string(""), std::string(kPassword) + "x", std::string(1000, 'p')}) {
    const std::vector<std::string> refused = ReadAll(wrong);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("wrong table password"), std::string::npos) << refused[0];
  }
}

TEST_F(SealedPagesFileTest, EveryDamageToTheHeaderOrAPageFailsNamingTheFile) {
  const std::string path = Path("emp.adt");
  MakeTable("other.adt");
  ASSERT_TRUE(Succeeds(SealFile(Path("other.adt"), kPassword)));  // another table, the same password
  const std::string other = ReadBytes(Path("other.adt"));
  ASSERT_TRUE(Succeeds(SealFile(path, kPassword)));
  const std::string older = ReadBytes(path);  // an earlier seal of the same table
  ASSERT_TRUE(Succeeds(UnsealFile(path, kPassword)));
  ASSERT_TRUE(Succeeds(SealFile(path, kPassword)));
  const std::string good = ReadBytes(path);
  SealedLayout layout;
  ASSERT_TRUE(Succeeds(ParseSealedLayout(good, true, path, &layout)));
  ASSERT_GE(layout.pages, 4u);
  const uint64_t slot = engine::PageSlotBytes(layout.page_size);
  const auto at = [&](uint64_t page) { return layout.header_bytes + (page - 1) * slot; };
  const auto flip = [](std::string f, uint64_t offset) {
    f.replace(offset, 1, 1, static_cast<char>(f.at(offset) ^ 1));
    return f;
  };
  const auto page_of = [&](const std::string& from, uint64_t page) { return from.substr(at(page), slot); };
  std::vector<std::pair<std::string, std::string>> cases = {
      {"salt", flip(good, 20)},
      {"identity", flip(good, 40)},
      {"schema text", flip(good, kSealFixedHeaderBytes + 10)},
      {"page count", flip(good, layout.tagged_bytes - 8)},
      {"header tag", flip(good, layout.header_bytes - 1)},
      {"pages swapped",
       std::string(good).replace(at(2), slot, page_of(good, 3)).replace(at(3), slot, page_of(good, 2))},
      {"a page of an older seal", std::string(good).replace(at(3), slot, page_of(older, 3))},
      {"a page of another table", std::string(good).replace(at(2), slot, page_of(other, 2))},
  };
  for (const uint64_t page : {uint64_t{1}, uint64_t{2}, layout.pages}) {
    const std::string n = std::to_string(page);
    cases.push_back({"nonce of page " + n, flip(good, at(page))});
    cases.push_back({"body of page " + n, flip(good, at(page) + engine::kPageNonceBytes + 7)});
    cases.push_back({"tag of page " + n, flip(good, at(page) + slot - 1)});
  }
  for (uint64_t page = 1; page <= layout.pages; ++page) {
    cases.push_back({"cut before page " + std::to_string(page), good.substr(0, at(page))});
    cases.push_back({"cut inside page " + std::to_string(page), good.substr(0, at(page) + slot / 2)});
  }
  for (const auto& [what, damaged] : cases) {
    SCOPED_TRACE(what);
    WriteFile("emp.adt", damaged);
    // Refused before any row is read: the error is all there is.
    const std::vector<std::string> read = ReadAll(kPassword);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_NE(read[0].find(path), std::string::npos) << read[0];
    const engine::Status verified = VerifySealedFile(path, kPassword);
    EXPECT_FALSE(verified.ok());
    EXPECT_NE(verified.text().find(path), std::string::npos) << verified.text();
    EXPECT_EQ(ReadBytes(path), damaged);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("")), {}), 2);
}

}  // namespace
