// Streamed results: windows of a statement's rows behind a virtual table.
#include "engine/result_stream.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "engine/errors.h"
#include "engine/handles.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {
namespace {

size_t window_rows_for_test = 0;


// ---- the text ----------------------------------------------------------------

struct Token {
  enum Kind { kWord, kQuoted, kString, kOpen, kClose, kDot, kSemicolon, kOther, kEnd };
  Kind kind = kEnd;
  size_t begin = 0;
  size_t end = 0;
  int depth = 0;  // of the parentheses around the token
};

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsWordPart(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

// The tokens of `text` as SQLite reads them, comments and blanks left out;
// false for an unterminated literal or unbalanced parentheses.
bool Tokenize(const std::string& text, std::vector<Token>* tokens) {
  int depth = 0;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    if (text.compare(i, 2, "--") == 0) {
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    if (text.compare(i, 2, "/*") == 0) {
      const size_t close = text.find("*/", i + 2);
      if (close == std::string::npos) return false;
      i = close + 2;
      continue;
    }
    Token token;
    token.begin = i;
    token.depth = depth;
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : static_cast<char>(c);
      size_t j = i + 1;
      for (;;) {
        j = text.find(close, j);
        if (j == std::string::npos) return false;
        if (close != ']' && j + 1 < n && text[j + 1] == close) {
          j += 2;  // a doubled quote stands for itself
          continue;
        }
        break;
      }
      token.kind = c == '\'' ? Token::kString : Token::kQuoted;
      i = j + 1;
    } else if (IsWordStart(c)) {
      while (i < n && IsWordPart(static_cast<unsigned char>(text[i]))) ++i;
      token.kind = Token::kWord;
    } else if (std::isdigit(c) || c == '?') {
      ++i;
      while (i < n && (IsWordPart(static_cast<unsigned char>(text[i])) || text[i] == '.')) ++i;
      token.kind = Token::kOther;
    } else {
      ++i;
      token.kind = c == '(' ? Token::kOpen : c == ')' ? Token::kClose : c == '.' ? Token::kDot
                   : c == ';' ? Token::kSemicolon : Token::kOther;
      if (c == '(') ++depth;
      if (c == ')' && --depth < 0) return false;
    }
    token.end = i;
    tokens->push_back(token);
  }
  if (depth != 0) return false;
  Token end;
  end.begin = end.end = n;
  tokens->push_back(end);
  return true;
}

bool IsWord(const std::string& text, const Token& token, const char* word) {
  return token.kind == Token::kWord && token.end - token.begin == std::strlen(word) &&
         EqualsNoCase(text.substr(token.begin, token.end - token.begin), word);
}

// ---- the rows of a window ----------------------------------------------------

// One value; texts and blobs are `size` bytes at `offset` in the arena.
struct StreamCell {
  uint8_t type = SQLITE_NULL;
  uint32_t size = 0;
  union {
    int64_t integer;
    double real;
    size_t offset;
  };
  StreamCell() : integer(0) {}
};

// Rows of the result in rowid order, with how much of the result they are:
// every result row from `lowest` (from the first, when `from_top`) to the
// last one held (to the last of the result, when `at_end`). A row's rowid is
// its key (the source rowid) for a plain scan, its position in the result
// for a join.
struct Window {
  size_t columns = 0;
  bool values = true;  // the cells are held; false: only the rowids (to count)
  std::vector<int64_t> rowids;
  std::vector<int64_t> keys;  // the source rowid of each row (of its outer row, for a join)
  std::vector<StreamCell> cells;
  std::string arena;
  int64_t lowest = INT64_MIN;
  bool from_top = false;
  bool at_end = false;
  int64_t next_key = 0;  // where the window after this one starts, unless at_end

  size_t size() const { return rowids.size(); }
  void Reset(size_t column_count, bool with_values) {
    columns = column_count;
    values = with_values;
    rowids.clear();
    keys.clear();
    cells.clear();
    arena.clear();
    lowest = INT64_MIN;
    from_top = at_end = false;
    next_key = 0;
  }
  // Keeps the first `rows` rows, whose texts end at `arena_size`.
  void Truncate(size_t rows, size_t arena_size) {
    rowids.resize(rows);
    keys.resize(rows);
    if (values) cells.resize(rows * columns);
    arena.resize(arena_size);
  }
  // Whether every result row `rowid` may be is held here.
  bool Covers(int64_t rowid) const {
    if (!from_top && rowid < lowest) return false;
    return at_end || (!rowids.empty() && rowid <= rowids.back());
  }
  // The first row at or after `rowid` (size() when none).
  size_t LowerBound(int64_t rowid) const {
    return static_cast<size_t>(std::lower_bound(rowids.begin(), rowids.end(), rowid) - rowids.begin());
  }
  void CopyRowFrom(const Window& other, size_t row) {
    rowids.push_back(other.rowids[row]);
    keys.push_back(other.keys[row]);
    if (!values) return;
    for (size_t c = 0; c < columns; ++c) {
      StreamCell cell = other.cells[row * columns + c];
      if (cell.type == SQLITE_TEXT || cell.type == SQLITE_BLOB) {
        const size_t offset = arena.size();
        arena.append(other.arena, cell.offset, cell.size);
        cell.offset = offset;
      }
      cells.push_back(cell);
    }
  }
};

}  // namespace

