#include "exports/template_field.h"

#include "data/errors.h"
#include "data/query.h"
#include "exports/column_cache.h"
#include "util/error.h"

namespace {

// The largest width a fixed-width field can ask for (widths are 8-bit).
constexpr int32_t kMaxFieldWidth = 255;

bool IsCompanyField(const std::string& name) {
  return name == "CADDR1" || name == "COMPANY" || name == "CADDR2" || name == "CADDR3" ||
         name == "CPOSTAL_CODE";
}

bool IsResidencyKind(const std::string& name) {
  return name == "RES_TYPE" || name == "RES_DOC_NO" || name == "RES_DURATION" || name == "RES_EXPIRY_DATE";
}

}  // namespace

TemplateField ReadTemplateField(EmployeeExportContext& ctx) {
  ColumnCache& col = ctx.columns();
  TAdsQuery& tmpl = *ctx.components().TemplateQuery;
  TemplateField f;
  f.name = col.Text(tmpl, "Field Name");
  const std::string& name = f.name;
  if (name == "DUMMY") {
    f.kind = FieldKind::kNothing;
  } else if (IsCompanyField(name)) {
    f.kind = FieldKind::kCompany;
  } else if (name == "DATE") {
    f.kind = FieldKind::kDate;
    f.argument = col.Text(tmpl, "FORMAT");
  } else if (name == "FIXED") {
    f.kind = FieldKind::kFixed;
    f.argument = col.Text(tmpl, "VALUE");
  } else if (name == "TEL_EXT") {
    f.kind = FieldKind::kTelExt;
  } else if (name == "PAY_TYPE") {
    f.kind = FieldKind::kPayType;
  } else if (name == "ALLOW_CODE") {
    f.kind = FieldKind::kAllowance;
    f.argument = col.Text(tmpl, "MAPFIELD2");
  } else if (name == "SOC_NO" || name == "SOC_EXPIRY_DATE") {
    f.kind = FieldKind::kBlank;
  } else if (IsResidencyKind(name)) {
    f.kind = FieldKind::kResidency;
  } else if (f.argument = col.Text(tmpl, "CATEGORY"); !f.argument.empty()) {
    f.kind = FieldKind::kCode;
  } else if (name == "PAY_EFFECTIVE_DATE") {
    f.kind = FieldKind::kCareer;
  } else {
    const std::string table = col.Text(tmpl, "TABLE");
    if (table == "EMPMISC") {
      f.kind = FieldKind::kMisc;
    } else if (table == "EMPLOYMT") {
      f.kind = FieldKind::kEmployment;
    } else if (table == "FORMULA") {
      f.kind = FieldKind::kFormula;
    } else if (name == "OLD_SALARY" || name == "NEW_SALARY") {
      f.kind = FieldKind::kCareer;
    } else {
      f.kind = FieldKind::kEmployeeColumn;
    }
  }
  return f;
}

FieldLayout ReadLayout(EmployeeExportContext& ctx) {
  ColumnCache& col = ctx.columns();
  TAdsQuery& tmpl = *ctx.components().TemplateQuery;
  FieldLayout layout;
  layout.delimiter = col.Text(tmpl, "DELIMITER");
  if (layout.delimiter != "F") return layout;
  const int32_t width = col.Int(tmpl, "size");
  if (width < 0 || width > kMaxFieldWidth) {
    throw EDataError(TemplateRowLabel(ctx) + ": size " + std::to_string(width) + " is not a field width of 0 to 255");
  }
  layout.fixed = true;
  layout.width = static_cast<size_t>(width);
  return layout;
}

std::string TemplateSectionLabel() { return std::string("Export template section ") + kTemplateSection; }

std::string TemplateRowLabel(EmployeeExportContext& ctx) {
  return TemplateSectionLabel() + ", row NO " +
         ctx.columns().Text(*ctx.components().TemplateQuery, "NO");
}
