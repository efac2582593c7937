// Server text-format values to SQLite storage forms.
#include "engine/pg_values.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdint>

#include "engine/schema.h"

namespace engine {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void SetText(const char* bytes, size_t size, ResultCell* cell) {
  cell->type = SQLITE_TEXT;
  cell->bytes = bytes;
  cell->size = size;
}

bool Fail(std::string* why, std::string_view value, const char* what) {
  *why = "'" + std::string(value.substr(0, 60)) + "' " + what;
  return false;
}

bool ToInteger(std::string_view v, ResultCell* cell, std::string* why) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (ec != std::errc() || end != v.data() + v.size()) return Fail(why, v, "is not a whole number of 64 bits");
  cell->type = SQLITE_INTEGER;
  cell->integer = value;
  return true;
}

// A decimal number without exponent ("-12.50"): INTEGER when its value is
// whole and fits 64 bits, else the nearest double.
bool ToExactNumber(std::string_view v, ResultCell* cell, std::string* why) {
  size_t i = (!v.empty() && v[0] == '-') ? 1 : 0;
  const size_t digits_start = i;
  while (i < v.size() && IsDigit(v[i])) ++i;
  const size_t integral_end = i;
  bool whole = true;
  if (i < v.size() && v[i] == '.') {
    for (++i; i < v.size() && IsDigit(v[i]); ++i) whole = whole && v[i] == '0';
  }
  if (i != v.size() || integral_end == digits_start) {
    return Fail(why, v, "is not a finite decimal number");  // NaN, Infinity, garbage
  }
  if (whole) {
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + integral_end, value);
    if (ec == std::errc() && end == v.data() + integral_end) {
      cell->type = SQLITE_INTEGER;
      cell->integer = value;
      return true;
    }
  }
  double value = 0;
  std::from_chars(v.data(), v.data() + v.size(), value);  // syntax checked above
  cell->type = SQLITE_FLOAT;
  cell->real = value;
  return true;
}

// Money as the server writes it under lc_monetary 'C': "-$1,234.50".
bool ToMoney(std::string_view v, std::string* scratch, ResultCell* cell, std::string* why) {
  scratch->clear();
  size_t i = 0;
  if (i < v.size() && v[i] == '-') scratch->push_back(v[i++]);
  if (i >= v.size() || v[i] != '$') return Fail(why, v, "is not an amount of money in the C locale");
  for (++i; i < v.size(); ++i) {
    if (v[i] != ',') scratch->push_back(v[i]);
  }
  if (!ToExactNumber(*scratch, cell, why)) return Fail(why, v, "is not an amount of money in the C locale");
  return true;
}

bool ToReal(std::string_view v, ResultCell* cell, std::string* why) {
  double value = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (ec != std::errc() || end != v.data() + v.size()) return Fail(why, v, "is not a double");
  if (std::isnan(value)) return Fail(why, v, "(not a number) cannot be stored");
  cell->type = SQLITE_FLOAT;
  cell->real = value;
  return true;
}

bool CheckDate(std::string_view v, std::string* why) {
  int64_t julian = 0;
  if (v.size() != 10 || !ParseIsoDate(std::string(v), &julian)) {
    return Fail(why, v, "is not a date of years 1 to 9999");
  }
  return true;
}

