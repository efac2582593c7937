// EngineTable: moves, record numbers, record counts and filters.
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

void EngineTable::StandAtEnd(bool forward) {
  state_ = forward ? State::kEof : State::kBof;
  at_eof_flag_ = forward;
  at_bof_flag_ = !forward;
}

void EngineTable::LandOnBatch(bool forward) {
  if (batch_->count > 0) {
    state_ = State::kOnRow;
    current_rowid_ = batch_->rowids[0];
    at_bof_flag_ = at_eof_flag_ = false;
  } else {
    StandAtEnd(forward);
  }
}

void EngineTable::set_row_windows(std::unique_ptr<RowWindows> windows) { windows_ = std::move(windows); }

Status EngineTable::PrepareRows() {
  if (rows_loader_ && !rows_hidden_) {
    // A table read in windows goes on from the record it stands on.
    const State state = state_;
    const bool bof = at_bof_flag_;
    const bool eof = at_eof_flag_;
    const int64_t rowid = current_rowid_;
    sqlite3* rows = nullptr;
    if (Status loaded = rows_loader_(&rows); !loaded.ok()) return loaded;
    rows_loader_ = nullptr;
    const bool windowed = windows_ != nullptr;
    windows_.reset();  // its statements go before the database it reads into
    if (Status replaced = ReplaceDatabase(rows, false); !replaced.ok()) return replaced;
    RefreshUniqueFlags();
    if (windowed) {
      if (state == State::kOnRow) {
        const std::vector<SqlValue> none;
        if (Status read = Scan(-1, ScanStart{true, &none, 0, false, true, rowid}, ScanRead{}); !read.ok()) {
          return read;
        }
        batch_->next_limit = 8;
        if (batch_->count == 0 || batch_->rowids[0] != rowid) {
          return Status(AE_KDX_SQLITE, "Table " + display_name_ + ": the record it stood on is not in its rows")
              .WithTable(display_name_);
        }
        LandOnBatch(true);
      } else {
        state_ = state;
        at_bof_flag_ = bof;
        at_eof_flag_ = eof;
      }
    }
  }
  if (!rows_hidden_) return Status();
  return Status(AE_KDX_TABLE_SEALED, "Table " + display_name_ + " is sealed and was opened without its table password" +
                                         (sealed_path_.empty() ? "" : " (file '" + sealed_path_ + "')") +
                                         ": its rows cannot be read until AdsEnableEncryption gives the password")
      .WithTable(display_name_);
}

Status EngineTable::WindowsServe(int order, bool forward, const std::vector<SqlValue>* key, bool* serves) {
  *serves = false;
  if (order >= 0 && forward && filter_ == nullptr) {
    if (Status asked = windows_->Serves(order, serves); !asked.ok()) return asked;
  }
  // An empty key value, or a text holding a zero byte (which no server text
  // holds, and which a server parameter would end at), is sought in the
  // whole rows.
  if (*serves && key != nullptr) {
    for (const SqlValue& value : *key) {
      *serves = *serves && value.type != SQLITE_NULL &&
                (value.type != SQLITE_TEXT || value.bytes.find('\0') == std::string::npos);
    }
  }
  return Status();
}

Status EngineTable::PrepareRowsFor(int order, bool forward, const std::vector<SqlValue>* key) {
  if (windows_ == nullptr || rows_hidden_) return PrepareRows();
  if (order == kNoOrderRead) return Status();
  bool serves = false;
  if (Status asked = WindowsServe(order, forward, key, &serves); !asked.ok()) return asked;
  return serves ? Status() : PrepareRows();
}

std::string EngineTable::ReadPlace() const {
  const char* file = sqlite3_db_filename(db_, schema_.c_str());
  if (file != nullptr && *file != '\0') return "Table " + display_name_ + " (file '" + file + "')";
  if (!sealed_path_.empty()) return "Table " + display_name_ + " (file '" + sealed_path_ + "')";
  return "Table " + display_name_;
}

Status EngineTable::GotoTop(int order) {
  if (Status refused = PrepareRowsFor(order, true); !refused.ok()) return refused;
  current_order_ = order;
  if (Anchored(order, Anchor::kTop, nullptr, 0)) {
    batch_->pos = 0;
  } else {
    if (Status read = Scan(order, ScanStart{}, ScanRead{}); !read.ok()) return read;
    batch_->next_limit = 8;
    if (rows_fixed_) batch_->anchor = Anchor::kTop;
  }
  LandOnBatch(true);
  if (state_ != State::kOnRow) at_bof_flag_ = true;  // an empty table is at both ends
  return Status();
}

Status EngineTable::GotoBottom(int order) {
  if (Status refused = PrepareRows(); !refused.ok()) return refused;
  current_order_ = order;
  ScanStart bottom;
  bottom.forward = false;
  if (Status read = Scan(order, bottom, ScanRead{}); !read.ok()) return read;
  batch_->next_limit = 8;
  LandOnBatch(false);
  if (state_ != State::kOnRow) {
    state_ = State::kEof;
    at_bof_flag_ = at_eof_flag_ = true;
  }
  return Status();
}

