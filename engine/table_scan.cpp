// EngineTable: reading rows ahead in an order into batches, and keeping
// batches of fixed rows for later moves.
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/filter.h"
#include "engine/record_format.h"
#include "engine/scan_sql.h"
#include "engine/settings.h"
#include "engine/table_rows.h"
#include "util/ascii.h"

namespace engine {

EngineTable::Order& EngineTable::OrderFor(int order) { return *orders_[static_cast<size_t>(order + 1)]; }

void EngineTable::ResetStatements() {
  for (auto& order : orders_) order->Clear();
}

void EngineTable::CurrentKey(int order, std::vector<SqlValue>* key) {
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

Status EngineTable::Scan(int order, const ScanStart& start, const ScanRead& read) {
  const bool filled = window_filled_;  // by GotoRecord, for this scan only
  window_filled_ = false;
  ScanRequest request;
  request.forward = start.forward;
  request.strict = start.strict;
  request.with_rowid = start.with_rowid;
  request.has_key = start.key != nullptr;
  if (start.key != nullptr) {
    for (size_t i = 0; i < start.segments; ++i) request.key_null.push_back((*start.key)[i].type == SQLITE_NULL);
  }
  if (filter_ != nullptr) {
    request.filter = filter_->where();
    request.filter_parameters = static_cast<int>(filter_->parameters().size());
  }
  Order& o = OrderFor(order);
  sqlite3_stmt* stmt = nullptr;
  const bool some = ReadsSomeColumns();
  const std::string cache_key = some ? read_select_list_ + "|" + ScanCacheKey(request) : ScanCacheKey(request);
  auto cached = o.cache.find(cache_key);
  if (cached != o.cache.end()) {
    stmt = cached->second;
  } else {
    ScanTable table{qualified_, some ? read_select_list_ : select_list_, rowid_name_};
    ScanOrder scan_order;
    for (size_t i = 0; i < o.segments.size(); ++i) {
      scan_order.columns.push_back(columns_[static_cast<size_t>(o.segments[i])].name);
      scan_order.descending.push_back(o.descending[i]);
    }
    if (Status prepared = Prepare(BuildScanSql(table, scan_order, request), &stmt); !prepared.ok()) return prepared;
    o.cache.emplace(cache_key, stmt);
  }
  if (windows_ != nullptr && !filled) return ScanWindow(stmt, order, start, read);
  if (Status bound = BindScan(stmt, request.filter_parameters, start); !bound.ok()) return bound;
  return ReadRows(stmt, order, start.forward, read);
}

Status EngineTable::ScanWindow(sqlite3_stmt* stmt, int order, const ScanStart& start, const ScanRead& read) {
  // Only reads PrepareRowsFor let through come here.
  if (order < 0 || !start.forward || filter_ != nullptr) {
    return Status(AE_KDX_SQLITE, "Table " + display_name_ + ": a read its windows cannot serve").WithTable(display_name_);
  }
  if (Status filled = windows_->Fill(order, start.key, start.segments, start.strict, start.with_rowid, start.rowid,
                                     read.limit, &window_rowids_);
      !filled.ok()) {
    return filled;
  }
  const size_t before = read.append && batch_ != nullptr ? batch_->count : 0;
  if (Status bound = BindScan(stmt, 0, start); !bound.ok()) return bound;
  if (Status rows = ReadRows(stmt, order, start.forward, read); !rows.ok()) return rows;
  // The window must read as the same rows in the same order: anything else
  // means the source orders or compares keys otherwise than the table does.
  const Batch& batch = *batch_;
  const size_t read_rows = batch.count - before;
  bool same = read_rows <= window_rowids_.size() &&
              std::equal(batch.rowids.begin() + static_cast<std::ptrdiff_t>(before), batch.rowids.end(),
                         window_rowids_.begin());
  const size_t expected = std::min(read.limit, window_rowids_.size());
  if (same && read_rows < expected) {
    same = read.run != nullptr && read_rows > 0 && !RowHasKey(batch.count - 1, order, *read.run);
  }
  if (!same) {
    return Status(AE_KDX_SQLITE, "Table " + display_name_ + ": the rows read for index " +
                                     indexes_[static_cast<size_t>(order)].name +
                                     " do not come in the order the table sorts them")
        .WithTable(display_name_);
  }
  return Status();
}

Status EngineTable::BindScan(sqlite3_stmt* stmt, int filter_params, const ScanStart& start) {
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  int rc = SQLITE_OK;
  if (filter_ != nullptr) {
    for (int i = 0; i < filter_params && rc == SQLITE_OK; ++i) {
      rc = BindValue(stmt, i + 1, filter_->parameters()[static_cast<size_t>(i)]);
    }
  }
  if (start.key != nullptr) {
    // The key outlives every step below; SQLite need not copy it.
    for (size_t i = 0; i < start.segments && rc == SQLITE_OK; ++i) {
      const SqlValue& value = (*start.key)[i];
      const int index = filter_params + static_cast<int>(i) + 1;
      switch (value.type) {
        case SQLITE_TEXT:
          rc = sqlite3_bind_text(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_STATIC);
          break;
        case SQLITE_BLOB:
          rc = sqlite3_bind_blob(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_STATIC);
          break;
        case SQLITE_NULL: break;  // written into the statement as IS NULL
        default: rc = BindValue(stmt, index, value); break;
      }
    }
    if (start.with_rowid && rc == SQLITE_OK) {
      rc = sqlite3_bind_int64(stmt, filter_params + static_cast<int>(start.segments) + 1, start.rowid);
    }
  }
  if (rc != SQLITE_OK) return ReadError("binding the start of a read");
  return Status();
}

namespace {

// Copies the value of result column `index` of `stmt` into `cell`, its bytes
// appended to `arena`. False when SQLite ran out of memory giving a text.
template <typename Stored>
bool CopyCell(sqlite3_stmt* stmt, int index, std::string& arena, Stored& cell) {
  sqlite3_value* value = sqlite3_column_value(stmt, index);
  cell.type = sqlite3_value_type(value);
  cell.size = 0;
  cell.offset = arena.size();
  switch (cell.type) {
    case SQLITE_INTEGER: cell.integer = sqlite3_value_int64(value); break;
    case SQLITE_FLOAT: cell.real = sqlite3_value_double(value); break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      // The bytes as they are (a text as UTF-8): read as a blob, a text
      // needs no terminator added, which would copy it first.
      const void* bytes = sqlite3_value_blob(value);
      cell.size = static_cast<size_t>(sqlite3_value_bytes(value));
      if (bytes == nullptr && cell.size > 0) return false;
      if (cell.size > 0) arena.append(static_cast<const char*>(bytes), cell.size);
      break;
    }
    default: break;
  }
  return true;
}

}  // namespace

bool EngineTable::CopyRow(sqlite3_stmt* stmt) {
  Batch& batch = *batch_;
  batch.rowids.push_back(sqlite3_column_int64(stmt, 0));
  const size_t base = batch.count * batch.columns;
  if (batch.cells.size() < base + batch.columns) batch.cells.resize(base + batch.columns);
  // The value is read while the statement stands on the row (the connection
  // is only ever used under the engine's mutex).
  if (ReadsSomeColumns()) {
    for (size_t i = 0; i < batch.columns; ++i) batch.cells[base + i].type = kCellNotRead;
    for (size_t i = 0; i < read_columns_.size(); ++i) {
      Batch::Stored& cell = batch.cells[base + static_cast<size_t>(read_columns_[i])];
      if (!CopyCell(stmt, static_cast<int>(i) + 1, batch.arena, cell)) return false;
    }
    return true;
  }
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!CopyCell(stmt, static_cast<int>(i) + 1, batch.arena, batch.cells[base + i])) return false;
  }
  return true;
}

