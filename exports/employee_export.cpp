// The employee export run, the field kinds of a template row and the field
// layout. The lookups behind some kinds are in employee_resolvers.cpp.
#include "exports/employee_export.h"

#include <string>
#include <string_view>

#include "data/connection.h"
#include "data/query.h"
#include "data/table.h"
#include "exports/credentials.h"
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
    host.ShowMessage(std::string(e.what()) + " path " + host.State().SourcePath);
  }
}

void ReopenWithPassword(ExportHost& host, TAdsTable& table) {
  table.CloseDataSet();
  table.OpenDataSet();
  if (!host.Components().AdsConnection1->IsDictionaryConnection()) table.EnableEncryption(kExportTablePassword);
}

// Set-up steps 1 to 10; the output file is step 11, done by the caller.
void PrepareRun(ExportHost& host) {
  const ExportComponents& c = host.Components();
  RunState& state = host.State();

  host.PrepareConnection();
  PositionPayrollParameters(host, host.GetClock().Now());

  c.TableEmpAllowance->CloseDataSet();
  c.TableEmpAllowance->OpenDataSet();

  ReopenWithPassword(host, *c.AdsQueryEmployment);

  TAdsQuery& emp = *c.AdsQueryEmp;
  emp.CloseDataSet();
  emp.ClearSql();
  emp.AddSqlLine(kEmployeeStatement);
  const TDateTime today = host.GetClock().Now();
  emp.ParamNamed("date").BindDateTime(EncodeDate(DateYear(today), DateMonth(today), 1));
  emp.OpenDataSet();

  c.wwQueryEmpCareer->OpenDataSet();
  ReopenWithPassword(host, *c.AdsTableMisc);
  c.AdsTableCode->OpenDataSet();

  state.AsOfDate = host.GetClock().Now();

  TAdsQuery& tmpl = *c.wwTableTemplate;
  tmpl.CloseDataSet();
  tmpl.ParamNamed("section").BindText(kTemplateSection);
  tmpl.OpenDataSet();
  state.FieldSeparator = tmpl.ColumnByName("DELIMITER").ReadText();
}

}  // namespace

EmployeeExportContext::EmployeeExportContext(ExportHost& host)
    : host_(host), components_(host.Components()) {}

void ExportEmployees(ExportHost& host) {
  PrepareRun(host);

  EmployeeExportContext ctx(host);
  const ExportComponents& c = host.Components();
  TAdsQuery& emp = *c.AdsQueryEmp;
  TAdsQuery& tmpl = *c.wwTableTemplate;
  OutputFile& out = host.Output();

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

      tmpl.GoFirst();
      while (!tmpl.AtEof()) {
        std::optional<std::string> value = TemplateFieldValue(ctx);
        if (value) AppendField(ctx, *value, record);
        tmpl.GoNext();
      }
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
  const ExportComponents& c = ctx.components();
  ColumnCache& col = ctx.columns();
  TAdsQuery& tmpl = *c.wwTableTemplate;
  TAdsQuery& emp = *c.AdsQueryEmp;

  const std::string name = col.Text(tmpl, "Field Name");

  if (name == "DUMMY") return std::nullopt;
  if (IsCompanyField(name)) {
    std::string text = col.Text(*c.AdsTablePara, name);
    if (text.find(',') != std::string::npos) return "\"" + text + "\"";
    return text;
  }
  if (name == "DATE") return FormatDateTime(col.Text(tmpl, "FORMAT"), ctx.host().GetClock().Now());
  if (name == "FIXED") return col.Text(tmpl, "VALUE");
  if (name == "TEL_EXT") {
    const TField& ext = col.Get(emp, "TEL_EXT");
    if (ext.ReadInt() == 0) return std::nullopt;
    return "+65" + ext.ReadText();
  }
  if (name == "PAY_TYPE") {
    const std::string pay_type = col.Text(emp, "PAY_TYPE");
    return std::string(!pay_type.empty() && pay_type[0] == 'S' ? "M" : "D");
  }
  if (name == "ALLOW_CODE") return AllowanceAmount(ctx, col.Text(tmpl, "MAPFIELD2"));
  if (name == "SOC_NO" || name == "SOC_EXPIRY_DATE") return std::string();
  if (IsResidencyKind(name)) return ResidencyValue(ctx, name);

  const std::string category = col.Text(tmpl, "CATEGORY");
  if (!category.empty()) return CodeDescription(ctx, category, col.Text(emp, name));
  if (name == "PAY_EFFECTIVE_DATE") return CareerValueAsOf(ctx, name);

  const std::string table = col.Text(tmpl, "TABLE");
  if (table == "EMPMISC") return MiscValue(ctx, name);
  if (table == "EMPLOYMT") return EmploymentValue(ctx, name);
  if (table == "FORMULA") return FormulaValue(ctx, name);
  if (name == "OLD_SALARY" || name == "NEW_SALARY") return CareerValueAsOf(ctx, name);

  std::string text = col.Text(emp, name);
  // Without a comma (or a NUL, where the replacement cuts the text) the
  // replacement would return the text unchanged: skip its copy.
  if (text.find_first_of(kCommaOrNul) == std::string::npos) return text;
  return TextReplaceAll(text, ",", "");
}

void AppendField(EmployeeExportContext& ctx, const std::string& value, std::string& record) {
  TAdsQuery& tmpl = *ctx.components().wwTableTemplate;
  const std::string delimiter = ctx.columns().Text(tmpl, "DELIMITER");
  if (delimiter != "F") {
    record += value;
    record += delimiter;
    return;
  }
  const int32_t width = ctx.columns().Int(tmpl, "size");
  if (width < 0 || width > kMaxFieldWidth) {
    throw Exception("Export template section " + std::string(kTemplateSection) + ", row NO " +
                    ctx.columns().Text(tmpl, "NO") + ": size " + std::to_string(width) +
                    " is not a field width of 0 to 255");
  }
  const size_t n = static_cast<size_t>(width);
  if (value.size() >= n) {
    record.append(value, 0, n);
  } else {
    record += value;
    record.append(n - value.size(), ' ');
  }
}

std::string FormatField(EmployeeExportContext& ctx, const std::string& value) {
  std::string field;
  field.reserve(value.size() + 8);
  AppendField(ctx, value, field);
  return field;
}
