// The named-parameter scan of SQL statement texts, shared by the engine (which
// binds parameters by position) and the data layer (which builds its
// parameter list from the same text).
//
// Rules: every single quote, double quote or backquote switches between
// inside and outside a literal; outside a literal a ":" not followed by
// another ":" starts a parameter name ("::" is skipped whole). The name runs
// to the next line feed, carriage return, blank, ")", "," or ";", or to the
// end of the text. A name that starts with a quote character is quoted: it
// runs to the next same quote and is reported without the quotes. Every
// occurrence is its own place, in order of appearance.
#ifndef KDX_ENGINE_SQL_PARAMS_H_
#define KDX_ENGINE_SQL_PARAMS_H_

#include <cstddef>
#include <string>
#include <vector>

struct SqlParamPlace {
  std::string name;   // without the colon (and without quotes); may be empty
  size_t offset = 0;  // of the ":" in the text
  size_t length = 0;  // from the ":" to the end of the name (closing quote included)
};

std::vector<SqlParamPlace> ScanSqlParams(const std::string& text);

// The text with every place replaced by the SQLite positional parameter
// "?N" (N its 1-based position); everything else is kept byte for byte.
std::string ToPositionalSql(const std::string& text, const std::vector<SqlParamPlace>& places);

#endif  // KDX_ENGINE_SQL_PARAMS_H_
