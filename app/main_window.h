// The main window, TForm1 (its one instance is Form1): the components every
// run uses, the run state, the unattended run on the one-shot timer, the
// leave CSV mode behind the hidden button, and the table-opening hooks.
//
// Window states (the only transitions there are):
//
//   Starting --shown--> Waiting --first Timer1 tick--> Running --done--> Ending
//                          |                             |
//                          |                             +--error--> Stopped --closed--> Ending
//                          +--Button1Click--> LeaveCsv --done (either way)--> Ending
//                          +--closed before any run-------------------------> Ending
//
// A close request while Running or LeaveCsv does not stop the run: it is
// remembered (the application terminates once the handler returns), the run
// goes on to its end without cutting a file short, and the outcome is that of
// the run. In Stopped the window keeps the texts it showed when the error
// happened; on an interactive terminal it stays until Enter or Ctrl-C, and
// without one the program ends at once.
//
// The window owns every component (TComponent owner model, released with the
// window) and the one output file of the runs. No database is touched at
// creation apart from the engine-wide settings of AdsSettings1.
#ifndef KDX_APP_MAIN_WINDOW_H_
#define KDX_APP_MAIN_WINDOW_H_

#include <chrono>
#include <exception>
#include <string>

#include "app/configuration.h"
#include "app/run_report.h"
#include "app/written_files.h"
#include "data/component.h"
#include "exports/export_host.h"
#include "platform/clock.h"
#include "platform/output_file.h"
#include "platform/ui_application.h"
#include "platform/ui_controls.h"
#include "platform/ui_timer.h"

class TAdsConnection;
class TAdsDataSet;
class TAdsSettings;

inline constexpr char kApplicationTitle[] = "KDX INTERFACE VER1.00 24/03/2010";
inline constexpr char kStoredCaption[] = "Interface module  Version 1.10 20/08/2008";
inline constexpr int kStartDelayMs = 5000;  // Timer1's stored interval

enum class WindowState { kStarting, kWaiting, kRunning, kLeaveCsv, kStopped, kEnding };

// How the window's life ended, for the exit status.
enum class RunOutcome {
  kNoRun,      // closed before any run started
  kCompleted,  // a run went to its end and closed the window
  kCompletedWithWarnings,  // as kCompleted, after going on past what it warned of
  kFailed,     // a run ended with an error (the message was shown)
};

class TForm1 : public TForm, public TComponent, public ExportHost {
 public:
  // Creates every component with its stored properties, attaches the
  // handlers, starts Timer1 and calls FormCreate. `site` names the program
  // file and the site folder, where PAVRO.ini and LOG.TXT live (a program
  // path alone: the program's own folder).
  TForm1(TApplication& application, const Clock& clock, RunSite site);
  ~TForm1() override;

  // ---- components -------------------------------------------------------------
  // AdsSettings1 and AdsConnection2 (which no run uses) are the window's own;
  // AdsConnection1 and the datasets are in Components().
  TAdsSettings* AdsSettings1 = nullptr;
  TAdsConnection* AdsConnection2 = nullptr;
  TEdit Edit1;
  TProgressBar ProgressBar1;
  TButton Button1;
  TTimer Timer1;

  // ---- handlers ---------------------------------------------------------------
  // Sets the caption to the application title; reads nothing, opens nothing.
  void FormCreate();
  // The unattended run: Timer1 off, LoadConfiguration, ExportEmployees,
  // ExportLeaveDays, close. An error ends the run where it happens (state
  // Stopped) and reaches the application's default error handler.
  void Timer1Timer();
  // The leave CSV mode: LoadConfiguration, ExportLeaveCsv (which shows its
  // own errors), close.
  void Button1Click();
  // What `--leave-csv` does once the window is shown: Timer1 off (this
  // process never makes the unattended run), then Button1Click through the
  // application's error handler.
  void StartLeaveCsvMode();

  // Hooks (app/hooks.cpp). Each ignores its argument and works on its own
  // component; none applies a password on a data-dictionary connection.
  void AdsQueryEmpBeforeOpen(TAdsDataSet& dataset);
  void wwQueryEmpCareerAfterOpen(TAdsDataSet& dataset);
  void TableEmpAllowanceAfterOpen(TAdsDataSet& dataset);
  void AdsTableParaAfterOpen(TAdsDataSet& dataset);

  WindowState GetWindowState() const { return state_; }
  RunOutcome Outcome() const { return outcome_; }
  // What the run of this window did, for its summary line: the mode, the
  // records of each export file it put in place (LOG.TXT is not an export file; the
  // leave CSV's header line is not a record), the time from the start of
  // the run to its end, and the message a failed run showed.
  RunSummary Summary(int exit_status) const;
  // The error that ended a failed run (null for a run that did not fail).
  const std::exception_ptr& Failure() const { return failure_; }
  // The program file and the site folder of the window's runs.
  const RunSite& ProgramPath() const { return site_; }

  // ---- ExportHost ---------------------------------------------------------------
  RunState& State() override { return run_state_; }
  OutputFile& Output() override { return output_file_; }
  const ExportComponents& Components() override { return components_; }
  const Clock& GetClock() override { return clock_; }
  void SetCaption(const std::string& caption) override { TForm::SetCaption(caption); }
  std::string Caption() override { return TForm::Caption(); }
  void SetStatusText(const std::string& text) override { Edit1.SetText(text); }
  void StepProgress() override { ProgressBar1.StepIt(); }
  void ProcessMessages() override { Application().ProcessMessages(); }
  void ShowMessage(const std::string& text) override;
  void SetWaitCursor(bool on) override { Application().SetWaitCursor(on); }
  // Disconnects AdsConnection1 (closing its datasets), points it at
  // SourcePath and gives it the fixed user name and password. Does not
  // connect. (app/hooks.cpp)
  void PrepareConnection() override;
  // Rewrites ProgramFolder + "LOG.TXT" with its one line. (app/run_log.cpp)
  void WriteRunLog() override;

 private:
  void CreateComponents();
  // LoadConfiguration, then the keys of PAVRO.ini no run reads as warnings.
  void LoadRunConfiguration();
  void OnWindowShown();
  void OnWindowClose();
  void OnEnter();
  // Marks the run as failed where `error` escaped it: state Stopped, its
  // message kept for the summary, and, without a terminal to wait at, the
  // window closes once the error has been shown.
  void EnterStopped(const std::exception_ptr& error);

  // Marks the start of a run in `mode`, as the summary line names it.
  void BeginRun(WindowState state, const char* mode);
  // Marks the end of the run; `completed` false keeps the failed outcome.
  void EndRun(bool completed);

  const Clock& clock_;
  RunSite site_;
  RunState run_state_;
  WrittenFiles written_files_;  // under output_file_: what the run wrote
  OutputFile output_file_{&written_files_};
  ExportComponents components_;
  WindowState state_ = WindowState::kStarting;
  RunOutcome outcome_ = RunOutcome::kNoRun;
  bool cursor_before_data_wait_ = false;
  std::string run_mode_;  // empty until a run begins
  std::chrono::steady_clock::time_point run_began_;
  std::chrono::steady_clock::time_point run_ended_;
  std::string last_message_;     // the last message box ShowMessage put up
  std::string failure_message_;  // what the failed run showed
  std::exception_ptr failure_;   // what ended the failed run
};

#endif  // KDX_APP_MAIN_WINDOW_H_