Status EngineTable::StepTo(bool forward) {
  if (state_ == State::kBof) {
    if (!forward) return Status();
    return GotoTop(current_order_);
  }
  if (state_ == State::kEof || !HasRow()) {
    if (forward) {
      state_ = State::kEof;
      at_eof_flag_ = true;
      return Status();
    }
    return GotoBottom(current_order_);
  }
  Batch& batch = *batch_;
  if (batch.forward == forward && batch.order == current_order_) {
    if (batch.pos + 1 < batch.count) {
      ++batch.pos;
      current_rowid_ = batch.rowids[batch.pos];
      return Status();
    }
    if (batch.exhausted) {
      LandBeyond(forward);
      return Status();
    }
  }
  // Read on from the current row: its key in the wanted order, then rowid.
  std::vector<SqlValue>& key = walk_key_;
  CurrentKey(current_order_, &key);
  const bool same_walk = batch.forward == forward && batch.order == current_order_;
  ScanRead read;
  read.limit = same_walk ? batch.next_limit : 1;
  // An anchored batch standing on its last row grows instead of being
  // replaced, while it stays within kMaxBatchRows.
  read.append = same_walk && batch.anchor != Anchor::kNone && batch.pos + 1 == batch.count &&
                batch.count + read.limit <= kMaxBatchRows;
  const ScanStart after{forward, &key, key.size(), true, true, current_rowid_};
  if (Status scanned = Scan(current_order_, after, read); !scanned.ok()) return scanned;
  // A window costs a round trip to the server: walks there read further.
  const size_t most = windows_ != nullptr ? kMaxWindowBatchRows : kMaxBatchRows;
  batch_->next_limit = std::min(most, read.limit < 8 ? 8 : read.limit * 4);
  if (!read.append) {
    LandOnBatch(forward);
  } else if (batch.pos + 1 < batch.count) {
    ++batch.pos;
    current_rowid_ = batch.rowids[batch.pos];
  } else {
    LandBeyond(forward);
  }
  return Status();
}

void EngineTable::LandBeyond(bool forward) {
  // An anchored batch stays for the next return to its anchor.
  if (batch_->anchor == Anchor::kNone) batch_->count = 0;
  StandAtEnd(forward);
}

Status EngineTable::Skip(int order, SIGNED32 count) {
  if (Status refused = PrepareRowsFor(order, count >= 0); !refused.ok()) return refused;
  current_order_ = order;
  if (count == 0) return Status();
  bool forward = count > 0;
  int64_t steps = count > 0 ? count : -static_cast<int64_t>(count);
  for (int64_t i = 0; i < steps; ++i) {
    if (Status stepped = StepTo(forward); !stepped.ok()) return stepped;
    if (state_ != State::kOnRow) break;
  }
  return Status();
}

Status EngineTable::RecordNumberFor(int64_t rowid, UNSIGNED32* record) {
  if (rowid >= 1 && rowid <= 0x7FFFFFFF) {
    *record = static_cast<UNSIGNED32>(rowid);
    return Status();
  }
  auto it = big_rowid_numbers_.find(rowid);
  if (it == big_rowid_numbers_.end()) {
    if (big_rowids_.size() >= 0x7FFFFFFF) {
      return Status(AE_KDX_INVALID_ARGUMENT, "Table " + display_name_ + ": no record number left")
          .WithTable(display_name_);
    }
    UNSIGNED32 number = 0x80000000u + static_cast<UNSIGNED32>(big_rowids_.size());
    big_rowids_.push_back(rowid);
    it = big_rowid_numbers_.emplace(rowid, number).first;
  }
  *record = it->second;
  return Status();
}

Status EngineTable::CurrentRecordNumber(UNSIGNED32* record) {
  if (Status refused = PrepareRowsFor(kNoOrderRead, true); !refused.ok()) return refused;
  if (state_ != State::kOnRow) {
    *record = 0;
    return Status();
  }
  return RecordNumberFor(current_rowid_, record);
}

Status EngineTable::GotoRecord(int order, UNSIGNED32 record) {
  // A table read in windows reads the one row (its rowid is the record).
  const bool one_row = windows_ != nullptr && filter_ == nullptr;
  if (Status refused = one_row ? PrepareRowsFor(kNoOrderRead, true) : PrepareRows(); !refused.ok()) return refused;
  int64_t rowid;
  if (record >= 1 && record <= 0x7FFFFFFF) {
    rowid = record;
  } else if (record >= 0x80000000u && record - 0x80000000u < big_rowids_.size()) {
    rowid = big_rowids_[record - 0x80000000u];
  } else {
    return Status(AE_INVALID_RECORD_NUMBER,
                  "Table " + display_name_ + ": record " + std::to_string(record) + " does not exist")
        .WithTable(display_name_);
  }
  current_order_ = order;
  if (BatchFromMemory(order, rowid)) {
    LandOnBatch(true);
    return Status();
  }
  if (one_row) {
    if (Status read = windows_->FillRow(rowid); !read.ok()) return read;
  }
  std::vector<SqlValue>& key = walk_key_;
  if (Status found = KeyOfRow(order, rowid, record, &key); !found.ok()) return found;
  const ScanStart at{true, &key, key.size(), false, true, rowid};
  window_filled_ = one_row;
  if (Status read = Scan(order, at, ScanRead{}); !read.ok()) return read;
  batch_->next_limit = 8;
  if (batch_->count == 0 || batch_->rowids[0] != rowid) {
    LandBeyond(true);
    // In the natural order the scan alone cannot tell a deleted record from
    // one the filter hides.
    bool exists = false;
    if (OrderFor(order).segments.empty() && filter_ != nullptr) {
      if (Status looked = RowExists(rowid, &exists); !looked.ok()) return looked;
    }
    const char* why = OrderFor(order).segments.empty() && !exists ? " no longer exists"
                                                                   : " is not visible through the filter";
    return Status(AE_INVALID_RECORD_NUMBER, "Table " + display_name_ + ": record " + std::to_string(record) + why)
        .WithTable(display_name_);
  }
  LandOnBatch(true);
  return Status();
}

