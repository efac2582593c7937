// The employee export run, the field kinds of a template row and the field
// layout. The lookups behind some kinds are in employee_resolvers.cpp.
#include "exports/employee_export.h"

#include <string>
#include <string_view>
#include <vector>

#include "data/query.h"
#include "data/table.h"
#include "exports/credentials.h"
#include "util/connection_path.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"
#include "util/text_utils.h"

namespace {

// The employee selection: still employed on the first day of the month.
constexpr char kEmployeeStatement[] =
    "select * from employee where (termination_date is null or termination_date >=:date)";
constexpr char kTemplateSection[] = "KDX";
// The characters that make removing commas from a column text change it.
constexpr std::string_view kCommaOrNul(",\0", 2);

// The largest width a fixed-width field can ask for (widths are 8-bit).
constexpr int32_t kMaxFieldWidth = 255;

bool IsCompanyField(const std::string& name) {
  return name == "CADDR1" || name == "COMPANY" || name == "CADDR2" || name == "CADDR3" ||
         name == "CPOSTAL_CODE";
}

bool IsResidencyKind(const std::string& name) {
  return name == "RES_TYPE" || name == "RES_DOC_NO" || name == "RES_DURATION" || name == "RES_EXPIRY_DATE";
}

// Set-up step 2: PAYPARA1 on the row of the current year, else its last row.
// A failure is shown and the run goes on; it fails later where PAYPARA1 is
// needed.
void PositionPayrollParameters(ExportHost& host, TDateTime now) {
  TAdsTable& para = *host.Components().AdsTablePara;
  para.CloseDataSet();
  try {
    para.OpenDataSet();
    if (!para.SeekKey({static_cast<int32_t>(DateYear(now))})) para.GoLast();
  } catch (const Exception& e) {
    host.ShowMessage(std::string(e.what()) + " path " + ShownConnectionPath(host.State().SourcePath));
  }
}

void ReopenWithPassword(TAdsTable& table) {
  table.CloseDataSet();
  table.OpenDataSet();
  ApplyTablePassword(table);
}

// Set-up steps 1 to 10; the output file is step 11, done by the caller.
void PrepareRun(ExportHost& host) {
  const ExportComponents& c = host.Components();
  RunState& state = host.State();

  host.PrepareConnection();
  PositionPayrollParameters(host, host.GetClock().Now());

  c.TableEmpAllowance->CloseDataSet();
  c.TableEmpAllowance->OpenDataSet();

  ReopenWithPassword(*c.EmploymentTable);

  TAdsQuery& emp = *c.AdsQueryEmp;
  emp.CloseDataSet();
  emp.ClearSql();
  emp.AddSqlLine(kEmployeeStatement);
  const TDateTime today = host.GetClock().Now();
  emp.ParamNamed("date").BindDateTime(EncodeDate(DateYear(today), DateMonth(today), 1));
  emp.OpenDataSet();

  c.CareerTable->OpenDataSet();
  ReopenWithPassword(*c.AdsTableMisc);
  c.AdsTableCode->OpenDataSet();

  state.AsOfDate = host.GetClock().Now();

  TAdsQuery& tmpl = *c.TemplateQuery;
  tmpl.CloseDataSet();
  tmpl.ParamNamed("section").BindText(kTemplateSection);
  tmpl.OpenDataSet();
  state.FieldSeparator = tmpl.ColumnByName("DELIMITER").ReadText();
}

}  // namespace

EmployeeExportContext::EmployeeExportContext(ExportHost& host)
    : host_(host), components_(host.Components()) {}

