// The lookups and derivations behind the template's field kinds: code
// descriptions, career values in force, allowances in effect, employment and
// miscellaneous columns, identity and residency values.
//
// Every walk tests its key columns on every row, so it is correct whatever
// position a missed seek leaves the cursor in.
#include <algorithm>
#include <string>
#include <vector>

#include "data/query.h"
#include "data/table.h"
#include "exports/employee_export.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"
#include "util/number_format.h"
#include "util/text_utils.h"

namespace {

constexpr char kDayPattern[] = "DD/MM/YYYY";
// The open end of an allowance window with `effdate` but no `enddate`.
constexpr uint32_t kOpenEndYear = 2999;
constexpr uint32_t kOpenEndMonth = 12;
// Hours the SE/SN conversion spreads a monthly amount over: amount * 12
// months / hours worked per year.
constexpr double kMonthsPerYear = 12.0;
// A daily rate is paid for 8 hours.
constexpr double kHoursPerDay = 8.0;

std::string EmployeeNumber(EmployeeExportContext& ctx) {
  return ctx.columns().Text(*ctx.components().AdsQueryEmp, "emp_no");
}

// Month index of a START_MTH/END_MTH value YYYYMM (years 1000 to 9999, months
// 1 to 12); 0 is no bound and is handled by the caller.
uint32_t MonthIndexOfYyyymm(EmployeeExportContext& ctx, const char* column, int32_t value) {
  const int32_t year = value / 100;
  const int32_t month = value % 100;
  if (value < 0 || year < 1000 || year > 9999 || month < 1 || month > 12) {
    const std::string code = ctx.columns().Text(*ctx.components().TableEmpAllowance, "allow_code");
    throw Exception("EMP_ALW of employee " + EmployeeNumber(ctx) + ", allowance " + code + ": " + column + " " +
                    std::to_string(value) + " is not a month in the form YYYYMM");
  }
  return MonthIndex(static_cast<uint32_t>(year), static_cast<uint32_t>(month));
}

uint32_t MonthIndexOfDate(TDateTime value) { return MonthIndex(DateYear(value), DateMonth(value)); }

// The month index of RunPeriod ("YYYYMM").
uint32_t RunPeriodIndex(EmployeeExportContext& ctx) {
  const std::string& period = ctx.state().RunPeriod;
  int32_t year = 0;
  int32_t month = 0;
  if (period.size() < 6 || !TryTextToInt(period.substr(0, 4), &year) || !TryTextToInt(period.substr(4, 2), &month) ||
      year < 0 || month < 0) {
    throw Exception("Run period \"" + period + "\" is not a month in the form YYYYMM");
  }
  return MonthIndex(static_cast<uint32_t>(year), static_cast<uint32_t>(month));
}

// The column of the employee's row in a table keyed by employee number. The
// table is sought once per employee: while it stands on that employee's row,
// the next column is read from it.
std::string KeyedRowValue(EmployeeExportContext& ctx, TAdsTable& table, const char* table_label,
                          const std::string& column) {
  const std::string emp_no = EmployeeNumber(ctx);
  LookupMemo& memo = ctx.lookups();
  if (!memo.StandsOn(table, emp_no) || !table.HasCurrentRecord()) {
    memo.Forget(table);
    if (!table.SeekKey({emp_no})) throw Exception(std::string(table_label) + " Unable to locate Employee : " + emp_no);
    memo.SetStandsOn(table, emp_no);
  }
  return ctx.columns().Text(table, column);
}

// The career row in force on AsOfDate for employee `emp_no`, with the value
// of `column` (unless it is the date itself) among those read. One walk per
// employee reads every career column the run has asked for; a column asked
// for the first time walks again.
const LookupMemo::Career& CareerInForce(EmployeeExportContext& ctx, const std::string& emp_no,
                                        const std::string& column, bool is_date) {
  LookupMemo& memo = ctx.lookups();
  LookupMemo::Career& known = memo.CurrentCareer();
  const std::vector<std::string>& asked = memo.CareerColumns();
  if (!is_date && std::find(asked.begin(), asked.end(), column) == asked.end()) memo.AddCareerColumn(column);
  if (known.valid && known.emp_no == emp_no && (is_date || known.Find(column) != nullptr)) return known;

  TAdsTable& career = *ctx.components().CareerTable;
  ColumnCache& col = ctx.columns();
  const TDateTime as_of = ctx.state().AsOfDate;
  const std::vector<std::string>& columns = memo.CareerColumns();
  known.valid = false;
  known.emp_no = emp_no;
  known.in_force = false;
  known.effective = 0;
  known.values.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    known.values[i].column = columns[i];
    known.values[i].text.clear();
    known.values[i].amount = 0;
  }
  career.SeekKey({emp_no});
  while (!career.AtEof()) {
    if (col.Text(career, "emp_code") != emp_no) break;
    const TDateTime effective = col.DateTime(career, "pay_effective_date");
    if (effective > as_of) break;
    known.in_force = true;
    known.effective = effective;
    for (LookupMemo::CareerValue& v : known.values) {
      const TField& value = col.Get(career, v.column);
      v.text = value.ReadText();
      v.amount = value.ReadFloat();
    }
    career.GoNext();
  }
  known.valid = true;
  return known;
}

}  // namespace

