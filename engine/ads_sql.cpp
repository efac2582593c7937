// Entry points for SQL statements.
#include <cstring>
#include <memory>

#include "engine/connection.h"
#include "engine/errors.h"
#include "engine/file_statement.h"
#include "engine/server_statement.h"
#include "engine/handles.h"
#include "engine/record_format.h"

namespace engine {
namespace {

// f(SqlStatement&) -> Status for the statement of `handle`.
template <class F>
UNSIGNED32 WithStatement(ADSHANDLE handle, F&& f) {
  EngineGuard guard(EngineMutex());
  SqlStatement* statement = nullptr;
  if (Status found = Lookup(handle, ADS_STATEMENT, &statement); !found.ok()) return found;
  return Status(f(*statement));
}

UNSIGNED32 SetOption(ADSHANDLE handle, UNSIGNED16 StatementOptions::*member, UNSIGNED16 value) {
  return WithStatement(handle, [&](SqlStatement& s) {
    s.options().*member = value;
    return Status();
  });
}

}  // namespace

UNSIGNED32 GetStatementOptions(ADSHANDLE statement, StatementOptions* options) {
  return WithStatement(statement, [&](SqlStatement& s) {
    *options = s.options();
    return Status();
  });
}

}  // namespace engine

const char* SqlCodeText(UNSIGNED32 code) {
  switch (code) {
    case AE_KDX_LOGIN_FAILED: return "The dictionary refused the user name or password";
    case AE_KDX_TABLE_PASSWORD_MISSING: return "The SQL statement reads a sealed table without its table password";
    case AE_KDX_SEALED_REFUSED: return "Wrong table password, or a damaged sealed table";
    case AE_KDX_SQL_PREPARE: return "The SQL statement cannot be prepared";
    case AE_KDX_SQL_PARAMETER: return "The SQL parameter is not valid";
    case AE_KDX_SQL_EXECUTE: return "The SQL statement failed";
    case AE_KDX_SQL_NOT_PREPARED: return "The SQL statement has not been prepared";
    case AE_KDX_TABLE_SEALED: return "The table is sealed and was opened without its table password";
    default: return "";
  }
}

using namespace engine;

UNSIGNED32 AdsCreateSQLStatement(ADSHANDLE connection, ADSHANDLE* statement) {
  EngineGuard guard(EngineMutex());
  EngineConnection* c = nullptr;
  if (Status found = Lookup(connection, ADS_CONNECTION, &c); !found.ok()) return found;
  if (statement == nullptr) return Status(AE_KDX_INVALID_ARGUMENT, "AdsCreateSQLStatement: no place for the handle");
  std::unique_ptr<SqlStatement> object;
  if (c->is_server()) {
    object = std::make_unique<ServerStatement>(c);
  } else {
    object = std::make_unique<FileStatement>(c);
  }
  SqlStatement* raw = object.get();
  const ADSHANDLE h = HandleRegistry::Get().Register(ADS_STATEMENT, std::move(object));
  if (h == 0) return Status(AE_KDX_INVALID_ARGUMENT, "No handle left for a new SQL statement");
  raw->set_handle(h);
  c->AddChild(h);
  *statement = h;
  return 0;
}

UNSIGNED32 AdsStmtSetTablePassword(ADSHANDLE statement, const std::string& table, const std::string& password) {
  return WithStatement(statement, [&](SqlStatement& s) { return s.SetTablePassword(table, password); });
}

UNSIGNED32 AdsStmtSetTableLockType(ADSHANDLE statement, UNSIGNED16 value) {
  return SetOption(statement, &StatementOptions::lock_type, value);
}
UNSIGNED32 AdsStmtSetTableCharType(ADSHANDLE statement, UNSIGNED16 value) {
  return SetOption(statement, &StatementOptions::char_type, value);
}
UNSIGNED32 AdsStmtSetTableRights(ADSHANDLE statement, UNSIGNED16 value) {
  return SetOption(statement, &StatementOptions::rights, value);
}
UNSIGNED32 AdsStmtSetTableReadOnly(ADSHANDLE statement, UNSIGNED16 value) {
  return SetOption(statement, &StatementOptions::read_only, value);
}
UNSIGNED32 AdsStmtSetTableType(ADSHANDLE statement, UNSIGNED16 value) {
  return SetOption(statement, &StatementOptions::table_type, value);
}
UNSIGNED32 AdsStmtConstrainUpdates(ADSHANDLE statement, UNSIGNED16 value) {
  return SetOption(statement, &StatementOptions::constrain_updates, value);
}
UNSIGNED32 AdsStmtReadAllColumns(ADSHANDLE statement, UNSIGNED16 value) {
  return SetOption(statement, &StatementOptions::read_all_columns, value);
}
UNSIGNED32 AdsStmtSetStreamed(ADSHANDLE statement, UNSIGNED16 streamed) {
  return SetOption(statement, &StatementOptions::streamed, streamed);
}

UNSIGNED32 AdsGetSQLStmtParams(const std::string& text, std::vector<std::string>* names) {
  EngineGuard guard(EngineMutex());
  if (names == nullptr) return Status(AE_KDX_INVALID_ARGUMENT, "AdsGetSQLStmtParams: no place for the names");
  names->clear();
  for (const SqlParamPlace& place : ScanSqlParams(text)) {
    if (place.name.empty()) {
      names->clear();
      return Status(AE_KDX_SQL_PARAMETER, "SQL statement \"" + text.substr(0, kQuotedTextLength) +
                                                "\": the ':' at offset " + std::to_string(place.offset) +
                                                " is followed by no parameter name");
    }
    names->push_back(place.name);
  }
  return 0;
}

