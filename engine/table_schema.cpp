// EngineTable: column layout, indexes, registration and the database a table
// reads from.
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/filter.h"
#include "engine/record_format.h"
#include "engine/settings.h"
#include "engine/table_rows.h"
#include "util/ascii.h"

namespace engine {

void EngineTable::ReadCacheDeleter::operator()(ReadCache* cache) const { delete cache; }

EngineTable::EngineTable(EngineConnection* connection, sqlite3* db, bool owns_db, std::string schema,
                         std::string table, std::string display_name)
    : connection_(connection),
      db_(db),
      owns_db_(owns_db),
      schema_(std::move(schema)),
      table_(std::move(table)),
      display_name_(std::move(display_name)) {
  qualified_ = QuoteIdentifier(schema_) + "." + QuoteIdentifier(table_);
  rows_fixed_ = IsPrivateMemoryDatabase(db_, schema_);
}

bool EngineTable::IsPrivateMemoryDatabase(sqlite3* db, const std::string& schema) {
  if (db == nullptr) return false;
  // An in-memory database opened by name (":memory:") has no file name; a
  // decrypted image loaded with sqlite3_deserialize lives in the "memdb"
  // file system. The engine opens neither kind shared, so no other
  // connection can write them.
  const char* file = sqlite3_db_filename(db, schema.c_str());
  if (file == nullptr || *file == '\0') return true;
  sqlite3_vfs* vfs = nullptr;
  if (sqlite3_file_control(db, schema.c_str(), SQLITE_FCNTL_VFS_POINTER, &vfs) != SQLITE_OK || vfs == nullptr) {
    return false;
  }
  return std::strcmp(vfs->zName, "memdb") == 0;
}

EngineTable::~EngineTable() {
  if (!owns_db_) {
    if (std::shared_ptr<Recycler> recycler = recycler_.lock()) {
      ReadCachePtr reads;
      // Reads prepared under a filter would filter the next table's rows too.
      if (filter_ == nullptr && orders_.size() == indexes_.size() + 1) {
        reads.reset(new ReadCache);
        reads->orders = std::move(orders_);
        reads->batch = std::move(batch_);
      }
      recycler->Recycle(db_, std::move(reads));
    }
  }
  orders_.clear();  // finalises every statement before the database closes
  windows_.reset();
  for (const IndexInfo& index : indexes_) {
    if (index.handle != 0) HandleRegistry::Get().Destroy(index.handle);
  }
  if (connection_ != nullptr && handle_ != 0) connection_->RemoveChild(handle_);
  if (owns_db_ && db_ != nullptr) sqlite3_close(db_);
}

Status EngineTable::ReadError(const std::string& what) const {
  return SqliteError(AE_KDX_SQLITE, ReadPlace() + ": " + what, db_).WithTable(display_name_);
}

Status EngineTable::SchemaReadError(const std::string& what) const {
  return SqliteError(AE_KDX_SQLITE, "Table " + display_name_ + ": " + what, db_).WithTable(display_name_);
}

Status EngineTable::Prepare(const std::string& sql, sqlite3_stmt** stmt) {
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(*stmt);
    *stmt = nullptr;
    return ReadError("preparing a read");
  }
  return Status();
}

Status EngineTable::Load() {
  if (Status loaded = LoadColumns(); !loaded.ok()) return loaded;
  if (Status loaded = LoadIndexes(); !loaded.ok()) return loaded;
  BuildOrders();
  state_ = State::kBof;
  at_bof_flag_ = at_eof_flag_ = false;
  return Status();
}

Status EngineTable::LoadColumns() {
  columns_.clear();
  indexes_.clear();
  Statement info;
  std::string sql = "PRAGMA " + QuoteIdentifier(schema_) + ".table_info(" + QuoteIdentifier(table_) + ")";
  if (Status prepared = Prepare(sql, info.out()); !prepared.ok()) return prepared;
  UNSIGNED32 offset = 0;
  int rc;
  while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
    ColumnInfo column;
    column.name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
    const unsigned char* declared = sqlite3_column_text(info.get(), 2);
    column.declared = declared != nullptr ? reinterpret_cast<const char*>(declared) : "";
    std::string why;
    if (!ParseDeclaredType(column.declared, &column.type, &why)) {
      return Status(AE_KDX_BAD_COLUMN_TYPE, "Table " + display_name_ + ", column " + column.name + ": " + why)
          .WithTable(display_name_)
          .WithColumn(column.name);
    }
    column.offset = offset;
    offset += column.type.width;
    columns_.push_back(std::move(column));
  }
  if (rc != SQLITE_DONE) return SchemaReadError("reading its columns");
  if (columns_.empty()) {
    return Status(AE_KDX_TABLE_NOT_FOUND, "Table " + display_name_ + " does not exist").WithTable(display_name_);
  }
  record_length_ = offset;

  // The rowid under a name no column hides.
  std::string rowid = "rowid";
  for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
    if (FindColumn(candidate) < 0) {
      rowid = candidate;
      break;
    }
    rowid.clear();
  }
  if (rowid.empty()) {
    return Status(AE_KDX_TABLE_LAYOUT,
                  "Table " + display_name_ + ": columns named rowid, _rowid_ and oid hide the row number")
        .WithTable(display_name_);
  }
  select_list_ = rowid;
  rowid_name_ = rowid;
  for (const ColumnInfo& column : columns_) select_list_ += ", " + QuoteIdentifier(column.name);
  Statement probe;
  std::string probe_sql = "SELECT " + select_list_ + " FROM " + qualified_ + " LIMIT 0";
  if (sqlite3_prepare_v2(db_, probe_sql.c_str(), -1, probe.out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_TABLE_LAYOUT,
                       "Table " + display_name_ + " cannot be read by row number (a WITHOUT ROWID table?)", db_)
        .WithTable(display_name_);
  }
  return Status();
}

