// The lookups and derivations behind the template's field kinds: code
// descriptions, career values in force, allowances in effect, employment and
// miscellaneous columns, identity and residency values.
//
// EMPLOYMT, EMPMISC, career and allowance lookups answer from the windows of
// rows the run reads (lookup_tables.h) where those tell what the table would;
// otherwise they seek and walk the table. Every walk tests its key columns on
// every row, so it is correct whatever position a missed seek leaves the
// cursor in.
#include "exports/employee_resolvers.h"

#include <algorithm>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/query.h"
#include "data/table.h"
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
// 1 to 12) of allowance row `row`; 0 is no bound and is handled by the
// caller.
template <typename Row>
uint32_t MonthIndexOfYyyymm(EmployeeExportContext& ctx, Row& row, const char* column, int32_t value) {
  const int32_t year = value / 100;
  const int32_t month = value % 100;
  if (value < 0 || year < 1000 || year > 9999 || month < 1 || month > 12) {
    throw EDataError("EMP_ALW of employee " + EmployeeNumber(ctx) + ", allowance " + row.Code() + ": " + column + " " +
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
  std::string text;
  switch (memo.tables().KeyedText(table, emp_no, column, &text)) {
    case LookupTables::Answer::kFound:
      return text;
    case LookupTables::Answer::kNoRow:
      throw EDataError(std::string(table_label) + " Unable to locate Employee : " + emp_no);
    case LookupTables::Answer::kNotReadAhead:
      // A window read since the last seek has moved the table.
      if (memo.tables().ReadsWindows(table)) memo.Forget(table);
      break;
  }
  if (!memo.StandsOn(table, emp_no) || !table.HasCurrentRecord()) {
    memo.Forget(table);
    if (!table.SeekKey({emp_no})) throw EDataError(std::string(table_label) + " Unable to locate Employee : " + emp_no);
    memo.SetStandsOn(table, emp_no);
  }
  return ctx.columns().Text(table, column);
}

// Fills `known` with the career row in force of `emp_no` from the career
// rows read ahead, for every column the run has asked for. False (and
// `known` unchanged) when they cannot tell: the walk reads the table.
[[nodiscard]] bool CareerReadAhead(LookupMemo& memo, const std::string& emp_no, LookupMemo::Career& known) {
  LookupTables& tables = memo.tables();
  const std::vector<std::string>& asked = memo.CareerColumns();
  const std::vector<std::string>& read = tables.CareerColumns();
  double effective = 0;
  size_t values = 0;
  const LookupTables::Answer answer = tables.Career(emp_no, &effective, &values);
  if (answer == LookupTables::Answer::kNotReadAhead) return false;
  for (const std::string& column : asked) {
    if (std::find(read.begin(), read.end(), column) == read.end()) return false;
  }
  const bool in_force = answer == LookupTables::Answer::kFound;
  known.emp_no = emp_no;
  known.in_force = in_force;
  known.effective = in_force ? effective : 0;
  known.values.resize(asked.size());
  for (size_t i = 0; i < asked.size(); ++i) {
    const size_t index = static_cast<size_t>(std::find(read.begin(), read.end(), asked[i]) - read.begin());
    known.values[i].column = asked[i];
    known.values[i].text.assign(in_force ? tables.CareerText(values, index) : std::string_view());
    known.values[i].amount = in_force ? tables.CareerAmount(values, index) : 0;
  }
  known.valid = true;
  return true;
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
  if (CareerReadAhead(memo, emp_no, known)) return known;

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
  // A miss needs no test of its own: the walk tests the key of every row.
  static_cast<void>(career.SeekKey({emp_no}));
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

// The current row of EMP_ALW, its columns read as the in-effect rule asks
// for them.
class CurrentAllowance {
 public:
  explicit CurrentAllowance(EmployeeExportContext& ctx)
      : col_(ctx.columns()), table_(*ctx.components().TableEmpAllowance) {}
  TDateTime EffDate() { return col_.DateTime(table_, "effdate"); }
  TDateTime EndDate() { return col_.DateTime(table_, "enddate"); }
  int32_t StartMonth() { return col_.Int(table_, "START_MTH"); }
  int32_t EndMonth() { return col_.Int(table_, "END_MTH"); }
  std::string Code() { return col_.Text(table_, "allow_code"); }

 private:
  ColumnCache& col_;
  TAdsTable& table_;
};

// An EMP_ALW row of allowance `code` read ahead.
class ReadAheadAllowance {
 public:
  ReadAheadAllowance(const LookupTables::AllowanceRow& row, const std::string& code) : row_(row), code_(code) {}
  TDateTime EffDate() const { return row_.effdate; }
  TDateTime EndDate() const { return row_.enddate; }
  int32_t StartMonth() const { return row_.start_month; }
  int32_t EndMonth() const { return row_.end_month; }
  std::string Code() const { return code_; }

 private:
  const LookupTables::AllowanceRow& row_;
  const std::string& code_;
};

// Whether allowance row `row` covers RunPeriod (AllowanceInEffect), its
// columns read in the rule's order: a read that raises does so where the
// rule first needs the column.
template <typename Row>
bool CoversRunPeriod(EmployeeExportContext& ctx, Row& row) {
  const uint32_t period = RunPeriodIndex(ctx);
  const TDateTime effective = row.EffDate();
  if (effective != 0) {
    const uint32_t start = MonthIndexOfDate(effective);
    const TDateTime end_date = row.EndDate();
    const uint32_t end = end_date != 0 ? MonthIndexOfDate(end_date) : MonthIndex(kOpenEndYear, kOpenEndMonth);
    return start <= period && period <= end;
  }

  const int32_t start_month = row.StartMonth();
  const int32_t end_month = row.EndMonth();
  if (start_month == 0 && end_month == 0) return true;
  // Both sides are checked before either decides, so a bad value stops the
  // run whichever side of the window the run period falls on.
  const bool after_start = start_month == 0 || period >= MonthIndexOfYyyymm(ctx, row, "START_MTH", start_month);
  const bool before_end = end_month == 0 || period <= MonthIndexOfYyyymm(ctx, row, "END_MTH", end_month);
  return after_start && before_end;
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
  const std::string emp_no = EmployeeNumber(ctx);
  std::string result = "0.00";
  LookupTables& tables = ctx.lookups().tables();
  size_t first = 0;
  size_t count = 0;
  switch (tables.Allowances(emp_no, code, &first, &count)) {
    case LookupTables::Answer::kFound:
      for (size_t i = 0; i < count; ++i) {
        const LookupTables::AllowanceRow row = tables.AllowanceAt(first, i);
        ReadAheadAllowance read(row, code);
        if (CoversRunPeriod(ctx, read)) result = FormatAmount(row.amount);
      }
      return result;
    case LookupTables::Answer::kNoRow:
      return result;
    case LookupTables::Answer::kNotReadAhead:
      break;
  }

  TAdsTable& allowances = *ctx.components().TableEmpAllowance;
  ColumnCache& col = ctx.columns();
  // A miss needs no test of its own: the walk tests the key of every row.
  static_cast<void>(allowances.SeekKey({emp_no, code}));
  while (!allowances.AtEof()) {
    if (col.Text(allowances, "EMP_NO") != emp_no) break;
    if (col.Text(allowances, "allow_code") != code) break;
    if (AllowanceInEffect(ctx)) result = FormatAmount(col.Float(allowances, "AMT"));
    allowances.GoNext();
  }
  return result;
}

bool AllowanceInEffect(EmployeeExportContext& ctx) {
  CurrentAllowance row(ctx);
  return CoversRunPeriod(ctx, row);
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
