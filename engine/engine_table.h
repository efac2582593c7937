// EngineTable: one open table or SQL result cursor over one SQLite table (of
// any database and schema), with its column layout, indexes, navigation
// position and filter; and the index-order handles that view it.
//
// The implementation is split by job: table_schema.cpp (layout, indexes,
// registration), table_record.cpp (raw records and column texts),
// table_scan.cpp (reading rows ahead into batches), table_navigation.cpp
// (moves, record numbers, counts, filters), table_seek.cpp (keys and seeks).
#ifndef KDX_ENGINE_ENGINE_TABLE_H_
#define KDX_ENGINE_ENGINE_TABLE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/connection.h"
#include "engine/handles.h"
#include "engine/schema.h"
#include "engine/sqlite_support.h"
#include "engine/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace engine {

// An index as the engine holds it: its schema, its name in the database and
// the order handle it is reached through.
struct IndexInfo : IndexSchema {
  std::string sqlite_name;  // as in the database
  ADSHANDLE handle = 0;     // the index's order handle, once registered
};

class FilterProgram;  // engine/filter.h


// An open table or cursor over one SQLite table (any database, any schema),
// with its column schema, indexes, navigation position and filter.
//
// Navigation reads rows ahead in the current order into a reusable buffer
// (growing batches while a walk goes on; a seek reads the found record, the
// records after it with the same key and the first with another key) and
// resets its statement before every return, so that an open table never
// holds a read lock between calls and a writer is never kept waiting by a
// table left standing on a record. A seek of a key that lies among the rows
// read ahead after the current one is served from them, as a walk through
// them would be; keys sought in order (the days of a leave) then read ahead
// further. A table over a private in-memory
// database (a decrypted sealed table, an SQL result), which nothing else
// can write, also serves a repeated seek of the same key, a return to the
// top and a return to a record it has buffered from memory, and encodes
// each buffered raw record once. The raw record is encoded only when asked.
// Position states: before the first record (BOF), on a record, after the
// last (EOF).
//
// Every method that can fail gives a Status, but those of table_record.cpp
// and table_seek.cpp, which still follow the code convention (0 or a code
// recorded with SetError).
class EngineTable : public EngineObject {
 public:
  // `db` is used for every read; when `owns_db` it is closed with the table.
  // `schema` is the SQLite schema name ("main" usually), `table` the SQLite
  // table name, `display_name` the name used in messages.
  EngineTable(EngineConnection* connection, sqlite3* db, bool owns_db, std::string schema,
              std::string table, std::string display_name);
  ~EngineTable() override;

  // Reads the columns and indexes; an unknown declared type or an expression
  // index is an error naming the table and column/index. Must succeed before
  // anything else is used. Does no work proportional to the row count.
  Status Load();

  // Hands a loaded table to the handle registry: the table under a handle of
  // `type` (ADS_TABLE or ADS_CURSOR), each index under an ADS_INDEX_ORDER
  // handle, and the table as a child of its connection (if any), so that it
  // closes with it. Success and `*handle`, or an error (the table is then
  // deleted).
  static Status Register(std::unique_ptr<EngineTable> table, UNSIGNED16 type, ADSHANDLE* handle);
  ADSHANDLE handle() const { return handle_; }
  UNSIGNED16 handle_type() const { return handle_type_; }
  EngineConnection* connection() const { return connection_; }

  // Replaces the database the rows come from (a sealed table's decrypted
  // image replacing its schema-only database). The table name and columns
  // must match; the position returns to BOF and statements are rebuilt.
  Status ReplaceDatabase(sqlite3* db, bool owns_db);
  sqlite3* db() const { return db_; }

  // A sealed table opened without its password: columns and indexes are
  // visible; every read of its rows (moves, seeks, records, counts) fails
  // with AE_KDX_TABLE_SEALED naming the table, so that a table that cannot
  // be read is never taken for an empty one.
  void set_rows_hidden(bool hidden);
  bool rows_hidden() const { return rows_hidden_; }
  void set_sealed_path(std::string path) { sealed_path_ = std::move(path); }

