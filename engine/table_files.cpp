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

Status UserTables(sqlite3* db, const std::string& where, std::vector<std::string>* names) {
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
  return Status();
}

namespace {

// The one table of a free table file, named like the file.
Status SingleTable(sqlite3* db, const std::string& file, std::string* table) {
  std::vector<std::string> names;
  if (Status listed = UserTables(db, file, &names); !listed.ok()) return listed;
  std::string stem = FileStem(file);
  if (names.empty()) return Status(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds no table");
  if (names.size() > 1) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return Status(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds " + std::to_string(names.size()) +
                                           " tables (" + list + "); a free table file holds exactly one");
  }
  if (!EqualsNoCase(names[0], stem)) {
    return Status(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds table '" + names[0] +
                                           "', which is not named like the file ('" + stem + "')");
  }
  *table = names[0];
  return Status();
}

}  // namespace

Status OpenTableFile(EngineConnection* connection, const std::string& file, std::unique_ptr<EngineTable>* out) {
  const bool sealed = IsSealedFile(file);
  sqlite3* db = nullptr;
  if (sealed) {
    SealedHeader header;
    if (Status read = ReadSealedFileHeader(file, &header); !read.ok()) return read;
    if (Status opened = OpenSealedSchemaDatabase(header, &db); !opened.ok()) {
      return Status(AE_KDX_SEALED_REFUSED, opened.text());
    }
  } else if (Status opened = OpenSqlite(file, &db); !opened.ok()) {
    return opened;
  }
  std::string table;
  if (Status single = SingleTable(db, file, &table); !single.ok()) {
    sqlite3_close(db);
    return single;
  }
  auto engine_table = std::make_unique<EngineTable>(connection, db, true, "main", table, table);
  if (sealed) engine_table->set_sealed_path(file);
  if (Status loaded = engine_table->Load(); !loaded.ok()) return loaded;
  if (sealed) engine_table->set_rows_hidden(true);
  *out = std::move(engine_table);
  return Status();
}

Status OpenDictionaryTable(EngineConnection* connection, const std::string& name, std::unique_ptr<EngineTable>* out) {
  std::string bare = name;
  size_t dot = bare.rfind('.');
  if (dot != std::string::npos && dot > 0) bare = bare.substr(0, dot);
  std::vector<std::string> names;
  if (Status listed = UserTables(connection->dictionary(), connection->path(), &names); !listed.ok()) return listed;
  for (const std::string& candidate : names) {
    if (!EqualsNoCase(candidate, bare)) continue;
    auto table = std::make_unique<EngineTable>(connection, connection->dictionary(), false, "main", candidate,
                                               candidate);
    if (Status loaded = table->Load(); !loaded.ok()) return loaded;
    *out = std::move(table);
    return Status();
  }
  return Status(AE_TABLE_NOT_IN_DICTIONARY,
                "Table '" + name + "' is not in the data dictionary '" + connection->path() + "'")
      .WithTable(name);
}

}  // namespace engine
