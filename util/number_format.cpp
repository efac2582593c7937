#include "util/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kSignificantDigits = 15;

// The value's first 15 significant digits (correctly rounded) and the decimal
// exponent of the first one: 1234.5 gives "123450000000000" and 3.
// REQUIRES: value is finite and not zero.
void SignificantDigits(double value, std::string* digits, int* exponent) {
  char buf[40];
  // "d.dddddddddddddde+XX", the binary value correctly rounded, as printf's
  // "%.14e" gives it.
  const std::to_chars_result made = std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value),
                                                  std::chars_format::scientific, kSignificantDigits - 1);
  *made.ptr = '\0';
  digits->clear();
  const char* p = buf;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits->push_back(*p);
  }
  *exponent = std::atoi(p + 1);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* NonFiniteText(double value) {
  if (std::isnan(value)) return "NAN";
  return value > 0 ? "INF" : "-INF";
}

}  // namespace

std::string FormatAmount(double value) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  if (value == 0) return "0.00";
  std::string digits;
  int exponent;
  SignificantDigits(value, &digits, &exponent);

  // The value in hundredths: the digits up to the second decimal, then round
  // on the digit after it, half away from zero.
  const int kept = exponent + 1 + 2;  // digits of the value up to the hundredths
  std::string hundredths;
  bool round_up = false;
  if (kept <= 0) {
    hundredths = "0";
    round_up = kept == 0 && digits[0] >= '5';
  } else {
    for (int k = 0; k < kept; ++k) {
      hundredths.push_back(k < static_cast<int>(digits.size()) ? digits[k] : '0');
    }
    round_up = kept < static_cast<int>(digits.size()) && digits[kept] >= '5';
  }
  if (round_up) {
    int k = static_cast<int>(hundredths.size()) - 1;
    while (k >= 0 && hundredths[k] == '9') hundredths[k--] = '0';
    if (k >= 0) {
      ++hundredths[k];
    } else {
      hundredths.insert(hundredths.begin(), '1');
    }
  }
  while (hundredths.size() < 3) hundredths.insert(hundredths.begin(), '0');

  const bool zero = hundredths.find_first_not_of('0') == std::string::npos;
  std::string out;
  if (value < 0 && !zero) out.push_back('-');
  out.append(hundredths, 0, hundredths.size() - 2);
  out.push_back('.');
  out.append(hundredths, hundredths.size() - 2, 2);
  return out;
}

std::string FormatGeneral(double value) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  if (value == 0) return "0";
  std::string digits;
  int exponent;
  SignificantDigits(value, &digits, &exponent);
  const size_t last = digits.find_last_not_of('0');
  digits.resize(last + 1);

  std::string out;
  if (value < 0) out.push_back('-');
  if (exponent >= kSignificantDigits || exponent < -5) {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    out.push_back('E');
    out.append(std::to_string(exponent));
  } else if (exponent < 0) {
    out.append("0.");
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out.append(digits);
  } else {
    const size_t int_digits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= int_digits) {
      out.append(digits);
      out.append(int_digits - digits.size(), '0');
    } else {
      out.append(digits, 0, int_digits);
      out.push_back('.');
      out.append(digits, int_digits, std::string::npos);
    }
  }
  return out;
}

bool TryTextToFloat(const std::string& text, double* out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t number_start = i;

  // Check the shape, and note the power of ten of the first non-zero digit,
  // to tell an overflow from an underflow.
  size_t mantissa_digits = 0;
  long int_digits = 0;
  long frac_digits = 0;
  bool in_fraction = false;
  bool seen_nonzero = false;
  long nonzero_int_index = 0;  // integer digits before the first non-zero one
  long nonzero_frac_index = 0;  // 1-based place after the point of it
  bool nonzero_in_fraction = false;
  for (; i < n; ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      ++mantissa_digits;
      if (c != '0' && !seen_nonzero) {
        seen_nonzero = true;
        nonzero_in_fraction = in_fraction;
        nonzero_int_index = int_digits;
        nonzero_frac_index = frac_digits + 1;
      }
      if (in_fraction) {
        ++frac_digits;
      } else {
        ++int_digits;
      }
    } else if (c == '.' && !in_fraction) {
      in_fraction = true;
    } else {
      break;
    }
  }
  if (mantissa_digits == 0) return false;
  const long magnitude =
      nonzero_in_fraction ? -nonzero_frac_index : int_digits - 1 - nonzero_int_index;
  long exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
    if (i >= n || !IsDigit(text[i])) return false;
    for (; i < n && IsDigit(text[i]); ++i) {
      if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (exp_negative) exponent = -exponent;
  }
  const size_t number_end = i;
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) return false;

  double value = 0;
  const auto result =
      std::from_chars(text.data() + number_start, text.data() + number_end, value,
                      std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    if (!seen_nonzero) {
      value = 0;
    } else if (magnitude + exponent > 0) {
      return false;  // too large for a double
    } else {
      value = 0;  // too small: underflows to zero
    }
  } else if (result.ec != std::errc() || result.ptr != text.data() + number_end) {
    return false;
  }
  *out = negative ? -value : value;
  return true;
}

bool TryTextToInt(const std::string& text, int32_t* out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t value = 0;
  for (; i < n; ++i) {
    const int digit = base == 16 ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
    if (digit < 0) return false;
    value = value * base + digit;
    if (value > limit) return false;
  }
  *out = static_cast<int32_t>(negative ? -value : value);
  return true;
}
