#include "util/date_format.h"

#include <cctype>
#include <charconv>
#include <mutex>

namespace {

// The process-wide date settings. The defaults are what the engine settings
// component makes them when the main window is created.
struct DateSettings {
  std::mutex mu;
  std::string short_date_format = "dd/MM/yyyy";
  char date_separator = '/';
};

DateSettings& Settings() {
  static DateSettings settings;
  return settings;
}

constexpr char kLongTimeFormat[] = "hh:nn:ss";
constexpr char kShortTimeFormat[] = "hh:nn";
constexpr char kLongDateFormat[] = "dd MMMM yyyy";
constexpr char kTimeSeparator = ':';

// Nested formats (c, t, ddddd) may name each other; stop after two levels so
// that a format that names itself cannot recurse without end.
constexpr int kMaxNesting = 2;

constexpr const char* kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
constexpr const char* kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonthNames[12] = {"January", "February", "March",     "April",
                                             "May",     "June",     "July",      "August",
                                             "September", "October", "November", "December"};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when `text` starts at `pos` with `word`, compared without regard to case.
bool StartsWithNoCase(std::string_view text, size_t pos, std::string_view word) {
  if (text.size() - pos < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k) {
    if (Upper(text[pos + k]) != Upper(word[k])) return false;
  }
  return true;
}

// Index just behind the quoted text that starts at `pos`; an unclosed quote
// runs to the end of the pattern.
size_t QuotedEnd(std::string_view p, size_t pos) {
  const size_t close = p.find(p[pos], pos + 1);
  return close == std::string_view::npos ? p.size() : close + 1;
}

// True when an am/pm token follows `from` in the pattern (quoted text skipped):
// the hours before it are then on the 12-hour clock.
bool AmPmFollows(std::string_view p, size_t from) {
  size_t i = from;
  while (i < p.size()) {
    const char c = p[i];
    if (c == '\'' || c == '"') {
      i = QuotedEnd(p, i);
    } else if (Upper(c) == 'A' &&
               (StartsWithNoCase(p, i, "am/pm") || StartsWithNoCase(p, i, "a/p") ||
                StartsWithNoCase(p, i, "ampm"))) {
      return true;
    } else {
      ++i;
    }
  }
  return false;
}

// `value` in at least `min_digits` characters, zeros after any sign (as
// printf's "%0*d").
void AppendNumber(std::string* out, int value, int min_digits) {
  char buf[16];
  char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  const size_t size = static_cast<size_t>(end - buf);
  const size_t wanted = min_digits > 0 ? static_cast<size_t>(min_digits) : 0;
  const bool negative = value < 0;
  if (negative) out->push_back('-');
  if (size < wanted) out->append(wanted - size, '0');
  out->append(buf + (negative ? 1 : 0), static_cast<size_t>(end - buf) - (negative ? 1 : 0));
}

class Formatter {
 public:
  Formatter(TDateTime value, char date_separator, std::string short_date_format)
      : value_(value),
        date_separator_(date_separator),
        short_date_format_(std::move(short_date_format)) {
    DecodeDate(value, &year_, &month_, &day_);
    DecodeTime(value, &hour_, &minute_, &second_, &msec_);
  }

  void Append(std::string_view p, int depth, std::string* out) const {
    char last_letter = 0;
    size_t i = 0;
    while (i < p.size()) {
      const char c = p[i];
      if (c == '\'' || c == '"') {
        const size_t close = p.find(c, i + 1);
        if (close == std::string_view::npos) {
          out->append(p.substr(i + 1));
          break;
        }
        out->append(p.substr(i + 1, close - i - 1));
        i = close + 1;
        continue;
      }
      if (c == '/') {
        out->push_back(date_separator_);
        ++i;
        continue;
      }
      if (c == ':') {
        out->push_back(kTimeSeparator);
        ++i;
        continue;
      }
      if (!IsAsciiLetter(c)) {
        out->push_back(c);
        ++i;
        continue;
      }
      char token = Upper(c);
      if (token == 'A') {
        last_letter = 'A';
        i += AppendHalfOfDay(p, i, out);
        continue;
      }
      size_t count = 1;
      while (i + count < p.size() && Upper(p[i + count]) == token) ++count;
      if (token == 'M' && last_letter == 'H') token = 'N';
      last_letter = token;
      AppendToken(p, i, token, count, depth, out);
      i += count;
    }
  }

