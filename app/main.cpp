// kdx-interface: parses the command line, creates the application and its
// main window, runs the message loop, and maps how the window's life ended to
// the exit status, here and nowhere else.
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "app/configuration.h"
#include "app/main_window.h"
#include "app/run_lock.h"
#include "platform/clock.h"
#include "platform/ui_application.h"
#include "platform/ui_events.h"
#include "platform/ui_terminal.h"

namespace {

// The exit statuses, as documented in the README.
enum class ExitStatus {
  kCompleted = 0,            // the run completed and the window closed itself
  kRunFailed = 1,            // a run ended with an error (its message was shown)
  kBadCommandLine = 2,       // the command line could not be understood
  kClosedBeforeRun = 3,      // the window was closed before any run
  kAnotherRunUnderWay = 4,   // another run holds this program folder
};

int ToInt(ExitStatus status) { return static_cast<int>(status); }

ExitStatus ExitStatusFor(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kCompleted:
      return ExitStatus::kCompleted;
    case RunOutcome::kNoRun:
      return ExitStatus::kClosedBeforeRun;
    case RunOutcome::kFailed:
      break;
  }
  return ExitStatus::kRunFailed;
}

struct Options {
  bool leave_csv = false;
  std::optional<int> start_delay_ms;
};

void PrintError(const std::string& text) { std::fprintf(stderr, "kdx-interface: %s\n", text.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App cli{"Exports employee and leave data from the HR database to text files, once, "
               "a few seconds after it starts. PAVRO.ini and LOG.TXT live beside the program.",
               "kdx-interface"};
  cli.add_flag("--leave-csv", options.leave_csv,
               "Write the dated leave CSV file instead of the unattended run");
  cli.add_option("--start-delay", options.start_delay_ms,
                 "Milliseconds from showing the window to the unattended run (default 5000; 0 starts at once)")
      ->check(CLI::NonNegativeNumber);
  cli.set_version_flag("--version", std::string("kdx-interface 1.0 (") + kApplicationTitle + ")");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return cli.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    cli.exit(e);
    return ToInt(ExitStatus::kBadCommandLine);
  }

  // A writer to a closed pipe gets an error, not a fatal signal.
  std::signal(SIGPIPE, SIG_IGN);

  std::string program_path;
  try {
    program_path = RunningProgramPath();
  } catch (const std::exception& e) {
    PrintError(e.what());
    return ToInt(ExitStatus::kRunFailed);
  }

  // From here on SIGINT, SIGTERM and SIGHUP are close requests.
  std::unique_ptr<SystemEventSource> events;
  try {
    events = std::make_unique<SystemEventSource>();
  } catch (const std::exception& e) {
    PrintError(e.what());
    return ToInt(ExitStatus::kRunFailed);
  }

  RunLock lock;
  switch (lock.Acquire(ProgramFolderOf(program_path))) {
    case RunLock::Result::kAcquired:
      break;
    case RunLock::Result::kHeldByAnother:
      PrintError(lock.Message());
      return ToInt(ExitStatus::kAnotherRunUnderWay);
    case RunLock::Result::kFailed:
      PrintError(lock.Message());
      return ToInt(ExitStatus::kRunFailed);
  }

  std::unique_ptr<Display> display = MakeStandardErrorDisplay();
  std::optional<TerminalInputMode> input_mode;
  if (events->Interactive()) input_mode.emplace();

  RunOutcome outcome = RunOutcome::kFailed;
  {
    TApplication application(*display, *events);
    application.SetTitle(kApplicationTitle);
    std::unique_ptr<TForm1> Form1;
    try {
      Form1 = std::make_unique<TForm1>(application, DefaultClock(), program_path);
    } catch (...) {
      application.HandleException();
      application.Finish();
      return ToInt(ExitStatus::kRunFailed);
    }
    if (options.start_delay_ms) Form1->Timer1.SetInterval(*options.start_delay_ms);
    application.Dispatch([&] { Form1->Show(); });
    if (options.leave_csv) Form1->StartLeaveCsvMode();
    application.Run();
    outcome = Form1->Outcome();
    Form1.reset();
    application.Finish();
  }
  return ToInt(ExitStatusFor(outcome));
}
