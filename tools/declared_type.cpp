#include "tools/declared_type.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "engine/record_format.h"
#include "util/ascii.h"

namespace {

using engine::ColumnType;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int ToInt(std::string_view s) {
  int v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.sss" (the hour may have one digit) to the
// stored "HH:MM:SS[.sss]", a time the engine reads.
bool NormalizeTime(std::string_view text, std::string* out) {
  std::string time(text);
  if (time.find(':') == 1) time.insert(0, "0");
  if (time.size() == 5) time += ":00";
  uint32_t milliseconds = 0;
  if (!engine::ParseIsoTime(time, &milliseconds)) return false;
  *out = std::move(time);
  return true;
}

// Plain decimal text: optional sign, digits, optional "." and digits.
bool ParseDecimal(std::string_view s, int* int_digits, int* frac_digits, bool* negative) {
  *negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    *negative = s[0] == '-';
    s.remove_prefix(1);
  }
  const size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (whole.empty() && frac.empty()) return false;
  if (!whole.empty() && !AllDigits(whole)) return false;
  if (dot != std::string_view::npos && !frac.empty() && !AllDigits(frac)) return false;
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  *int_digits = static_cast<int>(whole.empty() ? 1 : whole.size());
  *frac_digits = static_cast<int>(frac.size());
  return true;
}

bool ParseDouble(std::string_view s, double* out) {
  const std::string text(s);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  *out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(*out);
}

bool ParseInteger(std::string_view s, int64_t* out) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && ptr == s.data() + s.size() && !s.empty();
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// Characters a NUMERIC column needs for a number with `decimals` decimals,
// written as the engine writes it into the record.
size_t NumericWidth(bool whole, int64_t integer, double real, int decimals) {
  const UNSIGNED16 d = static_cast<UNSIGNED16>(decimals);
  return (whole ? record_format::NumericText(integer, d) : record_format::NumericText(real, d)).size();
}

bool NumericFits(const ColumnType& type, bool whole, int64_t integer, double real) {
  return NumericWidth(whole, integer, real, type.decimals) <= type.declared_width;
}

// The whole numbers a column of an integer type holds; the value one past
// each end is the record's mark of an empty field.
bool IntegerRange(const ColumnType& type, int64_t v, std::string* why, std::string_view text) {
  const record_format::IntegerRange range = record_format::RangeOf(type.type);
  const int64_t lo = range.low;
  const int64_t hi = range.high;
  if (v < lo || v > hi) {
    *why = fmt::format("{} is outside the range {} to {} of the column", Quoted(text), lo, hi);
    return false;
  }
  return true;
}

std::string TooLong(std::string_view text, const ColumnType& type) {
  return fmt::format("{} is {} characters long; the column holds {}", Quoted(text), text.size(),
                     type.declared_width);
}

bool TimestampText(std::string_view text, std::string* out) {
  size_t sep = text.find_first_of(" T");
  std::string date, time = "00:00:00";
  if (!NormalizeDate(text.substr(0, sep), &date)) return false;
  if (sep != std::string_view::npos) {
    std::string_view rest = Trim(text.substr(sep + 1));
    if (!NormalizeTime(rest, &time)) return false;
  }
  *out = date + " " + time;
  return true;
}

// A stored number that is whole (an INTEGER, or a REAL without fraction, as
// the engine reads both); false for anything else.
bool StoredWholeNumber(sqlite3_value* value, int64_t* out) {
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_INTEGER) {
    *out = sqlite3_value_int64(value);
    return true;
  }
  if (storage != SQLITE_FLOAT) return false;
  const double real = sqlite3_value_double(value);
  if (!std::isfinite(real) || std::floor(real) != real || std::fabs(real) > 9e18) return false;
  *out = static_cast<int64_t>(real);
  return true;
}

}  // namespace

bool ParseColumnType(const std::string& declared, ColumnType* type, std::string* why) {
  if (engine::ParseDeclaredType(declared, type, why)) return true;
  *why += " (a column is declared LOGICAL, NUMERIC(w,d), DATE, CHAR(n), MEMO, BLOB, IMAGE, VARCHAR(n), DOUBLE, "
          "INTEGER, SHORTINT, TIME, TIMESTAMP, AUTOINC, RAW(n) or MONEY)";
  return false;
}

