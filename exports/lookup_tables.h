// The employee export's lookup tables read ahead. Before the first record,
// the run walks each keyed table its template needs once, in the order of
// the table's index (template_lookups.h), and keeps what the per-employee
// rules look up:
//  - EMPLOYMT.ADT and EMPMISC.ADT: the template's columns of each employee's
//    first row;
//  - EMP_PROS.adt: per employee, the effective date and the template's
//    career columns (text and amount) of the last row in force on AsOfDate
//    before the first later one, as the career walk finds it;
//  - EMP_ALW: per employee and allowance code of the template, every row's
//    effdate, enddate, START_MTH, END_MTH and AMT, in index order.
// Tables the template does not need are not read. Owned by the run's
// LookupMemo and dropped with it; the rows are those of the moment the run
// started.
//
// A look-up answers only what the table itself would have answered; it says
// kNotReadAhead, and the caller reads the table as before, when:
//  - the table was not read ahead: the template does not need it, a column
//    it needs is missing, a key column is not a character column, the walk
//    raised an error, or the key texts did not come in index order or held
//    characters below a blank (a seek could then find another row than the
//    texts say);
//  - a value of the employee's rows could not be read (the caller's own read
//    raises that error at the field that needs it, as before);
//  - the key sought could be cut or read differently by a seek.
// So every value, message and error of a run is what reading the tables row
// by row gives.
#ifndef KDX_EXPORTS_LOOKUP_TABLES_H_
#define KDX_EXPORTS_LOOKUP_TABLES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "exports/read_ahead_rows.h"

class TAdsDataSet;
class TAdsTable;

class LookupTables {
 public:
  enum class Answer {
    kNotReadAhead,  // read the table
    kNoRow,         // the table has no row for the key
    kFound,
  };

  // One EMP_ALW row as the in-effect rule reads it.
  struct AllowanceRow {
    double effdate = 0;
    double enddate = 0;
    int32_t start_month = 0;
    int32_t end_month = 0;
    double amount = 0;
  };

  // Readers: each walks `table` from its first row in the order of its
  // active index once. A walk that cannot be used leaves the table not read
  // ahead; no error leaves them.
  void ReadKeyedTable(TAdsTable& table, const std::vector<std::string>& columns);
  void ReadCareer(TAdsTable& table, const std::vector<std::string>& columns, double as_of);
  void ReadAllowances(TAdsTable& table, const std::vector<std::string>& codes);

  // The text of `column` of the first row of `table` whose key is `emp_no`.
  [[nodiscard]] Answer KeyedText(const TAdsDataSet& table, const std::string& emp_no, const std::string& column,
                                 std::string* text) const;

  // The career row in force of `emp_no`: its effective date, and in
  // `values` a handle on its values (CareerText, CareerAmount); kNoRow when
  // no row is in force.
  [[nodiscard]] Answer Career(const std::string& emp_no, double* effective, size_t* values) const;
  // The career columns read ahead, as the template names them.
  const std::vector<std::string>& CareerColumns() const { return career_.columns; }
  // Text and amount of career column `index` (of CareerColumns) of a row.
  std::string_view CareerText(size_t values, size_t index) const;
  double CareerAmount(size_t values, size_t index) const;

  // The rows of allowance `code` of `emp_no` in index order: `count` rows
  // from `first` (AllowanceAt); kNoRow when there are none.
  [[nodiscard]] Answer Allowances(const std::string& emp_no, const std::string& code, size_t* first,
                                  size_t* count) const;
  AllowanceRow AllowanceAt(size_t first, size_t index) const;

  // Bytes held by all tables read ahead.
  size_t MemoryBytes() const;

 private:
  struct KeyedTable {
    const TAdsDataSet* table = nullptr;
    std::vector<std::string> columns;
    size_t key_width = 0;
    ReadAheadRows rows;
  };
  struct CareerRows {
    bool read = false;
    std::vector<std::string> columns;
    ReadAheadRows rows;
  };
  struct AllowanceRows {
    bool read = false;
    std::vector<std::string> codes;
    ReadAheadRows rows;
  };

  std::vector<KeyedTable> keyed_;
  CareerRows career_;
  AllowanceRows allowances_;
};

#endif  // KDX_EXPORTS_LOOKUP_TABLES_H_
