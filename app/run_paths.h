// The paths of a run, checked before it writes anything. An output path
// that names a database file, PAVRO.ini, LOG.TXT, the run lock, the program
// or the run's other output would destroy it; one that names a link, a FIFO,
// a device, a folder or a socket is not a file the run can replace; a value
// PAVRO.ini cut at its length limit names another file than the one meant;
// a default written for another system names no file here. Each is refused
// with a message naming the setting and the path, so that the run stops
// before its first output instead of half way.
//
// Stateless; reads the file system (lstat, realpath, a file's first bytes)
// and never writes to it.
#ifndef KDX_APP_RUN_PATHS_H_
#define KDX_APP_RUN_PATHS_H_

#include <string>
#include <vector>

#include "app/configuration.h"
#include "exports/export_host.h"

// An output of the run and the setting it comes from.
struct RunOutput {
  const char* key;   // kEmployeePathKey, kLeavePathKey
  std::string path;  // as the run opens it
};

// The outputs of the unattended run (employee file, leave-day file) and of
// the leave CSV run (its dated file), with the paths `state` gives them.
std::vector<RunOutput> UnattendedOutputs(const RunState& state);
std::vector<RunOutput> LeaveCsvOutputs(const RunState& state, const std::string& csv_file);

// Every reason the run must not start with the settings in `state` (read by
// LoadConfiguration for `site`) and `outputs`; empty when there is none.
// LOG.TXT and the run lock are guarded in state.ProgramFolder, the program
// as site.program.
std::vector<std::string> RunPathProblems(const RunState& state, const std::vector<RunOutput>& outputs,
                                         const RunSite& site);

// Raises EConfigurationError with the problems of RunPathProblems, joined by
// "; ", when there are any.
void RefuseBadRunPaths(const RunState& state, const std::vector<RunOutput>& outputs, const RunSite& site);

// What the configuration file holds that no run reads, in file order: each
// key of section PATH it does not know, with the nearest key it does read
// ("PAVRO.ini: unknown key EMPLOYE_PATH in section PATH of
// /srv/kdx/PAVRO.ini (did you mean EMPLOYEE_PATH?)"), and each section but
// PATH ("PAVRO.ini: unknown section PATHS of /srv/kdx/PAVRO.ini (did you
// mean PATH?)"). A run goes on past them with warnings; --check counts
// them as problems.
std::vector<std::string> UnknownKeyWarnings(const std::string& configuration_file);

#endif  // KDX_APP_RUN_PATHS_H_
