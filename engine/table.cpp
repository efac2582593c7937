// EngineTable: column schema, indexes, raw record encoding and navigation in
// index order over one SQLite table.
//
// Order of records: an index orders by its segments (each ASC or DESC as the
// SQLite index declares), ties by rowid; the natural order is rowid order.
// SQLite sorts NULL (the empty value) first, then numbers, then text in byte
// order (BINARY collation), which is the order the engine promises.
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/filter.h"
#include "engine/record_format.h"
#include "engine/settings.h"
#include "util/ascii.h"

namespace engine {

using record_format::Get32;
using record_format::GetDouble;
using record_format::IsBlockType;
using record_format::Put16;
using record_format::Put32;
using record_format::PutDouble;
using record_format::kEmptyAutoinc;
using record_format::kEmptyDoubleHigh;
using record_format::kEmptyDoubleLow;
using record_format::kEmptyInteger;
using record_format::kEmptyShort;
using record_format::kEmptyTime;

// ---- per-order statement cache ---------------------------------------------------

struct EngineTable::Order {
  std::vector<int> segments;
  std::vector<bool> descending;
  std::map<std::string, sqlite3_stmt*> cache;
  sqlite3_stmt* key_of_row = nullptr;  // the order's key of one row, by rowid
  // Whether every segment sorts ascending by the BINARY collation: -1 not
  // yet known, 0 no, 1 yes.
  int binary_ascending = -1;
  void Clear() {
    for (auto& entry : cache) sqlite3_finalize(entry.second);
    cache.clear();
    sqlite3_finalize(key_of_row);
    key_of_row = nullptr;
    binary_ascending = -1;
  }
  ~Order() { Clear(); }
};

// A column value of a buffered row; `bytes` points into the batch's arena.
struct EngineTable::Cell {
  int type = SQLITE_NULL;
  int64_t integer = 0;
  double real = 0;
  const char* bytes = "";
  size_t size = 0;
};

struct EngineTable::Batch {
  struct Stored {
    int type;
    int64_t integer;
    double real;
    size_t offset;
    size_t size;
  };
  std::vector<Stored> cells;  // count rows of `columns` cells
  std::vector<int64_t> rowids;
  std::string arena;
  size_t columns = 0;
  size_t count = 0;
  size_t pos = 0;
  bool exhausted = true;  // the scan reached the end of the order
  bool forward = true;
  int order = -1;
  size_t next_limit = 1;  // rows to read by the next scan of a walk
  // How row 0 was found, kept only for a table whose rows cannot change
  // while it is open (rows_fixed_): the first row of the order (kTop), or
  // the first row at or after the raw key `anchor_key` (kSeek). Such a batch
  // grows as a walk reads on, so that going back to the top, or seeking the
  // same key again, is served from it without reading.
  Anchor anchor = Anchor::kNone;
  std::string anchor_key;
  // Raw records already encoded (tables of fixed rows only): row r at
  // r * record length in `records` when encoded[r] is 1.
  std::vector<uint8_t> records;
  std::vector<uint8_t> encoded;
  // Forgets everything read (the buffers keep their memory).
  void Clear() {
    encoded.clear();
    count = 0;
    pos = 0;
    exhausted = true;
    order = -1;
    next_limit = 1;
    anchor = Anchor::kNone;
  }
};

class EngineTable::ReadCache {
 public:
  std::vector<std::unique_ptr<Order>> orders;
  std::unique_ptr<Batch> batch;
};

void EngineTable::ReadCacheDeleter::operator()(ReadCache* cache) const { delete cache; }

namespace {

// Largest batch a walk grows to.
constexpr size_t kMaxBatchRows = 256;
// Rows a seek reads when the seek before it was served from the rows read
// ahead: keys sought in their order find their rows already read.
constexpr size_t kInOrderSeekReadAhead = 16;
// Most rows a seek reads: the found record, the records after it that carry
// the same key, and the first record with another key (so that a walk over
// the key's records, which stops on the first other key, is served from
// memory). A longer run of equal keys is read on in growing batches.
constexpr size_t kSeekReadAhead = 32;
// Anchored batches a table of fixed rows keeps aside when a move reads
// another batch (a seek of another key, the return to a record after a
// missed seek), so that a later seek of their key reads nothing.
constexpr size_t kKeptBatches = 3;
// Most bytes of encoded raw records a batch keeps.
constexpr size_t kMaxEncodedBytes = 256 * 1024;

std::string CellText(int type, int64_t integer, double real, const char* bytes, size_t size) {
  char buffer[64];
  switch (type) {
    case SQLITE_INTEGER:
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(integer));
      return buffer;
    case SQLITE_FLOAT:
      std::snprintf(buffer, sizeof buffer, "%.15g", real);
      return buffer;
    case SQLITE_NULL: return "";
    default: return std::string(bytes, size);
  }
}

}  // namespace

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
  for (const IndexInfo& index : indexes_) {
    if (index.handle != 0) HandleRegistry::Get().Destroy(index.handle);
  }
  if (connection_ != nullptr && handle_ != 0) connection_->RemoveChild(handle_);
  if (owns_db_ && db_ != nullptr) sqlite3_close(db_);
}

UNSIGNED32 EngineTable::Prepare(const std::string& sql, sqlite3_stmt** stmt) {
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(*stmt);
    *stmt = nullptr;
    return SqliteError(AE_KDX_SQLITE, "Table " + display_name_ + ": preparing a read", db_);
  }
  return 0;
}