  // Rows read only when first needed: the table is loaded over a database
  // that holds its layout but no rows, and the first read of its rows
  // (moves, seeks, records, counts) calls `load` for the database that
  // holds them, which it then reads instead (ReplaceDatabase; `load` keeps
  // owning it). A failed load fails that read, and the next one loads again.
  using RowsLoader = std::function<Status(sqlite3** db)>;
  void set_rows_loader(RowsLoader load) { rows_loader_ = std::move(load); }
  const std::string& sealed_path() const { return sealed_path_; }

  // Rows kept elsewhere (a server) and read a window at a time into the
  // table's own database, which then holds only the rows of the last read.
  // Forward reads in an index order that the source serves (no filter, no
  // empty key value) read a window; any other read, and everything that needs
  // the whole table (counts, going to a record, backward moves), first
  // loads every row through the rows loader and goes on over them from the
  // record the table stands on. A row has the same rowid in a window as in
  // the whole rows, so ties sort alike and record numbers stay valid.
  class RowWindows {
   public:
    virtual ~RowWindows() = default;
    // Whether forward reads of index `index` can be read in windows (the
    // answer may need a question to the source, which can fail).
    virtual Status Serves(int index, bool* serves) = 0;
    // Makes the table's database hold, in index order, the first `limit`
    // rows of index `index` from the start: the first rows (no `key`), or
    // those at or after (`strict`: after) the leading `key_segments`
    // values of `key`, none NULL, followed by rowid `rowid` when
    // `with_rowid`. `*rowids` gets their rowids in the source's order.
    virtual Status Fill(int index, const std::vector<SqlValue>* key, size_t key_segments, bool strict,
                        bool with_rowid, int64_t rowid, size_t limit, std::vector<int64_t>* rowids) = 0;
    // Makes the table's database hold the row of rowid `rowid` alone (none
    // when there is no such row).
    virtual Status FillRow(int64_t rowid) = 0;
    // Keeps the window of the first `limit` rows of index `index` at or
    // after the values of `key` (none NULL) to be read with the next Fill
    // that asks the source, for a later Fill of that start asking at most
    // `limit` rows. False when nothing is kept.
    virtual bool QueueFill(int index, const std::vector<SqlValue>& key, size_t limit) = 0;
  };
  // The table reads its rows in windows (it must have a rows loader too).
  void set_row_windows(std::unique_ptr<RowWindows> windows);
  // Whether its rows are still read in windows, not yet loaded whole.
  bool reads_windows() const { return windows_ != nullptr; }

  const std::string& display_name() const { return display_name_; }
  const std::string& table_name() const { return table_; }
  const std::vector<ColumnInfo>& columns() const { return columns_; }
  const std::vector<IndexInfo>& indexes() const { return indexes_; }
  UNSIGNED32 record_length() const { return record_length_; }
  // 0-based column number of `name` (case-insensitive), or -1.
  int FindColumn(const std::string& name) const;
  // The column of a 1-based number or a name; 5147 naming the table and the
  // column (its detail too) otherwise.
  Status ColumnByNumber(UNSIGNED16 number, const ColumnInfo** column) const;
  Status ColumnByName(const std::string& name, int* column) const;

  // ---- reuse of a layout and its prepared reads (SQL result cursors) ----

  // The prepared reads (per order) and read-ahead buffers of a table. They
  // stay valid for another table of the same layout over the same database,
  // so that the next cursor of an SQL statement prepares nothing. Defined in
  // table_rows.h, for the table's own implementation files only.
  class ReadCache;
  struct ReadCacheDeleter {
    void operator()(ReadCache* cache) const;
  };
  using ReadCachePtr = std::unique_ptr<ReadCache, ReadCacheDeleter>;

  // Receives what a closing table leaves behind (see set_recycler).
  class Recycler {
   public:
    virtual ~Recycler() = default;
    // `db` is the closing table's database; `reads` its read cache, null
    // when it cannot serve another table (a filter was set).
    virtual void Recycle(sqlite3* db, ReadCachePtr reads) = 0;
  };

