#include "platform/output_file.h"

#include <cerrno>
#include <utility>

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
constexpr std::string_view kPartialPrefix = ".";
constexpr std::string_view kPartialSuffix = ".kdx-partial";

// What a path that must be a regular file is instead; empty for a file.
std::string_view NotAFile(const FileStatus& status) {
  switch (status.kind) {
    case FileStatus::Kind::kFile:
      return {};
    case FileStatus::Kind::kFolder:
      return "is a folder";
    case FileStatus::Kind::kSymbolicLink:
      return "is a symbolic link";
    case FileStatus::Kind::kFifo:
      return "is a FIFO";
    case FileStatus::Kind::kDevice:
      return "is a device";
    case FileStatus::Kind::kSocket:
      return "is a socket";
    case FileStatus::Kind::kOther:
      break;
  }
  return "is not a regular file";
}

// The folder part of `path` including its last '/', empty when it has none.
std::string_view FolderPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash + 1);
}

}  // namespace

EInOutError::EInOutError(int code) : Exception(InOutMessage(code)), code_(code) {}

EInOutError::EInOutError(int code, const std::string& context)
    : Exception(context.empty() ? InOutMessage(code) : InOutMessage(code) + ": " + context),
      code_(code) {}

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

std::string PartialPathOf(const std::string& path) {
  const std::string_view folder = FolderPart(path);
  std::string partial(folder);
  partial += kPartialPrefix;
  partial.append(path, folder.size());
  partial += kPartialSuffix;
  return partial;
}

std::string FinalPathOfPartial(const std::string& path) {
  const std::string_view folder = FolderPart(path);
  const std::string_view name = std::string_view(path).substr(folder.size());
  if (name.size() < kPartialPrefix.size() + kPartialSuffix.size() || !name.starts_with(kPartialPrefix) ||
      !name.ends_with(kPartialSuffix)) {
    return {};
  }
  std::string final_path(folder);
  final_path += name.substr(kPartialPrefix.size(), name.size() - kPartialPrefix.size() - kPartialSuffix.size());
  return final_path;
}

OutputFile::OutputFile(FileSystem* file_system)
    : file_system_(file_system != nullptr ? file_system : DefaultFileSystem()) {}

OutputFile::~OutputFile() { CloseAfterError(); }

std::string OutputFile::Context(const std::string& path, std::string_view detail) const {
  if (path.empty()) return setting_.empty() ? "no file name" : "no file name (" + setting_ + " is empty)";
  std::string context = "'" + path + "'";
  if (!detail.empty()) {
    context += ' ';
    context += detail;
  }
  if (!setting_.empty()) context += " (" + setting_ + ")";
  return context;
}

void OutputFile::Raise(int code, const std::string& path, std::string_view detail) const {
  throw EInOutError(code, Context(path, detail));
}

void OutputFile::Fail(int err, std::string_view detail) const {
  Raise(InOutErrorCodeFromErrno(err), path_, detail);
}

void OutputFile::Assign(const std::string& path, std::string setting) {
  if (open_) Close();
  path_ = path;
  setting_ = std::move(setting);
}

void OutputFile::Rewrite() {
  if (open_) Close();
  if (path_.empty()) Raise(kFileNotOpenForOutput, path_);
  // Only looked at: opening a FIFO or a device to find out what it is could
  // wait forever, and a link would write wherever it points.
  FileStatus status;
  int err = file_system_->Inspect(path_, &status);
  if (err == 0) {
    const std::string_view what = NotAFile(status);
    if (!what.empty()) Raise(kFileAccessDenied, path_, what);
  } else if (err != ENOENT) {
    Fail(err);
  }
  const std::string partial = PartialPathOf(path_);
  err = file_system_->Inspect(partial, &status);
  if (err == 0) {
    // A regular file under the name is what a killed run left; anything
    // else was put there by someone and is not ours to remove.
    const std::string_view what = NotAFile(status);
    if (!what.empty()) Raise(kFileAccessDenied, partial, std::string(what) + ", in the way of the new file");
    err = file_system_->Remove(partial);
    if (err != 0 && err != ENOENT) {
      Raise(InOutErrorCodeFromErrno(err), partial, "is left from an earlier run and cannot be removed");
    }
  } else if (err != ENOENT) {
    Fail(err);
  }
  int handle = -1;
  err = file_system_->CreateNew(partial, kNewFileMode, &handle);
  if (err != 0) Fail(err);
  handle_ = handle;
  partial_path_ = partial;
  const std::string_view folder = FolderPart(path_);
  folder_ = folder.empty() ? "." : std::string(folder);
  open_ = true;
  buffer_.clear();
}

