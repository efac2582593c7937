// The text output file of the export runs, and the file error it raises.
//
// An OutputFile is assigned a path, opened for writing, written line by line
// with CR LF line ends, and closed. The file the path names is replaced whole
// or not at all: the lines go to a temporary file in the same folder, and only
// a Close that succeeds renames it over the final name (one atomic step, as
// both are on one file system). Until then readers see the previous file,
// byte for byte; afterwards the new one. Nothing is ever appended, and no
// partial file ever appears under the final name.
//
// The temporary file is ".<name>.kdx-partial" beside the final file <name>
// (PartialPathOf). A run that is killed leaves it behind; the next Rewrite of
// the same path removes it. Two OutputFiles must not write the same path at
// the same time (the program's run lock sees to that).
//
// Every operation checks for failure at once and raises EInOutError naming
// the file and the setting its path came from. A failure while writing,
// syncing, closing or renaming removes the temporary file and leaves the file
// closed; the previous file stays exactly as it was.
//
// Modes: a new file gets kNewFileMode less the process umask (it holds
// salaries and bank accounts); a file that replaces an earlier one gets that
// file's permission bits and, where the process may use it, its group.
//
// States: closed --Rewrite--> open --Close--> closed; every failure of
// WriteLine, Flush or Close also ends in closed.
#ifndef KDX_PLATFORM_OUTPUT_FILE_H_
#define KDX_PLATFORM_OUTPUT_FILE_H_

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "util/error.h"

// A file error with its code. The message starts with the code's text: 2
// "File not found", 3 "Invalid filename", 4 "Too many open files", 5 "File
// access denied", 100 "Read beyond end of file", 101 "Disk full", 106
// "Invalid numeric input", any other code "I/O error <code>".
class EInOutError : public Exception {
 public:
  // The code's text alone.
  explicit EInOutError(int code);
  // "<code text>: <context>", e.g. "Disk full: '/srv/out/employee.txt'
  // (EMPLOYEE_PATH in /opt/kdx/PAVRO.ini)"; an empty context gives the text
  // alone.
  EInOutError(int code, const std::string& context);
  int Code() const { return code_; }

 private:
  int code_;
};

// File error codes the output file raises itself.
inline constexpr int kFileNotOpen = 103;
inline constexpr int kFileNotOpenForOutput = 105;
inline constexpr int kFileAccessDenied = 5;
// A device failed to write (EIO); kept apart from 5, "File access denied".
inline constexpr int kWriteFault = 29;

// The file error code for a POSIX errno value: a missing folder or bad name 3,
// no permission or a directory in the way 5, no space 101, too many open
// files 4, an I/O failure 29; any other value is used as it is, unless it
// would read as one of the named codes, in which case it becomes 29 as well.
[[nodiscard]] int InOutErrorCodeFromErrno(int err);

// The temporary file `path` is written as before it replaces it:
// ".<name>.kdx-partial" in the folder of `path` ("/srv/out/employee.txt"
// gives "/srv/out/.employee.txt.kdx-partial").
std::string PartialPathOf(const std::string& path);
// The final path a temporary file of PartialPathOf stands for; empty when
// `path` is not such a name.
std::string FinalPathOfPartial(const std::string& path);

class OutputFile {
 public:
  static constexpr size_t kBufferSize = 64 * 1024;
  // The mode of a new file, before the process umask.
  static constexpr mode_t kNewFileMode = 0640;

  // `file_system` defaults to DefaultFileSystem(); it must outlive the file.
  explicit OutputFile(FileSystem* file_system = nullptr);
  // Discards an open file, as CloseAfterError.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Names the file for the next Rewrite. `setting` says where the path came
  // from ("EMPLOYEE_PATH in /opt/kdx/PAVRO.ini", "the run log beside the
  // program"); every error for the file names it. An open file is closed
  // first (with the errors of Close).
  void Assign(const std::string& path, std::string setting = {});
  const std::string& Path() const { return path_; }
  const std::string& Setting() const { return setting_; }

  // Opens the assigned file for replacing: removes a temporary file a killed
  // run left, and creates the temporary file anew. The final file is only
  // looked at, never opened, and is refused with EInOutError(5) when it is a
  // symbolic link, a FIFO, a device, a folder or a socket, as is a temporary
  // name taken by anything but a regular file; nothing is created then. An
  // empty name is the standard output, which this program does not write to:
  // EInOutError(105). An open file is closed first.
  void Rewrite();

  // Writes `text` and CR LF. EInOutError(103) when the file is not open.
  void WriteLine(std::string_view text);

  // Writes the buffered lines to the temporary file, only ever whole lines.
  void Flush();

  // Writes the buffered lines, makes them durable, gives the file its mode
  // and puts it in place of the final file, then makes the folder durable.
  // On any failure before the file is in place, the temporary file is
  // removed and the previous file is left as it was. A failing folder sync
  // is raised too, with a message saying the new file is in place. Leaves
  // the file closed either way; EInOutError(103) when it was not open.
  void Close();

  bool IsOpen() const { return open_; }

  // Used when a run stops on an error: removes the temporary file, leaves
  // the final file as it was, and reports nothing.
  void CloseAfterError() noexcept;

 private:
  // What follows the code text in a message about `path`: "'<path>'
  // <detail> (<setting>)", or "no file name (<setting> is empty)".
  std::string Context(const std::string& path, std::string_view detail = {}) const;
  [[noreturn]] void Raise(int code, const std::string& path, std::string_view detail = {}) const;
  [[noreturn]] void Fail(int err, std::string_view detail = {}) const;
  // Gives the temporary file the permissions and group of `previous`, the
  // file it replaces. Returns 0 or the errno value of the failing step.
  [[nodiscard]] int TakeOverMode(const FileStatus& previous);
  // Closes and removes the temporary file, swallowing errors.
  void Discard() noexcept;

  FileSystem* file_system_;
  std::string path_;
  std::string setting_;
  std::string partial_path_;  // the temporary file of path_ while open
  std::string folder_;        // the folder of path_
  bool open_ = false;
  int handle_ = -1;
  std::string buffer_;  // whole lines not yet written
};

#endif  // KDX_PLATFORM_OUTPUT_FILE_H_
