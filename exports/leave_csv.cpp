#include "exports/leave_csv.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/query.h"
#include "exports/column_cache.h"
#include "exports/leave_transactions_ahead.h"
#include "exports/line_text.h"
#include "exports/run_statement.h"
#include "platform/output_file.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"
#include "util/number_format.h"

namespace {

// Approved leave of category 'LEA' codes. date1 and date2 are bound by name,
// which reaches their first places (the APPROVED_DATE window); the two places
// of the MODIFIED_DATE comparison stay empty.
constexpr char kLeaveStatement[] =
    "select EMPCODE,EMP_NAME,LEAVE_CODE AS LVCODE,CODE.MAPCODE as LEAVE_CODE,CODE.LONG_DESC AS \"DESC\","
    "EMPLEAVE.MODIFIED_DATE AS ENTRY_DT, START_DATE, END_DATE,EMPLEAVE.DAY,EMPLEAVE.ID,AMPM,TIMEIN,TIMEOUT,"
    "APRROVED from EMPLEAVE,CODE where EMPLEAVE.LEAVE_CODE = CODE.CODE AND CODE.CATEGORY = 'LEA'  AND "
    "APRROVED in ('Y','Z') and ((APPROVED_DATE>=:date1 and APPROVED_DATE<=:date2) or "
    "(MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2)) ";

constexpr char kHeader[] = "EMP_NO,LVCODE,DESC,ENTRY_DATE,START_DATE,END_DATE,DAY,AMPM,TIMEIN,TIMEOUT,APPROVED";
constexpr char kDatePattern[] = "YYYYMMDD";
constexpr char kTimePattern[] = "HHNN";
constexpr char kNoShift[] = ",,,";
constexpr char kSaveFailed[] = "Save file failed";
constexpr double kUnitsPerDay = 10000.0;

enum class WriteResult { kWritten, kNothingToDo, kSaveFailed };

// Suspends the query's display updates for the walk.
class ControlsDisabled {
 public:
  explicit ControlsDisabled(TAdsDataSet& dataset) : dataset_(dataset) { dataset_.DisableControls(); }
  ~ControlsDisabled() { dataset_.EnableControls(); }
  ControlsDisabled(const ControlsDisabled&) = delete;
  ControlsDisabled& operator=(const ControlsDisabled&) = delete;

 private:
  TAdsDataSet& dataset_;
};

// Builds one line field by field in the window caption, as the window shows
// it: every step sets the caption to the line so far.
class CaptionLine {
 public:
  explicit CaptionLine(ExportHost& host) : host_(host) {}
  void Start() { line_.clear(); }
  void Add(const std::string& value) {
    line_ += value;
    line_ += ',';
    host_.SetCaption(line_);
  }
  void AddRaw(const char* text) {
    line_ += text;
    host_.SetCaption(line_);
  }
  void Finish(const std::string& value) {
    line_ += value;
    host_.SetCaption(line_);
  }
  const std::string& text() const { return line_; }

 private:
  ExportHost& host_;
  std::string line_;
};

class LeaveCsvWriter {
 public:
  LeaveCsvWriter(ExportHost& host, TAdsQuery& query)
      : host_(host), query_(query), lvtx_(*host.Components().AdsQueryLVTX),
        shift_(*host.Components().AdsQuerySHIFT), line_(host) {}

  [[nodiscard]] WriteResult Write(const std::string& file_name);

 private:
  void WriteLeave();
  void StartLine();
  void WholeLeaveLine();
  void DayLine();
  // The current leave's employee code.
  std::string Employee();
  // `value` of `column` with its control characters blanked.
  std::string Clean(std::string value, const char* column);