UNSIGNED32 EngineTable::Load() {
  columns_.clear();
  indexes_.clear();
  Statement info;
  std::string sql = "PRAGMA " + QuoteIdentifier(schema_) + ".table_info(" + QuoteIdentifier(table_) + ")";
  if (Prepare(sql, info.out())) return AE_KDX_SQLITE;
  UNSIGNED32 offset = 0;
  int rc;
  while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
    ColumnInfo column;
    column.name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
    const unsigned char* declared = sqlite3_column_text(info.get(), 2);
    column.declared = declared != nullptr ? reinterpret_cast<const char*>(declared) : "";
    std::string why;
    if (!ParseDeclaredType(column.declared, &column.type, &why)) {
      return SetError(AE_KDX_BAD_COLUMN_TYPE, "Table " + display_name_ + ", column " + column.name + ": " + why);
    }
    column.offset = offset;
    offset += column.type.width;
    columns_.push_back(std::move(column));
  }
  if (rc != SQLITE_DONE) return SqliteError(AE_KDX_SQLITE, "Table " + display_name_ + ": reading its columns", db_);
  if (columns_.empty()) {
    return SetError(AE_KDX_TABLE_NOT_FOUND, "Table " + display_name_ + " does not exist");
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
    return SetError(AE_KDX_TABLE_LAYOUT,
                    "Table " + display_name_ + ": columns named rowid, _rowid_ and oid hide the row number");
  }
  select_list_ = rowid;
  rowid_name_ = rowid;
  for (const ColumnInfo& column : columns_) select_list_ += ", " + QuoteIdentifier(column.name);
  {
    Statement probe;
    std::string probe_sql = "SELECT " + select_list_ + " FROM " + qualified_ + " LIMIT 0";
    if (sqlite3_prepare_v2(db_, probe_sql.c_str(), -1, probe.out(), nullptr) != SQLITE_OK) {
      return SqliteError(AE_KDX_TABLE_LAYOUT,
                         "Table " + display_name_ + " cannot be read by row number (a WITHOUT ROWID table?)", db_);
    }
  }

  // Indexes in the order they were created; SQLite's automatic ones excluded.
  Statement list;
  sql = "SELECT name, sql FROM " + QuoteIdentifier(schema_) +
        ".sqlite_schema WHERE type = 'index' AND tbl_name = ?1 COLLATE NOCASE ORDER BY rowid";
  if (Prepare(sql, list.out())) return AE_KDX_SQLITE;
  sqlite3_bind_text(list.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> names;
  while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
    if (sqlite3_column_type(list.get(), 1) == SQLITE_NULL) continue;  // automatic index
    names.push_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
  }
  if (rc != SQLITE_DONE) return SqliteError(AE_KDX_SQLITE, "Table " + display_name_ + ": reading its indexes", db_);

  std::map<std::string, std::pair<bool, bool>> flags;  // name -> unique, partial
  {
    Statement index_list;
    sql = "PRAGMA " + QuoteIdentifier(schema_) + ".index_list(" + QuoteIdentifier(table_) + ")";
    if (Prepare(sql, index_list.out())) return AE_KDX_SQLITE;
    while (sqlite3_step(index_list.get()) == SQLITE_ROW) {
      flags[reinterpret_cast<const char*>(sqlite3_column_text(index_list.get(), 1))] = {
          sqlite3_column_int(index_list.get(), 2) != 0, sqlite3_column_int(index_list.get(), 4) != 0};
    }
  }
  for (const std::string& name : names) {
    IndexInfo index;
    index.sqlite_name = name;
    index.name = name;
    std::string prefix = table_ + ".";
    if (name.size() > prefix.size() && EqualsNoCase(name.substr(0, prefix.size()), prefix)) {
      index.name = name.substr(prefix.size());
    }
    index.unique = flags[name].first;
    if (flags[name].second) {
      return SetError(AE_KDX_BAD_INDEX, "Table " + display_name_ + ", index " + index.name +
                                            ": a partial index (CREATE INDEX ... WHERE) is not supported");
    }
    Statement xinfo;
    sql = "PRAGMA " + QuoteIdentifier(schema_) + ".index_xinfo(" + QuoteIdentifier(name) + ")";
    if (Prepare(sql, xinfo.out())) return AE_KDX_SQLITE;
    while (sqlite3_step(xinfo.get()) == SQLITE_ROW) {
      if (sqlite3_column_int(xinfo.get(), 5) == 0) continue;  // not a key column
      int cid = sqlite3_column_int(xinfo.get(), 1);
      if (cid < 0) {
        return SetError(AE_KDX_BAD_INDEX, "Table " + display_name_ + ", index " + index.name +
                                              ": an index on an expression is not supported");
      }
      const unsigned char* coll = sqlite3_column_text(xinfo.get(), 4);
      std::string collation = coll != nullptr ? reinterpret_cast<const char*>(coll) : "BINARY";
      if (!EqualsNoCase(collation, "BINARY")) {
        return SetError(AE_KDX_BAD_INDEX, "Table " + display_name_ + ", index " + index.name + ": collation " +
                                              collation + " is not supported (only BINARY)");
      }
      index.segments.push_back(cid);
      index.segment_descending.push_back(sqlite3_column_int(xinfo.get(), 3) != 0);
    }
    if (index.segments.empty()) {
      return SetError(AE_KDX_BAD_INDEX, "Table " + display_name_ + ", index " + index.name + " has no columns");
    }
    index.descending = index.segment_descending[0];
    indexes_.push_back(std::move(index));
  }

  BuildOrders();
  state_ = State::kBof;
  at_bof_flag_ = at_eof_flag_ = false;
  return 0;
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

UNSIGNED32 EngineTable::Register(std::unique_ptr<EngineTable> table, UNSIGNED16 type, ADSHANDLE* handle) {
  EngineTable* raw = table.get();
  raw->handle_type_ = type;
  ADSHANDLE h = HandleRegistry::Get().Register(type, std::move(table));
  if (h == 0) return SetError(AE_KDX_INVALID_ARGUMENT, "No handle left for table " + raw->display_name_);
  raw->handle_ = h;
  for (size_t i = 0; i < raw->indexes_.size(); ++i) {
    raw->indexes_[i].handle =
        HandleRegistry::Get().Register(ADS_INDEX_ORDER, std::make_unique<IndexOrder>(raw, static_cast<int>(i)));
  }
  if (raw->connection_ != nullptr) raw->connection_->AddChild(h);
  *handle = h;
  return 0;
}

void EngineTable::set_rows_hidden(bool hidden) {
  rows_hidden_ = hidden;
  if (batch_ != nullptr) batch_->Clear();
  ForgetKeptBatches();
  state_ = State::kEof;
  at_bof_flag_ = at_eof_flag_ = true;
}

UNSIGNED32 EngineTable::ReplaceDatabase(sqlite3* db, bool owns_db) {
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
    return SqliteError(AE_KDX_TABLE_LAYOUT, "Table " + display_name_ + ": the new image does not hold the table", db_);
  }
  return 0;
}

