// The program's general error type: every error the program raises derives
// from Exception and carries the message text a user sees.
#ifndef KDX_UTIL_ERROR_H_
#define KDX_UTIL_ERROR_H_

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Raised where a floating-point division by zero would put an infinite or
// undefined amount into an output; message "Floating point division by zero".
class EZeroDivide : public Exception {
 public:
  EZeroDivide() : Exception("Floating point division by zero") {}
};

#endif  // KDX_UTIL_ERROR_H_
