// SQL statements: their own SQLite connection, table attachment on demand,
// named parameters bound by position, and result cursors.
#include "engine/sql_statement.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/connection.h"
#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/handles.h"
#include "engine/schema.h"
#include "engine/sealed_file.h"
#include "engine/sql_context.h"
#include "engine/sql_params.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {
namespace {

constexpr int64_t kFirstJulian = 1721426;  // 1 January of year 1
constexpr int64_t kLastJulian = 5373484;   // 31 December 9999
constexpr int64_t kMillisecondsPerDay = 86400000;
// Widest CHAR column the engine accepts; longer expression texts become MEMO.
// How much of a statement's text error messages quote.
constexpr size_t kQuotedTextLength = 300;
// Tables one statement may attach (SQLite's compiled-in limit is 10).
constexpr int kMaxAttachments = 10;

enum class PlaceKind { kOther, kDate, kTimestamp, kTime };

struct BoundValue {
  enum class Kind { kNull, kText, kDate, kTime, kTimestamp, kDouble, kLogical, kBinary };
  Kind kind = Kind::kNull;
  std::string bytes;
  int64_t julian = 0;
  int64_t milliseconds = 0;
  double number = 0;
};

struct Attachment {
  std::string schema;
  std::string file;
  bool sealed = false;
  std::string password;  // the password the image was decrypted with
};

struct ResultColumn {
  std::string name;
  std::string declared;  // "" for an expression: its type follows its values
};

// Everything derived from one prepared text; rebuilt when the text changes.
struct PreparedShape {
  std::vector<ResultColumn> columns;
  std::string table_name;    // name of the materialised table
  std::string display_name;  // its name in messages
  std::vector<std::string> index_sql;
  bool has_expressions = false;  // a column's type follows its values
};

std::string Upper(std::string text) { return ToUpperAscii(std::move(text)); }

// The key passwords are stored under: the bare table name, upper case,
// without folder and without a ".ADT" extension.
std::string TableKey(const std::string& name) {
  std::string key = name;
  const size_t slash = key.find_last_of("/\\");
  if (slash != std::string::npos) key = key.substr(slash + 1);
  key = Upper(key);
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ".ADT") == 0) key.resize(key.size() - 4);
  return key;
}

std::string FileStem(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri + "?mode=rw";
}

bool OnlySpaceOrSemicolons(const char* tail) {
  std::string_view rest(tail == nullptr ? "" : tail);
  size_t i = 0;
  while (i < rest.size()) {
    const char c = rest[i];
    if (std::isspace(static_cast<unsigned char>(c)) || c == ';') {
      ++i;
    } else if (rest.compare(i, 2, "--") == 0) {
      while (i < rest.size() && rest[i] != '\n') ++i;
    } else if (rest.compare(i, 2, "/*") == 0) {
      const size_t end = rest.find("*/", i + 2);
      if (end == std::string_view::npos) return true;  // an open comment runs to the end
      i = end + 2;
    } else {
      return false;
    }
  }
  return true;
}

PlaceKind KindOfDeclared(const std::string& declared) {
  ColumnType type;
  std::string why;
  if (declared.empty() || !ParseDeclaredType(declared, &type, &why)) return PlaceKind::kOther;
  switch (type.type) {
    case ADS_DATE: return PlaceKind::kDate;
    case ADS_TIMESTAMP: return PlaceKind::kTimestamp;
    case ADS_TIME: return PlaceKind::kTime;
    default: return PlaceKind::kOther;
  }
}

// An in-memory database holding the rows of one execution, read by one
// cursor at a time. Creating a result table, loading its layout and preparing
// its reads cost more than running a small statement, so once its cursor has
// closed the database is emptied and serves the next execution of the same
// text: only the rows change. Its statements are finalised before it closes.
struct ResultStore {
  sqlite3* db = nullptr;
  uint64_t generation = 0;  // of the shape the table was made for
  bool reusable = false;    // column types do not depend on the values
  ADSHANDLE cursor = 0;     // the cursor reading it; 0 once that has closed
  Statement clear;          // DELETE FROM the result table
  Statement begin;
  Statement commit;
  Statement insert;         // one result row
  std::unique_ptr<EngineTable> layout;  // loaded once, never registered
  EngineTable::ReadCachePtr reads;      // left by the last cursor

  ResultStore() = default;
  ResultStore(const ResultStore&) = delete;
  ResultStore& operator=(const ResultStore&) = delete;
  ~ResultStore() {
    sqlite3* owned = Release();
    if (owned != nullptr) sqlite3_close(owned);
  }
  // Finalises everything prepared on the database and gives it up.
  sqlite3* Release() {
    clear = Statement();
    begin = Statement();
    commit = Statement();
    insert = Statement();
    layout.reset();
    reads.reset();
    sqlite3* owned = db;
    db = nullptr;
    return owned;
  }
};

// The result databases of one statement. Cursors hold it weakly: a closing
// cursor hands its prepared reads back while the statement exists.
class ResultStores : public EngineTable::Recycler {
 public:
  void Recycle(sqlite3* db, EngineTable::ReadCachePtr reads) override {
    for (const std::unique_ptr<ResultStore>& store : stores) {
      if (store->db != db) continue;
      store->cursor = 0;
      store->reads = std::move(reads);
      return;
    }
  }
  std::vector<std::unique_ptr<ResultStore>> stores;
};