int EngineTable::FindColumn(const std::string& name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (EqualsNoCase(columns_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

UNSIGNED32 EngineTable::ColumnByNumber(UNSIGNED16 number, const ColumnInfo** column) const {
  if (number < 1 || number > columns_.size()) {
    return SetError(AE_COLUMN_NOT_FOUND, "Table " + display_name_ + ": column \"" + std::to_string(number) +
                                             "\" does not exist (the table has " + std::to_string(columns_.size()) +
                                             " columns)");
  }
  *column = &columns_[number - 1];
  return 0;
}

UNSIGNED32 EngineTable::ColumnByName(const std::string& name, int* column) const {
  *column = FindColumn(name);
  if (*column < 0) {
    return SetError(AE_COLUMN_NOT_FOUND, "Table " + display_name_ + ": column \"" + name + "\" not found");
  }
  return 0;
}

// ---- record encoding ------------------------------------------------------------

UNSIGNED32 EngineTable::ValueError(int column, const std::string& what) {
  return SetError(AE_KDX_BAD_STORED_VALUE, "Table " + display_name_ + ", column " + columns_[column].name +
                                               ", row " + std::to_string(current_rowid_) + ": " + what);
}

void EngineTable::EmptyRecord(uint8_t* buffer) const {
  for (const ColumnInfo& column : columns_) {
    record_format::PutEmpty(column.type.type, column.type.width, buffer + column.offset);
  }
}

namespace {

std::string Shown(int type, int64_t integer, double real, const char* bytes, size_t size) {
  if (type == SQLITE_BLOB) return "a binary value of " + std::to_string(size) + " bytes";
  std::string text = CellText(type, integer, real, bytes, size);
  if (type != SQLITE_TEXT) return text;
  if (text.size() > 40) text = text.substr(0, 40) + "...";
  return "'" + text + "'";
}

// Formats a number with `decimals` digits after the point; no exponent.
std::string FormatFixed(int type, int64_t integer, double real, UNSIGNED16 decimals) {
  char buffer[400];
  if (type == SQLITE_INTEGER) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(integer));
    std::string text = buffer;
    if (decimals > 0) text += "." + std::string(decimals, '0');
    return text;
  }
  std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(decimals), real);
  std::string text = buffer;
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

// An integral value within [low, high]; false otherwise.
bool IntegralIn(int type, int64_t integer, double real, int64_t low, int64_t high, int64_t* out) {
  if (type == SQLITE_INTEGER) {
    if (integer < low || integer > high) return false;
    *out = integer;
    return true;
  }
  if (type == SQLITE_FLOAT) {
    if (!(real >= static_cast<double>(low) && real <= static_cast<double>(high)) || std::floor(real) != real) {
      return false;
    }
    *out = static_cast<int64_t>(real);
    return true;
  }
  return false;
}

}  // namespace

UNSIGNED32 EngineTable::EncodeColumn(int c, const Cell& v, uint8_t* out) {
  const ColumnInfo& column = columns_[static_cast<size_t>(c)];
  const ColumnType& type = column.type;
  auto shown = [&]() { return Shown(v.type, v.integer, v.real, v.bytes, v.size); };
  bool number = v.type == SQLITE_INTEGER || v.type == SQLITE_FLOAT;
  double as_double = v.type == SQLITE_INTEGER ? static_cast<double>(v.integer) : v.real;
  if (v.type == SQLITE_NULL) {
    record_format::PutEmpty(type.type, type.width, out);
    return 0;
  }
  switch (type.type) {
    case ADS_LOGICAL: {
      int64_t x;
      if (!IntegralIn(v.type, v.integer, v.real, 0, 1, &x)) {
        return ValueError(c, shown() + " is not a logical value (0 or 1)");
      }
      out[0] = x != 0 ? 'T' : 'F';
      return 0;
    }
    case ADS_NUMERIC: {
      if (!number) return ValueError(c, shown() + " is not a number");
      if (!std::isfinite(as_double)) return ValueError(c, shown() + " is not a finite number");
      std::string text = FormatFixed(v.type, v.integer, v.real, type.decimals);
      if (text.size() > type.width) {
        return ValueError(c, shown() + " does not fit NUMERIC(" + std::to_string(type.width) + "," +
                                 std::to_string(type.decimals) + ")");
      }
      std::memset(out, ' ', type.width - text.size());
      std::memcpy(out + (type.width - text.size()), text.data(), text.size());
      return 0;
    }
    case ADS_DATE: {
      int64_t julian;
      if (v.type != SQLITE_TEXT || !ParseIsoDate(std::string(v.bytes, v.size), &julian)) {
        return ValueError(c, shown() + " is not a valid date (YYYY-MM-DD)");
      }
      Put32(out, static_cast<uint32_t>(julian));
      return 0;
    }
    case ADS_STRING: {
      if (v.type == SQLITE_BLOB) return ValueError(c, shown() + " is not text");
      std::string converted;
      const char* text = v.bytes;
      size_t n = v.size;
      if (number) {
        converted = CellText(v.type, v.integer, v.real, v.bytes, v.size);
        text = converted.data();
        n = converted.size();
      }
      if (n == 0) {
        std::memset(out, 0, type.width);
        return 0;
      }
      if (n > type.width) n = type.width;
      std::memcpy(out, text, n);
      std::memset(out + n, ' ', type.width - n);
      return 0;
    }
    case ADS_MEMO:
    case ADS_VARCHAR:
    case ADS_BINARY:
    case ADS_IMAGE: {
      if ((type.type == ADS_MEMO || type.type == ADS_VARCHAR) && v.type == SQLITE_BLOB) {
        return ValueError(c, shown() + " is not text");
      }
      uint64_t n = number ? CellText(v.type, v.integer, v.real, v.bytes, v.size).size() : v.size;
      if (n == 0) {
        std::memset(out, 0, type.width);
        return 0;
      }
      // Block reference: length + 1 (saturated) and the 1-based column number.
      Put32(out, n >= 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(n + 1));
      Put32(out + 4, static_cast<uint32_t>(c + 1));
      return 0;
    }
    case ADS_DOUBLE:
    case ADS_CURDOUBLE: {
      if (!number) return ValueError(c, shown() + " is not a number");
      PutDouble(out, as_double);
      return 0;
    }
    case ADS_INTEGER: {
      int64_t x;
      if (!IntegralIn(v.type, v.integer, v.real, -2147483647LL, 2147483647LL, &x)) {
        return ValueError(c, shown() + " is not an integer from -2147483647 to 2147483647");
      }
      Put32(out, static_cast<uint32_t>(static_cast<int32_t>(x)));
      return 0;
    }
    case ADS_SHORTINT: {
      int64_t x;
      if (!IntegralIn(v.type, v.integer, v.real, -32767, 32767, &x)) {
        return ValueError(c, shown() + " is not a short integer from -32767 to 32767");
      }
      Put16(out, static_cast<uint16_t>(static_cast<int16_t>(x)));
      return 0;
    }
    case ADS_AUTOINC: {
      int64_t x;
      if (!IntegralIn(v.type, v.integer, v.real, 0, 0xFFFFFFFELL, &x)) {
        return ValueError(c, shown() + " is not an autoincrement value from 0 to 4294967294");
      }
      Put32(out, static_cast<uint32_t>(x));
      return 0;
    }
    case ADS_TIME: {
      uint32_t ms;
      if (v.type != SQLITE_TEXT || !ParseIsoTime(std::string(v.bytes, v.size), &ms)) {
        return ValueError(c, shown() + " is not a valid time (HH:MM:SS or HH:MM:SS.sss)");
      }
      Put32(out, ms);
      return 0;
    }
    case ADS_TIMESTAMP: {
      int64_t julian;
      uint32_t ms;
      if (v.type != SQLITE_TEXT || !ParseIsoTimestamp(std::string(v.bytes, v.size), &julian, &ms)) {
        return ValueError(c, shown() + " is not a valid timestamp (YYYY-MM-DD HH:MM:SS[.sss])");
      }
      Put32(out, static_cast<uint32_t>(julian));
      Put32(out + 4, ms);
      return 0;
    }
    case ADS_RAW: {
      std::string converted = number ? CellText(v.type, v.integer, v.real, v.bytes, v.size) : std::string();
      const char* bytes = number ? converted.data() : v.bytes;
      size_t n = number ? converted.size() : v.size;
      if (n > type.width) {
        return ValueError(c, shown() + " is longer than RAW(" + std::to_string(type.width) + ")");
      }
      if (n > 0) std::memcpy(out, bytes, n);
      std::memset(out + n, 0, type.width - n);
      return 0;
    }
    default:
      return ValueError(c, "column type " + std::to_string(type.type) + " cannot be encoded");
  }
}

bool EngineTable::HasRow() const {
  return state_ == State::kOnRow && batch_ != nullptr && batch_->pos < batch_->count;
}

EngineTable::Cell EngineTable::CurrentCell(int column) const {
  const Batch::Stored& stored = batch_->cells[batch_->pos * batch_->columns + static_cast<size_t>(column)];
  Cell cell;
  cell.type = stored.type;
  cell.integer = stored.integer;
  cell.real = stored.real;
  cell.bytes = batch_->arena.data() + stored.offset;
  cell.size = stored.size;
  return cell;
}

UNSIGNED32 EngineTable::GetRecord(uint8_t* buffer) {
  if (!HasRow()) {
    EmptyRecord(buffer);
    return 0;
  }
  Batch& batch = *batch_;
  const size_t length = record_length_;
  const size_t pos = batch.pos;
  if (pos < batch.encoded.size() && batch.encoded[pos] != 0) {
    std::memcpy(buffer, batch.records.data() + pos * length, length);
    return 0;
  }
  for (size_t c = 0; c < columns_.size(); ++c) {
    int ci = static_cast<int>(c);
    if (UNSIGNED32 rc = EncodeColumn(ci, CurrentCell(ci), buffer + columns_[c].offset)) return rc;
  }
  // A table of fixed rows serves its buffered rows again and again (the
  // top of a template walked once per employee, the same key sought for
  // several columns): each row is encoded once.
  if (rows_fixed_ && (pos + 1) * length <= kMaxEncodedBytes) {
    if (batch.records.size() < (pos + 1) * length) batch.records.resize((pos + 1) * length);
    if (batch.encoded.size() <= pos) batch.encoded.resize(pos + 1, 0);
    std::memcpy(batch.records.data() + pos * length, buffer, length);
    batch.encoded[pos] = 1;
  }
  return 0;
}

UNSIGNED32 EngineTable::IsFieldEmpty(int column, bool* empty) {
  if (!HasRow()) {
    *empty = true;
    return 0;
  }
  Cell cell = CurrentCell(column);
  if (cell.type == SQLITE_NULL) {
    *empty = true;
  } else if (cell.type == SQLITE_TEXT || cell.type == SQLITE_BLOB) {
    if (columns_[static_cast<size_t>(column)].type.type == ADS_STRING) {
      *empty = std::string(cell.bytes, cell.size).find_first_not_of(' ') == std::string::npos;
    } else {
      *empty = cell.size == 0;
    }
  } else {
    *empty = false;
  }
  return 0;
}

UNSIGNED32 EngineTable::GetFieldText(int column, std::string* text) {
  text->clear();
  if (!HasRow()) return 0;
  Cell cell = CurrentCell(column);
  if (cell.type == SQLITE_NULL) return 0;
  const ColumnInfo& info = columns_[static_cast<size_t>(column)];
  std::vector<uint8_t>& raw = scratch_;
  raw.assign(info.type.width, 0);
  if (UNSIGNED32 rc = EncodeColumn(column, cell, raw.data())) return rc;
  if (IsBlockType(info.type.type) || info.type.type == ADS_RAW) {
    *text = CellText(cell.type, cell.integer, cell.real, cell.bytes, cell.size);
    return 0;
  }
  char buffer[64];
  switch (info.type.type) {
    case ADS_LOGICAL: *text = std::string(1, static_cast<char>(raw[0])); break;
    case ADS_NUMERIC: {
      std::string s(raw.begin(), raw.end());
      *text = s.substr(s.find_first_not_of(' '));
      break;
    }
    case ADS_DATE: *text = FormatDateWithFormat(Get32(raw.data()), Settings().date_format); break;
    case ADS_STRING: {
      std::string s(raw.begin(), raw.end());
      size_t end = s.find_last_not_of(std::string(" \0", 2));
      *text = end == std::string::npos ? "" : s.substr(0, end + 1);
      break;
    }
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
      std::snprintf(buffer, sizeof buffer, "%.15g", GetDouble(raw.data()));
      *text = buffer;
      break;
    case ADS_INTEGER: *text = std::to_string(static_cast<int32_t>(Get32(raw.data()))); break;
    case ADS_SHORTINT: *text = std::to_string(static_cast<int16_t>(raw[0] | (raw[1] << 8))); break;
    case ADS_AUTOINC: *text = std::to_string(Get32(raw.data())); break;
    case ADS_TIME: *text = FormatIsoTime(Get32(raw.data())); break;
    case ADS_TIMESTAMP:
      *text = FormatDateWithFormat(Get32(raw.data()), Settings().date_format) + " " +
              FormatIsoTime(Get32(raw.data() + 4));
      break;
    default: break;
  }
  return 0;
}

// ---- navigation ---------------------------------------------------------------------

EngineTable::Order& EngineTable::OrderFor(int order) { return *orders_[static_cast<size_t>(order + 1)]; }

void EngineTable::ResetStatements() {
  for (auto& order : orders_) order->Clear();
}

UNSIGNED32 EngineTable::CurrentKey(int order, std::vector<SqlValue>* key) {
  key->clear();
  for (int column : OrderFor(order).segments) {
    Cell cell = CurrentCell(column);
    switch (cell.type) {
      case SQLITE_INTEGER: key->push_back(SqlValue::Integer(cell.integer)); break;
      case SQLITE_FLOAT: key->push_back(SqlValue::Real(cell.real)); break;
      case SQLITE_TEXT: key->push_back(SqlValue::Text(std::string(cell.bytes, cell.size))); break;
      case SQLITE_BLOB: key->push_back(SqlValue::Blob(std::string(cell.bytes, cell.size))); break;
      default: key->push_back(SqlValue::Null()); break;
    }
  }
  return 0;
}

bool EngineTable::RowHasKey(size_t row, int order, const KeyRun& run) const {
  const Batch& batch = *batch_;
  const Order& o = *orders_[static_cast<size_t>(order + 1)];
  const std::vector<SqlValue>& values = *run.values;
  for (size_t i = 0; i < values.size(); ++i) {
    const Batch::Stored& cell = batch.cells[row * batch.columns + static_cast<size_t>(o.segments[i])];
    const SqlValue& value = values[i];
    switch (value.type) {
      case SQLITE_NULL:
        if (cell.type != SQLITE_NULL) return false;
        break;
      case SQLITE_INTEGER:
      case SQLITE_FLOAT: {
        if (cell.type != SQLITE_INTEGER && cell.type != SQLITE_FLOAT) return false;
        if (cell.type == SQLITE_INTEGER && value.type == SQLITE_INTEGER) {
          if (cell.integer != value.integer) return false;
          break;
        }
        double a = cell.type == SQLITE_INTEGER ? static_cast<double>(cell.integer) : cell.real;
        double b = value.type == SQLITE_INTEGER ? static_cast<double>(value.integer) : value.real;
        if (a != b) return false;
        break;
      }
      default: {
        if (cell.type != value.type) return false;
        const char* bytes = batch.arena.data() + cell.offset;
        size_t size = cell.size;
        const std::string& want = value.bytes;
        if (run.last_is_prefix && i + 1 == values.size()) {
          if (size < want.size() || std::memcmp(bytes, want.data(), want.size()) != 0) return false;
          break;
        }
        // Character values compare blank-padded.
        if (cell.type == SQLITE_TEXT) {
          while (size > want.size() && bytes[size - 1] == ' ') --size;
        }
        if (size != want.size() || (size > 0 && std::memcmp(bytes, want.data(), size) != 0)) return false;
        break;
      }
    }
  }
  return true;
}

UNSIGNED32 EngineTable::Scan(int order, bool forward, size_t key_segments, bool strict,
                             const std::vector<SqlValue>* key, int64_t rowid, bool with_rowid, size_t limit,
                             const KeyRun* run, bool append) {
  Order& o = OrderFor(order);
  const std::string& rowid_name = rowid_name_;
  // Cache key: direction, strictness, segment count, rowid use, NULL mask.
  std::string cache_key;
  cache_key += forward ? 'f' : 'b';
  cache_key += strict ? 's' : 'n';
  cache_key += with_rowid ? 'r' : '-';
  cache_key += key == nullptr ? std::string("top") : std::to_string(key_segments);
  if (key != nullptr) {
    for (size_t i = 0; i < key_segments; ++i) cache_key += (*key)[i].type == SQLITE_NULL ? '0' : '1';
  }
  sqlite3_stmt* stmt = nullptr;
  auto cached = o.cache.find(cache_key);
  int filter_params = filter_ != nullptr ? static_cast<int>(filter_->parameters().size()) : 0;
  if (cached != o.cache.end()) {
    stmt = cached->second;
  } else {
    std::string where;
    if (filter_ != nullptr) where = "(" + filter_->where() + ")";
    if (key != nullptr) {
      std::string condition;
      bool all_ascending = true;
      bool any_null = false;
      for (size_t i = 0; i < key_segments; ++i) {
        if (o.descending[i]) all_ascending = false;
        if ((*key)[i].type == SQLITE_NULL) any_null = true;
      }
      int rowid_param = filter_params + static_cast<int>(key_segments) + 1;
      if (forward && all_ascending && !any_null) {
        // Row-value form: SQLite searches the index directly. A row whose
        // compared segment is NULL sorts first and is rightly left out.
        std::string lhs, rhs;
        for (size_t i = 0; i < key_segments; ++i) {
          lhs += (i ? ", " : "") + QuoteIdentifier(columns_[static_cast<size_t>(o.segments[i])].name);
          rhs += (i ? ", ?" : "?") + std::to_string(filter_params + static_cast<int>(i) + 1);
        }
        if (with_rowid) {
          lhs += (key_segments ? ", " : "") + rowid_name;
          rhs += (key_segments ? ", ?" : "?") + std::to_string(rowid_param);
        }
        condition = "(" + lhs + ") " + (strict ? ">" : ">=") + " (" + rhs + ")";
      } else {
        // Lexicographic expansion that places NULL where SQLite sorts it.
        std::string tail;
        if (with_rowid) {
          tail = rowid_name + (forward ? (strict ? " > ?" : " >= ?") : (strict ? " < ?" : " <= ?")) +
                 std::to_string(rowid_param);
        } else {
          tail = strict ? "0" : "1";
        }
        for (size_t n = key_segments; n-- > 0;) {
          std::string s = QuoteIdentifier(columns_[static_cast<size_t>(o.segments[n])].name);
          std::string p = "?" + std::to_string(filter_params + static_cast<int>(n) + 1);
          bool ascending = forward ? !o.descending[n] : o.descending[n];  // direction of travel
          if ((*key)[n].type != SQLITE_NULL) {
            tail = ascending ? "(" + s + " > " + p + " OR (" + s + " = " + p + " AND " + tail + "))"
                             : "(" + s + " < " + p + " OR " + s + " IS NULL OR (" + s + " = " + p + " AND " + tail + "))";
          } else {
            tail = ascending ? "(" + s + " IS NOT NULL OR (" + s + " IS NULL AND " + tail + "))"
                             : "(" + s + " IS NULL AND " + tail + ")";
          }
        }
        condition = tail;
      }
      where += (where.empty() ? "" : " AND ") + condition;
    }
    std::string order_by;
    for (size_t i = 0; i < o.segments.size(); ++i) {
      bool desc = o.descending[i] == forward;  // reversed when walking backwards
      order_by += QuoteIdentifier(columns_[static_cast<size_t>(o.segments[i])].name) + (desc ? " DESC, " : ", ");
    }
    order_by += rowid_name + (forward ? "" : " DESC");
    std::string sql = "SELECT " + select_list_ + " FROM " + qualified_ + (where.empty() ? "" : " WHERE " + where) +
                      " ORDER BY " + order_by;
    if (UNSIGNED32 rc = Prepare(sql, &stmt)) return rc;
    o.cache.emplace(cache_key, stmt);
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  if (filter_ != nullptr) {
    for (int i = 0; i < filter_params; ++i) BindValue(stmt, i + 1, filter_->parameters()[static_cast<size_t>(i)]);
  }
  if (key != nullptr) {
    // The key outlives every step below; SQLite need not copy it.
    for (size_t i = 0; i < key_segments; ++i) {
      const SqlValue& value = (*key)[i];
      const int index = filter_params + static_cast<int>(i) + 1;
      switch (value.type) {
        case SQLITE_TEXT:
          sqlite3_bind_text(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_STATIC);
          break;
        case SQLITE_BLOB:
          sqlite3_bind_blob(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_STATIC);
          break;
        case SQLITE_NULL: break;  // written into the statement as IS NULL
        default: BindValue(stmt, index, value); break;
      }
    }
    if (with_rowid) sqlite3_bind_int64(stmt, filter_params + static_cast<int>(key_segments) + 1, rowid);
  }
  // Copy up to `limit` rows out of SQLite, then reset the statement.
  if (batch_ == nullptr) batch_ = std::make_unique<Batch>();
  if (!append) {
    if (batch_->anchor != Anchor::kNone) SetBatchAside();
  }
  Batch& batch = *batch_;
  if (!append) {
    batch.columns = columns_.size();
    batch.count = 0;
    batch.pos = 0;
    batch.arena.clear();
    batch.rowids.clear();
    batch.encoded.clear();
    batch.forward = forward;
    batch.order = order;
    batch.anchor = Anchor::kNone;
  }
  batch.rowids.resize(batch.count);
  batch.exhausted = false;
  int rc = SQLITE_ROW;
  const int ncolumns = static_cast<int>(columns_.size());
  const size_t end = batch.count + limit;
  while (batch.count < end) {
    rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) break;
    batch.rowids.push_back(sqlite3_column_int64(stmt, 0));
    size_t base = batch.count * batch.columns;
    if (batch.cells.size() < base + batch.columns) batch.cells.resize(base + batch.columns);
    // One column look-up per cell; the value is read while the statement
    // stands on the row (the connection is only ever used under the
    // engine's mutex).
    for (int i = 0; i < ncolumns; ++i) {
      Batch::Stored& cell = batch.cells[base + static_cast<size_t>(i)];
      sqlite3_value* value = sqlite3_column_value(stmt, i + 1);
      cell.type = sqlite3_value_type(value);
      cell.size = 0;
      cell.offset = batch.arena.size();
      switch (cell.type) {
        case SQLITE_INTEGER: cell.integer = sqlite3_value_int64(value); break;
        case SQLITE_FLOAT: cell.real = sqlite3_value_double(value); break;
        case SQLITE_TEXT: {
          const unsigned char* text = sqlite3_value_text(value);
          cell.size = static_cast<size_t>(sqlite3_value_bytes(value));
          if (text == nullptr) {  // out of memory converting the text
            rc = SQLITE_NOMEM;
            break;
          }
          batch.arena.append(reinterpret_cast<const char*>(text), cell.size);
          break;
        }
        case SQLITE_BLOB: {
          const void* blob = sqlite3_value_blob(value);
          cell.size = static_cast<size_t>(sqlite3_value_bytes(value));
          if (cell.size > 0) batch.arena.append(static_cast<const char*>(blob), cell.size);
          break;
        }
        default: break;
      }
    }
    if (rc != SQLITE_ROW) break;
    ++batch.count;
    if (run != nullptr && !RowHasKey(batch.count - 1, order, *run)) break;
  }
  if (rc == SQLITE_DONE) batch.exhausted = true;
  sqlite3_reset(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    batch.Clear();
    state_ = State::kEof;
    at_eof_flag_ = true;
    if (rc == SQLITE_NOMEM) return SetError(AE_KDX_SQLITE, "Table " + display_name_ + ": out of memory reading records");
    return SqliteError(AE_KDX_SQLITE, "Table " + display_name_ + ": reading records", db_);
  }
  return 0;
}

void EngineTable::SetBatchAside() {
  std::unique_ptr<Batch> reused;
  if (kept_.size() >= kKeptBatches) {
    reused = std::move(kept_.front());
    kept_.erase(kept_.begin());
  }
  kept_.push_back(std::move(batch_));
  batch_ = reused != nullptr ? std::move(reused) : std::make_unique<Batch>();
}

void EngineTable::ForgetKeptBatches() { kept_.clear(); }

bool EngineTable::BatchFromMemory(int order, int64_t rowid) {
  if (!rows_fixed_ || batch_ == nullptr) return false;
  const Batch* source = nullptr;
  size_t row = 0;
  auto find = [&](const Batch& batch) {
    for (size_t r = 0; r < batch.count; ++r) {
      if (batch.rowids[r] != rowid) continue;
      source = &batch;
      row = r;
      return true;
    }
    return false;
  };
  if (!find(*batch_)) {
    for (const std::unique_ptr<Batch>& kept : kept_) {
      if (find(*kept)) break;
    }
  }
  if (source == nullptr) return false;
  if (spare_ == nullptr) spare_ = std::make_unique<Batch>();
  Batch& copy = *spare_;
  copy.Clear();
  copy.columns = source->columns;
  copy.arena.clear();
  copy.rowids.assign(1, rowid);
  copy.cells.resize(copy.columns);
  for (size_t c = 0; c < copy.columns; ++c) {
    Batch::Stored cell = source->cells[row * source->columns + c];
    const size_t offset = copy.arena.size();
    copy.arena.append(source->arena, cell.offset, cell.size);
    cell.offset = offset;
    copy.cells[c] = cell;
  }
  copy.count = 1;
  copy.exhausted = false;
  copy.forward = true;
  copy.order = order;
  copy.next_limit = 8;
  if (batch_->anchor != Anchor::kNone) SetBatchAside();
  std::swap(batch_, spare_);
  return true;
}

bool EngineTable::Anchored(int order, Anchor anchor, const uint8_t* key, size_t length) {
  if (!rows_fixed_ || batch_ == nullptr) return false;
  auto matches = [&](const Batch& batch) {
    if (batch.anchor != anchor || batch.order != order || !batch.forward) return false;
    if (batch.anchor != Anchor::kSeek) return true;
    return batch.anchor_key.size() == length && std::memcmp(batch.anchor_key.data(), key, length) == 0;
  };
  if (matches(*batch_)) return true;
  for (size_t i = 0; i < kept_.size(); ++i) {
    if (!matches(*kept_[i])) continue;
    std::swap(batch_, kept_[i]);  // the batch it replaces is kept aside in its place, if anchored
    if (kept_[i]->anchor == Anchor::kNone) {
      kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return true;
  }
  return false;
}

void EngineTable::LandOnBatch(bool forward) {
  if (batch_->count > 0) {
    state_ = State::kOnRow;
    current_rowid_ = batch_->rowids[0];
    at_bof_flag_ = at_eof_flag_ = false;
  } else if (forward) {
    state_ = State::kEof;
    at_eof_flag_ = true;
    at_bof_flag_ = false;
  } else {
    state_ = State::kBof;
    at_bof_flag_ = true;
    at_eof_flag_ = false;
  }
}

UNSIGNED32 EngineTable::GotoTop(int order) {
  current_order_ = order;
  if (Anchored(order, Anchor::kTop, nullptr, 0)) {
    batch_->pos = 0;
  } else {
    if (UNSIGNED32 rc = Scan(order, true, 0, false, nullptr, 0, false, 1)) return rc;
    batch_->next_limit = 8;
    if (rows_fixed_) batch_->anchor = Anchor::kTop;
  }
  LandOnBatch(true);
  if (state_ != State::kOnRow) at_bof_flag_ = true;  // an empty table is at both ends
  return 0;
}

UNSIGNED32 EngineTable::GotoBottom(int order) {
  current_order_ = order;
  if (UNSIGNED32 rc = Scan(order, false, 0, false, nullptr, 0, false, 1)) return rc;
  batch_->next_limit = 8;
  LandOnBatch(false);
  if (state_ != State::kOnRow) {
    state_ = State::kEof;
    at_bof_flag_ = at_eof_flag_ = true;
  }
  return 0;
}

UNSIGNED32 EngineTable::StepTo(bool forward) {
  if (state_ == State::kBof) {
    if (!forward) return 0;
    return GotoTop(current_order_);
  }
  if (state_ == State::kEof || !HasRow()) {
    if (forward) {
      state_ = State::kEof;
      at_eof_flag_ = true;
      return 0;
    }
    return GotoBottom(current_order_);
  }
  Batch& batch = *batch_;
  if (batch.forward == forward && batch.order == current_order_) {
    if (batch.pos + 1 < batch.count) {
      ++batch.pos;
      current_rowid_ = batch.rowids[batch.pos];
      return 0;
    }
    if (batch.exhausted) {
      LandBeyond(forward);
      return 0;
    }
  }
  // Read on from the current row: its key in the wanted order, then rowid.
  std::vector<SqlValue>& key = walk_key_;
  CurrentKey(current_order_, &key);
  int64_t rowid = current_rowid_;
  bool same_walk = batch.forward == forward && batch.order == current_order_;
  size_t limit = same_walk ? batch.next_limit : 1;
  // An anchored batch standing on its last row grows instead of being
  // replaced, while it stays within kMaxBatchRows.
  bool append = same_walk && batch.anchor != Anchor::kNone && batch.pos + 1 == batch.count &&
                batch.count + limit <= kMaxBatchRows;
  if (UNSIGNED32 rc = Scan(current_order_, forward, key.size(), true, &key, rowid, true, limit, nullptr, append)) {
    return rc;
  }
  batch_->next_limit = std::min(kMaxBatchRows, limit < 8 ? 8 : limit * 4);
  if (!append) {
    LandOnBatch(forward);
  } else if (batch.pos + 1 < batch.count) {
    ++batch.pos;
    current_rowid_ = batch.rowids[batch.pos];
  } else {
    LandBeyond(forward);
  }
  return 0;
}

void EngineTable::LandBeyond(bool forward) {
  // An anchored batch stays for the next return to its anchor.
  if (batch_->anchor == Anchor::kNone) batch_->count = 0;
  if (forward) {
    state_ = State::kEof;
    at_eof_flag_ = true;
    at_bof_flag_ = false;
  } else {
    state_ = State::kBof;
    at_bof_flag_ = true;
    at_eof_flag_ = false;
  }
}

UNSIGNED32 EngineTable::Skip(int order, SIGNED32 count) {
  current_order_ = order;
  if (count == 0) return 0;
  bool forward = count > 0;
  int64_t steps = count > 0 ? count : -static_cast<int64_t>(count);
  for (int64_t i = 0; i < steps; ++i) {
    if (UNSIGNED32 rc = StepTo(forward)) return rc;
    if (state_ != State::kOnRow) break;
  }
  return 0;
}

UNSIGNED32 EngineTable::RecordNumberFor(int64_t rowid, UNSIGNED32* record) {
  if (rowid >= 1 && rowid <= 0x7FFFFFFF) {
    *record = static_cast<UNSIGNED32>(rowid);
    return 0;
  }
  auto it = big_rowid_numbers_.find(rowid);
  if (it == big_rowid_numbers_.end()) {
    if (big_rowids_.size() >= 0x7FFFFFFF) {
      return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + display_name_ + ": no record number left");
    }
    UNSIGNED32 number = 0x80000000u + static_cast<UNSIGNED32>(big_rowids_.size());
    big_rowids_.push_back(rowid);
    it = big_rowid_numbers_.emplace(rowid, number).first;
  }
  *record = it->second;
  return 0;
}

UNSIGNED32 EngineTable::CurrentRecordNumber(UNSIGNED32* record) {
  if (state_ != State::kOnRow) {
    *record = 0;
    return 0;
  }
  return RecordNumberFor(current_rowid_, record);
}

UNSIGNED32 EngineTable::GotoRecord(int order, UNSIGNED32 record) {
  int64_t rowid;
  if (record >= 1 && record <= 0x7FFFFFFF) {
    rowid = record;
  } else if (record >= 0x80000000u && record - 0x80000000u < big_rowids_.size()) {
    rowid = big_rowids_[record - 0x80000000u];
  } else {
    return SetError(AE_INVALID_RECORD_NUMBER,
                    "Table " + display_name_ + ": record " + std::to_string(record) + " does not exist");
  }
  current_order_ = order;
  if (BatchFromMemory(order, rowid)) {
    LandOnBatch(true);
    return 0;
  }
  Order& o = OrderFor(order);
  auto gone = [&]() {
    return SetError(AE_INVALID_RECORD_NUMBER,
                    "Table " + display_name_ + ": record " + std::to_string(record) + " no longer exists");
  };
  // The record's key in the order (none in the natural order: its rowid is
  // the key), read by a statement prepared once per order.
  std::vector<SqlValue>& key = walk_key_;
  key.clear();
  if (!o.segments.empty()) {
    if (o.key_of_row == nullptr) {
      std::string columns;
      for (size_t i = 0; i < o.segments.size(); ++i) {
        columns += (i ? ", " : "") + QuoteIdentifier(columns_[static_cast<size_t>(o.segments[i])].name);
      }
      std::string sql = "SELECT " + columns + " FROM " + qualified_ + " WHERE " + rowid_name_ + " = ?1";
      if (UNSIGNED32 rc = Prepare(sql, &o.key_of_row)) return rc;
    }
    sqlite3_stmt* lookup = o.key_of_row;
    sqlite3_bind_int64(lookup, 1, rowid);
    int rc = sqlite3_step(lookup);
    if (rc == SQLITE_ROW) {
      for (size_t i = 0; i < o.segments.size(); ++i) {
        key.push_back(SqlValue::From(sqlite3_column_value(lookup, static_cast<int>(i))));
      }
    }
    sqlite3_reset(lookup);  // no read lock outlives the call
    if (rc == SQLITE_DONE) return gone();
    if (rc != SQLITE_ROW) return SqliteError(AE_KDX_SQLITE, "Table " + display_name_ + ": finding a record", db_);
  }
  if (UNSIGNED32 rc = Scan(order, true, key.size(), false, &key, rowid, true, 1)) return rc;
  batch_->next_limit = 8;
  if (batch_->count == 0 || batch_->rowids[0] != rowid) {
    LandBeyond(true);
    // In the natural order the scan alone cannot tell a deleted record from
    // one the filter hides.
    if (o.segments.empty() && (filter_ == nullptr || !RowExists(rowid))) return gone();
    return SetError(AE_INVALID_RECORD_NUMBER, "Table " + display_name_ + ": record " + std::to_string(record) +
                                                  " is not visible through the filter");
  }
  LandOnBatch(true);
  return 0;
}

bool EngineTable::RowExists(int64_t rowid) {
  Statement lookup;
  std::string sql = "SELECT 1 FROM " + qualified_ + " WHERE " + rowid_name_ + " = ?1";
  if (Prepare(sql, lookup.out())) return false;
  sqlite3_bind_int64(lookup.get(), 1, rowid);
  return sqlite3_step(lookup.get()) == SQLITE_ROW;
}

UNSIGNED32 EngineTable::RecordCount(bool respect_filter, UNSIGNED32* count) {
  bool filtered = respect_filter && filter_ != nullptr;
  if (!filtered && rows_fixed_ && known_row_count_ >= 0) {
    *count = known_row_count_ > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<UNSIGNED32>(known_row_count_);
    return 0;
  }
  Statement stmt;
  std::string sql = "SELECT count(*) FROM " + qualified_;
  if (filtered) sql += " WHERE " + filter_->where();
  if (UNSIGNED32 rc = Prepare(sql, stmt.out())) return rc;
  if (filtered) {
    for (size_t i = 0; i < filter_->parameters().size(); ++i) {
      BindValue(stmt.get(), static_cast<int>(i) + 1, filter_->parameters()[i]);
    }
  }
  if (sqlite3_step(stmt.get()) != SQLITE_ROW) {
    return SqliteError(AE_KDX_SQLITE, "Table " + display_name_ + ": counting records", db_);
  }
  int64_t n = sqlite3_column_int64(stmt.get(), 0);
  *count = n > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<UNSIGNED32>(n);
  return 0;
}

// ---- keys and seeks -----------------------------------------------------------------

UNSIGNED32 EngineTable::InitKey(int order) {
  if (order < 0) return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a key needs an index handle");
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  keys_[order].assign(index.segments.size(), std::string());
  keys_set_[order].assign(index.segments.size(), false);
  return 0;
}

UNSIGNED32 EngineTable::SetKeyField(int order, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  if (order < 0) return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a key needs an index handle");
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  if (keys_[order].size() != index.segments.size()) InitKey(order);
  int column;
  if (UNSIGNED32 rc = ColumnByName(field, &column)) return rc;
  for (size_t i = 0; i < index.segments.size(); ++i) {
    if (index.segments[i] != column) continue;
    const ColumnInfo& info = columns_[static_cast<size_t>(column)];
    if (bytes == nullptr && length > 0) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsSetField: no bytes given");
    bool short_ok = info.type.type == ADS_STRING;
    if (length > info.type.width || (!short_ok && length != info.type.width)) {
      return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": column \"" + info.name +
                                          "\" takes " + std::to_string(info.type.width) + " key bytes, not " +
                                          std::to_string(length));
    }
    keys_[order][i].assign(reinterpret_cast<const char*>(bytes), length);
    keys_set_[order][i] = true;
    return 0;
  }
  return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ": column \"" + columns_[static_cast<size_t>(column)].name +
                                      "\" is not a segment of index " + index.name);
}

