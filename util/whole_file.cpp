#include "util/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* contents, std::string* error) {
  contents->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, "Cannot open '" + path + "': " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Fail(error, "Cannot read '" + path + "': not a regular file");
  }
  contents->reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      return Fail(error, "Cannot read '" + path + "': " + std::strerror(saved));
    }
    if (n == 0) break;
    contents->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}
