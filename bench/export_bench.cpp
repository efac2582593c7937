// Throughput and peak memory of the export jobs on generated databases.
//
//   export_bench [--employees N,...] [--leaves N] [--keep FOLDER] [--compare-only]
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
//  - For each employee count, on the same database: the lookup comparison.
//    Section KDX is replaced by a delimited template of 20 fields (employee
//    columns, code descriptions, EMPLOYMT and EMPMISC columns, the career
//    value in force, allowances in effect); the whole unattended run
//    (employee export, then leave-day export) is timed against one SELECT
//    in the sqlite3 shell that writes the same employee file. The two files
//    must be identical byte for byte; the ratio of the times is printed.
//    --compare-only runs this part alone (no 41-row run, no leave database).
// Each export runs in a child process, so that its peak resident memory is
// its own; generation is not timed.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// What one job took in its child process: wall and CPU time of the job
// alone, the child's peak resident memory before and after it.
struct JobResult {
  bool ok = false;
  double wall = 0;
  double cpu = 0;
  long rss_before_kib = 0;
  long peak_kib = 0;
};

// Runs `job` on a host set up for `folder` in a child process, so that the
// peak memory reported is that of the job alone; the child hands its figures
// back through a pipe. `ok` is false when the job raised (the child prints
// the error) or the child died.
template <typename Job>
JobResult RunJob(const std::string& folder, Job job) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    JobResult r;
    try {
      BenchHost host;
      SetUpHost(host, folder);
      r.rss_before_kib = PeakRssKib();
      const double cpu_start = CpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      job(host);
      r.wall = Seconds(start);
      r.cpu = CpuSeconds() - cpu_start;
      r.peak_kib = PeakRssKib();
      r.ok = true;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "error: %s\n", e.what());
    }
    std::fflush(stdout);
    const bool sent = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    _exit(r.ok && sent ? 0 : 1);
  }
  close(fds[1]);
  JobResult r;
  if (pid < 0 || read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r = JobResult{};
  close(fds[0]);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) r.ok = false;
  return r;
}

// Runs `job` as RunJob does and prints what it took for `items` items: wall
// and CPU time, the size of `output` and the peak resident memory of the
// child. 0 on success, 1 when the job failed.
template <typename Job>
int Measure(const std::string& folder, const std::string& output, const std::string& what, int64_t items,
            const char* unit, Job job) {
  const JobResult r = RunJob(folder, job);
  if (!r.ok) return 1;
  const auto n = static_cast<double>(items);
  std::printf("%s: %.2f s wall (%.0f %s/s), %.2f s CPU (%.0f %s/s), file %ju bytes, peak RSS %ld KiB"
              " (%ld KiB before the run)\n",
              what.c_str(), r.wall, n / r.wall, unit, r.cpu, n / r.cpu, unit,
              static_cast<uintmax_t>(std::filesystem::file_size(output)), r.peak_kib, r.rss_before_kib);
  return 0;
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

// ---- The lookup comparison ----------------------------------------------------

// One row of the comparison's template section KDX; every field is
// comma-delimited.
struct LookupTemplateRow {
  int no;
  const char* field_name;
  const char* table;
  const char* category;
  const char* mapfield2;
};

// Employee columns, code descriptions, EMPLOYMT and EMPMISC columns, the
// career value in force (its date and the converted salary) and two
// allowances in effect: every lookup the employee export makes per employee.
constexpr LookupTemplateRow kLookupTemplate[] = {
    {10, "emp_no", "", "", ""},           {20, "emp_name", "", "", ""},
    {30, "NEW_IC", "", "", ""},           {40, "sex", "", "", ""},
    {50, "birth_date", "", "", ""},       {60, "FUND_LEVY", "", "", ""},
    {70, "national_code", "", "NAT", ""}, {80, "race", "", "RAC", ""},
    {90, "department", "", "DEP", ""},    {100, "JOIN_DATE", "EMPLOYMT", "", ""},
    {110, "CONFIRM_DATE", "EMPLOYMT", "", ""}, {120, "DESIGNATION", "EMPLOYMT", "", ""},
    {130, "GRADE", "EMPLOYMT", "", ""},   {140, "BANK_CODE", "EMPMISC", "", ""},
    {150, "BANK_ACNO", "EMPMISC", "", ""}, {160, "RELIGION", "EMPMISC", "", ""},
    {170, "PAY_EFFECTIVE_DATE", "", "", ""}, {180, "NEW_SALARY", "", "", ""},
    {190, "ALLOW_CODE", "", "", "TRANS"}, {200, "ALLOW_CODE", "", "", "MEAL"},
};

std::string SqlQuote(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    if (ch == '\'') out += '\'';
    out += ch;
  }
  return out + "'";
}