UNSIGNED32 EngineTable::BuildKey(int order, uint8_t* key, UNSIGNED16* length) {
  if (order < 0) return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a key needs an index handle");
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  if (keys_[order].size() != index.segments.size()) InitKey(order);
  std::string built;
  for (size_t i = 0; i < index.segments.size(); ++i) {
    if (!keys_set_[order][i]) break;
    built += keys_[order][i];
    const ColumnInfo& info = columns_[static_cast<size_t>(index.segments[i])];
    if (keys_[order][i].size() < info.type.width) break;  // a partial text segment ends the key
  }
  if (built.size() > ADS_MAX_KEY_LENGTH) {
    return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": the key of " +
                                        std::to_string(built.size()) + " bytes is longer than 256 bytes");
  }
  if (built.size() > *length) {
    *length = static_cast<UNSIGNED16>(built.size());
    return SetError(AE_INSUFFICIENT_BUFFER, "Table " + display_name_ + ", index " + index.name + ": the key needs " +
                                                std::to_string(built.size()) + " bytes");
  }
  if (!built.empty()) std::memcpy(key, built.data(), built.size());
  *length = static_cast<UNSIGNED16>(built.size());
  return 0;
}

UNSIGNED32 EngineTable::DecodeKey(int order, const uint8_t* key, UNSIGNED16 length, std::vector<SqlValue>* values,
                                  std::vector<std::string>* parts) {
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  size_t pos = 0;
  for (size_t i = 0; i < index.segments.size() && pos < length; ++i) {
    const ColumnInfo& info = columns_[static_cast<size_t>(index.segments[i])];
    size_t width = info.type.width;
    size_t n = std::min<size_t>(width, length - pos);
    const uint8_t* p = key + pos;
    std::string part(reinterpret_cast<const char*>(p), n);
    if (n < width && info.type.type != ADS_STRING) {
      return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": the key of " +
                                          std::to_string(length) + " bytes ends inside column \"" + info.name + "\"");
    }
    bool all_zero = part.find_first_not_of('\0') == std::string::npos;
    SqlValue value;
    switch (info.type.type) {
      case ADS_STRING: {
        size_t end = part.find_last_not_of(std::string(" \0", 2));
        if (!all_zero && end != std::string::npos) value = SqlValue::Text(part.substr(0, end + 1));
        else if (!all_zero) value = SqlValue::Text("");
        break;
      }
      case ADS_LOGICAL:
        if (p[0] != ' ' && p[0] != 0) {
          char c = static_cast<char>(p[0]);
          value = SqlValue::Integer(c == '1' || c == 'T' || c == 't' || c == 'Y' || c == 'y' ? 1 : 0);
        }
        break;
      case ADS_NUMERIC:
        if (!all_zero) {
          std::string text = part;
          size_t b = text.find_first_not_of(' ');
          size_t e = text.find_last_not_of(std::string(" \0", 2));
          text = b == std::string::npos ? "" : text.substr(b, e - b + 1);
          char* end = nullptr;
          double d = std::strtod(text.c_str(), &end);
          if (text.empty() || end == nullptr || *end != '\0') {
            return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": key value '" +
                                                text + "' for column \"" + info.name + "\" is not a number");
          }
          value = SqlValue::Real(d);
        }
        break;
      case ADS_DATE:
        if (!all_zero) value = SqlValue::Text(FormatIsoDate(static_cast<int32_t>(Get32(p))));
        break;
      case ADS_DOUBLE:
      case ADS_CURDOUBLE:
        if (!(Get32(p) == kEmptyDoubleLow && Get32(p + 4) == kEmptyDoubleHigh)) value = SqlValue::Real(GetDouble(p));
        break;
      case ADS_INTEGER:
        if (Get32(p) != kEmptyInteger) value = SqlValue::Integer(static_cast<int32_t>(Get32(p)));
        break;
      case ADS_SHORTINT: {
        uint16_t v = static_cast<uint16_t>(p[0] | (p[1] << 8));
        if (v != kEmptyShort) value = SqlValue::Integer(static_cast<int16_t>(v));
        break;
      }
      case ADS_AUTOINC:
        if (Get32(p) != kEmptyAutoinc) value = SqlValue::Integer(Get32(p));
        break;
      case ADS_TIME:
        if (Get32(p) != kEmptyTime) value = SqlValue::Text(FormatIsoTime(Get32(p)));
        break;
      case ADS_TIMESTAMP:
        if (Get32(p) != 0) value = SqlValue::Text(FormatIsoDate(Get32(p)) + " " + FormatIsoTime(Get32(p + 4)));
        break;
      case ADS_RAW:
        if (!all_zero) {
          size_t end = part.find_last_not_of('\0');
          value = SqlValue::Blob(part.substr(0, end + 1));
        }
        break;
      default:
        return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": column \"" + info.name +
                                            "\" of type " + TypeName(info.type.type) + " cannot be sought");
    }
    values->push_back(std::move(value));
    parts->push_back(std::move(part));
    pos += n;
  }
  return 0;
}

