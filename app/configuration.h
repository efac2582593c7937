// The configuration of a run: the site folder, the file PAVRO.ini in it, and
// the paths and run period it puts into the run state.
#ifndef KDX_APP_CONFIGURATION_H_
#define KDX_APP_CONFIGURATION_H_

#include <optional>
#include <string>
#include <vector>

#include "exports/export_host.h"
#include "platform/clock.h"
#include "util/error.h"

inline constexpr char kConfigurationFileName[] = "PAVRO.ini";
inline constexpr char kPathSection[] = "PATH";
inline constexpr char kDefaultSourcePath[] = "d:\\bramble";
inline constexpr char kDefaultEmployeePath[] = "c:\\temp\\employee.txt";
inline constexpr char kDefaultLeavePath[] = "";

// The environment variable that names the site folder when --site does not.
inline constexpr char kSiteVariable[] = "KDX_SITE";

// A run that cannot start as configured: PAVRO.ini, one of its settings, or
// the site folder. Nothing has been written when it is raised.
class EConfigurationError : public Exception {
 public:
  explicit EConfigurationError(const std::string& message) : Exception(message) {}
};

// Where a run keeps its own files. The site folder takes the part the
// program folder has without one: PAVRO.ini is read from it, LOG.TXT and the
// run lock are written in it. Without --site and KDX_SITE it is the folder of
// the program file, so that a site keeping a copy of the program beside its
// PAVRO.ini runs as it always has.
struct RunSite {
  enum class Origin { kProgramFolder, kOption, kEnvironment };

  // The program's own folder.
  RunSite(std::string program_path);  // NOLINT(google-explicit-constructor): a program path is such a site
  // `site_folder` as given; ChooseRunSite makes it absolute.
  RunSite(std::string program_path, std::string site_folder, Origin origin);

  std::string program;  // the running program file
  std::string folder;   // ends in a separator (or is empty: a program path without a folder)
  Origin origin = Origin::kProgramFolder;

  // Why this folder: "given by --site", "given by the environment variable
  // KDX_SITE", "the program's own folder: no --site, no KDX_SITE".
  std::string Why() const;
};

// The site of a run of `program_path`: `option` (--site) when given, else
// `environment` (the value of KDX_SITE) when set and not empty, else the
// program's own folder. A relative folder is taken from the working folder,
// and a separator is added at its end.
RunSite ChooseRunSite(const std::string& program_path, const std::optional<std::string>& option,
                      const char* environment);

// Why `site` cannot hold a run: its folder does not exist or is no folder,
// e.g. "site folder '/var/lib/kdx-interface/a/' (given by --site) does not
// exist"; empty when it can. The program's own folder is never refused here.
std::string SiteFolderProblem(const RunSite& site);

// The folder part of a program path: everything up to and including its last
// "\" or "/", or up to its last ":" when it has neither; empty when it has
// none of them.
std::string ProgramFolderOf(const std::string& program_path);

// The configuration file of a program folder: folder + "PAVRO.ini". When no
// file of exactly that name exists but one whose name differs only in case
// does (PAVRO.INI copied from another system), that one is used.
std::string ConfigurationFilePath(const std::string& program_folder);

// Sets ProgramFolder (the site folder of `site`), RunPeriod ("YYYYMM" of
// clock.Now()), SourcePath, EmployeePath, LeavePath and ConfigurationFile
// (the file it read, or would have read) of `state` and leaves its other
// fields alone.
// Reports nothing: a missing or unreadable file, section or key gives the
// defaults "d:\bramble", "c:\temp\employee.txt" and "". Values are taken as
// they stand in the file (up to 2047 characters), unchecked.
void LoadConfiguration(RunState& state, const Clock& clock, const RunSite& site);

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
