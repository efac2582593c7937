// The files a run writes, for its summary: a FileSystem that passes every
// call to another one and remembers, for each file opened for writing, its
// path and how many lines it holds. Lines are counted from what reached the
// file: a write that fails half way counts what it wrote, and the cut back
// to the last whole line that OutputFile then makes takes them off again.
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
  std::string path;
  uint64_t lines = 0;  // line ends written
};

class WrittenFiles : public FileSystem {
 public:
  // `base` must outlive this object.
  explicit WrittenFiles(FileSystem* base = DefaultFileSystem()) : base_(base) {}

  // Every file opened so far, in the order of opening; a file opened twice
  // is listed twice, each time with what that opening wrote.
  const std::vector<WrittenFile>& Files() const { return files_; }
  // Forgets the files listed so far.
  void Clear() { files_.clear(); }

  int OpenForWrite(const std::string& path, int* handle) override;
  int Write(int handle, const char* data, size_t size, size_t* written) override;
  int Truncate(int handle, uint64_t size) override;
  int Close(int handle) override;

 private:
  struct Extent {
    uint64_t bytes = 0;
    uint64_t lines = 0;
  };
  struct Open {
    size_t file = 0;  // index into files_
    Extent now;       // what the file holds
    Extent whole;     // as it stood after the last write that succeeded
  };

  FileSystem* base_;
  std::vector<WrittenFile> files_;
  std::map<int, Open> open_;
};

#endif  // KDX_APP_WRITTEN_FILES_H_
