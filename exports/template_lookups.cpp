#include "exports/template_lookups.h"

#include <algorithm>
#include <exception>

#include "data/query.h"
#include "exports/employee_export.h"
#include "exports/lookup_tables.h"
#include "exports/template_field.h"

namespace {

void AddOnce(std::vector<std::string>& list, const std::string& item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// What the template rows ask of the lookup tables, each row read by the
// run's rules; raises the error of a row that cannot be read.
LookupNeeds ReadNeeds(EmployeeExportContext& ctx) {
  TAdsQuery& tmpl = *ctx.components().TemplateQuery;
  LookupNeeds needs;
  for (tmpl.GoFirst(); !tmpl.AtEof(); tmpl.GoNext()) {
    const TemplateField f = ReadTemplateField(ctx);
    switch (f.kind) {
      case FieldKind::kEmployment:
        AddOnce(needs.employment_columns, f.name);
        break;
      case FieldKind::kMisc:
        AddOnce(needs.misc_columns, f.name);
        break;
      case FieldKind::kCareer:
        needs.career = true;
        if (f.name != "PAY_EFFECTIVE_DATE") AddOnce(needs.career_columns, f.name);
        break;
      case FieldKind::kAllowance:
        AddOnce(needs.allowance_codes, f.argument);
        break;
      default:
        break;
    }
  }
  return needs;
}

}  // namespace

void ReadLookupTablesAhead(EmployeeExportContext& ctx) {
  LookupNeeds needs;
  try {
    needs = ReadNeeds(ctx);
  } catch (const std::exception&) {
    // Nothing is read ahead: every look-up seeks, and the bad row raises its
    // error where the first employee's record reaches it, as without this.
    return;
  }
  LookupTables& tables = ctx.lookups().tables();
  const ExportComponents& c = ctx.components();
  if (!needs.employment_columns.empty()) tables.ReadKeyedTable(*c.EmploymentTable, needs.employment_columns);
  if (!needs.misc_columns.empty()) tables.ReadKeyedTable(*c.AdsTableMisc, needs.misc_columns);
  if (needs.career) tables.ReadCareer(*c.CareerTable, needs.career_columns, ctx.state().AsOfDate);
  if (!needs.allowance_codes.empty()) tables.ReadAllowances(*c.TableEmpAllowance, needs.allowance_codes);
}
