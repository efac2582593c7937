#include "app/run_report.h"

#include <syslog.h>

#include <cstdio>
#include <ctime>

#include "app/exit_status.h"

namespace {

int SyslogPriority(LogLevel level) {
  switch (level) {
    case LogLevel::kInfo:
      return LOG_INFO;
    case LogLevel::kWarning:
      return LOG_WARNING;
    case LogLevel::kError:
      break;
  }
  return LOG_ERR;
}

std::string Records(uint64_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

}  // namespace

Syslog::Syslog() { openlog(kProgramName, LOG_PID, LOG_USER); }

Syslog::~Syslog() { closelog(); }

void Syslog::Write(LogLevel level, const std::string& line) { syslog(SyslogPriority(level), "%s", line.c_str()); }

std::string StampedLine(std::time_t when, const std::string& site_folder, const std::string& text) {
  std::tm local {};
  localtime_r(&when, &local);
  char stamp[40];
  const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string time(stamp, n);
  // ISO 8601 writes the offset as +hh:mm.
  if (time.size() >= 5 && (time[time.size() - 5] == '+' || time[time.size() - 5] == '-')) {
    time.insert(time.size() - 2, ":");
  }
  return time + " " + (site_folder.empty() ? std::string("./") : site_folder) + " " + kProgramName + ": " + text;
}

std::string StampedLine(const std::string& site_folder, const std::string& text) {
  return StampedLine(std::time(nullptr), site_folder, text);
}

std::string SummaryLine(const RunSummary& summary) {
  const std::string meaning = ExitStatusMeaning(summary.exit_status);
  const std::string status =
      "exit status " + std::to_string(summary.exit_status) + (meaning.empty() ? "" : " (" + meaning + ")");
  if (!summary.ran) return "no run: the window was closed before the run began; " + status;
  std::string line = summary.mode + (!summary.completed          ? " failed: "
                                     : summary.warnings.empty() ? " completed: "
                                                                : " completed with warnings: ");
  if (summary.files.empty()) line += "no file written";
  for (size_t i = 0; i < summary.files.size(); ++i) {
    if (i > 0) line += ", ";
    line += summary.files[i].file + " " + Records(summary.files[i].records);
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", summary.elapsed_seconds);
  line += std::string("; ") + seconds + "; " + status;
  // A failed run is summed up by its error; what it warned of before does
  // not matter any more.
  if (summary.completed) {
    for (size_t i = 0; i < summary.warnings.size(); ++i) line += (i == 0 ? "; warnings: " : "; ") + summary.warnings[i];
  }
  return line;
}

void ReportRun(const RunSummary& summary, SystemLog& log, const std::function<void(const std::string&)>& terminal,
               bool quiet) {
  const std::string line = SummaryLine(summary);
  const bool failed = summary.ran && !summary.completed;
  if (failed && !summary.error.empty()) log.Write(LogLevel::kError, "error: " + summary.error);
  const bool warned = summary.ran && !summary.warnings.empty();
  log.Write(failed ? LogLevel::kError : warned || !summary.ran ? LogLevel::kWarning : LogLevel::kInfo, line);
  // A window closed before its run began has nothing to sum up on the
  // terminal; the log still learns that a start did nothing.
  if (!quiet && summary.ran && terminal) terminal(line);
}