void SetStreamWindowRowsForTest(size_t rows) { window_rows_for_test = rows; }

size_t StreamWindowRows() { return window_rows_for_test != 0 ? window_rows_for_test : kStreamWindowRows; }

SharedDatabase::~SharedDatabase() {
  if (db_ != nullptr) sqlite3_close(db_);
}

// ---- the keyset form of a file statement ---------------------------------

namespace {

class Keyset : public StreamSource {
 public:
  Keyset(std::shared_ptr<SharedDatabase> source, sqlite3_stmt* keyset, int rowid_parameter, std::string place,
         std::string describe, std::string table)
      : source_(std::move(source)),
        keyset_(keyset),
        rowid_parameter_(rowid_parameter),
        place_(std::move(place)),
        describe_(std::move(describe)),
        table_(std::move(table)) {}
  ~Keyset() override { sqlite3_finalize(keyset_); }  // before the source database can close

  Status Start(int64_t key, size_t limit) override {
    int rc = sqlite3_bind_int64(keyset_, rowid_parameter_, key);
    if (rc == SQLITE_OK) rc = sqlite3_bind_int64(keyset_, rowid_parameter_ + 1, static_cast<int64_t>(limit));
    return rc == SQLITE_OK ? Status() : Failure();
  }
  Status Step(bool* row) override {
    const int rc = sqlite3_step(keyset_);
    *row = rc == SQLITE_ROW;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? Status() : Failure();
  }
  int64_t Key() override { return sqlite3_column_int64(keyset_, 0); }
  ResultCell Cell(int column) override { return StatementCell(keyset_, column + 1); }
  void Finish() override { sqlite3_reset(keyset_); }  // no read lock outlives the window

 private:
  Status Failure() const {
    return SqliteError(AE_KDX_SQLITE, place_ + ": reading the rows of " + describe_, source_->get()).WithTable(table_);
  }

  std::shared_ptr<SharedDatabase> source_;
  sqlite3_stmt* keyset_;
  int rowid_parameter_;
  std::string place_;
  std::string describe_;
  std::string table_;
};

}  // namespace

std::unique_ptr<StreamSource> KeysetSource(std::shared_ptr<SharedDatabase> source, sqlite3_stmt* keyset,
                                           int rowid_parameter, std::string place, std::string describe,
                                           std::string table) {
  return std::make_unique<Keyset>(std::move(source), keyset, rowid_parameter, std::move(place), std::move(describe),
                                  std::move(table));
}

// ---- the stream --------------------------------------------------------------

class ResultStream {
 public:
  ResultStream(StreamRequest request, size_t window_rows)
      : source_(std::move(request.rows)),
        joined_(request.joined),
        describe_(std::move(request.describe)),
        place_(std::move(request.place)),
        table_(std::move(request.table)),
        window_rows_(window_rows),
        kept_rows_(kStreamKeptRows) {
    const ResultShape& shape = *request.shape;
    columns_ = shape.columns.size();
    declaration_ = "CREATE TABLE x(";
    for (size_t i = 0; i < shape.columns.size(); ++i) {
      if (i > 0) declaration_ += ", ";
      declaration_ += QuoteIdentifier(shape.columns[i].name) + " " + shape.columns[i].declared;
    }
    declaration_ += ")";
    shared_.Reset(columns_, true);
  }
  ~ResultStream();
  ResultStream(const ResultStream&) = delete;
  ResultStream& operator=(const ResultStream&) = delete;

  void set_store(sqlite3* store);
  const std::string& declaration() const { return declaration_; }
  const std::string& describe() const { return describe_; }

  // Replaces `window` by the first window of the result.
  Status ReadTop(Window& window) { return Read(window, INT64_MIN, INT64_MIN, Mode::kTop); }
  // Replaces `window` by a window that holds the rows from `lowest` on.
  Status ReadFrom(Window& window, int64_t lowest) {
    if (!joined_) return Read(window, lowest, lowest, Mode::kFrom);
    // A join's rowids are positions, known only by reading from the top.
    if (!window.from_top && lowest < window.lowest) {
      if (Status read = ReadTop(window); !read.ok()) return read;
    }
    while (!window.Covers(lowest)) {
      if (Status read = ReadOn(window); !read.ok()) return read;
    }
    return Status();
  }
  // Reads the window after the rows of `window`: the cursor's window keeps
  // its last kept_rows_ rows; when no row follows, `window` stays and is at
  // the end.
  Status ReadOn(Window& window) {
    if (window.at_end) return Status();
    if (window.rowids.empty()) {
      window.at_end = true;
      return Status();
    }
    return Read(window, window.next_key, window.rowids.back() + 1, Mode::kOn);
  }

