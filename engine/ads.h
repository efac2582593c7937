// The embedded database engine's call interface: the functions the data layer
// calls, under the names of the client library it replaces.
//
// Every function returns 0 on success or an error code; the code and a text
// naming the path, table, column or statement concerned are then available
// from AdsGetLastError (per thread), and what the error concerns, apart from
// the text, from AdsGetLastErrorDetail. No result may be dropped: every
// function is [[nodiscard]]. Handles are 32-bit, typed, and never
// reused within a process; a stale or foreign handle is an error
// (AE_INVALID_HANDLE), never a crash.
//
// Storage is SQLite: a connection path is a folder of free tables (one SQLite
// file per table) or a dictionary file (one SQLite file holding many tables).
// docs/database-format.md is the contract for both.
//
// Column numbers are 1-based, index segment numbers 0-based, SQL parameter
// positions 1-based. A "field" argument names a column (case-insensitive).
// Raw records and raw keys are byte arrays in the encodings of the ADT table
// type (see docs/database-format.md).
//
// Threading: the engine serialises its calls internally; the program uses it
// from one thread.
#ifndef KDX_ENGINE_ADS_H_
#define KDX_ENGINE_ADS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "util/date_time.h"

using ADSHANDLE = uint32_t;
using UNSIGNED32 = uint32_t;
using UNSIGNED16 = uint16_t;
using SIGNED32 = int32_t;

// ---- error codes the data layer treats specially ---------------------------
constexpr UNSIGNED32 AE_SUCCESS = 0;
constexpr UNSIGNED32 AE_INSUFFICIENT_BUFFER = 5005;   // caller's buffer too small
constexpr UNSIGNED32 AE_NO_CURRENT_RECORD = 5017;
constexpr UNSIGNED32 AE_INVALID_RECORD_NUMBER = 5022; // record no longer exists
constexpr UNSIGNED32 AE_INVALID_CONNECTION_HANDLE = 5024;
constexpr UNSIGNED32 AE_NO_FILTER = 5037;
constexpr UNSIGNED32 AE_NO_SCOPE = 5038;
constexpr UNSIGNED32 AE_TABLE_NOT_ENCRYPTED = 5068;   // or already readable
constexpr UNSIGNED32 AE_INVALID_SQLSTATEMENT_HANDLE = 5106;
constexpr UNSIGNED32 AE_INFO_RECORD_COUNT_UNKNOWN = 5117;
constexpr UNSIGNED32 AE_INTERNAL_LAYER_ERROR = 5121;  // raised by the data layer
constexpr UNSIGNED32 AE_TABLE_NOT_IN_DICTIONARY = 5132;
constexpr UNSIGNED32 AE_COLUMN_NOT_FOUND = 5147;      // the detail names the column
constexpr UNSIGNED32 AE_COLUMN_TYPE_MISMATCH = 5148;  // the detail names the column
constexpr UNSIGNED32 AE_COLUMN_VALUE_INVALID = 5149;  // the detail names the column
// Codes of our own (6000 and up) are listed in docs/database-format.md.
// Codes of the storage layer (6001-6099); 6100-6199 belong to SQL statements,
// sealed tables and dictionary accounts.
constexpr UNSIGNED32 AE_INVALID_HANDLE = 6001;           // stale, closed or foreign handle
constexpr UNSIGNED32 AE_KDX_PATH_NOT_FOUND = 6002;       // connection path does not exist
constexpr UNSIGNED32 AE_KDX_SERVER_UNAVAILABLE = 6003;   // server-type mask without the local server
constexpr UNSIGNED32 AE_KDX_TABLE_NOT_FOUND = 6004;      // no table file of that name
constexpr UNSIGNED32 AE_KDX_NOT_A_DATABASE = 6005;       // file is not an SQLite database
constexpr UNSIGNED32 AE_KDX_TABLE_LAYOUT = 6006;         // free table file without exactly one table of its name
constexpr UNSIGNED32 AE_KDX_BAD_COLUMN_TYPE = 6007;      // declared type outside the engine's table
constexpr UNSIGNED32 AE_KDX_BAD_STORED_VALUE = 6008;     // stored value does not fit its column
constexpr UNSIGNED32 AE_KDX_BAD_INDEX = 6009;            // expression index or unsupported collation
constexpr UNSIGNED32 AE_KDX_SQLITE = 6010;               // any other SQLite failure (its message inside)
constexpr UNSIGNED32 AE_KDX_INVALID_ARGUMENT = 6011;     // null pointer, out-of-range number, bad option
constexpr UNSIGNED32 AE_KDX_FILTER_SYNTAX = 6012;        // filter expression not understood
constexpr UNSIGNED32 AE_KDX_DATE_FORMAT = 6013;          // date format refused
constexpr UNSIGNED32 AE_KDX_BAD_KEY = 6014;              // key too long, or a column that is no segment
constexpr UNSIGNED32 AE_KDX_HOT_JOURNAL = 6015;          // a file left in the middle of a write (hot journal)
constexpr UNSIGNED32 AE_KDX_PATH_IS_TABLE_FILE = 6016;   // connection path names a free table file
// A sealed table opened without its table password: its rows cannot be read
// until AdsEnableEncryption. Of the sealed-table range (6100-6199), but here
// because the data layer tolerates it right after an open.
constexpr UNSIGNED32 AE_KDX_TABLE_SEALED = 6108;

