// SQL statements on table files.
#include "engine/file_statement.h"

#include <sqlite3.h>

#include <cctype>
#include <cstring>
#include <utility>

#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/schema.h"
#include "engine/sealed_file.h"
#include "engine/sql_context.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {
namespace {


// Tables one statement may attach (SQLite's compiled-in limit is 10).
constexpr int kMaxAttachments = 10;

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

// The rows of the SQLite statement, which stands on its first step's result
// when handed over.
class SqliteRows : public ResultRows {
 public:
  SqliteRows(sqlite3_stmt* stmt, int first, sqlite3* db, std::string describe)
      : stmt_(stmt), pending_(first), db_(db), describe_(std::move(describe)) {}
  Status Step(bool* row) override {
    const int rc = pending_ != 0 ? pending_ : sqlite3_step(stmt_);
    pending_ = 0;
    *row = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) return Status();
    return SqliteError(AE_KDX_SQL_EXECUTE, describe_ + " failed", db_);
  }
  ResultCell Cell(int column) override { return StatementCell(stmt_, column); }

 private:
  sqlite3_stmt* stmt_;
  int pending_;
  sqlite3* db_;
  std::string describe_;
};

}  // namespace

FileStatement::~FileStatement() {
  Forget();
  // A streamed cursor may read the database on; the rules stay, without
  // this statement.
  if (db_ != nullptr) sqlite3_set_authorizer(db_, &FileStatement::AuthorizeAlways, nullptr);
  db_owner_.reset();
}

void FileStatement::Forget() {
  if (stmt_ != nullptr) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  prepared_ = false;
}

void FileStatement::Reuse() { sqlite3_reset(stmt_); }  // a failure of the last run is that run's, reported then

int FileStatement::AuthorizeAlways(void*, int action, const char* a, const char*, const char*, const char*) {
  const std::string table = a != nullptr ? a : "";
  switch (action) {
    case SQLITE_READ:
      // The account table's password hashes are not for SQL.
      return EqualsNoCase(table, "__users") ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      // The engine's own tables are written by the engine only.
      return table.rfind("__", 0) == 0 ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
      // Which files a statement reads is the connection's business.
      return SQLITE_DENY;
    default:
      return SQLITE_OK;
  }
}

int FileStatement::Authorize(void* self_pointer, int action, const char* a, const char* b, const char* schema,
                            const char* trigger) {
  auto* self = static_cast<FileStatement*>(self_pointer);
  const std::string table = a != nullptr ? a : "";
  if (action == SQLITE_READ && self->collecting_reads_ && !table.empty() && !EqualsNoCase(table, "__users") &&
      Upper(table).rfind("SQLITE_", 0) != 0) {
    self->reads_.insert({schema != nullptr ? schema : "main", table});
  }
  if ((action == SQLITE_ATTACH || action == SQLITE_DETACH) && self->internal_attach_) return SQLITE_OK;
  return AuthorizeAlways(nullptr, action, a, b, schema, trigger);
}

