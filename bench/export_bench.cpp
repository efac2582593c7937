// Throughput and peak memory of the export jobs on generated databases.
//
//   export_bench [--employees N,...] [--leaves N] [--keep FOLDER]
//
// Every database is the sample HR database of `kdx-db sample` (tools/
// sample_database.h), generated as of the run day (15 June 2010) with its
// tables unsealed and its template of 41 rows that touches every field kind.
//  - For each employee count (default 10,000 and 100,000): the employee export
//    of that database's current employees.
//  - For the leave count (default 100,000; 0 skips it): the leave-day export
//    on a database of one employee per kLeavesPerEmployee records that holds
//    exactly that many leave records selected by the run (approved Z or Y,
//    modified on the run day, employee present), half of them split into
//    LEAV_TRX rows, half without, mostly walked over the working calendar of
//    full, half and rest days; besides the employees' own leave not selected.
// Each export runs in a child process, so that its peak resident memory is
// its own; generation is not timed.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "data/component.h"
#include "data/settings.h"
#include "exports/credentials.h"
#include "exports/employee_export.h"
#include "exports/export_components.h"
#include "exports/export_host.h"
#include "exports/leave_days.h"
#include "platform/clock.h"
#include "platform/output_file.h"
#include "tools/sample_database.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"

namespace {

// The day of the runs, and of the generation: the sample's dates are laid
// out around it.
constexpr CivilDate kRunDay{2010, 6, 15};
// Selected leave records per employee in the leave-day database.
constexpr int64_t kLeavesPerEmployee = 10;

// The main window's components as the window builds them, with its open
// hooks; the window texts go nowhere.
class BenchHost : public ExportHost {
 public:
  BenchHost() : owner_(std::make_unique<TComponent>(nullptr, "Form1")) {
    c_ = CreateExportComponents(*owner_);
    AttachPasswordHooks(c_);
  }

  RunState& State() override { return state_; }
  OutputFile& Output() override { return output_; }
  const ExportComponents& Components() override { return c_; }
  const Clock& GetClock() override { return clock_; }
  void SetCaption(const std::string& caption) override { caption_ = caption; }
  std::string Caption() override { return caption_; }
  void SetStatusText(const std::string&) override {}
  void StepProgress() override {}
  void ProcessMessages() override {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  void SetWaitCursor(bool) override {}
  void PrepareConnection() override { PointConnectionAt(*c_.AdsConnection1, state_.SourcePath); }
  void WriteRunLog() override {
    state_.LogPath = state_.ProgramFolder + "LOG.TXT";
    output_.Assign(state_.LogPath);
    output_.Rewrite();
    output_.WriteLine("LEAVE DATA DOWNLOADED DATE : " + FormatDateTime("DD/MM/YYYY  HHSSMM", clock_.Now()));
    output_.Close();
  }
  FixedClock& clock() { return clock_; }

 private:
  std::unique_ptr<TComponent> owner_;
  ExportComponents c_;
  RunState state_;
  OutputFile output_;
  FixedClock clock_;
  std::string caption_;
};

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// User plus system CPU time of this process so far: on a shared machine the
// wall-clock figure also holds the time other processes had the CPU.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void SetUpHost(BenchHost& host, const std::string& folder) {
  RunState& s = host.State();
  s.SourcePath = folder;
  s.ProgramFolder = folder + "/";
  s.EmployeePath = folder + "/employee.txt";
  s.LeavePath = folder + "/leave.txt";
  host.clock().Set(EncodeDate(kRunDay.year, kRunDay.month, kRunDay.day) + EncodeTime(10, 30, 0, 0));
  s.RunPeriod = fmt::format("{:04d}{:02d}", kRunDay.year, kRunDay.month);
}

// Runs `job` in a child process and prints its line there, so that the peak
// memory reported is that of the job alone.
template <typename Job>
int InChild(Job job) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    int rc = 0;
    try {
      job();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "error: %s\n", e.what());
      rc = 1;
    }
    std::fflush(stdout);
    _exit(rc);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Runs `job` on a host set up for `folder` in a child process, and prints