UNSIGNED32 EngineTable::Seek(int order, const uint8_t* key, UNSIGNED16 length, bool exact, bool* found) {
  *found = false;
  if (order < 0) return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a seek needs an index handle");
  if (length == 0 || key == nullptr) {
    return SetError(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " +
                                        indexes_[static_cast<size_t>(order)].name + ": the key is empty");
  }
  std::vector<SqlValue>& values = seek_values_;
  std::vector<std::string>& parts = seek_parts_;
  values.clear();
  parts.clear();
  if (UNSIGNED32 rc = DecodeKey(order, key, length, &values, &parts)) return rc;
  current_order_ = order;
  // The found record comes with the records after it that share its key and
  // the first one beyond, read in the same statement execution.
  KeyRun run;
  run.values = &values;
  const ColumnInfo& last = columns_[static_cast<size_t>(indexes_[static_cast<size_t>(order)].segments[parts.size() - 1])];
  run.last_is_prefix = parts.back().size() < last.type.width;
  size_t buffered_row = 0;
  if (BufferedRowStartsKey(order, values, &buffered_row)) {
    // The row was read with the one the table stands on, as a walk would
    // have read it.
    batch_->pos = buffered_row;
    seeking_in_order_ = true;
  } else if (Anchored(order, Anchor::kSeek, key, length)) {
    batch_->pos = 0;  // the same key again: the rows it found are still those
  } else {
    if (seeking_in_order_) {
      if (UNSIGNED32 rc = Scan(order, true, values.size(), false, &values, 0, false, kInOrderSeekReadAhead)) return rc;
    } else {
      if (UNSIGNED32 rc = Scan(order, true, values.size(), false, &values, 0, false, kSeekReadAhead, &run)) return rc;
    }
    seeking_in_order_ = false;
    batch_->next_limit = kSeekReadAhead;
    if (rows_fixed_) {
      batch_->anchor = Anchor::kSeek;
      batch_->anchor_key.assign(reinterpret_cast<const char*>(key), length);
    }
  }
  bool got = batch_->pos < batch_->count;
  bool match = got;
  if (got) {
    const IndexInfo& index = indexes_[static_cast<size_t>(order)];
    for (size_t i = 0; i < parts.size() && match; ++i) {
      int column = index.segments[i];
      scratch_.assign(columns_[static_cast<size_t>(column)].type.width, 0);
      if (UNSIGNED32 rc = EncodeColumn(column, CurrentCell(column), scratch_.data())) return rc;
      // Empty text is all zeros in a key and in a record alike.
      match = std::memcmp(scratch_.data(), parts[i].data(), parts[i].size()) == 0;
    }
  }
  *found = match;
  if (got && (match || !exact)) {
    state_ = State::kOnRow;
    current_rowid_ = batch_->rowids[batch_->pos];
    at_bof_flag_ = at_eof_flag_ = false;
    return 0;
  }
  LandBeyond(true);
  return 0;
}

