// `kdx-db check`: validates a database (a folder of free tables or a
// dictionary file) against the storage format and against what the three
// exports read: the tables, their columns, the indexes the program's table
// components select by their index field names, and the export template's
// column names. Every problem comes with the fix a user can apply.
#ifndef KDX_TOOLS_DATABASE_CHECK_H_
#define KDX_TOOLS_DATABASE_CHECK_H_

#include <string>
#include <vector>

struct CheckProblem {
  std::string where;    // "table EMP_CLD, column DATE, row 17", "file x.adt" ...
  std::string problem;  // what is wrong
  std::string fix;      // what to do about it
};

struct CheckReport {
  std::vector<CheckProblem> problems;
  std::vector<std::string> notes;  // informative only: files skipped and the like
  int tables = 0;                  // tables examined
  bool ok() const { return problems.empty(); }
};

// At most this many bad values are listed per column; the count of the rest
// is given with the last one.
inline constexpr int kMaxListedValuesPerColumn = 3;

// `table_password` opens sealed table files of a folder; `user` and
// `password` are not needed: a dictionary is read as a file.
CheckReport CheckDatabase(const std::string& path, const std::string& table_password);

#endif  // KDX_TOOLS_DATABASE_CHECK_H_