  // Takes the columns, indexes and record layout of `source` instead of
  // reading the schema (Load): `source` must be loaded and name the same
  // table in the same database. `reads` (may be null) must come from a table
  // of that layout over this table's database. Leaves the table at BOF with
  // no filter, as Load does.
  void LoadLike(const EngineTable& source, ReadCachePtr reads);
  // A table that does not own its database hands its read cache to
  // `recycler` on destruction, while the recycler still exists.
  void set_recycler(std::weak_ptr<Recycler> recycler) { recycler_ = std::move(recycler); }
  // The table closes its database from now on (its owner is going away);
  // position, filter and prepared reads are kept.
  void AdoptDatabase() { owns_db_ = true; }

  // Open options reported by AdsGetTableOpenOptions (2 = read-only).
  UNSIGNED32 open_options() const { return open_options_; }
  void set_open_options(UNSIGNED32 options) { open_options_ = options; }
  // Whether the table is the cursor of a streamed result (result_stream.h),
  // so that the entry points of every other table skip looking for a stream.
  bool streamed() const { return streamed_; }
  void set_streamed() { streamed_ = true; }
  // The number of rows of a table whose rows cannot change while it is open
  // (an SQL result, counted as it was stored): an unfiltered RecordCount
  // answers it without counting.
  void set_known_row_count(int64_t rows) { known_row_count_ = rows; }

  // ---- order and navigation (order -1: natural, else index number) ----
  Status GotoTop(int order);
  Status GotoBottom(int order);
  Status Skip(int order, SIGNED32 count);
  bool at_eof() const { return at_eof_flag_; }
  bool at_bof() const { return at_bof_flag_; }
  bool on_row() const { return state_ == State::kOnRow; }
  // Encodes the current record into `buffer` (record_length() bytes); the
  // empty record at BOF/EOF.
  Status GetRecord(uint8_t* buffer);
  Status GetFieldText(int column, std::string* text);
  Status IsFieldEmpty(int column, bool* empty);
  // Until an empty list clears it, rows are read ahead with only `columns`
  // (0-based) and the key columns of every index: GetRecord then fills only
  // those columns of the record, each other one holding its empty value.
  // Every other read of a column gives its stored value, reading a row
  // again whole when it was read without it. A table read in windows from a
  // server, and an SQL result, always read whole rows.
  Status SetReadColumns(const std::vector<int>& columns);
  // Record numbers are stable for the life of the handle.
  Status CurrentRecordNumber(UNSIGNED32* record);
  Status GotoRecord(int order, UNSIGNED32 record);
  Status RecordCount(bool respect_filter, UNSIGNED32* count);
  // Fills `buffer` with the empty record.
  void EmptyRecord(uint8_t* buffer) const;

  // ---- seeks ----
  Status Seek(int order, const uint8_t* key, UNSIGNED16 length, bool exact, bool* found);
  // Tells a table read in windows that `key` will be sought in `order`: its
  // window is read with the next one the table asks for. `*queued` is false
  // where nothing is kept (the rows are read otherwise).
  Status QueueSeek(int order, const uint8_t* key, UNSIGNED16 length, bool* queued);
  // Key being built on an index (AdsInitRawKey/AdsSetField/AdsBuildRawKey).
  // (InitKey is to be [[nodiscard]] too once table_seek.cpp checks it.)
  Status InitKey(int order);
  Status SetKeyField(int order, const std::string& field, const uint8_t* bytes, UNSIGNED32 length);
  Status BuildKey(int order, uint8_t* key, UNSIGNED16* length);

  // ---- filter ----
  Status SetFilter(const std::string& expression);
  void ClearFilter();
  bool has_filter() const { return !filter_text_.empty(); }
  const std::string& filter_text() const { return filter_text_; }
  bool exact22() const { return exact22_; }
  // Changes the exact setting; a filter in place is compiled again under it.
  Status SetExact(bool exact);