// ---- engine type codes of columns ------------------------------------------
constexpr UNSIGNED16 ADS_LOGICAL = 1;
constexpr UNSIGNED16 ADS_NUMERIC = 2;
constexpr UNSIGNED16 ADS_DATE = 3;
constexpr UNSIGNED16 ADS_STRING = 4;
constexpr UNSIGNED16 ADS_MEMO = 5;
constexpr UNSIGNED16 ADS_BINARY = 6;
constexpr UNSIGNED16 ADS_IMAGE = 7;
constexpr UNSIGNED16 ADS_VARCHAR = 8;
constexpr UNSIGNED16 ADS_COMPACTDATE = 9;
constexpr UNSIGNED16 ADS_DOUBLE = 10;
constexpr UNSIGNED16 ADS_INTEGER = 11;
constexpr UNSIGNED16 ADS_SHORTINT = 12;
constexpr UNSIGNED16 ADS_TIME = 13;
constexpr UNSIGNED16 ADS_TIMESTAMP = 14;
constexpr UNSIGNED16 ADS_AUTOINC = 15;
constexpr UNSIGNED16 ADS_RAW = 16;
constexpr UNSIGNED16 ADS_CURDOUBLE = 17;

// Handle types reported by AdsGetHandleType.
constexpr UNSIGNED16 ADS_CONNECTION = 1;
constexpr UNSIGNED16 ADS_TABLE = 2;
constexpr UNSIGNED16 ADS_INDEX_ORDER = 3;
constexpr UNSIGNED16 ADS_STATEMENT = 4;
constexpr UNSIGNED16 ADS_CURSOR = 5;  // result of AdsExecuteSQL; a table in every other respect

// Server-type mask bits.
constexpr UNSIGNED16 ADS_LOCAL_SERVER = 1;
constexpr UNSIGNED16 ADS_REMOTE_SERVER = 2;
constexpr UNSIGNED16 ADS_AIS_SERVER = 4;

// kJulianDayOf18991230 (2415019), the Julian day number of day 0 of the
// program's date-time, comes from util/date_time.h, so that code seeing both
// headers has one definition.

// Length of the key buffer AdsBuildRawKey can fill.
constexpr UNSIGNED16 ADS_MAX_KEY_LENGTH = 256;

// What the last error concerns, apart from its text: the table as messages
// name it, the column, the server ("PostgreSQL server HOST:PORT, database
// DB"), each "" when the error concerns none; and whether the SQL statement
// whose execution failed can run again (when not, it is to be closed and a
// new one made).
struct AdsErrorDetail {
  std::string table;
  std::string column;
  std::string server;
  bool statement_unusable = false;
};

