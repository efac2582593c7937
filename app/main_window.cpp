#include "app/main_window.h"

#include "app/configuration.h"
#include "app/run_paths.h"
#include "data/connection.h"
#include "data/query.h"
#include "data/table.h"
#include "data/wait_cursor.h"
#include "exports/employee_export.h"
#include "exports/leave_csv.h"
#include "exports/leave_days.h"

namespace {

constexpr char kStoppedHint[] = "Run stopped. Press Enter or Ctrl-C to close the window.";
// The run modes, as the summary line names them.
constexpr char kUnattendedRun[] = "unattended run";
constexpr char kLeaveCsvRun[] = "leave CSV run";

}  // namespace

TForm1::TForm1(TApplication& application, const Clock& clock, RunSite site)
    : TForm(application, "Form1"),
      TComponent(nullptr, "Form1"),
      Edit1(*this, "Edit1"),
      ProgressBar1(*this, "ProgressBar1"),
      Button1(*this, "Button1"),
      Timer1(application, "Timer1"),
      clock_(clock),
      site_(std::move(site)) {
  TForm::SetCaption(kStoredCaption);
  Edit1.SetText("Updating : ");
  ProgressBar1.SetRange(0, 100);
  ProgressBar1.SetStep(10);
  Button1.SetCaption("Button1");
  Button1.SetVisible(false);
  Timer1.SetInterval(kStartDelayMs);
  Timer1.SetEnabled(true);

  CreateComponents();

  Timer1.OnTimer = [this] { Timer1Timer(); };
  Button1.OnClick = [this] { Button1Click(); };
  OnShow = [this] { OnWindowShown(); };
  OnClose = [this] { OnWindowClose(); };
  OnEnterKey = [this] { OnEnter(); };
  // A connect or a query execution shows the wait cursor while it runs and
  // then puts back whatever was shown before (a job may have it on already).
  SetWaitCursorHook([this](bool busy) {
    if (busy) {
      cursor_before_data_wait_ = Application().WaitCursor();
      Application().SetWaitCursor(true);
    } else {
      Application().SetWaitCursor(cursor_before_data_wait_);
    }
  });
  FormCreate();
}

TForm1::~TForm1() {
  // The handlers refer to this window; nothing may call them once it goes.
  SetWaitCursorHook(nullptr);
  Timer1.OnTimer = nullptr;
  Button1.OnClick = nullptr;
  output_file_.CloseAfterError();
}

void TForm1::CreateComponents() {
  // The engine-wide settings first, so that every later component sees the
  // program's date format.
  AdsSettings1 = CreateEngineSettings(this);
  components_ = CreateExportComponents(*this);

  AdsConnection2 = new TAdsConnection(this, "AdsConnection2");
  AdsConnection2->SetConnectPath("C:\\BRAMBLE");
  AdsConnection2->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
  AdsConnection2->SetLoginPrompt(false);

  components_.AdsQueryEmp->BeforeOpen = [this](TAdsDataSet& dataset) { AdsQueryEmpBeforeOpen(dataset); };
  components_.CareerTable->AfterOpen = [this](TAdsDataSet& dataset) { wwQueryEmpCareerAfterOpen(dataset); };
  components_.TableEmpAllowance->AfterOpen = [this](TAdsDataSet& dataset) { TableEmpAllowanceAfterOpen(dataset); };
  components_.AdsTablePara->AfterOpen = [this](TAdsDataSet& dataset) { AdsTableParaAfterOpen(dataset); };
}

void TForm1::FormCreate() { TForm::SetCaption(Application().Title()); }

void TForm1::Timer1Timer() {
  Timer1.SetEnabled(false);
  if (state_ != WindowState::kStarting && state_ != WindowState::kWaiting) return;
  BeginRun(WindowState::kRunning, kUnattendedRun);
  try {
    LoadRunConfiguration();
    RefuseBadRunPaths(run_state_, UnattendedOutputs(run_state_), site_);
    ExportEmployees(*this);
    ExportLeaveDays(*this);
  } catch (...) {
    EnterStopped(std::current_exception());
    throw;
  }
  EndRun(true);
  Close();
}

