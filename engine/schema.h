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
#include <string>
#include <vector>

#include "engine/ads.h"

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

// Parses a declared type, case and blanks ignored. false with `*why`
// describing the problem for a type outside the engine's table or a
// width/decimals out of range.
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
// Parses 'YYYY-MM-DD HH:MM:SS' or with '.sss' (a 'T' may replace the blank).
bool ParseIsoTimestamp(const std::string& text, int64_t* julian, uint32_t* milliseconds);
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
// file's schema is in clear; its rows are not read). 0, or an error code with
// the text in AdsGetLastError naming the file (not a database, not exactly one
// table named like the file, a column or index the engine refuses).
UNSIGNED32 DescribeTableFile(const std::string& path, TableSchema* table);

// Describes the tables of a dictionary file in name order. A table the engine
// cannot open does not stop the others: its name and error text go to
// `failures` instead. 0, or an error code when the file cannot be read at all.
UNSIGNED32 DescribeDictionary(const std::string& path, std::vector<TableSchema>* tables,
                              std::vector<std::pair<std::string, std::string>>* failures);

// Describes the tables of the PostgreSQL server `uri` names (a libpq URI), as
// AdsOpenTable opens them, in name order, with their rows counted on the
// server. A table the engine cannot open (a column type it has no type for,
// an index it cannot use) goes to `failures` with its error text. 0, or the
// error code of a failed connection (the text names the server, never the
// password).
UNSIGNED32 DescribeServer(const std::string& uri, std::vector<TableSchema>* tables,
                          std::vector<std::pair<std::string, std::string>>* failures);

// Describes one table of the server, found as AdsOpenTable finds it (its
// name as the server spells it in `table->name`); rows are not counted.
UNSIGNED32 DescribeServerTable(const std::string& uri, const std::string& name, TableSchema* table);

// `uri` without the options the engine reads itself (kdx_read_timeout), as
// libpq takes it. `*read_timeout` (may be null) gets the read timeout in
// seconds: 120 when the URI sets none, 0 when its value is not a whole
// number from 1 to 86400.
std::string LibpqUri(const std::string& uri, int* read_timeout = nullptr);

}  // namespace engine

#endif  // KDX_ENGINE_SCHEMA_H_
