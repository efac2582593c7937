// Helpers of the database tool's tests: a scratch folder removed afterwards,
// files written and read whole, SQL run on table files, and the sample
// database generated as of a fixed day.
#ifndef KDX_TESTS_TOOLS_TOOL_TEST_SUPPORT_H_
#define KDX_TESTS_TOOLS_TOOL_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/declared_type.h"
#include "tools/sample_database.h"

// The stored value of an SQLite value, as the engine reads a table's row:
// a number with its text as SQLite writes it.
inline StoredValue StoredValueOf(sqlite3_value* value) {
  StoredValue stored;
  const int type = sqlite3_value_type(value);
  if (type == SQLITE_NULL) return stored;
  stored.kind = type == SQLITE_INTEGER ? StoredValue::Kind::kInteger
                : type == SQLITE_FLOAT ? StoredValue::Kind::kReal
                : type == SQLITE_BLOB  ? StoredValue::Kind::kBlob
                                       : StoredValue::Kind::kText;
  stored.integer = sqlite3_value_int64(value);
  stored.real = sqlite3_value_double(value);
  if (type == SQLITE_BLOB) {
    const char* bytes = static_cast<const char*>(sqlite3_value_blob(value));
    stored.text.assign(bytes != nullptr ? bytes : "", static_cast<size_t>(sqlite3_value_bytes(value)));
  } else {
    stored.text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  }
  return stored;
}

// CheckStoredValue on a value as a fixture's statement gives it.
inline bool CheckStoredValue(const engine::ColumnType& type, sqlite3_value* value, std::string* why) {
  return CheckStoredValue(type, StoredValueOf(value), why);
}

namespace tool_test {

class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("kdx_tools_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs statements on a table file (creating it), failing the test on error.
inline void Exec(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "") << sql;
  sqlite3_free(message);
  sqlite3_close(db);
}

// A table file attached under `schema` for a query across files.
struct Attached {
  std::string file;
  std::string schema;
};

// Rows of a query on `file` (":memory:" for none), read-only, with the
// `attached` files attached first; each row as its column texts, `null_text`
// for NULL. A file that cannot be opened or attached, or a statement that
// cannot be prepared, fails the test.
inline std::vector<std::vector<std::string>> QueryRows(const std::string& file, const std::string& sql,
                                                       const std::vector<Attached>& attached = {},
                                                       const std::string& null_text = "<null>") {
  std::vector<std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << file;
    sqlite3_close(db);
    return rows;
  }
  for (const Attached& a : attached) {
    const std::string attach = "ATTACH '" + a.file + "' AS \"" + a.schema + "\"";
    if (sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << attach << ": " << sqlite3_errmsg(db);
    }
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  }
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* t = sqlite3_column_text(stmt, i);
      row.push_back(t ? reinterpret_cast<const char*>(t) : null_text);
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

// Rows of a query, each as its column texts joined by "|" ("<null>" for NULL).
inline std::vector<std::string> Select(const std::string& file, const std::string& sql) {
  std::vector<std::string> rows;
  for (const std::vector<std::string>& columns : QueryRows(file, sql)) {
    std::string row;
    for (size_t i = 0; i < columns.size(); ++i) row += (i ? "|" : "") + columns[i];
    rows.push_back(row);
  }
  return rows;
}

// 24 March 2010, a Wednesday: the generation day of the tests' samples.
inline constexpr CivilDate kSampleDay{2010, 3, 24};

// Generates the sample database of `employees` employees into `folder` as of
// `today`, failing the test when it cannot.
inline void GenerateSample(const std::string& folder, int employees, bool sealed, uint64_t seed = 1,
                           SampleSummary* summary = nullptr, CivilDate today = kSampleDay) {
  SampleOptions options;
  options.employees = employees;
  options.seed = seed;
  options.sealed = sealed;
  options.today = today;
  SampleSummary ignored;
  std::string error;
  ASSERT_TRUE(GenerateSampleDatabase(folder, options, summary ? summary : &ignored, &error)) << error;
}

}  // namespace tool_test

#endif  // KDX_TESTS_TOOLS_TOOL_TEST_SUPPORT_H_
