#include "exports/leave_days.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/query.h"
#include "data/table.h"
#include "exports/column_cache.h"
#include "exports/credentials.h"
#include "exports/leave_transactions_ahead.h"
#include "exports/line_text.h"
#include "exports/run_statement.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"
#include "util/number_format.h"

namespace {

// Approved leave (status Z or Y) of known employees modified within the run's
// window; the engine compares a DATE column by calendar date.
constexpr char kLeaveStatement[] =
    "select empleave.*,employee.BATCH_NO,REMARK1 from empleave,EMPLOYEE where EMPCODE=EMP_NO  AND "
    "((aprroved='Z') OR (aprroved='Y')) AND MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2";

constexpr char kDayPattern[] = "DD/MM/YYYY";
// Day amounts are counted in units of 1/10000 day.
constexpr int64_t kUnitsPerDay = 10000;
constexpr int64_t kFullDayUnits = 10000;
constexpr int64_t kHalfDayUnits = 5000;
// Unit counts at or beyond this size do not fit the 64-bit total.
constexpr double kMaxUnits = 9.2e18;

// The running total of a leave's LEAV_TRX rows after adding `day`: the row's
// DAY x 10000 is added to the total, and the total is then taken to the
// nearest whole unit, halves to even. Rounding the sum (not each row on its
// own) decides the tally when a row's amount falls on half a unit. An amount
// that no unit count can hold is an error naming the value.
int64_t AddDayUnits(int64_t sum, const TField& day) {
  const double total = static_cast<double>(sum) + day.ReadFloat() * static_cast<double>(kUnitsPerDay);
  const double rounded = std::nearbyint(total);  // ties to even
  if (!std::isfinite(rounded) || std::fabs(rounded) >= kMaxUnits) {
    throw EDataError("LEAV_TRX: DAY '" + day.ReadText() + "' is not a valid day amount");
  }
  return static_cast<int64_t>(rounded);
}

std::string UnitsAsAmount(int64_t units) {
  return FormatAmount(static_cast<double>(units) / static_cast<double>(kUnitsPerDay));
}

// One leave-day run: the datasets, the separator and the line being built.
class LeaveDayRun {
 public:
  explicit LeaveDayRun(ExportHost& host)
      : host_(host),
        c_(host.Components()),
        src_(*c_.AdsQuerySource),
        lvtx_(*c_.AdsQueryLVTX),
        cld_(*c_.AdsTableCLD),
        out_(host.Output()) {}

  void Run();

 private:
  void ExportLeave();
  void WriteTransactionRows(int64_t expected);
  void WalkCalendar(TDateTime start, TDateTime end, int64_t expected);
  void WriteLine(const std::string& leave_code, TDateTime date, const std::string& amount,
                 const std::string& approval);
  // `value` of `column` with its control characters blanked.
  std::string Clean(std::string value, const char* column);

  ExportHost& host_;
  const ExportComponents& c_;
  TAdsQuery& src_;
  TAdsQuery& lvtx_;
  TAdsTable& cld_;
  OutputFile& out_;
  ColumnCache col_;
  LineText line_text_{"leave-day file"};

  std::unique_ptr<LeaveTransactionsAhead> ahead_;