void TForm1::Button1Click() {
  if (state_ != WindowState::kStarting && state_ != WindowState::kWaiting) return;
  BeginRun(WindowState::kLeaveCsv, kLeaveCsvRun);
  // The leave CSV run builds each line in the caption: per-record texts.
  SetCaptionIsProgress(true);
  bool completed = false;
  try {
    LoadRunConfiguration();
    RefuseBadRunPaths(run_state_, LeaveCsvOutputs(run_state_, LeaveCsvFileName(*this)), site_);
    completed = ExportLeaveCsv(*this);
  } catch (...) {
    SetCaptionIsProgress(false);
    EnterStopped(std::current_exception());
    throw;
  }
  SetCaptionIsProgress(false);
  EndRun(completed);
  Close();
}

void TForm1::StartLeaveCsvMode() {
  Timer1.SetEnabled(false);
  // A close request that arrived while the window was being made counts as a
  // close before any run.
  Application().ProcessMessages();
  if (Application().Terminated()) return;
  Application().Dispatch([this] { Button1.Click(); });
}

void TForm1::LoadRunConfiguration() {
  LoadConfiguration(run_state_, clock_, site_);
  for (std::string& warning : UnknownKeyWarnings(run_state_.ConfigurationFile)) {
    run_state_.Warnings.push_back(std::move(warning));
  }
}

void TForm1::BeginRun(WindowState state, const char* mode) {
  state_ = state;
  run_mode_ = mode;
  run_began_ = run_ended_ = std::chrono::steady_clock::now();
  written_files_.Clear();
  run_state_.Warnings.clear();
  run_state_.Failure = nullptr;
  failure_ = nullptr;
}

void TForm1::EndRun(bool completed) {
  run_ended_ = std::chrono::steady_clock::now();
  state_ = WindowState::kEnding;
  outcome_ = !completed                      ? RunOutcome::kFailed
             : run_state_.Warnings.empty() ? RunOutcome::kCompleted
                                           : RunOutcome::kCompletedWithWarnings;
  // The leave CSV run shows its own error and reports only that it failed.
  if (!completed) {
    failure_message_ = last_message_;
    failure_ = run_state_.Failure;
  }
}

void TForm1::EnterStopped(const std::exception_ptr& error) {
  run_ended_ = std::chrono::steady_clock::now();
  failure_ = error;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    failure_message_ = ErrorBoxText(e.what());
  } catch (...) {
    failure_message_.clear();
  }
  state_ = WindowState::kStopped;
  outcome_ = RunOutcome::kFailed;
  EndRunSession(components_);
  output_file_.CloseAfterError();
  if (Application().Interactive()) {
    SetHint(kStoppedHint);
  } else {
    // Nobody can close the window: the program ends once the error is shown.
    Application().Terminate();
  }
}

void TForm1::OnWindowShown() {
  if (state_ == WindowState::kStarting) state_ = WindowState::kWaiting;
}

void TForm1::OnWindowClose() {
  switch (state_) {
    case WindowState::kStarting:
    case WindowState::kWaiting:
      Timer1.SetEnabled(false);
      state_ = WindowState::kEnding;
      outcome_ = RunOutcome::kNoRun;
      break;
    case WindowState::kStopped:
      state_ = WindowState::kEnding;
      break;
    case WindowState::kRunning:
    case WindowState::kLeaveCsv:
      // Remembered: TForm::Close terminates the application, which ends the
      // message loop only after this run's handler has returned.
    case WindowState::kEnding:
      break;
  }
}

void TForm1::OnEnter() {
  if (state_ == WindowState::kStopped) Close();
}

void TForm1::ShowMessage(const std::string& text) {
  last_message_ = text;
  Application().MessageBox(text, Application().Title(), MessageIcon::kNone);
}

RunSummary TForm1::Summary(int exit_status) const {
  RunSummary summary;
  summary.mode = run_mode_;
  summary.ran = !run_mode_.empty();
  summary.completed = outcome_ == RunOutcome::kCompleted || outcome_ == RunOutcome::kCompletedWithWarnings;
  summary.warnings = run_state_.Warnings;
  summary.elapsed_seconds = std::chrono::duration<double>(run_ended_ - run_began_).count();
  summary.exit_status = exit_status;
  summary.error = failure_message_;
  const bool leave_csv = run_mode_ == kLeaveCsvRun;
  for (const WrittenFile& written : written_files_.Files()) {
    // A file the run did not put in place holds nothing of this run.
    if (written.path == run_state_.LogPath || !written.replaced) continue;
    if (leave_csv) {
      // Its first line is the header.
      summary.files.push_back({"leave CSV", written.lines > 0 ? written.lines - 1 : 0});
    } else {
      summary.files.push_back({summary.files.empty() ? "employee file" : "leave-day file", written.lines});
    }
  }
  return summary;
}