  // The refusal of a move the stream cannot make: `why` after the statement.
  Status Refusal(const std::string& why) const {
    return Status(AE_KDX_INVALID_ARGUMENT, describe_ + ": its result is streamed, read forward in windows of " +
                                               std::to_string(window_rows_) + " rows; " + why);
  }
  // The refusal of a move to or before `rowid`, which is not held.
  Status NotHeld(int64_t rowid) const {
    return Refusal("record " + std::to_string(rowid) + " is not among the rows it holds now" + HeldRange() +
                   ", so the cursor cannot go to it");
  }
  std::string HeldRange() const {
    if (shared_.rowids.empty()) return "";
    return " (records " + std::to_string(shared_.rowids.front()) + " to " + std::to_string(shared_.rowids.back()) +
           ")";
  }
  // Whether no result row lies at or before `bound`, as far as the stream
  // knows: what a backward read that ran out of held rows must decide.
  bool NothingAtOrBefore(int64_t bound) const {
    return shared_.from_top || (top_known_ && bound < top_first_);
  }

  Window shared_;            // the cursor's window
  uint64_t generation_ = 0;  // counts the replacements of shared_
  // A backward read ran out of held rows where rows may lie before them:
  // it ended there, and the entry point refuses the move if it left the
  // cursor before the first record.
  bool cut_ = false;
  Status pending_;  // the failure of a window read during the current call
  size_t columns_ = 0;

 private:
  enum class Mode { kTop, kFrom, kOn };
  // Replaces `window` by the rows whose key is at least `key`; `lowest` is
  // the first rowid they may have.
  Status Read(Window& window, int64_t key, int64_t lowest, Mode mode);
  bool CopyRow(Window& window, int64_t position);

  std::unique_ptr<StreamSource> source_;
  bool joined_;
  std::string describe_;
  std::string place_;
  std::string table_;
  size_t window_rows_;
  size_t kept_rows_;
  std::string declaration_;
  sqlite3* store_ = nullptr;
  Window scratch_;  // the next window, read beside the one it replaces
  // The first rowid of the result when the first window was last read
  // (INT64_MAX for an empty result): no row lies before it.
  bool top_known_ = false;
  int64_t top_first_ = INT64_MAX;
};

namespace {

// The streams of the live streamed cursors, by the database of their
// virtual table (the engine's lock guards it).
std::map<const sqlite3*, ResultStream*>& Streams() {
  static std::map<const sqlite3*, ResultStream*> streams;
  return streams;
}

}  // namespace

ResultStream::~ResultStream() {
  if (store_ != nullptr) Streams().erase(store_);
}

void ResultStream::set_store(sqlite3* store) {
  store_ = store;
  Streams()[store] = this;
}

bool ResultStream::CopyRow(Window& window, int64_t position) {
  const int64_t key = source_->Key();
  window.keys.push_back(key);
  window.rowids.push_back(joined_ ? position : key);
  if (!window.values) return true;
  for (size_t i = 0; i < columns_; ++i) {
    const ResultCell value = source_->Cell(static_cast<int>(i));
    StreamCell cell;
    cell.type = static_cast<uint8_t>(value.type);
    switch (cell.type) {
      case SQLITE_INTEGER: cell.integer = value.integer; break;
      case SQLITE_FLOAT: cell.real = value.real; break;
      case SQLITE_TEXT:
      case SQLITE_BLOB:
        if (value.bytes == nullptr && (value.size > 0 || cell.type == SQLITE_TEXT)) return false;  // out of memory
        cell.size = static_cast<uint32_t>(value.size);
        cell.offset = window.arena.size();
        if (cell.size > 0) window.arena.append(value.bytes, cell.size);
        break;
      default: break;
    }
    window.cells.push_back(cell);
  }
  return true;
}

