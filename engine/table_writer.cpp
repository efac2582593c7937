// kdx-db's writes to table files and dictionaries: new tables filled row by
// row, tables copied into a dictionary, rows appended to a table.
#include "engine/table_writer.h"

#include <sqlite3.h>

#include <filesystem>

#include "engine/sqlite_support.h"
#include "engine/storage.h"
#include "util/ascii.h"

namespace engine {

Status TablesByName(sqlite3* db, std::vector<std::string>* names) {
  names->clear();
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                         "AND name NOT LIKE '\\_\\_%' ESCAPE '\\' ORDER BY name",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    Status failed(AE_KDX_SQLITE, db != nullptr ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_finalize(stmt);
    return failed;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    names->emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  }
  sqlite3_finalize(stmt);
  return Status();
}

std::string CreateTableSql(const TableDefinition& table) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table.name) + " (";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    sql += (i ? ", " : "") + QuoteIdentifier(table.columns[i].name) + " " + table.columns[i].type;
  }
  return sql + ")";
}

std::string CreateIndexSql(const std::string& table, const std::string& name, const std::vector<std::string>& columns,
                           bool unique) {
  std::string sql = std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + QuoteIdentifier(name) + " ON " +
                    QuoteIdentifier(table) + " (";
  for (size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + QuoteIdentifier(columns[i]);
  return sql + ")";
}

// ---- TableFileWriter ---------------------------------------------------------

TableFileWriter::TableFileWriter(TableDefinition table) : table_(std::move(table)) {}

TableFileWriter::~TableFileWriter() {
  sqlite3_finalize(insert_);
  sqlite3_close(db_);
}

Status TableFileWriter::Open(const std::string& path) {
  path_ = path;
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    return Fail("cannot create the file");
  }
  std::string insert = "INSERT INTO " + QuoteIdentifier(table_.name) + " VALUES (";
  for (size_t i = 0; i < table_.columns.size(); ++i) insert += i ? ", ?" : "?";
  insert += ")";
  if (!Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN") || !Exec(CreateTableSql(table_))) {
    return Fail("cannot create the table");
  }
  if (sqlite3_prepare_v2(db_, insert.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
    return Fail("cannot prepare the insert");
  }
  return Status();
}

void TableFileWriter::Text(std::string_view value) {
  sqlite3_bind_text(insert_, ++bound_, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}

void TableFileWriter::Integer(int64_t value) { sqlite3_bind_int64(insert_, ++bound_, value); }

void TableFileWriter::Real(double value) { sqlite3_bind_double(insert_, ++bound_, value); }

void TableFileWriter::Null() { sqlite3_bind_null(insert_, ++bound_); }

Status TableFileWriter::Row() {
  if (bound_ != static_cast<int>(table_.columns.size())) {
    return Fail("row " + std::to_string(rows_ + 1) + " sets " + std::to_string(bound_) + " of " +
                    std::to_string(table_.columns.size()) + " columns",
                AE_KDX_INVALID_ARGUMENT);
  }
  if (sqlite3_step(insert_) != SQLITE_DONE) return Fail("cannot insert row " + std::to_string(rows_ + 1));
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  bound_ = 0;
  ++rows_;
  return Status();
}

Status TableFileWriter::Finish() {
  for (const IndexDefinition& index : table_.indexes) {
    if (!Exec(CreateIndexSql(table_.name, index.name, index.columns, index.unique))) {
      return Fail("cannot create index " + index.name);
    }
  }
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  if (!Exec("COMMIT")) return Fail("cannot commit");
  if (sqlite3_close(db_) != SQLITE_OK) return Fail("cannot close the file");
  db_ = nullptr;
  return Status();
}

bool TableFileWriter::Exec(const std::string& sql) {
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

Status TableFileWriter::Fail(const std::string& what, UNSIGNED32 code) {
  const std::string detail = db_ ? sqlite3_errmsg(db_) : "out of memory";
  return Status(code, "Table " + table_.name + " (" + path_ + "): " + what + ": " + detail);
}

// ---- BuildDictionary -----------------------------------------------------------

namespace {

// A dictionary open for writing; the first failure is kept, later steps do
// nothing.
class DictionaryBuild {
 public:
  explicit DictionaryBuild(const std::string& path) : path_(path) {}
  ~DictionaryBuild() { sqlite3_close(db_); }

  // The first failure, or a success.
  const Status& status() const { return status_; }

  void Open() {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      status_ = Status(AE_KDX_SQLITE, "Cannot open the dictionary " + path_ + ": " + sqlite3_errmsg(db_));
    }
    Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", "-");
  }
  // One transaction per table; a database is attached and detached outside
  // transactions.
  void Copy(const TableSource& source) {
    const std::string& name = source.table.name;
    std::string attach = "ATTACH '";
    for (char c : source.file) attach += c == '\'' ? std::string("''") : std::string(1, c);
    Exec(attach + "' AS src", name);
    Exec("BEGIN", name);
    Exec(CreateTableSql(source.table), name);
    Exec("INSERT INTO main." + QuoteIdentifier(name) + " SELECT * FROM src." + QuoteIdentifier(name), name);
    for (const IndexDefinition& index : source.table.indexes) {
      Exec(CreateIndexSql(name, name + "." + index.name, index.columns, index.unique), name);
    }
    Exec("COMMIT", name);
    Exec("DETACH src", name);
  }
  void AddUser(const std::string& user, const std::string& password) {
    if (status_.ok()) status_ = AddDictionaryUser(db_, user, password);
  }
  // Closes the file; a failure to close is kept unless an earlier one is.
  void Close() {
    if (db_ != nullptr && sqlite3_close(db_) != SQLITE_OK && status_.ok()) {
      status_ = Status(AE_KDX_SQLITE, "Cannot close the dictionary " + path_);
    }
    db_ = nullptr;
  }

 private:
  void Exec(const std::string& sql, const std::string& table) {
    if (!status_.ok()) return;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      status_ = Status(AE_KDX_SQLITE, "Dictionary " + path_ + ", table " + table + ": " + sqlite3_errmsg(db_));
    }
  }

  const std::string& path_;
  sqlite3* db_ = nullptr;
  Status status_;
};

}  // namespace

Status BuildDictionary(const std::string& path, const std::vector<TableSource>& tables, const std::string& user,
                       const std::string& password) {
  if (Status created = CreateDictionary(path); !created.ok()) return created;
  DictionaryBuild build(path);
  build.Open();
  for (const TableSource& source : tables) build.Copy(source);
  build.AddUser(user, password);
  build.Close();
  return build.status();
}

// ---- TableFileAppender ------------------------------------------------------------

namespace {

std::vector<ColumnDefinition> DeclaredColumns(sqlite3* db, const std::string& table) {
  std::vector<ColumnDefinition> columns;
  Statement info;
  sqlite3_prepare_v2(db, "SELECT name, type FROM pragma_table_info(?1)", -1, info.out(), nullptr);
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    const unsigned char* type = sqlite3_column_text(info.get(), 1);
    columns.push_back({reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0)),
                       type ? reinterpret_cast<const char*>(type) : ""});
  }
  return columns;
}

}  // namespace