// ---- errors and settings (process-wide) -------------------------------------
[[nodiscard]] UNSIGNED32 AdsGetLastError(UNSIGNED32* code, std::string* text);
// The detail of the error AdsGetLastError gives (all empty when it is 0 or
// has none).
[[nodiscard]] UNSIGNED32 AdsGetLastErrorDetail(AdsErrorDetail* detail);
[[nodiscard]] UNSIGNED32 AdsGetErrorString(UNSIGNED32 code, std::string* text);
[[nodiscard]] UNSIGNED32 AdsShowError(const std::string& title);
[[nodiscard]] UNSIGNED32 AdsSetDateFormat(const std::string& format);
[[nodiscard]] UNSIGNED32 AdsGetDateFormat(std::string* format);
[[nodiscard]] UNSIGNED32 AdsGetDecimals(UNSIGNED16* decimals);
[[nodiscard]] UNSIGNED32 AdsSetDecimals(UNSIGNED16 decimals);
[[nodiscard]] UNSIGNED32 AdsGetDeleted(UNSIGNED16* show_deleted);
[[nodiscard]] UNSIGNED32 AdsShowDeleted(UNSIGNED16 show_deleted);
[[nodiscard]] UNSIGNED32 AdsSetServerType(UNSIGNED16 mask);
[[nodiscard]] UNSIGNED32 AdsCacheOpenTables(UNSIGNED16 count);
[[nodiscard]] UNSIGNED32 AdsCacheOpenCursors(UNSIGNED16 count);
[[nodiscard]] UNSIGNED32 AdsGetHandleType(ADSHANDLE handle, UNSIGNED16* type);

// ---- connections ------------------------------------------------------------
[[nodiscard]] UNSIGNED32 AdsConnect60(const std::string& path, UNSIGNED16 server_types,
                        const std::string& user, const std::string& password,
                        UNSIGNED32 options, ADSHANDLE* connection);
[[nodiscard]] UNSIGNED32 AdsDisconnect(ADSHANDLE connection);

// ---- tables -----------------------------------------------------------------
// `name` is a bare table name (resolved in the connection's folder or
// dictionary) or a path. Modes: 0 shared, 1 exclusive, 2 read-only, 3 both.
[[nodiscard]] UNSIGNED32 AdsOpenTable(ADSHANDLE connection, const std::string& name,
                        const std::string& alias, UNSIGNED16 table_type,
                        UNSIGNED16 char_type, UNSIGNED16 lock_type,
                        UNSIGNED32 rights, UNSIGNED32 mode, ADSHANDLE* table);
[[nodiscard]] UNSIGNED32 AdsCloseTable(ADSHANDLE table);
[[nodiscard]] UNSIGNED32 AdsEnableEncryption(ADSHANDLE table, const std::string& password);
[[nodiscard]] UNSIGNED32 AdsGetTableType(ADSHANDLE table, UNSIGNED16* type);
[[nodiscard]] UNSIGNED32 AdsGetTableOpenOptions(ADSHANDLE table, UNSIGNED32* options);
[[nodiscard]] UNSIGNED32 AdsGetRecordCount(ADSHANDLE table, UNSIGNED16 filter_option, UNSIGNED32* count);

// ---- structure --------------------------------------------------------------
[[nodiscard]] UNSIGNED32 AdsGetRecordLength(ADSHANDLE table, UNSIGNED32* length);
[[nodiscard]] UNSIGNED32 AdsGetNumFields(ADSHANDLE table, UNSIGNED16* count);
[[nodiscard]] UNSIGNED32 AdsGetFieldType(ADSHANDLE table, UNSIGNED16 field, UNSIGNED16* type);
[[nodiscard]] UNSIGNED32 AdsGetFieldLength(ADSHANDLE table, UNSIGNED16 field, UNSIGNED32* length);
[[nodiscard]] UNSIGNED32 AdsGetFieldDecimals(ADSHANDLE table, UNSIGNED16 field, UNSIGNED16* decimals);
[[nodiscard]] UNSIGNED32 AdsGetFieldName(ADSHANDLE table, UNSIGNED16 field, std::string* name);
[[nodiscard]] UNSIGNED32 AdsGetFieldOffset(ADSHANDLE table, UNSIGNED16 field, UNSIGNED32* offset);
// Every column in order, as the five calls above describe them one by one:
// for a caller that describes a cursor opened once per record it reads.
struct ADS_FIELD_DESCRIPTION {
  UNSIGNED16 type = 0;
  UNSIGNED32 length = 0;
  UNSIGNED16 decimals = 0;
  UNSIGNED32 offset = 0;
  std::string name;
};
[[nodiscard]] UNSIGNED32 AdsGetFieldDescriptions(ADSHANDLE table, std::vector<ADS_FIELD_DESCRIPTION>* fields);

