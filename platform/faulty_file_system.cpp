#include "platform/faulty_file_system.h"

#include <algorithm>

int FaultyFileSystem::OpenForWrite(const std::string& path, int* handle) {
  if (open_error_ != 0) return open_error_;
  return base_->OpenForWrite(path, handle);
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

int FaultyFileSystem::Truncate(int handle, uint64_t size) {
  return base_->Truncate(handle, size);
}

int FaultyFileSystem::Close(int handle) {
  ++close_calls_;
  const int err = base_->Close(handle);
  return close_error_ != 0 ? close_error_ : err;
}
