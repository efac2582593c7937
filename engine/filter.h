// Record filters (AdsSetAOF): the xBase-style expressions the data layer
// builds are compiled into an SQL condition with bound parameters. User text
// never becomes SQL text: every literal is a parameter.
//
// Understood: conditions joined by AND / OR / .AND. / .OR., negated by NOT /
// .NOT., grouped in parentheses; comparisons COLUMN op VALUE or VALUE op
// COLUMN with op one of = == <> != # < <= > >=, optionally with UPPER(...)
// around both sides; empty(COLUMN); values: "text" or 'text' literals joined
// with +, Chr(n), numbers, ctod("date"), ctot("time"), ctots("date time") in
// the engine's date format, .T./.F./.TRUE./.FALSE.
//
// Text equality follows the exact setting: on, the whole value must equal
// (trailing blanks ignored); off, the column must begin with the value.
#ifndef KDX_ENGINE_FILTER_H_
#define KDX_ENGINE_FILTER_H_

#include <memory>
#include <string>
#include <vector>

#include "engine/schema.h"
#include "engine/sqlite_support.h"
#include "engine/status.h"

namespace engine {

class FilterProgram {
 public:
  // Compiles `expression` for a table with `columns` (named `table` in
  // messages) under the exact setting and the engine's date format: the
  // program, or an error whose text names the table and the column or the
  // place in the expression (its detail the table, and the column of a
  // column error).
  static Status Compile(const std::string& expression, const std::vector<ColumnInfo>& columns, bool exact,
                        const std::string& table, const std::string& date_format,
                        std::unique_ptr<FilterProgram>* out);

  // The SQL condition; parameters are written ?1, ?2, ... in the order of
  // parameters().
  const std::string& where() const { return where_; }
  const std::vector<SqlValue>& parameters() const { return parameters_; }

 private:
  friend class FilterCompiler;
  std::string where_;
  std::vector<SqlValue> parameters_;
};


}  // namespace engine

#endif  // KDX_ENGINE_FILTER_H_
