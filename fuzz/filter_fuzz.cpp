// Fuzz target: the filter compiler on arbitrary expressions. Whatever the
// input, compiling must not crash, and a filter it accepts must be valid SQL
// for a table of those columns whose placeholders are exactly its parameters.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/filter.h"

namespace {

std::vector<engine::ColumnInfo> Columns() {
  struct Def {
    const char* name;
    UNSIGNED16 type;
    UNSIGNED32 width;
  };
  const Def defs[] = {{"NAME", ADS_STRING, 10}, {"N", ADS_NUMERIC, 8}, {"D", ADS_DATE, 4},
                      {"L", ADS_LOGICAL, 1},    {"T", ADS_TIME, 4},    {"TS", ADS_TIMESTAMP, 8},
                      {"M", ADS_MEMO, 8},       {"I", ADS_INTEGER, 4}, {"Field Name", ADS_STRING, 20},
                      {"B", ADS_BINARY, 8}};
  std::vector<engine::ColumnInfo> columns;
  for (const Def& def : defs) {
    engine::ColumnInfo column;
    column.name = def.name;
    column.type.type = def.type;
    column.type.width = def.width;
    columns.push_back(column);
  }
  return columns;
}

sqlite3* Database() {
  static sqlite3* db = [] {
    sqlite3* handle = nullptr;
    sqlite3_open(":memory:", &handle);
    sqlite3_exec(handle,
                 "CREATE TABLE T(NAME, N, D, L, T, TS, M, I, \"Field Name\", B);"
                 "INSERT INTO T VALUES('a', 1, '2010-01-01', 1, '10:00:00', '2010-01-01 10:00:00', 'm', 3, 'f', x'00');",
                 nullptr, nullptr, nullptr);
    return handle;
  }();
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<engine::ColumnInfo> columns = Columns();
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (bool exact : {false, true}) {
    std::unique_ptr<engine::FilterProgram> program;
    if (!engine::FilterProgram::Compile(text, columns, exact, "T", "dd/MM/yyyy", &program).ok()) continue;
    sqlite3_stmt* stmt = nullptr;
    std::string sql = "SELECT count(*) FROM T WHERE " + program->where();
    if (sqlite3_prepare_v2(Database(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) std::abort();
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(program->parameters().size())) std::abort();
    for (size_t i = 0; i < program->parameters().size(); ++i) {
      if (engine::BindValue(stmt, static_cast<int>(i) + 1, program->parameters()[i]) != SQLITE_OK) std::abort();
    }
    int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) std::abort();
    sqlite3_finalize(stmt);
  }
  return 0;
}
