// Copies a server table into a private SQLite database, so that the engine's
// table code reads it exactly as it reads a table file: the mirror table has
// the engine declared types of the server's columns (pg_catalog.h), values in
// the storage forms of table files (pg_values.h), and one SQLite index per
// index tag, named "<table>.<tag>".
//
// The rows are read in one ordered read of the session's snapshot, through a
// server cursor fetched kPgMirrorBatchRows at a time, in the order of the
// table's key (pg_catalog.h), so the mirror's natural (rowid) order is that
// order whatever the server did to the rows meanwhile; a table without a key
// is refused (6206). A key of one integer column (kdx_order, say) is the
// rowid itself, so that a row's record number is the same whether the table
// was copied or read in windows (server_windows.h). A
// unique server index whose rows are no longer distinct once stored (two
// timestamps that differ below the millisecond) becomes a plain index.
#ifndef KDX_ENGINE_PG_MIRROR_H_
#define KDX_ENGINE_PG_MIRROR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/pg_catalog.h"
#include "engine/status.h"

struct sqlite3;
struct sqlite3_stmt;
struct pg_result;

namespace engine {

class PgSession;

// Rows fetched per round trip.
constexpr int kPgMirrorBatchRows = 5000;

// Creates table `table.name` in `db`'s main schema (which must not hold it),
// fills it with every row of the server table and creates its indexes. 0, or
// an error: 6206 for a table without a stable order, 6008 naming table,
// column and row for a value with no stored form, the session's errors (6202, 6203, 6204) for a failed read, 6010 for
// an SQLite failure. After a failure `db` holds a partial table and is for
// closing only. The session stays usable after any error but 6202.
Status PgMirrorTable(PgSession& session, const PgTable& table, sqlite3* db);

// The key column of `table`, quoted, when its natural order is one
// ascending integer column (the rowid of its rows); else "".
std::string PgIntegerKey(const PgTable& table);
// A name of the rowid that no column of `table` hides.
std::string PgRowidName(const PgTable& table);

// Stores every row of `rows` (the columns of `table` in order, then, when
// `with_rowid`, the row's rowid as an integer) with `insert`, whose
// parameters are the columns in order and then the rowid. `*row` counts the
// rows stored, for messages; `scratch` is reused from call to call. 0, 6008
// naming table, column and row for a value with no stored form, or 6010.
Status PgStoreRows(const PgTable& table, const pg_result* rows, bool with_rowid, sqlite3* db, sqlite3_stmt* insert,
                   const std::string& where, int64_t* row, std::vector<std::string>* scratch);

// Creates table `table.name` in `db`'s main schema with its columns and
// indexes but no rows: what a table opened before its rows are read is
// loaded over (server_tables.h). 6206 for a table without a stable order,
// 6010 for an SQLite failure.
Status PgMirrorLayout(const PgTable& table, const std::string& server, sqlite3* db);

}  // namespace engine

#endif  // KDX_ENGINE_PG_MIRROR_H_
