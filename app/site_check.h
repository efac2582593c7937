// kdx-interface --check: everything a run does up to its first output byte,
// and nothing after it, so that a site can be checked before its first
// scheduled night. It reads PAVRO.ini, connects, opens every table and query
// of the chosen mode with the run's own statements, passwords and indexes,
// checks every template row by the export's rules, checks that the program
// folder and each output folder take a new file (by creating and removing a
// temporary one), and counts what the run would export.
//
// It writes nothing that stays: no export file, no LOG.TXT, no run lock (it
// does not take the lock, so it may run beside a real run). Every problem is
// listed, not only the first.
#ifndef KDX_APP_SITE_CHECK_H_
#define KDX_APP_SITE_CHECK_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class TForm1;

enum class CheckMode { kUnattended, kLeaveCsv };

struct CheckLine {
  enum class Kind {
    kInfo,     // what was read: the configuration, the counts
    kOk,       // a step a run makes that went through
    kWarning,  // worth a look; a run would go through
    kProblem,  // a run would fail, or write a wrong field into every record
  };
  Kind kind = Kind::kInfo;
  std::string text;
};

struct SiteCheckReport {
  std::vector<CheckLine> lines;  // in the order of the steps
  int problems = 0;
  std::optional<int64_t> current_employees;  // unattended mode, when counted
  std::optional<int64_t> leave_records;      // approved leave the run would read
};

// Checks the site of `form`'s site folder for a run in `mode`. Uses the
// window's components, hooks and run state; opens datasets and leaves them
// open. Never raises for what it finds: every failure becomes a line.
SiteCheckReport CheckSite(TForm1& form, CheckMode mode);

// The report as printed: one line per CheckLine, "ok", "warning" and
// "PROBLEM" lines tagged, then a result line.
std::string FormatCheckReport(const SiteCheckReport& report);

#endif  // KDX_APP_SITE_CHECK_H_