uint32_t MonthIndex(uint32_t year, uint32_t month) { return year * 12 + month; }

std::string CodeDescription(EmployeeExportContext& ctx, const std::string& category, const std::string& code) {
  LookupMemo& memo = ctx.lookups();
  if (const std::string* known = memo.FindDescription(category, code)) return *known;
  TAdsTable& codes = *ctx.components().AdsTableCode;
  std::string description = codes.SeekKey({category, code}) ? ctx.columns().Text(codes, "desc") : "NONE";
  memo.RememberDescription(category, code, description);
  return description;
}

std::string CareerValueAsOf(EmployeeExportContext& ctx, const std::string& column) {
  TAdsQuery& emp = *ctx.components().AdsQueryEmp;
  ColumnCache& col = ctx.columns();
  const bool is_date = column == "PAY_EFFECTIVE_DATE";
  const LookupMemo::Career& career = CareerInForce(ctx, EmployeeNumber(ctx), column, is_date);
  if (is_date) return career.in_force ? FormatDateTime(kDayPattern, career.effective) : std::string();
  const LookupMemo::CareerValue& value = *career.Find(column);
  const std::string& result = value.text;
  const double amount = value.amount;

  const std::string pay_type = col.Text(emp, "PAY_TYPE");
  if (pay_type == "SE" || pay_type == "SN") {
    const TField& hours = col.Get(emp, "HRS_WORK_PERYEAR");
    // An empty or zero figure would put an infinite or undefined amount in
    // the file: the run stops instead.
    if (hours.IsEmpty()) throw EZeroDivide();
    const double per_year = hours.ReadFloat();
    if (per_year == 0) throw EZeroDivide();
    return FormatAmount(amount * kMonthsPerYear / per_year);
  }
  if (!pay_type.empty() && pay_type[0] == 'D') return FormatAmount(amount / kHoursPerDay);
  if (!pay_type.empty() && pay_type[0] == 'H') return FormatAmount(amount);
  return result;
}

std::string AllowanceAmount(EmployeeExportContext& ctx, const std::string& code) {
  TAdsTable& allowances = *ctx.components().TableEmpAllowance;
  ColumnCache& col = ctx.columns();
  const std::string emp_no = EmployeeNumber(ctx);

  std::string result = "0.00";
  allowances.SeekKey({emp_no, code});
  while (!allowances.AtEof()) {
    if (col.Text(allowances, "EMP_NO") != emp_no) break;
    if (col.Text(allowances, "allow_code") != code) break;
    if (AllowanceInEffect(ctx)) result = FormatAmount(col.Float(allowances, "AMT"));
    allowances.GoNext();
  }
  return result;
}

