// A row of the export template as the employee export reads it: its field
// kind, decided by the row's texts alone, and its layout. The run
// (employee_export.cpp) and the site check (template_check.h) read rows
// through these functions, so both apply the same rules.
//
// Both read the current row of the template query (wwTableTemplate) through
// the context's column cache, each column only when its rule needs it, and
// raise the run's own errors: a column the template lacks, or a fixed width
// outside 0..255.
#ifndef KDX_EXPORTS_TEMPLATE_FIELD_H_
#define KDX_EXPORTS_TEMPLATE_FIELD_H_

#include <cstddef>
#include <string>

#include "exports/employee_export.h"

class TField;

// The template section the employee export reads.
inline constexpr char kTemplateSection[] = "KDX";

// What a template row gives, decided by its texts alone, in the order the
// rules are tried.
enum class FieldKind {
  kNothing,         // "DUMMY"
  kCompany,         // PAYPARA1 column
  kDate,            // today in FORMAT
  kFixed,           // VALUE
  kTelExt,          // "+65" extension, nothing for 0
  kPayType,         // "M" or "D"
  kAllowance,       // allowance MAPFIELD2 in effect
  kBlank,           // "SOC_NO", "SOC_EXPIRY_DATE"
  kResidency,       // RES_* kinds
  kCode,            // description of the employee's code in CATEGORY
  kCareer,          // PAY_EFFECTIVE_DATE, OLD_SALARY, NEW_SALARY
  kMisc,            // EMPMISC column
  kEmployment,      // EMPLOYMT column
  kFormula,         // NRIC_NO, FIN_NO, PR_NO, PR
  kEmployeeColumn,  // the employee's own column, commas removed
};

// How a value becomes a field: DELIMITER appended, or a fixed width.
struct FieldLayout {
  std::string delimiter;
  bool fixed = false;
  size_t width = 0;
};

// A template row as the run uses it: its kind and the texts the kind needs,
// read from the row with the same reads, in the same order, as the rules
// make them; its layout once a value has needed it.
struct TemplateField {
  FieldKind kind = FieldKind::kNothing;
  std::string name;      // "Field Name"
  std::string argument;  // FORMAT, VALUE, MAPFIELD2 or CATEGORY, by kind
  bool has_layout = false;
  FieldLayout layout;
  // The employee column the kind reads, once resolved (kCode, kEmployeeColumn).
  const TField* employee_column = nullptr;
};

// The kind of the current template row and the texts its kind needs.
TemplateField ReadTemplateField(EmployeeExportContext& ctx);

// The layout of the current template row. A DELIMITER of exactly "F" reads
// `size`, which must be 0..255: otherwise Exception naming the row's NO and
// the value.
FieldLayout ReadLayout(EmployeeExportContext& ctx);

// "Export template section KDX": how messages name the template section.
std::string TemplateSectionLabel();

// "Export template section KDX, row NO <n>": how messages name the current
// template row.
std::string TemplateRowLabel(EmployeeExportContext& ctx);

#endif  // KDX_EXPORTS_TEMPLATE_FIELD_H_
