// Which column an SQL parameter is compared with. A date bound to a parameter
// compared with a DATE column must compare by calendar day, with a TIMESTAMP
// column as a timestamp; the engine learns the column from the text around
// the placeholder. Recognised forms (COL may be TABLE.COL or SCHEMA.TABLE.COL,
// quoted or bare; op one of = == <> != < <= > >=):
//   COL op ?N      ?N op COL
//   COL [NOT] IN (..., ?N, ...)
//   COL [NOT] BETWEEN ?N AND x      COL [NOT] BETWEEN x AND ?N
// Anything else (a function call, arithmetic) gives no column.
#ifndef KDX_ENGINE_SQL_CONTEXT_H_
#define KDX_ENGINE_SQL_CONTEXT_H_

#include <string>
#include <vector>

struct ComparedColumn {
  std::string qualifier;  // table name or alias; "" when the column stands alone
  std::string column;     // "" when the parameter is compared with no column
};

// For positional SQL (placeholders "?1" ... "?count"), the column each
// placeholder is compared with, indexed by position - 1.
std::vector<ComparedColumn> FindComparedColumns(const std::string& positional_sql, size_t count);

#endif  // KDX_ENGINE_SQL_CONTEXT_H_
