// The raw record format: how each column type is laid out in a record buffer
// and in an index key, and what its empty value looks like. Numbers are
// little-endian whatever the machine; this file is the one place that says
// so. The engine encodes rows and decodes keys with these functions, the
// data layer decodes records and encodes keys with them, and kdx-db checks
// stored values against the same ranges, so a change of the format is made
// here and nowhere else. docs/database-format.md describes the format.
//
// Encoding functions write exactly the column's width at `out`; decoding
// functions read exactly the column's width at `p`. Nothing here keeps state.
#ifndef KDX_ENGINE_RECORD_FORMAT_H_
#define KDX_ENGINE_RECORD_FORMAT_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/ads.h"

namespace record_format {

// Bytes of the block reference that stands for a memo, varchar, binary or
// image value in a raw record (all zero when the value is empty).
constexpr UNSIGNED32 kBlockReferenceWidth = 8;

// The empty encodings. A double's empty value is a NaN pattern no
// arithmetic produces: low 32 bits 32, high 32 bits 0x80000000.
constexpr uint32_t kEmptyInteger = 0x80000000u;
constexpr uint16_t kEmptyShort = 0x8000u;
constexpr uint32_t kEmptyTime = 0xFFFFFFFFu;
constexpr uint32_t kEmptyAutoinc = 0xFFFFFFFFu;
constexpr uint32_t kEmptyDoubleLow = 32;
constexpr uint32_t kEmptyDoubleHigh = 0x80000000u;

// The whole numbers each integer type holds; the value one past an end is
// the empty mark.
struct IntegerRange {
  int64_t low;
  int64_t high;
};
constexpr IntegerRange kIntegerRange{-2147483647LL, 2147483647LL};
constexpr IntegerRange kShortRange{-32767, 32767};
constexpr IntegerRange kAutoincRange{0, 0xFFFFFFFELL};
// The range of a whole-number type (the column-type table of schema.h);
// kIntegerRange for any other type.
IntegerRange RangeOf(UNSIGNED16 type);

// How a column type lays its value out in a raw record and in a key; each
// ADS_* type has one (the column-type table of engine/schema.h). Code that
// reads or writes raw values switches on the layout, not on the type.
enum class Layout : uint8_t {
  kLogicalByte,         // 'T' or 'F'
  kNumericText,         // decimal text, right-aligned with blanks
  kJulianDay,           // 32-bit Julian day number
  kCompactDate,         // 3 bytes: big-endian word (year << 1 | month >> 3), then month << 5 | day
  kCharacter,           // the text blank-padded to the width
  kBlockReference,      // 32-bit length + 1, 32-bit column number; the value itself elsewhere
  kDouble,              // 64-bit IEEE double
  kInt32,               // 32-bit signed
  kInt16,               // 16-bit signed
  kUInt32,              // 32-bit unsigned
  kMilliseconds,        // 32-bit milliseconds since midnight
  kDayAndMilliseconds,  // 32-bit Julian day, then 32-bit milliseconds
  kRawBytes,            // the bytes, zero-padded
};

// What a column type's empty value looks like.
enum class EmptyMark : uint8_t {
  kZeros,       // all bytes zero
  kBlank,       // a blank
  kDoubleMark,  // low 32 bits kEmptyDoubleLow, high 32 bits kEmptyDoubleHigh
  kInt32Mark,   // kEmptyInteger
  kInt16Mark,   // kEmptyShort
  kAllOnes32,   // 0xFFFFFFFF (kEmptyTime, kEmptyAutoinc)
  kZeroDay,     // all bytes zero; read as empty whenever the day (first 32 bits) is zero
};

// The layout of an engine type; kRawBytes for a code that is no engine type.
Layout LayoutOf(UNSIGNED16 type);

// Whether the column type stores its value outside the record, behind a
// block reference (memo, varchar, binary, image).
bool IsBlockType(UNSIGNED16 type);

// ---- byte order (inline: every column of every record goes through them) ---
inline void Put16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}
inline void Put32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutDouble(uint8_t* out, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  Put32(out, static_cast<uint32_t>(bits));
  Put32(out + 4, static_cast<uint32_t>(bits >> 32));
}
inline double GetDouble(const uint8_t* p) {
  const uint64_t bits = Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
  double value;
  std::memcpy(&value, &bits, 8);
  return value;
}

// ---- empty values ------------------------------------------------------------
// Writes the empty value of a column of `type` and `width`.
void PutEmpty(UNSIGNED16 type, UNSIGNED32 width, uint8_t* out);
// Whether the bytes are the empty value of a column of `type`. For block
// types an all-zero reference; whether the value behind a reference is empty
// is the engine's to tell.
bool IsEmpty(UNSIGNED16 type, UNSIGNED32 width, const uint8_t* p);

// ---- typed values ------------------------------------------------------------
// Logical: 'T' or 'F'; read back true for '1', 'T', 't', 'Y' or 'y'.
void PutLogical(bool value, uint8_t* out);
bool LogicalValue(uint8_t byte);

// Character: the text blank-padded to the width, cut to the width when
// longer; an empty text is all zeros (the empty value). Returns the number
// of text bytes written.
size_t PutCharacter(std::string_view text, UNSIGNED32 width, uint8_t* out);
// The text of a character column: its bytes without the trailing blanks and
// zero bytes that pad it (a zero byte inside the text is kept).
std::string CharacterText(const uint8_t* p, UNSIGNED32 width);

// Numeric: decimal text with `decimals` digits after the point, right-aligned
// with blanks, '.' as point, no exponent and no sign on a zero.
std::string NumericText(int64_t value, UNSIGNED16 decimals);
std::string NumericText(double value, UNSIGNED16 decimals);
// Writes a numeric text right-aligned; false (nothing written) when it is
// wider than the column.
[[nodiscard]] bool PutNumericText(std::string_view text, UNSIGNED32 width, uint8_t* out);
// The numeric column's text without its blanks (up to the first zero byte);
// its parsing is the caller's, whose number syntax it is.
std::string NumericColumnText(const uint8_t* p, UNSIGNED32 width);

// Dates are Julian day numbers; times milliseconds since midnight; a
// timestamp is the day followed by the milliseconds.
void PutDate(int64_t julian, uint8_t* out);
void PutTime(uint32_t milliseconds, uint8_t* out);
void PutTimestamp(int64_t julian, uint32_t milliseconds, uint8_t* out);
int32_t GetDate(const uint8_t* p);
uint32_t GetTime(const uint8_t* p);

// Block reference: the value's length + 1 (saturated at 0xFFFFFFFF) and the
// 1-based column number; all zeros for an empty value.
void PutBlockReference(uint64_t length, UNSIGNED32 column_number, uint8_t* out);

}  // namespace record_format

#endif  // KDX_ENGINE_RECORD_FORMAT_H_