Status FileStatement::OpenDatabase() {
  if (db_ != nullptr) return Status();
  // A folder's statement runs on a private in-memory database to which the
  // table files are attached read-only; a dictionary's on the dictionary
  // file itself, read-only too. Used under the engine's mutex only, like
  // every database the engine opens.
  std::string path = ":memory:";
  std::string open_name = path;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  if (connection_->is_dictionary()) {
    const char* file = sqlite3_db_filename(connection_->dictionary(), "main");
    path = file != nullptr && *file ? file : connection_->path();
    open_name = ReadOnlyUri(path);
    flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  }
  auto failed = [&](Status status) {
    sqlite3_close(db_);
    db_ = nullptr;
    return status;
  };
  if (sqlite3_open_v2(open_name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    return failed(SqliteError(AE_KDX_SQLITE, "SQL statement: cannot open '" + path + "'", db_));
  }
  if (Status configured = ConfigureReader(db_, path); !configured.ok()) return failed(std::move(configured));
  sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, kMaxAttachments);  // gives the old limit, never fails
  // Sorting the rows of a sealed table must not spill plaintext to disk.
  if (sqlite3_exec(db_, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return failed(SqliteError(AE_KDX_SQLITE, "SQL statement: cannot keep its sorting in memory on '" + path + "'", db_));
  }
  sqlite3_set_authorizer(db_, &FileStatement::Authorize, this);  // never fails on an open handle
  db_owner_ = std::make_shared<SharedDatabase>(db_);
  return Status();
}

void FileStatement::Detach(const std::string& schema) {
  internal_attach_ = true;
  // Detaching a schema this statement attached can only fail while a
  // statement reads it, and none does: every reader is reset or finalised.
  (void)sqlite3_exec(db_, ("DETACH DATABASE " + QuoteIdentifier(schema)).c_str(), nullptr, nullptr, nullptr);
  internal_attach_ = false;
}

Status FileStatement::SetTablePassword(const std::string& table, const std::string& password) {
  const std::string key = TableKey(table);
  if (key.empty()) return Status(AE_KDX_INVALID_ARGUMENT, "AdsStmtSetTablePassword: the table name is empty");
  passwords_[key] = password;
  // A sealed table decrypted with another password is read again next time.
  for (auto it = attached_.begin(); it != attached_.end(); ++it) {
    if (it->sealed && TableKey(FileStem(it->file)) == key && it->password != password) {
      Forget();
      text_.clear();
      Detach(it->schema);
      attached_.erase(it);
      break;
    }
  }
  return Status();
}

Status FileStatement::AttachTable(const std::string& name) {
  if (connection_->is_dictionary()) {
    return Status(AE_TABLE_NOT_IN_DICTIONARY,
                  "Table " + name + " is not in dictionary '" + connection_->path() + "' (" + Describe() + ")")
        .WithTable(name);
  }
  std::string file;
  if (Status found = connection_->ResolveTableFile(name, &file); !found.ok()) {
    return Status(found.code(), found.text() + " (" + Describe() + ")").WithTable(name);
  }
  for (const Attachment& a : attached_) {
    if (a.file == file) {
      return Status(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds no table named " + name + " (" +
                                             Describe() + ")")
          .WithTable(name);
    }
  }
  if (static_cast<int>(attached_.size()) >= kMaxAttachments) {
    return Status(AE_KDX_SQL_PREPARE, Describe() + " reads more than " + std::to_string(kMaxAttachments) +
                                          " tables; table " + name + " cannot be added")
        .WithTable(name);
  }
  Attachment attachment;
  attachment.schema = SchemaFor(file);
  attachment.file = file;
  Status attached = IsSealedFile(file) ? AttachSealed(name, &attachment) : AttachPlain(file, attachment.schema);
  if (!attached.ok()) return std::move(attached).WithTable(name);
  attached_.push_back(std::move(attachment));
  return Status();
}

std::string FileStatement::SchemaFor(const std::string& file) const {
  std::string base;
  for (char c : FileStem(file)) base += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  if (base.empty()) base = "t";
  std::string schema = base;
  for (int n = 2;; ++n) {
    bool taken = EqualsNoCase(schema, "main") || EqualsNoCase(schema, "temp");
    for (const Attachment& a : attached_) taken = taken || EqualsNoCase(a.schema, schema);
    if (!taken) return schema;
    schema = base + "_" + std::to_string(n);
  }
}

Status FileStatement::AttachSealed(const std::string& name, Attachment* attachment) {
  const std::string& file = attachment->file;
  const std::string& schema = attachment->schema;
  auto it = passwords_.find(TableKey(name));
  if (it == passwords_.end()) it = passwords_.find(TableKey(FileStem(file)));
  if (it == passwords_.end()) {
    return Status(AE_KDX_TABLE_PASSWORD_MISSING, "Table " + name + " is sealed and " + Describe() +
                                                     " has no table password for it (AdsStmtSetTablePassword)");
  }
  internal_attach_ = true;
  Status decrypted = AttachSealedImage(db_, schema, file, it->second);
  internal_attach_ = false;
  if (!decrypted.ok()) {
    if (sqlite3_db_filename(db_, schema.c_str()) != nullptr) Detach(schema);
    return Status(AE_KDX_SEALED_REFUSED, "Table " + name + " cannot be read by " + Describe() + ": " + decrypted.text());
  }
  attachment->sealed = true;
  attachment->password = it->second;
  return Status();
}

Status FileStatement::AttachPlain(const std::string& file, const std::string& schema) {
  Statement attach;
  internal_attach_ = true;
  int rc = sqlite3_prepare_v2(db_, ("ATTACH DATABASE ?1 AS " + QuoteIdentifier(schema)).c_str(), -1,
                              attach.out(), nullptr);
  const std::string uri = ReadOnlyUri(file);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text(attach.get(), 1, uri.c_str(), -1, SQLITE_TRANSIENT);
  if (rc == SQLITE_OK) rc = sqlite3_step(attach.get());
  internal_attach_ = false;
  if (rc != SQLITE_DONE) {
    return SqliteError(AE_KDX_SQLITE, "Table file '" + file + "' cannot be attached to " + Describe(), db_);
  }
  Statement probe;
  rc = sqlite3_prepare_v2(db_, ("SELECT count(*) FROM " + QuoteIdentifier(schema) + ".sqlite_schema").c_str(), -1,
                          probe.out(), nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(probe.get()) == SQLITE_ROW ? SQLITE_OK : SQLITE_ERROR;
  if (rc != SQLITE_OK) {
    const int why = sqlite3_extended_errcode(db_);
    Status failed = (why & 0xFF) == SQLITE_NOTADB
                        ? SqliteError(AE_KDX_NOT_A_DATABASE, "Table file '" + file + "' cannot be read", db_)
                        : FileReadError(file, "Table file", why, db_);
    probe = Statement();
    Detach(schema);
    return failed;
  }
  return Status();
}

Status FileStatement::PrepareText() {
  if (Status opened = OpenDatabase(); !opened.ok()) return opened;
  const std::string positional = ToPositionalSql(text_, places_);
  if (Status prepared = PrepareAttaching(positional); !prepared.ok()) return prepared;
  if (Status checked = CheckPlaceholders(); !checked.ok()) return checked;
  ComputePlaceKinds(positional);
  return Status();
}

Status FileStatement::PrepareAttaching(const std::string& positional) {
  for (int attempt = 0;; ++attempt) {
    reads_.clear();
    collecting_reads_ = true;
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db_, positional.c_str(), static_cast<int>(positional.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    collecting_reads_ = false;
    if (rc == SQLITE_OK) {
      if (stmt == nullptr) return Status(AE_KDX_SQL_PREPARE, Describe() + " holds no statement");
      if (!OnlySpaceOrSemicolons(tail)) {
        sqlite3_finalize(stmt);
        return Status(AE_KDX_SQL_PREPARE, Describe() + " holds more than one statement");
      }
      stmt_ = stmt;
      return Status();
    }
    const std::string message = sqlite3_errmsg(db_);
    static const std::string kNoSuchTable = "no such table: ";
    if (message.rfind(kNoSuchTable, 0) == 0 && attempt <= kMaxAttachments) {
      if (Status attached = AttachTable(message.substr(kNoSuchTable.size())); !attached.ok()) return attached;
      continue;
    }
    return SqliteError(AE_KDX_SQL_PREPARE, Describe(), db_);
  }
}

Status FileStatement::CheckPlaceholders() {
  // Every placeholder SQLite sees must be one of ours.
  const int count = sqlite3_bind_parameter_count(stmt_);
  for (int i = 1; i <= count; ++i) {
    const char* name = sqlite3_bind_parameter_name(stmt_, i);
    if (name == nullptr) {
      if (i <= static_cast<int>(places_.size())) continue;  // a place inside what SQLite takes for a literal
      Forget();
      return Status(AE_KDX_SQL_PARAMETER, Describe() + ": a '?' placeholder is not supported; name the parameter (:name)");
    }
    if (std::string(name) != "?" + std::to_string(i) || i > static_cast<int>(places_.size())) {
      const std::string shown = name;
      Forget();
      return Status(AE_KDX_SQL_PARAMETER, Describe() + ": placeholder " + shown + " is not a :name parameter");
    }
  }
  return Status();
}

void FileStatement::ComputePlaceKinds(const std::string& positional) {
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


Status FileStatement::BindPlaces(sqlite3_stmt* stmt, bool copy) {
  sqlite3_reset(stmt);  // a failure of the last run is that run's, reported then
  sqlite3_clear_bindings(stmt);
  const sqlite3_destructor_type kept = copy ? SQLITE_TRANSIENT : SQLITE_STATIC;
  for (size_t i = 0; i < places_.size(); ++i) {
    if (!bound_[i]) continue;  // an unbound place is NULL
    const BoundValue& v = values_[i];
    const int index = static_cast<int>(i + 1);
    const std::string text = PlaceText(v, place_kinds_[i]);
    int rc = SQLITE_OK;
    switch (v.kind) {
      case BoundValue::Kind::kNull:
        break;
      case BoundValue::Kind::kText:
        rc = sqlite3_bind_text(stmt, index, v.bytes.data(), static_cast<int>(v.bytes.size()), kept);
        break;
      case BoundValue::Kind::kDouble:
        rc = sqlite3_bind_double(stmt, index, v.number);
        break;
      case BoundValue::Kind::kLogical:
        rc = sqlite3_bind_int(stmt, index, v.number != 0 ? 1 : 0);
        break;
      case BoundValue::Kind::kBinary:
        rc = sqlite3_bind_blob(stmt, index, v.bytes.data(), static_cast<int>(v.bytes.size()), kept);
        break;
      default:  // dates and times go as the text of their place
        rc = sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    if (rc != SQLITE_OK && rc != SQLITE_RANGE) {
      return SqliteError(AE_KDX_SQL_PARAMETER, Describe() + ", parameter " + places_[i].name, db_);
    }
  }
  return Status();
}

Status FileStatement::Run(ADSHANDLE* cursor) {
  if (Status bound = BindPlaces(stmt_, false); !bound.ok()) return bound;
  if (sqlite3_column_count(stmt_) == 0) {
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
    }
    Status ran;
    if (rc != SQLITE_DONE) ran = SqliteError(AE_KDX_SQL_EXECUTE, Describe() + " failed", db_);
    sqlite3_reset(stmt_);  // repeats the step's answer, handled above
    *cursor = 0;
    return ran;
  }
  if (options_.streamed != 0) {
    bool streamed = false;
    Status ran = RunStreamed(cursor, &streamed);
    if (!ran.ok() || streamed) return ran;
  }
  Status stored = Materialise(cursor);
  sqlite3_reset(stmt_);  // repeats a failed step's answer, which Materialise reported
  return stored;
}

std::vector<std::string> FileStatement::PlanOf(const std::string& sql) {
  Statement explain;
  if (sqlite3_prepare_v2(db_, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, explain.out(), nullptr) != SQLITE_OK) {
    return {};
  }
  std::vector<std::string> rows;
  int rc;
  while ((rc = sqlite3_step(explain.get())) == SQLITE_ROW) {
    if (sqlite3_column_int(explain.get(), 1) != 0) return {};  // a row under another: a subquery, a compound part
    const unsigned char* text = sqlite3_column_text(explain.get(), 3);
    rows.push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
  }
  if (rc != SQLITE_DONE) return {};
  return rows;
}

namespace {

// Whether `row` of a plan is a search of one table through an index or its
// primary key (no automatic index, no covering index, no scan): the rows it
// gives for one outer row come in that index's order.
bool IsInnerSearch(const std::string& row, const std::string& outer) {
  if (row.rfind("SEARCH ", 0) != 0) return false;
  const size_t name_end = row.find(' ', 7);
  if (name_end == std::string::npos || EqualsNoCase(row.substr(7, name_end - 7), outer)) return false;
  const std::string how = row.substr(name_end);
  return how.rfind(" USING INDEX ", 0) == 0 || how.rfind(" USING PRIMARY KEY ", 0) == 0 ||
         how.rfind(" USING INTEGER PRIMARY KEY ", 0) == 0;
}

}  // namespace

Status FileStatement::PrepareKeyset(sqlite3_stmt** keyset, std::string* schema, std::string* table, bool* joined) {
  *keyset = nullptr;
  *joined = false;
  if (HoldsUnstreamableWord(text_) || reads_.empty()) return Status();
  auto hides_rowid = [](const char* name) {
    return name != nullptr &&
           (EqualsNoCase(name, "rowid") || EqualsNoCase(name, "_rowid_") || EqualsNoCase(name, "oid"));
  };
  // One full scan of the outer table in rowid order, then for a join a
  // search of each other table through an index: the keyset form the same
  // with the outer table searched from a rowid on, in rowid order.
  const std::string positional = ToPositionalSql(text_, places_);
  std::vector<std::string> plan = PlanOf(positional);
  if (plan.empty() || plan[0].rfind("SCAN ", 0) != 0 || plan[0].find(' ', 5) != std::string::npos) return Status();
  const std::string outer = plan[0].substr(5);
  *joined = plan.size() > 1;
  if (!*joined && reads_.size() != 1) return Status();
  for (size_t i = 1; i < plan.size(); ++i)
    if (!IsInnerSearch(plan[i], outer)) return Status();
  std::string keyset_sql;
  const int rowid_parameter = static_cast<int>(places_.size()) + 1;
  if (!KeysetText(positional, rowid_parameter, *joined ? outer : "", &keyset_sql)) return Status();
  plan[0] = "SEARCH " + outer + " USING INTEGER PRIMARY KEY (rowid>?)";
  if (PlanOf(keyset_sql) != plan) return Status();
  Statement prepared;
  if (sqlite3_prepare_v2(db_, keyset_sql.c_str(), -1, prepared.out(), nullptr) != SQLITE_OK) return Status();
  sqlite3_stmt* k = prepared.get();
  // The outer table: one the text reads, with a rowid that no column hides.
  const char* outer_table = sqlite3_column_table_name(k, 0);
  const char* outer_schema = sqlite3_column_database_name(k, 0);
  if (outer_table == nullptr || outer_schema == nullptr) return Status();
  *schema = outer_schema;
  *table = outer_table;
  auto is_read = [&](const char* from_schema, const char* from_table) {
    if (from_schema == nullptr || from_table == nullptr) return false;
    for (const auto& [read_schema, read_table] : reads_)
      if (EqualsNoCase(read_schema, from_schema) && EqualsNoCase(read_table, from_table)) return true;
    return false;
  };
  if (!is_read(outer_schema, outer_table)) return Status();
  const std::string qualified = QuoteIdentifier(*schema) + "." + QuoteIdentifier(*table);
  Statement probe;
  if (sqlite3_prepare_v2(db_, ("SELECT rowid FROM " + qualified).c_str(), -1, probe.out(), nullptr) != SQLITE_OK) {
    return Status();
  }
  Statement info;
  const std::string columns = "PRAGMA " + QuoteIdentifier(*schema) + ".table_xinfo(" + QuoteIdentifier(*table) + ")";
  if (sqlite3_prepare_v2(db_, columns.c_str(), -1, info.out(), nullptr) != SQLITE_OK) {
    return Status();
  }
  int rc;
  while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
    if (hides_rowid(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1)))) return Status();
  }
  if (rc != SQLITE_DONE) return Status();
  // Every result column a column of a table the text reads, as in the text
  // itself.
  const int count = sqlite3_column_count(stmt_);
  if (sqlite3_column_count(k) != count + 1) return Status();
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(k, i + 1);
    const char* own_name = sqlite3_column_name(stmt_, i);
    const char* declared = sqlite3_column_decltype(k, i + 1);
    if (name == nullptr || own_name == nullptr || std::strcmp(name, own_name) != 0 || hides_rowid(name) ||
        !is_read(sqlite3_column_database_name(k, i + 1), sqlite3_column_table_name(k, i + 1)) ||
        (!*joined && !EqualsNoCase(sqlite3_column_table_name(k, i + 1), *table)) ||
        sqlite3_column_origin_name(k, i + 1) == nullptr || declared == nullptr || *declared == '\0') {
      return Status();
    }
  }
  if (Status bound = BindPlaces(k, true); !bound.ok()) return bound;
  *keyset = std::exchange(*prepared.out(), nullptr);
  return Status();
}

Status FileStatement::RunStreamed(ADSHANDLE* cursor, bool* streamed) {
  *streamed = false;
  sqlite3_stmt* prepared = nullptr;
  std::string schema, table;
  bool joined = false;
  if (Status made = PrepareKeyset(&prepared, &schema, &table, &joined); !made.ok() || prepared == nullptr) return made;
  Statement keyset(prepared);
  auto shape = std::make_unique<ResultShape>();
  if (Status built = ShapeColumns(keyset.get(), 1, shape.get()); !built.ok()) return built;
  // Named as the stored result would be.
  shape->table_name = joined ? "SQL_RESULT" : table;
  shape->display_name = joined ? "SQL result" : table + " (SQL result)";
  stream_shape_ = std::move(shape);
  std::string file;
  for (const Attachment& a : attached_)
    if (EqualsNoCase(a.schema, schema)) file = a.file;
  if (const char* name = sqlite3_db_filename(db_, schema.c_str()); file.empty() && name != nullptr) file = name;
  StreamRequest request;
  request.joined = joined;
  request.shape = stream_shape_.get();
  request.describe = Describe();
  request.place = "Table " + table + (file.empty() ? "" : " (file '" + file + "')");
  request.table = table;
  request.rows = KeysetSource(db_owner_, std::exchange(*keyset.out(), nullptr), static_cast<int>(places_.size()) + 1,
                              request.place, request.describe, table);
  request.connection = connection_;
  *streamed = true;
  return OpenStreamedCursor(std::move(request), cursor);
}

Status FileStatement::BuildShape() {
  auto shape = std::make_unique<ResultShape>();
  if (Status built = ShapeColumns(stmt_, 0, shape.get()); !built.ok()) return built;
  shape->table_name = "SQL_RESULT";
  shape->display_name = "SQL result";
  if (reads_.size() == 1) {
    const auto& [schema, table] = *reads_.begin();
    if (Status offered = OfferSourceIndexes(shape.get(), schema, table); !offered.ok()) return offered;
  }
  SetShape(std::move(shape));
  return Status();
}

Status FileStatement::ShapeColumns(sqlite3_stmt* stmt, int first, ResultShape* shape) {
  const int count = sqlite3_column_count(stmt);
  std::set<std::string> used;
  for (int i = first; i < count; ++i) {
    ResultColumn column;
    const char* name = sqlite3_column_name(stmt, i);
    std::string base = name != nullptr && *name ? name : "EXPR_" + std::to_string(i - first + 1);
    column.name = base;
    for (int n = 1; used.count(Upper(column.name)) != 0; ++n) column.name = base + "_" + std::to_string(n);
    used.insert(Upper(column.name));
    const char* declared = sqlite3_column_decltype(stmt, i);
    column.declared = declared != nullptr ? declared : "";
    if (!column.declared.empty()) {
      ColumnType type;
      std::string why;
      if (!ParseDeclaredType(column.declared, &type, &why)) {
        return Status(AE_KDX_BAD_COLUMN_TYPE, Describe() + ", result column " + column.name + ": " + why)
            .WithColumn(column.name);
      }
    }
    shape->has_expressions = shape->has_expressions || column.declared.empty();
    shape->columns.push_back(std::move(column));
  }
  return Status();
}

Status FileStatement::OfferSourceIndexes(ResultShape* shape, const std::string& schema, const std::string& table) {
  const int count = static_cast<int>(shape->columns.size());
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
  auto failed = [&] {
    return SqliteError(AE_KDX_SQLITE, Describe() + ": reading the indexes of " + table, db_).WithTable(table);
  };
  const std::string q_schema = QuoteIdentifier(schema);
  Statement list;
  int rc = sqlite3_prepare_v2(db_,
                              ("SELECT name FROM " + q_schema +
                               ".sqlite_schema WHERE type='index' AND tbl_name=?1 COLLATE NOCASE AND sql IS NOT NULL "
                               "ORDER BY rowid").c_str(),
                              -1, list.out(), nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text(list.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) return failed();
  std::vector<std::string> names;
  while ((rc = sqlite3_step(list.get())) == SQLITE_ROW)
    names.push_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
  if (rc != SQLITE_DONE) return failed();
  std::map<std::string, std::pair<bool, bool>> flags;  // unique, partial
  Statement pragma;
  rc = sqlite3_prepare_v2(db_, ("PRAGMA " + q_schema + ".index_list(" + QuoteIdentifier(table) + ")").c_str(), -1,
                          pragma.out(), nullptr);
  while (rc == SQLITE_OK && (rc = sqlite3_step(pragma.get())) == SQLITE_ROW) {
    flags[reinterpret_cast<const char*>(sqlite3_column_text(pragma.get(), 1))] = {
        sqlite3_column_int(pragma.get(), 2) != 0, sqlite3_column_int(pragma.get(), 4) != 0};
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_DONE) return failed();
  for (const std::string& index : names) {
    if (flags[index].second) continue;  // partial: not every result row is in it
    std::string sql;
    if (Status made = ResultIndexSql(*shape, q_schema, index, flags[index].first, origin, &sql); !made.ok()) {
      return made;
    }
    if (!sql.empty()) shape->index_sql.push_back(std::move(sql));
  }
  return Status();
}

Status FileStatement::ResultIndexSql(const ResultShape& shape, const std::string& q_schema, const std::string& index,
                                     bool unique, const std::map<std::string, int>& origin, std::string* sql) {
  Statement xinfo;
  int rc = sqlite3_prepare_v2(db_, ("PRAGMA " + q_schema + ".index_xinfo(" + QuoteIdentifier(index) + ")").c_str(),
                              -1, xinfo.out(), nullptr);
  std::string segments;
  while (rc == SQLITE_OK && (rc = sqlite3_step(xinfo.get())) == SQLITE_ROW) {
    rc = SQLITE_OK;
    if (sqlite3_column_int(xinfo.get(), 5) == 0) continue;  // not a key column
    const unsigned char* column = sqlite3_column_text(xinfo.get(), 2);
    const unsigned char* collation = sqlite3_column_text(xinfo.get(), 4);
    auto it = column != nullptr ? origin.find(Upper(reinterpret_cast<const char*>(column))) : origin.end();
    if (it == origin.end() ||
        (collation != nullptr && !EqualsNoCase(reinterpret_cast<const char*>(collation), "BINARY"))) {
      return Status();  // a column that does not reach the result, or another order
    }
    if (!segments.empty()) segments += ", ";
    segments += QuoteIdentifier(shape.columns[static_cast<size_t>(it->second)].name);
    if (sqlite3_column_int(xinfo.get(), 3) != 0) segments += " DESC";
  }
  if (rc != SQLITE_DONE) {
    return SqliteError(AE_KDX_SQLITE, Describe() + ": reading index " + index, db_).WithTable(shape.table_name);
  }
  if (segments.empty()) return Status();
  *sql = std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + QuoteIdentifier(index) + " ON " +
         QuoteIdentifier(shape.table_name) + "(" + segments + ")";
  return Status();
}

Status FileStatement::Materialise(ADSHANDLE* cursor) {
  // The first step comes before the shape is looked at: it is where SQLite
  // prepares the statement again after a schema change.
  const int first = sqlite3_step(stmt_);
  if (first != SQLITE_ROW && first != SQLITE_DONE) return SqliteError(AE_KDX_SQL_EXECUTE, Describe() + " failed", db_);
  const int reprepares = sqlite3_stmt_status(stmt_, SQLITE_STMTSTATUS_REPREPARE, 0);
  if (!shape_ || reprepares != shape_reprepares_) {
    shape_.reset();
    if (Status built = BuildShape(); !built.ok()) return built;
    shape_reprepares_ = reprepares;
  }
  SqliteRows rows(stmt_, first, db_, Describe());
  return StoreRows(rows, cursor);
}

}  // namespace engine