Status EngineTable::LoadIndexes() {
  // Indexes in the order they were created; SQLite's automatic ones excluded.
  Statement list;
  std::string sql = "SELECT name, sql FROM " + QuoteIdentifier(schema_) +
                    ".sqlite_schema WHERE type = 'index' AND tbl_name = ?1 COLLATE NOCASE ORDER BY rowid";
  if (Status prepared = Prepare(sql, list.out()); !prepared.ok()) return prepared;
  if (sqlite3_bind_text(list.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    return SchemaReadError("reading its indexes");
  }
  std::vector<std::string> names;
  int rc;
  while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
    if (sqlite3_column_type(list.get(), 1) == SQLITE_NULL) continue;  // automatic index
    names.push_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
  }
  if (rc != SQLITE_DONE) return SchemaReadError("reading its indexes");

  std::map<std::string, std::pair<bool, bool>> flags;  // name -> unique, partial
  Statement index_list;
  sql = "PRAGMA " + QuoteIdentifier(schema_) + ".index_list(" + QuoteIdentifier(table_) + ")";
  if (Status prepared = Prepare(sql, index_list.out()); !prepared.ok()) return prepared;
  while ((rc = sqlite3_step(index_list.get())) == SQLITE_ROW) {
    flags[reinterpret_cast<const char*>(sqlite3_column_text(index_list.get(), 1))] = {
        sqlite3_column_int(index_list.get(), 2) != 0, sqlite3_column_int(index_list.get(), 4) != 0};
  }
  if (rc != SQLITE_DONE) return SchemaReadError("reading its indexes");
  for (const std::string& name : names) {
    IndexInfo index;
    if (Status loaded = LoadIndex(name, flags[name].first, flags[name].second, &index); !loaded.ok()) return loaded;
    indexes_.push_back(std::move(index));
  }
  return Status();
}

Status EngineTable::LoadIndex(const std::string& name, bool unique, bool partial, IndexInfo* index) {
  index->sqlite_name = name;
  index->name = name;
  const std::string prefix = table_ + ".";
  if (name.size() > prefix.size() && EqualsNoCase(name.substr(0, prefix.size()), prefix)) {
    index->name = name.substr(prefix.size());
  }
  index->unique = unique;
  auto refused = [&](const std::string& why) {
    return Status(AE_KDX_BAD_INDEX, "Table " + display_name_ + ", index " + index->name + why)
        .WithTable(display_name_);
  };
  if (partial) return refused(": a partial index (CREATE INDEX ... WHERE) is not supported");
  Statement xinfo;
  const std::string sql = "PRAGMA " + QuoteIdentifier(schema_) + ".index_xinfo(" + QuoteIdentifier(name) + ")";
  if (Status prepared = Prepare(sql, xinfo.out()); !prepared.ok()) return prepared;
  int rc;
  while ((rc = sqlite3_step(xinfo.get())) == SQLITE_ROW) {
    if (sqlite3_column_int(xinfo.get(), 5) == 0) continue;  // not a key column
    const int cid = sqlite3_column_int(xinfo.get(), 1);
    if (cid < 0) return refused(": an index on an expression is not supported");
    const unsigned char* coll = sqlite3_column_text(xinfo.get(), 4);
    const std::string collation = coll != nullptr ? reinterpret_cast<const char*>(coll) : "BINARY";
    if (!EqualsNoCase(collation, "BINARY")) return refused(": collation " + collation + " is not supported (only BINARY)");
    index->segments.push_back(cid);
    index->segment_descending.push_back(sqlite3_column_int(xinfo.get(), 3) != 0);
  }
  if (rc != SQLITE_DONE) return SchemaReadError("reading index " + index->name);
  if (index->segments.empty()) return refused(" has no columns");
  index->descending = index->segment_descending[0];
  return Status();
}

