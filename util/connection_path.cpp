#include "util/connection_path.h"

#include "util/ascii.h"

bool IsServerUri(const std::string& path) {
  const std::string lower = ToLowerAscii(path.substr(0, 13));
  return lower.rfind("postgresql://", 0) == 0 || lower.rfind("postgres://", 0) == 0;
}

std::string ShownConnectionPath(const std::string& path) {
  if (!IsServerUri(path)) return path;
  const size_t start = path.find("://") + 3;
  const size_t at = path.find('@', start);
  const size_t slash = path.find('/', start);
  std::string out = path;
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
    const size_t colon = path.find(':', start);
    if (colon != std::string::npos && colon < at) out = path.substr(0, colon + 1) + "***" + path.substr(at);
  }
  // A password given as an option of the URI.
  const size_t option = ToLowerAscii(out).find("password=");
  if (option != std::string::npos) {
    const size_t end = out.find('&', option);
    out = out.substr(0, option + 9) + "***" + (end == std::string::npos ? "" : out.substr(end));
  }
  return out;
}
