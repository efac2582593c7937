// SQL statements run on a PostgreSQL server: the text with its ":name"
// places (one place per occurrence, sql_params.h), prepared once per session
// and text as a server-side statement with $1..$n, and the rows of each
// execution converted to the storage forms of table files (pg_values.h).
//
// Each place's kind (date, timestamp, time, other) comes from the type the
// server gives its $N, so a date bound to a place compared with a DATE
// column is sent as 'YYYY-MM-DD' and compared by calendar date (PlaceText in
// sql_statement.h makes that text from a bound value).
//
// With the session's catalogue, the text's names are resolved and its rows
// given the natural order of its tables first (server_sql.h); a text whose
// rows cannot take that order on the server (an aggregate without GROUP BY)
// is prepared as resolved only.
//
// An execution runs inside a savepoint (pg_session.h): a statement the
// server refuses does not end the run's transaction.
#ifndef KDX_ENGINE_PG_QUERY_H_
#define KDX_ENGINE_PG_QUERY_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/pg_session.h"
#include "engine/pg_types.h"
#include "engine/sql_params.h"
#include "engine/sql_result.h"
#include "engine/sql_statement.h"
#include "engine/status.h"

namespace engine {

struct PgResultColumn {
  std::string name;
  // The engine declared type mapped from the server's type (pg_types.h);
  // "" when that type has none (bigint, count(*), real, ...).
  std::string declared;
  uint32_t type_oid = 0;
  int32_t typmod = -1;
  uint32_t table_oid = 0;  // the source table (PQftable); 0 for an expression
  int table_column = 0;    // its attribute number there (PQftablecol); 0 for an expression
};

// The rows of one execution, read once from the first row to the last, each
// value in its stored form. Independent of the session once made.
class PgRows : public ResultRows {
 public:
  // `char_bytes`: the most bytes a character of the database's encoding takes.
  PgRows(PgResultPtr result, std::string describe, int char_bytes = 1);
  // Keeps only the columns whose `visible` is true (one per column).
  void Hide(const std::vector<bool>& visible);
  // Messages number the rows from `first` + 1 on (the rows of a fetch that
  // follow `first` rows of the result).
  void NumberRowsAfter(int64_t first) { row_base_ = first; }
  // false for a statement that yields no rows set (the command ran).
  bool has_rows() const { return has_rows_; }
  const std::vector<PgResultColumn>& columns() const { return columns_; }
  int64_t row_count() const { return rows_; }
  // 1 on the next row; 6106 naming statement, column and row when a value
  // has no stored form (a BC date...).
  Status Step(bool* row) override;
  // A value of the current row (0-based column), valid until the next Step.
  ResultCell Cell(int column) override { return cells_[column]; }

 private:
  PgResultPtr result_;
  std::string describe_;
  bool has_rows_ = false;
  std::vector<PgResultColumn> columns_;
  std::vector<PgValueForm> forms_;
  std::vector<int> source_;  // the result's column of each kept column
  int64_t rows_ = 0;
  int64_t next_ = 0;
  int64_t row_base_ = 0;
  std::vector<ResultCell> cells_;
  std::vector<std::string> scratch_;
};

class PgCatalog;

class PgQuery {
 public:
  // Prepares `text` on `session` (which must outlive the query), its names
  // resolved and its order added through `catalog` when given. 0, or 6104
  // with the server's message, the statement and the server named; with a
  // catalogue also 6205, 6206 and the catalogue's errors.
  Status Prepare(PgSession* session, const std::string& text, PgCatalog* catalog = nullptr);
  const std::vector<SqlParamPlace>& places() const { return places_; }
  // One kind per place, from the server's type of its $N.
  const std::vector<PlaceKind>& place_kinds() const { return kinds_; }
  // Whether the server takes each place as text (text, varchar, char, name).
  const std::vector<bool>& text_places() const { return text_places_; }
  // The text as sent to the server ($1..$n in place of the names).
  const std::string& server_text() const { return server_text_; }

  // Executes with one text value per place (nullopt: NULL). 0 and `*rows`,
  // or 6105 for a wrong number of values, 6106 with the server's message,
  // 6202 / 6203 when the server went away or cancelled the statement.
  Status Execute(const std::vector<std::optional<std::string>>& values, std::unique_ptr<PgRows>* rows);
  // Executes once per set of `sets`, all in one round trip: `*rows` gets
  // one PgRows per set, in order. Errors as Execute's; a refusal of any set
  // fails them all.
  Status ExecuteMany(const std::vector<std::vector<std::optional<std::string>>>& sets,
                     std::vector<std::unique_ptr<PgRows>>* rows);

 private:
  // The statement in messages: its text, cut to kQuotedTextLength.
  std::string Describe() const;

  PgSession* session_ = nullptr;
  std::string text_;
  std::string server_text_;
  std::vector<SqlParamPlace> places_;
  std::vector<PlaceKind> kinds_;
  std::vector<bool> text_places_;
  const PgPrepared* prepared_ = nullptr;
};

}  // namespace engine

#endif  // KDX_ENGINE_PG_QUERY_H_
