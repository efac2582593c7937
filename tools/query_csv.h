// `kdx-db query`: runs one SQL statement through the program's own engine and
// writes the result as CSV (a header line of column names, then one line per
// row), so that a user sees the rows and texts the exports see. The engine's
// settings are those of the program: date format dd/MM/yyyy, 2 decimals.
#ifndef KDX_TOOLS_QUERY_CSV_H_
#define KDX_TOOLS_QUERY_CSV_H_

#include <cstdint>
#include <ostream>
#include <string>

// What a query is given to read with; nothing is built in.
struct QueryCredentials {
  // For a folder: given to every sealed table file of the folder; empty:
  // none, and a statement reading a sealed table fails naming it.
  std::string table_password;
  // For a dictionary: the account that logs in.
  std::string user;
  std::string password;
};

// Runs `sql` on the database at `path` (a folder, a dictionary file or a
// postgresql:// URI, whose own login applies). A
// statement that gives no rows set writes nothing. false with `*error` holding
// the engine's code and text (which names the table, column or statement).
[[nodiscard]] bool RunQueryAsCsv(const std::string& path, const std::string& sql, const QueryCredentials& credentials,
                   std::ostream& out, int64_t* rows, std::string* error);

#endif  // KDX_TOOLS_QUERY_CSV_H_
