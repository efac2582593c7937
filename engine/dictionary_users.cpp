// kdx-db's side of the accounts of a dictionary beyond adding one: listing
// their names and removing one (storage.h).
#include <sqlite3.h>

#include "engine/sqlite_support.h"
#include "engine/storage.h"

namespace {

// As long as the engine waits for a writer's lock on a dictionary.
using engine::kBusyTimeoutMs;

std::string Where(const std::string& path) { return "Dictionary '" + path + "': "; }

bool HasAccountTable(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='__users' COLLATE NOCASE", -1,
                         &stmt, nullptr) == SQLITE_OK) {
    found = sqlite3_step(stmt) == SQLITE_ROW;
  }
  sqlite3_finalize(stmt);
  return found;
}

std::string NoAccountTable(const std::string& path) {
  return Where(path) + "no account table __users (is it a dictionary? kdx-db create-dictionary makes one)";
}

}  // namespace

bool ListDictionaryUsers(const std::string& path, std::vector<std::string>* users, std::string* error) {
  users->clear();
  sqlite3* db = nullptr;
  if (!OpenDatabaseReadOnly(path, &db, error)) return false;
  bool ok = HasAccountTable(db);
  if (!ok) *error = NoAccountTable(path);
  sqlite3_stmt* stmt = nullptr;
  if (ok && sqlite3_prepare_v2(db, "SELECT name FROM __users ORDER BY name COLLATE NOCASE, name", -1, &stmt,
                               nullptr) != SQLITE_OK) {
    *error = Where(path) + "cannot read the account table: " + sqlite3_errmsg(db);
    ok = false;
  }
  int rc = SQLITE_DONE;
  while (ok && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    users->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  }
  if (ok && rc != SQLITE_DONE) {
    *error = Where(path) + "cannot read the account table: " + sqlite3_errmsg(db);
    ok = false;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (!ok) users->clear();
  return ok;
}

bool RemoveDictionaryUser(const std::string& path, const std::string& user, std::string* error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    *error = Where(path) + "cannot open for writing: " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  bool ok = HasAccountTable(db);
  if (!ok) *error = NoAccountTable(path);
  sqlite3_stmt* stmt = nullptr;
  if (ok && sqlite3_prepare_v2(db, "DELETE FROM __users WHERE name = ?1 COLLATE NOCASE", -1, &stmt, nullptr) !=
                SQLITE_OK) {
    *error = Where(path) + "cannot write the account table: " + sqlite3_errmsg(db);
    ok = false;
  }
  if (ok) {
    sqlite3_bind_text(stmt, 1, user.c_str(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) != SQLITE_DONE) {
      *error = Where(path) + "cannot remove user '" + user + "': " + sqlite3_errmsg(db);
      ok = false;
    } else if (sqlite3_changes(db) == 0) {
      *error = Where(path) + "no user '" + user + "'; nothing was changed";
      ok = false;
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return ok;
}
