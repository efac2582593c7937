// Opening the tables of free table files and dictionaries.
#include "engine/table_files.h"

#include <sqlite3.h>

#include "engine/errors.h"
#include "engine/sealed_file.h"
#include "engine/sql_codes.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {

namespace {

std::string FileStem(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
  return name;
}

}  // namespace

UNSIGNED32 UserTables(sqlite3* db, const std::string& where, std::vector<std::string>* names) {
  Statement stmt;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
                         "ESCAPE '\\' AND name NOT LIKE '\\_\\_%' ESCAPE '\\' ORDER BY rowid",
                         -1, stmt.out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Reading the tables of '" + where + "'", db);
  }
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    names->push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
  }
  if (rc != SQLITE_DONE) return SqliteError(AE_KDX_SQLITE, "Reading the tables of '" + where + "'", db);
  return 0;
}

namespace {

// The one table of a free table file, named like the file.
UNSIGNED32 SingleTable(sqlite3* db, const std::string& file, std::string* table) {
  std::vector<std::string> names;
  if (UNSIGNED32 rc = UserTables(db, file, &names)) return rc;
  std::string stem = FileStem(file);
  if (names.empty()) return SetError(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds no table");
  if (names.size() > 1) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return SetError(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds " + std::to_string(names.size()) +
                                             " tables (" + list + "); a free table file holds exactly one");
  }
  if (!EqualsNoCase(names[0], stem)) {
    return SetError(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds table '" + names[0] +
                                             "', which is not named like the file ('" + stem + "')");
  }
  *table = names[0];
  return 0;
}

}  // namespace

UNSIGNED32 OpenTableFile(EngineConnection* connection, const std::string& file, std::unique_ptr<EngineTable>* out) {
  if (IsSealedFile(file)) {
    SealedHeader header;
    std::string why;
    if (!ReadSealedHeader(file, &header, &why)) return SetError(AE_KDX_SEALED_REFUSED, why);
    sqlite3* db = nullptr;
    if (!OpenSealedSchema(header, &db, &why)) return SetError(AE_KDX_SEALED_REFUSED, why);
    std::string table;
    if (UNSIGNED32 rc = SingleTable(db, file, &table)) {
      sqlite3_close(db);
      return rc;
    }
    auto engine_table = std::make_unique<EngineTable>(connection, db, true, "main", table, table);
    engine_table->set_sealed_path(file);
    if (UNSIGNED32 rc = engine_table->Load()) return rc;
    engine_table->set_rows_hidden(true);
    *out = std::move(engine_table);
    return 0;
  }
  sqlite3* db = nullptr;
  if (UNSIGNED32 rc = OpenSqlite(file, &db)) return rc;
  std::string table;
  if (UNSIGNED32 rc = SingleTable(db, file, &table)) {
    sqlite3_close(db);
    return rc;
  }
  auto engine_table = std::make_unique<EngineTable>(connection, db, true, "main", table, table);
  if (UNSIGNED32 rc = engine_table->Load()) return rc;
  *out = std::move(engine_table);
  return 0;
}

UNSIGNED32 OpenDictionaryTable(EngineConnection* connection, const std::string& name,
                               std::unique_ptr<EngineTable>* out) {
  std::string bare = name;
  size_t dot = bare.rfind('.');
  if (dot != std::string::npos && dot > 0) bare = bare.substr(0, dot);
  std::vector<std::string> names;
  if (UNSIGNED32 rc = UserTables(connection->dictionary(), connection->path(), &names)) return rc;
  for (const std::string& candidate : names) {
    if (!EqualsNoCase(candidate, bare)) continue;
    auto table = std::make_unique<EngineTable>(connection, connection->dictionary(), false, "main", candidate,
                                               candidate);
    if (UNSIGNED32 rc = table->Load()) return rc;
    *out = std::move(table);
    return 0;
  }
  return SetError(AE_TABLE_NOT_IN_DICTIONARY,
                  "Table '" + name + "' is not in the data dictionary '" + connection->path() + "'");
}

}  // namespace engine
