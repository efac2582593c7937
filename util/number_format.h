// Texts of numbers: the amount pattern "0.00", the shortest general form used
// when a floating-point column is read as text, and the readers of number
// texts. All of them use "." as the decimal point and no thousands separator,
// whatever the process locale says.
#ifndef KDX_UTIL_NUMBER_FORMAT_H_
#define KDX_UTIL_NUMBER_FORMAT_H_

#include <cstdint>
#include <string>

// The value with at least one digit before and exactly two after the point,
// halves rounded away from zero: 1 -> "1.00", 0.5 -> "0.50", 2.675 -> "2.68",
// -1.5 -> "-1.50". The value is taken at the 15 significant digits a double
// holds reliably before it is rounded, so a value typed as 2.675 rounds up
// although its binary form lies a little below. A result of zero never
// carries a minus sign (-0.001 -> "0.00"). Not-a-number and infinities give
// "NAN", "INF" and "-INF".
std::string FormatAmount(double value);

// The shortest text that gives the value back at 15 significant digits:
// 1234.5, 1234, 0.5, -0.25. Values of 1E15 and above in size, or below 1E-5,
// are written with an exponent: "1E20", "1.5E-7", "-2.5E15".
std::string FormatGeneral(double value);

// Reads a decimal number: optional blanks, an optional sign, digits with an
// optional "." (at least one digit in all), an optional exponent "E" or "e"
// with an optional sign and digits, optional blanks. False for anything else
// and for a value too large for a double; a value too small becomes 0.
bool TryTextToFloat(const std::string& text, double* out);

// Reads a whole number: leading blanks, an optional sign, then decimal digits
// or, after "$", "x" or "0x" (either case), hexadecimal digits. False for the
// empty text, any other character (trailing blanks included) and a value
// outside the 32-bit signed range.
bool TryTextToInt(const std::string& text, int32_t* out);

#endif  // KDX_UTIL_NUMBER_FORMAT_H_
