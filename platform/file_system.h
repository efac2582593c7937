// The file services the program writes its text files through: a small
// interface over the operating system so that tests can make any step of
// writing a file fail. Results are 0 or an errno value; nothing here throws.
//
// The calls are the steps of replacing a file whole (see OutputFile): look at
// what a path names without following it, create a new file that did not
// exist, write and sync it, give it its mode and group, close it, rename it
// over the final name, sync the folder; and remove a file that is not wanted.
#ifndef KDX_PLATFORM_FILE_SYSTEM_H_
#define KDX_PLATFORM_FILE_SYSTEM_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// What a path names, as lstat sees it: a symbolic link is reported as a
// link, never as what it points to.
struct FileStatus {
  enum class Kind { kFile, kFolder, kSymbolicLink, kFifo, kDevice, kSocket, kOther };
  Kind kind = Kind::kOther;
  mode_t permissions = 0;  // st_mode & 07777
  gid_t group = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem();

  // What `path` names, without following a symbolic link and without opening
  // it (opening a FIFO or a device can wait forever). ENOENT when nothing is
  // there.
  [[nodiscard]] virtual int Inspect(const std::string& path, FileStatus* status) = 0;

  // Creates `path` as a new, empty regular file with `mode` (less the process
  // umask) and opens it for writing. Fails (EEXIST) when anything exists
  // under the name, a symbolic link included, so nothing else is ever opened.
  [[nodiscard]] virtual int CreateNew(const std::string& path, mode_t mode, int* handle) = 0;

  // Writes all `size` bytes at the current position. On failure returns the
  // errno value, and *written tells how many bytes reached the file first.
  [[nodiscard]] virtual int Write(int handle, const char* data, size_t size, size_t* written) = 0;

  // Makes what was written durable (fsync).
  [[nodiscard]] virtual int Sync(int handle) = 0;

  // Gives the open file the group `group`; the owner is left as it is.
  [[nodiscard]] virtual int SetGroup(int handle, gid_t group) = 0;

  // Gives the open file the permission bits `permissions` (07777 at most).
  [[nodiscard]] virtual int SetPermissions(int handle, mode_t permissions) = 0;

  // Releases the handle, also when it reports a failure.
  [[nodiscard]] virtual int Close(int handle) = 0;

  // Renames `from` to `to`, replacing what `to` names in one step; both must
  // be on the same file system.
  [[nodiscard]] virtual int Rename(const std::string& from, const std::string& to) = 0;

  // Removes the name `path` (a file or a link, never a folder).
  [[nodiscard]] virtual int Remove(const std::string& path) = 0;

  // Makes the folder's entries durable (fsync of the folder), so that a
  // rename in it survives a power loss.
  [[nodiscard]] virtual int SyncFolder(const std::string& folder) = 0;
};

// The operating system's files (POSIX calls); shared, stateless.
FileSystem* DefaultFileSystem();

#endif  // KDX_PLATFORM_FILE_SYSTEM_H_