// ---- indexes (an index handle is an "order": navigation follows it) --------
// At most `max_count` index handles are returned, in the engine's order.
[[nodiscard]] UNSIGNED32 AdsGetAllIndexes(ADSHANDLE table, UNSIGNED16 max_count, std::vector<ADSHANDLE>* indexes);
[[nodiscard]] UNSIGNED32 AdsGetIndexName(ADSHANDLE index, std::string* name);
[[nodiscard]] UNSIGNED32 AdsGetNumSegments(ADSHANDLE index, UNSIGNED16* count);
[[nodiscard]] UNSIGNED32 AdsGetSegmentFieldname(ADSHANDLE index, UNSIGNED16 segment, std::string* name);
[[nodiscard]] UNSIGNED32 AdsIsIndexDescending(ADSHANDLE index, UNSIGNED16* descending);
[[nodiscard]] UNSIGNED32 AdsIsIndexUnique(ADSHANDLE index, UNSIGNED16* unique);
[[nodiscard]] UNSIGNED32 AdsIsIndexCustom(ADSHANDLE index, UNSIGNED16* custom);
[[nodiscard]] UNSIGNED32 AdsGetIndexCondition(ADSHANDLE index, std::string* condition);
[[nodiscard]] UNSIGNED32 AdsGetScope(ADSHANDLE index, UNSIGNED16 which, std::string* scope);  // 5038: none
[[nodiscard]] UNSIGNED32 AdsGetIndexHandle(ADSHANDLE table, const std::string& name, ADSHANDLE* index);
// The default index a dictionary names for `table` (table "__tables"); an
// empty name when there is none or the connection is a folder.
// AdsGetIndexHandle(table, "ADS_DEFAULT") opens that index.
[[nodiscard]] UNSIGNED32 AdsGetDefaultIndex(ADSHANDLE connection, const std::string& table, std::string* index_name);
[[nodiscard]] UNSIGNED32 AdsGetIndexPageSize(ADSHANDLE index, UNSIGNED32* page_size);
[[nodiscard]] UNSIGNED32 AdsGetBookmarkLength(ADSHANDLE order, UNSIGNED32* length);

// ---- navigation and reading (`order`: a table handle or an index handle) ----
[[nodiscard]] UNSIGNED32 AdsGotoTop(ADSHANDLE order);
[[nodiscard]] UNSIGNED32 AdsGotoBottom(ADSHANDLE order);
[[nodiscard]] UNSIGNED32 AdsSkip(ADSHANDLE order, SIGNED32 count);
[[nodiscard]] UNSIGNED32 AdsAtEOF(ADSHANDLE table, UNSIGNED16* at_eof);
[[nodiscard]] UNSIGNED32 AdsAtBOF(ADSHANDLE table, UNSIGNED16* at_bof);
[[nodiscard]] UNSIGNED32 AdsIsRecordVisible(ADSHANDLE order, UNSIGNED16* visible);
// Copies the current raw record; `*length` is the buffer's size on entry and
// the record length on return (5005 when the buffer is too small).
[[nodiscard]] UNSIGNED32 AdsGetRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32* length);
// The engine's own: until called again with no columns, the table's rows are
// read with only the `count` columns of `columns` (1-based) and the key
// columns of its indexes, and AdsGetRecord fills only those columns of the
// record, leaving each other one empty. Every other read of a column
// (AdsGetField, AdsIsEmpty) gives its stored value, and once cleared
// AdsGetRecord gives whole records again. For a walk that reads a few
// columns of many rows. An SQL result still reads whole rows, and only its
// records are filled in part; a table read in windows from a server reads
// and fills whole rows.
[[nodiscard]] UNSIGNED32 AdsSetReadColumns(ADSHANDLE table, const UNSIGNED16* columns, UNSIGNED16 count);
// The current record's text for any column (memo and binary columns included).
[[nodiscard]] UNSIGNED32 AdsGetField(ADSHANDLE table, const std::string& field, std::string* value);
[[nodiscard]] UNSIGNED32 AdsIsEmpty(ADSHANDLE table, const std::string& field, UNSIGNED16* empty);
// Bookmarks are record numbers: stable for the life of the handle.
[[nodiscard]] UNSIGNED32 AdsGetRecordNum(ADSHANDLE table, UNSIGNED32* record);
[[nodiscard]] UNSIGNED32 AdsGetBookmark60(ADSHANDLE order, UNSIGNED32* bookmark);
[[nodiscard]] UNSIGNED32 AdsGetBookmark(ADSHANDLE order, UNSIGNED32* bookmark);
[[nodiscard]] UNSIGNED32 AdsGotoBookmark(ADSHANDLE order, UNSIGNED32 bookmark);
[[nodiscard]] UNSIGNED32 AdsGotoRecord(ADSHANDLE table, UNSIGNED32 record);

