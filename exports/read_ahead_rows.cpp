#include "exports/read_ahead_rows.h"

#include <algorithm>
#include <limits>

namespace {

// Offsets and sizes are 32-bit.
constexpr size_t kMaxArenaBytes = std::numeric_limits<uint32_t>::max();

}  // namespace

bool ReadAheadRows::Place(std::string_view key) {
  if (!groups_.empty()) {
    const int order = KeyOf(groups_.back()).compare(key);
    if (order > 0) return false;
    if (order == 0) {
      placed_new_ = false;
      return true;
    }
  }
  if (keys_.size() + key.size() > kMaxArenaBytes || cells_.size() >= kMaxArenaBytes) return false;
  Group group;
  group.key_offset = static_cast<uint32_t>(keys_.size());
  group.key_size = static_cast<uint32_t>(key.size());
  group.first_cell = static_cast<uint32_t>(cells_.size());
  keys_.append(key);
  groups_.push_back(group);
  placed_new_ = true;
  return true;
}

bool ReadAheadRows::AddCell(double number, std::string_view text) {
  if (texts_.size() + text.size() > kMaxArenaBytes || text.size() >= kTextToMake || cells_.size() >= kMaxArenaBytes) {
    return false;
  }
  Cell cell;
  cell.number = number;
  cell.text_offset = static_cast<uint32_t>(texts_.size());
  cell.text_size = static_cast<uint32_t>(text.size());
  texts_.append(text);
  cells_.push_back(cell);
  ++groups_.back().cells;
  return true;
}

bool ReadAheadRows::AddCellWithTextToMake(double number) {
  if (!AddCell(number)) return false;
  cells_.back().text_size = kTextToMake;
  return true;
}

bool ReadAheadRows::MakeText(size_t index, std::string_view text) {
  if (texts_.size() + text.size() > kMaxArenaBytes || text.size() >= kTextToMake) return false;
  Cell& cell = cells_[index];
  cell.text_offset = static_cast<uint32_t>(texts_.size());
  cell.text_size = static_cast<uint32_t>(text.size());
  texts_.append(text);
  return true;
}

void ReadAheadRows::DropCurrentCells() {
  Group& group = groups_.back();
  if (group.cells == 0) return;
  texts_.resize(cells_[group.first_cell].text_offset);
  cells_.resize(group.first_cell);
  group.cells = 0;
}

void ReadAheadRows::Clear() {
  keys_.clear();
  texts_.clear();
  groups_.clear();
  cells_.clear();
  placed_new_ = false;
  last_found_ = 0;
}

const ReadAheadRows::Group* ReadAheadRows::Find(std::string_view key) const {
  if (groups_.empty()) return nullptr;
  for (size_t near : {last_found_, last_found_ + 1}) {
    if (near < groups_.size() && KeyOf(groups_[near]) == key) {
      last_found_ = near;
      return &groups_[near];
    }
  }
  const auto it = std::lower_bound(groups_.begin(), groups_.end(), key,
                                   [&](const Group& group, std::string_view k) { return KeyOf(group) < k; });
  if (it == groups_.end() || KeyOf(*it) != key) return nullptr;
  last_found_ = static_cast<size_t>(it - groups_.begin());
  return &*it;
}

size_t ReadAheadRows::MemoryBytes() const {
  return keys_.capacity() + texts_.capacity() + groups_.capacity() * sizeof(Group) + cells_.capacity() * sizeof(Cell);
}
