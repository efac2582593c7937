// How the end of a run is reported besides LOG.TXT: one summary line (the
// mode, the records written to each file, the elapsed seconds and the exit
// status) for whoever watches the program, and the same line in the system
// log under the program's name, preceded there by a failed run's message.
//
// The system log sits behind SystemLog so that tests capture what would be
// sent; the program sends it through syslog(3).
#ifndef KDX_APP_RUN_REPORT_H_
#define KDX_APP_RUN_REPORT_H_

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

inline constexpr char kProgramName[] = "kdx-interface";

enum class LogLevel { kInfo, kWarning, kError };

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void Write(LogLevel level, const std::string& line) = 0;
};

// syslog(3) under the identifier "kdx-interface", with the process id, as a
// user-level program. Without a system logger the lines are dropped; sending
// never fails and never blocks a run.
class Syslog : public SystemLog {
 public:
  Syslog();
  ~Syslog() override;
  Syslog(const Syslog&) = delete;
  Syslog& operator=(const Syslog&) = delete;
  void Write(LogLevel level, const std::string& line) override;
};

struct FileRecords {
  std::string file;  // "employee file", "leave-day file", "leave CSV"
  uint64_t records = 0;
};

struct RunSummary {
  std::string mode;        // "unattended run", "leave CSV run"
  bool ran = false;        // false: the window closed before any run began
  bool completed = false;  // the run went to its end
  std::vector<FileRecords> files;  // in the order they were written
  double elapsed_seconds = 0;      // from the start of the run to its end
  int exit_status = 0;
  std::string error;  // the message a failed run showed, as shown
  std::vector<std::string> warnings;  // what the run went on after
};

// A line of the program's own on standard error: the local time `when` in
// ISO 8601 with its offset, the site folder and the program's name before
// `text`, e.g. "2010-03-24T18:30:05+08:00 /var/lib/kdx-interface/hq/
// kdx-interface: unattended run completed: ...". The second form takes the
// time now.
std::string StampedLine(std::time_t when, const std::string& site_folder, const std::string& text);
std::string StampedLine(const std::string& site_folder, const std::string& text);

// For example "unattended run completed: employee file 1200 records,
// leave-day file 35 records; 4.31 s; exit status 0", or "no run: the window
// was closed before the run began; exit status 3". A failed run's status
// carries its meaning: "...; exit status 69 (HR database unavailable)". A run
// with warnings "completed with warnings" and lists them after the exit
// status: "...; exit status 5; warnings: <first>; <second>".
std::string SummaryLine(const RunSummary& summary);

// Sends a failed run's message and then the summary line to `log`, always;
// and the summary line to `terminal` unless `quiet` or no run began.
void ReportRun(const RunSummary& summary, SystemLog& log, const std::function<void(const std::string&)>& terminal,
               bool quiet);

#endif  // KDX_APP_RUN_REPORT_H_
