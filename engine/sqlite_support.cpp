#include "engine/sqlite_support.h"

#include <sqlite3.h>

#include "engine/errors.h"
#include "engine/sql_codes.h"

namespace engine {

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = other.stmt_;
    other.stmt_ = nullptr;
  }
  return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

UNSIGNED32 OpenSqlite(const std::string& path, int flags, sqlite3** db) {
  *db = nullptr;
  sqlite3* handle = nullptr;
  // Every database the engine opens is used under the engine's own mutex
  // only, so SQLite's per-connection mutex would merely be taken and
  // released again around each of the many calls that copy a row out.
  int rc = sqlite3_open_v2(path.c_str(), &handle, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    UNSIGNED32 code = SqliteError(AE_KDX_SQLITE, "Cannot open database file '" + path + "'", handle);
    sqlite3_close(handle);
    return code;
  }
  sqlite3_busy_timeout(handle, kBusyTimeoutMs);
  sqlite3_extended_result_codes(handle, 1);
  // Reading the schema is the cheapest check that the file is a database.
  rc = sqlite3_exec(handle, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    UNSIGNED32 code = (rc & 0xFF) == SQLITE_NOTADB
                          ? SqliteError(AE_KDX_NOT_A_DATABASE, "File '" + path + "' is not an SQLite database", handle)
                          : SqliteError(AE_KDX_SQLITE, "Cannot read database file '" + path + "'", handle);
    sqlite3_close(handle);
    return code;
  }
  *db = handle;
  return 0;
}

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

SqlValue SqlValue::From(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER: return Integer(sqlite3_value_int64(value));
    case SQLITE_FLOAT: return Real(sqlite3_value_double(value));
    case SQLITE_TEXT: {
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      return Text(std::string(text, static_cast<size_t>(sqlite3_value_bytes(value))));
    }
    case SQLITE_BLOB: {
      const char* blob = static_cast<const char*>(sqlite3_value_blob(value));
      return Blob(std::string(blob == nullptr ? "" : std::string(blob, static_cast<size_t>(sqlite3_value_bytes(value)))));
    }
    default: return Null();
  }
}

int BindValue(sqlite3_stmt* stmt, int index, const SqlValue& value) {
  switch (value.type) {
    case SQLITE_INTEGER: return sqlite3_bind_int64(stmt, index, value.integer);
    case SQLITE_FLOAT: return sqlite3_bind_double(stmt, index, value.real);
    case SQLITE_TEXT:
      return sqlite3_bind_text(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()),
                               SQLITE_TRANSIENT);
    case SQLITE_BLOB:
      return sqlite3_bind_blob(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()),
                               SQLITE_TRANSIENT);
    default: return sqlite3_bind_null(stmt, index);
  }
}

}  // namespace engine
