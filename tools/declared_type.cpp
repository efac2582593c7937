#include "tools/declared_type.h"

#include <sqlite3.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include <fmt/format.h>

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

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

bool ValidDate(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.sss" (hour may have one digit) to
// "HH:MM:SS[.sss]".
bool NormalizeTime(std::string_view text, std::string* out) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ':') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (parts.size() < 2 || parts.size() > 3) return false;
  std::string_view seconds = parts.size() == 3 ? parts[2] : "00";
  std::string_view millis;
  if (const size_t dot = seconds.find('.'); dot != std::string_view::npos) {
    millis = seconds.substr(dot + 1);
    seconds = seconds.substr(0, dot);
    if (millis.size() != 3 || !AllDigits(millis)) return false;
  }
  if (!AllDigits(parts[0]) || parts[0].size() > 2 || !AllDigits(parts[1]) || parts[1].size() != 2 ||
      !AllDigits(seconds) || seconds.size() != 2) {
    return false;
  }
  const int h = ToInt(parts[0]), m = ToInt(parts[1]), s = ToInt(seconds);
  if (h > 23 || m > 59 || s > 59) return false;
  *out = fmt::format("{:02d}:{:02d}:{:02d}", h, m, s);
  if (!millis.empty()) *out += "." + std::string(millis);
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

// Width of a number written with `decimals` decimals, as a NUMERIC column
// would hold it (sign, integer digits, point, decimals).
int NumericWidth(double v, int decimals) {
  return static_cast<int>(fmt::format("{:.{}f}", v, decimals).size());
}

bool IntegerRange(ColumnKind kind, int64_t v, std::string* why, std::string_view text) {
  int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
  if (kind == ColumnKind::kShortInt) {
    lo = -32768;
    hi = 32767;
  } else if (kind == ColumnKind::kAutoInc) {
    lo = 0;
    hi = std::numeric_limits<uint32_t>::max();
  }
  if (v < lo || v > hi) {
    *why = fmt::format("{} is outside the range {} to {} of the column", Quoted(text), lo, hi);
    return false;
  }
  return true;
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

}  // namespace

bool NormalizeDate(std::string_view text, std::string* iso) {
  int y = 0, m = 0, d = 0;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-' && AllDigits(text.substr(0, 4)) &&
      AllDigits(text.substr(5, 2)) && AllDigits(text.substr(8, 2))) {
    y = ToInt(text.substr(0, 4));
    m = ToInt(text.substr(5, 2));
    d = ToInt(text.substr(8, 2));
  } else {
    const size_t a = text.find('/');
    const size_t b = a == std::string_view::npos ? a : text.find('/', a + 1);
    if (b == std::string_view::npos) return false;
    const std::string_view ds = text.substr(0, a), ms = text.substr(a + 1, b - a - 1), ys = text.substr(b + 1);
    if (!AllDigits(ds) || ds.size() > 2 || !AllDigits(ms) || ms.size() > 2 || !AllDigits(ys) || ys.size() != 4) {
      return false;
    }
    y = ToInt(ys);
    m = ToInt(ms);
    d = ToInt(ds);
  }
  if (!ValidDate(y, m, d)) return false;
  *iso = fmt::format("{:04d}-{:02d}-{:02d}", y, m, d);
  return true;
}