Status ResultStream::Read(Window& window, int64_t key, int64_t lowest, Mode mode) {
  Window& next = scratch_;
  next.Reset(columns_, window.values);
  const bool keep = mode == Mode::kOn && &window == &shared_;
  const size_t kept = keep ? std::min(kept_rows_, window.size()) : 0;
  for (size_t row = window.size() - kept; row < window.size(); ++row) next.CopyRowFrom(window, row);
  next.lowest = kept > 0 ? next.rowids.front() : lowest;
  const size_t first_new = next.size();
  const size_t arena_base = next.arena.size();
  // A join's positions go on from the last row before this window.
  const int64_t first_position = mode == Mode::kOn ? window.rowids.back() + 1 : 1;

  size_t limit = window_rows_;
  size_t added = 0;
  bool full = false;
  std::vector<size_t> arena_at;  // the arena's size before each new row
  for (;;) {
    next.Truncate(first_new, arena_base);
    arena_at.clear();
    added = 0;
    Status failed = source_->Start(key, limit);
    bool row = false;
    while (failed.ok() && added < limit) {
      if (!(failed = source_->Step(&row)).ok() || !row) break;
      arena_at.push_back(next.arena.size());
      if (!CopyRow(next, first_position + static_cast<int64_t>(added))) {
        failed = Status(AE_KDX_SQLITE, place_ + ": out of memory reading the rows of " + describe_).WithTable(table_);
        break;
      }
      ++added;
    }
    source_->Finish();  // nothing the read took outlives the window
    if (!failed.ok()) return failed;
    full = added == limit;
    if (!joined_ || !full) break;
    // A full window of a join ends before the rows of its last outer row,
    // which may go on past the limit: the next window starts with them.
    const int64_t last_key = next.keys.back();
    size_t cut = next.size();
    while (cut > first_new && next.keys[cut - 1] == last_key) --cut;
    if (cut > first_new) {
      next.Truncate(cut, arena_at[cut - first_new]);
      added = cut - first_new;
      next.next_key = last_key;
      break;
    }
    // One outer row with more rows than the limit: read it whole.
    if (limit > static_cast<size_t>(INT64_MAX / 2)) {
      return Status(AE_KDX_SQLITE, place_ + ": too many rows of one record reading the rows of " + describe_)
          .WithTable(table_);
    }
    limit *= 2;
  }
  if (full && !joined_) {
    // A plain scan's keys are its rowids, one row each.
    if (next.keys.back() == INT64_MAX) {
      full = false;
    } else {
      next.next_key = next.keys.back() + 1;
    }
  }

  if (mode == Mode::kOn && added == 0) {
    window.at_end = true;  // the rows held stay
    return Status();
  }
  next.at_end = !full;
  next.from_top = mode == Mode::kTop || (kept > 0 && kept == window.size() && window.from_top) ||
                  (top_known_ && !next.rowids.empty() && next.rowids.front() <= top_first_);
  if (mode == Mode::kTop) {
    top_known_ = true;
    top_first_ = next.rowids.empty() ? INT64_MAX : next.rowids.front();
  }
  std::swap(window, next);
  if (&window == &shared_) ++generation_;
  return Status();
}

// ---- the virtual table -------------------------------------------------------

namespace {

// The plan of a read, as xBestIndex chooses it and xFilter carries it out.
enum Plan : int {
  kAll = 0,       // every row, in no particular order (a count)
  kForward = 1,   // in rowid order
  kBackward = 2,  // in descending rowid order
  kOne = 3,       // the row of one rowid
  kKindMask = 3,
  kBound = 4,    // argv[0] bounds the rowids: the lowest (forward) or highest (backward)
  kStrict = 8,   // the bound itself is excluded
  kValues = 16,  // the read uses column values
};

struct StreamVtab : sqlite3_vtab {
  ResultStream* stream = nullptr;
};

struct StreamCursor : sqlite3_vtab_cursor {
  ResultStream* stream = nullptr;
  Window* window = nullptr;     // the stream's shared_, or `own`
  std::unique_ptr<Window> own;  // the private window of a read of every row
  size_t row = 0;
  bool eof = true;
  bool backward = false;
  uint64_t generation = 0;
};

int Fail(StreamCursor* cursor, Status status) {
  sqlite3_vtab* vtab = cursor->pVtab;
  sqlite3_free(vtab->zErrMsg);
  vtab->zErrMsg = sqlite3_mprintf("%s", status.text().c_str());
  cursor->stream->pending_ = std::move(status);
  cursor->eof = true;
  return SQLITE_ERROR;
}

int Connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char** error) {
  auto* stream = static_cast<ResultStream*>(aux);
  const int rc = sqlite3_declare_vtab(db, stream->declaration().c_str());
  if (rc != SQLITE_OK) {
    *error = sqlite3_mprintf("%s", sqlite3_errmsg(db));
    return rc;
  }
  auto* vtab = new StreamVtab();
  vtab->stream = stream;
  *out = vtab;
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* vtab) {
  delete static_cast<StreamVtab*>(vtab);
  return SQLITE_OK;
}

int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  int eq = -1, lower = -1, upper = -1;
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& c = info->aConstraint[i];
    if (!c.usable || c.iColumn != -1) continue;
    if (c.op == SQLITE_INDEX_CONSTRAINT_EQ && eq < 0) eq = i;
    if ((c.op == SQLITE_INDEX_CONSTRAINT_GT || c.op == SQLITE_INDEX_CONSTRAINT_GE) && lower < 0) lower = i;
    if ((c.op == SQLITE_INDEX_CONSTRAINT_LT || c.op == SQLITE_INDEX_CONSTRAINT_LE) && upper < 0) upper = i;
  }
  const bool ordered = info->nOrderBy == 1 && info->aOrderBy[0].iColumn == -1;
  const bool descending = ordered && info->aOrderBy[0].desc != 0;
  int plan = kAll;
  int bound = -1;
  if (eq >= 0) {
    plan = kOne;
    bound = eq;
    info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
  } else if (ordered) {
    plan = descending ? kBackward : kForward;
    bound = descending ? upper : lower;
  }
  if (bound >= 0) {
    // SQLite checks the constraint again: the bound only says where to start.
    info->aConstraintUsage[bound].argvIndex = 1;
    plan |= kBound;
    const unsigned char op = info->aConstraint[bound].op;
    if (op == SQLITE_INDEX_CONSTRAINT_GT || op == SQLITE_INDEX_CONSTRAINT_LT) plan |= kStrict;
  }
  if (plan != kAll) info->orderByConsumed = ordered ? 1 : 0;
  if (info->colUsed != 0) plan |= kValues;
  info->idxNum = plan;
  info->estimatedCost = eq >= 0 ? 1.0 : bound >= 0 ? 10.0 : 1e6;
  info->estimatedRows = eq >= 0 ? 1 : 1000000;
  return SQLITE_OK;
}

