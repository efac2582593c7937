// The rows of one execution of an SQL statement, stored in a private
// in-memory database and read through a cursor: an EngineTable registered
// as ADS_CURSOR, read-only, whose rows cannot change while it is open.
//
// Whoever runs the statement (SQLite on table files, or a server) hands the
// rows over as ResultRows with the shape of the result; what a cursor then
// offers does not depend on where the rows came from.
//
// Re-executing the same text (the export jobs do it once per record) is
// cheap: once a cursor has closed, its database is emptied and filled again,
// and the next cursor takes its column layout, indexes and prepared reads
// instead of reading a schema. Every execution still gives a new cursor
// handle (and new index handles); the handles of a closed cursor stay stale.
// A cursor still open when its statement closes keeps its rows and position.
#ifndef KDX_ENGINE_SQL_RESULT_H_
#define KDX_ENGINE_SQL_RESULT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/connection.h"
#include "engine/engine_table.h"
#include "engine/sqlite_support.h"
#include "engine/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace engine {

struct ResultColumn {
  std::string name;
  std::string declared;  // "" for an expression: its type follows its values
};

// What a result looks like; the same for every execution of one prepared text.
struct ResultShape {
  std::vector<ResultColumn> columns;
  std::string table_name = "SQL_RESULT";  // name of the stored table
  std::string display_name = "SQL result";  // its name in messages
  std::vector<std::string> index_sql;     // CREATE INDEX statements on the stored table
  bool has_expressions = false;           // a column's type follows its values
};

// One value of a result row. Texts and blobs point into memory that stays
// valid until the next Step.
struct ResultCell {
  int type = 5;  // SQLITE_INTEGER 1, SQLITE_FLOAT 2, SQLITE_TEXT 3, SQLITE_BLOB 4, SQLITE_NULL 5
  int64_t integer = 0;
  double real = 0;
  const char* bytes = "";
  size_t size = 0;
};

// Column `column` (0-based) of the row `stmt` stands on, valid until the
// statement steps or resets.
ResultCell StatementCell(sqlite3_stmt* stmt, int column);

// The rows of one execution, one at a time.
class ResultRows {
 public:
  virtual ~ResultRows() = default;
  // Success and `*row` (false: no more rows), or an error naming the
  // statement when the rows could not be read.
  virtual Status Step(bool* row) = 0;
  // A value of the current row; `column` 0-based.
  virtual ResultCell Cell(int column) = 0;
};

struct ResultStore;

// What ResultStores::Store stores rows under: their shape, the generation
// that identifies it (a store made for the same generation is reused when
// the shape has no expressions), the connection the cursor belongs to and
// the statement as messages name it.
struct StoreRequest {
  const ResultShape& shape;
  uint64_t generation;
  EngineConnection* connection;
  const std::string& describe;
};

// The result databases of one statement. Cursors hold it weakly: a closing
// cursor hands its prepared reads back while the statement exists.
class ResultStores : public EngineTable::Recycler {
 public:
  ResultStores();
  ~ResultStores() override;
  void Recycle(sqlite3* db, EngineTable::ReadCachePtr reads) override;
  // Hands the databases of cursors still open over to those cursors, so
  // that they outlive the statement; closes the rest.
  void ReleaseToOpenCursors();

  // Stores every row of `rows` (the first Step included) as `request` says
  // and opens a cursor on them: success and `*cursor`, or an error.
  static Status Store(const std::shared_ptr<ResultStores>& stores, const StoreRequest& request, ResultRows& rows,
                      ADSHANDLE* cursor);

 private:
  // Closes the stores whose cursor has closed, except one that can serve
  // `generation` when `reusable`: that one is taken out of the list and
  // returned (else null).
  std::unique_ptr<ResultStore> TakeSpare(bool reusable, uint64_t generation);

  std::vector<std::unique_ptr<ResultStore>> stores_;
};

// What an expression column's values are: the counts of integers, reals,
// texts and blobs, the widest text and the integer range.
struct ValueCounts {
  int64_t integers = 0;
  int64_t reals = 0;
  int64_t texts = 0;
  int64_t blobs = 0;
  int64_t widest = 0;
  int64_t smallest = 0;
  int64_t largest = 0;
};
// The declared type of an expression column from its values.
std::string TypeFromValues(const ValueCounts& counts);

}  // namespace engine

#endif  // KDX_ENGINE_SQL_RESULT_H_
