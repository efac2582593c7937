#include "app/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string ReadHolder(int fd) {
  char buffer[32] = {};
  const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
  if (n <= 0) return "";
  std::string pid(buffer, static_cast<size_t>(n));
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\r')) pid.pop_back();
  for (char c : pid) {
    if (c < '0' || c > '9') return "";
  }
  return pid;
}

}  // namespace

RunLock::~RunLock() {
  if (fd_ >= 0) close(fd_);  // closing drops the flock
}

RunLock::Result RunLock::Acquire(const std::string& program_folder) {
  const std::string path = program_folder + kRunLockFileName;
  // Never through a symbolic link, and only a regular file: a link planted
  // in the program folder must not make the run write elsewhere.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
  if (fd < 0) {
    const int err = errno;
    message_ = "Cannot open the lock file " + path + ": " +
               (err == ELOOP ? std::string("it is a symbolic link, which the run never writes through")
                             : std::string(std::strerror(err)));
    return Result::kFailed;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    message_ = "Cannot open the lock file " + path + ": it is not a regular file";
    close(fd);
    return Result::kFailed;
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK) {
      const std::string holder = ReadHolder(fd);
      message_ = "Another run is under way in " + program_folder +
                 (holder.empty() ? std::string() : " (process " + holder + ")") + "; this one does nothing.";
      close(fd);
      return Result::kHeldByAnother;
    }
    message_ = "Cannot lock " + path + ": " + std::strerror(err);
    close(fd);
    return Result::kFailed;
  }
  // Who holds it, for the message of a second instance; a failure here does
  // not matter to the lock itself.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t ignored = pwrite(fd, pid.data(), pid.size(), 0);
  }
  fd_ = fd;
  return Result::kAcquired;
}