bool EngineTable::CompareRowToKey(size_t row, const Order& order, const std::vector<SqlValue>& values,
                                  int* result) const {
  // Integers beyond 2^53 do not compare exactly with a double.
  constexpr int64_t kExactInDouble = int64_t{1} << 53;
  const Batch& batch = *batch_;
  for (size_t i = 0; i < values.size(); ++i) {
    const Batch::Stored& cell = batch.cells[row * batch.columns + static_cast<size_t>(order.segments[i])];
    const SqlValue& value = values[i];
    int c = 0;
    const bool cell_number = cell.type == SQLITE_INTEGER || cell.type == SQLITE_FLOAT;
    const bool value_number = value.type == SQLITE_INTEGER || value.type == SQLITE_FLOAT;
    if (cell_number && value_number) {
      if (cell.type == SQLITE_INTEGER && value.type == SQLITE_INTEGER) {
        c = cell.integer < value.integer ? -1 : cell.integer > value.integer ? 1 : 0;
      } else {
        if ((cell.type == SQLITE_INTEGER && (cell.integer > kExactInDouble || cell.integer < -kExactInDouble)) ||
            (value.type == SQLITE_INTEGER && (value.integer > kExactInDouble || value.integer < -kExactInDouble))) {
          return false;
        }
        const double a = cell.type == SQLITE_INTEGER ? static_cast<double>(cell.integer) : cell.real;
        const double b = value.type == SQLITE_INTEGER ? static_cast<double>(value.integer) : value.real;
        if (a != a || b != b) return false;  // NaN
        c = a < b ? -1 : a > b ? 1 : 0;
      }
    } else if ((cell.type == SQLITE_TEXT || cell.type == SQLITE_BLOB) && cell.type == value.type) {
      const char* bytes = batch.arena.data() + cell.offset;
      const size_t n = std::min(cell.size, value.bytes.size());
      const int m = n > 0 ? std::memcmp(bytes, value.bytes.data(), n) : 0;
      c = m < 0 ? -1 : m > 0 ? 1 : cell.size < value.bytes.size() ? -1 : cell.size > value.bytes.size() ? 1 : 0;
    } else {
      return false;  // NULL, or a pair SQLite would convert or order by kind
    }
    if (c != 0) {
      *result = c;
      return true;
    }
  }
  *result = 0;
  return true;
}

