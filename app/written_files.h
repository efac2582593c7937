// The files a run writes, for its summary: a FileSystem that passes every
// call to another one and remembers, for each file created for writing, the
// final path it is written for, how many lines reached it, and whether it was
// put in place of the final file.
//
// OutputFile writes into a temporary file (PartialPathOf) and renames it over
// the final path on a successful Close; the entry names the final path from
// the start, so a file that failed half way is listed under the name the
// run meant to write, with `replaced` false: the final file then still holds
// what it held before the run.
//
// Belongs to the main window, next to the output file it serves; one thread.
#ifndef KDX_APP_WRITTEN_FILES_H_
#define KDX_APP_WRITTEN_FILES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"

struct WrittenFile {
  std::string path;       // the final path, never the temporary name
  uint64_t lines = 0;     // line ends written
  bool replaced = false;  // the file was renamed into place
};

class WrittenFiles : public FileSystem {
 public:
  // `base` must outlive this object.
  explicit WrittenFiles(FileSystem* base = DefaultFileSystem()) : base_(base) {}

  // Every file created so far, in the order of creation; a path written
  // twice is listed twice, each time with what that writing did.
  const std::vector<WrittenFile>& Files() const { return files_; }
  // Forgets the files listed so far.
  void Clear() {
    files_.clear();
    open_.clear();
    pending_.clear();
  }

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
  std::vector<WrittenFile> files_;
  std::map<int, size_t> open_;              // handle -> index into files_
  std::map<std::string, size_t> pending_;  // created path not yet renamed -> index
};

#endif  // KDX_APP_WRITTEN_FILES_H_
