#include "data/layer_support.h"

#include <unistd.h>

#include <climits>

#include "engine/ads.h"

namespace data_internal {

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