TableFileAppender::~TableFileAppender() {
  sqlite3_finalize(insert_);
  // An append never committed is undone; closing undoes it too if this fails.
  if (in_transaction_) static_cast<void>(Exec("ROLLBACK"));
  sqlite3_close(db_);
}

std::string TableFileAppender::Message() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }

bool TableFileAppender::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Status TableFileAppender::Open(const std::string& path, std::unique_ptr<TableFileAppender>* appender) {
  std::unique_ptr<TableFileAppender> opened(new TableFileAppender);
  if (sqlite3_open_v2(path.c_str(), &opened->db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    return Status(AE_KDX_SQLITE, "Table file " + path + " cannot be opened: " + opened->Message());
  }
  // An import waits for another writer's lock as long as a read does.
  sqlite3_busy_timeout(opened->db_, kBusyTimeoutMs);
  std::vector<std::string> tables;
  if (!TablesByName(opened->db_, &tables).ok()) {
    return Status(AE_KDX_NOT_A_DATABASE, "Table file " + path + " is not an SQLite database: " + opened->Message());
  }
  const std::string stem = std::filesystem::path(path).stem().string();
  if (tables.size() != 1 || !EqualsNoCase(tables[0], stem)) {
    return Status(AE_KDX_TABLE_LAYOUT, "Table file " + path + " must hold exactly one table named " + stem +
                                           "; it holds " + std::to_string(tables.size()) + " table(s)");
  }
  opened->table_ = tables[0];
  opened->columns_ = DeclaredColumns(opened->db_, opened->table_);
  *appender = std::move(opened);
  return Status();
}

int64_t TableFileAppender::NextNumber(const std::string& column) {
  Statement max;
  const std::string sql =
      "SELECT coalesce(max(" + QuoteIdentifier(column) + "), 0) FROM " + QuoteIdentifier(table_);
  sqlite3_prepare_v2(db_, sql.c_str(), -1, max.out(), nullptr);
  return sqlite3_step(max.get()) == SQLITE_ROW ? sqlite3_column_int64(max.get(), 0) + 1 : 0;
}

Status TableFileAppender::Begin() {
  std::string sql = "INSERT INTO " + QuoteIdentifier(table_) + " (";
  for (size_t c = 0; c < columns_.size(); ++c) sql += (c ? ", " : "") + QuoteIdentifier(columns_[c].name);
  sql += ") VALUES (";
  for (size_t c = 0; c < columns_.size(); ++c) sql += c ? ", ?" : "?";
  sql += ")";
  if (!Exec("BEGIN IMMEDIATE")) {
    return Status(AE_KDX_SQLITE, "Table " + table_ + " cannot be written (is another program writing it?): " + Message());
  }
  in_transaction_ = true;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
    return Status(AE_KDX_SQLITE, "Table " + table_ + ": " + Message());
  }
  return Status();
}

Status TableFileAppender::Append(const std::vector<StoredValue>& row) {
  for (size_t c = 0; c < row.size(); ++c) {
    const StoredValue& value = row[c];
    const int p = static_cast<int>(c + 1);
    switch (value.kind) {
      case StoredValue::Kind::kNull: sqlite3_bind_null(insert_, p); break;
      case StoredValue::Kind::kText: sqlite3_bind_text(insert_, p, value.text.c_str(), -1, SQLITE_TRANSIENT); break;
      case StoredValue::Kind::kBlob:
        sqlite3_bind_blob(insert_, p, value.text.data(), static_cast<int>(value.text.size()), SQLITE_TRANSIENT);
        break;
      case StoredValue::Kind::kInteger: sqlite3_bind_int64(insert_, p, value.integer); break;
      case StoredValue::Kind::kReal: sqlite3_bind_double(insert_, p, value.real); break;
    }
  }
  Status inserted;
  if (sqlite3_step(insert_) != SQLITE_DONE) inserted = Status(AE_KDX_SQLITE, Message());
  sqlite3_reset(insert_);
  return inserted;
}

Status TableFileAppender::Commit() {
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  if (!Exec("COMMIT")) {
    return Status(AE_KDX_SQLITE,
                  "Table " + table_ + ": the import could not be committed, nothing was imported: " + Message());
  }
  in_transaction_ = false;
  return Status();
}

}  // namespace engine