 private:
  // Appends an am/pm token at `pos`, or the letter itself when none starts
  // there; returns the number of pattern characters used.
  size_t AppendHalfOfDay(std::string_view p, size_t pos, std::string* out) const {
    const bool pm = hour_ >= 12;
    const bool lower = p[pos] == 'a';
    if (StartsWithNoCase(p, pos, "am/pm")) {
      out->append(pm ? (lower ? "pm" : "PM") : (lower ? "am" : "AM"));
      return 5;
    }
    if (StartsWithNoCase(p, pos, "a/p")) {
      out->push_back(pm ? (lower ? 'p' : 'P') : (lower ? 'a' : 'A'));
      return 3;
    }
    if (StartsWithNoCase(p, pos, "ampm")) {
      out->append(pm ? "PM" : "AM");
      return 4;
    }
    out->push_back(p[pos]);
    return 1;
  }

  void AppendNested(std::string_view format, int depth, std::string* out) const {
    if (depth < kMaxNesting) Append(format, depth + 1, out);
  }

  void AppendToken(std::string_view p, size_t pos, char token, size_t count, int depth,
                   std::string* out) const {
    switch (token) {
      case 'Y':
        if (count <= 2) {
          AppendNumber(out, year_ % 100, 2);
        } else {
          AppendNumber(out, year_, 4);
        }
        break;
      case 'M':
        if (count <= 2) {
          AppendNumber(out, month_, static_cast<int>(count));
        } else if (month_ >= 1 && month_ <= 12) {
          out->append(count == 3 ? kShortMonthNames[month_ - 1] : kLongMonthNames[month_ - 1]);
        }
        break;
      case 'D':
        if (count <= 2) {
          AppendNumber(out, day_, static_cast<int>(count));
        } else if (count <= 4) {
          const int dow = DayOfWeek(value_);
          if (dow > 0) out->append(count == 3 ? kShortDayNames[dow - 1] : kLongDayNames[dow - 1]);
        } else {
          AppendNested(count == 5 ? std::string_view(short_date_format_) : kLongDateFormat, depth,
                       out);
        }
        break;
      case 'H': {
        int hour = hour_;
        if (AmPmFollows(p, pos + count)) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        AppendNumber(out, hour, count == 1 ? 1 : 2);
        break;
      }
      case 'N':
        AppendNumber(out, minute_, count == 1 ? 1 : 2);
        break;
      case 'S':
        AppendNumber(out, second_, count == 1 ? 1 : 2);
        break;
      case 'Z':
        AppendNumber(out, msec_, count == 1 ? 1 : 3);
        break;
      case 'T':
        AppendNested(count == 1 ? kShortTimeFormat : kLongTimeFormat, depth, out);
        break;
      case 'C':
        AppendNested(short_date_format_, depth, out);
        if (hour_ != 0 || minute_ != 0 || second_ != 0 || msec_ != 0) {
          out->push_back(' ');
          AppendNested(kLongTimeFormat, depth, out);
        }
        break;
      default:
        out->append(p.substr(pos, count));
        break;
    }
  }

  TDateTime value_;
  char date_separator_;
  std::string short_date_format_;
  int year_, month_, day_;
  int hour_, minute_, second_, msec_;
};

Formatter MakeFormatter(TDateTime value) {
  DateSettings& s = Settings();
  std::lock_guard<std::mutex> lock(s.mu);
  return Formatter(value, s.date_separator, s.short_date_format);
}

// Reads 1..max_digits decimal digits at *pos; false when none are there.
bool ReadDigits(const std::string& text, size_t* pos, size_t max_digits, int* value,
                size_t* digits) {
  size_t n = 0;
  int v = 0;
  while (*pos + n < text.size() && n < max_digits &&
         std::isdigit(static_cast<unsigned char>(text[*pos + n]))) {
    v = v * 10 + (text[*pos + n] - '0');
    ++n;
  }
  if (n == 0) return false;
  *pos += n;
  *value = v;
  if (digits != nullptr) *digits = n;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads "h:n[:s[.zzz]]" from *pos to the end of the text.
bool ReadTime(const std::string& text, size_t pos, TDateTime* time) {
  int h, n, s = 0, ms = 0;
  if (!ReadDigits(text, &pos, 2, &h, nullptr)) return false;
  if (pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  if (!ReadDigits(text, &pos, 2, &n, nullptr)) return false;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadDigits(text, &pos, 2, &s, nullptr)) return false;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      size_t digits;
      if (!ReadDigits(text, &pos, 3, &ms, &digits)) return false;
      for (; digits < 3; ++digits) ms *= 10;
    }
  }
  if (pos != text.size()) return false;
  if (h > 23 || n > 59 || s > 59) return false;
  *time = EncodeTime(h, n, s, ms);
  return true;
}