// Replaces section KDX of the database's template with kLookupTemplate.
bool WriteLookupTemplate(const std::string& folder, std::string* error) {
  std::string sql = "BEGIN; DELETE FROM export WHERE SECTION = 'KDX';";
  for (const LookupTemplateRow& r : kLookupTemplate) {
    sql += fmt::format(
        " INSERT INTO export (SECTION, NO, \"Field Name\", \"TABLE\", CATEGORY, MAPFIELD2, DELIMITER, size)"
        " VALUES ('KDX', {}, {}, {}, {}, {}, ',', 0);",
        r.no, SqlQuote(r.field_name), SqlQuote(r.table), SqlQuote(r.category), SqlQuote(r.mapfield2));
  }
  sql += " COMMIT;";
  sqlite3* db = nullptr;
  int rc = sqlite3_open((folder + "/export.adt").c_str(), &db);
  char* message = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) *error = "export.adt: " + std::string(message ? message : sqlite3_errmsg(db));
  sqlite3_free(message);
  sqlite3_close(db);
  return rc == SQLITE_OK;
}

// The amount text of the export ("0.00" pattern) in SQL, for values of 0 or
// more: the value in hundredths taken at 15 significant digits, rounded half
// up. (printf('%.2f') alone rounds the binary value: 60.04 / 8 would give
// 7.50 where the export writes 7.51.)
std::string AmountSql(const std::string& value) {
  return "printf('%.2f', CAST(CAST(printf('%.15g', (" + value + ") * 100) AS REAL) + 0.5 AS INTEGER) / 100.0)";
}

std::string DaySql(const std::string& column) { return "coalesce(strftime('%d/%m/%Y', " + column + "), '')"; }

// The value of one template row as the export computes it on kRunDay, over
// the join of the employee `e` with EMPLOYMT `m`, EMPMISC `x` and the career
// row in force `p`.
std::string FieldSql(const LookupTemplateRow& r, const std::string& period, const std::string& month) {
  const std::string name = r.field_name;
  if (*r.category != '\0') {
    return "coalesce((SELECT c.\"desc\" FROM CODE c WHERE c.CATEGORY = " + SqlQuote(r.category) + " AND c.CODE = e." +
           name + " ORDER BY c.rowid LIMIT 1), 'NONE')";
  }
  const std::string table = r.table;
  if (table == "EMPLOYMT" || table == "EMPMISC") {
    const std::string column = (table == "EMPLOYMT" ? "m." : "x.") + name;
    return name.find("DATE") != std::string::npos ? DaySql(column) : "coalesce(" + column + ", '')";
  }
  if (name == "PAY_EFFECTIVE_DATE") return DaySql("p.PAY_EFFECTIVE_DATE");
  if (name == "NEW_SALARY") {
    // Columns of declared type MONEY or NUMERIC store whole values as
    // integers: the division must not be an integer one.
    const std::string amount = "CAST(coalesce(p.NEW_SALARY, 0) AS REAL)";
    return "CASE WHEN e.PAY_TYPE IN ('SE', 'SN') THEN " + AmountSql(amount + " * 12 / e.HRS_WORK_PERYEAR") +
           " WHEN substr(e.PAY_TYPE, 1, 1) = 'D' THEN " + AmountSql(amount + " / 8") +
           " WHEN substr(e.PAY_TYPE, 1, 1) = 'H' THEN " + AmountSql(amount) +
           " WHEN p.NEW_SALARY IS NULL THEN '' ELSE printf('%.15g', p.NEW_SALARY) END";
  }
  if (name == "ALLOW_CODE") {
    return "coalesce((SELECT " + AmountSql("a.AMT") + " FROM EMP_ALW a WHERE a.EMP_NO = e.emp_no AND a.ALLOW_CODE = " +
           SqlQuote(r.mapfield2) + " AND CASE WHEN a.effdate IS NOT NULL THEN substr(a.effdate, 1, 7) <= '" + month +
           "' AND (a.enddate IS NULL OR substr(a.enddate, 1, 7) >= '" + month + "') ELSE (coalesce(a.START_MTH, 0) = 0"
           " OR a.START_MTH <= " + period + ") AND (coalesce(a.END_MTH, 0) = 0 OR a.END_MTH >= " + period +
           ") END ORDER BY a.rowid DESC LIMIT 1), '0.00')";
  }
  if (name == "birth_date") return DaySql("e.birth_date");
  return "replace(coalesce(e." + name + ", ''), ',', '')";
}