int Open(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
  auto* cursor = new StreamCursor();
  cursor->stream = static_cast<StreamVtab*>(vtab)->stream;
  *out = cursor;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* cursor) {
  delete static_cast<StreamCursor*>(cursor);
  return SQLITE_OK;
}

// The bound a constraint value gives on integer rowids, rounded the way
// that keeps every rowid the constraint allows: false when it allows none
// (NULL, a text or a blob, which no integer equals or passes).
bool RowidBound(sqlite3_value* value, bool rounding_up, int64_t* bound) {
  switch (sqlite3_value_numeric_type(value)) {
    case SQLITE_INTEGER: *bound = sqlite3_value_int64(value); return true;
    case SQLITE_FLOAT: {
      const double d = rounding_up ? std::ceil(sqlite3_value_double(value)) : std::floor(sqlite3_value_double(value));
      if (d < -9.2e18) *bound = INT64_MIN;
      else if (d > 9.2e18) *bound = INT64_MAX;
      else *bound = static_cast<int64_t>(d);
      return true;
    }
    default: return false;
  }
}

// The cursor stands on `row` of the stream's window, or reads on to the
// first row of the next one when `row` is past its end.
int SettleForward(StreamCursor* cursor) {
  ResultStream& stream = *cursor->stream;
  Window& window = *cursor->window;
  while (cursor->row >= window.size()) {
    if (window.at_end || window.rowids.empty()) {
      cursor->eof = true;
      return SQLITE_OK;
    }
    const int64_t last = window.rowids.back();
    if (Status read = stream.ReadOn(window); !read.ok()) return Fail(cursor, std::move(read));
    cursor->row = window.LowerBound(last == INT64_MAX ? last : last + 1);
    if (last == INT64_MAX) cursor->row = window.size();
  }
  cursor->generation = stream.generation_;
  cursor->eof = false;
  return SQLITE_OK;
}

// The rowid before `rowid` (INT64_MIN has none: it stands for itself, which
// is never read again).
int64_t Before(int64_t rowid) { return rowid == INT64_MIN ? rowid : rowid - 1; }

// A backward read has run out of the rows held, all rows after `bound`
// having been given: it ends, cut short unless no row can lie there.
int EndBackward(StreamCursor* cursor, int64_t bound) {
  if (!cursor->stream->NothingAtOrBefore(bound)) cursor->stream->cut_ = true;
  cursor->eof = true;
  return SQLITE_OK;
}

// Filter of one row by its rowid (a bookmark, a record number).
int FilterOne(StreamCursor* cursor, ResultStream& stream, bool bounded, sqlite3_value** argv) {
  Window& shared = stream.shared_;
  int64_t bound = 0;
  if (!bounded || !RowidBound(argv[0], false, &bound)) return SQLITE_OK;
  if (sqlite3_value_numeric_type(argv[0]) == SQLITE_FLOAT && sqlite3_value_double(argv[0]) != bound) {
    return SQLITE_OK;  // no integer rowid equals it
  }
  if (!shared.Covers(bound)) {
    if (stream.NothingAtOrBefore(bound)) return SQLITE_OK;
    return Fail(cursor, stream.NotHeld(bound));
  }
  cursor->row = shared.LowerBound(bound);
  cursor->eof = cursor->row >= shared.size() || shared.rowids[cursor->row] != bound;
  cursor->generation = stream.generation_;
  return SQLITE_OK;
}

// Filter of the rows from a rowid on (or from the top), in rowid order.
int FilterForward(StreamCursor* cursor, ResultStream& stream, bool bounded, bool strict, sqlite3_value** argv) {
  Window& shared = stream.shared_;
  int64_t bound = 0;
  if (!bounded) {
    // The top: read again when the first window is no longer held.
    if (!shared.from_top) {
      if (Status read = stream.ReadTop(shared); !read.ok()) return Fail(cursor, std::move(read));
    }
    return SettleForward(cursor);
  }
  if (!RowidBound(argv[0], true, &bound)) return SQLITE_OK;
  if (strict) {
    if (bound == INT64_MAX) return SQLITE_OK;
    ++bound;
  }
  if (!shared.Covers(bound)) {
    // Reading on from the row a cursor stands on reads the rows after
    // it; a bookmark must be among the rows held.
    if (!strict) return Fail(cursor, stream.NotHeld(bound));
    const bool next_window = !shared.rowids.empty() && bound - 1 == shared.rowids.back();
    Status read = next_window ? stream.ReadOn(shared) : stream.ReadFrom(shared, bound);
    if (!read.ok()) return Fail(cursor, std::move(read));
  }
  cursor->row = shared.LowerBound(bound);
  return SettleForward(cursor);
}