// Appends 'HH:MM:SS' and '.sss' (only when the milliseconds are not zero) of
// a server time 'HH:MM:SS[.ffffff]', the fraction cut to milliseconds.
bool AppendTime(std::string_view v, std::string* out, std::string* why) {
  const bool shape = v.size() >= 8 && IsDigit(v[0]) && IsDigit(v[1]) && v[2] == ':' && IsDigit(v[3]) &&
                     IsDigit(v[4]) && v[5] == ':' && IsDigit(v[6]) && IsDigit(v[7]);
  if (!shape || v.substr(0, 2) > "23" || v.substr(3, 2) > "59" || v.substr(6, 2) > "59") {
    return Fail(why, v, "is not a time of day (00:00:00 to 23:59:59.999)");
  }
  std::string milliseconds;
  if (v.size() > 8) {
    if (v[8] != '.' || v.size() == 9 || v.size() > 15) return Fail(why, v, "is not a time of day");
    for (size_t i = 9; i < v.size(); ++i) {
      if (!IsDigit(v[i])) return Fail(why, v, "is not a time of day");
      if (i < 12) milliseconds.push_back(v[i]);
    }
    milliseconds.resize(3, '0');
  }
  out->append(v.substr(0, 8));
  if (!milliseconds.empty() && milliseconds != "000") out->append("." + milliseconds);
  return true;
}

bool ToTimestamp(std::string_view v, std::string* scratch, ResultCell* cell, std::string* why) {
  if (v.size() < 19 || v[10] != ' ' || !CheckDate(v.substr(0, 10), why)) {
    return Fail(why, v, "is not a date and time of years 1 to 9999");
  }
  scratch->assign(v.substr(0, 11));
  if (!AppendTime(v.substr(11), scratch, why)) return Fail(why, v, "is not a date and time of years 1 to 9999");
  SetText(scratch->data(), scratch->size(), cell);
  return true;
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ToBytes(std::string_view v, std::string* scratch, ResultCell* cell, std::string* why) {
  if (v.size() < 2 || v[0] != '\\' || v[1] != 'x' || v.size() % 2 != 0) {
    return Fail(why, v, "is not bytea in hex format");
  }
  scratch->clear();
  for (size_t i = 2; i < v.size(); i += 2) {
    const int high = HexValue(v[i]);
    const int low = HexValue(v[i + 1]);
    if (high < 0 || low < 0) return Fail(why, v, "is not bytea in hex format");
    scratch->push_back(static_cast<char>(high * 16 + low));
  }
  cell->type = SQLITE_BLOB;
  cell->bytes = scratch->data();
  cell->size = scratch->size();
  return true;
}

}  // namespace

bool ToStoredForm(PgValueForm form, const char* text, size_t size, std::string* scratch, ResultCell* cell,
                  std::string* why) {
  *cell = ResultCell();
  if (text == nullptr) {
    cell->type = SQLITE_NULL;
    return true;
  }
  const std::string_view v(text, size);
  switch (form) {
    case PgValueForm::kLogical:
      if (v != "t" && v != "f") return Fail(why, v, "is not a boolean");
      cell->type = SQLITE_INTEGER;
      cell->integer = v == "t" ? 1 : 0;
      return true;
    case PgValueForm::kInteger: return ToInteger(v, cell, why);
    case PgValueForm::kExactNumber: return ToExactNumber(v, cell, why);
    case PgValueForm::kMoneyText: return ToMoney(v, scratch, cell, why);
    case PgValueForm::kReal: return ToReal(v, cell, why);
    case PgValueForm::kDate:
      if (!CheckDate(v, why)) return false;
      SetText(text, size, cell);
      return true;
    case PgValueForm::kTime:
      scratch->clear();
      if (!AppendTime(v, scratch, why)) return false;
      SetText(scratch->data(), scratch->size(), cell);
      return true;
    case PgValueForm::kTimestamp: return ToTimestamp(v, scratch, cell, why);
    case PgValueForm::kCharacter: {
      size_t end = size;
      while (end > 0 && text[end - 1] == ' ') --end;
      SetText(text, end, cell);
      return true;
    }
    case PgValueForm::kText: SetText(text, size, cell); return true;
    case PgValueForm::kBytea: return ToBytes(v, scratch, cell, why);
  }
  return Fail(why, v, "has an unknown form");
}

std::string ByteaParameterText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "\\x";
  text.reserve(2 + bytes.size() * 2);
  for (unsigned char c : bytes) {
    text.push_back(kHex[c >> 4]);
    text.push_back(kHex[c & 15]);
  }
  return text;
}

}  // namespace engine