namespace {

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

// Reads the kind of the current template row.
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

// Reads the layout of the current template row; a `size` outside 0..255 on a
// fixed-width row is an error naming the row's NO and the value.
FieldLayout ReadLayout(EmployeeExportContext& ctx) {
  ColumnCache& col = ctx.columns();
  TAdsQuery& tmpl = *ctx.components().TemplateQuery;
  FieldLayout layout;
  layout.delimiter = col.Text(tmpl, "DELIMITER");
  if (layout.delimiter != "F") return layout;
  const int32_t width = col.Int(tmpl, "size");
  if (width < 0 || width > kMaxFieldWidth) {
    throw Exception("Export template section " + std::string(kTemplateSection) + ", row NO " + col.Text(tmpl, "NO") +
                    ": size " + std::to_string(width) + " is not a field width of 0 to 255");
  }
  layout.fixed = true;
  layout.width = static_cast<size_t>(width);
  return layout;
}

void AppendWithLayout(const FieldLayout& layout, const std::string& value, std::string& record) {
  if (!layout.fixed) {
    record += value;
    record += layout.delimiter;
    return;
  }
  const size_t n = layout.width;
  if (value.size() >= n) {
    record.append(value, 0, n);
  } else {
    record += value;
    record.append(n - value.size(), ' ');
  }
}

const TField& EmployeeColumn(EmployeeExportContext& ctx, TemplateField& f) {
  if (f.employee_column == nullptr) f.employee_column = &ctx.columns().Get(*ctx.components().AdsQueryEmp, f.name);
  return *f.employee_column;
}

// The value of a template row for the current employee, or no value for a
// row that adds nothing to the record.
std::optional<std::string> FieldValue(EmployeeExportContext& ctx, TemplateField& f) {
  const ExportComponents& c = ctx.components();
  ColumnCache& col = ctx.columns();
  TAdsQuery& emp = *c.AdsQueryEmp;
  switch (f.kind) {
    case FieldKind::kNothing:
      return std::nullopt;
    case FieldKind::kCompany: {
      std::string text = col.Text(*c.AdsTablePara, f.name);
      if (text.find(',') != std::string::npos) return "\"" + text + "\"";
      return text;
    }
    case FieldKind::kDate:
      return FormatDateTime(f.argument, ctx.host().GetClock().Now());
    case FieldKind::kFixed:
      return f.argument;
    case FieldKind::kTelExt: {
      const TField& ext = col.Get(emp, "TEL_EXT");
      if (ext.ReadInt() == 0) return std::nullopt;
      return "+65" + ext.ReadText();
    }
    case FieldKind::kPayType: {
      const std::string pay_type = col.Text(emp, "PAY_TYPE");
      return std::string(!pay_type.empty() && pay_type[0] == 'S' ? "M" : "D");
    }
    case FieldKind::kAllowance:
      return AllowanceAmount(ctx, f.argument);
    case FieldKind::kBlank:
      return std::string();
    case FieldKind::kResidency:
      return ResidencyValue(ctx, f.name);
    case FieldKind::kCode:
      return CodeDescription(ctx, f.argument, EmployeeColumn(ctx, f).ReadText());
    case FieldKind::kCareer:
      return CareerValueAsOf(ctx, f.name);
    case FieldKind::kMisc:
      return MiscValue(ctx, f.name);
    case FieldKind::kEmployment:
      return EmploymentValue(ctx, f.name);
    case FieldKind::kFormula:
      return FormulaValue(ctx, f.name);
    case FieldKind::kEmployeeColumn: {
      std::string text = EmployeeColumn(ctx, f).ReadText();
      // Without a comma (or a NUL, where the replacement cuts the text) the
      // replacement would return the text unchanged: skip its copy.
      if (text.find_first_of(kCommaOrNul) == std::string::npos) return text;
      return TextReplaceAll(text, ",", "");
    }
  }
  return std::nullopt;
}

// The template of one run. The template cursor holds a snapshot taken when
// the run opened it, so its rows are read once, while the first employee's
// record is built, each read made where reading the row for that employee
// makes it; later records reuse them. A row whose layout no record has
// needed yet (a TEL_EXT row of employees without an extension) is read
// again from the cursor when a record first needs it.
class RunTemplate {
 public:
  explicit RunTemplate(EmployeeExportContext& ctx) : ctx_(ctx), tmpl_(*ctx.components().TemplateQuery) {}

  void BuildRecord(std::string& record) {
    if (!complete_) {
      ReadWhileBuilding(record);
      return;
    }
    for (size_t i = 0; i < fields_.size(); ++i) {
      TemplateField& f = fields_[i];
      std::optional<std::string> value = FieldValue(ctx_, f);
      if (!value) continue;
      if (!f.has_layout) {
        StandOnRow(i);
        f.layout = ReadLayout(ctx_);
        f.has_layout = true;
      }
      AppendWithLayout(f.layout, *value, record);
    }
  }

 private:
  void ReadWhileBuilding(std::string& record) {
    fields_.clear();
    tmpl_.GoFirst();
    while (!tmpl_.AtEof()) {
      fields_.push_back(ReadTemplateField(ctx_));
      TemplateField& f = fields_.back();
      std::optional<std::string> value = FieldValue(ctx_, f);
      if (value) {
        f.layout = ReadLayout(ctx_);
        f.has_layout = true;
        AppendWithLayout(f.layout, *value, record);
      }
      tmpl_.GoNext();
    }
    complete_ = true;
  }

  void StandOnRow(size_t index) {
    tmpl_.GoFirst();
    for (size_t i = 0; i < index && !tmpl_.AtEof(); ++i) tmpl_.GoNext();
  }

  EmployeeExportContext& ctx_;
  TAdsQuery& tmpl_;
  std::vector<TemplateField> fields_;
  bool complete_ = false;
};

}  // namespace

void ExportEmployees(ExportHost& host) {
  PrepareRun(host);

  EmployeeExportContext ctx(host);
  TAdsQuery& emp = *host.Components().AdsQueryEmp;
  OutputFile& out = host.Output();
  RunTemplate layout(ctx);

  out.Assign(host.State().EmployeePath);
  out.Rewrite();
  try {
    std::string record;
    std::string status;
    while (!emp.AtEof()) {
      status.assign("Export Employee# : ");
      status += ctx.columns().Text(emp, "emp_no");
      host.SetStatusText(status);
      record.clear();
      host.ProcessMessages();
      host.StepProgress();
      layout.BuildRecord(record);
      out.WriteLine(record);
      emp.GoNext();
    }
    out.Close();
  } catch (...) {
    // Keep exactly the complete records written so far.
    out.CloseAfterError();
    throw;
  }
}

std::optional<std::string> TemplateFieldValue(EmployeeExportContext& ctx) {
  TemplateField f = ReadTemplateField(ctx);
  return FieldValue(ctx, f);
}

void AppendField(EmployeeExportContext& ctx, const std::string& value, std::string& record) {
  AppendWithLayout(ReadLayout(ctx), value, record);
}

std::string FormatField(EmployeeExportContext& ctx, const std::string& value) {
  std::string field;
  field.reserve(value.size() + 8);
  AppendField(ctx, value, field);
  return field;
}