 private:
  enum class State { kBof, kOnRow, kEof };
  // How the first row of a batch was found (see Batch::anchor).
  enum class Anchor { kNone, kTop, kSeek };
  struct Order;
  // Rows read ahead in the current order and direction, copied out of SQLite.
  struct Batch;
  // One column value of a buffered row.
  struct Cell;

  // The two halves of Load: the columns with the record layout and the
  // rowid's name, then the indexes.
  Status LoadColumns();
  Status LoadIndexes();
  // One index of LoadIndexes: `index` named `name` in the database, its
  // unique and partial flags from the index list.
  Status LoadIndex(const std::string& name, bool unique, bool partial, IndexInfo* index);
  Order& OrderFor(int order);
  // One order per index after the natural one, with empty statement caches.
  void BuildOrders();
  void ResetStatements();
  bool HasRow() const;
  // Before a read of the rows: AE_KDX_TABLE_SEALED naming the table when
  // its rows are hidden; the rows loaded when they are read only when needed
  // (set_rows_loader), or the error of loading them; else a success.
  Status PrepareRows();
  // The same for a read that a window can serve: forward in `order`
  // (`forward`), from a start whose key values are `key` (may be null).
  // Reads that need no row (`order` kNoOrderRead: the current record's own
  // values) never load the rows.
  static constexpr int kNoOrderRead = -2;
  Status PrepareRowsFor(int order, bool forward, const std::vector<SqlValue>* key = nullptr);
  // Whether the windows (windows_, not null) read the rows of `order` in
  // that direction from `key` (may be null: from the first row).
  Status WindowsServe(int order, bool forward, const std::vector<SqlValue>* key, bool* serves);
  // After the rows were loaded: each index is unique as the database that
  // holds them says (a copy may have had to make a unique index plain).
  void RefreshUniqueFlags();
  // "Table <name>", with the file it is read from when it has one, for the
  // errors of reads (a damaged file must be named).
  std::string ReadPlace() const;
  Cell CurrentCell(int column) const;
  // Whether batch row `row` was read without some of its columns.
  bool RowLacksColumns(size_t row) const;
  // Reads the current row again whole, when it lacks a column.
  Status ReadCurrentRowWhole();
  // Whether rows are now read with some columns only (SetReadColumns): on
  // tables whose rows stay where they are, not on SQL results or windows.
  bool ReadsSomeColumns() const { return EncodesSomeColumns() && handle_type_ == ADS_TABLE; }
  // Whether GetRecord now fills only some columns of the record: on tables
  // that read only those, and on SQL results, which read every column of
  // their rows but encode only those.
  bool EncodesSomeColumns() const { return !read_columns_.empty() && windows_ == nullptr; }
  // An error of this table's reads: `what` was being done, SQLite's reason
  // for `db_` after it, the table in the detail.
  Status ReadError(const std::string& what) const;
  // The same for reading its layout: "Table <name>: <what>: <reason>".
  Status SchemaReadError(const std::string& what) const;
  Status Prepare(const std::string& sql, sqlite3_stmt** stmt);
  // A sought key: `values` as DecodeKey gives them; the last one is a text
  // prefix when its segment was given shorter than the column.
  struct KeyRun {
    const std::vector<SqlValue>* values = nullptr;
    bool last_is_prefix = false;
  };
  // Whether buffered row `row` carries the key of `run` in `order` (SQLite
  // values compared, text blank-padded). Only decides how far a seek reads
  // ahead; whether a seek found its key is decided on the encoded record.
  bool RowHasKey(size_t row, int order, const KeyRun& run) const;
  // Finds, among the buffered rows after the current one, the first row at
  // or after `values` in `order`, when the current row sorts before them (the
  // rows between were read with it, so none can be missing). Decided only
  // where SQLite would compare without conversions (ascending BINARY
  // segments, values and cells of the same kind, no NULL); false whenever it
  // cannot be decided or no buffered row is at or after `values`.
  bool BufferedRowStartsKey(int order, const std::vector<SqlValue>& values, size_t* row);
  // -1, 0 or 1: buffered row `row` against `values` on the leading segments
  // of `order`, as SQLite orders them; false when a pair is not comparable
  // without conversions.
  bool CompareRowToKey(size_t row, const Order& order, const std::vector<SqlValue>& values, int* result) const;
  // Where a scan starts, in the direction of travel: the first row of the
  // order (no `key`), or the leading `segments` values of `key`, with
  // `rowid` breaking ties when `with_rowid`; at the start, or after it when
  // `strict`. The SQL it is read with is BuildScanSql's (scan_sql.h).
  struct ScanStart {
    bool forward = true;
    const std::vector<SqlValue>* key = nullptr;
    size_t segments = 0;
    bool strict = false;
    bool with_rowid = false;
    int64_t rowid = 0;
  };
  // How far a scan reads: up to `limit` rows; with `run`, also stopping after
  // the first row that does not carry the run's key; with `append`, adding
  // the rows after those of the batch (which must be of the same order and
  // direction and end on the row read on from).
  struct ScanRead {
    size_t limit = 1;
    const KeyRun* run = nullptr;
    bool append = false;
  };
  // Reads rows of `order` from `start` into the batch, then resets the
  // statement so that no read lock outlives the call.
  Status Scan(int order, const ScanStart& start, const ScanRead& read);
  // Scan of a table read in windows: the window read, then the scan
  // `stmt` over it, checked against the order the window came in.
  Status ScanWindow(sqlite3_stmt* stmt, int order, const ScanStart& start, const ScanRead& read);
  // Binds a scan's filter values, key segments and rowid (see scan_sql.h).
  Status BindScan(sqlite3_stmt* stmt, int filter_params, const ScanStart& start);
  // Steps a bound scan, copying rows into the batch (see Scan).
  Status ReadRows(sqlite3_stmt* stmt, int order, bool forward, const ScanRead& read);
  // Copies the row `stmt` stands on into the batch; false when SQLite ran
  // out of memory converting a text.
  bool CopyRow(sqlite3_stmt* stmt);
  // Whether a buffered batch of a table of fixed rows was found by the same
  // move (`key`: the raw key of a seek); a batch kept aside that matches
  // becomes the current batch.
  bool Anchored(int order, Anchor anchor, const uint8_t* key, size_t length);
  // Keeps the current (anchored) batch aside and gives batch_ a free one.
  void SetBatchAside();
  void ForgetKeptBatches();
  // For a table of fixed rows: makes the current batch a copy of the one
  // row `rowid` found in a buffered batch, positioned as a read of it in
  // `order` would leave it; false when no buffered batch holds it.
  bool BatchFromMemory(int order, int64_t rowid);
  // Whether `schema` of `db` is an in-memory database, which only the
  // connection that made it can read or write.
  static bool IsPrivateMemoryDatabase(sqlite3* db, const std::string& schema);
  // Whether row `rowid` exists, filter or not.
  Status RowExists(int64_t rowid, bool* exists);
  // The key of the current row in `order`.
  void CurrentKey(int order, std::vector<SqlValue>* key);
  Status StepTo(bool forward);
  // The key of row `rowid` in `order`, read by a statement prepared once per
  // order (none in the natural order); AE_INVALID_RECORD_NUMBER naming
  // `record` when the row is gone.
  Status KeyOfRow(int order, int64_t rowid, UNSIGNED32 record, std::vector<SqlValue>* key);
  // Lands on the first row of a fresh batch, or on BOF/EOF when it is empty.
  void LandOnBatch(bool forward);
  // Stands after the last record (forward) or before the first.
  void StandAtEnd(bool forward);
  // Moves past the last (forward) or before the first record.
  void LandBeyond(bool forward);
  void KeepOnlyCurrentRow();
  Status DecodeKey(int order, const uint8_t* key, UNSIGNED16 length, std::vector<SqlValue>* values,
                                     std::vector<std::string>* parts);
  // Encodes one column of a buffered row in the raw record format; 6008
  // naming the table, column and row when the stored value does not fit.
  Status EncodeColumn(int column, const Cell& value, uint8_t* out);
  // The value one key segment of `n` bytes stands for (NULL for the empty
  // value), as the scan binds it.
  Status DecodeKeySegment(const IndexInfo& index, const ColumnInfo& info, const uint8_t* p,
                                            size_t n, SqlValue* value);
  Status ValueError(int column, const std::string& what);
  Status RecordNumberFor(int64_t rowid, UNSIGNED32* record);

