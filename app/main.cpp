// kdx-interface: parses the command line, chooses the site folder, creates
// the application and its main window, runs the message loop, and maps how
// the window's life ended to the exit status (app/exit_status.h), here and
// nowhere else.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "app/check_command.h"
#include "app/configuration.h"
#include "app/exit_status.h"
#include "app/main_window.h"
#include "app/messages_only_display.h"
#include "app/run_lock.h"
#include "app/run_report.h"
#include "app/stamped_display.h"
#include "app/unattended_events.h"
#include "platform/clock.h"
#include "platform/ui_application.h"
#include "platform/ui_events.h"
#include "platform/ui_terminal.h"

namespace {

// The longest start delay: an hour.
constexpr int kMaxStartDelaySeconds = 3600;

ExitStatus ExitStatusFor(const TForm1& form) {
  switch (form.Outcome()) {
    case RunOutcome::kCompleted:
      return ExitStatus::kCompleted;
    case RunOutcome::kCompletedWithWarnings:
      return ExitStatus::kCompletedWithWarnings;
    case RunOutcome::kNoRun:
      return ExitStatus::kClosedBeforeRun;
    case RunOutcome::kFailed:
      break;
  }
  return ExitStatusForError(form.Failure());
}

struct Options {
  bool leave_csv = false;
  bool check = false;
  bool quiet = false;
  bool unattended = false;
  std::optional<std::string> site;
  std::optional<std::string> start_delay;  // as given; checked by StartDelaySeconds
};

// A line of the program's own on standard error, led by the time and the
// site folder.
void PrintLine(const RunSite& site, const std::string& text) {
  std::fprintf(stderr, "%s\n", StampedLine(site.folder, text).c_str());
}

// The seconds of --start-delay: a whole number from 0 to
// kMaxStartDelaySeconds, digits only.
std::optional<int> StartDelaySeconds(const std::string& text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int seconds = std::stoi(text);
  if (seconds > kMaxStartDelaySeconds) return std::nullopt;
  return seconds;
}

// Reads the command line into `options`: nothing to go on with, or the exit
// status to end with at once (--help, --version, a bad command line).
std::optional<int> ParseCommandLine(int argc, char** argv, Options& options) {
  CLI::App cli{"Exports employee and leave data from the HR database to text files, once, "
               "a few seconds after it starts. PAVRO.ini, LOG.TXT and the run lock live in the site folder: "
               "--site DIR, else $KDX_SITE, else the program's own folder.",
               "kdx-interface"};
  cli.add_flag("--leave-csv", options.leave_csv,
               "Write the dated leave CSV file instead of the unattended run");
  cli.add_option("--site", options.site,
                 "The site folder: PAVRO.ini is read from it, LOG.TXT and the run lock are written in it "
                 "(default: $KDX_SITE, else the program's own folder)")
      ->type_name("DIR")
      ->check([](const std::string& value) { return value.empty() ? std::string("needs a folder") : std::string(); });
  cli.add_option("--start-delay", options.start_delay,
                 "Seconds from showing the window to the unattended run, a whole number from 0 to 3600 "
                 "(default 5, also without a terminal; the systemd units and cron examples give 0)")
      ->type_name("SECONDS");
  cli.add_flag("--unattended", options.unattended,
               "Never wait for a key, whatever standard input is: an error is printed and the program ends "
               "(the systemd units use it)");
  cli.add_flag("--check", options.check,
               "Check the site without writing anything: configuration, folders, tables, template; "
               "exit 0 when a run could start, 1 listing every problem");
  cli.add_flag("--quiet", options.quiet,
               "No caption lines and no summary line on standard error (messages still are; "
               "the system log still gets the summary)");
  cli.set_version_flag("--version", std::string("kdx-interface 1.0 (") + kApplicationTitle + ")");
  cli.footer("Exit statuses:\n" + ExitStatusTable());
  try {
    cli.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return cli.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    cli.exit(e);
    return ToInt(ExitStatus::kBadCommandLine);
  }
  if (options.start_delay && !StartDelaySeconds(*options.start_delay)) {
    std::fprintf(stderr, "%s: --start-delay takes a whole number of seconds from 0 to %d, not '%s'\n", kProgramName,
                 kMaxStartDelaySeconds, options.start_delay->c_str());
    return ToInt(ExitStatus::kBadCommandLine);
  }
  return std::nullopt;
}

// Shows the window, runs the chosen mode once and reports how it ended.
// Called holding the site folder's run lock.
ExitStatus RunWindow(const RunSite& site, const Options& options, UiEventSource& events, SystemLog& system_log) {
  std::unique_ptr<Display> display = MakeStandardErrorDisplay();
  if (options.quiet && !display->IsTerminal()) display = std::make_unique<MessagesOnlyDisplay>(std::move(display));
  display = std::make_unique<StampedDisplay>(std::move(display), site.folder);
  std::optional<TerminalInputMode> input_mode;
  if (events.Interactive()) input_mode.emplace();

  TApplication application(*display, events);
  application.SetTitle(kApplicationTitle);
  std::unique_ptr<TForm1> Form1;
  try {
    Form1 = std::make_unique<TForm1>(application, DefaultClock(), site);
  } catch (const std::exception& e) {
    system_log.Write(LogLevel::kError, e.what());
    const ExitStatus status = ExitStatusForError(std::current_exception());
    application.HandleException();
    application.Finish();
    return status;
  } catch (...) {
    application.HandleException();
    application.Finish();
    return ExitStatus::kInternalError;
  }
  if (options.start_delay) Form1->Timer1.SetInterval(*StartDelaySeconds(*options.start_delay) * 1000);
  application.Dispatch([&] { Form1->Show(); });
  if (options.leave_csv) Form1->StartLeaveCsvMode();
  application.Run();
  const ExitStatus status = ExitStatusFor(*Form1);
  // On a terminal the summary is the last line of the panel; elsewhere a
  // line of its own.
  ReportRun(Form1->Summary(ToInt(status)), system_log,
            [&](const std::string& line) {
              if (display->IsTerminal()) {
                Form1->SetHint(line);
                application.PaintNow();
              } else {
                PrintLine(site, line);
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
    PrintLine(RunSite(""), e.what());
    return ToInt(ExitStatus::kSystemError);
  }
  const RunSite site = ChooseRunSite(program_path, options.site, std::getenv(kSiteVariable));

  if (options.check) {
    return RunCheckCommand(site, options.leave_csv ? CheckMode::kLeaveCsv : CheckMode::kUnattended, stdout);
  }
  Syslog system_log;

  if (const std::string problem = SiteFolderProblem(site); !problem.empty()) {
    PrintLine(site, problem);
    system_log.Write(LogLevel::kError, problem);
    return ToInt(ExitStatus::kConfiguration);
  }

  // From here on SIGINT, SIGTERM and SIGHUP are close requests.
  std::unique_ptr<SystemEventSource> system_events;
  try {
    system_events = std::make_unique<SystemEventSource>();
  } catch (const std::exception& e) {
    PrintLine(site, e.what());
    system_log.Write(LogLevel::kError, e.what());
    return ToInt(ExitStatus::kSystemError);
  }
  UnattendedEvents unattended_events(*system_events);
  UiEventSource& events = options.unattended ? static_cast<UiEventSource&>(unattended_events) : *system_events;

  RunLock lock;
  switch (lock.Acquire(site.folder)) {
    case RunLock::Result::kAcquired:
      break;
    case RunLock::Result::kHeldByAnother:
      PrintLine(site, lock.Message());
      system_log.Write(LogLevel::kWarning, lock.Message());
      return ToInt(ExitStatus::kAnotherRunUnderWay);
    case RunLock::Result::kFailed:
      PrintLine(site, lock.Message());
      system_log.Write(LogLevel::kError, lock.Message());
      return ToInt(ExitStatus::kCannotCreateOutput);
  }
  return ToInt(RunWindow(site, options, events, system_log));
}
