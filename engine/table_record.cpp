// EngineTable: raw records and column texts of the current row.
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/date_text.h"
#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/filter.h"
#include "engine/record_format.h"
#include "engine/settings.h"
#include "engine/stored_values.h"
#include "engine/table_rows.h"
#include "util/ascii.h"

namespace engine {

namespace rf = record_format;

std::string CellText(int type, int64_t integer, double real, const char* bytes, size_t size) {
  return StoredText(StoredCell{type, integer, real, bytes, size});
}

// ---- record encoding ------------------------------------------------------------

Status EngineTable::ValueError(int column, const std::string& what) {
  return Status(AE_KDX_BAD_STORED_VALUE, "Table " + display_name_ + ", column " + columns_[column].name +
                                               ", row " + std::to_string(current_rowid_) + ": " + what);
}

void EngineTable::EmptyRecord(uint8_t* buffer) const {
  for (const ColumnInfo& column : columns_) {
    rf::PutEmpty(column.type.type, column.type.width, buffer + column.offset);
  }
}

namespace {

// A stored value as messages quote it.
std::string Shown(const StoredCell& cell) {
  if (cell.type == SQLITE_BLOB) return "a binary value of " + std::to_string(cell.size) + " bytes";
  std::string text = StoredText(cell);
  if (cell.type != SQLITE_TEXT) return text;
  if (text.size() > 40) text = text.substr(0, 40) + "...";
  return "'" + text + "'";
}

}  // namespace

Status EngineTable::EncodeColumn(int c, const Cell& v, uint8_t* out) {
  const ColumnType& type = columns_[static_cast<size_t>(c)].type;
  const StoredCell cell{v.type, v.integer, v.real, v.bytes, v.size};
  const Misfit misfit = EncodeStored(type, static_cast<UNSIGNED32>(c + 1), cell, out);
  if (misfit == Misfit::kNone) return Status();
  return ValueError(c, MisfitText(misfit, type, Shown(cell)));
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

Status EngineTable::GetRecord(uint8_t* buffer) {
  if (Status rc = PrepareRowsFor(kNoOrderRead, true); !rc.ok()) return rc;
  if (!HasRow()) {
    EmptyRecord(buffer);
    return Status();
  }
  Batch& batch = *batch_;
  const size_t length = record_length_;
  const size_t pos = batch.pos;
  if (pos < batch.encoded.size() && batch.encoded[pos] != 0) {
    std::memcpy(buffer, batch.records.data() + pos * length, length);
    return Status();
  }
  if (EncodesSomeColumns()) {
    // The columns read, on the empty record: no record of them is kept.
    if (empty_record_.size() != length) {
      empty_record_.resize(length);
      EmptyRecord(empty_record_.data());
    }
    std::memcpy(buffer, empty_record_.data(), length);
    for (int column : read_columns_) {
      const Cell cell = CurrentCell(column);
      if (cell.type == kCellNotRead) continue;  // a row read with other columns
      if (Status rc = EncodeColumn(column, cell, buffer + columns_[static_cast<size_t>(column)].offset); !rc.ok()) {
        return rc;
      }
    }
    return Status();
  }
  if (Status rc = ReadCurrentRowWhole(); !rc.ok()) return rc;
  for (size_t c = 0; c < columns_.size(); ++c) {
    int ci = static_cast<int>(c);
    if (Status rc = EncodeColumn(ci, CurrentCell(ci), buffer + columns_[c].offset); !rc.ok()) return rc;
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
  return Status();
}

Status EngineTable::IsFieldEmpty(int column, bool* empty) {
  if (Status rc = PrepareRowsFor(kNoOrderRead, true); !rc.ok()) return rc;
  if (!HasRow()) {
    *empty = true;
    return Status();
  }
  if (CurrentCell(column).type == kCellNotRead) {
    if (Status rc = ReadCurrentRowWhole(); !rc.ok()) return rc;
  }
  Cell cell = CurrentCell(column);
  if (cell.type == SQLITE_NULL) {
    *empty = true;
  } else if (cell.type == SQLITE_TEXT || cell.type == SQLITE_BLOB) {
    const ColumnTypeRow* row = FindColumnType(columns_[static_cast<size_t>(column)].type.type);
    if (row != nullptr && row->stored == StoredForm::kCharacter) {
      *empty = std::string(cell.bytes, cell.size).find_first_not_of(' ') == std::string::npos;
    } else {
      *empty = cell.size == 0;
    }
  } else {
    *empty = false;
  }
  return Status();
}

namespace {

// The text of a column's raw value `raw`, by its layout: what AdsGetField
// gives for the types that hold their value in the record.
std::string RawText(rf::Layout layout, const std::vector<uint8_t>& raw) {
  char buffer[64];
  switch (layout) {
    case rf::Layout::kLogicalByte: return std::string(1, static_cast<char>(raw[0]));
    case rf::Layout::kNumericText: {
      std::string s(raw.begin(), raw.end());
      return s.substr(s.find_first_not_of(' '));
    }
    case rf::Layout::kJulianDay: return FormatDateWithFormat(rf::Get32(raw.data()), Settings().date_format);
    case rf::Layout::kCharacter: {
      std::string s(raw.begin(), raw.end());
      size_t end = s.find_last_not_of(std::string(" \0", 2));
      return end == std::string::npos ? "" : s.substr(0, end + 1);
    }
    case rf::Layout::kDouble:
      std::snprintf(buffer, sizeof buffer, "%.15g", rf::GetDouble(raw.data()));
      return buffer;
    case rf::Layout::kInt32: return std::to_string(static_cast<int32_t>(rf::Get32(raw.data())));
    case rf::Layout::kInt16: return std::to_string(static_cast<int16_t>(rf::Get16(raw.data())));
    case rf::Layout::kUInt32: return std::to_string(rf::Get32(raw.data()));
    case rf::Layout::kMilliseconds: return FormatIsoTime(rf::Get32(raw.data()));
    case rf::Layout::kDayAndMilliseconds:
      return FormatDateWithFormat(rf::Get32(raw.data()), Settings().date_format) + " " +
             FormatIsoTime(rf::Get32(raw.data() + 4));
    case rf::Layout::kCompactDate:
    case rf::Layout::kBlockReference:
    case rf::Layout::kRawBytes: break;
  }
  return "";
}

}  // namespace

Status EngineTable::GetFieldText(int column, std::string* text) {
  if (Status rc = PrepareRowsFor(kNoOrderRead, true); !rc.ok()) return rc;
  text->clear();
  if (!HasRow()) return Status();
  if (CurrentCell(column).type == kCellNotRead) {
    if (Status rc = ReadCurrentRowWhole(); !rc.ok()) return rc;
  }
  Cell cell = CurrentCell(column);
  if (cell.type == SQLITE_NULL) return Status();
  const ColumnInfo& info = columns_[static_cast<size_t>(column)];
  std::vector<uint8_t>& raw = scratch_;
  raw.assign(info.type.width, 0);
  if (Status rc = EncodeColumn(column, cell, raw.data()); !rc.ok()) return rc;
  const rf::Layout layout = rf::LayoutOf(info.type.type);
  if (layout == rf::Layout::kBlockReference || layout == rf::Layout::kRawBytes) {
    // The value itself, not its reference or its padding.
    *text = CellText(cell.type, cell.integer, cell.real, cell.bytes, cell.size);
    return Status();
  }
  *text = RawText(layout, raw);
  return Status();
}

}  // namespace engine
