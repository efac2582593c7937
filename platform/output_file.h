// The text output file of the export runs, and the file error it raises.
//
// An OutputFile is assigned a path, opened for writing (created, or emptied
// when it exists: nothing is ever appended), written line by line with CR LF
// line ends, and closed. Every operation checks for failure at once and
// raises EInOutError. Lines are buffered, but the buffer is only ever written
// out whole lines at a time, and a write that fails half way is cut back, so
// the file never ends in part of a line.
//
// States: closed --Rewrite--> open --Close--> closed. A Close that fails while
// writing the buffer leaves the file open (CloseAfterError or the destructor
// then try once more and release it); a failing close itself leaves it closed.
#ifndef KDX_PLATFORM_OUTPUT_FILE_H_
#define KDX_PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "util/error.h"

// A file error with its code. The message follows the code: 2 "File not
// found", 3 "Invalid filename", 4 "Too many open files", 5 "File access
// denied", 100 "Read beyond end of file", 101 "Disk full", 106 "Invalid
// numeric input", any other code "I/O error <code>".
class EInOutError : public Exception {
 public:
  explicit EInOutError(int code);
  int Code() const { return code_; }

 private:
  int code_;
};

// File error codes the output file raises itself.
inline constexpr int kFileNotOpen = 103;
inline constexpr int kFileNotOpenForOutput = 105;
// A device failed to write (EIO); kept apart from 5, "File access denied".
inline constexpr int kWriteFault = 29;

// The file error code for a POSIX errno value: a missing folder or bad name 3,
// no permission or a directory in the way 5, no space 101, too many open
// files 4, an I/O failure 29; any other value is used as it is, unless it
// would read as one of the named codes, in which case it becomes 29 as well.
int InOutErrorCodeFromErrno(int err);

class OutputFile {
 public:
  static constexpr size_t kBufferSize = 64 * 1024;

  // `file_system` defaults to DefaultFileSystem(); it must outlive the file.
  explicit OutputFile(FileSystem* file_system = nullptr);
  // Writes what is buffered and closes, swallowing errors, as CloseAfterError.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Names the file for the next Rewrite. An open file is closed first (with
  // the errors of Close).
  void Assign(const std::string& path);
  const std::string& Path() const { return path_; }

  // Creates or empties the assigned file and opens it. An empty name is the
  // standard output, which this program does not write to: EInOutError(105).
  // An open file is closed first.
  void Rewrite();

  // Writes `text` and CR LF. EInOutError(103) when the file is not open.
  void WriteLine(std::string_view text);

  // Writes the buffered lines to the file.
  void Flush();

  // Writes the buffered lines and closes. EInOutError(103) when not open.
  void Close();

  bool IsOpen() const { return open_; }

  // Used when a run stops on an error: writes what is buffered (whole lines)
  // as far as it can, closes the file, and reports nothing.
  void CloseAfterError() noexcept;

 private:
  [[noreturn]] void Fail(int err) const;

  FileSystem* file_system_;
  std::string path_;
  bool open_ = false;
  int handle_ = -1;
  uint64_t committed_ = 0;  // bytes of whole lines known to be in the file
  std::string buffer_;      // whole lines not yet written
};

#endif  // KDX_PLATFORM_OUTPUT_FILE_H_
