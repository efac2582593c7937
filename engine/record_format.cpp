#include "engine/record_format.h"

#include <cstdio>
#include <cstring>

#include "engine/schema.h"

namespace record_format {

namespace {

// The column-type table's row of `type` (engine/schema.h).
const engine::ColumnTypeRow* RowOf(UNSIGNED16 type) { return engine::FindColumnType(type); }

}  // namespace

IntegerRange RangeOf(UNSIGNED16 type) {
  const engine::ColumnTypeRow* row = RowOf(type);
  return row != nullptr && row->stored == engine::StoredForm::kWhole ? row->range : kIntegerRange;
}

Layout LayoutOf(UNSIGNED16 type) {
  const engine::ColumnTypeRow* row = RowOf(type);
  return row != nullptr ? row->layout : Layout::kRawBytes;
}

bool IsBlockType(UNSIGNED16 type) { return LayoutOf(type) == Layout::kBlockReference; }

void PutEmpty(UNSIGNED16 type, UNSIGNED32 width, uint8_t* out) {
  std::memset(out, 0, width);
  const engine::ColumnTypeRow* row = RowOf(type);
  switch (row != nullptr ? row->empty : EmptyMark::kZeros) {
    case EmptyMark::kZeros:
    case EmptyMark::kZeroDay: break;
    case EmptyMark::kBlank: out[0] = ' '; break;
    case EmptyMark::kDoubleMark:
      Put32(out, kEmptyDoubleLow);
      Put32(out + 4, kEmptyDoubleHigh);
      break;
    case EmptyMark::kInt32Mark: Put32(out, kEmptyInteger); break;
    case EmptyMark::kInt16Mark: Put16(out, kEmptyShort); break;
    case EmptyMark::kAllOnes32: Put32(out, 0xFFFFFFFFu); break;
  }
}

bool IsEmpty(UNSIGNED16 type, UNSIGNED32 width, const uint8_t* p) {
  const engine::ColumnTypeRow* row = RowOf(type);
  switch (row != nullptr ? row->empty : EmptyMark::kZeros) {
    case EmptyMark::kBlank: return p[0] == ' ';
    case EmptyMark::kDoubleMark: return Get32(p) == kEmptyDoubleLow && Get32(p + 4) == kEmptyDoubleHigh;
    case EmptyMark::kInt32Mark: return Get32(p) == kEmptyInteger;
    case EmptyMark::kInt16Mark: return Get16(p) == kEmptyShort;
    case EmptyMark::kAllOnes32: return Get32(p) == 0xFFFFFFFFu;
    case EmptyMark::kZeroDay: return Get32(p) == 0;
    case EmptyMark::kZeros: break;
  }
  for (UNSIGNED32 i = 0; i < width; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

void PutLogical(bool value, uint8_t* out) { out[0] = value ? 'T' : 'F'; }

bool LogicalValue(uint8_t byte) {
  return byte == '1' || byte == 'T' || byte == 't' || byte == 'Y' || byte == 'y';
}

size_t PutCharacter(std::string_view text, UNSIGNED32 width, uint8_t* out) {
  if (text.empty()) {
    std::memset(out, 0, width);
    return 0;
  }
  const size_t n = text.size() < width ? text.size() : width;
  std::memcpy(out, text.data(), n);
  std::memset(out + n, ' ', width - n);
  return n;
}

std::string CharacterText(const uint8_t* p, UNSIGNED32 width) {
  // Trailing blanks and NULs are padding; a NUL inside the text is part of
  // it, so that nothing after it is lost (the exports write it as a blank).
  size_t n = width;
  // Eight bytes at a time while they are all padding: a byte ORed with a
  // blank is a blank exactly when it is a blank or a NUL.
  constexpr uint64_t kBlanks = 0x2020202020202020u;
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, p + n - 8, 8);
    if ((word | kBlanks) != kBlanks) break;
    n -= 8;
  }
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::string NumericText(int64_t value, UNSIGNED16 decimals) {
  std::string text = std::to_string(value);
  if (decimals > 0) text += "." + std::string(decimals, '0');
  return text;
}

std::string NumericText(double value, UNSIGNED16 decimals) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(decimals), value);
  std::string text = buffer;
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

bool PutNumericText(std::string_view text, UNSIGNED32 width, uint8_t* out) {
  if (text.size() > width) return false;
  std::memset(out, ' ', width - text.size());
  std::memcpy(out + (width - text.size()), text.data(), text.size());
  return true;
}

std::string NumericColumnText(const uint8_t* p, UNSIGNED32 width) {
  size_t end = 0;
  while (end < width && p[end] != 0) ++end;
  size_t begin = 0;
  while (begin < end && p[begin] == ' ') ++begin;
  while (end > begin && p[end - 1] == ' ') --end;
  return std::string(reinterpret_cast<const char*>(p) + begin, end - begin);
}

void PutDate(int64_t julian, uint8_t* out) { Put32(out, static_cast<uint32_t>(julian)); }

void PutTime(uint32_t milliseconds, uint8_t* out) { Put32(out, milliseconds); }

void PutTimestamp(int64_t julian, uint32_t milliseconds, uint8_t* out) {
  Put32(out, static_cast<uint32_t>(julian));
  Put32(out + 4, milliseconds);
}

int32_t GetDate(const uint8_t* p) { return static_cast<int32_t>(Get32(p)); }

uint32_t GetTime(const uint8_t* p) { return Get32(p); }

void PutBlockReference(uint64_t length, UNSIGNED32 column_number, uint8_t* out) {
  if (length == 0) {
    std::memset(out, 0, kBlockReferenceWidth);
    return;
  }
  Put32(out, length >= 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(length + 1));
  Put32(out + 4, column_number);
}

}  // namespace record_format
