// Stored values to raw records, by the column-type table.
#include "engine/stored_values.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/record_format.h"

namespace engine {
namespace {

namespace rf = record_format;
using rf::Layout;

constexpr int kInteger = 1;
constexpr int kFloat = 2;
constexpr int kText = 3;
constexpr int kBlob = 4;
constexpr int kNull = 5;

bool IsNumber(const StoredCell& cell) { return cell.type == kInteger || cell.type == kFloat; }

// A whole number within `range`: kNone with `*out`, kNotWhole for anything
// that is no whole number, kOutOfRange for one outside.
[[nodiscard]] Misfit WholeIn(const StoredCell& cell, rf::IntegerRange range, int64_t* out) {
  if (cell.type == kInteger) {
    *out = cell.integer;
  } else if (cell.type == kFloat && std::isfinite(cell.real) && std::floor(cell.real) == cell.real &&
             std::fabs(cell.real) <= 9e18) {
    *out = static_cast<int64_t>(cell.real);
  } else {
    return Misfit::kNotWhole;
  }
  return *out < range.low || *out > range.high ? Misfit::kOutOfRange : Misfit::kNone;
}

[[nodiscard]] Misfit EncodeWhole(const ColumnTypeRow& row, const StoredCell& cell, uint8_t* out) {
  int64_t x = 0;
  const Misfit misfit = WholeIn(cell, row.range, &x);
  if (row.layout == Layout::kLogicalByte) {
    if (misfit != Misfit::kNone) return Misfit::kNotLogical;
    rf::PutLogical(x != 0, out);
    return Misfit::kNone;
  }
  if (misfit != Misfit::kNone) return misfit;
  if (row.layout == Layout::kInt16) {
    rf::Put16(out, static_cast<uint16_t>(static_cast<int16_t>(x)));
  } else {
    rf::Put32(out, static_cast<uint32_t>(x));
  }
  return Misfit::kNone;
}

[[nodiscard]] Misfit EncodeNumber(const ColumnType& type, const ColumnTypeRow& row, const StoredCell& cell, uint8_t* out) {
  if (!IsNumber(cell)) return Misfit::kNotNumber;
  const double as_double = cell.type == kInteger ? static_cast<double>(cell.integer) : cell.real;
  if (row.layout == Layout::kDouble) {
    rf::PutDouble(out, as_double);
    return Misfit::kNone;
  }
  if (!std::isfinite(as_double)) return Misfit::kNotFinite;
  const std::string text =
      cell.type == kInteger ? rf::NumericText(cell.integer, type.decimals) : rf::NumericText(cell.real, type.decimals);
  return rf::PutNumericText(text, type.width, out) ? Misfit::kNone : Misfit::kTooWide;
}

[[nodiscard]] Misfit EncodeDateTime(const ColumnTypeRow& row, const StoredCell& cell, uint8_t* out) {
  const std::string_view text(cell.bytes, cell.size);
  const bool is_text = cell.type == kText;
  int64_t julian = 0;
  uint32_t ms = 0;
  switch (row.layout) {
    case Layout::kJulianDay:
      if (!is_text || !ParseIsoDate(text, &julian)) return Misfit::kNotDate;
      rf::PutDate(julian, out);
      return Misfit::kNone;
    case Layout::kMilliseconds:
      if (!is_text || !ParseIsoTime(text, &ms)) return Misfit::kNotTime;
      rf::PutTime(ms, out);
      return Misfit::kNone;
    default:
      if (!is_text || !ParseIsoTimestamp(text, &julian, &ms)) return Misfit::kNotTimestamp;
      rf::PutTimestamp(julian, ms, out);
      return Misfit::kNone;
  }
}

// Character, block-referenced and raw columns: the value's bytes (a number's
// text).
[[nodiscard]] Misfit EncodeBytes(const ColumnType& type, const ColumnTypeRow& row, UNSIGNED32 column_number,
                   const StoredCell& cell, uint8_t* out) {
  const bool wants_text = row.stored == StoredForm::kCharacter || row.stored == StoredForm::kText;
  if (wants_text && cell.type == kBlob) return Misfit::kNotText;
  const std::string converted = IsNumber(cell) ? StoredText(cell) : std::string();
  const std::string_view text = IsNumber(cell) ? std::string_view(converted) : std::string_view(cell.bytes, cell.size);
  switch (row.layout) {
    case Layout::kCharacter: rf::PutCharacter(text, type.width, out); return Misfit::kNone;
    case Layout::kBlockReference: rf::PutBlockReference(text.size(), column_number, out); return Misfit::kNone;
    default:
      if (text.size() > type.width) return Misfit::kTooLong;
      if (!text.empty()) std::memcpy(out, text.data(), text.size());
      std::memset(out + text.size(), 0, type.width - text.size());
      return Misfit::kNone;
  }
}

StoredCell CellOf(const StoredValue& value) {
  StoredCell cell;
  switch (value.kind) {
    case StoredValue::Kind::kNull: cell.type = kNull; break;
    case StoredValue::Kind::kInteger: cell.type = kInteger; break;
    case StoredValue::Kind::kReal: cell.type = kFloat; break;
    case StoredValue::Kind::kText: cell.type = kText; break;
    case StoredValue::Kind::kBlob: cell.type = kBlob; break;
  }
  cell.integer = value.integer;
  cell.real = value.real;
  cell.bytes = value.text.data();
  cell.size = value.text.size();
  return cell;
}

}  // namespace

std::string StoredText(const StoredCell& cell) {
  char buffer[64];
  switch (cell.type) {
    case kInteger:
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(cell.integer));
      return buffer;
    case kFloat:
      std::snprintf(buffer, sizeof buffer, "%.15g", cell.real);
      return buffer;
    case kNull: return "";
    default: return std::string(cell.bytes, cell.size);
  }
}