class SqlStatement : public EngineObject {
 public:
  explicit SqlStatement(EngineConnection* connection) : connection_(connection) {}
  ~SqlStatement() override {
    Finalize();
    for (const std::unique_ptr<ResultStore>& store : stores_->stores) {
      // A cursor still open takes its database over, as it stands; the
      // others are closed with their stores.
      if (store->cursor == 0) continue;
      EngineObject* object = HandleRegistry::Get().Find(store->cursor, ADS_CURSOR);
      auto* cursor = static_cast<EngineTable*>(object);
      if (cursor != nullptr && cursor->db() == store->db) {
        store->Release();
        cursor->AdoptDatabase();
      }
    }
    stores_.reset();  // every cursor's recycler expires here
    if (db_ != nullptr) sqlite3_close(db_);
    if (connection_ != nullptr && handle_ != 0) connection_->RemoveChild(handle_);
  }

  void set_handle(ADSHANDLE handle) { handle_ = handle; }
  StatementOptions& options() { return options_; }

  UNSIGNED32 SetTablePassword(const std::string& table, const std::string& password);
  UNSIGNED32 Prepare(const std::string& text);
  UNSIGNED32 Bind(UNSIGNED16 position, BoundValue value);
  UNSIGNED32 Execute(ADSHANDLE* cursor);

 private:
  static int Authorize(void* self, int action, const char* a, const char* b, const char* schema, const char*);

  std::string Describe() const {
    std::string text = text_.size() > kQuotedTextLength ? text_.substr(0, kQuotedTextLength) + "..." : text_;
    for (char& c : text)
      if (c == '\r' || c == '\n') c = ' ';
    return "SQL statement \"" + text + "\"";
  }
  void Finalize() {
    if (stmt_ != nullptr) sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    prepared_ = false;
  }
  UNSIGNED32 OpenDatabase();
  UNSIGNED32 AttachTable(const std::string& name);
  void Detach(const std::string& schema);
  void ComputePlaceKinds(const std::string& positional);
  UNSIGNED32 BuildShape();
  // Creates the result table of the current shape, its indexes and the
  // statements that fill it, in a new store (column types known in advance).
  UNSIGNED32 NewStore(std::unique_ptr<ResultStore>* out);
  UNSIGNED32 BindPlaces();
  UNSIGNED32 Materialise(ADSHANDLE* cursor);

  EngineConnection* connection_;
  ADSHANDLE handle_ = 0;
  StatementOptions options_;
  std::map<std::string, std::string> passwords_;  // TableKey -> password
  sqlite3* db_ = nullptr;
  std::vector<Attachment> attached_;

  // The prepared text and what was derived from it.
  std::string text_;
  bool prepared_ = false;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<SqlParamPlace> places_;
  std::vector<PlaceKind> place_kinds_;
  std::vector<BoundValue> values_;
  std::vector<bool> bound_;
  std::set<std::pair<std::string, std::string>> reads_;  // (schema, table) read by the text
  bool collecting_reads_ = false;
  bool internal_attach_ = false;
  std::unique_ptr<PreparedShape> shape_;
  uint64_t shape_generation_ = 0;
  // SQLite's re-preparation count of stmt_ when the shape was built: SQLite
  // prepares a statement again after a schema change, which may change its
  // columns, and the shape is then built again.
  int shape_reprepares_ = 0;

  // The in-memory databases of the cursors this statement made (see
  // ResultStore).
  std::shared_ptr<ResultStores> stores_ = std::make_shared<ResultStores>();
  // Closes the stores whose cursor has closed, except one that can serve the
  // current shape when `reusable`: that one is taken out of the list and
  // returned (else null).
  std::unique_ptr<ResultStore> TakeSpareStore(bool reusable);
};

int SqlStatement::Authorize(void* self_pointer, int action, const char* a, const char*, const char* schema,
                            const char*) {
  auto* self = static_cast<SqlStatement*>(self_pointer);
  const std::string table = a != nullptr ? a : "";
  switch (action) {
    case SQLITE_READ:
      // The account table's password hashes are not for SQL.
      if (EqualsNoCase(table, "__users")) return SQLITE_DENY;
      if (self->collecting_reads_ && !table.empty() && Upper(table).rfind("SQLITE_", 0) != 0)
        self->reads_.insert({schema != nullptr ? schema : "main", table});
      return SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      // The engine's own tables are written by the engine only.
      return table.rfind("__", 0) == 0 ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
      // Which files a statement reads is the connection's business.
      return self->internal_attach_ ? SQLITE_OK : SQLITE_DENY;
    default:
      return SQLITE_OK;
  }
}

UNSIGNED32 SqlStatement::OpenDatabase() {
  if (db_ != nullptr) return 0;
  std::string path = ":memory:";
  if (connection_->is_dictionary()) {
    const char* file = sqlite3_db_filename(connection_->dictionary(), "main");
    path = file != nullptr ? file : connection_->path();
  }
  // Used under the engine's mutex only, like every database the engine opens.
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX |
                    (connection_->is_dictionary() ? 0 : SQLITE_OPEN_CREATE);
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    UNSIGNED32 rc = SqliteError(AE_KDX_SQLITE, "SQL statement: cannot open '" + path + "'", db_);
    sqlite3_close(db_);
    db_ = nullptr;
    return rc;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, kMaxAttachments);
  // Sorting the rows of a sealed table must not spill plaintext to disk.
  sqlite3_exec(db_, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
  sqlite3_set_authorizer(db_, &SqlStatement::Authorize, this);
  return 0;
}

