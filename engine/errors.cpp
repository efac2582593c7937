// The per-thread last error, the status type, the fixed texts of the error
// codes, the engine's lock, and the entry points that report errors.
#include "engine/errors.h"

#include <sqlite3.h>

#include <cstdio>
#include <utility>

#include "engine/pg_codes.h"
#include "engine/sealed_pages.h"
#include "engine/sql_codes.h"

namespace engine {
namespace {

struct LastError {
  UNSIGNED32 code = 0;
  std::string text;
  ErrorDetail detail;
};

LastError& ThreadError() {
  thread_local LastError error;
  return error;
}

// The file NoteChangedWhileRead named last on this thread, until reported.
std::string& ChangedWhileRead() {
  thread_local std::string path;
  return path;
}

// The file NoteFailedFile named last on this thread, until reported.
std::string& FailedFile() {
  thread_local std::string path;
  return path;
}

const ErrorDetail& NoDetail() {
  static const ErrorDetail detail;
  return detail;
}

}  // namespace

// ---- Status --------------------------------------------------------------------

Status::Status(UNSIGNED32 code, std::string text) : rep_(new Rep{code, std::move(text), {}}) {}

Status::Status(const Status& other) : rep_(other.rep_ == nullptr ? nullptr : new Rep(*other.rep_)) {}

Status& Status::operator=(const Status& other) {
  if (this != &other) rep_.reset(other.rep_ == nullptr ? nullptr : new Rep(*other.rep_));
  return *this;
}

const std::string& Status::text() const noexcept {
  static const std::string kNone;
  return rep_ == nullptr ? kNone : rep_->text;
}

const ErrorDetail& Status::detail() const noexcept { return rep_ == nullptr ? NoDetail() : rep_->detail; }

Status&& Status::WithTable(std::string table) && { return std::move(WithTable(std::move(table))); }

Status&& Status::WithColumn(std::string column) && { return std::move(WithColumn(std::move(column))); }

Status&& Status::WithServer(std::string server) && { return std::move(WithServer(std::move(server))); }

Status&& Status::WithUnusableStatement() && { return std::move(WithUnusableStatement()); }

Status& Status::WithTable(std::string table) & {
  if (rep_ != nullptr) rep_->detail.table = std::move(table);
  return *this;
}

Status& Status::WithColumn(std::string column) & {
  if (rep_ != nullptr) rep_->detail.column = std::move(column);
  return *this;
}

Status& Status::WithServer(std::string server) & {
  if (rep_ != nullptr) rep_->detail.server = std::move(server);
  return *this;
}

Status& Status::WithUnusableStatement() & {
  if (rep_ != nullptr) rep_->detail.statement_unusable = true;
  return *this;
}

UNSIGNED32 Status::Publish() const {
  RecordError(rep_->code, rep_->text, rep_->detail);
  return rep_->code;
}

Status LastErrorStatus(UNSIGNED32 code) {
  if (code == 0) return Status();
  const LastError& error = ThreadError();
  Status status(code, error.text);
  status.WithTable(error.detail.table).WithColumn(error.detail.column).WithServer(error.detail.server);
  if (error.detail.statement_unusable) status.WithUnusableStatement();
  return status;
}

// ---- the last error --------------------------------------------------------------

void RecordError(UNSIGNED32 code, const std::string& text, const ErrorDetail& detail) {
  LastError& error = ThreadError();
  error.code = code;
  error.text = text;
  error.detail = detail;
}

UNSIGNED32 SetError(UNSIGNED32 code, std::string text) {
  LastError& error = ThreadError();
  error.code = code;
  error.text = std::move(text);
  error.detail = ErrorDetail();
  return code;
}

void ClearError() { RecordError(0, "", NoDetail()); }

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

Status AsErrorLine(const Status& status) {
  if (status.ok()) return Status();
  Status line(status.code(), "error " + std::to_string(status.code()) + ": " + status.text());
  const ErrorDetail& detail = status.detail();
  line.WithTable(detail.table).WithColumn(detail.column).WithServer(detail.server);
  if (detail.statement_unusable) line.WithUnusableStatement();
  return line;
}

void NoteChangedWhileRead(const std::string& path) { ChangedWhileRead() = path; }

void NoteFailedFile(const std::string& path) { FailedFile() = path; }

Status SqliteError(UNSIGNED32 code, const std::string& context, sqlite3* db) {
  const std::string changed = std::exchange(ChangedWhileRead(), std::string());
  const std::string failed = std::exchange(FailedFile(), std::string());
  const int primary = db != nullptr ? sqlite3_errcode(db) & 0xFF : SQLITE_IOERR;
  // A page of a sealed table that fails authentication: the table is
  // damaged, whatever SQLite was doing.
  if (std::string page; TakeSealedPageFailure(&page) && primary == SQLITE_IOERR) {
    return Status(AE_KDX_SEALED_REFUSED, page.rfind(context, 0) == 0 ? page : context + ": " + page);
  }
  if (!changed.empty() && primary == SQLITE_IOERR) {
    return Status(code, context + ": the table file '" + changed +
                            "' changed while it was read (a program began writing it, and its write-ahead log was "
                            "folded into the file): nothing of that table can be trusted; run the export again");
  }
  std::string detail = db != nullptr ? sqlite3_errmsg(db) : "SQLite failure";
  if (!failed.empty() && (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) &&
      context.find(failed) == std::string::npos) {
    detail += " (file " + Quoted(failed) + ")";
  }
  return Status(code, context + ": " + detail);
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
    case AE_KDX_HOT_JOURNAL: return "A table file was left in the middle of a write by another program";
    case AE_KDX_PATH_IS_TABLE_FILE:
      return "The connection path is a table file, not a folder of tables or a dictionary";
    default: {
      // The SQL and server codes keep their texts beside their definitions.
      const std::string sql = SqlCodeText(code);
      return sql.empty() ? PgCodeText(code) : sql;
    }
  }
}

std::recursive_mutex& EngineMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

}  // namespace engine

using namespace engine;

UNSIGNED32 AdsGetLastError(UNSIGNED32* code, std::string* text) {
  LastError& error = ThreadError();
  if (code != nullptr) *code = error.code;
  if (text != nullptr) *text = error.text;
  return 0;
}

UNSIGNED32 AdsGetLastErrorDetail(AdsErrorDetail* detail) {
  if (detail == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetLastErrorDetail: no place for the detail");
  *detail = ThreadError().detail;
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

