// Read-only descriptions of table files and dictionaries for kdx-db: the
// tables are opened exactly as AdsOpenTable opens them, so the tool reports
// what the program will see.
#include <sqlite3.h>

#include <algorithm>
#include <memory>

#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/schema.h"
#include "engine/sqlite_support.h"
#include "engine/table_files.h"

namespace engine {
namespace {

// Describes a loaded table; its rows are counted unless they are hidden
// (a sealed table opened without its password).
[[nodiscard]] Status Describe(EngineTable& table, TableSchema* out) {
  out->name = table.table_name();
  out->sealed = table.rows_hidden();
  out->columns = table.columns();
  out->indexes.assign(table.indexes().begin(), table.indexes().end());
  out->record_length = table.record_length();
  out->row_count = -1;
  if (!table.rows_hidden()) {
    UNSIGNED32 count = 0;
    if (Status counted = table.RecordCount(false, &count); !counted.ok()) return counted;
    out->row_count = count;
  }
  return Status();
}

}  // namespace

Status DescribeTableFile(const std::string& path, TableSchema* table) {
  EngineGuard guard(EngineMutex());
  std::unique_ptr<EngineTable> opened;
  if (Status rc = OpenTableFile(nullptr, path, &opened); !rc.ok()) return rc;
  return Describe(*opened, table);
}

Status DescribeDictionary(const std::string& path, std::vector<TableSchema>* tables,
                          std::vector<std::pair<std::string, std::string>>* failures) {
  EngineGuard guard(EngineMutex());
  sqlite3* db = nullptr;
  if (Status rc = OpenSqlite(path, &db); !rc.ok()) return rc;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  std::vector<std::string> names;
  if (Status rc = UserTables(db, path, &names); !rc.ok()) return rc;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    EngineTable table(nullptr, db, false, "main", name, name);
    TableSchema schema;
    Status described = table.Load();
    if (described.ok()) described = Describe(table, &schema);
    if (!described.ok()) {
      failures->emplace_back(name, AsErrorLine(described).text());
      continue;
    }
    tables->push_back(std::move(schema));
  }
  return Status();
}

}  // namespace engine