bool EngineTable::BufferedRowStartsKey(int order, const std::vector<SqlValue>& values, size_t* row) {
  if (batch_ == nullptr || state_ != State::kOnRow || values.empty()) return false;
  const Batch& batch = *batch_;
  if (!batch.forward || batch.order != order || batch.pos + 1 >= batch.count) return false;
  Order& o = OrderFor(order);
  if (o.binary_ascending < 0) {
    o.binary_ascending = 1;
    for (size_t i = 0; i < o.segments.size(); ++i) {
      const char* collation = nullptr;
      const std::string& column = columns_[static_cast<size_t>(o.segments[i])].name;
      if (o.descending[i] ||
          sqlite3_table_column_metadata(db_, schema_.c_str(), table_.c_str(), column.c_str(), nullptr, &collation,
                                        nullptr, nullptr, nullptr) != SQLITE_OK ||
          collation == nullptr || sqlite3_stricmp(collation, "BINARY") != 0) {
        o.binary_ascending = 0;
        break;
      }
    }
  }
  if (o.binary_ascending != 1 || values.size() > o.segments.size()) return false;
  int c = 0;
  if (!CompareRowToKey(batch.pos, o, values, &c) || c >= 0) return false;
  if (!CompareRowToKey(batch.count - 1, o, values, &c) || c < 0) return false;
  for (size_t r = batch.pos + 1; r < batch.count; ++r) {
    if (!CompareRowToKey(r, o, values, &c)) return false;
    if (c >= 0) {
      *row = r;
      return true;
    }
  }
  return false;
}