Misfit EncodeStored(const ColumnType& type, UNSIGNED32 column_number, const StoredCell& cell, uint8_t* out) {
  if (cell.type == kNull) {
    rf::PutEmpty(type.type, type.width, out);
    return Misfit::kNone;
  }
  const ColumnTypeRow* row = FindColumnType(type.type);
  if (row == nullptr || row->stored == StoredForm::kNone) return Misfit::kNoStoredForm;
  switch (row->layout) {
    case Layout::kLogicalByte:
    case Layout::kInt32:
    case Layout::kInt16:
    case Layout::kUInt32: return EncodeWhole(*row, cell, out);
    case Layout::kNumericText:
    case Layout::kDouble: return EncodeNumber(type, *row, cell, out);
    case Layout::kJulianDay:
    case Layout::kMilliseconds:
    case Layout::kDayAndMilliseconds: return EncodeDateTime(*row, cell, out);
    case Layout::kCharacter:
    case Layout::kBlockReference:
    case Layout::kRawBytes: return EncodeBytes(type, *row, column_number, cell, out);
    case Layout::kCompactDate: break;
  }
  return Misfit::kNoStoredForm;
}

std::string MisfitText(Misfit misfit, const ColumnType& type, const std::string& shown) {
  const ColumnTypeRow* row = FindColumnType(type.type);
  switch (misfit) {
    case Misfit::kNone: return "";
    case Misfit::kNotLogical: return shown + " is not a logical value (0 or 1)";
    case Misfit::kNotNumber: return shown + " is not a number";
    case Misfit::kNotFinite: return shown + " is not a finite number";
    case Misfit::kTooWide:
      return shown + " does not fit NUMERIC(" + std::to_string(type.width) + "," + std::to_string(type.decimals) + ")";
    case Misfit::kNotWhole:
    case Misfit::kOutOfRange:
      return shown + " is not " + row->value_noun + " from " + std::to_string(row->range.low) + " to " +
             std::to_string(row->range.high);
    case Misfit::kNotDate: return shown + " is not a valid date (YYYY-MM-DD)";
    case Misfit::kNotTime: return shown + " is not a valid time (HH:MM:SS or HH:MM:SS.sss)";
    case Misfit::kNotTimestamp: return shown + " is not a valid timestamp (YYYY-MM-DD HH:MM:SS[.sss])";
    case Misfit::kNotText: return shown + " is not text";
    case Misfit::kTooLong: return shown + " is longer than RAW(" + std::to_string(type.width) + ")";
    case Misfit::kNotBytes: return shown + " is not a BLOB";
    case Misfit::kTrailingBlanks: return shown + " ends in blanks";
    case Misfit::kNoStoredForm: break;
  }
  return "column type " + std::to_string(type.type) + " cannot be encoded";
}

Misfit StoredMisfit(const ColumnType& type, const StoredValue& value) {
  if (value.kind == StoredValue::Kind::kNull) return Misfit::kNone;
  const ColumnTypeRow* row = FindColumnType(type.type);
  if (row == nullptr || row->stored == StoredForm::kNone) return Misfit::kNoStoredForm;
  if (row->stored == StoredForm::kBytes && value.kind != StoredValue::Kind::kBlob) return Misfit::kNotBytes;
  const StoredCell cell = CellOf(value);
  thread_local std::vector<uint8_t> scratch;
  scratch.resize(type.width);
  if (const Misfit misfit = EncodeStored(type, 1, cell, scratch.data()); misfit != Misfit::kNone) return misfit;
  if (row->stored != StoredForm::kCharacter && row->stored != StoredForm::kText) return Misfit::kNone;
  const std::string text = IsNumber(cell) && value.text.empty() ? StoredText(cell) : value.text;
  if (row->stored == StoredForm::kCharacter && !text.empty() && text.back() == ' ') return Misfit::kTrailingBlanks;
  if (row->bounded && text.size() > type.declared_width) return Misfit::kTooLong;
  return Misfit::kNone;
}

}  // namespace engine
