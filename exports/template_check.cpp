#include "exports/template_check.h"

#include "data/query.h"
#include "data/table.h"
#include "exports/column_cache.h"
#include "exports/employee_export.h"
#include "exports/template_field.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"

namespace {

// Where a kind reads its value: a dataset, and the table name messages use.
struct Source {
  TAdsDataSet* dataset = nullptr;
  const char* table = "";
  std::string column;
};

Source SourceOf(const ExportComponents& c, const TemplateField& f) {
  switch (f.kind) {
    case FieldKind::kCompany:
      return {c.AdsTablePara, "PAYPARA1", f.name};
    case FieldKind::kCode:
    case FieldKind::kEmployeeColumn:
      return {c.AdsQueryEmp, "employee", f.name};
    case FieldKind::kTelExt:
      return {c.AdsQueryEmp, "employee", "TEL_EXT"};
    case FieldKind::kPayType:
      return {c.AdsQueryEmp, "employee", "PAY_TYPE"};
    case FieldKind::kCareer:
      return {c.CareerTable, "EMP_PROS", f.name};
    case FieldKind::kMisc:
      return {c.AdsTableMisc, "EMPMISC", f.name};
    case FieldKind::kEmployment:
      return {c.EmploymentTable, "EMPLOYMT", f.name};
    default:
      return {};
  }
}

// True when `pattern` prints something that depends on the moment: two
// moments that differ in every part a pattern can show (year, month, day,
// weekday, hour, half of the day, minute, second, millisecond) give
// different texts.
bool PrintsTheMoment(const std::string& pattern) {
  const TDateTime a = EncodeDate(1999, 1, 2) + EncodeTime(3, 4, 5, 6);
  const TDateTime b = EncodeDate(2012, 11, 28) + EncodeTime(22, 59, 58, 997);
  return FormatDateTime(pattern, a) != FormatDateTime(pattern, b);
}

class RowChecker {
 public:
  RowChecker(ExportHost& host, TemplateCheck& check) : ctx_(host), c_(host.Components()), check_(check) {}

  void CheckCurrentRow() {
    std::string row;
    TemplateField f;
    try {
      row = TemplateRowLabel(ctx_);
      f = ReadTemplateField(ctx_);
    } catch (const Exception& e) {
      Problem((row.empty() ? TemplateSectionLabel() : row) + ": " + e.what());
      return;
    }
    if (f.kind == FieldKind::kNothing) return;  // adds nothing, reads no layout
    CheckSourceColumn(row, f);
    if (f.kind == FieldKind::kDate && !PrintsTheMoment(f.argument)) {
      Problem(row + ": DATE with FORMAT \"" + f.argument +
              "\" prints no part of the date or time (patterns such as DD/MM/YYYY or YYYYMMDD do)");
    }
    if (f.kind == FieldKind::kAllowance && f.argument.empty()) {
      Warning(row + ": ALLOW_CODE without an allowance code in MAPFIELD2; the field is always 0.00");
    }
    try {
      ReadLayout(ctx_);
    } catch (const Exception& e) {
      Problem(e.what());
    }
  }

 private:
  void CheckSourceColumn(const std::string& row, const TemplateField& f) {
    const Source source = SourceOf(c_, f);
    if (source.dataset == nullptr || !source.dataset->IsActive()) return;
    try {
      ctx_.columns().Get(*source.dataset, source.column);
    } catch (const Exception& e) {
      Problem(row + ": Field Name \"" + f.name + "\" reads column " + source.column + " of " + source.table +
              ", which it does not have (" + e.what() + ")");
    }
  }

  void Problem(std::string text) { check_.findings.push_back({true, std::move(text)}); }
  void Warning(std::string text) { check_.findings.push_back({false, std::move(text)}); }

  EmployeeExportContext ctx_;
  const ExportComponents& c_;
  TemplateCheck& check_;
};

}  // namespace

TemplateCheck CheckTemplateRows(ExportHost& host) {
  TemplateCheck check;
  RowChecker checker(host, check);
  TAdsQuery& tmpl = *host.Components().TemplateQuery;
  for (tmpl.GoFirst(); !tmpl.AtEof(); tmpl.GoNext()) {
    ++check.rows;
    checker.CheckCurrentRow();
  }
  if (check.rows == 0) {
    check.findings.push_back({false, TemplateSectionLabel() + " has no rows: every employee's record would be an empty line"});
  }
  return check;
}
