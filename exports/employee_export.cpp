// The employee export run, the field kinds of a template row and the field
// layout. The lookups behind some kinds are in employee_resolvers.cpp.
#include "exports/employee_export.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "data/errors.h"
#include "data/query.h"
#include "data/table.h"
#include "exports/credentials.h"
#include "exports/employee_resolvers.h"
#include "exports/template_lookups.h"
#include "exports/run_statement.h"
#include "exports/template_field.h"
#include "util/connection_path.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"
#include "util/text_utils.h"

namespace {

// The employee selection: still employed on the first day of the month.
constexpr char kEmployeeStatement[] =
    "select * from employee where (termination_date is null or termination_date >=:date)";

constexpr char kPayrollParameters[] = "PAYPARA1";

// Set-up step 2: PAYPARA1 on the row of the current year, else its last row.
// A failure is shown and the run goes on, with a warning; it fails later
// where PAYPARA1 is needed.
void PositionPayrollParameters(ExportHost& host, TDateTime now) {
  TAdsTable& para = *host.Components().AdsTablePara;
  const std::string path = " path " + ShownConnectionPath(host.State().SourcePath);
  para.CloseDataSet();
  try {
    para.OpenDataSet();
    if (!para.SeekKey({static_cast<int32_t>(DateYear(now))})) para.GoLast();
  } catch (const Exception& e) {
    const std::string message = e.what();
    host.ShowMessage(message + path);
    host.State().Warnings.push_back("the payroll parameters PAYPARA1 could not be read, the run went on: " + message);
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

  SelectCurrentEmployees(host);

  c.CareerTable->OpenDataSet();
  ReopenWithPassword(*c.AdsTableMisc);
  c.AdsTableCode->OpenDataSet();

  state.AsOfDate = host.GetClock().Now();

  OpenTemplateSection(host);
  state.FieldSeparator = c.TemplateQuery->ColumnByName("DELIMITER").ReadText();
}

}  // namespace

void SelectCurrentEmployees(ExportHost& host) {
  const TDateTime today = host.GetClock().Now();
  OpenOnStatement(*host.Components().AdsQueryEmp, kEmployeeStatement,
                  {{"date", EncodeDate(DateYear(today), DateMonth(today), 1)}});
}

void OpenTemplateSection(ExportHost& host) {
  TAdsQuery& tmpl = *host.Components().TemplateQuery;
  tmpl.CloseDataSet();
  tmpl.ParamNamed("section").BindText(kTemplateSection);
  tmpl.OpenDataSet();
}

EmployeeExportContext::EmployeeExportContext(ExportHost& host)
    : host_(host), components_(host.Components()) {}

void EmployeeExportContext::WarnOnce(const std::string& warning) {
  std::vector<std::string>& warnings = host_.State().Warnings;
  if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) warnings.push_back(warning);
}

std::string EmployeeExportContext::first_control_character_at(const std::string& column) {
  return "column " + column + " of employee " + columns_.Text(*components_.AdsQueryEmp, "emp_no");
}

