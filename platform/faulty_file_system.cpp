#include "platform/faulty_file_system.h"

#include <algorithm>

int FaultyFileSystem::Inspect(const std::string& path, FileStatus* status) {
  return base_->Inspect(path, status);
}

int FaultyFileSystem::CreateNew(const std::string& path, mode_t mode, int* handle) {
  if (create_error_ != 0) return create_error_;
  return base_->CreateNew(path, mode, handle);
}

int FaultyFileSystem::Write(int handle, const char* data, size_t size, size_t* written) {
  ++write_calls_;
  const bool fail = fail_write_ > 0 && (write_calls_ == fail_write_ ||
                                        (fail_from_ && write_calls_ > fail_write_));
  if (!fail) return base_->Write(handle, data, size, written);
  *written = 0;
  const size_t partial = std::min(partial_bytes_, size);
  if (partial > 0) {
    const int err = base_->Write(handle, data, partial, written);
    if (err != 0) return err;
  }
  return write_error_;
}

int FaultyFileSystem::Sync(int handle) {
  if (sync_error_ != 0) return sync_error_;
  return base_->Sync(handle);
}

int FaultyFileSystem::SetGroup(int handle, gid_t group) {
  if (set_group_error_ != 0) return set_group_error_;
  return base_->SetGroup(handle, group);
}

int FaultyFileSystem::SetPermissions(int handle, mode_t permissions) {
  if (set_permissions_error_ != 0) return set_permissions_error_;
  return base_->SetPermissions(handle, permissions);
}

int FaultyFileSystem::Close(int handle) {
  ++close_calls_;
  const int err = base_->Close(handle);
  return close_error_ != 0 ? close_error_ : err;
}

int FaultyFileSystem::Rename(const std::string& from, const std::string& to) {
  if (rename_error_ != 0) return rename_error_;
  return base_->Rename(from, to);
}

int FaultyFileSystem::Remove(const std::string& path) {
  if (remove_error_ != 0) return remove_error_;
  return base_->Remove(path);
}

int FaultyFileSystem::SyncFolder(const std::string& folder) {
  if (sync_folder_error_ != 0) return sync_folder_error_;
  return base_->SyncFolder(folder);
}
