#include "util/date_time.h"

#include <cmath>

#include "util/error.h"

namespace {

// Days from 1 January 1970 of a proleptic Gregorian date (era arithmetic on
// 400-year cycles, valid far beyond the years 1..9999).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

const int64_t kUnixDayOf18991230 = DaysFromCivil(1899, 12, 30);
// The range of representable dates: 1 January 0001 to 31 December 9999.
const int64_t kFirstDay = DaysFromCivil(1, 1, 1) - kUnixDayOf18991230;
const int64_t kLastDay = DaysFromCivil(9999, 12, 31) - kUnixDayOf18991230;

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The whole day of the value, or false when it is no representable date.
bool DayOf(TDateTime value, int64_t* day) {
  if (!std::isfinite(value)) return false;
  const double t = std::trunc(value);
  if (t < static_cast<double>(kFirstDay) || t > static_cast<double>(kLastDay)) return false;
  *day = static_cast<int64_t>(t);
  return true;
}

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime* out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  *out = static_cast<TDateTime>(DaysFromCivil(year, month, day) - kUnixDayOf18991230);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime value;
  if (!TryEncodeDate(year, month, day, &value)) {
    throw Exception("Invalid argument to date encode");
  }
  return value;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      msec < 0 || msec > 999) {
    throw Exception("Invalid argument to time encode");
  }
  const int total = ((hour * 60 + minute) * 60 + second) * 1000 + msec;
  return static_cast<double>(total) / kMSecsPerDay;
}

void DecodeDate(TDateTime value, int* year, int* month, int* day) {
  int64_t d;
  if (!DayOf(value, &d)) {
    *year = *month = *day = 0;
    return;
  }
  int64_t y;
  CivilFromDays(d + kUnixDayOf18991230, &y, month, day);
  *year = static_cast<int>(y);
}

void DecodeTime(TDateTime value, int* hour, int* minute, int* second, int* msec) {
  int64_t ms = 0;
  if (std::isfinite(value)) {
    const double fraction = std::fabs(value - std::trunc(value));
    ms = std::llround(fraction * kMSecsPerDay);
    if (ms >= kMSecsPerDay) ms = kMSecsPerDay - 1;
  }
  *msec = static_cast<int>(ms % 1000);
  ms /= 1000;
  *second = static_cast<int>(ms % 60);
  ms /= 60;
  *minute = static_cast<int>(ms % 60);
  *hour = static_cast<int>(ms / 60);
}

int DayOfWeek(TDateTime value) {
  int64_t d;
  if (!DayOf(value, &d)) return 0;
  // Day 0, 30 December 1899, was a Saturday (7).
  int64_t r = (d + 6) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

uint16_t DateMonth(TDateTime value) {
  int y, m, d;
  DecodeDate(value, &y, &m, &d);
  return static_cast<uint16_t>(m);
}

uint16_t DateYear(TDateTime value) {
  int y, m, d;
  DecodeDate(value, &y, &m, &d);
  return static_cast<uint16_t>(y);
}

int32_t DateToJulianDay(TDateTime value) {
  if (!std::isfinite(value)) return kJulianDayOf18991230;
  const double jd = std::trunc(value) + kJulianDayOf18991230;
  // Keep far-out values inside the 32-bit range instead of overflowing.
  if (jd > 2147483647.0) return INT32_MAX;
  if (jd < -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(jd);
}

TDateTime JulianDayToDate(int32_t julian_day) {
  return static_cast<TDateTime>(static_cast<int64_t>(julian_day) - kJulianDayOf18991230);
}
