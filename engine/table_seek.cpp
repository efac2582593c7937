// EngineTable: keys under construction, key decoding and seeks.
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

namespace rf = record_format;

namespace {

// How a key segment of a column of `type` is given (the column-type table).
KeySegment KeySegmentOf(UNSIGNED16 type) {
  const ColumnTypeRow* row = FindColumnType(type);
  return row != nullptr ? row->key : KeySegment::kNone;
}

}  // namespace

// ---- keys and seeks -----------------------------------------------------------------

Status EngineTable::InitKey(int order) {
  if (order < 0) return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a key needs an index handle");
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  keys_[order].assign(index.segments.size(), std::string());
  keys_set_[order].assign(index.segments.size(), false);
  return Status();
}

Status EngineTable::SetKeyField(int order, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  if (order < 0) return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a key needs an index handle");
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  if (keys_[order].size() != index.segments.size()) {
    if (Status rc = InitKey(order); !rc.ok()) return rc;
  }
  int column;
  if (Status rc = ColumnByName(field, &column); !rc.ok()) return rc;
  for (size_t i = 0; i < index.segments.size(); ++i) {
    if (index.segments[i] != column) continue;
    const ColumnInfo& info = columns_[static_cast<size_t>(column)];
    if (bytes == nullptr && length > 0) return Status(AE_KDX_INVALID_ARGUMENT, "AdsSetField: no bytes given");
    const bool short_ok = KeySegmentOf(info.type.type) == KeySegment::kPrefix;
    if (length > info.type.width || (!short_ok && length != info.type.width)) {
      return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": column \"" + info.name +
                                          "\" takes " + std::to_string(info.type.width) + " key bytes, not " +
                                          std::to_string(length));
    }
    keys_[order][i].assign(reinterpret_cast<const char*>(bytes), length);
    keys_set_[order][i] = true;
    return Status();
  }
  return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ": column \"" + columns_[static_cast<size_t>(column)].name +
                                      "\" is not a segment of index " + index.name);
}

Status EngineTable::BuildKey(int order, uint8_t* key, UNSIGNED16* length) {
  if (order < 0) return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a key needs an index handle");
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  if (keys_[order].size() != index.segments.size()) {
    if (Status rc = InitKey(order); !rc.ok()) return rc;
  }
  std::string built;
  for (size_t i = 0; i < index.segments.size(); ++i) {
    if (!keys_set_[order][i]) break;
    built += keys_[order][i];
    const ColumnInfo& info = columns_[static_cast<size_t>(index.segments[i])];
    if (keys_[order][i].size() < info.type.width) break;  // a partial text segment ends the key
  }
  if (built.size() > ADS_MAX_KEY_LENGTH) {
    return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": the key of " +
                                        std::to_string(built.size()) + " bytes is longer than 256 bytes");
  }
  if (built.size() > *length) {
    *length = static_cast<UNSIGNED16>(built.size());
    return Status(AE_INSUFFICIENT_BUFFER, "Table " + display_name_ + ", index " + index.name + ": the key needs " +
                                                std::to_string(built.size()) + " bytes");
  }
  if (!built.empty()) std::memcpy(key, built.data(), built.size());
  *length = static_cast<UNSIGNED16>(built.size());
  return Status();
}

Status EngineTable::DecodeKey(int order, const uint8_t* key, UNSIGNED16 length, std::vector<SqlValue>* values,
                                  std::vector<std::string>* parts) {
  const IndexInfo& index = indexes_[static_cast<size_t>(order)];
  size_t pos = 0;
  for (size_t i = 0; i < index.segments.size() && pos < length; ++i) {
    const ColumnInfo& info = columns_[static_cast<size_t>(index.segments[i])];
    const size_t width = info.type.width;
    const size_t n = std::min<size_t>(width, length - pos);
    if (n < width && KeySegmentOf(info.type.type) != KeySegment::kPrefix) {
      return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": the key of " +
                                          std::to_string(length) + " bytes ends inside column \"" + info.name + "\"");
    }
    SqlValue value;
    if (Status rc = DecodeKeySegment(index, info, key + pos, n, &value); !rc.ok()) return rc;
    values->push_back(std::move(value));
    parts->emplace_back(reinterpret_cast<const char*>(key + pos), n);
    pos += n;
  }
  return Status();
}

