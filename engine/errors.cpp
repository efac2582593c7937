// Per-thread last error, error texts, process-wide settings, the handle
// registry and small SQLite helpers shared by the whole engine.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/internal.h"
#include "engine/sql_codes.h"

namespace engine {
namespace {

struct LastError {
  UNSIGNED32 code = 0;
  std::string text;
};

LastError& ThreadError() {
  thread_local LastError error;
  return error;
}

}  // namespace

UNSIGNED32 SetError(UNSIGNED32 code, std::string text) {
  LastError& error = ThreadError();
  error.code = code;
  error.text = std::move(text);
  return code;
}

void ClearError() { SetError(0, ""); }

UNSIGNED32 SqliteError(UNSIGNED32 code, const std::string& context, sqlite3* db) {
  std::string detail = db != nullptr ? sqlite3_errmsg(db) : "SQLite failure";
  return SetError(code, context + ": " + detail);
}

std::string ErrorCodeText(UNSIGNED32 code) {
  switch (code) {
    case AE_SUCCESS: return "No error";
    case AE_INSUFFICIENT_BUFFER: return "The buffer is too small for the value";
    case AE_NO_CURRENT_RECORD: return "There is no current record";
    case AE_INVALID_RECORD_NUMBER: return "The record does not exist";
    case AE_INVALID_CONNECTION_HANDLE: return "Invalid connection handle";
    case AE_NO_FILTER: return "The table has no filter";
    case AE_NO_SCOPE: return "The index has no scope";
    case AE_TABLE_NOT_ENCRYPTED: return "The table is not encrypted or is already readable";
    case AE_INVALID_SQLSTATEMENT_HANDLE: return "Invalid SQL statement handle";
    case AE_INFO_RECORD_COUNT_UNKNOWN: return "The record count is not known";
    case AE_INTERNAL_LAYER_ERROR: return "Error raised by the data access layer";
    case AE_TABLE_NOT_IN_DICTIONARY: return "The table is not in the data dictionary";
    case AE_COLUMN_NOT_FOUND: return "Column not found";
    case AE_COLUMN_TYPE_MISMATCH: return "The value does not match the column's type";
    case AE_COLUMN_VALUE_INVALID: return "The value is not valid for the column";
    case AE_INVALID_HANDLE: return "Invalid, closed or foreign handle";
    case AE_KDX_PATH_NOT_FOUND: return "The connection path does not exist";
    case AE_KDX_SERVER_UNAVAILABLE: return "None of the requested server types is available";
    case AE_KDX_TABLE_NOT_FOUND: return "Table file not found";
    case AE_KDX_NOT_A_DATABASE: return "The file is not an SQLite database";
    case AE_KDX_TABLE_LAYOUT: return "The table file does not hold exactly one table named like the file";
    case AE_KDX_BAD_COLUMN_TYPE: return "Unknown declared column type";
    case AE_KDX_BAD_STORED_VALUE: return "A stored value does not fit its column";
    case AE_KDX_BAD_INDEX: return "Unsupported index";
    case AE_KDX_SQLITE: return "SQLite failure";
    case AE_KDX_INVALID_ARGUMENT: return "Invalid argument";
    case AE_KDX_FILTER_SYNTAX: return "The filter expression is not understood";
    case AE_KDX_DATE_FORMAT: return "Invalid date format";
    case AE_KDX_BAD_KEY: return "Invalid index key";
    default: return SqlCodeText(code);
  }
}

std::recursive_mutex& EngineMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

EngineSettings& Settings() {
  static EngineSettings settings;
  return settings;
}

// ---- registry ------------------------------------------------------------------

HandleRegistry& HandleRegistry::Get() {
  static HandleRegistry registry;
  return registry;
}

HandleRegistry::~HandleRegistry() {
  // Handles still open at exit close newest first, so that every object goes
  // before the object it was opened on (an index before its table, a table
  // before its connection) and no destructor reaches a freed parent.
  std::vector<ADSHANDLE> live;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    live.reserve(entries_.size());
    for (const auto& entry : entries_) live.push_back(entry.first);
  }
  std::sort(live.begin(), live.end(), [](ADSHANDLE a, ADSHANDLE b) { return a > b; });
  for (ADSHANDLE handle : live) Destroy(handle);
}

ADSHANDLE HandleRegistry::Register(UNSIGNED16 type, std::unique_ptr<EngineObject> object) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (next_ == 0) return 0;  // wrapped: every handle has been used once
  ADSHANDLE handle = next_++;
  entries_.emplace(handle, Entry{type, std::move(object)});
  return handle;
}

const HandleRegistry::Recent* HandleRegistry::Locate(ADSHANDLE handle) const {
  Recent& slot = recent_[handle % recent_.size()];
  if (slot.handle == handle && handle != 0) return &slot;
  auto it = entries_.find(handle);
  if (it == entries_.end()) return nullptr;
  slot.handle = handle;
  slot.type = it->second.type;
  slot.object = it->second.object.get();
  return &slot;
}

EngineObject* HandleRegistry::Find(ADSHANDLE handle, UNSIGNED16 type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Recent* found = Locate(handle);
  if (found == nullptr || found->type != type) return nullptr;
  return found->object;
}

EngineObject* HandleRegistry::FindAny(ADSHANDLE handle, UNSIGNED16* type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Recent* found = Locate(handle);
  if (found == nullptr) return nullptr;
  *type = found->type;
  return found->object;
}

bool HandleRegistry::TypeOf(ADSHANDLE handle, UNSIGNED16* type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Recent* found = Locate(handle);
  if (found == nullptr) return false;
  *type = found->type;
  return true;
}