void SqlStatement::Detach(const std::string& schema) {
  internal_attach_ = true;
  sqlite3_exec(db_, ("DETACH DATABASE " + QuoteIdentifier(schema)).c_str(), nullptr, nullptr, nullptr);
  internal_attach_ = false;
}

UNSIGNED32 SqlStatement::SetTablePassword(const std::string& table, const std::string& password) {
  const std::string key = TableKey(table);
  if (key.empty()) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsStmtSetTablePassword: the table name is empty");
  passwords_[key] = password;
  // A sealed table decrypted with another password is read again next time.
  for (auto it = attached_.begin(); it != attached_.end(); ++it) {
    if (it->sealed && TableKey(FileStem(it->file)) == key && it->password != password) {
      Finalize();
      text_.clear();
      Detach(it->schema);
      attached_.erase(it);
      break;
    }
  }
  return 0;
}

UNSIGNED32 SqlStatement::AttachTable(const std::string& name) {
  if (connection_->is_dictionary()) {
    return SetError(AE_TABLE_NOT_IN_DICTIONARY,
                    "Table " + name + " is not in dictionary '" + connection_->path() + "' (" + Describe() + ")");
  }
  std::string file;
  if (connection_->ResolveTableFile(name, &file) != 0) {
    UNSIGNED32 code = 0;
    std::string text;
    AdsGetLastError(&code, &text);
    return SetError(code, text + " (" + Describe() + ")");
  }
  for (const Attachment& a : attached_) {
    if (a.file == file) {
      return SetError(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds no table named " + name + " (" +
                                               Describe() + ")");
    }
  }
  if (static_cast<int>(attached_.size()) >= kMaxAttachments) {
    return SetError(AE_KDX_SQL_PREPARE, Describe() + " reads more than " + std::to_string(kMaxAttachments) +
                                            " tables; table " + name + " cannot be added");
  }
  // The schema is named after the file so that SQLite's messages stay readable.
  std::string base;
  for (char c : FileStem(file)) base += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  if (base.empty()) base = "t";
  std::string schema = base;
  for (int n = 2;; ++n) {
    bool taken = EqualsNoCase(schema, "main") || EqualsNoCase(schema, "temp");
    for (const Attachment& a : attached_) taken = taken || EqualsNoCase(a.schema, schema);
    if (!taken) break;
    schema = base + "_" + std::to_string(n);
  }
  Attachment attachment;
  attachment.schema = schema;
  attachment.file = file;
  if (IsSealedFile(file)) {
    auto it = passwords_.find(TableKey(name));
    if (it == passwords_.end()) it = passwords_.find(TableKey(FileStem(file)));
    if (it == passwords_.end()) {
      return SetError(AE_KDX_TABLE_PASSWORD_MISSING,
                      "Table " + name + " is sealed and " + Describe() +
                          " has no table password for it (AdsStmtSetTablePassword)");
    }
    std::string why;
    internal_attach_ = true;
    const bool ok = AttachSealedImage(db_, schema, file, it->second, &why);
    internal_attach_ = false;
    if (!ok) {
      if (sqlite3_db_filename(db_, schema.c_str()) != nullptr) Detach(schema);
      return SetError(AE_KDX_SEALED_REFUSED, "Table " + name + " cannot be read by " + Describe() + ": " + why);
    }
    attachment.sealed = true;
    attachment.password = it->second;
  } else {
    Statement attach;
    internal_attach_ = true;
    int rc = sqlite3_prepare_v2(db_, ("ATTACH DATABASE ?1 AS " + QuoteIdentifier(schema)).c_str(), -1,
                                attach.out(), nullptr);
    if (rc == SQLITE_OK) {
      const std::string uri = FileUri(file);
      sqlite3_bind_text(attach.get(), 1, uri.c_str(), -1, SQLITE_TRANSIENT);
      rc = sqlite3_step(attach.get());
    }
    internal_attach_ = false;
    if (rc != SQLITE_DONE) {
      return SqliteError(AE_KDX_SQLITE, "Table file '" + file + "' cannot be attached to " + Describe(), db_);
    }
    Statement probe;
    rc = sqlite3_prepare_v2(db_, ("SELECT count(*) FROM " + QuoteIdentifier(schema) + ".sqlite_schema").c_str(), -1,
                            probe.out(), nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(probe.get()) == SQLITE_ROW ? SQLITE_OK : SQLITE_ERROR;
    if (rc != SQLITE_OK) {
      UNSIGNED32 code = SqliteError(AE_KDX_NOT_A_DATABASE, "Table file '" + file + "' cannot be read", db_);
      probe = Statement();
      Detach(schema);
      return code;
    }
  }
  attached_.push_back(std::move(attachment));
  return 0;
}

UNSIGNED32 SqlStatement::Prepare(const std::string& text) {
  if (prepared_ && text == text_) {
    sqlite3_reset(stmt_);
    values_.assign(places_.size(), BoundValue());
    bound_.assign(places_.size(), false);
    return 0;
  }
  Finalize();
  shape_.reset();
  text_ = text;
  places_ = ScanSqlParams(text);
  for (const SqlParamPlace& place : places_) {
    if (place.name.empty()) {
      return SetError(AE_KDX_SQL_PARAMETER, Describe() + ": the ':' at offset " + std::to_string(place.offset) +
                                                " is followed by no parameter name");
    }
  }
  if (UNSIGNED32 rc = OpenDatabase()) return rc;
  const std::string positional = ToPositionalSql(text, places_);
  for (int attempt = 0;; ++attempt) {
    reads_.clear();
    collecting_reads_ = true;
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db_, positional.c_str(), static_cast<int>(positional.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    collecting_reads_ = false;
    if (rc == SQLITE_OK) {
      if (stmt == nullptr) return SetError(AE_KDX_SQL_PREPARE, Describe() + " holds no statement");
      if (!OnlySpaceOrSemicolons(tail)) {
        sqlite3_finalize(stmt);
        return SetError(AE_KDX_SQL_PREPARE, Describe() + " holds more than one statement");
      }
      stmt_ = stmt;
      break;
    }
    const std::string message = sqlite3_errmsg(db_);
    static const std::string kNoSuchTable = "no such table: ";
    if (message.rfind(kNoSuchTable, 0) == 0 && attempt <= kMaxAttachments) {
      if (UNSIGNED32 code = AttachTable(message.substr(kNoSuchTable.size()))) return code;
      continue;
    }
    return SetError(AE_KDX_SQL_PREPARE, Describe() + ": " + message);
  }
  // Every placeholder SQLite sees must be one of ours.
  const int count = sqlite3_bind_parameter_count(stmt_);
  for (int i = 1; i <= count; ++i) {
    const char* name = sqlite3_bind_parameter_name(stmt_, i);
    if (name == nullptr) {
      if (i <= static_cast<int>(places_.size())) continue;  // a place inside what SQLite takes for a literal
      Finalize();
      return SetError(AE_KDX_SQL_PARAMETER, Describe() + ": a '?' placeholder is not supported; name the parameter (:name)");
    }
    if (std::string(name) != "?" + std::to_string(i) || i > static_cast<int>(places_.size())) {
      const std::string shown = name;
      Finalize();
      return SetError(AE_KDX_SQL_PARAMETER, Describe() + ": placeholder " + shown + " is not a :name parameter");
    }
  }
  ComputePlaceKinds(positional);
  values_.assign(places_.size(), BoundValue());
  bound_.assign(places_.size(), false);
  prepared_ = true;
  return 0;
}

void SqlStatement::ComputePlaceKinds(const std::string& positional) {
  place_kinds_.assign(places_.size(), PlaceKind::kOther);
  const std::vector<ComparedColumn> columns = FindComparedColumns(positional, places_.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].column.empty()) continue;
    // The declared types the column has in the tables the statement reads;
    // a qualifier that names one of them narrows the search (an alias does not).
    std::vector<std::pair<std::string, std::string>> tables;
    for (const auto& read : reads_)
      if (columns[i].qualifier.empty() || EqualsNoCase(read.second, columns[i].qualifier)) tables.push_back(read);
    if (tables.empty()) tables.assign(reads_.begin(), reads_.end());
    std::set<PlaceKind> kinds;
    for (const auto& [schema, table] : tables) {
      const char* declared = nullptr;
      if (sqlite3_table_column_metadata(db_, schema.c_str(), table.c_str(), columns[i].column.c_str(), &declared,
                                        nullptr, nullptr, nullptr, nullptr) == SQLITE_OK) {
        kinds.insert(KindOfDeclared(declared != nullptr ? declared : ""));
      }
    }
    if (kinds.size() == 1) place_kinds_[i] = *kinds.begin();
  }
}

UNSIGNED32 SqlStatement::Bind(UNSIGNED16 position, BoundValue value) {
  if (!prepared_) {
    return SetError(AE_KDX_SQL_NOT_PREPARED, "SQL statement: a parameter is bound before AdsPrepareSQL");
  }
  if (position == 0 || position > places_.size()) {
    return SetError(AE_KDX_SQL_PARAMETER, Describe() + ": parameter position " + std::to_string(position) +
                                              " is outside 1 to " + std::to_string(places_.size()));
  }
  const std::string& name = places_[position - 1].name;
  if ((value.kind == BoundValue::Kind::kDate || value.kind == BoundValue::Kind::kTimestamp) &&
      (value.julian < kFirstJulian || value.julian > kLastJulian)) {
    return SetError(AE_KDX_SQL_PARAMETER, Describe() + ", parameter " + name + ": Julian day " +
                                              std::to_string(value.julian) + " is not a date of years 1 to 9999");
  }
  if ((value.kind == BoundValue::Kind::kTime || value.kind == BoundValue::Kind::kTimestamp) &&
      (value.milliseconds < 0 || value.milliseconds >= kMillisecondsPerDay)) {
    return SetError(AE_KDX_SQL_PARAMETER, Describe() + ", parameter " + name + ": " +
                                              std::to_string(value.milliseconds) +
                                              " milliseconds is not a time of day");
  }
  values_[position - 1] = std::move(value);
  bound_[position - 1] = true;
  return 0;
}

UNSIGNED32 SqlStatement::BindPlaces() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  for (size_t i = 0; i < places_.size(); ++i) {
    if (!bound_[i]) continue;  // an unbound place is NULL
    const BoundValue& v = values_[i];
    const int index = static_cast<int>(i + 1);
    const PlaceKind kind = place_kinds_[i];
    std::string text;
    int rc = SQLITE_OK;
    switch (v.kind) {
      case BoundValue::Kind::kNull:
        break;
      case BoundValue::Kind::kText:
        rc = sqlite3_bind_text(stmt_, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_STATIC);
        break;
      case BoundValue::Kind::kDate:
        text = kind == PlaceKind::kTimestamp ? FormatIsoDate(v.julian) + " 00:00:00"
               : kind == PlaceKind::kTime    ? std::string("00:00:00")
                                             : FormatIsoDate(v.julian);
        break;
      case BoundValue::Kind::kTime:
        text = FormatIsoTime(static_cast<uint32_t>(v.milliseconds));
        break;
      case BoundValue::Kind::kTimestamp:
        text = kind == PlaceKind::kDate ? FormatIsoDate(v.julian)
               : kind == PlaceKind::kTime
                   ? FormatIsoTime(static_cast<uint32_t>(v.milliseconds))
                   : FormatIsoDate(v.julian) + " " + FormatIsoTime(static_cast<uint32_t>(v.milliseconds));
        break;
      case BoundValue::Kind::kDouble:
        rc = sqlite3_bind_double(stmt_, index, v.number);
        break;
      case BoundValue::Kind::kLogical:
        rc = sqlite3_bind_int(stmt_, index, v.number != 0 ? 1 : 0);
        break;
      case BoundValue::Kind::kBinary:
        rc = sqlite3_bind_blob(stmt_, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_STATIC);
        break;
    }
    if (!text.empty()) rc = sqlite3_bind_text(stmt_, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK && rc != SQLITE_RANGE) {
      return SqliteError(AE_KDX_SQL_PARAMETER, Describe() + ", parameter " + places_[i].name, db_);
    }
  }
  return 0;
}

