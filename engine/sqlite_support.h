// Small helpers for the engine's use of SQLite: opening a database file the
// way every engine read does, owning a prepared statement, quoting names and
// binding values. Everything here is used under the engine's lock.
#ifndef KDX_ENGINE_SQLITE_SUPPORT_H_
#define KDX_ENGINE_SQLITE_SUPPORT_H_

#include <cstdint>
#include <string>

#include "engine/ads.h"
#include "engine/status.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;

namespace engine {

// Busy timeout of every database file the engine opens, for reading or for
// kdx-db's writes: a program holding a lock delays the open's work instead
// of failing it.
constexpr int kBusyTimeoutMs = 8000;

// The engine only ever reads the files of a database: every table file and
// dictionary is opened read-only, through the "file:" URI ReadOnlyUri gives,
// and no connection that reads a file checkpoints it on close. A run
// therefore never creates, changes or deletes a database file, its -journal
// or its -wal (SQLite readers do write into an existing -shm).

// The "file:" URI a database file is read through: mode=ro, and immutable=1
// for a write-ahead-log database that has no log to read (see the .cpp);
// such a file that changes while it is read fails the read (an I/O error
// that SqliteError reports as the file having changed).
std::string ReadOnlyUri(const std::string& path);

// What every connection that reads a file gets: the busy timeout, extended
// result codes, and no checkpoint when it closes; an error naming `path`
// when SQLite cannot promise the last.
Status ConfigureReader(sqlite3* db, const std::string& path);

// Opens the database file `path` read-only (ReadOnlyUri, ConfigureReader)
// and checks that it can be read. Success and `*db`, or an error naming the
// path (the handle is closed on failure): AE_KDX_NOT_A_DATABASE for a file
// that is no SQLite database, AE_KDX_HOT_JOURNAL for a file another program
// left in the middle of a write.
Status OpenSqlite(const std::string& path, sqlite3** db);

// The error of a failed first read of the database file `path` through `db`
// (SQLite's result `rc`), as OpenSqlite reports it; `what` says what was done.
Status FileReadError(const std::string& path, const std::string& what, int rc, sqlite3* db);

// Owns a prepared statement; finalises it on destruction.
class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();
  sqlite3_stmt* get() const { return stmt_; }
  sqlite3_stmt** out() { return &stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Quotes an SQL identifier ("name" with inner quotes doubled).
std::string QuoteIdentifier(const std::string& name);

// A value to bind to an SQLite statement.
struct SqlValue {
  int type = 5;  // SQLITE_INTEGER 1, SQLITE_FLOAT 2, SQLITE_TEXT 3, SQLITE_BLOB 4, SQLITE_NULL 5
  int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text or blob
  static SqlValue Null() { return SqlValue(); }
  static SqlValue Integer(int64_t v) { SqlValue x; x.type = 1; x.integer = v; return x; }
  static SqlValue Real(double v) { SqlValue x; x.type = 2; x.real = v; return x; }
  static SqlValue Text(std::string v) { SqlValue x; x.type = 3; x.bytes = std::move(v); return x; }
  static SqlValue Blob(std::string v) { SqlValue x; x.type = 4; x.bytes = std::move(v); return x; }
  static SqlValue From(sqlite3_value* value);
};
// Binds `value` to parameter `index` (1-based) of `stmt`; the SQLite result code.
[[nodiscard]] int BindValue(sqlite3_stmt* stmt, int index, const SqlValue& value);

}  // namespace engine

#endif  // KDX_ENGINE_SQLITE_SUPPORT_H_