// Filter of the rows up to a rowid (or from the bottom), backwards.
int FilterBackward(StreamCursor* cursor, ResultStream& stream, bool bounded, bool strict, sqlite3_value** argv) {
  Window& shared = stream.shared_;
  int64_t bound = 0;
  cursor->backward = true;
  if (!bounded) {
    // The bottom: read on to the last window.
    while (!shared.at_end) {
      if (Status read = stream.ReadOn(shared); !read.ok()) return Fail(cursor, std::move(read));
    }
    bound = INT64_MAX;
  } else {
    if (!RowidBound(argv[0], false, &bound)) return SQLITE_OK;
    if (strict) {
      if (bound == INT64_MIN) return SQLITE_OK;
      --bound;
    }
    if (!shared.at_end && (shared.rowids.empty() || bound > shared.rowids.back())) {
      return Fail(cursor, stream.NotHeld(bound));
    }
  }
  // The rows at or before the bound are those before `after`.
  const auto& rowids = shared.rowids;
  const size_t after = static_cast<size_t>(std::upper_bound(rowids.begin(), rowids.end(), bound) - rowids.begin());
  cursor->generation = stream.generation_;
  if (after == 0) {
    const int64_t below = shared.rowids.empty() ? bound : std::min(bound, Before(shared.rowids.front()));
    return EndBackward(cursor, below);
  }
  cursor->row = after - 1;
  cursor->eof = false;
  return SQLITE_OK;
}

// Filter of every row, for a count.
int FilterAll(StreamCursor* cursor, ResultStream& stream, int plan) {
  Window& shared = stream.shared_;
  // Every row, for a count or a filter's count: the cursor's window
  // serves when it holds the whole result, else a private one reads it
  // through, so that the cursor's own rows stay as they are.
  const bool values = (plan & kValues) != 0;
  if (!(shared.from_top && shared.at_end)) {
    cursor->own = std::make_unique<Window>();
    cursor->own->Reset(stream.columns_, values);
    cursor->window = cursor->own.get();
    if (Status read = stream.ReadTop(*cursor->own); !read.ok()) return Fail(cursor, std::move(read));
  }
  return SettleForward(cursor);
}

int Filter(sqlite3_vtab_cursor* base, int plan, const char*, int argc, sqlite3_value** argv) {
  auto* cursor = static_cast<StreamCursor*>(base);
  ResultStream& stream = *cursor->stream;
  Window& shared = stream.shared_;
  // A cut read is forgotten only when the cursor reads its rows anew (in
  // rowid order): a count or a look-up of one row leaves its rows as they are.
  if ((plan & kKindMask) == kForward || (plan & kKindMask) == kBackward) stream.cut_ = false;
  stream.pending_ = Status();
  cursor->own.reset();
  cursor->window = &shared;
  cursor->backward = false;
  cursor->eof = true;
  cursor->row = 0;
  const bool bounded = (plan & kBound) != 0 && argc > 0;
  const bool strict = (plan & kStrict) != 0;
  switch (plan & kKindMask) {
    case kOne:
      return FilterOne(cursor, stream, bounded, argv);
    case kForward:
      return FilterForward(cursor, stream, bounded, strict, argv);
    case kBackward:
      return FilterBackward(cursor, stream, bounded, strict, argv);
    default:
      return FilterAll(cursor, stream, plan);
  }
}

int Next(sqlite3_vtab_cursor* base) {
  auto* cursor = static_cast<StreamCursor*>(base);
  ResultStream& stream = *cursor->stream;
  Window& window = *cursor->window;
  if (cursor->window == &stream.shared_ && cursor->generation != stream.generation_) {
    return Fail(cursor, stream.Refusal("another read replaced the rows this one was reading"));
  }
  if (cursor->backward) {
    if (cursor->row == 0) return EndBackward(cursor, Before(window.rowids.front()));
    --cursor->row;
    return SQLITE_OK;
  }
  ++cursor->row;
  return SettleForward(cursor);
}

int Eof(sqlite3_vtab_cursor* base) { return static_cast<StreamCursor*>(base)->eof ? 1 : 0; }

// The release of a cell's bytes given to SQLite: none, the window owns them.
// Unlike SQLITE_STATIC, a value with a release of its own is copied deeply
// whenever SQLite copies it (an aggregate's value, a sorter's key), so the
// only value that points into a window is the column just read, which SQLite
// uses before it asks for the next row: a window is replaced only by a move.
void WindowOwned(void*) {}

