// Reading a server table a window at a time instead of copying it whole.
// A table opened on a server (server_tables.h) reads, for each forward read
// in one of its index orders, the rows that read needs in one statement of
// the run's snapshot, ordered by the index's key and then by the table's
// natural key, and holds only those in its private database (EngineTable's
// RowWindows). The rowid of a row in a window is its natural key, as in the
// whole copy (pg_mirror.h), so that rows of equal keys sort alike and record
// numbers stay the same when the table is copied after all.
//
// An index is read in windows only where the server orders and compares
// exactly as the engine does, and can answer from the index: its segments
// ascend, sort text by its bytes (pg_catalog.h, byte_order), are text,
// integers or dates (values whose stored form is exact), and hold no NULL in
// the snapshot (asked once per index); and the table's natural key is one
// ascending integer column. Every other read loads the table whole, as
// before. Owned by its table.
#ifndef KDX_ENGINE_SERVER_WINDOWS_H_
#define KDX_ENGINE_SERVER_WINDOWS_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_table.h"
#include "engine/pg_catalog.h"
#include "engine/pg_session.h"
#include "engine/sqlite_support.h"

namespace engine {

class PgSession;

class ServerWindows : public EngineTable::RowWindows {
 public:
  // Windows of `table` (whose layout `db`, the table's database, holds) over
  // `session`; null when no index of the table can be read in windows. The
  // indexes of `loaded` must be those of `table` in order.
  static std::unique_ptr<ServerWindows> For(PgSession* session, const PgTable* table, const EngineTable& loaded,
                                            sqlite3* db);

  Status Serves(int index, bool* serves) override;
  Status Fill(int index, const std::vector<SqlValue>* key, size_t key_segments, bool strict, bool with_rowid,
              int64_t rowid, size_t limit, std::vector<int64_t>* rowids) override;
  Status FillRow(int64_t rowid) override;
  // Windows queued are read with the next window of the same statement that
  // asks the server, in one request, and each kept for one later Fill of
  // its start; one kept is given up once a window queued after it is taken.
  bool QueueFill(int index, const std::vector<SqlValue>& key, size_t limit) override;

 private:
  // A window's statement and its values but the row limit.
  struct Start {
    std::string sql;
    std::vector<std::string> texts;
    bool operator==(const Start& other) const = default;
  };
  struct Queued {
    Start start;
    size_t limit = 0;
  };
  struct ReadAhead {
    Start start;
    size_t limit = 0;
    PgResultPtr rows;
  };
  // The statement and values of a window (see Fill); `context` for errors.
  Status StartOf(int index, const std::vector<SqlValue>* key, size_t key_segments, bool strict, bool with_rowid,
                 int64_t rowid, Start* start, std::string* context);
  // The rows of the first `limit` of `start`: read ahead for it, else asked
  // for with the windows queued for the same statement.
  Status Rows(const Start& start, size_t limit, const std::string& context, PgResultPtr* rows);
  // Runs `sql` once for each set of values (a window's limit last) on the
  // server, in one request: one result per set.
  Status Ask(const std::string& sql, const std::vector<std::vector<std::string>>& sets, const std::string& context,
             std::vector<PgResultPtr>* results);
  // Makes `rows` the window; `rowids` (may be null) gets their rowids in
  // the server's order.
  Status StoreRows(const PgResultPtr& rows, std::vector<int64_t>* rowids);

  ServerWindows(PgSession* session, const PgTable* table, sqlite3* db, std::string natural)
      : session_(session), table_(table), db_(db), natural_(std::move(natural)) {}
  // " on <server>", for messages.
  std::string Where() const;

  PgSession* session_;
  const PgTable* table_;
  sqlite3* db_;
  std::string natural_;  // the natural key's column, quoted
  std::string select_;   // "SELECT <every column>, <natural key> FROM <table>"
  std::vector<int> served_;  // per index: -1 not yet asked about NULLs, 0 no, 1 yes
  std::map<std::string, std::string> statements_;  // by shape: the statement's text
  // Windows queued, and those read ahead in the order they were queued:
  // together at most kMaxQueuedWindows.
  std::vector<Queued> queued_;
  std::vector<ReadAhead> read_ahead_;
  Statement insert_;
  Statement clear_;
  int64_t rows_stored_ = 0;
  std::vector<std::string> scratch_;
};

}  // namespace engine

#endif  // KDX_ENGINE_SERVER_WINDOWS_H_
