// What one employee export run remembers of its lookups, so that a row is
// read once however many template fields need it. Owned by the run's
// EmployeeExportContext and forgotten with it: nothing carries over from one
// run to the next.
//
// - Code descriptions by (category, code), including the codes CODE.ADT does
//   not have, up to kMaxRememberedCodes pairs; lookups beyond that go to the
//   table every time, so the memory stays bounded whatever the data.
// - The employee a keyed lookup table (EMPLOYMT, EMPMISC) was last sought
//   for: while it stands on that row, the employee's next column needs no
//   seek.
// - The career row in force for the current employee: its effective date and
//   the values of the career columns the run has asked for so far.
// - The lookup tables the run reads in windows (lookup_tables.h); the
//   per-employee lookups answer from the current window where they can and
//   read the tables as before where they cannot.
//
// The run reads; the HR application may write meanwhile. A window holds the
// rows of the moment it was read; a record is otherwise built from rows read
// for it, as any run that reads row by row builds it.
#ifndef KDX_EXPORTS_LOOKUP_MEMO_H_
#define KDX_EXPORTS_LOOKUP_MEMO_H_

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "exports/lookup_tables.h"

class TAdsDataSet;

class LookupMemo {
 public:
  // Most (category, code) pairs remembered in one run.
  static constexpr size_t kMaxRememberedCodes = 65536;

  // The remembered description, or nullptr.
  const std::string* FindDescription(const std::string& category, const std::string& code);
  // Remembers a description unless kMaxRememberedCodes pairs are known.
  void RememberDescription(const std::string& category, const std::string& code, const std::string& description);
  size_t RememberedCodes() const { return descriptions_.size(); }

  // Whether `table` was last sought, successfully, for `emp_no`.
  bool StandsOn(const TAdsDataSet& table, const std::string& emp_no) const;
  // Records a successful seek of `table` for `emp_no`; Forget before a seek
  // that may fail.
  void SetStandsOn(const TAdsDataSet& table, const std::string& emp_no);
  void Forget(const TAdsDataSet& table);

  // The career row in force for one employee.
  struct CareerValue {
    std::string column;  // as the template names it
    std::string text;
    double amount = 0;
  };
  struct Career {
    bool valid = false;
    std::string emp_no;
    bool in_force = false;        // a row is in force on the as-of date
    double effective = 0;         // its PAY_EFFECTIVE_DATE
    std::vector<CareerValue> values;  // one per column in CareerColumns()
    // The value of `column` (nullptr when it was not read).
    const CareerValue* Find(const std::string& column) const;
  };
  Career& CurrentCareer() { return career_; }
  // The career columns asked for so far in this run; a walk reads them all.
  const std::vector<std::string>& CareerColumns() const { return career_columns_; }
  void AddCareerColumn(const std::string& column) { career_columns_.push_back(column); }

  // The lookup tables read in windows (none until ReadLookupTablesAhead,
  // template_lookups.h).
  LookupTables& tables() { return tables_; }
  const LookupTables& tables() const { return tables_; }

 private:
  struct Position {
    const TAdsDataSet* table = nullptr;
    std::string emp_no;
  };

  // (category, code) as one key: the category's length, a separator, then
  // both texts, so that no two pairs share a key.
  const std::string& CodeKey(const std::string& category, const std::string& code);

  std::unordered_map<std::string, std::string> descriptions_;
  std::string key_;  // reused by CodeKey
  std::vector<Position> positions_;
  Career career_;
  std::vector<std::string> career_columns_;
  LookupTables tables_;
};

#endif  // KDX_EXPORTS_LOOKUP_MEMO_H_
