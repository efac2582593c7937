// The employee master export: one record per current employee, laid out by
// the rows of section "KDX" of the template table `export`, written to
// EmployeePath with CR LF after every record.
//
// ExportEmployees is the whole run. The other functions are its parts: the
// field kinds of a template row (TemplateFieldValue), the layout of a value as
// a field (FormatField); the lookups some kinds need are in
// employee_resolvers.h. They work on the datasets the run has opened and
// positioned (the current employee of AdsQueryEmp, the current row of
// wwTableTemplate, AdsTablePara and the lookup tables) and move the lookup
// tables' cursors; none restores a position. Every error is an Exception
// carrying the message the user sees.
//
// Not re-entrant: one run at a time on the host's single thread.
#ifndef KDX_EXPORTS_EMPLOYEE_EXPORT_H_
#define KDX_EXPORTS_EMPLOYEE_EXPORT_H_

#include <optional>
#include <string>

#include "exports/column_cache.h"
#include "exports/export_host.h"
#include "exports/line_text.h"
#include "exports/lookup_memo.h"

// The host plus what this run has resolved so far: column references
// (looked up by name once and reused while their dataset stays open with the
// same columns; a name the dataset lacks is looked up, and fails, again every
// time a row needs it) and the lookups it remembers (lookup_memo.h).
class EmployeeExportContext {
 public:
  explicit EmployeeExportContext(ExportHost& host);

  ExportHost& host() { return host_; }
  RunState& state() { return host_.State(); }
  const ExportComponents& components() const { return components_; }
  ColumnCache& columns() { return columns_; }
  LookupMemo& lookups() { return lookups_; }
  // The control characters blanked in this run's values.
  LineText& line_text() { return line_text_; }
  // Adds `warning` to the run state's warnings unless it is there already.
  void WarnOnce(const std::string& warning);
  // "column <name> of employee <emp_no>", for the current employee.
  std::string first_control_character_at(const std::string& column);

 private:
  ExportHost& host_;
  const ExportComponents& components_;
  ColumnCache columns_;
  LookupMemo lookups_;
  LineText line_text_{"employee file"};
};

// The whole run: prepares the connection and the tables, selects the
// employees still employed on the first day of the current month, writes one
// record per employee and closes the file. Sets AsOfDate and FieldSeparator
// (the DELIMITER of the first template row, empty without rows).
//
// On an error the file is left as it was before the run (it is replaced
// whole or not at all) and the error propagates. A number no amount can be
// is an error naming the employee, the table and the column. Control
// characters in values are written as blanks and counted; a failure to open
// PAYPARA1 is shown through host.ShowMessage and the run goes on; company
// fields read from a PAYPARA1 without rows are empty. Each of these adds a
// warning to the run state.
void ExportEmployees(ExportHost& host);

// Set-up steps the site check shares with the run. SelectCurrentEmployees
// opens AdsQueryEmp anew on the employees still employed on the first day of
// the current month (its open hook gives the statement the table password).
// OpenTemplateSection opens the template query anew on section "KDX", its
// rows in NO order. Both raise the run's database errors.
void SelectCurrentEmployees(ExportHost& host);
void OpenTemplateSection(ExportHost& host);

// The value of the current template row for the current employee, or no value
// (std::nullopt) for a row that adds nothing to the record ("DUMMY", "TEL_EXT"
// of 0). Rules are tried in a fixed order; keyword comparisons are exact and
// case-sensitive.
std::optional<std::string> TemplateFieldValue(EmployeeExportContext& ctx);

// The value laid out by the current template row: a DELIMITER of exactly "F"
// makes a field of `size` characters (cut or blank-padded on the right); any
// other DELIMITER is appended to the value. A `size` outside 0..255 is an
// error naming the row's NO and the value.
std::string FormatField(EmployeeExportContext& ctx, const std::string& value);
// As FormatField, appending the field to `record`.
void AppendField(EmployeeExportContext& ctx, const std::string& value, std::string& record);

#endif  // KDX_EXPORTS_EMPLOYEE_EXPORT_H_
