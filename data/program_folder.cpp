#include "data/program_folder.h"

#include <unistd.h>

#include <climits>

namespace data_internal {

std::string ProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "";
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace data_internal