Status EngineTable::DecodeKeySegment(const IndexInfo& index, const ColumnInfo& info, const uint8_t* p, size_t n,
                                         SqlValue* value) {
  const UNSIGNED16 type = info.type.type;
  const ColumnTypeRow* row = FindColumnType(type);
  if (row == nullptr || row->key == KeySegment::kNone) {
    return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": column \"" + info.name +
                                        "\" of type " + TypeName(type) + " cannot be sought");
  }
  const std::string part(reinterpret_cast<const char*>(p), n);
  // The type's empty value finds the empty value (NULL); so does an all-zero
  // segment of a type whose empty value is zeros or a blank.
  const bool zero_is_empty = row->empty == rf::EmptyMark::kZeros || row->empty == rf::EmptyMark::kBlank;
  if ((zero_is_empty && part.find_first_not_of('\0') == std::string::npos) ||
      (n == info.type.width && rf::IsEmpty(type, info.type.width, p))) {
    return Status();
  }
  switch (row->layout) {
    case rf::Layout::kCharacter:
      // A character segment may be given shorter than the column: a prefix.
      *value = SqlValue::Text(rf::CharacterText(p, static_cast<UNSIGNED32>(n)));
      return Status();
    case rf::Layout::kLogicalByte: *value = SqlValue::Integer(rf::LogicalValue(p[0]) ? 1 : 0); return Status();
    case rf::Layout::kNumericText: {
      const std::string text = rf::NumericColumnText(p, info.type.width);
      char* end = nullptr;
      const double d = std::strtod(text.c_str(), &end);
      if (text.empty() || end == nullptr || *end != '\0') {
        return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": key value '" + text +
                                            "' for column \"" + info.name + "\" is not a number");
      }
      *value = SqlValue::Real(d);
      return Status();
    }
    case rf::Layout::kJulianDay: *value = SqlValue::Text(FormatIsoDate(rf::GetDate(p))); return Status();
    case rf::Layout::kRawBytes: *value = SqlValue::Blob(part.substr(0, part.find_last_not_of('\0') + 1)); return Status();
    case rf::Layout::kDouble: *value = SqlValue::Real(rf::GetDouble(p)); return Status();
    case rf::Layout::kInt32: *value = SqlValue::Integer(static_cast<int32_t>(rf::Get32(p))); return Status();
    case rf::Layout::kInt16: *value = SqlValue::Integer(static_cast<int16_t>(rf::Get16(p))); return Status();
    case rf::Layout::kUInt32: *value = SqlValue::Integer(rf::Get32(p)); return Status();
    case rf::Layout::kMilliseconds: *value = SqlValue::Text(FormatIsoTime(rf::GetTime(p))); return Status();
    case rf::Layout::kDayAndMilliseconds:
      *value = SqlValue::Text(FormatIsoDate(rf::GetDate(p)) + " " + FormatIsoTime(rf::GetTime(p + 4)));
      return Status();
    case rf::Layout::kCompactDate:
    case rf::Layout::kBlockReference: break;
  }
  return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " + index.name + ": column \"" + info.name +
                                      "\" of type " + TypeName(type) + " cannot be sought");
}

Status EngineTable::Seek(int order, const uint8_t* key, UNSIGNED16 length, bool exact, bool* found) {
  if (Status rc = PrepareRowsFor(kNoOrderRead, true); !rc.ok()) return rc;
  *found = false;
  if (order < 0) return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ": a seek needs an index handle");
  if (length == 0 || key == nullptr) {
    return Status(AE_KDX_BAD_KEY, "Table " + display_name_ + ", index " +
                                        indexes_[static_cast<size_t>(order)].name + ": the key is empty");
  }
  std::vector<SqlValue>& values = seek_values_;
  std::vector<std::string>& parts = seek_parts_;
  values.clear();
  parts.clear();
  if (Status rc = DecodeKey(order, key, length, &values, &parts); !rc.ok()) return rc;
  if (Status rc = PrepareRowsFor(order, true, &values); !rc.ok()) return rc;
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
      if (Status rc = Scan(order, ScanStart{true, &values, values.size()}, ScanRead{kInOrderSeekReadAhead}); !rc.ok()) {
        return rc;
      }
    } else {
      if (Status rc = Scan(order, ScanStart{true, &values, values.size()}, ScanRead{kSeekReadAhead, &run}); !rc.ok()) {
        return rc;
      }
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
      if (Status rc = EncodeColumn(column, CurrentCell(column), scratch_.data()); !rc.ok()) return rc;
      // Empty text is all zeros in a key and in a record alike.
      match = std::memcmp(scratch_.data(), parts[i].data(), parts[i].size()) == 0;
    }
  }
  *found = match;
  if (got && (match || !exact)) {
    state_ = State::kOnRow;
    current_rowid_ = batch_->rowids[batch_->pos];
    at_bof_flag_ = at_eof_flag_ = false;
    return Status();
  }
  LandBeyond(true);
  return Status();
}

Status EngineTable::QueueSeek(int order, const uint8_t* key, UNSIGNED16 length, bool* queued) {
  *queued = false;
  if (windows_ == nullptr || rows_hidden_ || order < 0 || key == nullptr || length == 0) return Status();
  std::vector<SqlValue> values;
  std::vector<std::string> parts;
  if (Status rc = DecodeKey(order, key, length, &values, &parts); !rc.ok()) return rc;
  bool serves = false;
  if (Status rc = WindowsServe(order, true, &values, &serves); !rc.ok()) return rc;
  // A seek after one served from the rows read ahead (the first day of the
  // next leave, after the days of the last) reads kInOrderSeekReadAhead
  // rows: windows of that size are what queued seeks mostly find.
  if (serves) *queued = windows_->QueueFill(order, values, kInOrderSeekReadAhead);
  return Status();
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

}  // namespace engine