// ---- filter -----------------------------------------------------------------------

UNSIGNED32 EngineTable::SetFilter(const std::string& expression) {
  std::unique_ptr<FilterProgram> program;
  if (UNSIGNED32 rc = FilterProgram::Compile(expression, columns_, exact22_, display_name_,
                                             Settings().date_format, &program)) {
    return rc;
  }
  ResetStatements();
  KeepOnlyCurrentRow();
  filter_ = std::move(program);
  filter_text_ = expression;
  return 0;
}

void EngineTable::ClearFilter() {
  ResetStatements();
  KeepOnlyCurrentRow();
  filter_.reset();
  filter_text_.clear();
}

void EngineTable::KeepOnlyCurrentRow() {
  // The rows read ahead were chosen under the old filter: the next move reads anew.
  ForgetKeptBatches();
  if (batch_ == nullptr) return;
  batch_->anchor = Anchor::kNone;
  if (HasRow()) {
    batch_->count = batch_->pos + 1;
    batch_->exhausted = false;
  } else {
    batch_->count = 0;
  }
}

UNSIGNED32 EngineTable::SetExact(bool exact) {
  if (exact == exact22_) return 0;
  exact22_ = exact;
  if (filter_ == nullptr) return 0;
  return SetFilter(filter_text_);
}

}  // namespace engine