  ExportHost& host_;
  TAdsQuery& query_;
  TAdsQuery& lvtx_;
  TAdsQuery& shift_;
  ColumnCache col_;
  std::unique_ptr<LeaveTransactionsAhead> ahead_;
  CaptionLine line_;
  LineText line_text_{"leave CSV"};
};

WriteResult LeaveCsvWriter::Write(const std::string& file_name) {
  if (!query_.IsActive() || file_name.empty()) return WriteResult::kNothingToDo;
  OutputFile& out = host_.Output();
  out.Assign(file_name, host_.State().Setting(kLeavePathKey) + ", followed by the dated name");
  try {
    out.Rewrite();
  } catch (const EInOutError& e) {
    host_.State().Failure = std::current_exception();
    host_.ShowMessage(std::string(kSaveFailed) + ": " + e.what());
    return WriteResult::kSaveFailed;
  }
  host_.SetWaitCursor(true);
  try {
    out.WriteLine(kHeader);
    ControlsDisabled suspended(query_);
    query_.GoFirst();
    ahead_ = std::make_unique<LeaveTransactionsAhead>(
        query_, lvtx_,
        std::vector<LeaveTransactionsAhead::Binding>{{"EMPCODE", "EMPCODE"}, {"ID", "ID"}, {"LEAVE_CODE", "LVCODE"}});
    while (!query_.AtEof()) {
      try {
        WriteLeave();
      } catch (const ENumberOutOfRange& e) {
        throw EDataError(OutOfRangeMessage(host_.Components(), e, "the leave of employee " + Employee()));
      }
      query_.GoNext();
    }
    out.Close();
  } catch (...) {
    // The file stays as it was before the run: it is replaced whole or not
    // at all. The wait cursor stays as the run's handler finds it.
    out.CloseAfterError();
    throw;
  }
  host_.SetWaitCursor(false);
  line_text_.Report(host_.State().Warnings);
  return WriteResult::kWritten;
}

std::string LeaveCsvWriter::Employee() { return col_.Text(query_, "EMPCODE"); }

std::string LeaveCsvWriter::Clean(std::string value, const char* column) {
  line_text_.Clean(value, [&] { return std::string("column ") + column + " of the leave of employee " + Employee(); });
  return value;
}

void LeaveCsvWriter::WriteLeave() {
  lvtx_.CloseDataSet();
  lvtx_.ParamNamed("EMPCODE").BindText(col_.Text(query_, "EMPCODE"));
  lvtx_.ParamNamed("ID").BindText(col_.Text(query_, "ID"));
  lvtx_.ParamNamed("LEAVE_CODE").BindText(col_.Text(query_, "LVCODE"));
  ahead_->BeforeOpen();
  lvtx_.OpenDataSet();

  if (!HasShiftedDays(host_)) {
    WholeLeaveLine();
    return;
  }
  lvtx_.GoFirst();
  while (!lvtx_.AtEof()) {
    DayLine();
    lvtx_.GoNext();
  }
}

// Fields 1 to 4, shared by both kinds of line.
void LeaveCsvWriter::StartLine() {
  line_.Start();
  line_.Add(Clean(col_.Text(query_, "EMPCODE"), "EMPCODE"));
  line_.Add(Clean(col_.Text(query_, "LEAVE_CODE"), "LEAVE_CODE"));
  line_.Add(Clean(col_.Text(query_, "DESC"), "DESC"));
  line_.Add(FormatDateTime(kDatePattern, col_.DateTime(query_, "ENTRY_DT")));
}

void LeaveCsvWriter::WholeLeaveLine() {
  StartLine();
  line_.Add(FormatDateTime(kDatePattern, col_.DateTime(query_, "START_DATE")));
  line_.Add(FormatDateTime(kDatePattern, col_.DateTime(query_, "END_DATE")));
  line_.Add(FormatAmount(static_cast<double>(col_.Currency(query_, "DAY")) / kUnitsPerDay));
  line_.AddRaw(kNoShift);
  line_.Finish(Clean(col_.Text(query_, "APRROVED"), "APRROVED"));
  host_.Output().WriteLine(line_.text());
}

void LeaveCsvWriter::DayLine() {
  StartLine();
  const std::string date = FormatDateTime(kDatePattern, col_.DateTime(lvtx_, "date"));
  line_.Add(date);
  line_.Add(date);
  line_.Add(FormatAmount(static_cast<double>(col_.Currency(lvtx_, "day")) / kUnitsPerDay));
  const std::string shift = col_.Text(lvtx_, "SHIFT");
  if (shift_.LocateValue("SHIFT", {LocateItem::Text(shift)})) {
    line_.Add(Clean(col_.Text(shift_, "AM_PM"), "AM_PM"));
    line_.Add(FormatDateTime(kTimePattern, col_.DateTime(shift_, "TIMEIN")));
    line_.Add(FormatDateTime(kTimePattern, col_.DateTime(shift_, "TIMEOUT")));
  } else {
    line_.AddRaw(kNoShift);
  }
  line_.Finish(Clean(col_.Text(query_, "APRROVED"), "APRROVED"));
  host_.Output().WriteLine(line_.text());
}

}  // namespace

bool HasShiftedDays(ExportHost& host) {
  TAdsQuery& lvtx = *host.Components().AdsQueryLVTX;
  lvtx.GoFirst();
  bool found = false;
  while (!lvtx.AtEof()) {
    if (!lvtx.ColumnByName("shift").ReadText().empty()) {
      found = true;
      break;
    }
    lvtx.GoNext();
  }
  lvtx.GoFirst();
  return found;
}

int WriteLeaveCsv(ExportHost& host, TAdsQuery& query, const std::string& file_name) {
  LeaveCsvWriter writer(host, query);
  return writer.Write(file_name) == WriteResult::kWritten ? 0 : 1;
}

void SelectLeaveCsvRecords(ExportHost& host) {
  const TDateTime now = host.GetClock().Now();
  OpenOnStatement(*host.Components().AdsQuerySource, kLeaveStatement, {{"date1", now}, {"date2", now}});
}

std::string LeaveCsvFileName(ExportHost& host) {
  return host.State().LeavePath + "LVDATA" + FormatDateTime("DDMMYYYY", host.GetClock().Now()) + ".CSV";
}

bool ExportLeaveCsv(ExportHost& host) {
  const ExportComponents& c = host.Components();
  try {
    host.PrepareConnection();

    SelectLeaveCsvRecords(host);
    c.AdsQuerySHIFT->CloseDataSet();
    c.AdsQuerySHIFT->OpenDataSet();

    // Nothing written (the file could not be created) must not look like
    // success: the run ends here, LOG.TXT keeps its earlier line.
    LeaveCsvWriter writer(host, *c.AdsQuerySource);
    if (writer.Write(LeaveCsvFileName(host)) != WriteResult::kWritten) return false;

    c.AdsQueryEmp->CloseDataSet();
    host.WriteRunLog();
    return true;
  } catch (const Exception& e) {
    host.State().Failure = std::current_exception();
    // The run is over: its server transaction ends before the message may
    // wait for a key.
    EndRunSession(c);
    host.ShowMessage(e.what());
    return false;
  }
}
