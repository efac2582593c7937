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
#include "engine/table_rows.h"
#include "util/ascii.h"

namespace engine {

namespace rf = record_format;

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


// ---- record encoding ------------------------------------------------------------

UNSIGNED32 EngineTable::ValueError(int column, const std::string& what) {
  return SetError(AE_KDX_BAD_STORED_VALUE, "Table " + display_name_ + ", column " + columns_[column].name +
                                               ", row " + std::to_string(current_rowid_) + ": " + what);
}

void EngineTable::EmptyRecord(uint8_t* buffer) const {
  for (const ColumnInfo& column : columns_) {
    rf::PutEmpty(column.type.type, column.type.width, buffer + column.offset);
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
  const ColumnType& type = columns_[static_cast<size_t>(c)].type;
  if (v.type == SQLITE_NULL) {
    rf::PutEmpty(type.type, type.width, out);
    return 0;
  }
  switch (type.type) {
    case ADS_LOGICAL:
    case ADS_NUMERIC:
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
    case ADS_INTEGER:
    case ADS_SHORTINT:
    case ADS_AUTOINC:
      return EncodeNumberColumn(c, v, out);
    default:
      return EncodeTextColumn(c, v, out);
  }
}

UNSIGNED32 EngineTable::EncodeNumberColumn(int c, const Cell& v, uint8_t* out) {
  const ColumnType& type = columns_[static_cast<size_t>(c)].type;
  auto shown = [&]() { return Shown(v.type, v.integer, v.real, v.bytes, v.size); };
  const bool number = v.type == SQLITE_INTEGER || v.type == SQLITE_FLOAT;
  const double as_double = v.type == SQLITE_INTEGER ? static_cast<double>(v.integer) : v.real;
  int64_t x = 0;
  switch (type.type) {
    case ADS_LOGICAL:
      if (!IntegralIn(v.type, v.integer, v.real, 0, 1, &x)) {
        return ValueError(c, shown() + " is not a logical value (0 or 1)");
      }
      rf::PutLogical(x != 0, out);
      return 0;
    case ADS_NUMERIC: {
      if (!number) return ValueError(c, shown() + " is not a number");
      if (!std::isfinite(as_double)) return ValueError(c, shown() + " is not a finite number");
      const std::string text = v.type == SQLITE_INTEGER ? rf::NumericText(v.integer, type.decimals)
                                                        : rf::NumericText(v.real, type.decimals);
      if (!rf::PutNumericText(text, type.width, out)) {
        return ValueError(c, shown() + " does not fit NUMERIC(" + std::to_string(type.width) + "," +
                                 std::to_string(type.decimals) + ")");
      }
      return 0;
    }
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
      if (!number) return ValueError(c, shown() + " is not a number");
      rf::PutDouble(out, as_double);
      return 0;
    default: {
      const rf::IntegerRange range = rf::RangeOf(type.type);
      if (!IntegralIn(v.type, v.integer, v.real, range.low, range.high, &x)) {
        const char* what = type.type == ADS_SHORTINT  ? "a short integer"
                           : type.type == ADS_AUTOINC ? "an autoincrement value"
                                                      : "an integer";
        return ValueError(c, shown() + " is not " + what + " from " + std::to_string(range.low) + " to " +
                                 std::to_string(range.high));
      }
      if (type.type == ADS_SHORTINT) {
        rf::Put16(out, static_cast<uint16_t>(static_cast<int16_t>(x)));
      } else {
        rf::Put32(out, static_cast<uint32_t>(x));
      }
      return 0;
    }
  }
}

UNSIGNED32 EngineTable::EncodeTextColumn(int c, const Cell& v, uint8_t* out) {
  const ColumnType& type = columns_[static_cast<size_t>(c)].type;
  auto shown = [&]() { return Shown(v.type, v.integer, v.real, v.bytes, v.size); };
  const bool number = v.type == SQLITE_INTEGER || v.type == SQLITE_FLOAT;
  // A number stored in a text column stands for its text.
  const std::string converted = number ? CellText(v.type, v.integer, v.real, v.bytes, v.size) : std::string();
  const std::string_view text = number ? std::string_view(converted) : std::string_view(v.bytes, v.size);
  int64_t julian = 0;
  uint32_t ms = 0;
  switch (type.type) {
    case ADS_DATE:
      if (v.type != SQLITE_TEXT || !ParseIsoDate(std::string(text), &julian)) {
        return ValueError(c, shown() + " is not a valid date (YYYY-MM-DD)");
      }
      rf::PutDate(julian, out);
      return 0;
    case ADS_TIME:
      if (v.type != SQLITE_TEXT || !ParseIsoTime(std::string(text), &ms)) {
        return ValueError(c, shown() + " is not a valid time (HH:MM:SS or HH:MM:SS.sss)");
      }
      rf::PutTime(ms, out);
      return 0;
    case ADS_TIMESTAMP:
      if (v.type != SQLITE_TEXT || !ParseIsoTimestamp(std::string(text), &julian, &ms)) {
        return ValueError(c, shown() + " is not a valid timestamp (YYYY-MM-DD HH:MM:SS[.sss])");
      }
      rf::PutTimestamp(julian, ms, out);
      return 0;
    case ADS_STRING:
      if (v.type == SQLITE_BLOB) return ValueError(c, shown() + " is not text");
      rf::PutCharacter(text, type.width, out);
      return 0;
    case ADS_MEMO:
    case ADS_VARCHAR:
    case ADS_BINARY:
    case ADS_IMAGE:
      if ((type.type == ADS_MEMO || type.type == ADS_VARCHAR) && v.type == SQLITE_BLOB) {
        return ValueError(c, shown() + " is not text");
      }
      rf::PutBlockReference(text.size(), static_cast<UNSIGNED32>(c + 1), out);
      return 0;
    case ADS_RAW:
      if (text.size() > type.width) {
        return ValueError(c, shown() + " is longer than RAW(" + std::to_string(type.width) + ")");
      }
      if (!text.empty()) std::memcpy(out, text.data(), text.size());
      std::memset(out + text.size(), 0, type.width - text.size());
      return 0;
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
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
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
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
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
  if (UNSIGNED32 rc = RefuseHiddenRows()) return rc;
  text->clear();
  if (!HasRow()) return 0;
  Cell cell = CurrentCell(column);
  if (cell.type == SQLITE_NULL) return 0;
  const ColumnInfo& info = columns_[static_cast<size_t>(column)];
  std::vector<uint8_t>& raw = scratch_;
  raw.assign(info.type.width, 0);
  if (UNSIGNED32 rc = EncodeColumn(column, cell, raw.data())) return rc;
  if (rf::IsBlockType(info.type.type) || info.type.type == ADS_RAW) {
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
    case ADS_DATE: *text = FormatDateWithFormat(rf::Get32(raw.data()), Settings().date_format); break;
    case ADS_STRING: {
      std::string s(raw.begin(), raw.end());
      size_t end = s.find_last_not_of(std::string(" \0", 2));
      *text = end == std::string::npos ? "" : s.substr(0, end + 1);
      break;
    }
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
      std::snprintf(buffer, sizeof buffer, "%.15g", rf::GetDouble(raw.data()));
      *text = buffer;
      break;
    case ADS_INTEGER: *text = std::to_string(static_cast<int32_t>(rf::Get32(raw.data()))); break;
    case ADS_SHORTINT: *text = std::to_string(static_cast<int16_t>(raw[0] | (raw[1] << 8))); break;
    case ADS_AUTOINC: *text = std::to_string(rf::Get32(raw.data())); break;
    case ADS_TIME: *text = FormatIsoTime(rf::Get32(raw.data())); break;
    case ADS_TIMESTAMP:
      *text = FormatDateWithFormat(rf::Get32(raw.data()), Settings().date_format) + " " +
              FormatIsoTime(rf::Get32(raw.data() + 4));
      break;
    default: break;
  }
  return 0;
}

}  // namespace engine
