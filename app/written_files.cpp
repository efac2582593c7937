#include "app/written_files.h"

#include <algorithm>

#include "platform/output_file.h"

int WrittenFiles::Inspect(const std::string& path, FileStatus* status) {
  return base_->Inspect(path, status);
}

int WrittenFiles::CreateNew(const std::string& path, mode_t mode, int* handle) {
  const int err = base_->CreateNew(path, mode, handle);
  if (err != 0) return err;
  const std::string final_path = FinalPathOfPartial(path);
  files_.push_back({final_path.empty() ? path : final_path, 0, false});
  open_[*handle] = files_.size() - 1;
  pending_[path] = files_.size() - 1;
  return 0;
}

int WrittenFiles::Write(int handle, const char* data, size_t size, size_t* written) {
  const int err = base_->Write(handle, data, size, written);
  const auto it = open_.find(handle);
  if (it == open_.end()) return err;
  const size_t reached = err == 0 ? size : std::min(*written, size);
  files_[it->second].lines += static_cast<uint64_t>(std::count(data, data + reached, '\n'));
  return err;
}

int WrittenFiles::Sync(int handle) { return base_->Sync(handle); }

int WrittenFiles::SetGroup(int handle, gid_t group) { return base_->SetGroup(handle, group); }

int WrittenFiles::SetPermissions(int handle, mode_t permissions) {
  return base_->SetPermissions(handle, permissions);
}

int WrittenFiles::Close(int handle) {
  open_.erase(handle);
  return base_->Close(handle);
}

int WrittenFiles::Rename(const std::string& from, const std::string& to) {
  const int err = base_->Rename(from, to);
  const auto it = pending_.find(from);
  if (err != 0 || it == pending_.end()) return err;
  files_[it->second].path = to;
  files_[it->second].replaced = true;
  pending_.erase(it);
  return 0;
}

int WrittenFiles::Remove(const std::string& path) {
  pending_.erase(path);
  return base_->Remove(path);
}

int WrittenFiles::SyncFolder(const std::string& folder) { return base_->SyncFolder(folder); }