bool EngineTable::RowLacksColumns(size_t row) const {
  const Batch& batch = *batch_;
  const Batch::Stored* cells = batch.cells.data() + row * batch.columns;
  return std::any_of(cells, cells + batch.columns, [](const Batch::Stored& c) { return c.type == kCellNotRead; });
}

Status EngineTable::ReadCurrentRowWhole() {
  if (!HasRow() || !RowLacksColumns(batch_->pos)) return Status();
  Order& natural = OrderFor(-1);
  if (natural.whole_row == nullptr) {
    const std::string sql = "SELECT " + select_list_ + " FROM " + qualified_ + " WHERE " + rowid_name_ + " = ?1";
    if (Status prepared = Prepare(sql, &natural.whole_row); !prepared.ok()) return prepared;
  }
  sqlite3_stmt* lookup = natural.whole_row;
  Batch& batch = *batch_;
  int rc = sqlite3_bind_int64(lookup, 1, batch.rowids[batch.pos]);
  if (rc == SQLITE_OK) rc = sqlite3_step(lookup);
  bool copied = rc == SQLITE_ROW;
  // Every cell is replaced, so that the row's values are all of one read.
  for (size_t i = 0; copied && i < batch.columns; ++i) {
    copied = CopyCell(lookup, static_cast<int>(i) + 1, batch.arena, batch.cells[batch.pos * batch.columns + i]);
  }
  sqlite3_reset(lookup);  // no read lock outlives the call; the step's answer is handled below
  if (copied) return Status();
  if (rc == SQLITE_DONE) {
    return Status(AE_KDX_SQLITE, "Table " + display_name_ + ": record " + std::to_string(batch.rowids[batch.pos]) +
                                     " is no longer in the table")
        .WithTable(display_name_);
  }
  if (rc == SQLITE_ROW) {
    return Status(AE_KDX_SQLITE, "Table " + display_name_ + ": out of memory reading a record")
        .WithTable(display_name_);
  }
  return ReadError("reading a record");
}

