// Helpers for the sealed-table, account and SQL tests: a scratch folder that
// is removed afterwards, and small SQLite conveniences for building tables.
#ifndef KDX_TESTS_ENGINE_SQL_TEST_SUPPORT_H_
#define KDX_TESTS_ENGINE_SQL_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace kdx_test {

using test_support::ScratchFolder;

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs `sql` (several statements allowed) on the database file at `path`,
// creating it when missing; fails the test on an SQLite error.
inline void RunSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << path;
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  std::string text = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << text << " in: " << sql;
}

// Every row of `query` on `db`, each as its columns' texts joined by "|"
// (NULL shown as "<null>").
inline std::vector<std::string> Rows(sqlite3* db, const std::string& query) {
  std::vector<std::string> rows;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, query.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << " in: " << query;
    return rows;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      if (c > 0) row += "|";
      const auto* text = sqlite3_column_text(stmt, c);
      row += text ? reinterpret_cast<const char*>(text) : "<null>";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  return rows;
}

inline std::vector<std::string> FileRows(const std::string& path, const std::string& query) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) rows = Rows(db, query);
  else ADD_FAILURE() << "cannot open " << path;
  sqlite3_close(db);
  return rows;
}

}  // namespace kdx_test

#endif  // KDX_TESTS_ENGINE_SQL_TEST_SUPPORT_H_