void OutputFile::WriteLine(std::string_view text) {
  if (!open_) Raise(kFileNotOpen, path_);
  const size_t line_size = text.size() + kLineEnd.size();
  if (!buffer_.empty() && buffer_.size() + line_size > kBufferSize) Flush();
  if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
  buffer_.append(text);
  buffer_.append(kLineEnd);
  if (buffer_.size() >= kBufferSize) Flush();
}

void OutputFile::Flush() {
  if (!open_) Raise(kFileNotOpen, path_);
  if (buffer_.empty()) return;
  size_t written = 0;
  const int err = file_system_->Write(handle_, buffer_.data(), buffer_.size(), &written);
  if (err != 0) {
    Discard();
    Fail(err);
  }
  buffer_.clear();
}

int OutputFile::TakeOverMode(const FileStatus& previous) {
  // The group first: changing it may clear set-user and set-group bits.
  const int err = file_system_->SetGroup(handle_, previous.group);
  // A group the process may not use (EPERM, or EINVAL for one its user
  // namespace does not know) is left at the default group of a new file in
  // this folder. That is safe: the file then belongs to a group this process
  // belongs to (or the folder's), as every file it creates does; no one who
  // is not in that group gains access, and the permissions below still
  // apply. At worst members of the old group can no longer read the file,
  // which their next import reports.
  if (err != 0 && err != EPERM && err != EINVAL) return err;
  return file_system_->SetPermissions(handle_, previous.permissions & 07777);
}

void OutputFile::Close() {
  if (!open_) Raise(kFileNotOpen, path_);
  Flush();  // discards the file itself when it fails
  int err = file_system_->Sync(handle_);
  if (err == 0) {
    // The file it replaces is looked at now, as it stands when it goes.
    FileStatus previous;
    err = file_system_->Inspect(path_, &previous);
    if (err == 0) {
      const std::string_view what = NotAFile(previous);
      if (!what.empty()) {
        Discard();
        Raise(kFileAccessDenied, path_, what);
      }
      err = TakeOverMode(previous);
    } else if (err == ENOENT) {
      err = 0;  // a new file keeps the mode it was created with
    }
  }
  if (err == 0) {
    err = file_system_->Close(handle_);
    handle_ = -1;
  }
  if (err == 0) err = file_system_->Rename(partial_path_, path_);
  if (err != 0) {
    Discard();
    Fail(err);
  }
  open_ = false;
  partial_path_.clear();
  err = file_system_->SyncFolder(folder_);
  if (err != 0) Fail(err, "is in place, but its folder could not be synced to disk");
}

void OutputFile::Discard() noexcept {
  // Only used once the file has failed or is given up: the failure being
  // raised, or none at all, is what is reported. The close releases the
  // handle whatever it answers, and a temporary file that cannot be removed
  // is removed by the next Rewrite of the path.
  if (handle_ >= 0) static_cast<void>(file_system_->Close(handle_));
  handle_ = -1;
  if (!partial_path_.empty()) static_cast<void>(file_system_->Remove(partial_path_));
  partial_path_.clear();
  open_ = false;
  buffer_.clear();
}

void OutputFile::CloseAfterError() noexcept {
  if (open_) Discard();
}
