// The file services the program writes its text files through: a small
// interface over the operating system so that tests can make an open, a write
// or a close fail. Results are 0 or an errno value; nothing here throws.
#ifndef KDX_PLATFORM_FILE_SYSTEM_H_
#define KDX_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <string>

class FileSystem {
 public:
  virtual ~FileSystem();

  // Creates the file, or empties it when it exists, and opens it for writing
  // at its start. Other programs may open and read it meanwhile.
  virtual int OpenForWrite(const std::string& path, int* handle) = 0;

  // Writes all `size` bytes at the current position. On failure returns the
  // errno value, and *written tells how many bytes reached the file first.
  virtual int Write(int handle, const char* data, size_t size, size_t* written) = 0;

  // Cuts the file to `size` bytes and moves the write position there.
  virtual int Truncate(int handle, uint64_t size) = 0;

  // Releases the handle, also when it reports a failure.
  virtual int Close(int handle) = 0;
};

// The operating system's files (POSIX calls); shared, stateless.
FileSystem* DefaultFileSystem();

#endif  // KDX_PLATFORM_FILE_SYSTEM_H_