  EngineConnection* connection_;
  sqlite3* db_;
  bool owns_db_;
  std::string schema_;
  std::string table_;
  std::string display_name_;
  std::string qualified_;  // "schema"."table"
  std::vector<ColumnInfo> columns_;
  std::vector<IndexInfo> indexes_;
  UNSIGNED32 record_length_ = 0;
  ADSHANDLE handle_ = 0;
  UNSIGNED16 handle_type_ = ADS_TABLE;
  UNSIGNED32 open_options_ = 2;
  bool streamed_ = false;
  bool rows_hidden_ = false;
  std::string sealed_path_;
  RowsLoader rows_loader_;
  std::unique_ptr<RowWindows> windows_;
  std::vector<int64_t> window_rowids_;  // of the last window, in the source's order
  bool window_filled_ = false;          // the next scan reads the rows already there
  // The table reads a private in-memory database (a decrypted sealed table,
  // an SQL result) that nothing writes while the table is open: rows once
  // read never go stale, so moves back to a batch's anchor read nothing.
  bool rows_fixed_ = false;
  int64_t known_row_count_ = -1;  // -1: not known
  // The last seek was served from the rows read ahead: the next one that
  // reads, reads further ahead (the days of a leave, sought one by one).
  bool seeking_in_order_ = false;

