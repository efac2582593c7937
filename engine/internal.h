// The engine's internal shared declarations: the per-thread last error, the
// handle registry, connections and open tables (tables, sealed tables and SQL
// result cursors alike), and the declared-type parser. Everything here is
// used only inside engine/; the data layer sees engine/ads.h alone.
//
// Locking: every Ads* entry point takes EngineGuard first, so the objects
// below are only touched by one thread at a time. The handle registry has its
// own mutex as well, so a lookup is safe even outside the guard.
#ifndef KDX_ENGINE_INTERNAL_H_
#define KDX_ENGINE_INTERNAL_H_

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/ads.h"
#include "util/ascii.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;

namespace engine {

// ---- errors -----------------------------------------------------------------

// Records `code` and `text` as this thread's last error; returns `code`, so
// that `return SetError(...)` reads naturally.
UNSIGNED32 SetError(UNSIGNED32 code, std::string text);
// Clears this thread's last error (every successful entry point leaves the
// previous error in place, as the client library did; callers need not call it).
void ClearError();
// Converts an SQLite failure into an engine error: `context` first (what was
// being done, naming the path/table/statement), then SQLite's own message for
// `db` (or the generic text when `db` is null). Returns `code`.
UNSIGNED32 SqliteError(UNSIGNED32 code, const std::string& context, sqlite3* db);
// The fixed text of an error code (AdsGetErrorString), "" for unknown codes.
std::string ErrorCodeText(UNSIGNED32 code);

// The whole engine is serialised by one recursive mutex; every Ads* function
// holds an EngineGuard for its duration.
std::recursive_mutex& EngineMutex();
using EngineGuard = std::lock_guard<std::recursive_mutex>;

// ---- process-wide settings ---------------------------------------------------
struct EngineSettings {
  std::string date_format = "MM/dd/ccyy";
  UNSIGNED16 decimals = 2;
  UNSIGNED16 show_deleted = 1;
  UNSIGNED16 server_types = ADS_LOCAL_SERVER | ADS_REMOTE_SERVER | ADS_AIS_SERVER;
  UNSIGNED16 cached_tables = 0;
  UNSIGNED16 cached_cursors = 25;
};
EngineSettings& Settings();

// ---- handle registry ---------------------------------------------------------

// Base of every object a handle stands for.
class EngineObject {
 public:
  virtual ~EngineObject() = default;
};

// Typed 32-bit handles, never reused within the process. The registry owns
// the objects registered with it; Destroy deletes the object after removing
// it (outside the registry's lock, so destructors may destroy children).
class HandleRegistry {
 public:
  static HandleRegistry& Get();
  ~HandleRegistry();

  // Registers `object` under a fresh handle of `type`; 0 only when the
  // handle space (2^32 - 1 handles) is exhausted.
  ADSHANDLE Register(UNSIGNED16 type, std::unique_ptr<EngineObject> object);
  // The object of `handle` when it exists and has `type`, else null.
  EngineObject* Find(ADSHANDLE handle, UNSIGNED16 type) const;
  // The object and type of a live handle in one look-up; null for an
  // unknown or closed one.
  EngineObject* FindAny(ADSHANDLE handle, UNSIGNED16* type) const;
  // The type of a live handle; false for an unknown or closed one.
  bool TypeOf(ADSHANDLE handle, UNSIGNED16* type) const;
  // Removes and deletes the object; false when the handle is not live.
  bool Destroy(ADSHANDLE handle);

 private:
  struct Entry {
    UNSIGNED16 type;
    std::unique_ptr<EngineObject> object;
  };
  // Handles looked up lately, by handle modulo the slot count: the data
  // layer calls the engine on the same few handles over and over. A slot
  // is emptied when its handle is destroyed (handles are never reused).
  struct Recent {
    ADSHANDLE handle = 0;
    UNSIGNED16 type = 0;
    EngineObject* object = nullptr;
  };
  // The entry of a live handle (through its slot), or null. Needs mutex_.
  const Recent* Locate(ADSHANDLE handle) const;