UNSIGNED32 SqlStatement::Execute(ADSHANDLE* cursor) {
  if (!prepared_) return SetError(AE_KDX_SQL_NOT_PREPARED, "SQL statement: AdsExecuteSQL before AdsPrepareSQL");
  if (UNSIGNED32 rc = BindPlaces()) return rc;
  if (sqlite3_column_count(stmt_) == 0) {
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
      UNSIGNED32 code = SqliteError(AE_KDX_SQL_EXECUTE, Describe() + " failed", db_);
      sqlite3_reset(stmt_);
      return code;
    }
    sqlite3_reset(stmt_);
    *cursor = 0;
    return 0;
  }
  const UNSIGNED32 rc = Materialise(cursor);
  sqlite3_reset(stmt_);
  return rc;
}

UNSIGNED32 SqlStatement::BuildShape() {
  auto shape = std::make_unique<PreparedShape>();
  const int count = sqlite3_column_count(stmt_);
  std::set<std::string> used;
  for (int i = 0; i < count; ++i) {
    ResultColumn column;
    const char* name = sqlite3_column_name(stmt_, i);
    std::string base = name != nullptr && *name ? name : "EXPR_" + std::to_string(i + 1);
    column.name = base;
    for (int n = 1; used.count(Upper(column.name)) != 0; ++n) column.name = base + "_" + std::to_string(n);
    used.insert(Upper(column.name));
    const char* declared = sqlite3_column_decltype(stmt_, i);
    column.declared = declared != nullptr ? declared : "";
    if (!column.declared.empty()) {
      ColumnType type;
      std::string why;
      if (!ParseDeclaredType(column.declared, &type, &why)) {
        return SetError(AE_KDX_BAD_COLUMN_TYPE, Describe() + ", result column " + column.name + ": " + why);
      }
    }
    shape->has_expressions = shape->has_expressions || column.declared.empty();
    shape->columns.push_back(std::move(column));
  }
  shape->table_name = "SQL_RESULT";
  shape->display_name = "SQL result";
  if (reads_.size() == 1) {
    const auto& [schema, table] = *reads_.begin();
    shape->table_name = table;
    shape->display_name = table + " (SQL result)";
    // Result column of each source column (the first that carries it,
    // preferring one that kept the source column's name).
    std::map<std::string, int> origin;
    for (int i = 0; i < count; ++i) {
      const char* from_table = sqlite3_column_table_name(stmt_, i);
      const char* from_column = sqlite3_column_origin_name(stmt_, i);
      const char* from_schema = sqlite3_column_database_name(stmt_, i);
      if (from_table == nullptr || from_column == nullptr || from_schema == nullptr) continue;
      if (!EqualsNoCase(from_table, table) || !EqualsNoCase(from_schema, schema)) continue;
      const std::string key = Upper(from_column);
      auto it = origin.find(key);
      if (it == origin.end() || (!EqualsNoCase(shape->columns[it->second].name, from_column) &&
                                 EqualsNoCase(shape->columns[i].name, from_column)))
        origin[key] = i;
    }
    Statement list;
    const std::string q_schema = QuoteIdentifier(schema);
    if (sqlite3_prepare_v2(db_,
                           ("SELECT name FROM " + q_schema +
                            ".sqlite_schema WHERE type='index' AND tbl_name=?1 COLLATE NOCASE AND sql IS NOT NULL "
                            "ORDER BY rowid").c_str(),
                           -1, list.out(), nullptr) != SQLITE_OK) {
      return SqliteError(AE_KDX_SQLITE, Describe() + ": reading the indexes of " + table, db_);
    }
    sqlite3_bind_text(list.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> names;
    while (sqlite3_step(list.get()) == SQLITE_ROW)
      names.push_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    std::map<std::string, std::pair<bool, bool>> flags;  // unique, partial
    {
      Statement pragma;
      if (sqlite3_prepare_v2(db_, ("PRAGMA " + q_schema + ".index_list(" + QuoteIdentifier(table) + ")").c_str(), -1,
                             pragma.out(), nullptr) == SQLITE_OK) {
        while (sqlite3_step(pragma.get()) == SQLITE_ROW)
          flags[reinterpret_cast<const char*>(sqlite3_column_text(pragma.get(), 1))] = {
              sqlite3_column_int(pragma.get(), 2) != 0, sqlite3_column_int(pragma.get(), 4) != 0};
      }
    }
    for (const std::string& index : names) {
      if (flags[index].second) continue;  // partial: not every result row is in it
      Statement xinfo;
      if (sqlite3_prepare_v2(db_, ("PRAGMA " + q_schema + ".index_xinfo(" + QuoteIdentifier(index) + ")").c_str(), -1,
                             xinfo.out(), nullptr) != SQLITE_OK)
        continue;
      std::string segments;
      bool usable = true;
      while (usable && sqlite3_step(xinfo.get()) == SQLITE_ROW) {
        if (sqlite3_column_int(xinfo.get(), 5) == 0) continue;  // not a key column
        const unsigned char* column = sqlite3_column_text(xinfo.get(), 2);
        const unsigned char* collation = sqlite3_column_text(xinfo.get(), 4);
        auto it = column != nullptr ? origin.find(Upper(reinterpret_cast<const char*>(column))) : origin.end();
        if (it == origin.end() ||
            (collation != nullptr && !EqualsNoCase(reinterpret_cast<const char*>(collation), "BINARY"))) {
          usable = false;
          break;
        }
        if (!segments.empty()) segments += ", ";
        segments += QuoteIdentifier(shape->columns[it->second].name);
        if (sqlite3_column_int(xinfo.get(), 3) != 0) segments += " DESC";
      }
      if (!usable || segments.empty()) continue;
      shape->index_sql.push_back(std::string(flags[index].first ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                                 QuoteIdentifier(index) + " ON " + QuoteIdentifier(shape->table_name) + "(" +
                                 segments + ")");
    }
  }
  shape_ = std::move(shape);
  ++shape_generation_;
  return 0;
}

std::unique_ptr<ResultStore> SqlStatement::TakeSpareStore(bool reusable) {
  std::unique_ptr<ResultStore> spare;
  std::vector<std::unique_ptr<ResultStore>>& stores = stores_->stores;
  for (auto it = stores.begin(); it != stores.end();) {
    ResultStore& store = **it;
    if (store.cursor != 0) {
      // Handles are never reused: a live handle is the store's own cursor.
      UNSIGNED16 type = 0;
      if (HandleRegistry::Get().TypeOf(store.cursor, &type)) {
        ++it;
        continue;
      }
      store.cursor = 0;
    }
    if (reusable && spare == nullptr && store.reusable && store.generation == shape_generation_) {
      spare = std::move(*it);
    }
    it = stores.erase(it);  // a store not taken closes here
  }
  return spare;
}

// The declared type of an expression column from its values.
std::string TypeFromValues(int64_t integers, int64_t reals, int64_t texts, int64_t blobs, int64_t widest,
                           int64_t smallest, int64_t largest) {
  if (texts > 0) {
    const int64_t width = std::max<int64_t>(1, widest);
    return width <= kMaxCharWidth ? "CHAR(" + std::to_string(width) + ")" : "MEMO";
  }
  if (blobs > 0) return "BLOB";
  if (reals > 0) return "DOUBLE";
  if (integers > 0) return smallest >= INT32_MIN + 1 && largest <= INT32_MAX ? "INTEGER" : "DOUBLE";
  return "CHAR(1)";
}

// The result columns, each with its type when `types` is given.
std::string ColumnList(const PreparedShape& shape, const std::vector<std::string>* types) {
  std::string list;
  for (size_t i = 0; i < shape.columns.size(); ++i) {
    if (i > 0) list += ", ";
    list += QuoteIdentifier(shape.columns[i].name);
    if (types != nullptr && !(*types)[i].empty()) list += " " + (*types)[i];
  }
  return list;
}

UNSIGNED32 SqlStatement::NewStore(std::unique_ptr<ResultStore>* out) {
  const PreparedShape& shape = *shape_;
  auto store = std::make_unique<ResultStore>();
  if (sqlite3_open_v2(":memory:", &store->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK)
    return SetError(AE_KDX_SQLITE, Describe() + ": no memory for its result");
  sqlite3_exec(store->db, "PRAGMA temp_store=MEMORY; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr,
               nullptr, nullptr);
  store->generation = shape_generation_;
  store->reusable = !shape.has_expressions;
  auto fail = [&](const std::string& what) {
    return SqliteError(AE_KDX_SQL_EXECUTE, Describe() + ": " + what, store->db);
  };
  // Rows whose types are still to be found go to a table of untyped columns first.
  const std::string fill_table = QuoteIdentifier(shape.has_expressions ? "__kdx_rows" : shape.table_name);
  std::vector<std::string> types;
  for (const ResultColumn& c : shape.columns) types.push_back(c.declared);
  if (sqlite3_exec(store->db, ("CREATE TABLE " + fill_table + "(" + ColumnList(shape, &types) + ")").c_str(), nullptr,
                   nullptr, nullptr) != SQLITE_OK)
    return fail("creating its result table");
  std::string insert_sql = "INSERT INTO " + fill_table + " VALUES(";
  for (size_t i = 0; i < shape.columns.size(); ++i) insert_sql += i == 0 ? "?" : ",?";
  insert_sql += ")";
  if (sqlite3_prepare_v2(store->db, insert_sql.c_str(), -1, store->insert.out(), nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(store->db, "BEGIN", -1, store->begin.out(), nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(store->db, "COMMIT", -1, store->commit.out(), nullptr) != SQLITE_OK)
    return fail("preparing its result table");
  if (store->reusable &&
      sqlite3_prepare_v2(store->db, ("DELETE FROM " + fill_table).c_str(), -1, store->clear.out(), nullptr) !=
          SQLITE_OK)
    return fail("preparing its result table");
  *out = std::move(store);
  return 0;
}

UNSIGNED32 SqlStatement::Materialise(ADSHANDLE* cursor) {
  // The first step comes before the shape is looked at: it is where SQLite
  // prepares the statement again after a schema change.
  int rc = sqlite3_step(stmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return SqliteError(AE_KDX_SQL_EXECUTE, Describe() + " failed", db_);
  const int reprepares = sqlite3_stmt_status(stmt_, SQLITE_STMTSTATUS_REPREPARE, 0);
  if (!shape_ || reprepares != shape_reprepares_) {
    shape_.reset();
    if (UNSIGNED32 code = BuildShape()) return code;
    shape_reprepares_ = reprepares;
  }
  const PreparedShape& shape = *shape_;
  const int count = static_cast<int>(shape.columns.size());
  // Only a result whose column types do not depend on its values can reuse a
  // store: its table, indexes, layout and reads stay as they are. A store is
  // out of the list while it is filled, so that a failure closes it.
  std::unique_ptr<ResultStore> store = TakeSpareStore(!shape.has_expressions);
  const bool reused = store != nullptr;
  if (reused) {
    const int cleared = sqlite3_step(store->clear.get());
    sqlite3_reset(store->clear.get());
    if (cleared != SQLITE_DONE)
      return SqliteError(AE_KDX_SQL_EXECUTE, Describe() + ": emptying its result table", store->db);
  } else if (UNSIGNED32 code = NewStore(&store)) {
    return code;
  }
  sqlite3* mem = store->db;
  auto fail = [&](const std::string& what) { return SqliteError(AE_KDX_SQL_EXECUTE, Describe() + ": " + what, mem); };
  int64_t stored_rows = 0;
  {
    sqlite3_stmt* insert = store->insert.get();
    const int begun = sqlite3_step(store->begin.get());
    sqlite3_reset(store->begin.get());
    if (begun != SQLITE_DONE) return fail("storing its result");
    while (rc == SQLITE_ROW) {
      ++stored_rows;
      // Texts and blobs are bound without a copy: the source row stays
      // where it is until the insert below has stored it.
      for (int i = 0; i < count; ++i) {
        switch (sqlite3_column_type(stmt_, i)) {
          case SQLITE_INTEGER: sqlite3_bind_int64(insert, i + 1, sqlite3_column_int64(stmt_, i)); break;
          case SQLITE_FLOAT: sqlite3_bind_double(insert, i + 1, sqlite3_column_double(stmt_, i)); break;
          case SQLITE_TEXT: {
            const unsigned char* text = sqlite3_column_text(stmt_, i);
            if (text == nullptr) return fail("reading a result value");  // out of memory
            sqlite3_bind_text(insert, i + 1, reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, i),
                              SQLITE_STATIC);
            break;
          }
          case SQLITE_BLOB: {
            const void* blob = sqlite3_column_blob(stmt_, i);
            const int size = sqlite3_column_bytes(stmt_, i);
            if (size == 0) {
              sqlite3_bind_zeroblob(insert, i + 1, 0);
            } else {
              if (blob == nullptr) return fail("reading a result value");
              sqlite3_bind_blob(insert, i + 1, blob, size, SQLITE_STATIC);
            }
            break;
          }
          default: sqlite3_bind_null(insert, i + 1); break;
        }
      }
      const int stored = sqlite3_step(insert);
      sqlite3_reset(insert);
      if (stored != SQLITE_DONE) return fail("storing a result row");
      rc = sqlite3_step(stmt_);
    }
    sqlite3_clear_bindings(insert);  // the last row's values are not kept twice
    if (rc != SQLITE_DONE) return SqliteError(AE_KDX_SQL_EXECUTE, Describe() + " failed", db_);
    const int committed = sqlite3_step(store->commit.get());
    sqlite3_reset(store->commit.get());
    if (committed != SQLITE_DONE) return fail("storing its result");
  }
  const std::string final_table = QuoteIdentifier(shape.table_name);
  if (shape.has_expressions) {
    // Each expression column takes the type its values have.
    const std::string fill_table = QuoteIdentifier("__kdx_rows");
    std::vector<std::string> types;
    for (const ResultColumn& c : shape.columns) types.push_back(c.declared);
    std::string stats = "SELECT ";
    for (int i = 0; i < count; ++i) {
      if (!shape.columns[i].declared.empty()) continue;
      const std::string c = QuoteIdentifier(shape.columns[i].name);
      if (stats.size() > 7) stats += ", ";
      stats += "sum(typeof(" + c + ")='integer'), sum(typeof(" + c + ")='real'), sum(typeof(" + c +
               ")='text'), sum(typeof(" + c + ")='blob'), max(length(CAST(CAST(" + c + " AS TEXT) AS BLOB))), " +
               "min(CASE WHEN typeof(" + c + ")='integer' THEN " + c + " END), max(CASE WHEN typeof(" + c +
               ")='integer' THEN " + c + " END)";
    }
    stats += " FROM " + fill_table;
    Statement query;
    if (sqlite3_prepare_v2(mem, stats.c_str(), -1, query.out(), nullptr) != SQLITE_OK ||
        sqlite3_step(query.get()) != SQLITE_ROW)
      return fail("typing its expression columns");
    int k = 0;
    for (int i = 0; i < count; ++i) {
      if (!shape.columns[i].declared.empty()) continue;
      auto at = [&](int j) { return sqlite3_column_int64(query.get(), k * 7 + j); };
      types[i] = TypeFromValues(at(0), at(1), at(2), at(3), at(4), at(5), at(6));
      ++k;
    }
    query = Statement();
    store->insert = Statement();  // it names the table dropped below
    const std::string copy = "CREATE TABLE " + final_table + "(" + ColumnList(shape, &types) + "); INSERT INTO " +
                             final_table + " SELECT * FROM " + fill_table + " ORDER BY rowid; DROP TABLE " + fill_table;
    if (sqlite3_exec(mem, copy.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return fail("typing its result");
  }
  // A new table is indexed once filled (cheaper than keeping the indexes
  // while inserting); a reused one keeps its indexes.
  for (const std::string& sql : reused ? std::vector<std::string>() : shape.index_sql) {
    if (sqlite3_exec(mem, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      // Rows a join or a repeated column made equal: the order stays, uniqueness goes.
      const std::string plain = "CREATE INDEX" + sql.substr(std::strlen("CREATE UNIQUE INDEX"));
      if (sql.rfind("CREATE UNIQUE", 0) != 0 || sqlite3_exec(mem, plain.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("indexing its result");
    }
  }
  if (store->layout == nullptr) {
    auto layout = std::make_unique<EngineTable>(nullptr, mem, false, "main", shape.table_name, shape.display_name);
    if (UNSIGNED32 code = layout->Load()) return code;
    store->layout = std::move(layout);
  }
  // The store keeps the database; the cursor reads it and, on closing, hands
  // its prepared reads back to the store.
  auto table = std::make_unique<EngineTable>(connection_, mem, false, "main", shape.table_name, shape.display_name);
  table->LoadLike(*store->layout, std::move(store->reads));
  table->set_open_options(2);  // read-only
  table->set_known_row_count(stored_rows);
  table->set_recycler(stores_);
  ResultStore* kept = store.get();
  stores_->stores.push_back(std::move(store));  // a failed registration recycles into it
  if (UNSIGNED32 code = EngineTable::Register(std::move(table), ADS_CURSOR, cursor)) return code;
  kept->cursor = *cursor;
  return 0;
}

SqlStatement* FindStatement(ADSHANDLE handle, UNSIGNED32* error) {
  return Lookup<SqlStatement>(handle, ADS_STATEMENT, error);
}

template <class F>
UNSIGNED32 WithStatement(ADSHANDLE handle, F&& f) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  SqlStatement* statement = FindStatement(handle, &error);
  if (statement == nullptr) return error;
  return f(*statement);
}

UNSIGNED32 SetOption(ADSHANDLE handle, UNSIGNED16 StatementOptions::*member, UNSIGNED16 value) {
  return WithStatement(handle, [&](SqlStatement& s) {
    s.options().*member = value;
    return UNSIGNED32{0};
  });
}

}  // namespace

UNSIGNED32 GetStatementOptions(ADSHANDLE statement, StatementOptions* options) {
  return WithStatement(statement, [&](SqlStatement& s) {
    *options = s.options();
    return UNSIGNED32{0};
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
    default: return "";
  }
}

using namespace engine;

UNSIGNED32 AdsCreateSQLStatement(ADSHANDLE connection, ADSHANDLE* statement) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineConnection* c = Lookup<EngineConnection>(connection, ADS_CONNECTION, &error);
  if (c == nullptr) return error;
  if (statement == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsCreateSQLStatement: no place for the handle");
  auto object = std::make_unique<SqlStatement>(c);
  SqlStatement* raw = object.get();
  const ADSHANDLE h = HandleRegistry::Get().Register(ADS_STATEMENT, std::move(object));
  if (h == 0) return SetError(AE_KDX_INVALID_ARGUMENT, "No handle left for a new SQL statement");
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

UNSIGNED32 AdsGetSQLStmtParams(const std::string& text, std::vector<std::string>* names) {
  EngineGuard guard(EngineMutex());
  if (names == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetSQLStmtParams: no place for the names");
  names->clear();
  for (const SqlParamPlace& place : ScanSqlParams(text)) {
    if (place.name.empty()) {
      names->clear();
      return SetError(AE_KDX_SQL_PARAMETER, "SQL statement \"" + text.substr(0, kQuotedTextLength) +
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
      return SetError(AE_KDX_SQL_PARAMETER, "AdsSetTimeStampRaw: a time stamp is 8 bytes, not " +
                                                std::to_string(bytes == nullptr ? 0 : length));
    }
    int32_t day;
    int32_t ms;
    std::memcpy(&day, bytes, 4);  // little-endian, as the raw record holds it
    std::memcpy(&ms, bytes + 4, 4);
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
    if (cursor == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsExecuteSQL: no place for the cursor handle");
    *cursor = 0;
    return s.Execute(cursor);
  });
}

UNSIGNED32 AdsCloseSQLStatement(ADSHANDLE statement) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  if (FindStatement(statement, &error) == nullptr) return error;
  HandleRegistry::Get().Destroy(statement);
  return 0;
}