  std::vector<std::unique_ptr<Order>> orders_;  // [0] natural, [i+1] index i
  State state_ = State::kBof;
  bool at_eof_flag_ = false;
  bool at_bof_flag_ = false;
  int current_order_ = -1;  // order of the last navigation call
  int64_t current_rowid_ = 0;
  std::unique_ptr<Batch> batch_;
  std::vector<std::unique_ptr<Batch>> kept_;  // anchored batches set aside, oldest first
  std::unique_ptr<Batch> spare_;              // a free batch for BatchFromMemory
  std::string select_list_;  // "rowid, "c1", ..."
  std::string rowid_name_;   // the first entry of select_list_
  // The columns rows are read with (SetReadColumns), ascending, and their
  // select list; empty: whole rows.
  std::vector<int> read_columns_;
  std::string read_select_list_;
  std::weak_ptr<Recycler> recycler_;

  std::map<int64_t, UNSIGNED32> big_rowid_numbers_;
  std::vector<int64_t> big_rowids_;

  std::string filter_text_;
  std::unique_ptr<FilterProgram> filter_;
  bool exact22_ = false;

  // Buffers reused from call to call, so that a seek or a step allocates
  // nothing once they have grown: the decoded key of the last seek and its
  // raw segments, the key a walk reads on from, one encoded column.
  std::vector<SqlValue> seek_values_;
  std::vector<std::string> seek_parts_;
  std::vector<SqlValue> walk_key_;
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> empty_record_;  // the empty record, once a record is read with some columns

  // Key under construction per order (index number -> segment bytes).
  std::map<int, std::vector<std::string>> keys_;
  std::map<int, std::vector<bool>> keys_set_;
};

// An index order handle: a view of a table through one of its indexes.
class IndexOrder : public EngineObject {
 public:
  IndexOrder(EngineTable* table, int index) : table_(table), index_(index) {}
  EngineTable* table() const { return table_; }
  int index() const { return index_; }

 private:
  EngineTable* table_;
  int index_;
};


}  // namespace engine

#endif  // KDX_ENGINE_ENGINE_TABLE_H_
