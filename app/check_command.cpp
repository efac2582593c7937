#include "app/check_command.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/main_window.h"
#include "app/run_paths.h"
#include "platform/clock.h"
#include "platform/ui_application.h"
#include "platform/ui_terminal.h"

namespace {

// Waits for nothing: the check runs no message loop.
class NoEvents : public UiEventSource {
 public:
  int64_t NowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  UiEvents Wait(int) override { return {}; }
  bool Interactive() const override { return false; }
};

}  // namespace

int RunCheckCommand(const RunSite& site, CheckMode mode, std::FILE* out) {
  LineDisplay nowhere([](std::string_view) {});
  NoEvents events;
  TApplication application(nowhere, events);
  application.SetTitle(kApplicationTitle);
  SiteCheckReport report;
  try {
    TForm1 form(application, DefaultClock(), site);
    form.Timer1.SetEnabled(false);
    report = CheckSite(form, mode);
  } catch (const std::exception& e) {
    report.lines.push_back({CheckLine::Kind::kProblem, e.what()});
    ++report.problems;
  }
  const std::vector<std::string> unknown = UnknownKeyWarnings(ConfigurationFilePath(site.folder));
  for (CheckLine& line : report.lines) {
    if (line.kind == CheckLine::Kind::kWarning && std::find(unknown.begin(), unknown.end(), line.text) != unknown.end()) {
      line.kind = CheckLine::Kind::kProblem;
      ++report.problems;
    }
  }
  std::vector<CheckLine> lead = {{CheckLine::Kind::kInfo, "site folder " + site.folder + " (" + site.Why() + ")"}};
  if (const std::string problem = SiteFolderProblem(site); !problem.empty()) {
    lead.push_back({CheckLine::Kind::kProblem, problem});
    ++report.problems;
  }
  report.lines.insert(report.lines.begin(), lead.begin(), lead.end());
  const std::string text = FormatCheckReport(report);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return ToInt(report.problems == 0 ? ExitStatus::kCompleted : ExitStatus::kCheckFoundProblems);
}
