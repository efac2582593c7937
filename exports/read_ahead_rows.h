// Rows of one window of a lookup table read in the order of its index,
// grouped by their key texts, so that a look-up by key needs no seek. Owned
// by the run's lookup tables (lookup_tables.h), one per table, and refilled
// for each window.
//
// The reader places each row's key in turn and adds the cells it keeps. Keys
// must come in ascending byte order (Place refuses one that sorts before the
// last), so every key names one contiguous group of rows: a look-up of a key
// finds exactly the rows a seek on that key followed by a walk while the key
// stays the same would visit. A group may keep no cells (rows the reader
// skips) and may be marked live: its rows could not all be read ahead, and
// the caller reads them from the table when they are needed.
//
// Texts live in one arena and keys in another, so the memory is about the
// bytes kept plus 16 bytes per cell and 20 per group. Sizes are 32-bit: a
// table whose rows need more than 4 GiB is refused by Place and AddCell. A
// cell's text may also be made only when asked for (AddCellWithTextToMake).
#ifndef KDX_EXPORTS_READ_AHEAD_ROWS_H_
#define KDX_EXPORTS_READ_AHEAD_ROWS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class ReadAheadRows {
 public:
  struct Cell {
    double number = 0;
    uint32_t text_offset = 0;
    uint32_t text_size = 0;
  };
  struct Group {
    uint32_t key_offset = 0;
    uint32_t key_size = 0;
    uint32_t first_cell = 0;
    uint32_t cells = 0;
    bool live = false;
  };

  // Makes the group of `key` current: the last group when the key equals its
  // key, else a new group. False (and nothing changes) when the key sorts
  // before the last key, or the arena is full.
  [[nodiscard]] bool Place(std::string_view key);
  // Whether the current group was made by the last Place.
  bool PlacedNewGroup() const { return placed_new_; }
  Group& Current() { return groups_.back(); }

  // Appends a cell to the current group. False when the arena is full.
  [[nodiscard]] bool AddCell(double number, std::string_view text = {});
  // Appends a cell whose text the reader makes from its number only if it
  // is asked for (MakeText): readers that keep many rows and use few save
  // the formatting.
  [[nodiscard]] bool AddCellWithTextToMake(double number);
  // Whether a cell's text is still to be made.
  bool TextToMake(const Cell& cell) const { return cell.text_size == kTextToMake; }
  // Gives cell `index` its text. False when the arena is full.
  [[nodiscard]] bool MakeText(size_t index, std::string_view text);
  // Removes the current group's cells and their texts.
  void DropCurrentCells();
  // Forgets every group, keeping the room for the next rows.
  void Clear();

  // The group of `key`, or nullptr. Looks next to the last group found
  // first, so keys asked for in ascending order cost no search.
  const Group* Find(std::string_view key) const;
  const Cell& CellAt(size_t index) const { return cells_[index]; }
  // A cell's text; empty while it is still to be made.
  std::string_view Text(const Cell& cell) const {
    if (TextToMake(cell)) return {};
    return std::string_view(texts_).substr(cell.text_offset, cell.text_size);
  }

  size_t GroupCount() const { return groups_.size(); }
  // Bytes held by the arenas and tables (capacity, not size).
  size_t MemoryBytes() const;

 private:
  // The text size that marks a text still to be made: more than a text may
  // hold.
  static constexpr uint32_t kTextToMake = 0xFFFFFFFFu;

  std::string_view KeyOf(const Group& group) const {
    return std::string_view(keys_).substr(group.key_offset, group.key_size);
  }

  std::string keys_;
  std::string texts_;
  std::vector<Group> groups_;
  std::vector<Cell> cells_;
  bool placed_new_ = false;
  mutable size_t last_found_ = 0;
};

#endif  // KDX_EXPORTS_READ_AHEAD_ROWS_H_
