// Letter-case helpers for ASCII texts: table, column, index and key names,
// which the program compares without regard to case. Bytes outside 'a'..'z'
// and 'A'..'Z' are compared and copied as they are (no locale is consulted).
#ifndef KDX_UTIL_ASCII_H_
#define KDX_UTIL_ASCII_H_

#include <string>
#include <string_view>

// Whether `a` and `b` are equal when ASCII letters are folded to one case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// `text` with its ASCII letters in upper (lower) case.
std::string ToUpperAscii(std::string_view text);
std::string ToLowerAscii(std::string_view text);

#endif  // KDX_UTIL_ASCII_H_
