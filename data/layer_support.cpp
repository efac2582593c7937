#include "data/layer_support.h"

#include <unistd.h>

#include <climits>

#include "engine/ads.h"

namespace data_internal {

namespace {
char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  }
  return true;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

EngineError LastEngineError() {
  EngineError error;
  if (AdsGetLastError(&error.code, &error.text) != AE_SUCCESS) {
    error.code = 0;
    error.text.clear();
  }
  if (error.text.size() > kErrorTextLimit) error.text.resize(kErrorTextLimit);
  return error;
}

std::string AdsErrorMessageFromLastError() {
  EngineError error = LastEngineError();
  if (error.text.empty()) {
    AdsShowError("Ads Exception Error");
    return "";
  }
  return error.text;
}

std::string AdsErrorMessageForCode(uint32_t code) {
  std::string text;
  if (AdsGetErrorString(code, &text) != AE_SUCCESS || text.empty()) {
    AdsShowError("Ads Exception Error");
    return "";
  }
  if (text.size() > kErrorTextLimit) text.resize(kErrorTextLimit);
  return text;
}

std::string ProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "";
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace data_internal
