// The rows an EngineTable has read ahead, and the prepared reads of each of
// its orders: shared by the table's implementation files only.
#ifndef KDX_ENGINE_TABLE_ROWS_H_
#define KDX_ENGINE_TABLE_ROWS_H_

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_table.h"

namespace engine {

// ---- per-order statement cache ---------------------------------------------------

struct EngineTable::Order {
  std::vector<int> segments;
  std::vector<bool> descending;
  std::map<std::string, sqlite3_stmt*> cache;
  sqlite3_stmt* key_of_row = nullptr;  // the order's key of one row, by rowid
  sqlite3_stmt* whole_row = nullptr;   // every column of one row, by rowid
  // Whether every segment sorts ascending by the BINARY collation: -1 not
  // yet known, 0 no, 1 yes.
  int binary_ascending = -1;
  void Clear() {
    for (auto& entry : cache) sqlite3_finalize(entry.second);
    cache.clear();
    sqlite3_finalize(key_of_row);
    key_of_row = nullptr;
    sqlite3_finalize(whole_row);
    whole_row = nullptr;
    binary_ascending = -1;
  }
  ~Order() { Clear(); }
};

// A column value of a buffered row; `bytes` points into the batch's arena.
struct EngineTable::Cell {
  int type = SQLITE_NULL;
  int64_t integer = 0;
  double real = 0;
  const char* bytes = "";
  size_t size = 0;
};

// The type of a buffered cell whose column its row was read without.
constexpr int kCellNotRead = 0;

struct EngineTable::Batch {
  struct Stored {
    int type;
    int64_t integer;
    double real;
    size_t offset;
    size_t size;
  };
  std::vector<Stored> cells;  // count rows of `columns` cells
  std::vector<int64_t> rowids;
  std::string arena;
  size_t columns = 0;
  size_t count = 0;
  size_t pos = 0;
  bool exhausted = true;  // the scan reached the end of the order
  bool forward = true;
  int order = -1;
  size_t next_limit = 1;  // rows to read by the next scan of a walk
  // How row 0 was found, kept only for a table whose rows cannot change
  // while it is open (rows_fixed_): the first row of the order (kTop), or
  // the first row at or after the raw key `anchor_key` (kSeek). Such a batch
  // grows as a walk reads on, so that going back to the top, or seeking the
  // same key again, is served from it without reading.
  Anchor anchor = Anchor::kNone;
  std::string anchor_key;
  // Raw records already encoded (tables of fixed rows only): row r at
  // r * record length in `records` when encoded[r] is 1.
  std::vector<uint8_t> records;
  std::vector<uint8_t> encoded;
  // Forgets everything read (the buffers keep their memory).
  void Clear() {
    encoded.clear();
    count = 0;
    pos = 0;
    exhausted = true;
    order = -1;
    next_limit = 1;
    anchor = Anchor::kNone;
  }
};

class EngineTable::ReadCache {
 public:
  std::vector<std::unique_ptr<Order>> orders;
  std::unique_ptr<Batch> batch;
};

// Largest batch a walk grows to; on a table read in windows from a server.
constexpr size_t kMaxBatchRows = 256;
constexpr size_t kMaxWindowBatchRows = 2048;
// Rows a seek reads when the seek before it was served from the rows read
// ahead: keys sought in their order find their rows already read.
constexpr size_t kInOrderSeekReadAhead = 16;
// Most rows a seek reads: the found record, the records after it that carry
// the same key, and the first record with another key (so that a walk over
// the key's records, which stops on the first other key, is served from
// memory). A longer run of equal keys is read on in growing batches.
constexpr size_t kSeekReadAhead = 32;
// Anchored batches a table of fixed rows keeps aside when a move reads
// another batch (a seek of another key, the return to a record after a
// missed seek), so that a later seek of their key reads nothing.
constexpr size_t kKeptBatches = 3;
// Most bytes of encoded raw records a batch keeps.
constexpr size_t kMaxEncodedBytes = 256 * 1024;

// The text of a buffered value as GetFieldText gives it for block and raw
// columns, and as messages quote it.
std::string CellText(int type, int64_t integer, double real, const char* bytes, size_t size);

}  // namespace engine

#endif  // KDX_ENGINE_TABLE_ROWS_H_
