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
#include "app/messages_only_display.h"
#include "app/run_lock.h"
#include "app/run_report.h"
#include "app/site_check.h"
#include "platform/clock.h"
#include "platform/ui_application.h"
#include "platform/ui_events.h"
#include "platform/ui_terminal.h"

namespace {

// The exit statuses, as documented in the README and kdx-interface(1).
enum class ExitStatus {
  kCompleted = 0,            // the run completed and the window closed itself
  kRunFailed = 1,            // a run ended with an error (its message was shown)
  kBadCommandLine = 2,       // the command line could not be understood
  kClosedBeforeRun = 3,      // the window was closed before any run
  kAnotherRunUnderWay = 4,   // another run holds this program folder
  kCompletedWithWarnings = 5,  // the run completed, but went on past what its summary lists
};

int ToInt(ExitStatus status) { return static_cast<int>(status); }

ExitStatus ExitStatusFor(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kCompleted:
      return ExitStatus::kCompleted;
    case RunOutcome::kCompletedWithWarnings:
      return ExitStatus::kCompletedWithWarnings;
    case RunOutcome::kNoRun:
      return ExitStatus::kClosedBeforeRun;
    case RunOutcome::kFailed:
      break;
  }
  return ExitStatus::kRunFailed;
}

struct Options {
  bool leave_csv = false;
  bool check = false;
  bool quiet = false;
  std::optional<int> start_delay_ms;
};

// A line of the program's own on standard error.
void PrintLine(const std::string& text) { std::fprintf(stderr, "%s: %s\n", kProgramName, text.c_str()); }

// Reads the command line into `options`: nothing to go on with, or the exit
// status to end with at once (--help, --version, a bad command line).
std::optional<int> ParseCommandLine(int argc, char** argv, Options& options) {
  CLI::App cli{"Exports employee and leave data from the HR database to text files, once, "
               "a few seconds after it starts. PAVRO.ini and LOG.TXT live beside the program.",
               "kdx-interface"};
  cli.add_flag("--leave-csv", options.leave_csv,
               "Write the dated leave CSV file instead of the unattended run");
  cli.add_option("--start-delay", options.start_delay_ms,
                 "Milliseconds from showing the window to the unattended run (default 5000; 0 starts at once)")
      ->check(CLI::NonNegativeNumber);
  cli.add_flag("--check", options.check,
               "Check the site without writing anything: configuration, folders, tables, template; "
               "exit 0 when a run could start, 1 listing every problem");
  cli.add_flag("--quiet", options.quiet,
               "No caption lines and no summary line on standard error (messages still are; "
               "the system log still gets the summary)");
  cli.set_version_flag("--version", std::string("kdx-interface 1.0 (") + kApplicationTitle + ")");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return cli.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    cli.exit(e);
    return ToInt(ExitStatus::kBadCommandLine);
  }
  return std::nullopt;
}

// Shows the window, runs the chosen mode once and reports how it ended.
// Called holding the program folder's run lock.
ExitStatus RunWindow(const std::string& program_path, const Options& options, SystemEventSource& events,
                     SystemLog& system_log) {
  std::unique_ptr<Display> display = MakeStandardErrorDisplay();
  if (options.quiet && !display->IsTerminal()) display = std::make_unique<MessagesOnlyDisplay>(std::move(display));
  std::optional<TerminalInputMode> input_mode;
  if (events.Interactive()) input_mode.emplace();

  TApplication application(*display, events);
  application.SetTitle(kApplicationTitle);
  std::unique_ptr<TForm1> Form1;
  try {
    Form1 = std::make_unique<TForm1>(application, DefaultClock(), program_path);
  } catch (const std::exception& e) {
    system_log.Write(LogLevel::kError, e.what());
    application.HandleException();
    application.Finish();
    return ExitStatus::kRunFailed;
  } catch (...) {
    application.HandleException();
    application.Finish();
    return ExitStatus::kRunFailed;
  }
  if (options.start_delay_ms) Form1->Timer1.SetInterval(*options.start_delay_ms);
  application.Dispatch([&] { Form1->Show(); });
  if (options.leave_csv) Form1->StartLeaveCsvMode();
  application.Run();
  const ExitStatus status = ExitStatusFor(Form1->Outcome());
  // On a terminal the summary is the last line of the panel; elsewhere a
  // line of its own.
  ReportRun(Form1->Summary(ToInt(status)), system_log,
            [&](const std::string& line) {
              if (display->IsTerminal()) {
                Form1->SetHint(line);
                application.PaintNow();
              } else {
                PrintLine(line);
              }
            },
            options.quiet);
  Form1.reset();
  application.Finish();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> status = ParseCommandLine(argc, argv, options)) return *status;

  // A writer to a closed pipe gets an error, not a fatal signal.
  std::signal(SIGPIPE, SIG_IGN);

  std::string program_path;
  try {
    program_path = RunningProgramPath();
  } catch (const std::exception& e) {
    PrintLine(e.what());
    return ToInt(ExitStatus::kRunFailed);
  }

  if (options.check) {
    return RunSiteCheck(program_path, options.leave_csv ? CheckMode::kLeaveCsv : CheckMode::kUnattended, stdout);
  }
  Syslog system_log;

  // From here on SIGINT, SIGTERM and SIGHUP are close requests.
  std::unique_ptr<SystemEventSource> events;
  try {
    events = std::make_unique<SystemEventSource>();
  } catch (const std::exception& e) {
    PrintLine(e.what());
    system_log.Write(LogLevel::kError, e.what());
    return ToInt(ExitStatus::kRunFailed);
  }

  RunLock lock;
  switch (lock.Acquire(ProgramFolderOf(program_path))) {
    case RunLock::Result::kAcquired:
      break;
    case RunLock::Result::kHeldByAnother:
      PrintLine(lock.Message());
      system_log.Write(LogLevel::kWarning, lock.Message());
      return ToInt(ExitStatus::kAnotherRunUnderWay);
    case RunLock::Result::kFailed:
      PrintLine(lock.Message());
      system_log.Write(LogLevel::kError, lock.Message());
      return ToInt(ExitStatus::kRunFailed);
  }
  return ToInt(RunWindow(program_path, options, *events, system_log));
}