// what it took for `items` items: wall and CPU time, the size of `output`
// and the peak resident memory of the child.
template <typename Job>
int Measure(const std::string& folder, const std::string& output, const std::string& what, int64_t items,
            const char* unit, Job job) {
  return InChild([&] {
    BenchHost host;
    SetUpHost(host, folder);
    const long rss_before = PeakRssKib();
    const double cpu_start = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    job(host);
    const double secs = Seconds(start);
    const double cpu = CpuSeconds() - cpu_start;
    const auto n = static_cast<double>(items);
    std::printf("%s: %.2f s wall (%.0f %s/s), %.2f s CPU (%.0f %s/s), file %ju bytes, peak RSS %ld KiB"
                " (%ld KiB before the run)\n",
                what.c_str(), secs, n / secs, unit, cpu, n / cpu, unit,
                static_cast<uintmax_t>(std::filesystem::file_size(output)), PeakRssKib(), rss_before);
  });
}

// A count of the command line: digits only, at most 100,000,000.
bool ParseCount(const std::string& text, int64_t* out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = std::stoll(text);
  return true;
}

bool ParseList(const std::string& text, std::vector<int>* out) {
  out->clear();
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    int64_t n = 0;
    if (!ParseCount(text.substr(pos, comma - pos), &n)) return false;
    out->push_back(static_cast<int>(n));
    pos = comma + 1;
  }
  return true;
}

// Generates the sample database into `folder` and prints what it holds;
// false (after printing why) when it cannot.
bool Generate(const std::string& folder, const SampleOptions& options, SampleSummary* summary) {
  std::string error;
  const auto t0 = std::chrono::steady_clock::now();
  if (!GenerateSampleDatabase(folder, options, summary, &error)) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    return false;
  }
  int64_t leave_rows = 0, trx_rows = 0, cld_rows = 0;
  for (const auto& [table, rows] : summary->rows) {
    if (table == "empleave") leave_rows = rows;
    if (table == "LEAV_TRX") trx_rows = rows;
    if (table == "EMP_CLD") cld_rows = rows;
  }
  std::printf("generated %d employees in %.1f s: %jd current; %jd leave records (%jd selected by the run), %jd LEAV_TRX"
              " rows, %jd calendar rows\n",
              options.employees, Seconds(t0), static_cast<intmax_t>(summary->current_employees),
              static_cast<intmax_t>(leave_rows), static_cast<intmax_t>(summary->leaves_modified_today),
              static_cast<intmax_t>(trx_rows), static_cast<intmax_t>(cld_rows));
  return true;
}

int CountLines(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  int lines = 0;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) lines += c == '\n';
  std::fclose(f);
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> employee_counts = {10000, 100000};
  int64_t leaves = 100000;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool ok = i + 1 < argc;
    if (ok && arg == "--employees") {
      ok = ParseList(argv[++i], &employee_counts);
    } else if (ok && arg == "--leaves") {
      ok = ParseCount(argv[++i], &leaves);
    } else if (ok && arg == "--keep") {
      keep = argv[++i];
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "usage: export_bench [--employees N,...] [--leaves N] [--keep FOLDER]\n"
                           "  counts are whole numbers of at most 9 digits\n");
      return 2;
    }
  }

  std::unique_ptr<TAdsSettings> settings(CreateEngineSettings(nullptr));
  int failures = 0;
  const std::string root =
      keep.empty() ? (std::filesystem::temp_directory_path() / ("kdx-export-bench-" + std::to_string(getpid()))).string()
                   : keep;

  SampleOptions options;
  options.sealed = false;
  options.today = kRunDay;
  for (int count : employee_counts) {
    const std::string folder = root + "/emp" + std::to_string(count);
    options.employees = count;
    SampleSummary summary;
    if (!Generate(folder, options, &summary)) {
      ++failures;
      continue;
    }
    failures += Measure(folder, folder + "/employee.txt",
                        fmt::format("employee export: {} current employees of {}", summary.current_employees, count),
                        summary.current_employees, "employees", [](BenchHost& host) { ExportEmployees(host); });
  }

  if (leaves > 0) {
    const std::string folder = root + "/leave" + std::to_string(leaves);
    options.employees = static_cast<int>((leaves + kLeavesPerEmployee - 1) / kLeavesPerEmployee);
    options.selected_leaves = leaves;
    SampleSummary summary;
    if (!Generate(folder, options, &summary)) {
      ++failures;
    } else {
      const std::string output = folder + "/leave.txt";
      failures += Measure(folder, output,
                          fmt::format("leave-day export: {} leave records of {} employees",
                                      summary.leaves_modified_today, options.employees),
                          summary.leaves_modified_today, "records", [](BenchHost& host) {
                            host.State().FieldSeparator.assign(1, ',');
                            host.PrepareConnection();
                            ExportLeaveDays(host);
                          });
      std::printf("leave-day export: %d lines written\n", CountLines(output));
    }
  }

  if (keep.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  return failures == 0 ? 0 : 1;
}
