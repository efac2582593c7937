// The scan statement against SQLite itself: for every start key, direction
// and strictness, the rows it returns must be exactly the rows after the
// start in the order the engine promises (NULL first ascending, each segment
// in its own direction, ties by rowid), which is computed here by brute force.
#include "engine/scan_sql.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using engine::BuildScanSql;
using engine::ScanOrder;
using engine::ScanRequest;
using engine::ScanTable;

struct Row {
  int64_t rowid;
  std::optional<std::string> a;  // NULL when empty
  std::optional<int64_t> b;
};

// -1, 0, 1 of two optional values where NULL sorts first.
template <class T>
int Compare(const std::optional<T>& x, const std::optional<T>& y) {
  if (!x && !y) return 0;
  if (!x) return -1;
  if (!y) return 1;
  return *x < *y ? -1 : *y < *x ? 1 : 0;
}

class ScanSqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    Exec("CREATE TABLE t(a TEXT, b INTEGER)");
    const char* values[] = {"'x', 2", "NULL, 1", "'x', NULL", "'w', 5", "NULL, NULL", "'x', 2", "'y', 0", "'w', 5"};
    for (const char* v : values) Exec(std::string("INSERT INTO t VALUES(") + v + ")");
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_, "SELECT rowid, a, b FROM t", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      Row row{sqlite3_column_int64(stmt, 0), std::nullopt, std::nullopt};
      if (sqlite3_column_type(stmt, 1) != SQLITE_NULL)
        row.a = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
      if (sqlite3_column_type(stmt, 2) != SQLITE_NULL) row.b = sqlite3_column_int64(stmt, 2);
      rows_.push_back(row);
    }
    sqlite3_finalize(stmt);
  }
  void TearDown() override { sqlite3_close(db_); }

  void Exec(const std::string& sql) { ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK); }

  // -1/0/1 of row x against row y in `order` travelled in `forward` direction.
  static int OrderOf(const Row& x, const Row& y, const std::vector<bool>& desc, bool forward) {
    int c = Compare(x.a, y.a);
    if (desc[0]) c = -c;
    if (c == 0) {
      c = Compare(x.b, y.b);
      if (desc[1]) c = -c;
    }
    if (c == 0) c = x.rowid < y.rowid ? -1 : x.rowid > y.rowid ? 1 : 0;
    return forward ? c : -c;
  }

  // The rowids the statement returns for a start at row `start`.
  std::vector<int64_t> Run(const std::string& sql, const Row& start, bool with_rowid) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
    if (start.a) sqlite3_bind_text(stmt, 1, start.a->c_str(), -1, SQLITE_TRANSIENT);
    if (start.b) sqlite3_bind_int64(stmt, 2, *start.b);
    if (with_rowid) sqlite3_bind_int64(stmt, 3, start.rowid);
    std::vector<int64_t> out;
    while (sqlite3_step(stmt) == SQLITE_ROW) out.push_back(sqlite3_column_int64(stmt, 0));
    sqlite3_finalize(stmt);
    return out;
  }

  sqlite3* db_ = nullptr;
  std::vector<Row> rows_;
};

TEST_F(ScanSqlTest, EveryStartDirectionAndStrictnessReturnsTheRowsAfterItInOrder) {
  const ScanTable table{"\"main\".\"t\"", "rowid, \"a\", \"b\"", "rowid"};
  for (const std::vector<bool>& desc : {std::vector<bool>{false, false}, {true, false}, {false, true}, {true, true}}) {
    ScanOrder order{{"a", "b"}, desc};
    for (bool forward : {true, false}) {
      for (bool strict : {false, true}) {
        for (const Row& start : rows_) {
          ScanRequest request;
          request.forward = forward;
          request.strict = strict;
          request.has_key = true;
          request.key_null = {!start.a.has_value(), !start.b.has_value()};
          request.with_rowid = true;
          std::vector<Row> expected_rows;
          for (const Row& row : rows_) {
            const int c = OrderOf(row, start, desc, forward);
            if (c > 0 || (c == 0 && !strict)) expected_rows.push_back(row);
          }
          std::sort(expected_rows.begin(), expected_rows.end(),
                    [&](const Row& x, const Row& y) { return OrderOf(x, y, desc, forward) < 0; });
          std::vector<int64_t> expected;
          for (const Row& row : expected_rows) expected.push_back(row.rowid);
          const std::string sql = BuildScanSql(table, order, request);
          EXPECT_EQ(Run(sql, start, true), expected)
              << sql << " from rowid " << start.rowid << (forward ? " forward" : " backward");
        }
      }
    }
  }
}

TEST_F(ScanSqlTest, AKeyOfOneSegmentStartsAtItsFirstRow) {
  const ScanTable table{"\"main\".\"t\"", "rowid, \"a\", \"b\"", "rowid"};
  ScanRequest request;
  request.has_key = true;
  request.key_null = {false};
  const std::string sql = BuildScanSql(table, ScanOrder{{"a", "b"}, {false, false}}, request);
  // 'x' rows, then 'y': the NULL and 'w' rows sort before the key.
  EXPECT_EQ(Run(sql, Row{0, std::string("x"), std::nullopt}, false), (std::vector<int64_t>{3, 1, 6, 7}));
}

TEST(ScanSqlText, FilterValuesComeFirstAndTheCacheKeySeesNulls) {
  const ScanTable table{"\"main\".\"t\"", "rowid, \"a\"", "rowid"};
  ScanRequest request;
  request.has_key = true;
  request.key_null = {false};
  request.with_rowid = true;
  request.filter = "\"a\" <> ?1";
  request.filter_parameters = 1;
  const std::string sql = BuildScanSql(table, ScanOrder{{"a"}, {false}}, request);
  EXPECT_NE(sql.find("(\"a\" <> ?1) AND"), std::string::npos) << sql;
  EXPECT_NE(sql.find("(\"a\", rowid) >= (?2, ?3)"), std::string::npos) << sql;
  ScanRequest null_key = request;
  null_key.key_null = {true};
  EXPECT_NE(engine::ScanCacheKey(request), engine::ScanCacheKey(null_key));
  EXPECT_EQ(BuildScanSql(table, ScanOrder{}, ScanRequest{}), "SELECT rowid, \"a\" FROM \"main\".\"t\" ORDER BY rowid");
}

}  // namespace
