// SQL statements (AdsCreateSQLStatement ... AdsCloseSQLStatement).
//
// A statement owns its own SQLite connection: for a folder connection an
// in-memory main database to which free table files are attached on demand
// (a table the text names is looked up in the connection's folder when SQLite
// reports it missing; sealed files are decrypted into memory with the table
// password given by AdsStmtSetTablePassword); for a dictionary connection the
// dictionary file itself. The prepared SQLite statement is kept while the
// text stays the same, so a reopen with new values costs a bind and a step.
//
// Named parameters: every occurrence in the text is its own position (1-based,
// in order of appearance); an unbound position is NULL. A date or date-time
// bound to a parameter compared with a DATE column is compared as 'YYYY-MM-DD'
// (time of day dropped), with a TIMESTAMP column as 'YYYY-MM-DD HH:MM:SS[.sss]',
// with a TIME column as 'HH:MM:SS[.sss]'.
//
// A statement that yields rows gives a read-only cursor: its rows are copied
// into an in-memory table (columns with the declared types of their source
// columns; an expression's type follows its values) which is then an ordinary
// engine table. When the statement reads one table, every index of that
// table whose columns are all in the result is offered by the cursor too.
// Any other statement runs and gives cursor 0.
//
// Re-executing the same text (the export jobs do it once per record) is
// cheap: once a cursor has closed, its in-memory table is emptied and filled
// again, and the next cursor takes its column layout, indexes and prepared
// reads instead of reading a schema. What a caller sees does not change:
// every execution gives a new cursor handle (and new index handles) that no
// earlier cursor had, with the rows of the current data and no filter; the
// handles of a closed cursor stay stale. A result whose column types follow
// its values, or whose statement SQLite had to prepare again after a schema
// change, is built anew. A cursor still open when its statement closes keeps
// its rows and position.
#ifndef KDX_ENGINE_SQL_STATEMENT_H_
#define KDX_ENGINE_SQL_STATEMENT_H_

#include "engine/ads.h"
#include "engine/sql_codes.h"

namespace engine {

// The options set with the AdsStmtSet... calls, as last set (0 = never set).
struct StatementOptions {
  UNSIGNED16 lock_type = 0;
  UNSIGNED16 char_type = 0;
  UNSIGNED16 rights = 0;
  UNSIGNED16 read_only = 0;
  UNSIGNED16 table_type = 0;
  UNSIGNED16 constrain_updates = 0;
  UNSIGNED16 read_all_columns = 0;
};

// The options of a live statement (for the tool and the tests).
UNSIGNED32 GetStatementOptions(ADSHANDLE statement, StatementOptions* options);

}  // namespace engine

#endif  // KDX_ENGINE_SQL_STATEMENT_H_
