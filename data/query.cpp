#include "data/query.h"

#include <cmath>

#include "data/connection.h"
#include "data/engine_error.h"
#include "data/table_options.h"
#include "data/time_of_day.h"
#include "data/wait_cursor.h"
#include "engine/record_format.h"
#include "util/ascii.h"
#include "util/date_time.h"
#include "util/number_format.h"

namespace {

constexpr char kNoCursor[] =
    "The SQL statement did not generate a cursor handle.  Use TAdsQuery.ExecSQL to execute SQL statements "
    "that are not SELECT statements";
constexpr UNSIGNED16 kBinaryType = 6;

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }
bool EndsName(char c) { return c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';'; }

// Parameter names of a statement text, one per occurrence, in order. Quotes
// of any of the three kinds switch between inside and outside a literal;
// outside, a ":" not followed by another ":" starts a name that runs to a
// line break, blank, ")", "," or ";" or to the end (or is itself quoted).
std::vector<std::string> ScanParameterNames(const std::string& text) {
  std::vector<std::string> names;
  bool literal = false;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsQuote(c)) {
      literal = !literal;
      ++i;
      continue;
    }
    if (literal || c != ':') {
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == ':') {
      i += 2;
      continue;
    }
    std::string name;
    size_t j = i + 1;
    if (j < text.size() && IsQuote(text[j])) {
      const size_t close = text.find(text[j], j + 1);
      if (close == std::string::npos) {
        name = text.substr(j + 1);
        i = text.size();
      } else {
        name = text.substr(j + 1, close - j - 1);
        i = close + 1;
      }
    } else {
      while (j < text.size() && !EndsName(text[j])) ++j;
      name = text.substr(i + 1, j - i - 1);
      i = j;
    }
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

TParam MakeStoredParam(const std::string& name, TFieldType type) {
  TParam param;
  param.name_ = name;
  param.data_type_ = type;
  param.empty_ = true;
  return param;
}

TAdsQuery::TAdsQuery(TComponent* owner, std::string name) : TAdsDataSet(owner, std::move(name)) {}

TAdsQuery::~TAdsQuery() {
  try {
    CloseDataSet();
  } catch (const std::exception&) {
    // A destructor cannot raise; the engine drops the cursor with its
    // connection in any case.
  }
  if (statement_ != 0 && Connection() != nullptr && Connection()->IsConnected()) {
    // 5106 (already gone with its connection) is an expected answer, and a
    // destructor cannot raise any other: the engine drops the statement
    // with its connection.
    static_cast<void>(AdsCloseSQLStatement(statement_));
  }
  ForgetStatement();
}

// ---------------------------------------------------------------------------
// Statement text and parameters

std::string TAdsQuery::SqlText() const {
  std::string text;
  for (size_t i = 0; i < sql_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += sql_[i];
  }
  return text;
}

void TAdsQuery::ClearSql() {
  CloseDataSet();
  sql_.clear();
  Rescan();
}

void TAdsQuery::AddSqlLine(const std::string& line) {
  CloseDataSet();
  sql_.push_back(line);
  Rescan();
}

void TAdsQuery::SetSqlText(const std::string& text) {
  CloseDataSet();
  sql_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    sql_.push_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  Rescan();
}

void TAdsQuery::LoadStored(const std::vector<std::string>& lines, const std::vector<TParam>& params) {
  sql_ = lines;
  params_ = params;
}

void TAdsQuery::Rescan() {
  const std::string text = SqlText();
  if (!text.empty()) {
    std::vector<std::string> engine_names;
    CheckEngine(AdsGetSQLStmtParams(text, &engine_names));
  }
  std::vector<TParam> rebuilt;
  for (std::string& name : ScanParameterNames(text)) {
    TParam param;
    param.name_ = std::move(name);
    for (const TParam& old : params_) {
      if (EqualsNoCase(old.name_, param.name_)) {
        param.data_type_ = old.data_type_;
        param.empty_ = old.empty_;
        param.text_ = old.text_;
        param.number_ = old.number_;
        break;
      }
    }
    rebuilt.push_back(std::move(param));
  }
  params_ = std::move(rebuilt);
}

TParam& TAdsQuery::ParamNamed(const std::string& name) {
  for (TParam& param : params_) {
    if (EqualsNoCase(param.name_, name)) return param;
  }
  RaiseGenericError("Parameter '" + name + "' not found");
}

// ---------------------------------------------------------------------------
// Statement handle

ADSHANDLE TAdsQuery::EnsureStatement() {
  if (statement_ != 0) {
    UNSIGNED16 type = 0;
    const bool alive = AdsGetHandleType(statement_, &type) == AE_SUCCESS && type == ADS_STATEMENT;
    const TAdsConnection* connection = Connection();
    if (alive && connection != nullptr && connection->ConnectionHandle() == statement_connection_) return statement_;
    // Gone with its connection, or made on a connection the query no longer
    // uses (its DatabaseName changed): a new one carries no passwords. One
    // still alive is closed; should the close fail, the engine drops it with
    // its connection, and the query only needs to stop using it.
    if (alive) static_cast<void>(AdsCloseSQLStatement(statement_));
    ForgetStatement();
  }
  const ADSHANDLE connection = ConnectionHandleForOpen(true);
  ADSHANDLE statement = 0;
  const UNSIGNED32 result = AdsCreateSQLStatement(connection, &statement);
  if (result != AE_SUCCESS) RaiseEngineError(result);
  statement_ = statement;
  statement_connection_ = connection;
  return statement_;
}