// ---- seeks ------------------------------------------------------------------
// Fills `buffer` with the empty record of the table (every column empty).
[[nodiscard]] UNSIGNED32 AdsGetNullRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length);
[[nodiscard]] UNSIGNED32 AdsClearRecordBuffer(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length);
[[nodiscard]] UNSIGNED32 AdsInitRawKey(ADSHANDLE index);
// Sets one segment of the key being built: `bytes` in the column's raw encoding.
[[nodiscard]] UNSIGNED32 AdsSetField(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length);
[[nodiscard]] UNSIGNED32 AdsSetFieldRaw(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length);
// `*length` is the capacity on entry (at most ADS_MAX_KEY_LENGTH is used).
[[nodiscard]] UNSIGNED32 AdsBuildRawKey(ADSHANDLE index, uint8_t* key, UNSIGNED16* length);
// data_type 1 = raw key; seek_type 1 = nearest (soft), 2 = exact (hard).
[[nodiscard]] UNSIGNED32 AdsSeek(ADSHANDLE index, const uint8_t* key, UNSIGNED16 length,
                   UNSIGNED16 data_type, UNSIGNED16 seek_type, UNSIGNED16* found);
// The engine's own: tells the table of order `index` that raw key `key` will
// be sought (AdsSeek). A table read in windows from a server reads the
// window of that key with the next window it asks for, in the same request,
// and keeps it for that seek: the rows are those of the run's one snapshot
// either way. `*queued` is 0 where nothing is kept (table files, a table
// copied whole, a key no window can start at, 1,024 windows already kept).
[[nodiscard]] UNSIGNED32 AdsQueueSeek(ADSHANDLE index, const uint8_t* key, UNSIGNED16 length, UNSIGNED16* queued);

// ---- filters ----------------------------------------------------------------
// `*length` is the capacity on entry; 5005 (and the needed length) when too small.
[[nodiscard]] UNSIGNED32 AdsGetAOF(ADSHANDLE table, char* buffer, UNSIGNED16* length);
[[nodiscard]] UNSIGNED32 AdsSetAOF(ADSHANDLE table, const std::string& expression, UNSIGNED16 options);
[[nodiscard]] UNSIGNED32 AdsClearAOF(ADSHANDLE table);
[[nodiscard]] UNSIGNED32 AdsGetExact22(ADSHANDLE table, UNSIGNED16* exact);
[[nodiscard]] UNSIGNED32 AdsSetExact22(ADSHANDLE table, UNSIGNED16 exact);

