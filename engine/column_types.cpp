// Declared column types and the calendar arithmetic of the stored values.
#include <cctype>
#include <cstdio>

#include "engine/record_format.h"
#include "engine/schema.h"

namespace engine {
namespace {

struct TypeRow {
  const char* name;
  UNSIGNED16 type;
  int parameters;    // 0 none, 1 (n), 2 (w) or (w,d)
  UNSIGNED32 width;  // fixed width when parameters == 0
};

constexpr TypeRow kTypes[] = {
    {"LOGICAL", ADS_LOGICAL, 0, 1},
    {"NUMERIC", ADS_NUMERIC, 2, 0},
    {"DATE", ADS_DATE, 0, 4},
    {"CHAR", ADS_STRING, 1, 0},
    {"CHARACTER", ADS_STRING, 1, 0},
    {"MEMO", ADS_MEMO, 0, record_format::kBlockReferenceWidth},
    {"BLOB", ADS_BINARY, 0, record_format::kBlockReferenceWidth},
    {"BINARY", ADS_BINARY, 0, record_format::kBlockReferenceWidth},
    {"IMAGE", ADS_IMAGE, 0, record_format::kBlockReferenceWidth},
    {"VARCHAR", ADS_VARCHAR, 1, 0},
    {"DOUBLE", ADS_DOUBLE, 0, 8},
    {"INTEGER", ADS_INTEGER, 0, 4},
    {"SHORTINT", ADS_SHORTINT, 0, 2},
    {"TIME", ADS_TIME, 0, 4},
    {"TIMESTAMP", ADS_TIMESTAMP, 0, 8},
    {"AUTOINC", ADS_AUTOINC, 0, 4},
    {"RAW", ADS_RAW, 1, 0},
    {"MONEY", ADS_CURDOUBLE, 0, 8},
};

bool ParseNumber(const std::string& text, size_t* pos, UNSIGNED32* value) {
  while (*pos < text.size() && text[*pos] == ' ') ++*pos;
  size_t start = *pos;
  uint64_t v = 0;
  while (*pos < text.size() && std::isdigit(static_cast<unsigned char>(text[*pos]))) {
    v = v * 10 + static_cast<uint64_t>(text[*pos] - '0');
    if (v > 0xFFFFFFFFull) return false;
    ++*pos;
  }
  while (*pos < text.size() && text[*pos] == ' ') ++*pos;
  *value = static_cast<UNSIGNED32>(v);
  return *pos > start;
}

}  // namespace

bool ParseDeclaredType(const std::string& declared, ColumnType* out, std::string* why) {
  std::string text;
  for (char c : declared) text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  size_t begin = text.find_first_not_of(' ');
  size_t end = text.find_last_not_of(' ');
  if (begin == std::string::npos) {
    *why = "no declared type";
    return false;
  }
  text = text.substr(begin, end - begin + 1);
  size_t paren = text.find('(');
  std::string name = text.substr(0, paren);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  const TypeRow* row = nullptr;
  for (const TypeRow& candidate : kTypes) {
    if (name == candidate.name) row = &candidate;
  }
  if (row == nullptr) {
    *why = "declared type '" + declared + "' is not an engine type";
    return false;
  }
  ColumnType type;
  type.type = row->type;
  type.width = row->width;
  if (row->parameters == 0) {
    if (paren != std::string::npos) {
      *why = "declared type '" + declared + "' takes no width";
      return false;
    }
    *out = type;
    return true;
  }
  if (paren == std::string::npos || text.back() != ')') {
    *why = "declared type '" + declared + "' needs a width in parentheses";
    return false;
  }
  std::string inner = text.substr(paren + 1, text.size() - paren - 2);
  size_t pos = 0;
  UNSIGNED32 first = 0, second = 0;
  bool has_second = false;
  if (!ParseNumber(inner, &pos, &first)) {
    *why = "declared type '" + declared + "' has no valid width";
    return false;
  }
  if (pos < inner.size() && inner[pos] == ',') {
    ++pos;
    if (row->parameters != 2 || !ParseNumber(inner, &pos, &second)) {
      *why = "declared type '" + declared + "' has an invalid second parameter";
      return false;
    }
    has_second = true;
  }
  if (pos != inner.size()) {
    *why = "declared type '" + declared + "' is malformed";
    return false;
  }
  if (row->type == ADS_NUMERIC) {
    if (first < 1 || first > kMaxNumericWidth) {
      *why = "declared type '" + declared + "': a NUMERIC width must be 1 to 32";
      return false;
    }
    // The decimal point and at least one digit before it must fit.
    if (has_second && second > 0 && second + 2 > first) {
      *why = "declared type '" + declared + "': the decimals do not fit the width";
      return false;
    }
    type.width = first;
    type.declared_width = first;
    type.decimals = static_cast<UNSIGNED16>(has_second ? second : 0);
  } else {
    if (first < 1 || first > kMaxCharWidth) {
      *why = "declared type '" + declared + "': the width must be 1 to 65530";
      return false;
    }
    type.declared_width = first;
    type.width = row->type == ADS_VARCHAR ? record_format::kBlockReferenceWidth : first;
  }
  *out = type;
  return true;
}

std::string TypeName(UNSIGNED16 type) {
  switch (type) {
    case ADS_LOGICAL: return "LOGICAL";
    case ADS_NUMERIC: return "NUMERIC";
    case ADS_DATE: return "DATE";
    case ADS_STRING: return "CHAR";
    case ADS_MEMO: return "MEMO";
    case ADS_BINARY: return "BLOB";
    case ADS_IMAGE: return "IMAGE";
    case ADS_VARCHAR: return "VARCHAR";
    case ADS_COMPACTDATE: return "COMPACTDATE";
    case ADS_DOUBLE: return "DOUBLE";
    case ADS_INTEGER: return "INTEGER";
    case ADS_SHORTINT: return "SHORTINT";
    case ADS_TIME: return "TIME";
    case ADS_TIMESTAMP: return "TIMESTAMP";
    case ADS_AUTOINC: return "AUTOINC";
    case ADS_RAW: return "RAW";
    case ADS_CURDOUBLE: return "MONEY";
    default: return "type " + std::to_string(type);
  }
}

// Civil-from-days arithmetic on the proleptic Gregorian calendar; Julian day
// 2440588 is 1970-01-01.
int64_t JulianFromCivil(int year, int month, int day) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 2440588;
}

