// Helpers of the database tool's tests: a scratch folder removed afterwards,
// files written and read whole, and SQL run on a table file.
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

// Rows of a query, each as its column texts joined by "|" ("<null>" for NULL).
inline std::vector<std::string> Select(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  }
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* t = sqlite3_column_text(stmt, i);
      row += (i ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "<null>");
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

}  // namespace tool_test

#endif  // KDX_TESTS_TOOLS_TOOL_TEST_SUPPORT_H_