// ---- SQL --------------------------------------------------------------------
[[nodiscard]] UNSIGNED32 AdsCreateSQLStatement(ADSHANDLE connection, ADSHANDLE* statement);
[[nodiscard]] UNSIGNED32 AdsStmtSetTablePassword(ADSHANDLE statement, const std::string& table, const std::string& password);
[[nodiscard]] UNSIGNED32 AdsStmtSetTableLockType(ADSHANDLE statement, UNSIGNED16 value);
[[nodiscard]] UNSIGNED32 AdsStmtSetTableCharType(ADSHANDLE statement, UNSIGNED16 value);
[[nodiscard]] UNSIGNED32 AdsStmtSetTableRights(ADSHANDLE statement, UNSIGNED16 value);
[[nodiscard]] UNSIGNED32 AdsStmtSetTableReadOnly(ADSHANDLE statement, UNSIGNED16 value);
[[nodiscard]] UNSIGNED32 AdsStmtSetTableType(ADSHANDLE statement, UNSIGNED16 value);
[[nodiscard]] UNSIGNED32 AdsStmtConstrainUpdates(ADSHANDLE statement, UNSIGNED16 value);
[[nodiscard]] UNSIGNED32 AdsStmtReadAllColumns(ADSHANDLE statement, UNSIGNED16 value);
// The engine's own: with `bStreamed` nonzero, the next executions of a
// statement on table files read a result that allows it in windows of rows
// instead of storing it whole, so that its memory does not grow with the
// table; such a cursor is read forward (see engine/result_stream.h). Other
// statements, and statements on a server, run as without it. Off by default.
[[nodiscard]] UNSIGNED32 AdsStmtSetStreamed(ADSHANDLE hStatement, UNSIGNED16 bStreamed);
// The engine's own: keeps the values now bound to a prepared statement as
// one execution to come. On a server, the next AdsExecuteSQL of the
// statement runs every execution queued since the one before in the same
// request as its own, and a later AdsExecuteSQL with values equal to a
// queued set takes the rows read for it (once) instead of asking again:
// the rows are those of the run's one snapshot either way, and a queued set
// that is never executed costs only its share of that request. A request
// the server refuses leaves each execution to run on its own, failing as
// it would have. `*pbQueued` is 0 where nothing is kept (table files, a
// streamed or non-SELECT statement, or 1,024 sets already waiting).
[[nodiscard]] UNSIGNED32 AdsStmtQueueExecution(ADSHANDLE hStatement, UNSIGNED16* pbQueued);
// Checks the text and lists its parameter names, one per occurrence.
[[nodiscard]] UNSIGNED32 AdsGetSQLStmtParams(const std::string& text, std::vector<std::string>* names);
[[nodiscard]] UNSIGNED32 AdsPrepareSQL(ADSHANDLE statement, const std::string& text);
[[nodiscard]] UNSIGNED32 AdsSetEmpty(ADSHANDLE statement, UNSIGNED16 position);
[[nodiscard]] UNSIGNED32 AdsSetString(ADSHANDLE statement, UNSIGNED16 position, const std::string& value);
[[nodiscard]] UNSIGNED32 AdsSetJulian(ADSHANDLE statement, UNSIGNED16 position, SIGNED32 julian_day);
[[nodiscard]] UNSIGNED32 AdsSetMilliseconds(ADSHANDLE statement, UNSIGNED16 position, SIGNED32 milliseconds);
// 8 bytes: 32-bit Julian day, then 32-bit milliseconds since midnight.
[[nodiscard]] UNSIGNED32 AdsSetTimeStampRaw(ADSHANDLE statement, UNSIGNED16 position, const uint8_t* bytes, UNSIGNED32 length);
[[nodiscard]] UNSIGNED32 AdsSetDouble(ADSHANDLE statement, UNSIGNED16 position, double value);
[[nodiscard]] UNSIGNED32 AdsSetLogical(ADSHANDLE statement, UNSIGNED16 position, UNSIGNED16 value);
[[nodiscard]] UNSIGNED32 AdsSetBinary(ADSHANDLE statement, UNSIGNED16 position, UNSIGNED16 binary_type,
                        const uint8_t* bytes, UNSIGNED32 length);
// A SELECT gives a read-only cursor (a table handle of type ADS_CURSOR);
// any other statement is executed and gives *cursor = 0.
[[nodiscard]] UNSIGNED32 AdsExecuteSQL(ADSHANDLE statement, ADSHANDLE* cursor);
[[nodiscard]] UNSIGNED32 AdsCloseSQLStatement(ADSHANDLE statement);

#endif  // KDX_ENGINE_ADS_H_
