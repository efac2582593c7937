// What the export jobs need of the main window: the run state they share, the
// dataset components they read, the clock, the window texts they update, and
// the two shared run steps (PrepareConnection, WriteRunLog). The main window
// (app/main_window.h) implements it; tests implement it with real datasets on
// a test database and a window that records what it was shown.
//
// The host owns everything it hands out; the jobs keep no references beyond
// one call.
#ifndef KDX_EXPORTS_EXPORT_HOST_H_
#define KDX_EXPORTS_EXPORT_HOST_H_

#include <exception>
#include <string>
#include <vector>

#include "exports/export_components.h"
#include "platform/clock.h"
#include "platform/output_file.h"

// The settings of PAVRO.ini the run paths come from.
inline constexpr char kSourcePathKey[] = "SOURCE_PATH";
inline constexpr char kEmployeePathKey[] = "EMPLOYEE_PATH";
inline constexpr char kLeavePathKey[] = "LEAVE_PATH";

// The fields of the main window that the run steps share.
struct RunState {
  // The site folder (app/configuration.h: PAVRO.ini, LOG.TXT, the run lock),
  // ending in a separator; the program file's folder when no other is given.
  std::string ProgramFolder;
  std::string RunPeriod;       // "YYYYMM" of the run
  std::string SourcePath;
  std::string EmployeePath;
  std::string LeavePath;
  std::string LogPath;
  std::string FieldSeparator;  // empty at start
  double AsOfDate = 0;         // date-time; 0 at start
  // What the run went on after: a message it showed and did not stop for,
  // values it had to change on their way into a file, settings it could not
  // read. A run that ends with any of these does not end as a clean success.
  std::vector<std::string> Warnings;
  // The configuration file the paths were read from (set with them).
  std::string ConfigurationFile;
  // The error a step showed itself and ended the run on (the leave CSV run
  // shows its own errors), so that the exit status can tell what failed;
  // null while no step did.
  std::exception_ptr Failure;

  // A setting as messages name it: "EMPLOYEE_PATH in /opt/kdx/PAVRO.ini".
  std::string Setting(const char* key) const {
    return ConfigurationFile.empty() ? std::string(key) : std::string(key) + " in " + ConfigurationFile;
  }
};

class ExportHost {
 public:
  virtual ~ExportHost() = default;

  virtual RunState& State() = 0;
  virtual OutputFile& Output() = 0;
  virtual const ExportComponents& Components() = 0;
  virtual const Clock& GetClock() = 0;

  // Window texts.
  virtual void SetCaption(const std::string& caption) = 0;
  virtual std::string Caption() = 0;
  virtual void SetStatusText(const std::string& text) = 0;  // Edit1
  virtual void StepProgress() = 0;                          // ProgressBar1, one step
  // Dispatches what is queued for the window and returns at once.
  virtual void ProcessMessages() = 0;
  // A message box with the application title and one OK.
  virtual void ShowMessage(const std::string& text) = 0;
  // The application-wide wait cursor.
  virtual void SetWaitCursor(bool on) = 0;

  // Shared run steps.
  virtual void PrepareConnection() = 0;
  virtual void WriteRunLog() = 0;
};

#endif  // KDX_EXPORTS_EXPORT_HOST_H_