bool NormalizeDate(std::string_view text, std::string* iso) {
  int64_t julian = 0;
  if (engine::ParseIsoDate(std::string(text), &julian)) {
    *iso = std::string(text);
    return true;
  }
  // D/M/YYYY, day and month with one or two digits.
  const size_t a = text.find('/');
  const size_t b = a == std::string_view::npos ? a : text.find('/', a + 1);
  if (b == std::string_view::npos) return false;
  const std::string_view ds = text.substr(0, a), ms = text.substr(a + 1, b - a - 1), ys = text.substr(b + 1);
  if (!AllDigits(ds) || ds.size() > 2 || !AllDigits(ms) || ms.size() > 2 || !AllDigits(ys) || ys.size() != 4) {
    return false;
  }
  std::string candidate = fmt::format("{}-{:02d}-{:02d}", ys, ToInt(ms), ToInt(ds));
  if (!engine::ParseIsoDate(candidate, &julian)) return false;
  *iso = std::move(candidate);
  return true;
}

bool ConvertUserValue(const ColumnType& type, std::string_view text, StoredValue* value, std::string* why) {
  using K = StoredValue::Kind;
  *value = StoredValue();
  if (type.type != ADS_STRING && type.type != ADS_VARCHAR && type.type != ADS_MEMO) text = Trim(text);
  if (text.empty()) return true;  // NULL, the empty value
  switch (type.type) {
    case ADS_LOGICAL: {
      const std::string u = ToUpperAscii(text);
      if (u == "Y" || u == "T" || u == "TRUE" || u == "YES" || u == "1" || u == ".T.") {
        value->kind = K::kInteger;
        value->integer = 1;
        return true;
      }
      if (u == "N" || u == "F" || u == "FALSE" || u == "NO" || u == "0" || u == ".F.") {
        value->kind = K::kInteger;
        value->integer = 0;
        return true;
      }
      *why = fmt::format("{} is not a logical value (use Y or N, T or F, TRUE or FALSE, 1 or 0)", Quoted(text));
      return false;
    }
    case ADS_NUMERIC: {
      int int_digits = 0, frac_digits = 0;
      bool negative = false;
      if (!ParseDecimal(text, &int_digits, &frac_digits, &negative)) {
        *why = fmt::format("{} is not a number (write it like 1234.50, with a point)", Quoted(text));
        return false;
      }
      if (frac_digits > type.decimals) {
        *why = fmt::format("{} has more than the {} decimals of the column", Quoted(text), type.decimals);
        return false;
      }
      double v = 0;
      ParseDouble(text, &v);
      const bool whole = frac_digits == 0 && int_digits < 19;
      if (whole) ParseInteger(text, &value->integer);
      if (!NumericFits(type, whole, value->integer, v)) {
        *why = fmt::format("{} is wider than the column's NUMERIC({},{})", Quoted(text), type.declared_width,
                           type.decimals);
        return false;
      }
      value->kind = whole ? K::kInteger : K::kReal;
      if (!whole) value->real = v;
      return true;
    }
    case ADS_DOUBLE:
    case ADS_CURDOUBLE: {
      double v = 0;
      if (!ParseDouble(text, &v)) {
        *why = fmt::format("{} is not a number (write it like 1234.50, with a point)", Quoted(text));
        return false;
      }
      value->kind = K::kReal;
      value->real = v;
      return true;
    }
    case ADS_INTEGER:
    case ADS_SHORTINT:
    case ADS_AUTOINC: {
      int64_t v = 0;
      if (!ParseInteger(text, &v)) {
        *why = fmt::format("{} is not a whole number", Quoted(text));
        return false;
      }
      if (!IntegerRange(type, v, why, text)) return false;
      value->kind = K::kInteger;
      value->integer = v;
      return true;
    }
    case ADS_DATE:
      value->kind = K::kText;
      if (!NormalizeDate(text, &value->text)) {
        *why = fmt::format("{} is not a valid date (write YYYY-MM-DD or DD/MM/YYYY)", Quoted(text));
        return false;
      }
      return true;
    case ADS_TIME:
      value->kind = K::kText;
      if (!NormalizeTime(text, &value->text)) {
        *why = fmt::format("{} is not a valid time (write HH:MM or HH:MM:SS)", Quoted(text));
        return false;
      }
      return true;
    case ADS_TIMESTAMP:
      value->kind = K::kText;
      if (!TimestampText(text, &value->text)) {
        *why = fmt::format("{} is not a valid date and time (write YYYY-MM-DD HH:MM:SS or DD/MM/YYYY HH:MM:SS)",
                           Quoted(text));
        return false;
      }
      return true;
    case ADS_STRING:
      while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
      if (text.size() > type.declared_width) {
        *why = TooLong(text, type);
        return false;
      }
      if (text.empty()) return true;
      value->kind = K::kText;
      value->text = std::string(text);
      return true;
    case ADS_VARCHAR:
      if (text.size() > type.declared_width) {
        *why = TooLong(text, type);
        return false;
      }
      [[fallthrough]];
    case ADS_MEMO:
      value->kind = K::kText;
      value->text = std::string(text);
      return true;
    case ADS_BINARY:
    case ADS_IMAGE:
    case ADS_RAW:
      *why = "binary columns cannot be filled from a CSV file; leave the field empty";
      return false;
    default:
      *why = fmt::format("columns of type {} cannot be filled from a CSV file", engine::TypeName(type.type));
      return false;
  }
}

