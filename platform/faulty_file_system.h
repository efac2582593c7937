// A FileSystem for tests that passes everything to a real one but fails the
// operations it is told to: the create, the Nth write (optionally after part
// of its bytes reached the file) or every write from the Nth on, the sync,
// setting the group or the permissions, the close, the rename, the remove or
// the folder sync. A failing step does nothing but report its error, except
// that a close releases the handle all the same.
#ifndef KDX_PLATFORM_FAULTY_FILE_SYSTEM_H_
#define KDX_PLATFORM_FAULTY_FILE_SYSTEM_H_

#include <cerrno>

#include "platform/file_system.h"

class FaultyFileSystem : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem* base = DefaultFileSystem()) : base_(base) {}

  // Each switch makes every later call of its operation fail with `err`; 0
  // stops the failure.
  void FailCreate(int err) { create_error_ = err; }
  void FailSync(int err) { sync_error_ = err; }
  void FailSetGroup(int err) { set_group_error_ = err; }
  void FailSetPermissions(int err) { set_permissions_error_ = err; }
  void FailClose(int err) { close_error_ = err; }  // the handle is released all the same
  void FailRename(int err) { rename_error_ = err; }
  void FailRemove(int err) { remove_error_ = err; }
  void FailSyncFolder(int err) { sync_folder_error_ = err; }
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

  int WriteCalls() const { return write_calls_; }
  int CloseCalls() const { return close_calls_; }

  [[nodiscard]] int Inspect(const std::string& path, FileStatus* status) override;
  [[nodiscard]] int CreateNew(const std::string& path, mode_t mode, int* handle) override;
  [[nodiscard]] int Write(int handle, const char* data, size_t size, size_t* written) override;
  [[nodiscard]] int Sync(int handle) override;
  [[nodiscard]] int SetGroup(int handle, gid_t group) override;
  [[nodiscard]] int SetPermissions(int handle, mode_t permissions) override;
  [[nodiscard]] int Close(int handle) override;
  [[nodiscard]] int Rename(const std::string& from, const std::string& to) override;
  [[nodiscard]] int Remove(const std::string& path) override;
  [[nodiscard]] int SyncFolder(const std::string& folder) override;

 private:
  FileSystem* base_;
  int create_error_ = 0;
  int sync_error_ = 0;
  int set_group_error_ = 0;
  int set_permissions_error_ = 0;
  int close_error_ = 0;
  int rename_error_ = 0;
  int remove_error_ = 0;
  int sync_folder_error_ = 0;
  int fail_write_ = 0;
  int write_error_ = ENOSPC;
  size_t partial_bytes_ = 0;
  bool fail_from_ = false;
  int write_calls_ = 0;
  int close_calls_ = 0;
};

#endif  // KDX_PLATFORM_FAULTY_FILE_SYSTEM_H_