int Column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
  auto* cursor = static_cast<StreamCursor*>(base);
  const Window& window = *cursor->window;
  if (!window.values) {
    sqlite3_result_null(context);
    return SQLITE_OK;
  }
  const StreamCell& cell = window.cells[cursor->row * window.columns + static_cast<size_t>(column)];
  switch (cell.type) {
    case SQLITE_INTEGER: sqlite3_result_int64(context, cell.integer); break;
    case SQLITE_FLOAT: sqlite3_result_double(context, cell.real); break;
    case SQLITE_TEXT:
      sqlite3_result_text(context, window.arena.data() + cell.offset, static_cast<int>(cell.size), WindowOwned);
      break;
    case SQLITE_BLOB:
      if (cell.size == 0) {
        sqlite3_result_zeroblob(context, 0);
      } else {
        sqlite3_result_blob(context, window.arena.data() + cell.offset, static_cast<int>(cell.size), WindowOwned);
      }
      break;
    default: sqlite3_result_null(context); break;
  }
  return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
  auto* cursor = static_cast<StreamCursor*>(base);
  *rowid = cursor->window->rowids[cursor->row];
  return SQLITE_OK;
}

const sqlite3_module kStreamModule = {
    /* iVersion */ 0,
    /* xCreate */ Connect,
    /* xConnect */ Connect,
    /* xBestIndex */ BestIndex,
    /* xDisconnect */ Disconnect,
    /* xDestroy */ Disconnect,
    /* xOpen */ Open,
    /* xClose */ Close,
    /* xFilter */ Filter,
    /* xNext */ Next,
    /* xEof */ Eof,
    /* xColumn */ Column,
    /* xRowid */ Rowid,
    /* xUpdate */ nullptr,
    /* xBegin */ nullptr,
    /* xSync */ nullptr,
    /* xCommit */ nullptr,
    /* xRollback */ nullptr,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

void DeleteStream(void* stream) { delete static_cast<ResultStream*>(stream); }

ResultStream* StreamOf(const EngineTable* table) {
  if (table == nullptr || !table->streamed()) return nullptr;
  auto it = Streams().find(table->db());
  return it == Streams().end() ? nullptr : it->second;
}

const EngineTable* CursorOf(ADSHANDLE cursor) {
  return static_cast<const EngineTable*>(HandleRegistry::Get().Find(cursor, ADS_CURSOR));
}

}  // namespace

// ---- opening and entry points ------------------------------------------------

