#include "app/written_files.h"

#include <algorithm>

int WrittenFiles::OpenForWrite(const std::string& path, int* handle) {
  const int err = base_->OpenForWrite(path, handle);
  if (err != 0) return err;
  files_.push_back({path, 0});
  open_[*handle] = Open{files_.size() - 1, {}, {}};
  return 0;
}

int WrittenFiles::Write(int handle, const char* data, size_t size, size_t* written) {
  const int err = base_->Write(handle, data, size, written);
  const auto it = open_.find(handle);
  if (it == open_.end()) return err;
  Open& open = it->second;
  const size_t reached = err == 0 ? size : std::min(*written, size);
  open.now.bytes += reached;
  open.now.lines += static_cast<uint64_t>(std::count(data, data + reached, '\n'));
  if (err == 0) open.whole = open.now;
  files_[open.file].lines = open.now.lines;
  return err;
}

int WrittenFiles::Truncate(int handle, uint64_t size) {
  const int err = base_->Truncate(handle, size);
  const auto it = open_.find(handle);
  if (err != 0 || it == open_.end()) return err;
  Open& open = it->second;
  // The cut back OutputFile makes ends where the last whole write ended: the
  // file then holds what it held after that write. A cut anywhere else is
  // counted as keeping no more lines than that.
  if (size == open.whole.bytes) {
    open.now = open.whole;
  } else {
    open.now = {size, size == 0 ? 0 : std::min(open.now.lines, open.whole.lines)};
    open.whole = open.now;
  }
  files_[open.file].lines = open.now.lines;
  return err;
}

int WrittenFiles::Close(int handle) {
  open_.erase(handle);
  return base_->Close(handle);
}