UNSIGNED32 AdsPrepareSQL(ADSHANDLE statement, const std::string& text) {
  return WithStatement(statement, [&](SqlStatement& s) { return s.Prepare(text); });
}

UNSIGNED32 AdsSetEmpty(ADSHANDLE statement, UNSIGNED16 position) {
  return WithStatement(statement, [&](SqlStatement& s) { return s.Bind(position, BoundValue()); });
}

UNSIGNED32 AdsSetString(ADSHANDLE statement, UNSIGNED16 position, const std::string& value) {
  BoundValue v;
  v.kind = BoundValue::Kind::kText;
  v.bytes = value;
  return WithStatement(statement, [&](SqlStatement& s) { return s.Bind(position, std::move(v)); });
}

UNSIGNED32 AdsSetJulian(ADSHANDLE statement, UNSIGNED16 position, SIGNED32 julian_day) {
  BoundValue v;
  if (julian_day != 0) {  // day 0 is the empty date
    v.kind = BoundValue::Kind::kDate;
    v.julian = julian_day;
  }
  return WithStatement(statement, [&](SqlStatement& s) { return s.Bind(position, std::move(v)); });
}

UNSIGNED32 AdsSetMilliseconds(ADSHANDLE statement, UNSIGNED16 position, SIGNED32 milliseconds) {
  BoundValue v;
  v.kind = BoundValue::Kind::kTime;
  v.milliseconds = milliseconds;
  return WithStatement(statement, [&](SqlStatement& s) { return s.Bind(position, std::move(v)); });
}

UNSIGNED32 AdsSetTimeStampRaw(ADSHANDLE statement, UNSIGNED16 position, const uint8_t* bytes, UNSIGNED32 length) {
  return WithStatement(statement, [&](SqlStatement& s) {
    if (bytes == nullptr || length != 8) {
      return Status(AE_KDX_SQL_PARAMETER, "AdsSetTimeStampRaw: a time stamp is 8 bytes, not " +
                                                std::to_string(bytes == nullptr ? 0 : length));
    }
    // The raw record's byte order.
    const auto day = static_cast<int32_t>(record_format::Get32(bytes));
    const auto ms = static_cast<int32_t>(record_format::Get32(bytes + 4));
    BoundValue v;
    if (day != 0) {  // a zero day part is the empty date-time
      v.kind = BoundValue::Kind::kTimestamp;
      v.julian = day;
      v.milliseconds = ms;
    }
    return s.Bind(position, std::move(v));
  });
}

UNSIGNED32 AdsSetDouble(ADSHANDLE statement, UNSIGNED16 position, double value) {
  BoundValue v;
  v.kind = BoundValue::Kind::kDouble;
  v.number = value;
  return WithStatement(statement, [&](SqlStatement& s) { return s.Bind(position, std::move(v)); });
}

UNSIGNED32 AdsSetLogical(ADSHANDLE statement, UNSIGNED16 position, UNSIGNED16 value) {
  BoundValue v;
  v.kind = BoundValue::Kind::kLogical;
  v.number = value != 0 ? 1 : 0;
  return WithStatement(statement, [&](SqlStatement& s) { return s.Bind(position, std::move(v)); });
}

UNSIGNED32 AdsSetBinary(ADSHANDLE statement, UNSIGNED16 position, UNSIGNED16 binary_type, const uint8_t* bytes,
                        UNSIGNED32 length) {
  (void)binary_type;  // binary and image values are stored alike
  BoundValue v;
  v.kind = BoundValue::Kind::kBinary;
  if (bytes != nullptr) v.bytes.assign(reinterpret_cast<const char*>(bytes), length);
  return WithStatement(statement, [&](SqlStatement& s) { return s.Bind(position, std::move(v)); });
}

UNSIGNED32 AdsExecuteSQL(ADSHANDLE statement, ADSHANDLE* cursor) {
  return WithStatement(statement, [&](SqlStatement& s) {
    if (cursor == nullptr) return Status(AE_KDX_INVALID_ARGUMENT, "AdsExecuteSQL: no place for the cursor handle");
    *cursor = 0;
    return s.Execute(cursor);
  });
}

UNSIGNED32 AdsStmtQueueExecution(ADSHANDLE statement, UNSIGNED16* queued) {
  return WithStatement(statement, [&](SqlStatement& s) {
    if (queued == nullptr) return Status(AE_KDX_INVALID_ARGUMENT, "AdsStmtQueueExecution: no place for the answer");
    bool kept = false;
    Status rc = s.Queue(&kept);
    *queued = kept ? 1 : 0;
    return rc;
  });
}

UNSIGNED32 AdsCloseSQLStatement(ADSHANDLE statement) {
  EngineGuard guard(EngineMutex());
  SqlStatement* s = nullptr;
  if (Status found = Lookup(statement, ADS_STATEMENT, &s); !found.ok()) return found;
  HandleRegistry::Get().Destroy(statement);
  return 0;
}
