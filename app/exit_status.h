// The exit statuses of kdx-interface, for a monitor to act on: 0, 3 and 5
// for runs that went to their end (or never began), sysexits(3) codes for
// every way a run can fail, and 1 only for --check finding problems. A
// failure is classed by the type of the error that ended it, never by its
// text. The README, kdx-interface(1) and --help list the same table.
#ifndef KDX_APP_EXIT_STATUS_H_
#define KDX_APP_EXIT_STATUS_H_

#include <sysexits.h>

#include <exception>
#include <string>

enum class ExitStatus {
  kCompleted = 0,               // the run completed and the window closed itself
  kCheckFoundProblems = 1,      // --check listed at least one problem
  kClosedBeforeRun = 3,         // the window was closed before any run
  kCompletedWithWarnings = 5,   // the run completed, but went on past what its summary lists
  kBadCommandLine = EX_USAGE,   // 64
  kBadData = EX_DATAERR,        // 65: a value or a row inside the HR database
  kDatabaseUnavailable = EX_UNAVAILABLE,  // 69: the database cannot be reached or opened as the run needs it
  kInternalError = EX_SOFTWARE,  // 70: an error the program does not class
  kSystemError = EX_OSERR,       // 71: the system refused what every run needs (its own path, signals)
  kCannotCreateOutput = EX_CANTCREAT,  // 73: an output file, LOG.TXT or the run lock cannot be made
  kCannotWriteOutput = EX_IOERR,       // 74: an output file cannot be written to its end
  kAnotherRunUnderWay = EX_TEMPFAIL,   // 75: another run holds the site folder; try later
  kConfiguration = EX_CONFIG,          // 78: PAVRO.ini, a setting or the site folder
};

inline int ToInt(ExitStatus status) { return static_cast<int>(status); }

// The status a run ends with when `error` ended it:
//   EConfigurationError                                  78
//   EInOutError 2, 3, 5 (no such folder, no permission)  73
//   EInOutError 105 (a path setting is empty)            78
//   EInOutError 103 (written while closed)               70
//   any other EInOutError (disk full, a device fault)    74
//   EADSDatabaseError of a bad-data code (IsBadDataCode) 65
//   any other EADSDatabaseError                          69
//   EDataError, EDatabaseError, EZeroDivide              65
//   anything else, and no error at all                   70
[[nodiscard]] ExitStatus ExitStatusForError(const std::exception_ptr& error);

// What a failure status means, as the summary line adds it in parentheses
// ("HR database unavailable"); empty for 0, 1, 3 and 5.
std::string ExitStatusMeaning(int status);

// The table of every status with its meaning, one per line, as --help ends.
std::string ExitStatusTable();

#endif  // KDX_APP_EXIT_STATUS_H_
