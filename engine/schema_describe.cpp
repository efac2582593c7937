// Read-only descriptions of table files and dictionaries for kdx-db: the
// tables are opened exactly as AdsOpenTable opens them, so the tool reports
// what the program will see.
#include <sqlite3.h>

#include <memory>

#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/schema.h"
#include "engine/sealed_file.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {
namespace {

std::string FileStem(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The names of the tables of `db` that hold data, in name order.
UNSIGNED32 DataTables(sqlite3* db, const std::string& path, std::vector<std::string>* names) {
  Statement list;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                         "AND name NOT LIKE '\\_\\_%' ESCAPE '\\' ORDER BY name",
                         -1, list.out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Database file '" + path + "': reading its tables", db);
  }
  while (sqlite3_step(list.get()) == SQLITE_ROW)
    names->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
  return 0;
}

// Loads `name` of `db` as the engine opens it and describes it; rows are
// counted unless `sealed`.
UNSIGNED32 Describe(sqlite3* db, bool owns_db, const std::string& name, bool sealed, TableSchema* out) {
  EngineTable table(nullptr, db, owns_db, "main", name, name);
  if (UNSIGNED32 rc = table.Load()) return rc;
  out->name = name;
  out->sealed = sealed;
  out->columns = table.columns();
  out->indexes.assign(table.indexes().begin(), table.indexes().end());
  out->record_length = table.record_length();
  out->row_count = -1;
  if (!sealed) {
    UNSIGNED32 count = 0;
    if (UNSIGNED32 rc = table.RecordCount(false, &count)) return rc;
    out->row_count = count;
  }
  return 0;
}

}  // namespace

UNSIGNED32 DescribeTableFile(const std::string& path, TableSchema* table) {
  EngineGuard guard(EngineMutex());
  sqlite3* db = nullptr;
  const bool sealed = IsSealedFile(path);
  if (sealed) {
    SealedHeader header;
    std::string why;
    if (!ReadSealedHeader(path, &header, &why) || !OpenSealedSchema(header, &db, &why)) {
      return SetError(AE_KDX_NOT_A_DATABASE, why);
    }
  } else if (UNSIGNED32 rc = OpenSqlite(path, SQLITE_OPEN_READONLY, &db)) {
    return rc;
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  std::vector<std::string> names;
  if (UNSIGNED32 rc = DataTables(db, path, &names)) return rc;
  if (names.size() != 1 || !EqualsNoCase(names[0], FileStem(path))) {
    return SetError(AE_KDX_TABLE_LAYOUT, "'" + path + "' holds " + std::to_string(names.size()) +
                                             " tables; a table file holds exactly one, named like the file");
  }
  return Describe(owner.release(), true, names[0], sealed, table);
}

UNSIGNED32 DescribeDictionary(const std::string& path, std::vector<TableSchema>* tables,
                              std::vector<std::pair<std::string, std::string>>* failures) {
  EngineGuard guard(EngineMutex());
  sqlite3* db = nullptr;
  if (UNSIGNED32 rc = OpenSqlite(path, SQLITE_OPEN_READONLY, &db)) return rc;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  std::vector<std::string> names;
  if (UNSIGNED32 rc = DataTables(db, path, &names)) return rc;
  for (const std::string& name : names) {
    TableSchema table;
    if (Describe(db, false, name, false, &table) != 0) {
      UNSIGNED32 code = 0;
      std::string text;
      AdsGetLastError(&code, &text);
      failures->emplace_back(name, "error " + std::to_string(code) + ": " + text);
      continue;
    }
    tables->push_back(std::move(table));
  }
  return 0;
}

}  // namespace engine
