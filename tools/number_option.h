// The check of kdx-db's number options: a whole number from 0 to a largest
// value, in digits, refused with a message that says so ("--employees: takes
// a whole number from 0 to 10000000, not '-5'") rather than a range of
// floating-point limits.
#ifndef KDX_TOOLS_NUMBER_OPTION_H_
#define KDX_TOOLS_NUMBER_OPTION_H_

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

inline CLI::Validator WholeNumber(uint64_t largest) {
  return CLI::Validator(
      [largest](std::string& text) {
        const std::string refused =
            "takes a whole number from 0 to " + std::to_string(largest) + ", not '" + text + "'";
        if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) {
          return refused;
        }
        errno = 0;
        const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
        if (errno == ERANGE || value > largest) return refused;
        return std::string();
      },
      "0.." + std::to_string(largest));
}

#endif  // KDX_TOOLS_NUMBER_OPTION_H_