bool AllowanceInEffect(EmployeeExportContext& ctx) {
  TAdsTable& allowances = *ctx.components().TableEmpAllowance;
  ColumnCache& col = ctx.columns();
  const uint32_t period = RunPeriodIndex(ctx);

  const TDateTime effective = col.DateTime(allowances, "effdate");
  if (effective != 0) {
    const uint32_t start = MonthIndexOfDate(effective);
    const TDateTime end_date = col.DateTime(allowances, "enddate");
    const uint32_t end = end_date != 0 ? MonthIndexOfDate(end_date) : MonthIndex(kOpenEndYear, kOpenEndMonth);
    return start <= period && period <= end;
  }

  const int32_t start_month = col.Int(allowances, "START_MTH");
  const int32_t end_month = col.Int(allowances, "END_MTH");
  if (start_month == 0 && end_month == 0) return true;
  // Both sides are checked before either decides, so a bad value stops the
  // run whichever side of the window the run period falls on.
  const bool after_start = start_month == 0 || period >= MonthIndexOfYyyymm(ctx, "START_MTH", start_month);
  const bool before_end = end_month == 0 || period <= MonthIndexOfYyyymm(ctx, "END_MTH", end_month);
  return after_start && before_end;
}

std::string EmploymentValue(EmployeeExportContext& ctx, const std::string& column) {
  return KeyedRowValue(ctx, *ctx.components().EmploymentTable, "EMPLOYMT", column);
}

std::string MiscValue(EmployeeExportContext& ctx, const std::string& column) {
  return KeyedRowValue(ctx, *ctx.components().AdsTableMisc, "EMPMISC", column);
}

std::string FormulaValue(EmployeeExportContext& ctx, const std::string& name) {
  TAdsQuery& emp = *ctx.components().AdsQueryEmp;
  ColumnCache& col = ctx.columns();
  if (name == "NRIC_NO") {
    std::string ic = col.Text(emp, "NEW_IC");
    if (!ic.empty() && (ic[0] == 'S' || ic[0] == 'T')) return ic;
    return std::string();
  }
  if (name == "FIN_NO" || name == "PR_NO" || name == "PR") {
    const std::string levy = col.Text(emp, "FUND_LEVY");
    const bool is_pr = TextMid(levy, 1, 2) == "PR";
    if (name == "PR") return is_pr ? "TRUE" : "FALSE";
    if (name == "PR_NO") return is_pr ? std::string() : col.Text(emp, "NEW_IC");
    if (is_pr || TextMid(levy, 1, 6) == "CLASS1") return std::string();
    return col.Text(emp, "INCOME_TAX_AC_NO");
  }
  return std::string();
}

std::string ResidencyValue(EmployeeExportContext& ctx, const std::string& kind) {
  TAdsQuery& emp = *ctx.components().AdsQueryEmp;
  ColumnCache& col = ctx.columns();
  const std::string levy = col.Text(emp, "FUND_LEVY");
  const bool citizen_or_pr = levy == "PR" || levy == "CLASS1";
  const bool pass = levy == "NONE";

  if (kind == "RES_TYPE") {
    if (levy == "PR") return "Permanent Residence";
    if (levy == "CLASS1") return "Citizen";
    if (pass) return "Employment Pass";
    return "Work Permit";
  }
  if (kind == "RES_DOC_NO") return col.Text(emp, citizen_or_pr ? "fund_Ac_no" : "INCOME_TAX_AC_NO");
  if (kind == "RES_DURATION") {
    if (citizen_or_pr || pass) return "0";
    return col.Text(emp, "WORKPERMIT_DURATION");
  }
  if (kind == "RES_EXPIRY_DATE") {
    if (citizen_or_pr || pass) return std::string();
    return FormatDateTime(kDayPattern, col.DateTime(emp, "EMP_PASS_EXPIRY"));
  }
  return std::string();
}
