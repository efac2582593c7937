// The text of an SQL statement made ready for a server, so that it reads
// there as it reads on table files: its names resolved against the
// catalogue the way table opens resolve them, and its rows in the natural
// order of the tables they come from.
//
// Names. The server folds an unquoted name to lower case and then matches
// it exactly; the engine matches names without regard to case. So an
// unquoted name the server does not hold in lower case, but holds in
// another case, is written as the server spells it, quoted:
//  - a table named after FROM, JOIN or a comma of a FROM clause (ONLY and
//    LATERAL skipped), found as PgCatalog::FindStatementTable finds it;
//  - a table name before a "." (the qualifier of a column);
//  - a column of one of the statement's tables, unqualified or after a
//    qualifier: unless a table of the statement holds it in lower case, the
//    one spelling the tables hold it in without regard to case (two
//    spellings: 6205).
// Not taken for names: a word after "::" or AS (a type or an alias), before
// "(" (a function) or beside a quoted literal (DATE '2010-01-01', INTERVAL
// '1' DAY), the word after "EXTRACT(", and the SQL words listed in
// server_sql.cpp (a column named like one of them is written quoted in the
// text). Quoted names, literals, comments and $N places are kept as they
// are; a table named with its schema (s.t) is kept and not ordered.
//
// Order. A top-level SELECT (after WITH, if any) whose rows can be ordered
// by columns it does not list (no DISTINCT, GROUP BY, UNION, INTERSECT or
// EXCEPT at the top level) gets the natural order (pg_catalog.h) of each
// table of its FROM clause, in the order the clause lists them, after its
// own ORDER BY items if it has any (before LIMIT, OFFSET, FETCH and FOR):
// rows the text leaves unordered come as a table file gives them, the first
// table's natural order first. Every table of the statement needs a natural
// order (6206).
#ifndef KDX_ENGINE_SERVER_SQL_H_
#define KDX_ENGINE_SERVER_SQL_H_

#include <functional>
#include <string>

#include "engine/ads.h"
#include "engine/pg_catalog.h"
#include "engine/status.h"

namespace engine {

struct ServerSqlText {
  std::string resolved;  // the names resolved
  std::string ordered;   // resolved, with the natural order added (== resolved when none can be)
};

// Finds the table a statement names (PgCatalog::FindStatementTable): 0 and
// `*table`, 6004 when there is none (the name is then kept as written), or
// another error, which the statement fails with.
using ServerTableLookup = std::function<Status(const std::string& name, bool exact, const PgTable** table)>;

// Resolves `text` (places already written $N). `server` names the server
// in messages. 0, or 6205 / 6206 / an error of `lookup`.
Status ResolveServerSql(const std::string& text, const ServerTableLookup& lookup, const std::string& server,
                            ServerSqlText* out);

}  // namespace engine

#endif  // KDX_ENGINE_SERVER_SQL_H_
