// Date and time patterns, and the process-wide date settings that every
// conversion of a date to text without an explicit pattern uses.
//
// Pattern letters (not case-sensitive; a run of the same letter is one token):
//   d  day 1..31        dd  two digits      ddd  Sun..Sat   dddd Sunday..Saturday
//   ddddd  the short date format            dddddd  the long date format
//   m  month 1..12      mm  two digits      mmm  Jan..Dec   mmmm January..December
//   yy two-digit year   yyyy (3 or more y)  four-digit year
//   h  hour 0..23       hh  two digits      (0..12 when an am/pm token follows)
//   n  minute           nn  two digits      s, ss  second   z, zzz  millisecond
//   t  the short time format                tt  the long time format
//   c  the short date format, then a blank and the long time format unless the
//      time is exactly midnight
//   am/pm, a/p, ampm   the half of the day (12-hour clock for the hours)
//   /  the date separator                   :  the time separator ":"
//   '...' and "..."  copied without the quotes
// An m run stands for minutes instead of the month when the nearest letter
// before it in the pattern is an h: "hh:mm" gives minutes, but in
// "DD/MM/YYYY  HHSSMM" the last pair is the month again. Every other character
// is copied.
//
// The settings are shared by the whole process and guarded by one lock.
#ifndef KDX_UTIL_DATE_FORMAT_H_
#define KDX_UTIL_DATE_FORMAT_H_

#include <string>
#include <string_view>

#include "util/date_time.h"

std::string FormatDateTime(std::string_view pattern, TDateTime value);

// Default "dd/MM/yyyy".
std::string ShortDateFormat();
void SetShortDateFormat(const std::string& format);
// Default '/'.
char DateSeparator();
void SetDateSeparator(char separator);
// "hh:nn:ss"; the short time format is "hh:nn"; the long date format is
// "dd MMMM yyyy".
std::string LongTimeFormat();
std::string ShortTimeFormat();
std::string LongDateFormat();

// The value's date in the short date format.
std::string DateToText(TDateTime value);
// The value's time in the long time format.
std::string TimeToText(TDateTime value);
// The date, and a blank and the time unless the time is exactly midnight.
std::string DateTimeToText(TDateTime value);

// Reads a date in the order of the short date format's day, month and year
// (day/month/year for "dd/MM/yyyy", separated by the date separator),
// optionally followed by blanks and a time "h:n" or "h:n:s" (or "h:n:s.zzz");
// a time alone gives a value on day 0. Blanks around the text are allowed. A
// year of one or two digits falls in 1950..2049. Returns false, leaving *out
// alone, for anything else, including impossible dates and times.
bool TryTextToDateTime(const std::string& text, TDateTime* out);

#endif  // KDX_UTIL_DATE_FORMAT_H_
