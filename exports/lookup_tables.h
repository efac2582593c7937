// The employee export's lookup tables read in windows. The run names, once
// before its first record, the keyed tables its template needs and what it
// looks up in them (template_lookups.h); each table is then read in the
// order of its index, one window of rows at a time, as the employees' keys
// ask for them, and keeps what the per-employee rules look up:
//  - EMPLOYMT.ADT and EMPMISC.ADT: the template's columns of each employee's
//    first row;
//  - EMP_PROS.adt: per employee, the effective date and the template's
//    career columns (text and amount) of the last row in force on AsOfDate
//    before the first later one, as the career walk finds it;
//  - EMP_ALW: per employee and allowance code of the template, every row's
//    effdate, enddate, START_MTH, END_MTH and AMT, in index order.
// A window starts at the first row whose key is at or after the key asked
// for and holds every row of the keys it covers (a window never ends inside
// one key's rows). It holds at most kMaxWindowRows rows plus the rest of its
// last key's: windows that follow each other grow from kFirstWindowRows to
// that bound, and a key asked for out of order starts a small window again,
// so the memory is bounded whatever the size of the tables, and employees in
// index order read each table once. Owned by the run's LookupMemo and dropped
// with it; a window holds the rows of the moment it was read.
//
// A look-up answers only what the table itself would have answered; it says
// kNotReadAhead, and the caller reads the table as before, when:
//  - the table is not read in windows: the template does not need it, a
//    column it needs is missing, a key column is not a character column, a
//    window's read raised an error, or its key texts did not come in index
//    order or held characters below a blank (a seek could then find another
//    row than the texts say); from then on the run reads that table row by
//    row;
//  - a value of the employee's rows could not be read (the caller's own read
//    raises that error at the field that needs it, as before);
//  - the key sought could be cut or read differently by a seek.
// So every value, message and error of a run is what reading the tables row
// by row gives. Reading a window moves the table: a caller that reads the
// table itself seeks first (ReadsWindows).
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
class TField;

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

  // Rows a table's first window reads, and the most any window reads
  // before it completes its last key.
  static constexpr size_t kFirstWindowRows = 16;
  static constexpr size_t kMaxWindowRows = 4096;

  // Names a table to read in windows and what to keep of its rows. A table
  // whose columns or index do not allow it is left to be read row by row;
  // no error leaves them.
  void ReadKeyedTable(TAdsTable& table, const std::vector<std::string>& columns);
  void ReadCareer(TAdsTable& table, const std::vector<std::string>& columns, double as_of);
  void ReadAllowances(TAdsTable& table, const std::vector<std::string>& codes);

  // Whether look-ups may move `table` to read a window.
  bool ReadsWindows(const TAdsDataSet& table) const;

  // The text of `column` of the first row of `table` whose key is `emp_no`.
  [[nodiscard]] Answer KeyedText(const TAdsDataSet& table, const std::string& emp_no, const std::string& column,
                                 std::string* text);

  // The career row in force of `emp_no`: its effective date, and in
  // `values` a handle on its values (CareerText, CareerAmount); kNoRow when
  // no row is in force.
  [[nodiscard]] Answer Career(const std::string& emp_no, double* effective, size_t* values);
  // The career columns read ahead, as the template names them.
  const std::vector<std::string>& CareerColumns() const { return career_.columns; }
  // Text and amount of career column `index` (of CareerColumns) of a row.
  std::string_view CareerText(size_t values, size_t index) const;
  double CareerAmount(size_t values, size_t index) const;

  // The rows of allowance `code` of `emp_no` in index order: `count` rows
  // from `first` (AllowanceAt); kNoRow when there are none.
  [[nodiscard]] Answer Allowances(const std::string& emp_no, const std::string& code, size_t* first,
                                  size_t* count);
  AllowanceRow AllowanceAt(size_t first, size_t index) const;

  // Bytes held by all windows.
  size_t MemoryBytes() const;
  // Windows read so far, all tables together.
  size_t WindowsRead() const { return windows_read_; }

  // Makes windows of `first` and at most `most` rows, for tests that put
  // window ends among the rows of one key; (0, 0) restores the constants.
  static void SetWindowRowsForTesting(size_t first, size_t most);

 private:
  // The rows of one table's current window, and where it stands.
  struct Window {
    TAdsTable* table = nullptr;
    const TField* key = nullptr;  // the column windows are sought and grouped on
    bool usable = false;          // false: the table is read row by row
    bool holds = false;           // a window has been read
    bool at_end = false;          // it reached the table's last row
    std::string low;              // the key text it was sought at
    std::string last;             // the key of its last row
    std::string next;             // the key of the first row after it
    size_t limit = 0;             // rows the next window reads
    std::vector<const TField*> read;  // the columns a window reads of its rows
    ReadAheadRows rows;

    // Whether every row whose key text is `key` is in the window.
    bool Covers(std::string_view key) const;
  };
  struct KeyedTable {
    Window window;
    std::vector<const TField*> fields;
    std::vector<std::string> columns;
  };
  struct CareerRows {
    Window window;
    const TField* date = nullptr;
    std::vector<const TField*> fields;
    std::vector<std::string> columns;
    double as_of = 0;
  };
  struct AllowanceRows {
    Window window;
    const TField* code = nullptr;
    std::vector<const TField*> fields;
    std::vector<std::string> codes;
  };

  // Makes `window` cover `key`, reading a new window sought at `seek` when
  // it does not; `visit` keeps what the table's rule needs of each row.
  // False when the table cannot tell (it is then read row by row).
  template <typename Visit>
  [[nodiscard]] bool Cover(Window& window, const std::string& key, const std::string& seek, Visit visit);
  template <typename Visit>
  [[nodiscard]] bool ReadWindow(Window& window, const std::string& seek, Visit visit);

  bool KeepKeyedRow(KeyedTable& read, const std::string& key);
  bool KeepCareerRow(CareerRows& read, const std::string& key, bool* walk_ended);
  bool KeepAllowanceRow(AllowanceRows& read, const std::string& employee);

  std::vector<KeyedTable> keyed_;
  CareerRows career_;
  AllowanceRows allowances_;
  size_t windows_read_ = 0;
};

#endif  // KDX_EXPORTS_LOOKUP_TABLES_H_
