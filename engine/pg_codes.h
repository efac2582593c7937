// Error codes of PostgreSQL server connections (the engine's 6200-6299
// range; docs/database-format.md lists them). Failures that have a code of
// their own elsewhere keep it on a server too: a refused login is 6101, a
// missing table 6004, a column type outside the engine's table 6007, a value
// that fits no stored form 6008, an index that cannot be a tag 6009, an SQL
// text the server refuses 6104 and a statement that fails while running 6106.
#ifndef KDX_ENGINE_PG_CODES_H_
#define KDX_ENGINE_PG_CODES_H_

#include "engine/ads.h"

constexpr UNSIGNED32 AE_KDX_PG_CONNECT = 6201;          // server unreachable, URI malformed, no such database
constexpr UNSIGNED32 AE_KDX_PG_CONNECTION_LOST = 6202;  // the server went away during the run
constexpr UNSIGNED32 AE_KDX_PG_CANCELLED = 6203;        // the server cancelled a statement
constexpr UNSIGNED32 AE_KDX_PG_SERVER = 6204;           // the server refused a read (its message inside)
constexpr UNSIGNED32 AE_KDX_PG_AMBIGUOUS = 6205;        // two tables, tags or columns whose names differ only in case
constexpr UNSIGNED32 AE_KDX_PG_NO_ORDER = 6206;         // a table without a stable row order (no key)
constexpr UNSIGNED32 AE_KDX_PG_TIMEOUT = 6207;          // no byte from the server within the read timeout

// The fixed text of one of the codes above ("" for any other code).
const char* PgCodeText(UNSIGNED32 code);

#endif  // KDX_ENGINE_PG_CODES_H_
