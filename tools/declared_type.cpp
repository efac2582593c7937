#include "tools/declared_type.h"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "engine/record_format.h"
#include "util/ascii.h"

namespace {

using engine::ColumnType;
using engine::ColumnTypeRow;
using engine::Misfit;
using engine::StoredForm;
using Kind = StoredValue::Kind;

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
[[nodiscard]] bool NormalizeTime(std::string_view text, std::string* out) {
  std::string time(text);
  if (time.find(':') == 1) time.insert(0, "0");
  if (time.size() == 5) time += ":00";
  uint32_t milliseconds = 0;
  if (!engine::ParseIsoTime(time, &milliseconds)) return false;
  *out = std::move(time);
  return true;
}

// Plain decimal text: optional sign, digits, optional "." and digits.
[[nodiscard]] bool ParseDecimal(std::string_view s, int* int_digits, int* frac_digits) {
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
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

[[nodiscard]] bool ParseDouble(std::string_view s, double* out) {
  const std::string text(s);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  *out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(*out);
}

[[nodiscard]] bool ParseInteger(std::string_view s, int64_t* out) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && ptr == s.data() + s.size() && !s.empty();
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

std::string TooLong(std::string_view text, const ColumnType& type) {
  return fmt::format("{} is {} characters long; the column holds {}", Quoted(text), text.size(),
                     type.declared_width);
}

std::string OutOfRange(std::string_view text, const ColumnType& type) {
  const record_format::IntegerRange range = record_format::RangeOf(type.type);
  return fmt::format("{} is outside the range {} to {} of the column", Quoted(text), range.low, range.high);
}

[[nodiscard]] bool TimestampText(std::string_view text, std::string* out) {
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

// ---- a user's text, by the column's stored form ---------------------------

bool Refuse(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

[[nodiscard]] bool LogicalValue(std::string_view text, StoredValue* value, std::string* why) {
  const std::string u = ToUpperAscii(text);
  value->kind = Kind::kInteger;
  if (u == "Y" || u == "T" || u == "TRUE" || u == "YES" || u == "1" || u == ".T.") {
    value->integer = 1;
  } else if (u == "N" || u == "F" || u == "FALSE" || u == "NO" || u == "0" || u == ".F.") {
    value->integer = 0;
  } else {
    return Refuse(why, fmt::format("{} is not a logical value (use Y or N, T or F, TRUE or FALSE, 1 or 0)",
                                   Quoted(text)));
  }
  return true;
}

[[nodiscard]] bool DecimalValue(const ColumnType& type, std::string_view text, StoredValue* value, std::string* why) {
  int int_digits = 0, frac_digits = 0;
  if (!ParseDecimal(text, &int_digits, &frac_digits)) {
    return Refuse(why, fmt::format("{} is not a number (write it like 1234.50, with a point)", Quoted(text)));
  }
  if (frac_digits > type.decimals) {
    return Refuse(why, fmt::format("{} has more than the {} decimals of the column", Quoted(text), type.decimals));
  }
  const bool whole = frac_digits == 0 && int_digits < 19;
  value->kind = whole ? Kind::kInteger : Kind::kReal;
  // ParseDecimal has checked the syntax: only digits too many for a double
  // fail to parse, and no column is that wide.
  const bool parsed = whole ? ParseInteger(text, &value->integer) : ParseDouble(text, &value->real);
  if (!parsed || engine::StoredMisfit(type, *value) == Misfit::kTooWide) {
    return Refuse(why, fmt::format("{} is wider than the column's NUMERIC({},{})", Quoted(text), type.declared_width,
                                   type.decimals));
  }
  return true;
}

[[nodiscard]] bool NumberValue(std::string_view text, StoredValue* value, std::string* why) {
  value->kind = Kind::kReal;
  if (ParseDouble(text, &value->real)) return true;
  return Refuse(why, fmt::format("{} is not a number (write it like 1234.50, with a point)", Quoted(text)));
}

[[nodiscard]] bool WholeValue(const ColumnType& type, std::string_view text, StoredValue* value, std::string* why) {
  value->kind = Kind::kInteger;
  if (!ParseInteger(text, &value->integer)) return Refuse(why, fmt::format("{} is not a whole number", Quoted(text)));
  if (engine::StoredMisfit(type, *value) == Misfit::kOutOfRange) return Refuse(why, OutOfRange(text, type));
  return true;
}

[[nodiscard]] bool DateTimeValue(StoredForm form, std::string_view text, StoredValue* value, std::string* why) {
  value->kind = Kind::kText;
  switch (form) {
    case StoredForm::kDate:
      if (NormalizeDate(text, &value->text)) return true;
      return Refuse(why, fmt::format("{} is not a valid date (write YYYY-MM-DD or DD/MM/YYYY)", Quoted(text)));
    case StoredForm::kTime:
      if (NormalizeTime(text, &value->text)) return true;
      return Refuse(why, fmt::format("{} is not a valid time (write HH:MM or HH:MM:SS)", Quoted(text)));
    default:
      if (TimestampText(text, &value->text)) return true;
      return Refuse(why, fmt::format("{} is not a valid date and time (write YYYY-MM-DD HH:MM:SS or DD/MM/YYYY "
                                     "HH:MM:SS)",
                                     Quoted(text)));
  }
}

// Character text is stored without its trailing blanks; nothing left is NULL.
[[nodiscard]] bool TextValue(const ColumnType& type, StoredForm form, std::string_view text, StoredValue* value, std::string* why) {
  if (form == StoredForm::kCharacter) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return true;
  }
  value->kind = Kind::kText;
  value->text = std::string(text);
  if (engine::StoredMisfit(type, *value) == Misfit::kTooLong) return Refuse(why, TooLong(text, type));
  return true;
}

// ---- a stored value's misfit as kdx-db check words it ----------------------

std::string CheckText(Misfit misfit, const ColumnType& type, const StoredValue& value) {
  const std::string& text = value.text;
  switch (misfit) {
    case Misfit::kNone: return "";
    case Misfit::kNotLogical: return fmt::format("{} is not a logical value (store 0 or 1)", Quoted(text));
    case Misfit::kNotNumber:
    case Misfit::kNotFinite: return fmt::format("{} is not a number", Quoted(text));
    case Misfit::kTooWide:
      return fmt::format("{} is wider than the column's NUMERIC({},{})", text, type.declared_width, type.decimals);
    case Misfit::kNotWhole: return fmt::format("{} is not a whole number", Quoted(text));
    case Misfit::kOutOfRange: return OutOfRange(text, type);
    case Misfit::kNotDate: return fmt::format("{} is not a date stored as 'YYYY-MM-DD'", Quoted(text));
    case Misfit::kNotTime: return fmt::format("{} is not a time stored as 'HH:MM:SS'", Quoted(text));
    case Misfit::kNotTimestamp:
      return fmt::format("{} is not a date and time stored as 'YYYY-MM-DD HH:MM:SS'", Quoted(text));
    case Misfit::kNotText: return "a binary value in a character column";
    case Misfit::kNotBytes: return "a binary column holds a value that is not a BLOB";
    case Misfit::kTrailingBlanks:
      return fmt::format("{} ends in blanks (store character values without trailing blanks)", Quoted(text));
    case Misfit::kTooLong:
      if (value.kind == Kind::kBlob) {
        return fmt::format("a value of {} bytes is longer than the column's RAW({})", text.size(), type.declared_width);
      }
      return TooLong(text, type);
    case Misfit::kNoStoredForm: break;
  }
  return fmt::format("a column of type {} cannot be checked", engine::TypeName(type.type));
}

}  // namespace

bool ParseColumnType(const std::string& declared, ColumnType* type, std::string* why) {
  if (engine::ParseDeclaredType(declared, type, why)) return true;
  *why += " (a column is declared " + engine::DeclarableTypes() + ")";
  return false;
}

bool NormalizeDate(std::string_view text, std::string* iso) {
  int64_t julian = 0;
  if (engine::ParseIsoDate(text, &julian)) {
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
  *value = StoredValue();
  const ColumnTypeRow* row = engine::FindColumnType(type.type);
  const StoredForm form = row != nullptr ? row->stored : StoredForm::kNone;
  if (form != StoredForm::kCharacter && form != StoredForm::kText) text = Trim(text);
  if (text.empty()) return true;  // NULL, the empty value
  switch (form) {
    case StoredForm::kLogical: return LogicalValue(text, value, why);
    case StoredForm::kDecimal: return DecimalValue(type, text, value, why);
    case StoredForm::kNumber: return NumberValue(text, value, why);
    case StoredForm::kWhole: return WholeValue(type, text, value, why);
    case StoredForm::kDate:
    case StoredForm::kTime:
    case StoredForm::kTimestamp: return DateTimeValue(form, text, value, why);
    case StoredForm::kCharacter:
    case StoredForm::kText: return TextValue(type, form, text, value, why);
    case StoredForm::kBytes:
      return Refuse(why, "binary columns cannot be filled from a CSV file; leave the field empty");
    case StoredForm::kNone: break;
  }
  return Refuse(why, fmt::format("columns of type {} cannot be filled from a CSV file", engine::TypeName(type.type)));
}

bool CheckStoredValue(const ColumnType& type, const StoredValue& value, std::string* why) {
  const Misfit misfit = engine::StoredMisfit(type, value);
  if (misfit == Misfit::kNone) return true;
  *why = CheckText(misfit, type, value);
  return false;
}