Status EngineTable::SetReadColumns(const std::vector<int>& columns) {
  std::vector<int> read;
  if (!columns.empty()) {
    for (int column : columns) {
      if (column < 0 || static_cast<size_t>(column) >= columns_.size()) {
        return Status(AE_KDX_INVALID_ARGUMENT, "Table " + display_name_ + " has no column " +
                                                   std::to_string(column + 1))
            .WithTable(display_name_);
      }
      read.push_back(column);
    }
    // Moves compare and read on by the key columns of the order they walk.
    for (const IndexInfo& index : indexes_) read.insert(read.end(), index.segments.begin(), index.segments.end());
    std::sort(read.begin(), read.end());
    read.erase(std::unique(read.begin(), read.end()), read.end());
  }
  if (read == read_columns_) return Status();
  read_columns_ = std::move(read);
  // An SQL result keeps reading whole rows (a row it has passed may not be
  // found again by its number): only its records are filled in part, so its
  // rows read stay as they are.
  if (handle_type_ != ADS_TABLE) return Status();
  read_select_list_ = rowid_name_;
  for (int column : read_columns_) {
    read_select_list_ += ", " + QuoteIdentifier(columns_[static_cast<size_t>(column)].name);
  }
  // Rows read with other columns are not walked into again: each would be
  // read a second time, one by one. The current row stays.
  ForgetKeptBatches();
  if (batch_ != nullptr && batch_->count > 0) {
    if (HasRow()) {
      batch_->count = batch_->pos + 1;
      batch_->rowids.resize(batch_->count);
      batch_->encoded.resize(std::min(batch_->encoded.size(), batch_->count));
      batch_->exhausted = false;
      batch_->anchor = Anchor::kNone;
    } else {
      batch_->Clear();
    }
  }
  return Status();
}

Status EngineTable::ReadRows(sqlite3_stmt* stmt, int order, bool forward, const ScanRead& read) {
  // Copy up to `read.limit` rows out of SQLite, then reset the statement.
  if (batch_ == nullptr) batch_ = std::make_unique<Batch>();
  if (!read.append && batch_->anchor != Anchor::kNone) SetBatchAside();
  Batch& batch = *batch_;
  if (!read.append) {
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
  const size_t end = batch.count + read.limit;
  while (batch.count < end) {
    rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) break;
    if (!CopyRow(stmt)) {
      rc = SQLITE_NOMEM;
      break;
    }
    ++batch.count;
    if (read.run != nullptr && !RowHasKey(batch.count - 1, order, *read.run)) break;
  }
  if (rc == SQLITE_DONE) batch.exhausted = true;
  sqlite3_reset(stmt);  // its answer repeats the step's failure, handled below
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    batch.Clear();
    state_ = State::kEof;
    at_eof_flag_ = true;
    if (rc == SQLITE_NOMEM) {
      return Status(AE_KDX_SQLITE, "Table " + display_name_ + ": out of memory reading records")
          .WithTable(display_name_);
    }
    return ReadError("reading records");
  }
  return Status();
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

}  // namespace engine
