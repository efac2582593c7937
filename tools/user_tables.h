// The quoting of names in the SQL texts the tool shows (the fixes kdx-db
// check proposes).
#ifndef KDX_TOOLS_USER_TABLES_H_
#define KDX_TOOLS_USER_TABLES_H_

#include <string>

// `name` as an SQL identifier: in double quotes, inner double quotes doubled.
inline std::string QuoteSqlName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

#endif  // KDX_TOOLS_USER_TABLES_H_