  mutable std::mutex mutex_;
  std::unordered_map<ADSHANDLE, Entry> entries_;
  mutable std::array<Recent, 64> recent_{};
  ADSHANDLE next_ = 0x100;
};

// The error a handle of `type` answers when it is stale or of another type:
// 5024 for connections, 5106 for statements, AE_INVALID_HANDLE otherwise.
UNSIGNED32 InvalidHandleError(ADSHANDLE handle, UNSIGNED16 type);

// Looks `handle` up as a `type`; on failure records the error and returns
// null. `T` must be the class registered under that type.
template <class T>
T* Lookup(ADSHANDLE handle, UNSIGNED16 type, UNSIGNED32* error) {
  EngineObject* object = HandleRegistry::Get().Find(handle, type);
  if (object == nullptr) {
    *error = InvalidHandleError(handle, type);
    return nullptr;
  }
  return static_cast<T*>(object);
}

// ---- SQLite helpers ------------------------------------------------------------

// Busy timeout of every database the engine opens: a writer holding a lock
// delays a read instead of failing it.
constexpr int kBusyTimeoutMs = 8000;

// Opens `path` with `flags` (SQLITE_OPEN_* values), sets the busy timeout and
// checks that the file is an SQLite database. 0 and `*db`, or an error naming
// the path (the handle is closed on failure).
UNSIGNED32 OpenSqlite(const std::string& path, int flags, sqlite3** db);

// Owns a prepared statement; finalises it on destruction.
class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();
  sqlite3_stmt* get() const { return stmt_; }
  sqlite3_stmt** out() { return &stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Quotes an SQL identifier ("name" with inner quotes doubled).
std::string QuoteIdentifier(const std::string& name);

// ---- column types ----------------------------------------------------------------

// An engine column type parsed from an SQLite declared type.
struct ColumnType {
  UNSIGNED16 type = 0;       // ADS_* type code
  UNSIGNED32 width = 0;      // bytes in the raw record
  UNSIGNED16 decimals = 0;   // NUMERIC only
  UNSIGNED32 declared_width = 0;  // n of CHAR(n)/VARCHAR(n)/RAW(n), w of NUMERIC(w,d)
};

// Bytes of the block reference that stands for a memo, varchar, binary or
// image value in a raw record (0 when the value is empty).
constexpr UNSIGNED32 kBlockReferenceWidth = 8;

// Parses a declared type ("CHAR(10)", "numeric(8, 2)", "DATE", ...), case and
// blanks ignored. false with `*why` describing the problem for a type outside
// the engine's table or a width/decimals out of range.
bool ParseDeclaredType(const std::string& declared, ColumnType* out, std::string* why);

// Name of an engine type code for messages and `kdx-db info` ("CHAR", ...).
std::string TypeName(UNSIGNED16 type);

// Julian day number of a proleptic Gregorian date, and back.
int64_t JulianFromCivil(int year, int month, int day);
void CivilFromJulian(int64_t julian, int* year, int* month, int* day);
// Parses 'YYYY-MM-DD' strictly (a real calendar date); false otherwise.
bool ParseIsoDate(const std::string& text, int64_t* julian);
// Parses 'HH:MM:SS' or 'HH:MM:SS.sss' strictly; false otherwise.
bool ParseIsoTime(const std::string& text, uint32_t* milliseconds);
// Parses 'YYYY-MM-DD HH:MM:SS' or with '.sss'.
bool ParseIsoTimestamp(const std::string& text, int64_t* julian, uint32_t* milliseconds);
std::string FormatIsoDate(int64_t julian);
std::string FormatIsoTime(uint32_t milliseconds);  // '.sss' only when not zero

// ---- connections --------------------------------------------------------------

class EngineTable;

// One AdsConnect60: a folder of free tables or a dictionary file.
class EngineConnection : public EngineObject {
 public:
  ~EngineConnection() override;  // closes every child handle still open

  const std::string& path() const { return path_; }
  bool is_dictionary() const { return dictionary_ != nullptr; }
  // The dictionary's database (null for a folder connection). Owned.
  sqlite3* dictionary() const { return dictionary_; }
  // The folder free tables are looked up in: the connection path, or the
  // folder holding the dictionary file.
  const std::string& folder() const { return folder_; }
  ADSHANDLE handle() const { return handle_; }

  // Resolves a table name the way AdsOpenTable does for free tables: "\" and
  // "/" separate components; a bare name is looked up in folder(); the file
  // name is matched without regard to case, and a name without extension
  // tries the name as given, then with ".adt". 0 and the file's path, or an
  // error naming the table and the folder searched.
  UNSIGNED32 ResolveTableFile(const std::string& name, std::string* file) const;

  // Opens an SQLite file for reading with the engine's busy timeout.
  static UNSIGNED32 OpenSqlite(const std::string& path, int flags, sqlite3** db) {
    return engine::OpenSqlite(path, flags, db);
  }

  // Child handles (tables, cursors, statements) are closed with the
  // connection. Children register themselves here and remove themselves on close.
  void AddChild(ADSHANDLE handle) { children_.push_back(handle); }
  void RemoveChild(ADSHANDLE handle);

  // Made by AdsConnect60 only.
  static UNSIGNED32 Connect(const std::string& path, UNSIGNED16 server_types,
                            const std::string& user, const std::string& password,
                            ADSHANDLE* handle);

 private:
  EngineConnection() = default;
  std::string path_;
  std::string folder_;
  sqlite3* dictionary_ = nullptr;
  ADSHANDLE handle_ = 0;
  std::vector<ADSHANDLE> children_;
};

// ---- tables -------------------------------------------------------------------

struct ColumnInfo {
  std::string name;
  std::string declared;  // the declared type as written
  ColumnType type;
  UNSIGNED32 offset = 0;  // byte offset in the raw record
};

struct IndexInfo {
  std::string name;         // without a leading "<table>."
  std::string sqlite_name;  // as in the database
  std::vector<int> segments;          // 0-based column numbers
  std::vector<bool> segment_descending;
  bool unique = false;
  bool descending = false;  // first segment DESC
  ADSHANDLE handle = 0;     // the index's order handle, once registered
};

class FilterProgram;  // engine/filter.h

// A value to bind to an SQLite statement.
struct SqlValue {
  int type = 5;  // SQLITE_INTEGER 1, SQLITE_FLOAT 2, SQLITE_TEXT 3, SQLITE_BLOB 4, SQLITE_NULL 5
  int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text or blob
  static SqlValue Null() { return SqlValue(); }
  static SqlValue Integer(int64_t v) { SqlValue x; x.type = 1; x.integer = v; return x; }
  static SqlValue Real(double v) { SqlValue x; x.type = 2; x.real = v; return x; }
  static SqlValue Text(std::string v) { SqlValue x; x.type = 3; x.bytes = std::move(v); return x; }
  static SqlValue Blob(std::string v) { SqlValue x; x.type = 4; x.bytes = std::move(v); return x; }
  static SqlValue From(sqlite3_value* value);
};
// Binds `value` to parameter `index` (1-based) of `stmt`; the SQLite result code.
int BindValue(sqlite3_stmt* stmt, int index, const SqlValue& value);

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
  UNSIGNED32 Load();

  // Hands a loaded table to the handle registry: the table under a handle of
  // `type` (ADS_TABLE or ADS_CURSOR), each index under an ADS_INDEX_ORDER
  // handle, and the table as a child of its connection (if any), so that it
  // closes with it. 0 and `*handle`, or an error (the table is then deleted).
  static UNSIGNED32 Register(std::unique_ptr<EngineTable> table, UNSIGNED16 type, ADSHANDLE* handle);
  ADSHANDLE handle() const { return handle_; }
  UNSIGNED16 handle_type() const { return handle_type_; }
  EngineConnection* connection() const { return connection_; }

  // Replaces the database the rows come from (a sealed table's decrypted
  // image replacing its schema-only database). The table name and columns
  // must match; the position returns to BOF and statements are rebuilt.
  UNSIGNED32 ReplaceDatabase(sqlite3* db, bool owns_db);
  sqlite3* db() const { return db_; }

  // A sealed table opened without its password: columns and indexes are
  // visible, no record is.
  void set_rows_hidden(bool hidden);
  bool rows_hidden() const { return rows_hidden_; }
  void set_sealed_path(std::string path) { sealed_path_ = std::move(path); }
  const std::string& sealed_path() const { return sealed_path_; }

  const std::string& display_name() const { return display_name_; }
  const std::string& table_name() const { return table_; }
  const std::vector<ColumnInfo>& columns() const { return columns_; }
  const std::vector<IndexInfo>& indexes() const { return indexes_; }
  UNSIGNED32 record_length() const { return record_length_; }
  // 0-based column number of `name` (case-insensitive), or -1.
  int FindColumn(const std::string& name) const;
  // 0 and the column for a 1-based number or a name; 5147 naming it otherwise.
  UNSIGNED32 ColumnByNumber(UNSIGNED16 number, const ColumnInfo** column) const;
  UNSIGNED32 ColumnByName(const std::string& name, int* column) const;

  // ---- reuse of a layout and its prepared reads (SQL result cursors) ----

  // The prepared reads (per order) and read-ahead buffers of a table. They
  // stay valid for another table of the same layout over the same database,
  // so that the next cursor of an SQL statement prepares nothing. Opaque
  // outside table.cpp.
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
  // The number of rows of a table whose rows cannot change while it is open
  // (an SQL result, counted as it was stored): an unfiltered RecordCount
  // answers it without counting.
  void set_known_row_count(int64_t rows) { known_row_count_ = rows; }

  // ---- order and navigation (order -1: natural, else index number) ----
  UNSIGNED32 GotoTop(int order);
  UNSIGNED32 GotoBottom(int order);
  UNSIGNED32 Skip(int order, SIGNED32 count);
  bool at_eof() const { return at_eof_flag_; }
  bool at_bof() const { return at_bof_flag_; }
  bool on_row() const { return state_ == State::kOnRow; }
  // Encodes the current record into `buffer` (record_length() bytes); the
  // empty record at BOF/EOF.
  UNSIGNED32 GetRecord(uint8_t* buffer);
  UNSIGNED32 GetFieldText(int column, std::string* text);
  UNSIGNED32 IsFieldEmpty(int column, bool* empty);
  // Record numbers are stable for the life of the handle.
  UNSIGNED32 CurrentRecordNumber(UNSIGNED32* record);
  UNSIGNED32 GotoRecord(int order, UNSIGNED32 record);
  UNSIGNED32 RecordCount(bool respect_filter, UNSIGNED32* count);
  // Fills `buffer` with the empty record.
  void EmptyRecord(uint8_t* buffer) const;

  // ---- seeks ----
  UNSIGNED32 Seek(int order, const uint8_t* key, UNSIGNED16 length, bool exact, bool* found);
  // Key being built on an index (AdsInitRawKey/AdsSetField/AdsBuildRawKey).
  UNSIGNED32 InitKey(int order);
  UNSIGNED32 SetKeyField(int order, const std::string& field, const uint8_t* bytes, UNSIGNED32 length);
  UNSIGNED32 BuildKey(int order, uint8_t* key, UNSIGNED16* length);

  // ---- filter ----
  UNSIGNED32 SetFilter(const std::string& expression);
  void ClearFilter();
  bool has_filter() const { return !filter_text_.empty(); }
  const std::string& filter_text() const { return filter_text_; }
  bool exact22() const { return exact22_; }
  // Changes the exact setting; a filter in place is compiled again under it.
  UNSIGNED32 SetExact(bool exact);

 private:
  enum class State { kBof, kOnRow, kEof };
  // How the first row of a batch was found (see Batch::anchor).
  enum class Anchor { kNone, kTop, kSeek };
  struct Order;
  // Rows read ahead in the current order and direction, copied out of SQLite.
  struct Batch;
  // One column value of a buffered row.
  struct Cell;

  Order& OrderFor(int order);
  // One order per index after the natural one, with empty statement caches.
  void BuildOrders();
  void ResetStatements();
  bool HasRow() const;
  Cell CurrentCell(int column) const;
  UNSIGNED32 Prepare(const std::string& sql, sqlite3_stmt** stmt);
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
  // Reads up to `limit` rows in `order` and direction from a start key (or
  // from the top/bottom when `key` is null) into the batch, then resets the
  // statement so that no read lock outlives the call. With `run`, reading
  // also stops after the first row that does not carry the run's key.
  // With `append` the rows are added after those in the batch (which must be
  // of the same order and direction and end on the row read on from).
  UNSIGNED32 Scan(int order, bool forward, size_t key_segments, bool strict, const std::vector<SqlValue>* key,
                  int64_t rowid, bool with_rowid, size_t limit, const KeyRun* run = nullptr, bool append = false);
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
  bool RowExists(int64_t rowid);
  UNSIGNED32 CurrentKey(int order, std::vector<SqlValue>* key);
  UNSIGNED32 StepTo(bool forward);
  // Lands on the first row of a fresh batch, or on BOF/EOF when it is empty.
  void LandOnBatch(bool forward);
  // Moves past the last (forward) or before the first record.
  void LandBeyond(bool forward);
  void KeepOnlyCurrentRow();
  UNSIGNED32 DecodeKey(int order, const uint8_t* key, UNSIGNED16 length, std::vector<SqlValue>* values,
                       std::vector<std::string>* parts);
  UNSIGNED32 EncodeColumn(int column, const Cell& value, uint8_t* out);
  UNSIGNED32 ValueError(int column, const std::string& what);
  UNSIGNED32 RecordNumberFor(int64_t rowid, UNSIGNED32* record);

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
  bool rows_hidden_ = false;
  std::string sealed_path_;
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

// Resolves a navigation handle (table, cursor or index order) to its table and
// order (-1 natural). On failure records the error and returns null.
EngineTable* LookupOrder(ADSHANDLE handle, int* order, UNSIGNED32* error);
// Resolves a table or cursor handle (an index handle gives its table too).
EngineTable* LookupTable(ADSHANDLE handle, UNSIGNED32* error);

}  // namespace engine

#endif  // KDX_ENGINE_INTERNAL_H_