namespace {

// A fixed-width field takes exactly `width` bytes: a shorter value is padded
// with blanks, a longer one cut. A cut never splits a valid UTF-8 sequence:
// the character the width would split is dropped and its bytes in the field
// are blanks. Bytes that are no valid UTF-8 there are cut as bytes.
void AppendWithLayout(const FieldLayout& layout, const std::string& value, std::string& record) {
  if (!layout.fixed) {
    record += value;
    record += layout.delimiter;
    return;
  }
  const size_t n = layout.width;
  if (value.size() < n) {
    record += value;
    record.append(n - value.size(), ' ');
    return;
  }
  auto byte = [&](size_t i) { return static_cast<unsigned char>(value[i]); };
  size_t cut = n;
  if (n < value.size()) {
    size_t lead = n;
    while (lead > 0 && n - lead < 3 && (byte(lead) & 0xC0) == 0x80) --lead;
    const unsigned char c = byte(lead);
    const size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool valid = lead < n && length > 0 && lead + length > n && lead + length <= value.size();
    for (size_t i = lead + 1; valid && i < lead + length; ++i) {
      // The second byte's range narrows after E0, ED, F0 and F4 (no
      // overlong forms, surrogates or code points past U+10FFFF).
      const unsigned char low = i == lead + 1 && (c == 0xE0) ? 0xA0 : i == lead + 1 && c == 0xF0 ? 0x90 : 0x80;
      const unsigned char high = i == lead + 1 && (c == 0xED) ? 0x9F : i == lead + 1 && c == 0xF4 ? 0x8F : 0xBF;
      valid = byte(i) >= low && byte(i) <= high;
    }
    if (valid) cut = lead;
  }
  record.append(value, 0, cut);
  record.append(n - cut, ' ');
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
      std::string text;
      try {
        text = col.Text(*c.AdsTablePara, f.name);
      } catch (const ENumberOutOfRange&) {
        throw;
      } catch (const EDatabaseError& e) {
        throw EDatabaseError(std::string(e.what()) + " in table " + kPayrollParameters);
      }
      if (!c.AdsTablePara->HasCurrentRecord()) {
        ctx.WarnOnce("PAYPARA1 has no rows: the company fields (COMPANY, CADDR1, CADDR2, CADDR3, CPOSTAL_CODE) "
                     "of every record are empty");
      }
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
      // Blanked before the commas go: the comma removal ends a text at a NUL.
      ctx.line_text().Clean(text, [&] { return ctx.first_control_character_at(f.name); });
      // Without a comma (or a NUL, where the replacement cuts the text) the
      // replacement would return the text unchanged: skip its copy.
      if (std::none_of(text.begin(), text.end(), [](char c) { return c == ',' || c == '\0'; })) return text;
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
      std::optional<std::string> value = Value(f);
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
      std::optional<std::string> value = Value(f);
      if (value) {
        f.layout = ReadLayout(ctx_);
        f.has_layout = true;
        AppendWithLayout(f.layout, *value, record);
      }
      tmpl_.GoNext();
    }
    complete_ = true;
  }

  // The row's value as it goes into the record: no control character in it.
  std::optional<std::string> Value(TemplateField& f) {
    std::optional<std::string> value = FieldValue(ctx_, f);
    if (value) ctx_.line_text().Clean(*value, [&] { return ctx_.first_control_character_at(f.name); });
    return value;
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

// From the next employee on, the records of the employee query are filled
// with the columns the run has looked up so far only: the template seldom
// needs most of them. A column first looked up later reads its record
// again whole (TAdsDataSet::SetReadColumns) and joins them after that
// record. Narrowing is a saving only: when it fails, records stay whole.
void NarrowEmployeeReads(EmployeeExportContext& ctx, TAdsQuery& emp, size_t* narrowed) {
  const size_t count = ctx.columns().CountOf(emp);
  if (count == *narrowed) return;
  *narrowed = count;
  try {
    emp.SetReadColumns(ctx.columns().ColumnsOf(emp));
  } catch (const std::exception&) {
    // Nothing changed: the records stay as they were read.
  }
}

}  // namespace

void ExportEmployees(ExportHost& host) {
  PrepareRun(host);

  EmployeeExportContext ctx(host);
  TAdsQuery& emp = *host.Components().AdsQueryEmp;
  OutputFile& out = host.Output();
  RunTemplate layout(ctx);
  if (!emp.AtEof()) ReadLookupTablesAhead(ctx);

  out.Assign(host.State().EmployeePath, host.State().Setting(kEmployeePathKey));
  out.Rewrite();
  try {
    std::string record;
    std::string status;
    size_t columns_narrowed = 0;  // employee columns looked up when the reads were last narrowed
    while (!emp.AtEof()) {
      status.assign("Export Employee# : ");
      status += ctx.columns().Text(emp, "emp_no");
      host.SetStatusText(status);
      record.clear();
      host.ProcessMessages();
      host.StepProgress();
      try {
        layout.BuildRecord(record);
      } catch (const ENumberOutOfRange& e) {
        throw EDataError(OutOfRangeMessage(host.Components(), e, "employee " + ctx.columns().Text(emp, "emp_no")));
      }
      out.WriteLine(record);
      NarrowEmployeeReads(ctx, emp, &columns_narrowed);
      emp.GoNext();
    }
    out.Close();
  } catch (...) {
    // The file stays as it was before the run: a record file is replaced
    // whole or not at all.
    out.CloseAfterError();
    throw;
  }
  ctx.line_text().Report(host.State().Warnings);
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