// The order of day, month and year in a date format, e.g. "DMY".
std::string FieldOrder(const std::string& format) {
  std::string order;
  for (char c : format) {
    const char u = Upper(c);
    if ((u == 'D' || u == 'M' || u == 'Y') && order.find(u) == std::string::npos) {
      order.push_back(u);
    }
  }
  return order.size() == 3 ? order : "DMY";
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  std::string out;
  out.reserve(pattern.size() + 8);
  MakeFormatter(value).Append(pattern, 0, &out);
  return out;
}

std::string ShortDateFormat() {
  DateSettings& s = Settings();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.short_date_format;
}

void SetShortDateFormat(const std::string& format) {
  DateSettings& s = Settings();
  std::lock_guard<std::mutex> lock(s.mu);
  s.short_date_format = format;
}

char DateSeparator() {
  DateSettings& s = Settings();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.date_separator;
}

void SetDateSeparator(char separator) {
  DateSettings& s = Settings();
  std::lock_guard<std::mutex> lock(s.mu);
  s.date_separator = separator;
}

std::string LongTimeFormat() { return kLongTimeFormat; }
std::string ShortTimeFormat() { return kShortTimeFormat; }
std::string LongDateFormat() { return kLongDateFormat; }

std::string DateToText(TDateTime value) { return FormatDateTime("ddddd", value); }

std::string TimeToText(TDateTime value) { return FormatDateTime(kLongTimeFormat, value); }

std::string DateTimeToText(TDateTime value) { return FormatDateTime("c", value); }

bool TryTextToDateTime(const std::string& raw, TDateTime* out) {
  size_t begin = 0;
  size_t end = raw.size();
  while (begin < end && IsBlank(raw[begin])) ++begin;
  while (end > begin && IsBlank(raw[end - 1])) --end;
  const std::string text = raw.substr(begin, end - begin);
  if (text.empty()) return false;

  std::string format;
  char separator;
  {
    DateSettings& s = Settings();
    std::lock_guard<std::mutex> lock(s.mu);
    format = s.short_date_format;
    separator = s.date_separator;
  }

  // A time alone: the first number is followed by the time separator.
  size_t pos = 0;
  int first;
  if (!ReadDigits(text, &pos, 4, &first, nullptr)) return false;
  if (pos < text.size() && text[pos] == kTimeSeparator) {
    TDateTime time;
    if (!ReadTime(text, 0, &time)) return false;
    *out = time;
    return true;
  }

  const std::string order = FieldOrder(format);
  int fields[3] = {first, 0, 0};
  size_t year_digits = 0;
  pos = 0;
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (pos >= text.size() || text[pos] != separator) return false;
      ++pos;
    }
    size_t digits;
    if (!ReadDigits(text, &pos, 4, &fields[k], &digits)) return false;
    if (order[k] == 'Y') year_digits = digits;
  }
  int year = 0, month = 0, day = 0;
  for (int k = 0; k < 3; ++k) {
    (order[k] == 'Y' ? year : order[k] == 'M' ? month : day) = fields[k];
  }
  if (year_digits <= 2) year += year < 50 ? 2000 : 1900;
  TDateTime date;
  if (!TryEncodeDate(year, month, day, &date)) return false;

  TDateTime time = 0;
  if (pos < text.size()) {
    if (!IsBlank(text[pos])) return false;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (!ReadTime(text, pos, &time)) return false;
  }
  *out = date < 0 ? date - time : date + time;
  return true;
}