bool ParseDeclaredType(std::string_view text, DeclaredType* type, std::string* why) {
  std::string t = Upper(Trim(text));
  std::string name = t, args;
  if (const size_t open = t.find('('); open != std::string::npos) {
    if (t.back() != ')') {
      *why = fmt::format("declared type {} has no closing parenthesis", Quoted(text));
      return false;
    }
    name = std::string(Trim(std::string_view(t).substr(0, open)));
    args = t.substr(open + 1, t.size() - open - 2);
  }
  static const std::vector<std::pair<std::string, ColumnKind>> kNames = {
      {"LOGICAL", ColumnKind::kLogical},   {"NUMERIC", ColumnKind::kNumeric},   {"DATE", ColumnKind::kDate},
      {"CHAR", ColumnKind::kChar},         {"CHARACTER", ColumnKind::kChar},    {"MEMO", ColumnKind::kMemo},
      {"BLOB", ColumnKind::kBinary},       {"BINARY", ColumnKind::kBinary},     {"IMAGE", ColumnKind::kImage},
      {"VARCHAR", ColumnKind::kVarChar},   {"DOUBLE", ColumnKind::kDouble},     {"INTEGER", ColumnKind::kInteger},
      {"SHORTINT", ColumnKind::kShortInt}, {"TIME", ColumnKind::kTime},         {"TIMESTAMP", ColumnKind::kTimestamp},
      {"AUTOINC", ColumnKind::kAutoInc},   {"RAW", ColumnKind::kRaw},           {"MONEY", ColumnKind::kMoney}};
  bool known = false;
  for (const auto& [n, kind] : kNames) {
    if (n == name) {
      type->kind = kind;
      known = true;
    }
  }
  if (!known) {
    *why = fmt::format("declared type {} is not one of LOGICAL, NUMERIC(w,d), DATE, CHAR(n), MEMO, BLOB, IMAGE, "
                       "VARCHAR(n), DOUBLE, INTEGER, SHORTINT, TIME, TIMESTAMP, AUTOINC, RAW(n), MONEY",
                       Quoted(text));
    return false;
  }
  type->width = 0;
  type->decimals = 0;
  if (!args.empty()) {
    const size_t comma = args.find(',');
    const std::string_view w = Trim(std::string_view(args).substr(0, comma));
    const std::string_view d = comma == std::string::npos ? std::string_view() : Trim(std::string_view(args).substr(comma + 1));
    if (!AllDigits(w) || (comma != std::string::npos && !AllDigits(d))) {
      *why = fmt::format("declared type {} has a width that is not a number", Quoted(text));
      return false;
    }
    type->width = ToInt(w);
    type->decimals = d.empty() ? 0 : ToInt(d);
  }
  return true;
}