  std::string separator_;
  // Per leave record.
  std::string empcode_;
  std::string tail_;  // AMPM, separator, REMARK1
  std::string line_;
};

void LeaveDayRun::Run() {
  RunState& state = host_.State();
  ApplyEmployeeTablePassword(src_);
  if (state.FieldSeparator.empty()) state.FieldSeparator.assign(1, ',');
  separator_ = state.FieldSeparator;
  host_.SetCaption("EXPORTING LEAVE DATABASE...");

  out_.Assign(state.LeavePath, state.Setting(kLeavePathKey));
  out_.Rewrite();
  try {
    cld_.OpenDataSet();
    SelectLeaveRecords(host_);
    ahead_ = std::make_unique<LeaveTransactionsAhead>(
        src_, lvtx_,
        std::vector<LeaveTransactionsAhead::Binding>{{"ID", "ID"}, {"EMPCODE", "EMPCODE"}, {"LEAVE_CODE", "LEAVE_CODE"}},
        [this](TAdsQuery& leave) {
          // A leave of more than one day without transaction rows walks the
          // calendar from its first day: that seek's rows come with others.
          const TDateTime start = col_.DateTime(leave, "START_DATE");
          if (col_.DateTime(leave, "END_DATE") > start) {
            static_cast<void>(cld_.QueueSeekKey({col_.Text(leave, "EMPCODE"), start}));
          }
        });
    while (!src_.AtEof()) {
      try {
        ExportLeave();
      } catch (const ENumberOutOfRange& e) {
        throw EDataError(OutOfRangeMessage(c_, e, "the leave of employee " + empcode_));
      }
      src_.GoNext();
    }
    out_.Close();
  } catch (...) {
    // The file stays as it was before the run: it is replaced whole or not
    // at all.
    out_.CloseAfterError();
    throw;
  }
  line_text_.Report(state.Warnings);
  host_.WriteRunLog();
}

void LeaveDayRun::ExportLeave() {
  empcode_ = col_.Text(src_, "EMPCODE");
  host_.SetStatusText("Export Leave Data# : " + empcode_);
  host_.ProcessMessages();
  const int64_t expected = col_.Currency(src_, "DAY");

  tail_ = Clean(col_.Text(src_, "AMPM"), "AMPM");
  tail_ += separator_;
  tail_ += Clean(col_.Text(src_, "REMARK1"), "REMARK1");
  host_.StepProgress();

  lvtx_.CloseDataSet();
  lvtx_.ParamNamed("ID").BindText(col_.Text(src_, "ID"));
  lvtx_.ParamNamed("EMPCODE").BindText(empcode_);
  lvtx_.ParamNamed("LEAVE_CODE").BindText(col_.Text(src_, "LEAVE_CODE"));
  ahead_->BeforeOpen();
  lvtx_.OpenDataSet();

  // An empty result reads as empty text: no transaction rows.
  if (!col_.Text(lvtx_, "EMPCODE").empty()) {
    WriteTransactionRows(expected);
    return;
  }

  const TDateTime start = col_.DateTime(src_, "START_DATE");
  const TDateTime end = col_.DateTime(src_, "END_DATE");
  if (end == start) {
    WriteLine(col_.Text(src_, "LEAVE_CODE"), start, UnitsAsAmount(expected), "Z");
  } else {
    WalkCalendar(start, end, expected);
  }
}

void LeaveDayRun::WriteTransactionRows(int64_t expected) {
  const TDateTime start = col_.DateTime(src_, "START_DATE");
  const TDateTime end = col_.DateTime(src_, "END_DATE");
  int64_t sum = 0;
  while (!lvtx_.AtEof()) {
    const TDateTime date = col_.DateTime(lvtx_, "DATE");
    if (!(start > date || end < date)) {
      const TField& day = col_.Get(lvtx_, "DAY");
      sum = AddDayUnits(sum, day);
      WriteLine(col_.Text(lvtx_, "LEAVE_CODE"), date, day.ReadText(), col_.Text(lvtx_, "APPROVED"));
    }
    lvtx_.GoNext();
  }
  if (sum != expected) {
    throw EDataError("Leave day is not tally!. Employee# " + col_.Text(lvtx_, "EMPCODE") + " Record ID " +
                    col_.Text(lvtx_, "ID"));
  }
}

// Full ("F") and half ("H") working days of the calendar, from start to end,
// until the leave's total is used up. Other work codes, and days the calendar
// has no row for, write nothing and use nothing up. The last day written
// carries only what remains, so the lines never add up to more than the total.
void LeaveDayRun::WalkCalendar(TDateTime start, TDateTime end, int64_t expected) {
  const std::string leave_code = col_.Text(src_, "LEAVE_CODE");
  int64_t remaining = expected;
  for (TDateTime day = start; day <= end && remaining > 0; day += 1.0) {
    if (!cld_.SeekKey({empcode_, day})) continue;
    const std::string work_code = col_.Text(cld_, "WORKCODE");
    int64_t units = 0;
    if (work_code == "F") {
      units = kFullDayUnits;
    } else if (work_code == "H") {
      units = kHalfDayUnits;
    } else {
      continue;
    }
    units = std::min(units, remaining);
    WriteLine(leave_code, day, UnitsAsAmount(units), "Z");
    remaining -= units;
  }
}

std::string LeaveDayRun::Clean(std::string value, const char* column) {
  line_text_.Clean(value, [&] { return std::string("column ") + column + " of the leave of employee " + empcode_; });
  return value;
}

void LeaveDayRun::WriteLine(const std::string& leave_code, TDateTime date, const std::string& amount,
                            const std::string& approval) {
  line_.assign(Clean(empcode_, "EMPCODE"));
  line_ += separator_;
  line_ += Clean(leave_code, "LEAVE_CODE");
  line_ += separator_;
  line_ += FormatDateTime(kDayPattern, date);
  line_ += separator_;
  line_ += amount;
  line_ += separator_;
  line_ += Clean(approval, "APPROVED");
  line_ += separator_;
  line_ += tail_;
  out_.WriteLine(line_);
}

}  // namespace

void SelectLeaveRecords(ExportHost& host) {
  const TDateTime now = host.GetClock().Now();
  OpenOnStatement(*host.Components().AdsQuerySource, kLeaveStatement, {{"date1", now}, {"date2", now}});
}

void ExportLeaveDays(ExportHost& host) {
  LeaveDayRun run(host);
  run.Run();
}
