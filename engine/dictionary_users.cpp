// kdx-db's side of the accounts of a dictionary beyond adding one: listing
// their names and removing one (storage.h).
#include <sqlite3.h>

#include "engine/sql_codes.h"
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

engine::Status SqliteFailure(std::string text) { return engine::Status(AE_KDX_SQLITE, std::move(text)); }

std::string NoAccountTable(const std::string& path) {
  return Where(path) + "no account table __users (is it a dictionary? kdx-db create-dictionary makes one)";
}

}  // namespace

engine::Status ListDictionaryUsers(const std::string& path, std::vector<std::string>* users) {
  users->clear();
  sqlite3* db = nullptr;
  if (engine::Status opened = OpenDatabaseReadOnly(path, &db); !opened.ok()) return opened;
  engine::Status listed;
  if (!HasAccountTable(db)) listed = engine::Status(AE_KDX_LOGIN_FAILED, NoAccountTable(path));
  sqlite3_stmt* stmt = nullptr;
  if (listed.ok() && sqlite3_prepare_v2(db, "SELECT name FROM __users ORDER BY name COLLATE NOCASE, name", -1, &stmt,
                                        nullptr) != SQLITE_OK) {
    listed = SqliteFailure(Where(path) + "cannot read the account table: " + sqlite3_errmsg(db));
  }
  int rc = SQLITE_DONE;
  while (listed.ok() && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    users->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  }
  if (listed.ok() && rc != SQLITE_DONE) {
    listed = SqliteFailure(Where(path) + "cannot read the account table: " + sqlite3_errmsg(db));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (!listed.ok()) users->clear();
  return listed;
}

engine::Status RemoveDictionaryUser(const std::string& path, const std::string& user) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    engine::Status failed =
        SqliteFailure(Where(path) + "cannot open for writing: " + (db ? sqlite3_errmsg(db) : "out of memory"));
    sqlite3_close(db);
    return failed;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  engine::Status removed;
  if (!HasAccountTable(db)) removed = engine::Status(AE_KDX_LOGIN_FAILED, NoAccountTable(path));
  sqlite3_stmt* stmt = nullptr;
  if (removed.ok() && sqlite3_prepare_v2(db, "DELETE FROM __users WHERE name = ?1 COLLATE NOCASE", -1, &stmt,
                                         nullptr) != SQLITE_OK) {
    removed = SqliteFailure(Where(path) + "cannot write the account table: " + sqlite3_errmsg(db));
  }
  if (removed.ok()) {
    sqlite3_bind_text(stmt, 1, user.c_str(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) != SQLITE_DONE) {
      removed = SqliteFailure(Where(path) + "cannot remove user '" + user + "': " + sqlite3_errmsg(db));
    } else if (sqlite3_changes(db) == 0) {
      removed = engine::Status(AE_KDX_INVALID_ARGUMENT, Where(path) + "no user '" + user + "'; nothing was changed");
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return removed;
}
