#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

class PosixFileSystem : public FileSystem {
 public:
  [[nodiscard]] int Inspect(const std::string& path, FileStatus* status) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno;
    if (S_ISREG(st.st_mode)) {
      status->kind = FileStatus::Kind::kFile;
    } else if (S_ISDIR(st.st_mode)) {
      status->kind = FileStatus::Kind::kFolder;
    } else if (S_ISLNK(st.st_mode)) {
      status->kind = FileStatus::Kind::kSymbolicLink;
    } else if (S_ISFIFO(st.st_mode)) {
      status->kind = FileStatus::Kind::kFifo;
    } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
      status->kind = FileStatus::Kind::kDevice;
    } else if (S_ISSOCK(st.st_mode)) {
      status->kind = FileStatus::Kind::kSocket;
    } else {
      status->kind = FileStatus::Kind::kOther;
    }
    status->permissions = st.st_mode & 07777;
    status->group = st.st_gid;
    return 0;
  }

  [[nodiscard]] int CreateNew(const std::string& path, mode_t mode, int* handle) override {
    int fd;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    *handle = fd;
    return 0;
  }

  [[nodiscard]] int Write(int handle, const char* data, size_t size, size_t* written) override {
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

  [[nodiscard]] int Sync(int handle) override { return ::fsync(handle) == 0 ? 0 : errno; }

  [[nodiscard]] int SetGroup(int handle, gid_t group) override {
    return ::fchown(handle, static_cast<uid_t>(-1), group) == 0 ? 0 : errno;
  }

  [[nodiscard]] int SetPermissions(int handle, mode_t permissions) override {
    return ::fchmod(handle, permissions & 07777) == 0 ? 0 : errno;
  }

  [[nodiscard]] int Close(int handle) override {
    // The descriptor is released even when close reports an error, so it is
    // never retried (a retry could close a descriptor opened meanwhile).
    return ::close(handle) == 0 ? 0 : errno;
  }

  [[nodiscard]] int Rename(const std::string& from, const std::string& to) override {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  }

  [[nodiscard]] int Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

  [[nodiscard]] int SyncFolder(const std::string& folder) override {
    int fd;
    do {
      fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    int err = ::fsync(fd) == 0 ? 0 : errno;
    // Some file systems cannot sync a folder at all; their renames are as
    // durable as they can be made.
    if (err == EINVAL || err == ENOTSUP) err = 0;
    ::close(fd);
    return err;
  }
};

}  // namespace

FileSystem::~FileSystem() = default;

FileSystem* DefaultFileSystem() {
  static PosixFileSystem file_system;
  return &file_system;
}
