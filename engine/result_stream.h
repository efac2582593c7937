// Streamed results (AdsStmtSetStreamed): the rows of a statement read in
// windows instead of stored whole, so that a result's memory is bounded by
// one window whatever the size of the table.
//
// On table files, a window is one execution of the statement's keyset form (its text with
// "rowid >= ?" added, in rowid order, LIMIT the window size), stepped to its
// end and reset at once: no read lock outlives the engine call that read it.
// A join is keyed on its outer table: the keyset form bounds and orders the
// outer table's rowid, and a window never ends among the rows of one outer
// row (a full window gives back the trailing rows of its last outer row,
// which the next window starts with; one outer row with more rows than a
// window is read in one window of its own, as large as it needs).
// The cursor is an ordinary EngineTable over a virtual table of a private
// in-memory database; the virtual table serves the rows of the window it
// holds and reads the next window when a forward read passes its last row.
//
// Rows come from a StreamSource: the keyset form of a file statement
// (KeysetSource), or a server cursor (server_stream.h), whose keys are the
// rows' positions.
//
// What a streamed cursor does:
//  - forward moves, record and field reads work across windows; AdsGotoTop
//    reads the first window again when it is no longer held;
//  - backward moves work among the rows held (the window, and the last
//    kStreamKeptRows rows of the window before it); a move before them, a
//    bookmark of a row not held, fails with an error naming the statement
//    and saying that its result is read forward in windows;
//  - AdsGetRecordCount is exact: it reads the result through once more,
//    window by window, without disturbing the cursor's window;
//  - it offers no index; every failure on it says that it is streamed;
//  - record numbers are the rows' own row numbers in the table; for a join,
//    the rows' positions in the result (1 for the first), as the stored
//    result numbers them.
// A window that cannot be read (file gone, busy beyond the busy timeout, a
// damaged page) fails the move that needed it with an error naming the
// table, never as an early end of the rows.
#ifndef KDX_ENGINE_RESULT_STREAM_H_
#define KDX_ENGINE_RESULT_STREAM_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "engine/ads.h"
#include "engine/connection.h"
#include "engine/engine_table.h"
#include "engine/sql_result.h"
#include "engine/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace engine {

// Rows of one window.
constexpr size_t kStreamWindowRows = 4096;
// Rows of the previous window still held when the next one is read: at
// least what a cursor reads ahead in one go (kMaxBatchRows), so that the row
// a cursor stands on is still held when its read-ahead passes into the next
// window.
constexpr size_t kStreamKeptRows = 256;

// For tests only: the window size of the streams opened from now on (0
// gives kStreamWindowRows back).
void SetStreamWindowRowsForTest(size_t rows);
// The window size of a stream opened now.
size_t StreamWindowRows();

// A statement's SQLite connection, closed when its last holder lets it go:
// a streamed cursor keeps reading it after its statement has closed.
class SharedDatabase {
 public:
  explicit SharedDatabase(sqlite3* db) : db_(db) {}
  ~SharedDatabase();
  SharedDatabase(const SharedDatabase&) = delete;
  SharedDatabase& operator=(const SharedDatabase&) = delete;
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_;
};

// Where a stream's rows come from: the result's rows in the order of their
// keys, read from a key on. One read is Start, Step until it gives no row or
// the stream has what it asked for, then Finish, all within one engine call.
// A row's key is at least the key it was read from, and grows from row to
// row (a join's rows of one outer row share their key).
class StreamSource : public ResultRows {
 public:
  // Begins a read of the rows whose key is at least `key`, `limit` of them
  // at most.
  virtual Status Start(int64_t key, size_t limit) = 0;
  // The current row's key.
  virtual int64_t Key() = 0;
  // Ends the read, whatever happened to it: no lock or result outlives it.
  virtual void Finish() = 0;
};

// The rows of a file statement's keyset form: `keyset` is prepared and bound
// with the statement's values, and taken over (finalised with the source).
// Column 0 is the key (the rowid, or for a join the outer table's rowid),
// the others the result's columns; ?`rowid_parameter` is the lowest key a
// read gives, the next parameter its size. A step that fails names `place`
// (the table read) and `describe` (the statement), `table` in the detail.
std::unique_ptr<StreamSource> KeysetSource(std::shared_ptr<SharedDatabase> source, sqlite3_stmt* keyset,
                                           int rowid_parameter, std::string place, std::string describe,
                                           std::string table);

// What a statement hands over to stream its result.
struct StreamRequest {
  std::unique_ptr<StreamSource> rows;
  bool joined = false;  // several result rows may have one key
  const ResultShape* shape = nullptr;  // columns, table name, display name
  std::string describe;                // the statement as messages name it
  std::string place;                   // "Table <name> (file '<path>')" for read errors
  std::string table;                   // the source table, for the error detail
  EngineConnection* connection = nullptr;
};

// Reads the first window and opens a cursor on the stream: success and
// `*cursor`, or the error of that first read. `request.rows` is let go of on
// failure too.
Status OpenStreamedCursor(StreamRequest request, ADSHANDLE* cursor);

// Whether `cursor` is a live streamed cursor.
bool IsStreamedCursor(ADSHANDLE cursor);
// For tests: the rows the streamed cursor holds now (0 for any other handle).
size_t StreamedRowsHeld(ADSHANDLE cursor);

// What an entry point answers for a call on `table` that gave `status`:
// `status` itself unless `table` is a streamed cursor. On a streamed cursor
// a failure of one of its windows comes back as the stream reported it; any
// other failure says that the result is streamed; and a move that left the
// cursor before the rows it holds (which cannot tell whether rows lie there)
// fails as such.
Status StreamedOutcome(const EngineTable* table, Status status);
inline Status StreamedCursorOutcome(const EngineTable* table, Status status) {
  if (table == nullptr || !table->streamed()) return status;
  return StreamedOutcome(table, std::move(status));
}

// Whether `text` holds a word that keeps a statement from being streamed
// (LIMIT, OFFSET, GROUP, ORDER, DISTINCT, UNION, INTERSECT, EXCEPT, WINDOW,
// OVER, JOIN, WITH, VALUES, HAVING, or a second SELECT), in any letter
// case, wherever it stands (inside literals too).
bool HoldsUnstreamableWord(const std::string& text);

// The keyset form of `statement`, a positional SELECT of the plain shape
// "SELECT [ALL] <columns> FROM <item> [, <item>]... [WHERE <condition>]"
// (optionally ending in ";"), each item "[<schema>.]<table> [[AS] <alias>]
// [NOT INDEXED]". With `outer` empty the text must name one table, and the
// form puts its rowid first among the columns, adds
// "rowid >= ?<rowid_parameter>" to the condition, ORDER BY rowid and
// LIMIT ?<rowid_parameter + 1>. With `outer` given, the same with
// "<outer>.rowid", `outer` being the one item whose alias (or, without one,
// table name) it is, as SQLite's plan names it. False for a text of any
// other shape, or when no item or more than one is `outer`.
bool KeysetText(const std::string& statement, int rowid_parameter, const std::string& outer, std::string* keyset);

}  // namespace engine

#endif  // KDX_ENGINE_RESULT_STREAM_H_