bool CheckStoredValue(const ColumnType& type, sqlite3_value* value, std::string* why) {
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) return true;
  const char* raw = reinterpret_cast<const char*>(sqlite3_value_text(value));
  const std::string text = raw ? raw : "";
  const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  int64_t whole = 0;
  switch (type.type) {
    case ADS_LOGICAL:
      if (StoredWholeNumber(value, &whole) && (whole == 0 || whole == 1)) return true;
      *why = fmt::format("{} is not a logical value (store 0 or 1)", Quoted(text));
      return false;
    case ADS_NUMERIC:
      if (!number || !std::isfinite(sqlite3_value_double(value))) {
        *why = fmt::format("{} is not a number", Quoted(text));
        return false;
      }
      if (!NumericFits(type, storage == SQLITE_INTEGER, sqlite3_value_int64(value), sqlite3_value_double(value))) {
        *why = fmt::format("{} is wider than the column's NUMERIC({},{})", text, type.declared_width, type.decimals);
        return false;
      }
      return true;
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
      if (number) return true;
      *why = fmt::format("{} is not a number", Quoted(text));
      return false;
    case ADS_INTEGER:
    case ADS_SHORTINT:
    case ADS_AUTOINC:
      if (!StoredWholeNumber(value, &whole)) {
        *why = fmt::format("{} is not a whole number", Quoted(text));
        return false;
      }
      return IntegerRange(type, whole, why, text);
    case ADS_DATE: {
      int64_t julian = 0;
      if (storage == SQLITE_TEXT && engine::ParseIsoDate(text, &julian)) return true;
      *why = fmt::format("{} is not a date stored as 'YYYY-MM-DD'", Quoted(text));
      return false;
    }
    case ADS_TIME: {
      uint32_t milliseconds = 0;
      if (storage == SQLITE_TEXT && engine::ParseIsoTime(text, &milliseconds)) return true;
      *why = fmt::format("{} is not a time stored as 'HH:MM:SS'", Quoted(text));
      return false;
    }
    case ADS_TIMESTAMP: {
      int64_t julian = 0;
      uint32_t milliseconds = 0;
      if (storage == SQLITE_TEXT && engine::ParseIsoTimestamp(text, &julian, &milliseconds)) return true;
      *why = fmt::format("{} is not a date and time stored as 'YYYY-MM-DD HH:MM:SS'", Quoted(text));
      return false;
    }
    case ADS_STRING:
    case ADS_VARCHAR:
    case ADS_MEMO:
      if (storage == SQLITE_BLOB) {
        *why = "a binary value in a character column";
        return false;
      }
      if (type.type == ADS_STRING && !text.empty() && text.back() == ' ') {
        *why = fmt::format("{} ends in blanks (store character values without trailing blanks)", Quoted(text));
        return false;
      }
      if (type.type != ADS_MEMO && text.size() > type.declared_width) {
        *why = TooLong(text, type);
        return false;
      }
      return true;
    case ADS_BINARY:
    case ADS_IMAGE:
    case ADS_RAW:
      if (storage != SQLITE_BLOB) {
        *why = "a binary column holds a value that is not a BLOB";
        return false;
      }
      if (type.type == ADS_RAW && static_cast<UNSIGNED32>(sqlite3_value_bytes(value)) > type.declared_width) {
        *why = fmt::format("a value of {} bytes is longer than the column's RAW({})", sqlite3_value_bytes(value),
                           type.declared_width);
        return false;
      }
      return true;
    default:
      *why = fmt::format("a column of type {} cannot be checked", engine::TypeName(type.type));
      return false;
  }
}