Status EngineTable::KeyOfRow(int order, int64_t rowid, UNSIGNED32 record, std::vector<SqlValue>* key) {
  Order& o = OrderFor(order);
  key->clear();
  if (o.segments.empty()) return Status();  // the rowid is the key
  if (o.key_of_row == nullptr) {
    std::string columns;
    for (size_t i = 0; i < o.segments.size(); ++i) {
      columns += (i ? ", " : "") + QuoteIdentifier(columns_[static_cast<size_t>(o.segments[i])].name);
    }
    const std::string sql = "SELECT " + columns + " FROM " + qualified_ + " WHERE " + rowid_name_ + " = ?1";
    if (Status prepared = Prepare(sql, &o.key_of_row); !prepared.ok()) return prepared;
  }
  sqlite3_stmt* lookup = o.key_of_row;
  int rc = sqlite3_bind_int64(lookup, 1, rowid);
  if (rc == SQLITE_OK) rc = sqlite3_step(lookup);
  if (rc == SQLITE_ROW) {
    for (size_t i = 0; i < o.segments.size(); ++i) {
      key->push_back(SqlValue::From(sqlite3_column_value(lookup, static_cast<int>(i))));
    }
  }
  sqlite3_reset(lookup);  // no read lock outlives the call; the step's answer is handled below
  if (rc == SQLITE_DONE) {
    return Status(AE_INVALID_RECORD_NUMBER,
                  "Table " + display_name_ + ": record " + std::to_string(record) + " no longer exists")
        .WithTable(display_name_);
  }
  if (rc != SQLITE_ROW) return ReadError("finding a record");
  return Status();
}

Status EngineTable::RowExists(int64_t rowid, bool* exists) {
  Statement lookup;
  const std::string sql = "SELECT 1 FROM " + qualified_ + " WHERE " + rowid_name_ + " = ?1";
  if (Status prepared = Prepare(sql, lookup.out()); !prepared.ok()) return prepared;
  int rc = sqlite3_bind_int64(lookup.get(), 1, rowid);
  if (rc == SQLITE_OK) rc = sqlite3_step(lookup.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return ReadError("finding a record");
  *exists = rc == SQLITE_ROW;
  return Status();
}

Status EngineTable::RecordCount(bool respect_filter, UNSIGNED32* count) {
  if (Status refused = PrepareRows(); !refused.ok()) return refused;
  bool filtered = respect_filter && filter_ != nullptr;
  if (!filtered && rows_fixed_ && known_row_count_ >= 0) {
    *count = known_row_count_ > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<UNSIGNED32>(known_row_count_);
    return Status();
  }
  Statement stmt;
  std::string sql = "SELECT count(*) FROM " + qualified_;
  if (filtered) sql += " WHERE " + filter_->where();
  if (Status prepared = Prepare(sql, stmt.out()); !prepared.ok()) return prepared;
  int rc = SQLITE_OK;
  if (filtered) {
    for (size_t i = 0; i < filter_->parameters().size() && rc == SQLITE_OK; ++i) {
      rc = BindValue(stmt.get(), static_cast<int>(i) + 1, filter_->parameters()[i]);
    }
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) return ReadError("counting records");
  int64_t n = sqlite3_column_int64(stmt.get(), 0);
  *count = n > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<UNSIGNED32>(n);
  return Status();
}

// ---- filter -----------------------------------------------------------------------

Status EngineTable::SetFilter(const std::string& expression) {
  std::unique_ptr<FilterProgram> program;
  if (Status compiled =
          FilterProgram::Compile(expression, columns_, exact22_, display_name_, Settings().date_format, &program);
      !compiled.ok()) {
    return compiled;
  }
  ResetStatements();
  KeepOnlyCurrentRow();
  filter_ = std::move(program);
  filter_text_ = expression;
  return Status();
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

Status EngineTable::SetExact(bool exact) {
  if (exact == exact22_) return Status();
  exact22_ = exact;
  if (filter_ == nullptr) return Status();
  return SetFilter(filter_text_);
}

}  // namespace engine