bool ConvertUserValue(const DeclaredType& type, std::string_view text, StoredValue* value, std::string* why) {
  using K = StoredValue::Kind;
  *value = StoredValue();
  if (type.kind != ColumnKind::kChar && type.kind != ColumnKind::kVarChar && type.kind != ColumnKind::kMemo) {
    text = Trim(text);
  }
  if (text.empty()) return true;  // NULL, the empty value
  switch (type.kind) {
    case ColumnKind::kLogical: {
      const std::string u = Upper(text);
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
    case ColumnKind::kNumeric: {
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
      if (type.width > 0 && NumericWidth(v, type.decimals) > type.width) {
        *why = fmt::format("{} is wider than the column's NUMERIC({},{})", Quoted(text), type.width, type.decimals);
        return false;
      }
      if (frac_digits == 0 && int_digits < 19) {
        value->kind = K::kInteger;
        ParseInteger(text, &value->integer);
      } else {
        value->kind = K::kReal;
        value->real = v;
      }
      return true;
    }
    case ColumnKind::kDouble:
    case ColumnKind::kMoney: {
      double v = 0;
      if (!ParseDouble(text, &v)) {
        *why = fmt::format("{} is not a number (write it like 1234.50, with a point)", Quoted(text));
        return false;
      }
      value->kind = K::kReal;
      value->real = v;
      return true;
    }
    case ColumnKind::kInteger:
    case ColumnKind::kShortInt:
    case ColumnKind::kAutoInc: {
      int64_t v = 0;
      if (!ParseInteger(text, &v)) {
        *why = fmt::format("{} is not a whole number", Quoted(text));
        return false;
      }
      if (!IntegerRange(type.kind, v, why, text)) return false;
      value->kind = K::kInteger;
      value->integer = v;
      return true;
    }
    case ColumnKind::kDate:
      value->kind = K::kText;
      if (!NormalizeDate(text, &value->text)) {
        *why = fmt::format("{} is not a valid date (write YYYY-MM-DD or DD/MM/YYYY)", Quoted(text));
        return false;
      }
      return true;
    case ColumnKind::kTime:
      value->kind = K::kText;
      if (!NormalizeTime(text, &value->text)) {
        *why = fmt::format("{} is not a valid time (write HH:MM or HH:MM:SS)", Quoted(text));
        return false;
      }
      return true;
    case ColumnKind::kTimestamp:
      value->kind = K::kText;
      if (!TimestampText(text, &value->text)) {
        *why = fmt::format("{} is not a valid date and time (write YYYY-MM-DD HH:MM:SS or DD/MM/YYYY HH:MM:SS)",
                           Quoted(text));
        return false;
      }
      return true;
    case ColumnKind::kChar: {
      while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
      if (type.width > 0 && static_cast<int>(text.size()) > type.width) {
        *why = fmt::format("{} is {} characters long; the column holds {}", Quoted(text), text.size(), type.width);
        return false;
      }
      if (text.empty()) return true;
      value->kind = K::kText;
      value->text = std::string(text);
      return true;
    }
    case ColumnKind::kVarChar:
      if (type.width > 0 && static_cast<int>(text.size()) > type.width) {
        *why = fmt::format("{} is {} characters long; the column holds {}", Quoted(text), text.size(), type.width);
        return false;
      }
      [[fallthrough]];
    case ColumnKind::kMemo:
      value->kind = K::kText;
      value->text = std::string(text);
      return true;
    case ColumnKind::kBinary:
    case ColumnKind::kImage:
    case ColumnKind::kRaw:
      *why = "binary columns cannot be filled from a CSV file; leave the field empty";
      return false;
  }
  return false;
}

bool CheckStoredValue(const DeclaredType& type, sqlite3_value* value, std::string* why) {
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) return true;
  const char* raw = reinterpret_cast<const char*>(sqlite3_value_text(value));
  const std::string text = raw ? raw : "";
  const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  switch (type.kind) {
    case ColumnKind::kLogical:
      if (storage == SQLITE_INTEGER && (sqlite3_value_int64(value) == 0 || sqlite3_value_int64(value) == 1)) return true;
      *why = fmt::format("{} is not a logical value (store 0 or 1)", Quoted(text));
      return false;
    case ColumnKind::kNumeric:
      if (!number) {
        *why = fmt::format("{} is not a number", Quoted(text));
        return false;
      }
      if (type.width > 0 && NumericWidth(sqlite3_value_double(value), type.decimals) > type.width) {
        *why = fmt::format("{} is wider than the column's NUMERIC({},{})", text, type.width, type.decimals);
        return false;
      }
      return true;
    case ColumnKind::kDouble:
    case ColumnKind::kMoney:
      if (number) return true;
      *why = fmt::format("{} is not a number", Quoted(text));
      return false;
    case ColumnKind::kInteger:
    case ColumnKind::kShortInt:
    case ColumnKind::kAutoInc:
      if (storage != SQLITE_INTEGER) {
        *why = fmt::format("{} is not a whole number", Quoted(text));
        return false;
      }
      return IntegerRange(type.kind, sqlite3_value_int64(value), why, text);
    case ColumnKind::kDate: {
      std::string iso;
      if (storage == SQLITE_TEXT && text.size() == 10 && text[4] == '-' && NormalizeDate(text, &iso)) return true;
      *why = fmt::format("{} is not a date stored as 'YYYY-MM-DD'", Quoted(text));
      return false;
    }
    case ColumnKind::kTime: {
      std::string norm;
      if (storage == SQLITE_TEXT && NormalizeTime(text, &norm) && norm == text) return true;
      *why = fmt::format("{} is not a time stored as 'HH:MM:SS'", Quoted(text));
      return false;
    }
    case ColumnKind::kTimestamp: {
      std::string norm;
      if (storage == SQLITE_TEXT && text.size() >= 19 && text[10] == ' ' && TimestampText(text, &norm) &&
          norm == text) {
        return true;
      }
      *why = fmt::format("{} is not a date and time stored as 'YYYY-MM-DD HH:MM:SS'", Quoted(text));
      return false;
    }
    case ColumnKind::kChar:
      if (storage == SQLITE_BLOB) {
        *why = "a binary value in a character column";
        return false;
      }
      if (!text.empty() && text.back() == ' ') {
        *why = fmt::format("{} ends in blanks (store character values without trailing blanks)", Quoted(text));
        return false;
      }
      [[fallthrough]];
    case ColumnKind::kVarChar:
      if (type.width > 0 && static_cast<int>(text.size()) > type.width) {
        *why = fmt::format("{} is {} characters long; the column holds {}", Quoted(text), text.size(), type.width);
        return false;
      }
      return true;
    case ColumnKind::kMemo:
      return true;
    case ColumnKind::kBinary:
    case ColumnKind::kImage:
    case ColumnKind::kRaw:
      if (storage == SQLITE_BLOB) return true;
      *why = "a binary column holds a value that is not a BLOB";
      return false;
  }
  return false;
}
