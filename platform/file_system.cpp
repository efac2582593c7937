#include "platform/file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

class PosixFileSystem : public FileSystem {
 public:
  int OpenForWrite(const std::string& path, int* handle) override {
    int fd;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    *handle = fd;
    return 0;
  }

  int Write(int handle, const char* data, size_t size, size_t* written) override {
    *written = 0;
    while (*written < size) {
      const ssize_t n = ::write(handle, data + *written, size - *written);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      // A write that takes nothing has run out of room.
      if (n == 0) return ENOSPC;
      *written += static_cast<size_t>(n);
    }
    return 0;
  }

  int Truncate(int handle, uint64_t size) override {
    if (::ftruncate(handle, static_cast<off_t>(size)) != 0) return errno;
    if (::lseek(handle, static_cast<off_t>(size), SEEK_SET) < 0) return errno;
    return 0;
  }

  int Close(int handle) override {
    // The descriptor is released even when close reports an error, so it is
    // never retried (a retry could close a descriptor opened meanwhile).
    return ::close(handle) == 0 ? 0 : errno;
  }
};

}  // namespace

FileSystem::~FileSystem() = default;

FileSystem* DefaultFileSystem() {
  static PosixFileSystem file_system;
  return &file_system;
}
