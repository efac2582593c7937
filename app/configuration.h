// The configuration of a run: the file PAVRO.ini beside the program, and the
// paths and run period it puts into the run state.
#ifndef KDX_APP_CONFIGURATION_H_
#define KDX_APP_CONFIGURATION_H_

#include <string>
#include <vector>

#include "exports/export_host.h"
#include "platform/clock.h"

inline constexpr char kConfigurationFileName[] = "PAVRO.ini";
inline constexpr char kPathSection[] = "PATH";
inline constexpr char kDefaultSourcePath[] = "d:\\bramble";
inline constexpr char kDefaultEmployeePath[] = "c:\\temp\\employee.txt";
inline constexpr char kDefaultLeavePath[] = "";

// The folder part of a program path: everything up to and including its last
// "\" or "/", or up to its last ":" when it has neither; empty when it has
// none of them.
std::string ProgramFolderOf(const std::string& program_path);

// The configuration file of a program folder: folder + "PAVRO.ini". When no
// file of exactly that name exists but one whose name differs only in case
// does (PAVRO.INI copied from another system), that one is used.
std::string ConfigurationFilePath(const std::string& program_folder);

// Sets ProgramFolder, RunPeriod ("YYYYMM" of clock.Now()), SourcePath,
// EmployeePath, LeavePath and ConfigurationFile (the file it read, or would
// have read) of `state` and leaves its other fields alone.
// Reports nothing: a missing or unreadable file, section or key gives the
// defaults "d:\bramble", "c:\temp\employee.txt" and "". Values are taken as
// they stand in the file (up to 2047 characters), unchecked.
void LoadConfiguration(RunState& state, const Clock& clock, const std::string& program_path);

// One setting of the configuration as a run would take it, and where it
// came from.
struct ConfigurationValue {
  std::string key;    // "SOURCE_PATH", "EMPLOYEE_PATH", "LEAVE_PATH"
  std::string value;  // what LoadConfiguration puts into the run state
  bool from_file = false;  // false: the default, the file or its key missing
  bool cut = false;        // the file's value is longer than a value may be
};

// The three settings in the order LoadConfiguration reads them, with the
// values it would take from `configuration_file` (ConfigurationFilePath).
std::vector<ConfigurationValue> DescribeConfiguration(const std::string& configuration_file);

// The full path of the running program file. Raises Exception when the
// system cannot tell it.
std::string RunningProgramPath();

#endif  // KDX_APP_CONFIGURATION_H_
