#include "engine/date_text.h"

#include "engine/schema.h"

namespace engine {

namespace {

// The format with its letters normalised: d day, M month, y year (c counts as y).
std::string NormaliseFormat(const std::string& format) {
  std::string out;
  for (char c : format) {
    switch (c) {
      case 'd': case 'D': out += 'd'; break;
      case 'm': case 'M': out += 'M'; break;
      case 'y': case 'Y': case 'c': case 'C': out += 'y'; break;
      default: out += c;
    }
  }
  return out;
}

bool IsFormatLetter(char c) { return c == 'd' || c == 'M' || c == 'y'; }

}  // namespace

bool ParseDateWithFormat(const std::string& text, const std::string& format, int64_t* julian) {
  std::string f = NormaliseFormat(format);
  int day = -1, month = -1, year = -1, year_digits = 0;
  size_t t = 0;
  size_t i = 0;
  while (i < f.size()) {
    char letter = f[i];
    if (!IsFormatLetter(letter)) {
      if (t >= text.size() || std::isdigit(static_cast<unsigned char>(text[t]))) return false;
      ++t;
      ++i;
      continue;
    }
    size_t run = 0;
    while (i + run < f.size() && f[i + run] == letter) ++run;
    i += run;
    bool separated = i >= f.size() || !IsFormatLetter(f[i]);
    size_t max_digits = letter == 'y' ? (run <= 2 ? 2 : 4) : 2;
    size_t digits = 0;
    int value = 0;
    while (t < text.size() && std::isdigit(static_cast<unsigned char>(text[t])) && digits < max_digits) {
      value = value * 10 + (text[t] - '0');
      ++t;
      ++digits;
    }
    if (digits == 0 || (!separated && digits != max_digits)) return false;
    if (letter == 'd') day = value;
    if (letter == 'M') month = value;
    if (letter == 'y') {
      year = value;
      year_digits = static_cast<int>(digits);
    }
  }
  if (t != text.size() || day < 0 || month < 0 || year < 0) return false;
  if (year_digits <= 2) year += year < 50 ? 2000 : 1900;  // two-digit years: 1950 to 2049
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1) return false;
  char iso[40];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", year, month, day);
  return ParseIsoDate(iso, julian);
}

std::string FormatDateWithFormat(int64_t julian, const std::string& format) {
  int y, m, d;
  CivilFromJulian(julian, &y, &m, &d);
  std::string f = NormaliseFormat(format);
  std::string out;
  char buffer[16];
  for (size_t i = 0; i < f.size();) {
    char letter = f[i];
    if (!IsFormatLetter(letter)) {
      out += format[i];
      ++i;
      continue;
    }
    size_t run = 0;
    while (i + run < f.size() && f[i + run] == letter) ++run;
    i += run;
    if (letter == 'y') {
      if (run <= 2) std::snprintf(buffer, sizeof buffer, "%02d", y % 100);
      else std::snprintf(buffer, sizeof buffer, "%04d", y);
    } else {
      int v = letter == 'd' ? d : m;
      std::snprintf(buffer, sizeof buffer, run >= 2 ? "%02d" : "%d", v);
    }
    out += buffer;
  }
  return out;
}

}  // namespace engine
