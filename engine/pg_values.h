// The one conversion of PostgreSQL values, as the server sends them in its
// text format, to the SQLite storage forms that docs/database-format.md gives
// for table files ("Columns"). Server tables mirrored into SQLite and the rows
// of server statements both go through here, so a value reads the same
// whichever way it arrived. Pure functions, no state.
//
// The session (pg_session.h) fixes the text formats these rely on: DateStyle
// ISO, extra_float_digits 3 (a double's text parses back to the same double),
// bytea_output hex, lc_monetary C.
//
// Fractions of a second are cut, not rounded, to milliseconds
// (10:00:00.123999 reads 10:00:00.123), so that a value never moves to the
// next second, or the next day.
#ifndef KDX_ENGINE_PG_VALUES_H_
#define KDX_ENGINE_PG_VALUES_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/pg_types.h"
#include "engine/sql_result.h"

namespace engine {

// Converts one value of `form`: `text` (`size` bytes, NUL-terminated, as
// libpq gives it; null for SQL NULL) to `*cell`. The cell's bytes point into
// `text` or into `*scratch`, and stay valid while both do (one scratch per
// column of a row). false, with `*why` saying what is wrong with the value
// (the caller names table, column and row), when it has no stored form:
// a BC date or a year past 9999, 'infinity', NaN, 24:00:00, bad syntax.
[[nodiscard]] bool ToStoredForm(PgValueForm form, const char* text, size_t size, std::string* scratch, ResultCell* cell,
                  std::string* why);

// `bytes` as the text of a bytea parameter ('\x' and two hex digits a byte).
std::string ByteaParameterText(std::string_view bytes);

}  // namespace engine

#endif  // KDX_ENGINE_PG_VALUES_H_