Status OpenStreamedCursor(StreamRequest request, ADSHANDLE* cursor) {
  const ResultShape& shape = *request.shape;
  EngineConnection* connection = request.connection;
  auto stream = std::make_unique<ResultStream>(std::move(request), StreamWindowRows());
  if (Status read = stream->ReadTop(stream->shared_); !read.ok()) return read;
  const std::string describe = stream->describe();
  sqlite3* mem = nullptr;
  if (sqlite3_open_v2(":memory:", &mem, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(mem);
    return Status(AE_KDX_SQLITE, describe + ": no memory for its result");
  }
  ResultStream* raw = stream.release();  // the module owns it from here, failure or not
  if (sqlite3_create_module_v2(mem, "kdx_stream", &kStreamModule, raw, &DeleteStream) != SQLITE_OK) {
    Status failed = SqliteError(AE_KDX_SQLITE, describe + ": streaming its result", mem);
    sqlite3_close(mem);
    return failed;
  }
  raw->set_store(mem);
  const std::string create = "CREATE VIRTUAL TABLE main." + QuoteIdentifier(shape.table_name) + " USING kdx_stream";
  if (sqlite3_exec(mem, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    Status failed = SqliteError(AE_KDX_SQLITE, describe + ": streaming its result", mem);
    sqlite3_close(mem);
    return failed;
  }
  // The cursor owns the database, which owns the stream.
  auto table = std::make_unique<EngineTable>(connection, mem, true, "main", shape.table_name, shape.display_name);
  if (Status loaded = table->Load(); !loaded.ok()) return loaded;
  table->set_open_options(2);  // read-only
  table->set_streamed();
  return EngineTable::Register(std::move(table), ADS_CURSOR, cursor);
}

bool IsStreamedCursor(ADSHANDLE cursor) {
  EngineGuard guard(EngineMutex());
  return StreamOf(CursorOf(cursor)) != nullptr;
}

size_t StreamedRowsHeld(ADSHANDLE cursor) {
  EngineGuard guard(EngineMutex());
  const ResultStream* stream = StreamOf(CursorOf(cursor));
  return stream != nullptr ? stream->shared_.size() : 0;
}

Status StreamedOutcome(const EngineTable* table, Status status) {
  ResultStream* stream = StreamOf(table);
  if (stream == nullptr) return status;
  Status pending = std::exchange(stream->pending_, Status());
  if (!status.ok()) {
    if (!pending.ok()) return pending;
    const ErrorDetail& detail = status.detail();
    Status told(status.code(), status.text() + " (" + stream->describe() +
                                   " is streamed: its result is read forward in windows and offers no index order)");
    if (!detail.table.empty()) told.WithTable(detail.table);
    if (!detail.column.empty()) told.WithColumn(detail.column);
    if (!detail.server.empty()) told.WithServer(detail.server);
    if (detail.statement_unusable) told.WithUnusableStatement();
    return told;
  }
  if (stream->cut_ && table->at_bof() && !table->on_row()) {
    stream->cut_ = false;
    return stream->Refusal("the rows before those it holds now" + stream->HeldRange() +
                           " are no longer held, so the cursor cannot move back before them");
  }
  return status;
}

bool HoldsUnstreamableWord(const std::string& text) {
  static const char* const kWords[] = {"LIMIT", "OFFSET", "GROUP", "ORDER",  "DISTINCT", "UNION", "INTERSECT",
                                       "EXCEPT", "WINDOW", "OVER", "JOIN",  "WITH",     "VALUES", "HAVING"};
  int selects = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsWordPart(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && IsWordPart(static_cast<unsigned char>(text[j]))) ++j;
    const std::string word = ToUpperAscii(text.substr(i, j - i));
    for (const char* refused : kWords)
      if (word == refused) return true;
    if (word == "SELECT" && ++selects > 1) return true;
    i = j;
  }
  return false;
}

bool KeysetText(const std::string& statement, int rowid_parameter, const std::string& outer, std::string* keyset) {
  std::vector<Token> t;
  if (!Tokenize(statement, &t)) return false;
  size_t k = 0;
  if (!IsWord(statement, t[k], "SELECT")) return false;
  size_t insert = t[k].end;
  if (IsWord(statement, t[k + 1], "ALL")) insert = t[++k].end;
  // The first FROM outside parentheses ends the columns.
  for (++k; t[k].kind != Token::kEnd && !(t[k].depth == 0 && IsWord(statement, t[k], "FROM")); ++k) {
    if (t[k].kind == Token::kSemicolon) return false;
  }
  if (t[k].kind == Token::kEnd) return false;
  auto is_name = [&](const Token& token) { return token.kind == Token::kWord || token.kind == Token::kQuoted; };
  auto is_clause = [&](const Token& token) {
    return IsWord(statement, token, "WHERE") || IsWord(statement, token, "NOT") ||
           IsWord(statement, token, "INDEXED") || IsWord(statement, token, "AS") || IsWord(statement, token, "ON") ||
           IsWord(statement, token, "USING");
  };
  auto is_comma = [&](const Token& token) {
    return token.kind == Token::kOther && token.end == token.begin + 1 && statement[token.begin] == ',';
  };
  // A name as SQLite's plan shows it: without its quotes.
  auto bare = [&](const Token& token) {
    std::string name = statement.substr(token.begin, token.end - token.begin);
    return token.kind == Token::kQuoted ? name.substr(1, name.size() - 2) : name;
  };
  // The items, each perhaps with its schema, then perhaps an alias; the
  // text that names each in a column reference.
  std::vector<std::string> references;
  std::string outer_reference;
  int outer_matches = 0;
  do {
    if (!is_name(t[++k]) || is_clause(t[k])) return false;
    const size_t first = k;
    if (t[k + 1].kind == Token::kDot) {
      k += 2;
      if (!is_name(t[k])) return false;
    }
    const size_t table = k;
    size_t named = table;
    std::string reference = statement.substr(t[first].begin, t[table].end - t[first].begin);
    ++k;
    if (IsWord(statement, t[k], "AS")) {
      if (!is_name(t[++k])) return false;
      named = k++;
    } else if (is_name(t[k]) && !is_clause(t[k])) {
      named = k++;
    }
    if (named != table) reference = statement.substr(t[named].begin, t[named].end - t[named].begin);
    if (IsWord(statement, t[k], "NOT") && IsWord(statement, t[k + 1], "INDEXED")) k += 2;
    if (!outer.empty() && EqualsNoCase(bare(t[named]), outer)) {
      ++outer_matches;
      outer_reference = reference;
    }
    references.push_back(std::move(reference));
  } while (is_comma(t[k]));
  if (outer.empty() ? references.size() != 1 : outer_matches != 1) return false;
  size_t where_end = 0;
  if (IsWord(statement, t[k], "WHERE")) {
    where_end = t[k].end;
    while (t[k].kind != Token::kEnd && !(t[k].kind == Token::kSemicolon && t[k].depth == 0)) ++k;
  }
  // Nothing but semicolons may follow.
  if (t[k].kind != Token::kEnd && t[k].kind != Token::kSemicolon) return false;
  const size_t end = t[k].begin;
  for (size_t rest = k; t[rest].kind != Token::kEnd; ++rest) {
    if (t[rest].kind != Token::kSemicolon) return false;
  }
  const std::string rowid = outer.empty() ? "rowid" : outer_reference + ".rowid";
  const std::string low = "?" + std::to_string(rowid_parameter);
  const std::string limit = "?" + std::to_string(rowid_parameter + 1);
  std::string out = statement.substr(0, insert) + " " + rowid + ",";
  if (where_end != 0) {
    // The condition in parentheses on lines of its own, so that a comment
    // ending it ends there.
    out += statement.substr(insert, where_end - insert) + " (\n" + statement.substr(where_end, end - where_end) +
           "\n) AND " + rowid + " >= " + low;
  } else {
    out += statement.substr(insert, end - insert) + "\nWHERE " + rowid + " >= " + low;
  }
  out += "\nORDER BY " + rowid + " LIMIT " + limit;
  *keyset = std::move(out);
  return true;
}

}  // namespace engine