void TAdsQuery::SetTablePassword(const std::string& table, const std::string& password) {
  const ADSHANDLE statement = EnsureStatement();
  CheckEngine(AdsStmtSetTablePassword(statement, table, password));
}

// ---------------------------------------------------------------------------
// Execution

void TAdsQuery::SetStatementOptions(ADSHANDLE statement) const {
  using data_internal::kCharTypeAnsi, data_internal::kLockProprietary, data_internal::kRightsNotChecked,
      data_internal::kTableTypeAdt;
  const bool read_only_connection = Connection() != nullptr && Connection()->ReadOnly();
  CheckEngine(AdsStmtSetTableLockType(statement, kLockProprietary));
  CheckEngine(AdsStmtSetTableCharType(statement, kCharTypeAnsi));
  CheckEngine(AdsStmtSetTableRights(statement, kRightsNotChecked));
  CheckEngine(AdsStmtSetTableReadOnly(statement, request_live_ && !read_only_connection ? 2 : 1));
  CheckEngine(AdsStmtSetTableType(statement, kTableTypeAdt));
  CheckEngine(AdsStmtConstrainUpdates(statement, constrained_ ? 1 : 2));
  CheckEngine(AdsStmtReadAllColumns(statement, read_all_columns_ ? 1 : 2));
  CheckEngine(AdsStmtSetStreamed(statement, streamed_ ? 1 : 0));
}

int32_t TAdsQuery::JulianDayOfParam(const TParam& param) const {
  const double day = std::trunc(param.number_) + kJulianDayOf18991230;
  if (!(day >= -2147483648.0 && day <= 2147483647.0)) {
    RaiseLayerError("The field named: '" + param.name_ + "' holds a date outside the range the engine takes: " +
                    FormatGeneral(param.number_));
  }
  return static_cast<int32_t>(day);
}

void TAdsQuery::BindParam(ADSHANDLE statement, UNSIGNED16 position, const TParam& param) const {
  if (param.empty_) {
    CheckEngine(AdsSetEmpty(statement, position));
    return;
  }
  switch (param.data_type_) {
    case TFieldType::ftUnknown:
      RaiseLayerError("The field named: '" + param.name_ + "' has the DataType of ftUnknown, which is invalid.");
    case TFieldType::ftBoolean:
      CheckEngine(AdsSetLogical(statement, position, param.number_ != 0 ? 1 : 0));
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      CheckEngine(AdsSetDouble(statement, position, param.number_));
      break;
    case TFieldType::ftDate:
      CheckEngine(AdsSetJulian(statement, position, JulianDayOfParam(param)));
      break;
    case TFieldType::ftTime:
      CheckEngine(AdsSetMilliseconds(statement, position,
                                     static_cast<int32_t>(data_internal::MillisecondsOfDay(param.number_))));
      break;
    case TFieldType::ftDateTime: {
      // The raw timestamp is the record format's: the day, then the
      // milliseconds, each 32 bits little-endian.
      uint8_t raw[8];
      record_format::PutTimestamp(JulianDayOfParam(param), data_internal::MillisecondsOfDay(param.number_), raw);
      CheckEngine(AdsSetTimeStampRaw(statement, position, raw, sizeof(raw)));
      break;
    }
    case TFieldType::ftBlob:
      CheckEngine(AdsSetBinary(statement, position, kBinaryType, reinterpret_cast<const uint8_t*>(param.text_.data()),
                               static_cast<UNSIGNED32>(param.text_.size())));
      break;
    case TFieldType::ftCursor:
      RaiseLayerError("The field named: '" + param.name_ + "' has a DataType that is not supported.");
    case TFieldType::ftInteger: {
      const std::string text = param.text_.empty() ? FormatGeneral(param.number_) : param.text_;
      CheckEngine(AdsSetString(statement, position, text));
      break;
    }
    case TFieldType::ftString:
    case TFieldType::ftMemo:
      CheckEngine(AdsSetString(statement, position, param.text_));
      break;
  }
}

ADSHANDLE TAdsQuery::PrepareBound() {
  const ADSHANDLE statement = EnsureStatement();
  SetStatementOptions(statement);
  CheckEngine(AdsPrepareSQL(statement, SqlText()));
  for (size_t i = 0; i < params_.size(); ++i) BindParam(statement, static_cast<UNSIGNED16>(i + 1), params_[i]);
  return statement;
}

bool TAdsQuery::QueueOpen() {
  UNSIGNED16 queued = 0;
  CheckEngine(AdsStmtQueueExecution(PrepareBound(), &queued));
  return queued != 0;
}

ADSHANDLE TAdsQuery::CreateHandle() {
  ScopedWaitCursor wait;
  const ADSHANDLE statement = PrepareBound();

  ADSHANDLE cursor = 0;
  const UNSIGNED32 result = AdsExecuteSQL(statement, &cursor);
  if (result != AE_SUCCESS) {
    const data_internal::EngineError error = data_internal::LastEngineError();
    if (error.detail.statement_unusable) {
      // The engine cannot use this statement again: the next open makes a
      // new one. The execution's failure is the one raised, whatever the
      // close answers.
      static_cast<void>(AdsCloseSQLStatement(statement_));
      ForgetStatement();
    }
    RaiseCapturedError(error.code != 0 ? error.code : result, error.text);
  }
  if (cursor == 0) RaiseLayerError(kNoCursor);
  return cursor;
}

void TAdsQuery::ReleaseHandle() { TAdsDataSet::ReleaseHandle(); }
