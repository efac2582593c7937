// kdx-interface --check as the command line runs it: the site check
// (app/site_check.h) of a run site, led by the site folder it used and why,
// and with what PAVRO.ini holds that no run reads (a misspelt key, a section
// of another name) counted as problems: an administrator who wrote
// EMPLOYE_PATH learns it from the exit status, not only from a line. A run
// goes on past such entries with warnings (exit status 5), so --check passes
// only where a run can complete without one.
#ifndef KDX_APP_CHECK_COMMAND_H_
#define KDX_APP_CHECK_COMMAND_H_

#include <cstdio>

#include "app/configuration.h"
#include "app/site_check.h"

// Checks `site` for a run in `mode` and prints the report to `out`. The exit
// status: 0 when a run can start, 1 when a problem was found.
[[nodiscard]] int RunCheckCommand(const RunSite& site, CheckMode mode, std::FILE* out);

#endif  // KDX_APP_CHECK_COMMAND_H_
