// `kdx-db import`: appends the rows of a CSV file to one free table file.
//
// The header line names the columns, matched without regard to case; columns
// it does not name are left empty, except AUTOINC columns, which take the
// next number. Every value is converted by its column's declared type
// (tools/declared_type.h). All or nothing: the rows are converted and checked
// first and inserted in one transaction, so a bad value or a duplicate key
// leaves the table exactly as it was.
#ifndef KDX_TOOLS_TABLE_IMPORT_H_
#define KDX_TOOLS_TABLE_IMPORT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/schema.h"
#include "tools/declared_type.h"

// At most this many problems are listed; the count of the rest is added.
inline constexpr size_t kMaxListedImportErrors = 20;

// Appends the rows of `csv_path` to the table in `table_path`. On success
// `*rows` is the number of rows added. On failure nothing is added and
// `*errors` lists what is wrong, each naming the file, and for a value its
// line and column ("people.csv, line 4, column START_DATE: '31/02/2010' is
// not a valid date ...").
[[nodiscard]] bool ImportCsvIntoTable(const std::string& table_path, const std::string& csv_path, int64_t* rows,
                        std::vector<std::string>* errors);

// A column of the table imported into.
struct ImportColumn {
  std::string name;
  engine::ColumnType type;
};
// One CSV line converted: its line number and a value per column.
using ConvertedRow = std::pair<int, std::vector<StoredValue>>;

// Reads `csv_path` and converts every row for `columns` of `table` before
// anything is written: the header names columns (each at most once), every
// value is converted by its column's type, and an AUTOINC column a row leaves
// empty takes the next of `next_auto` (one per column). false with every
// problem listed (at most kMaxListedImportErrors of them) otherwise.
[[nodiscard]] bool ConvertCsvRows(const std::string& csv_path, const std::string& table, const std::vector<ImportColumn>& columns,
                    std::vector<int64_t> next_auto, std::vector<ConvertedRow>* converted,
                    std::vector<std::string>* errors);

#endif  // KDX_TOOLS_TABLE_IMPORT_H_
