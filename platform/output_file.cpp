#include "platform/output_file.h"

#include <cerrno>

namespace {

std::string InOutMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

EInOutError::EInOutError(int code) : Exception(InOutMessage(code)), code_(code) {}

int InOutErrorCodeFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return 5;
    case ENOSPC:
    case EDQUOT:
      return 101;
    case EMFILE:
    case ENFILE:
      return 4;
    case EIO:
      return kWriteFault;
    default:
      break;
  }
  // Codes below 7 and from 100 to 106 have meanings of their own; an errno
  // that happens to share the number must not read as one of them.
  if (err < 7 || (err >= 100 && err <= 106)) return kWriteFault;
  return err;
}

OutputFile::OutputFile(FileSystem* file_system)
    : file_system_(file_system != nullptr ? file_system : DefaultFileSystem()) {}

OutputFile::~OutputFile() { CloseAfterError(); }

void OutputFile::Fail(int err) const { throw EInOutError(InOutErrorCodeFromErrno(err)); }

void OutputFile::Assign(const std::string& path) {
  if (open_) Close();
  path_ = path;
}

void OutputFile::Rewrite() {
  if (open_) Close();
  if (path_.empty()) throw EInOutError(kFileNotOpenForOutput);
  int handle = -1;
  const int err = file_system_->OpenForWrite(path_, &handle);
  if (err != 0) Fail(err);
  handle_ = handle;
  open_ = true;
  committed_ = 0;
  buffer_.clear();
}

void OutputFile::WriteLine(std::string_view text) {
  if (!open_) throw EInOutError(kFileNotOpen);
  const size_t line_size = text.size() + kLineEnd.size();
  if (!buffer_.empty() && buffer_.size() + line_size > kBufferSize) Flush();
  if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
  buffer_.append(text);
  buffer_.append(kLineEnd);
  if (buffer_.size() >= kBufferSize) Flush();
}

void OutputFile::Flush() {
  if (!open_) throw EInOutError(kFileNotOpen);
  if (buffer_.empty()) return;
  size_t written = 0;
  const int err = file_system_->Write(handle_, buffer_.data(), buffer_.size(), &written);
  if (err != 0) {
    // Cut off what part of the buffer got through, so that the file ends
    // after a whole line; the lines stay buffered for a later attempt.
    if (written > 0) file_system_->Truncate(handle_, committed_);
    Fail(err);
  }
  committed_ += buffer_.size();
  buffer_.clear();
}

void OutputFile::Close() {
  if (!open_) throw EInOutError(kFileNotOpen);
  Flush();
  open_ = false;
  const int err = file_system_->Close(handle_);
  handle_ = -1;
  if (err != 0) Fail(err);
}

void OutputFile::CloseAfterError() noexcept {
  if (!open_) return;
  try {
    Flush();
  } catch (...) {
    // The file keeps the whole lines that were written before.
  }
  open_ = false;
  file_system_->Close(handle_);
  handle_ = -1;
  buffer_.clear();
}
