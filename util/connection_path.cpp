#include "util/connection_path.h"

#include "util/ascii.h"

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// An empty port is libpq's default.
bool AllDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Every "host[:port]" of a comma-separated host list has a numeric port or
// none; an IPv6 address is written in brackets.
bool PortsAreNumbers(const std::string& hosts) {
  size_t start = 0;
  while (start <= hosts.size()) {
    size_t end = hosts.find(',', start);
    if (end == std::string::npos) end = hosts.size();
    const std::string host = hosts.substr(start, end - start);
    size_t colon = std::string::npos;
    if (!host.empty() && host[0] == '[') {
      const size_t bracket = host.find(']');
      if (bracket == std::string::npos) return false;
      if (bracket + 1 < host.size()) {
        if (host[bracket + 1] != ':') return false;
        colon = bracket + 1;
      }
    } else {
      colon = host.find(':');
    }
    if (colon != std::string::npos && !AllDigits(host.substr(colon + 1))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

bool IsServerUri(const std::string& path) {
  const std::string lower = ToLowerAscii(path.substr(0, 13));
  return lower.rfind("postgresql://", 0) == 0 || lower.rfind("postgres://", 0) == 0;
}

bool IsMalformedServerUri(const std::string& uri) {
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && (i + 2 >= uri.size() || !IsHex(uri[i + 1]) || !IsHex(uri[i + 2]))) return true;
  }
  const size_t start = uri.find("://") + 3;
  // libpq's rule: the user information runs to the first "@" before any "/".
  size_t hosts_start = start;
  const size_t at = uri.find('@', start);
  if (at != std::string::npos && at < uri.find('/', start)) hosts_start = at + 1;
  if (uri.find('@', hosts_start) != std::string::npos) return true;
  const size_t hosts_end = uri.find_first_of("/?", hosts_start);
  return !PortsAreNumbers(uri.substr(hosts_start, hosts_end == std::string::npos ? std::string::npos
                                                                                  : hosts_end - hosts_start));
}

std::string ShownConnectionPath(const std::string& path) {
  if (!IsServerUri(path)) return path;
  if (IsMalformedServerUri(path)) return kMalformedUriShown;
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
