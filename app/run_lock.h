// One run at a time per program folder. Two instances started beside each
// other would write the same export files and LOG.TXT; the second one must
// leave them alone. The lock is an exclusive flock on a lock file in the
// program folder, held for the whole life of the window; the kernel drops it
// when the process ends, however it ends, so a crashed run never blocks the
// next one.
#ifndef KDX_APP_RUN_LOCK_H_
#define KDX_APP_RUN_LOCK_H_

#include <string>

inline constexpr char kRunLockFileName[] = "kdx-interface.lock";

class RunLock {
 public:
  enum class Result { kAcquired, kHeldByAnother, kFailed };

  RunLock() = default;
  ~RunLock();  // releases the lock (the file stays, for the next run)
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock on `program_folder` + kRunLockFileName without waiting.
  // kHeldByAnother: another process holds it; Message() then names the
  // folder and, when known, that process. kFailed: the lock file could not
  // be made or locked; Message() names the file and the reason.
  [[nodiscard]] Result Acquire(const std::string& program_folder);
  const std::string& Message() const { return message_; }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string message_;
};

#endif  // KDX_APP_RUN_LOCK_H_
