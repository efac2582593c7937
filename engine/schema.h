// What the engine makes of a table's definition, for code outside the engine
// that must agree with it (kdx-db reads, writes and checks table files by
// these rules): the column types a declared type stands for, the stored forms
// of dates and times, and a read-only description of a table file or a
// dictionary's tables as the engine opens them.
//
// Declared types are written like "CHAR(10)", "numeric(8, 2)" or "DATE";
// docs/database-format.md lists them with their stored forms.
#ifndef KDX_ENGINE_SCHEMA_H_
#define KDX_ENGINE_SCHEMA_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ads.h"
#include "engine/record_format.h"
#include "engine/status.h"

namespace engine {

// An engine column type parsed from an SQLite declared type.
struct ColumnType {
  UNSIGNED16 type = 0;            // ADS_* type code
  UNSIGNED32 width = 0;           // bytes in the raw record
  UNSIGNED16 decimals = 0;        // NUMERIC only
  UNSIGNED32 declared_width = 0;  // n of CHAR(n)/VARCHAR(n)/RAW(n), w of NUMERIC(w,d)
};

// Widest CHAR(n), VARCHAR(n) and RAW(n), and widest NUMERIC(w,d).
constexpr UNSIGNED32 kMaxCharWidth = 65530;
constexpr UNSIGNED32 kMaxNumericWidth = 32;

// ---- the column-type table ------------------------------------------------
// Every fact about a column type is one row of one table (column_types.cpp):
// its names, widths, raw layout, empty value, key segment, the stored values
// it accepts and its PostgreSQL counterpart. The encoders and decoders, key
// building, kdx-db's import and check and the server type mapping all read
// it, so a type is added or changed by its row.

// The stored values a column accepts: SQLite's storage class and form
// (docs/database-format.md, "Columns"). NULL is every type's empty value.
enum class StoredForm : uint8_t {
  kLogical,    // INTEGER (or a whole REAL) 0 or 1
  kDecimal,    // INTEGER or finite REAL whose decimal text fits NUMERIC(w,d)
  kNumber,     // INTEGER or REAL
  kWhole,      // INTEGER (or a whole REAL) within the row's range
  kDate,       // TEXT 'YYYY-MM-DD', a real calendar date
  kTime,       // TEXT 'HH:MM:SS' or 'HH:MM:SS.sss'
  kTimestamp,  // TEXT 'YYYY-MM-DD HH:MM:SS[.sss]' (a 'T' may replace the blank)
  kCharacter,  // TEXT (a number reads as its text) without trailing blanks; longer text is cut
  kText,       // TEXT (a number reads as its text)
  kBytes,      // BLOB
  kNone,       // none: no column is declared with the type
};

// How a key segment of the type is given.
enum class KeySegment : uint8_t {
  kWhole,   // exactly the column's raw bytes
  kPrefix,  // the raw bytes, or fewer as the key's last segment: a prefix
  kNone,    // the type cannot be a segment that is sought
};

// The numbers in parentheses a declared type takes.
enum class TypeParameters : uint8_t {
  kNone,       // DATE
  kLength,     // CHAR(n)
  kPrecision,  // NUMERIC(w,d) or NUMERIC(w)
};

struct ColumnTypeRow {
  UNSIGNED16 type;                    // ADS_* code
  const char* name;                   // TypeName and the declared name ("CHAR")
  const char* alias;                  // another declared name ("CHARACTER"), or nullptr
  TypeParameters parameters;
  UNSIGNED32 width;                   // bytes in the raw record; 0: the declared n or w
  record_format::Layout layout;
  record_format::EmptyMark empty;
  StoredForm stored;
  bool bounded;                       // the declared n bounds the stored value (CHAR, VARCHAR, RAW)
  record_format::IntegerRange range;  // kLogical and kWhole: the numbers accepted
  const char* value_noun;             // kWhole, in messages: "a short integer"
  KeySegment key;
  // The PostgreSQL counterpart kdx-db creates ("{n}", "{w}" and "{d}" stand
  // for the declared numbers), and its type OID; nullptr and 0 for none.
  const char* server_type;
  uint32_t server_oid;
};

// Every row, in type-code order.
std::span<const ColumnTypeRow> ColumnTypes();
// The row of `type`, or nullptr for a code that is no engine type.
const ColumnTypeRow* FindColumnType(UNSIGNED16 type);
// The declared types a column may have, for messages: "LOGICAL, NUMERIC(w,d),
// ... or MONEY".
std::string DeclarableTypes();
// The PostgreSQL counterpart of `type` ("char(12)", "numeric(19,4)");
// AE_KDX_BAD_COLUMN_TYPE for a type that has none.
[[nodiscard]] Status ServerTypeOf(const ColumnType& type, std::string* server_type);

// A value as a table stores it, in one of SQLite's storage classes.
struct StoredValue {
  enum class Kind { kNull, kText, kInteger, kReal, kBlob } kind = Kind::kNull;
  // The text or the BLOB's bytes; for a number read from a table, its text
  // as SQLite writes it (what messages quote), else empty.
  std::string text;
  int64_t integer = 0;
  double real = 0;
};

// Why a stored value does not fit its column, by the column-type table.
enum class Misfit {
  kNone,
  kNotLogical,      // kLogical: not a whole number 0 or 1
  kNotNumber,       // a number form: not INTEGER or REAL
  kNotFinite,       // kDecimal: an infinity
  kTooWide,         // kDecimal: its decimal text is wider than NUMERIC(w,d)
  kNotWhole,        // kWhole: not a whole number
  kOutOfRange,      // kWhole: outside the row's range
  kNotDate,         // kDate, kTime, kTimestamp: not the stored text
  kNotTime,
  kNotTimestamp,
  kNotText,         // kCharacter, kText: a BLOB
  kNotBytes,        // kBytes: not a BLOB (read, but not stored as kdx-db writes it)
  kTrailingBlanks,  // kCharacter: ends in blanks (read without them)
  kTooLong,         // bounded: longer than the declared n
  kNoStoredForm,    // the type holds no stored values
};

// The one rule for stored values: how the engine reads `value` in a column of
// `type` (kNone when it reads it, and reads it unchanged), first the form
// kdx-db stores (kNotBytes), then what reading refuses (the 6008 of a
// record), then what reading would change (kTrailingBlanks, kTooLong).
[[nodiscard]] Misfit StoredMisfit(const ColumnType& type, const StoredValue& value);

// Parses a declared type, case and blanks ignored. false with `*why`
// describing the problem for a type outside the engine's table or a
// width/decimals out of range.
[[nodiscard]] bool ParseDeclaredType(const std::string& declared, ColumnType* out, std::string* why);

// Name of an engine type code for messages and `kdx-db info` ("CHAR", ...).
std::string TypeName(UNSIGNED16 type);

// Julian day number of a proleptic Gregorian date, and back.
int64_t JulianFromCivil(int year, int month, int day);
void CivilFromJulian(int64_t julian, int* year, int* month, int* day);
// Parses 'YYYY-MM-DD' strictly (a real calendar date); false otherwise.
[[nodiscard]] bool ParseIsoDate(std::string_view text, int64_t* julian);
// Parses 'HH:MM:SS' or 'HH:MM:SS.sss' strictly; false otherwise.
[[nodiscard]] bool ParseIsoTime(std::string_view text, uint32_t* milliseconds);
// Parses 'YYYY-MM-DD HH:MM:SS' or with '.sss' (a 'T' may replace the blank).
[[nodiscard]] bool ParseIsoTimestamp(std::string_view text, int64_t* julian, uint32_t* milliseconds);
std::string FormatIsoDate(int64_t julian);
std::string FormatIsoTime(uint32_t milliseconds);  // '.sss' only when not zero

// One column of a table as the engine lays it out in a raw record.
struct ColumnInfo {
  std::string name;
  std::string declared;  // the declared type as written
  ColumnType type;
  UNSIGNED32 offset = 0;  // byte offset in the raw record
};

// One index of a table: its key segments in order.
struct IndexSchema {
  std::string name;                     // without a leading "<table>."
  std::vector<int> segments;            // 0-based column numbers
  std::vector<bool> segment_descending;
  bool unique = false;
  bool descending = false;  // first segment DESC
};

// A table as the engine opens it.
struct TableSchema {
  std::string name;
  bool sealed = false;       // a sealed table file: its rows are not counted
  std::vector<ColumnInfo> columns;
  std::vector<IndexSchema> indexes;
  UNSIGNED32 record_length = 0;
  int64_t row_count = -1;    // -1 when not counted (sealed)
};

// Describes the one table of a free table file, plain or sealed (a sealed
// file's schema is in clear; its rows are not read). A failure's text names
// the file (not a database, not exactly one table named like the file, a
// column or index the engine refuses).
[[nodiscard]] Status DescribeTableFile(const std::string& path, TableSchema* table);

// Describes the tables of a dictionary file in name order. A table the engine
// cannot open does not stop the others: its name and error text ("error
// <code>: <text>") go to `failures` instead. A failure when the file cannot
// be read at all.
[[nodiscard]] Status DescribeDictionary(const std::string& path, std::vector<TableSchema>* tables,
                                        std::vector<std::pair<std::string, std::string>>* failures);

// Describes the tables of the PostgreSQL server `uri` names (a libpq URI), as
// AdsOpenTable opens them, in name order, with their rows counted on the
// server. A table the engine cannot open (a column type it has no type for,
// an index it cannot use) goes to `failures` with its error text. 0, or the
// error code of a failed connection (the text names the server, never the
// password).
[[nodiscard]] Status DescribeServer(const std::string& uri, std::vector<TableSchema>* tables,
                          std::vector<std::pair<std::string, std::string>>* failures);

// Describes one table of the server, found as AdsOpenTable finds it (its
// name as the server spells it in `table->name`); rows are not counted.
[[nodiscard]] Status DescribeServerTable(const std::string& uri, const std::string& name, TableSchema* table);

// `uri` without the options the engine reads itself (kdx_read_timeout), as
// libpq takes it. `*read_timeout` (may be null) gets the read timeout in
// seconds: 120 when the URI sets none, 0 when its value is not a whole
// number from 1 to 86400.
std::string LibpqUri(const std::string& uri, int* read_timeout = nullptr);

}  // namespace engine

#endif  // KDX_ENGINE_SCHEMA_H_
