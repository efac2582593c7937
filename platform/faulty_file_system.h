// A FileSystem for tests that passes everything to a real one but fails the
// operations it is told to: an open, the Nth write (optionally after part of
// its bytes reached the file), every write from the Nth on, or the close.
#ifndef KDX_PLATFORM_FAULTY_FILE_SYSTEM_H_
#define KDX_PLATFORM_FAULTY_FILE_SYSTEM_H_

#include <cerrno>

#include "platform/file_system.h"

class FaultyFileSystem : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem* base = DefaultFileSystem()) : base_(base) {}

  // Every open fails with `err`; 0 stops the failure.
  void FailOpen(int err) { open_error_ = err; }
  // Write call number `nth` (counting from 1) fails with `err` after
  // `partial_bytes` of its data were written.
  void FailWrite(int nth, int err = ENOSPC, size_t partial_bytes = 0) {
    fail_write_ = nth;
    write_error_ = err;
    partial_bytes_ = partial_bytes;
    fail_from_ = false;
  }
  // Write call number `nth` and every later one fail: the disk stays full.
  void FailWritesFrom(int nth, int err = ENOSPC) {
    FailWrite(nth, err, 0);
    fail_from_ = true;
  }
  // Every close fails with `err` (the handle is released all the same).
  void FailClose(int err) { close_error_ = err; }

  int WriteCalls() const { return write_calls_; }
  int CloseCalls() const { return close_calls_; }

  int OpenForWrite(const std::string& path, int* handle) override;
  int Write(int handle, const char* data, size_t size, size_t* written) override;
  int Truncate(int handle, uint64_t size) override;
  int Close(int handle) override;

 private:
  FileSystem* base_;
  int open_error_ = 0;
  int fail_write_ = 0;
  int write_error_ = ENOSPC;
  size_t partial_bytes_ = 0;
  bool fail_from_ = false;
  int close_error_ = 0;
  int write_calls_ = 0;
  int close_calls_ = 0;
};

#endif  // KDX_PLATFORM_FAULTY_FILE_SYSTEM_H_
