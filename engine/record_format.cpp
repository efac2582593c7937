#include "engine/record_format.h"

#include <cstdio>
#include <cstring>

namespace record_format {

IntegerRange RangeOf(UNSIGNED16 type) {
  switch (type) {
    case ADS_SHORTINT: return kShortRange;
    case ADS_AUTOINC: return kAutoincRange;
    default: return kIntegerRange;
  }
}

bool IsBlockType(UNSIGNED16 type) {
  return type == ADS_MEMO || type == ADS_VARCHAR || type == ADS_BINARY || type == ADS_IMAGE;
}

void PutEmpty(UNSIGNED16 type, UNSIGNED32 width, uint8_t* out) {
  std::memset(out, 0, width);
  switch (type) {
    case ADS_LOGICAL: out[0] = ' '; break;
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
      Put32(out, kEmptyDoubleLow);
      Put32(out + 4, kEmptyDoubleHigh);
      break;
    case ADS_INTEGER: Put32(out, kEmptyInteger); break;
    case ADS_SHORTINT: Put16(out, kEmptyShort); break;
    case ADS_TIME: Put32(out, kEmptyTime); break;
    case ADS_AUTOINC: Put32(out, kEmptyAutoinc); break;
    default: break;
  }
}

bool IsEmpty(UNSIGNED16 type, UNSIGNED32 width, const uint8_t* p) {
  switch (type) {
    case ADS_LOGICAL: return p[0] == ' ';
    case ADS_DOUBLE:
    case ADS_CURDOUBLE: return Get32(p) == kEmptyDoubleLow && Get32(p + 4) == kEmptyDoubleHigh;
    case ADS_INTEGER: return Get32(p) == kEmptyInteger;
    case ADS_SHORTINT: return Get16(p) == kEmptyShort;
    case ADS_TIME: return Get32(p) == kEmptyTime;
    case ADS_AUTOINC: return Get32(p) == kEmptyAutoinc;
    case ADS_TIMESTAMP: return Get32(p) == 0;
    default:
      for (UNSIGNED32 i = 0; i < width; ++i) {
        if (p[i] != 0) return false;
      }
      return true;
  }
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
