// The tables of an SQLite database that hold data: every table but SQLite's
// own ("sqlite_...") and the engine's bookkeeping ("__..."), such as the
// account table of a dictionary; and the quoting of names in the SQL the tool
// writes.
#ifndef KDX_TOOLS_USER_TABLES_H_
#define KDX_TOOLS_USER_TABLES_H_

#include <sqlite3.h>

#include <string>
#include <vector>

// The names of the user tables of `db` in name order; false when the
// database's schema cannot be read (`*names` then holds none).
inline bool ListUserTables(sqlite3* db, std::vector<std::string>* names) {
  names->clear();
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                         "AND name NOT LIKE '\\_\\_%' ESCAPE '\\' ORDER BY name",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return false;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    names->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  }
  sqlite3_finalize(stmt);
  return true;
}

// `name` as an SQL identifier: in double quotes, inner double quotes doubled.
inline std::string QuoteSqlName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

#endif  // KDX_TOOLS_USER_TABLES_H_
