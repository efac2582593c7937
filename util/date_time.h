// The program's date-time value: a day count since 30 December 1899 with the
// time of day as its fraction (0.5 is noon of that day). Dates follow the
// proleptic Gregorian calendar for the years 1 to 9999.
//
// Values before day 0 keep the date in their whole part and the time of day in
// the absolute value of their fraction: -1.25 is 29 December 1899, 06:00.
#ifndef KDX_UTIL_DATE_TIME_H_
#define KDX_UTIL_DATE_TIME_H_

#include <cstdint>

using TDateTime = double;

// Julian day number of 30 December 1899, day 0 of TDateTime.
inline constexpr int32_t kJulianDayOf18991230 = 2415019;
inline constexpr int32_t kMSecsPerDay = 24 * 60 * 60 * 1000;

// Stores the value of the date in *out and returns true; returns false and
// leaves *out alone when the year is outside 1..9999 or the month or day does
// not exist (30 February, month 13, ...).
bool TryEncodeDate(int year, int month, int day, TDateTime* out);

// As TryEncodeDate; an invalid date raises Exception
// "Invalid argument to date encode".
TDateTime EncodeDate(int year, int month, int day);

// The fraction of a day for the time; hour 0..23, minute and second 0..59,
// millisecond 0..999, otherwise Exception "Invalid argument to time encode".
TDateTime EncodeTime(int hour, int minute, int second, int msec);

// The calendar date of the value's whole part. A value outside the years
// 1..9999 (or not a number) decodes as year, month and day 0.
void DecodeDate(TDateTime value, int* year, int* month, int* day);

// The time of day of the value's fraction, rounded to the nearest millisecond
// but never past 23:59:59.999 (it does not spill into the next day).
void DecodeTime(TDateTime value, int* hour, int* minute, int* second, int* msec);

// Day of the week, 1 = Sunday .. 7 = Saturday; 0 for an undecodable value.
int DayOfWeek(TDateTime value);

// Month 1..12 and calendar year of the value's date.
uint16_t DateMonth(TDateTime value);
uint16_t DateYear(TDateTime value);

// Julian day number of the value's date: trunc(value) + 2415019.
int32_t DateToJulianDay(TDateTime value);
TDateTime JulianDayToDate(int32_t julian_day);

#endif  // KDX_UTIL_DATE_TIME_H_
