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

UNSIGNED32 EngineTable::RefuseHiddenRows() const {
  if (!rows_hidden_) return 0;
  return SetError(AE_KDX_TABLE_SEALED,
                  "Table " + display_name_ + " is sealed and was opened without its table password" +
                      (sealed_path_.empty() ? "" : " (file '" + sealed_path_ + "')") +
                      ": its rows cannot be read until AdsEnableEncryption gives the password");
}

std::string EngineTable::ReadPlace() const {
  const char* file = sqlite3_db_filename(db_, schema_.c_str());
  if (file != nullptr && *file != '\0') return "Table " + display_name_ + " (file '" + file + "')";
  if (!sealed_path_.empty()) return "Table " + display_name_ + " (file '" + sealed_path_ + "')";
  return "Table " + display_name_;
}

UNSIGNED32 EngineTable::GotoTop(int order) {
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
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
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
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
  StandAtEnd(forward);
}

UNSIGNED32 EngineTable::Skip(int order, SIGNED32 count) {
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
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
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
  if (state_ != State::kOnRow) {
    *record = 0;
    return 0;
  }
  return RecordNumberFor(current_rowid_, record);
}

UNSIGNED32 EngineTable::GotoRecord(int order, UNSIGNED32 record) {
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
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
    if (rc != SQLITE_ROW) return SqliteError(AE_KDX_SQLITE, ReadPlace() + ": finding a record", db_);
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
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
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
    return SqliteError(AE_KDX_SQLITE, ReadPlace() + ": counting records", db_);
  }
  int64_t n = sqlite3_column_int64(stmt.get(), 0);
  *count = n > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<UNSIGNED32>(n);
  return 0;
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