bool HandleRegistry::Destroy(ADSHANDLE handle) {
  std::unique_ptr<EngineObject> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(handle);
    if (it == entries_.end()) return false;
    doomed = std::move(it->second.object);
    entries_.erase(it);
    Recent& slot = recent_[handle % recent_.size()];
    if (slot.handle == handle) slot = Recent();
  }
  doomed.reset();  // outside the lock: destructors destroy their children
  return true;
}

UNSIGNED32 InvalidHandleError(ADSHANDLE handle, UNSIGNED16 type) {
  std::string kind;
  UNSIGNED32 code = AE_INVALID_HANDLE;
  switch (type) {
    case ADS_CONNECTION: kind = "connection"; code = AE_INVALID_CONNECTION_HANDLE; break;
    case ADS_STATEMENT: kind = "SQL statement"; code = AE_INVALID_SQLSTATEMENT_HANDLE; break;
    case ADS_INDEX_ORDER: kind = "index"; break;
    case ADS_CURSOR: kind = "cursor"; break;
    default: kind = "table"; break;
  }
  return SetError(code, "Handle " + std::to_string(handle) + " is not an open " + kind + " handle");
}

// ---- SQLite helpers ---------------------------------------------------------------

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

}  // namespace engine

// ---- entry points: errors and settings -------------------------------------------

using namespace engine;

namespace {

// A date format is made of d, M, y, c and separators (anything that is not a
// letter or a digit), at most 11 characters, and names day, month and year.
bool ValidDateFormat(const std::string& format, std::string* why) {
  if (format.empty()) {
    *why = "the format is empty";
    return false;
  }
  if (format.size() > 11) {
    *why = "the format is longer than 11 characters";
    return false;
  }
  bool day = false, month = false, year = false;
  for (char c : format) {
    switch (c) {
      case 'd': case 'D': day = true; break;
      case 'M': case 'm': month = true; break;
      case 'y': case 'Y': case 'c': case 'C': year = true; break;
      default:
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
          *why = std::string("'") + c + "' is neither d, M, y, c nor a separator";
          return false;
        }
    }
  }
  if (!day || !month || !year) {
    *why = "the format must name the day (d), the month (M) and the year (y or c)";
    return false;
  }
  return true;
}

}  // namespace

UNSIGNED32 AdsGetLastError(UNSIGNED32* code, std::string* text) {
  LastError& error = ThreadError();
  if (code != nullptr) *code = error.code;
  if (text != nullptr) *text = error.text;
  return 0;
}

UNSIGNED32 AdsGetErrorString(UNSIGNED32 code, std::string* text) {
  if (text == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetErrorString: no place for the text");
  std::string fixed = ErrorCodeText(code);
  if (fixed.empty()) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetErrorString: unknown error code " + std::to_string(code));
  }
  *text = fixed;
  return 0;
}

UNSIGNED32 AdsShowError(const std::string& title) {
  LastError& error = ThreadError();
  std::fprintf(stderr, "%s: %u %s\n", title.c_str(), static_cast<unsigned>(error.code), error.text.c_str());
  return 0;
}

UNSIGNED32 AdsSetDateFormat(const std::string& format) {
  EngineGuard guard(EngineMutex());
  std::string why;
  if (!ValidDateFormat(format, &why)) {
    return SetError(AE_KDX_DATE_FORMAT, "Date format '" + format + "' refused: " + why);
  }
  Settings().date_format = format;
  return 0;
}

UNSIGNED32 AdsGetDateFormat(std::string* format) {
  EngineGuard guard(EngineMutex());
  if (format == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDateFormat: no place for the format");
  *format = Settings().date_format;
  return 0;
}

UNSIGNED32 AdsGetDecimals(UNSIGNED16* decimals) {
  EngineGuard guard(EngineMutex());
  if (decimals == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDecimals: no place for the value");
  *decimals = Settings().decimals;
  return 0;
}

UNSIGNED32 AdsSetDecimals(UNSIGNED16 decimals) {
  EngineGuard guard(EngineMutex());
  if (decimals > 15) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "AdsSetDecimals: " + std::to_string(decimals) +
                                                 " decimals is more than the 15 a double can show");
  }
  Settings().decimals = decimals;
  return 0;
}

UNSIGNED32 AdsGetDeleted(UNSIGNED16* show_deleted) {
  EngineGuard guard(EngineMutex());
  if (show_deleted == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDeleted: no place for the value");
  *show_deleted = Settings().show_deleted;
  return 0;
}

UNSIGNED32 AdsShowDeleted(UNSIGNED16 show_deleted) {
  EngineGuard guard(EngineMutex());
  Settings().show_deleted = show_deleted != 0 ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsSetServerType(UNSIGNED16 mask) {
  EngineGuard guard(EngineMutex());
  constexpr UNSIGNED16 kKnown = ADS_LOCAL_SERVER | ADS_REMOTE_SERVER | ADS_AIS_SERVER;
  if (mask == 0 || (mask & ~kKnown) != 0) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "AdsSetServerType: invalid server-type mask " + std::to_string(mask));
  }
  Settings().server_types = mask;
  return 0;
}

UNSIGNED32 AdsCacheOpenTables(UNSIGNED16 count) {
  EngineGuard guard(EngineMutex());
  Settings().cached_tables = count;
  return 0;
}

UNSIGNED32 AdsCacheOpenCursors(UNSIGNED16 count) {
  EngineGuard guard(EngineMutex());
  Settings().cached_cursors = count;
  return 0;
}

UNSIGNED32 AdsGetHandleType(ADSHANDLE handle, UNSIGNED16* type) {
  if (type == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetHandleType: no place for the type");
  if (!HandleRegistry::Get().TypeOf(handle, type)) {
    return SetError(AE_INVALID_HANDLE, "Handle " + std::to_string(handle) + " is not open");
  }
  return 0;
}
