// Pages sealed one by one and read back through the VFS: the rows come back;
// every kind of damage (a flipped byte, a page moved, swapped, taken from
// another seal, a file cut short) fails naming the file and the page, and
// nothing is written beside the file.
#include "engine/sealed_pages.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/engine/sql_test_support.h"

namespace engine {
namespace {

constexpr uint64_t kHeaderBytes = 64;  // stands for the clear header before the slots

// An SQLite image of a table `t` of 300 rows, 1024-byte pages.
std::string MakeImage() {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "PRAGMA page_size=1024; CREATE TABLE t(n INTEGER, s TEXT);"
                         "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<300)"
                         " INSERT INTO t SELECT i, printf('row %04d and some text to fill pages', i) FROM c;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0);
  std::string image(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
  sqlite3_free(bytes);
  sqlite3_close(db);
  return image;
}

PageGeometry Geometry(const std::string& image) {
  PageGeometry g;
  randombytes_buf(g.key.data(), g.key.size());
  randombytes_buf(g.identity.data(), g.identity.size());
  g.page_size = ImagePageSize(image);
  g.pages = image.size() / g.page_size;
  g.data_offset = kHeaderBytes;
  return g;
}

std::string Sealed(const PageGeometry& g, const std::string& image) {
  std::string file(kHeaderBytes, '\0');
  EXPECT_TRUE(SealPages(g, image, &file).ok());
  return file;
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Opens `path` through the VFS and checks every page; "" when all is well,
// else SQLite's message.
std::string Check(const std::string& path, const PageGeometry& g, int64_t* rows) {
  const std::unique_ptr<SealedPagesReading> reading = RegisterSealedPages(path, g);
  sqlite3* db = nullptr;
  std::string error;
  int rc = sqlite3_open_v2(reading->uri().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM t WHERE s LIKE 'row %'", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) *rows = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    if (rc == SQLITE_ROW) {
      rc = sqlite3_exec(db, "PRAGMA integrity_check", nullptr, nullptr, nullptr);
    }
  }
  if (rc != SQLITE_OK && rc != SQLITE_ROW) error = sqlite3_errmsg(db);
  sqlite3_close(db);
  return error;
}

TEST(SealedPagesTest, ReadsTheRowsPageByPage) {
  kdx_test::ScratchFolder folder;
  const std::string image = MakeImage();
  const PageGeometry g = Geometry(image);
  ASSERT_EQ(g.page_size, 1024u);
  ASSERT_GT(g.pages, 5u);
  const std::string path = folder.File("T.ADT");
  Write(path, Sealed(g, image));
  int64_t rows = 0;
  EXPECT_EQ(Check(path, g, &rows), "");
  EXPECT_EQ(rows, 300);
  // Read-only and immutable: nothing appears beside the file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

TEST(SealedPagesTest, EveryDamageFailsNamingTheFileAndThePage) {
  kdx_test::ScratchFolder folder;
  const std::string image = MakeImage();
  const PageGeometry g = Geometry(image);
  const std::string good = Sealed(g, image);
  const uint64_t slot = PageSlotBytes(g.page_size);
  const auto at = [&](uint64_t page) { return kHeaderBytes + (page - 1) * slot; };
  // The same table sealed again: another identity, other nonces.
  PageGeometry again = g;
  randombytes_buf(again.identity.data(), again.identity.size());
  const std::string older = Sealed(again, image);
  PageGeometry other_key = g;
  randombytes_buf(other_key.key.data(), other_key.key.size());

  const auto flip = [](std::string f, uint64_t offset) {
    f.replace(offset, 1, 1, static_cast<char>(f.at(offset) ^ 1));
    return f;
  };
  struct Case {
    const char* what;
    std::function<std::string(std::string)> damage;
    const PageGeometry* geometry;
  };
  const Case cases[] = {
      {"a flipped nonce byte", [&](std::string f) { return flip(f, at(2)); }, &g},
      {"a flipped page byte", [&](std::string f) { return flip(f, at(2) + kPageNonceBytes + 100); }, &g},
      {"a flipped tag byte", [&](std::string f) { return flip(f, at(2) + slot - 1); }, &g},
      {"a flipped byte of the first page", [&](std::string f) { return flip(f, at(1) + kPageNonceBytes + 20); }, &g},
      {"two pages swapped",
       [&](std::string f) {
         const std::string second = f.substr(at(2), slot);
         f.replace(at(2), slot, f.substr(at(3), slot));
         f.replace(at(3), slot, second);
         return f;
       },
       &g},
      {"a page from an older seal", [&](std::string f) { return f.replace(at(3), slot, older.substr(at(3), slot)); },
       &g},
      {"cut at a page boundary", [&](std::string f) { return f.substr(0, at(g.pages)); }, &g},
      {"cut inside a page", [&](std::string f) { return f.substr(0, at(g.pages) + slot / 2); }, &g},
      {"another key", [&](std::string f) { return f; }, &other_key},
  };
  for (const Case& c : cases) {
    const std::string path = folder.File("T.ADT");
    Write(path, c.damage(good));
    int64_t rows = 0;
    const std::string error = Check(path, *c.geometry, &rows);
    EXPECT_NE(error, "") << c.what;
    std::string failure;
    ASSERT_TRUE(TakeSealedPageFailure(&failure)) << c.what << ": " << error;
    EXPECT_NE(failure.find(path), std::string::npos) << failure;
    EXPECT_NE(failure.find("page "), std::string::npos) << failure;
  }
}

}  // namespace
}  // namespace engine