// The sqlite3 shell's script: the lookup tables attached to employee.adt,
// then the one SELECT that writes the employee file of kLookupTemplate.
std::string BaselineScript(const std::string& folder) {
  const std::string day = fmt::format("{:04d}-{:02d}-{:02d}", kRunDay.year, kRunDay.month, kRunDay.day);
  const std::string month = day.substr(0, 7);
  const std::string period = fmt::format("{:04d}{:02d}", kRunDay.year, kRunDay.month);
  std::string script;
  int attached = 0;
  for (const char* file : {"CODE.ADT", "EMPLOYMT.ADT", "EMPMISC.ADT", "EMP_PROS.adt", "EMP_ALW.adt"}) {
    script += "ATTACH " + SqlQuote(folder + "/" + file) + " AS t" + std::to_string(++attached) + ";\n";
  }
  std::string fields;
  for (const LookupTemplateRow& r : kLookupTemplate) {
    fields += (fields.empty() ? "" : " || ") + FieldSql(r, period, month) + " || ','";
  }
  script += "SELECT " + fields +
            "\nFROM employee e LEFT JOIN EMPLOYMT m ON m.EMP_NO = e.emp_no LEFT JOIN EMPMISC x ON x.EMP_NO = e.emp_no"
            "\nLEFT JOIN EMP_PROS p ON p.rowid = (SELECT q.rowid FROM EMP_PROS q WHERE q.EMP_CODE = e.emp_no AND"
            " q.PAY_EFFECTIVE_DATE <= '" + day +
            "' ORDER BY q.PAY_EFFECTIVE_DATE DESC, q.ID DESC, q.rowid DESC LIMIT 1)"
            "\nWHERE e.TERMINATION_DATE IS NULL OR e.TERMINATION_DATE >= '" + month + "-01';\n";
  return script;
}


// Runs the sqlite3 shell on `database` with `script` as its input and its
// output in `output_path`, each row ended by CR LF. Wall time as the parent
// sees it, CPU time of the shell process (its start included).
JobResult RunSqliteShell(const std::string& database, const std::string& script_path,
                         const std::string& output_path) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(script_path.c_str(), O_RDONLY);
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
    execlp("sqlite3", "sqlite3", "-batch", "-bail", "-newline", "\r\n", database.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  JobResult r;
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return r;
  r.wall = Seconds(start);
  r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.peak_kib = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!r.ok) std::fprintf(stderr, "error: the sqlite3 shell failed (status %d; 127: not installed)\n", status);
  return r;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The number and text of the first line where two files differ.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const size_t line_start = a.rfind('\n', at == 0 ? 0 : at - 1);
  const size_t from = line_start == std::string::npos ? 0 : line_start + 1;
  const auto line_of = [&](const std::string& s) { return s.substr(from, s.find('\r', from) - from); };
  return fmt::format("line {}: program \"{}\", sqlite3 \"{}\"", std::count(a.begin(), a.begin() + from, '\n') + 1,
                     line_of(a), line_of(b));
}

// The lookup comparison on the database in `folder` (see the top of this
// file). 0 when both sides ran and wrote the same file, else 1.
int CompareWithBaseline(const std::string& folder, int64_t current, int count) {
  std::string error;
  if (!WriteLookupTemplate(folder, &error)) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    return 1;
  }
  const std::string program_file = folder + "/lookup-program.txt";
  const JobResult run = RunJob(folder, [&](BenchHost& host) {
    host.State().EmployeePath = program_file;
    ExportEmployees(host);
    ExportLeaveDays(host);
  });
  const std::string script_path = folder + "/lookup-baseline.sql";
  const std::string baseline_file = folder + "/lookup-baseline.txt";
  std::ofstream(script_path, std::ios::binary) << BaselineScript(folder);
  const JobResult base = RunSqliteShell(folder + "/employee.adt", script_path, baseline_file);
  if (!run.ok || !base.ok) return 1;
  const std::string program = ReadFile(program_file);
  const std::string baseline = ReadFile(baseline_file);
  std::printf("lookup comparison, %jd current employees of %d, 20-field template: whole run (employee and leave-day"
              " export) %.3f s wall, %.3f s CPU, peak RSS %ld KiB (%ld KiB before the run); sqlite3 statement %.3f s"
              " wall, %.3f s CPU; ratio %.1f wall, %.1f CPU\n",
              static_cast<intmax_t>(current), count, run.wall, run.cpu, run.peak_kib, run.rss_before_kib, base.wall,
              base.cpu, run.wall / base.wall, base.cpu > 0 ? run.cpu / base.cpu : 0.0);
  if (program != baseline) {
    std::fprintf(stderr, "error: the employee files differ (%zu and %zu bytes), first at %s\n", program.size(),
                 baseline.size(), FirstDifference(program, baseline).c_str());
    return 1;
  }
  std::printf("lookup comparison: the two employee files are identical (%zu bytes)\n", program.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> employee_counts = {10000, 100000};
  int64_t leaves = 100000;
  std::string keep;
  bool compare_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool ok = i + 1 < argc;
    if (arg == "--compare-only") {
      compare_only = true;
      ok = true;
    } else if (ok && arg == "--employees") {
      ok = ParseList(argv[++i], &employee_counts);
    } else if (ok && arg == "--leaves") {
      ok = ParseCount(argv[++i], &leaves);
    } else if (ok && arg == "--keep") {
      keep = argv[++i];
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "usage: export_bench [--employees N,...] [--leaves N] [--keep FOLDER] [--compare-only]\n"
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
    if (!compare_only) {
      failures += Measure(folder, folder + "/employee.txt",
                          fmt::format("employee export: {} current employees of {}", summary.current_employees, count),
                          summary.current_employees, "employees", [](BenchHost& host) { ExportEmployees(host); });
    }
    failures += CompareWithBaseline(folder, summary.current_employees, count);
  }

  if (leaves > 0 && !compare_only) {
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