void EngineTable::BuildOrders() {
  orders_.clear();
  orders_.push_back(std::make_unique<Order>());
  for (const IndexInfo& index : indexes_) {
    auto order = std::make_unique<Order>();
    order->segments = index.segments;
    order->descending = index.segment_descending;
    orders_.push_back(std::move(order));
  }
}

void EngineTable::LoadLike(const EngineTable& source, ReadCachePtr reads) {
  columns_ = source.columns_;
  indexes_ = source.indexes_;
  for (IndexInfo& index : indexes_) index.handle = 0;  // this table registers its own
  record_length_ = source.record_length_;
  select_list_ = source.select_list_;
  rowid_name_ = source.rowid_name_;
  orders_.clear();
  batch_.reset();
  // A cache made for another layout (another number of orders) is dropped.
  if (reads != nullptr && reads->orders.size() == indexes_.size() + 1) {
    orders_ = std::move(reads->orders);
    batch_ = std::move(reads->batch);
  } else {
    BuildOrders();
  }
  if (batch_ != nullptr) batch_->Clear();  // nothing read by the previous table is visible to this one
  spare_.reset();
  ForgetKeptBatches();
  state_ = State::kBof;
  at_bof_flag_ = at_eof_flag_ = false;
  current_order_ = -1;
  current_rowid_ = 0;
}

Status EngineTable::Register(std::unique_ptr<EngineTable> table, UNSIGNED16 type, ADSHANDLE* handle) {
  EngineTable* raw = table.get();
  raw->handle_type_ = type;
  const std::string name = raw->display_name_;
  ADSHANDLE h = HandleRegistry::Get().Register(type, std::move(table));
  if (h == 0) return Status(AE_KDX_INVALID_ARGUMENT, "No handle left for table " + name).WithTable(name);
  raw->handle_ = h;
  for (size_t i = 0; i < raw->indexes_.size(); ++i) {
    raw->indexes_[i].handle =
        HandleRegistry::Get().Register(ADS_INDEX_ORDER, std::make_unique<IndexOrder>(raw, static_cast<int>(i)));
  }
  if (raw->connection_ != nullptr) raw->connection_->AddChild(h);
  *handle = h;
  return Status();
}

void EngineTable::set_rows_hidden(bool hidden) {
  rows_hidden_ = hidden;
  if (batch_ != nullptr) batch_->Clear();
  ForgetKeptBatches();
  state_ = State::kEof;
  at_bof_flag_ = at_eof_flag_ = true;
}

Status EngineTable::ReplaceDatabase(sqlite3* db, bool owns_db) {
  ResetStatements();
  if (batch_ != nullptr) batch_->Clear();
  ForgetKeptBatches();
  if (owns_db_ && db_ != nullptr) sqlite3_close(db_);
  db_ = db;
  owns_db_ = owns_db;
  rows_fixed_ = IsPrivateMemoryDatabase(db_, schema_);
  state_ = State::kEof;
  at_bof_flag_ = at_eof_flag_ = true;
  Statement probe;
  std::string sql = "SELECT " + select_list_ + " FROM " + qualified_ + " LIMIT 0";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, probe.out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_TABLE_LAYOUT, "Table " + display_name_ + ": the new image does not hold the table", db_)
        .WithTable(display_name_);
  }
  return Status();
}

void EngineTable::RefreshUniqueFlags() {
  Statement list;
  if (sqlite3_prepare_v2(db_, "SELECT \"unique\" FROM pragma_index_list(?1, ?2) WHERE name = ?3", -1, list.out(),
                         nullptr) != SQLITE_OK) {
    return;  // the flags stay as loaded
  }
  for (IndexInfo& index : indexes_) {
    sqlite3_reset(list.get());
    sqlite3_bind_text(list.get(), 1, table_.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(list.get(), 2, schema_.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(list.get(), 3, index.sqlite_name.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(list.get()) == SQLITE_ROW) index.unique = sqlite3_column_int(list.get(), 0) != 0;
  }
}

int EngineTable::FindColumn(const std::string& name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (EqualsNoCase(columns_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

Status EngineTable::ColumnByNumber(UNSIGNED16 number, const ColumnInfo** column) const {
  if (number < 1 || number > columns_.size()) {
    return Status(AE_COLUMN_NOT_FOUND, "Table " + display_name_ + ": column \"" + std::to_string(number) +
                                           "\" does not exist (the table has " + std::to_string(columns_.size()) +
                                           " columns)")
        .WithTable(display_name_)
        .WithColumn(std::to_string(number));
  }
  *column = &columns_[number - 1];
  return Status();
}

Status EngineTable::ColumnByName(const std::string& name, int* column) const {
  *column = FindColumn(name);
  if (*column < 0) {
    return Status(AE_COLUMN_NOT_FOUND, "Table " + display_name_ + ": column \"" + name + "\" not found")
        .WithTable(display_name_)
        .WithColumn(name);
  }
  return Status();
}

}  // namespace engine
