// The run log LOG.TXT in the site folder: one line, rewritten by every leave
// run. Sites may parse the line, so its text and pattern stay as they are,
// including "HHSSMM", which prints hour, seconds and then the month.
#include "app/configuration.h"
#include "app/main_window.h"
#include "util/date_format.h"

namespace {

constexpr char kLogFileName[] = "LOG.TXT";
constexpr char kLogLineText[] = "LEAVE DATA DOWNLOADED DATE : ";
constexpr char kLogLinePattern[] = "DD/MM/YYYY  HHSSMM";

}  // namespace

void TForm1::WriteRunLog() {
  // The log lives in the site folder even if the configuration was never
  // read in this process.
  if (run_state_.ProgramFolder.empty()) run_state_.ProgramFolder = site_.folder;
  run_state_.LogPath = run_state_.ProgramFolder + kLogFileName;
  output_file_.Assign(run_state_.LogPath, "the run log in the site folder");
  try {
    output_file_.Rewrite();
    output_file_.WriteLine(std::string(kLogLineText) + FormatDateTime(kLogLinePattern, clock_.Now()));
    output_file_.Close();
  } catch (...) {
    // The failing operation ends the step; the file is not left open for the
    // next job to trip over.
    output_file_.CloseAfterError();
    throw;
  }
}