void CivilFromJulian(int64_t julian, int* year, int* month, int* day) {
  int64_t z = julian - 2440588 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

namespace {

bool Digits(const std::string& text, size_t pos, size_t count, int* value) {
  if (pos + count > text.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

bool DateAt(const std::string& text, int64_t* julian) {
  int y, m, d;
  if (!Digits(text, 0, 4, &y) || text[4] != '-' || !Digits(text, 5, 2, &m) || text[7] != '-' ||
      !Digits(text, 8, 2, &d)) {
    return false;
  }
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  int64_t j = JulianFromCivil(y, m, d);
  int yy, mm, dd;
  CivilFromJulian(j, &yy, &mm, &dd);
  if (yy != y || mm != m || dd != d) return false;  // 2010-02-30 and the like
  *julian = j;
  return true;
}

bool TimeAt(const std::string& text, size_t pos, uint32_t* milliseconds) {
  int h, mi, s, ms = 0;
  size_t n = text.size() - pos;
  if (n != 8 && n != 12) return false;
  if (!Digits(text, pos, 2, &h) || text[pos + 2] != ':' || !Digits(text, pos + 3, 2, &mi) ||
      text[pos + 5] != ':' || !Digits(text, pos + 6, 2, &s)) {
    return false;
  }
  if (n == 12 && (text[pos + 8] != '.' || !Digits(text, pos + 9, 3, &ms))) return false;
  if (h > 23 || mi > 59 || s > 59) return false;
  *milliseconds = static_cast<uint32_t>(((h * 60 + mi) * 60 + s) * 1000 + ms);
  return true;
}

}  // namespace

bool ParseIsoDate(const std::string& text, int64_t* julian) {
  return text.size() == 10 && DateAt(text, julian);
}

bool ParseIsoTime(const std::string& text, uint32_t* milliseconds) {
  return TimeAt(text, 0, milliseconds);
}

bool ParseIsoTimestamp(const std::string& text, int64_t* julian, uint32_t* milliseconds) {
  if (text.size() < 19 || (text[10] != ' ' && text[10] != 'T')) return false;
  return DateAt(text.substr(0, 10), julian) && TimeAt(text, 11, milliseconds);
}

std::string FormatIsoDate(int64_t julian) {
  int y, m, d;
  CivilFromJulian(julian, &y, &m, &d);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", y, m, d);
  return buffer;
}

std::string FormatIsoTime(uint32_t milliseconds) {
  unsigned ms = milliseconds % 1000;
  unsigned s = milliseconds / 1000;
  char buffer[32];
  if (ms != 0) {
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u.%03u", s / 3600 % 100, s / 60 % 60, s % 60, ms);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", s / 3600 % 100, s / 60 % 60, s % 60);
  }
  return buffer;
}

}  // namespace engine
