// The run's summary: what the window counts while it runs (WrittenFiles),
// the line made of it, and where the line and a failed run's message go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "app/run_report.h"
#include "app/written_files.h"
#include "platform/faulty_file_system.h"
#include "platform/output_file.h"
#include "tests/app/window_fixture.h"

namespace app_test {
namespace {

// ---- counting what reaches the files --------------------------------------------------------------

class WrittenFilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch_.Sub(name); }

  ScratchFolder scratch_;
  FaultyFileSystem faults_;
  WrittenFiles files_{&faults_};
  OutputFile out_{&files_};
};

TEST_F(WrittenFilesTest, CountsTheLinesOfEachOpeningInOrder) {
  out_.Assign(Path("a.txt"));
  out_.Rewrite();
  for (int i = 0; i < 3; ++i) out_.WriteLine("line " + std::to_string(i));
  out_.Close();
  out_.Assign(Path("b.txt"));
  out_.Rewrite();
  out_.Close();
  out_.Assign(Path("a.txt"));  // opened again: a second entry of its own
  out_.Rewrite();
  out_.WriteLine("again");
  out_.Close();
  ASSERT_EQ(files_.Files().size(), 3u);
  EXPECT_EQ(files_.Files()[0].path, Path("a.txt"));  // not the temporary file's name
  EXPECT_EQ(files_.Files()[0].lines, 3u);
  EXPECT_TRUE(files_.Files()[0].replaced);
  EXPECT_EQ(files_.Files()[1].lines, 0u);
  EXPECT_EQ(files_.Files()[2].lines, 1u);
  files_.Clear();
  EXPECT_TRUE(files_.Files().empty());
}

TEST_F(WrittenFilesTest, AFileThatFailsHalfWayIsListedUnderItsPathAsNotReplaced) {
  // Enough lines for several buffer writes; the third write fails after
  // some of its bytes reached the file.
  const std::string line(1000, 'x');
  for (size_t partial : {size_t{0}, size_t{1}, size_t{5000}}) {
    WriteBytes(Path("big.txt"), "last night\r\n");
    FaultyFileSystem faults;
    faults.FailWrite(3, ENOSPC, partial);
    WrittenFiles files(&faults);
    OutputFile out(&files);
    out.Assign(Path("big.txt"));
    out.Rewrite();
    EXPECT_THROW(
        {
          for (int i = 0; i < 1000; ++i) out.WriteLine(line);
          out.Close();
        },
        EInOutError);
    out.CloseAfterError();
    EXPECT_EQ(ReadBytes(Path("big.txt")), "last night\r\n");
    ASSERT_EQ(files.Files().size(), 1u);
    EXPECT_EQ(files.Files()[0].path, Path("big.txt")) << partial;
    EXPECT_FALSE(files.Files()[0].replaced) << partial;
  }
}

TEST_F(WrittenFilesTest, AFileThatCannotBeOpenedIsNotListed) {
  faults_.FailCreate(EACCES);
  out_.Assign(Path("denied.txt"));
  EXPECT_THROW(out_.Rewrite(), EInOutError);
  EXPECT_TRUE(files_.Files().empty());
}

// ---- the summary line ------------------------------------------------------------------------------------

TEST(SummaryLineTest, NamesTheModeTheRecordsPerFileTheTimeAndTheExitStatus) {
  RunSummary s;
  s.mode = "unattended run";
  s.ran = true;
  s.completed = true;
  s.files = {{"employee file", 1200}, {"leave-day file", 1}};
  s.elapsed_seconds = 4.306;
  EXPECT_EQ(SummaryLine(s),
            "unattended run completed: employee file 1200 records, leave-day file 1 record; 4.31 s; exit status 0");
  s.completed = false;
  s.files.resize(1);
  s.exit_status = 74;
  EXPECT_EQ(SummaryLine(s),
            "unattended run failed: employee file 1200 records; 4.31 s; exit status 74 (output file cannot be written)");
  s.files.clear();
  s.exit_status = 69;
  EXPECT_EQ(SummaryLine(s), "unattended run failed: no file written; 4.31 s; exit status 69 (HR database unavailable)");
  RunSummary none;
  none.exit_status = 3;
  EXPECT_EQ(SummaryLine(none), "no run: the window was closed before the run began; exit status 3");
}

TEST(StampedLineTest, StartsWithTheLocalTimeInIso8601AndTheSiteFolder) {
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved != nullptr ? saved : "";
  ::setenv("TZ", "<+08>-8", 1);
  ::tzset();
  // 24 March 2010, 10:30:05 UTC.
  EXPECT_EQ(StampedLine(1269426605, "/var/lib/kdx-interface/hq/", "unattended run completed"),
            "2010-03-24T18:30:05+08:00 /var/lib/kdx-interface/hq/ kdx-interface: unattended run completed");
  if (saved != nullptr) {
    ::setenv("TZ", saved_tz.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

// ---- where the summary goes ----------------------------------------------------------------------------

class RecordingLog : public SystemLog {
 public:
  void Write(LogLevel level, const std::string& line) override { lines.emplace_back(level, line); }
  std::vector<std::pair<LogLevel, std::string>> lines;
};

class ReportRunTest : public ::testing::Test {
 protected:
  void Report(const RunSummary& summary, bool quiet) {
    ReportRun(summary, log_, [&](const std::string& line) { terminal_.push_back(line); }, quiet);
  }
  RecordingLog log_;
  std::vector<std::string> terminal_;
};

TEST_F(ReportRunTest, ACompletedRunGoesToTheTerminalAndTheLogUnlessQuiet) {
  RunSummary s;
  s.mode = "leave CSV run";
  s.ran = true;
  s.completed = true;
  s.files = {{"leave CSV", 7}};
  Report(s, false);
  const std::string line = "leave CSV run completed: leave CSV 7 records; 0.00 s; exit status 0";
  EXPECT_EQ(terminal_, std::vector<std::string>{line});
  ASSERT_EQ(log_.lines.size(), 1u);
  EXPECT_EQ(log_.lines[0], std::make_pair(LogLevel::kInfo, line));
  // Quiet keeps the terminal clear, never the log.
  Report(s, true);
  EXPECT_EQ(terminal_.size(), 1u);
  EXPECT_EQ(log_.lines.size(), 2u);
}

TEST_F(ReportRunTest, AFailedRunLogsItsMessageBeforeTheSummary) {
  RunSummary s;
  s.mode = "unattended run";
  s.ran = true;
  s.exit_status = 1;
  s.error = "AdsTableMisc: Table 'EMPMISC.ADT' not found.";
  Report(s, true);
  EXPECT_TRUE(terminal_.empty());
  ASSERT_EQ(log_.lines.size(), 2u);
  EXPECT_EQ(log_.lines[0], std::make_pair(LogLevel::kError, std::string("error: ") + s.error));
  EXPECT_EQ(log_.lines[1].first, LogLevel::kError);
  EXPECT_EQ(log_.lines[1].second, SummaryLine(s));
}

TEST_F(ReportRunTest, NoRunIsAWarningInTheLogAndNothingOnTheTerminal) {
  RunSummary none;
  none.exit_status = 3;
  Report(none, false);
  ASSERT_EQ(log_.lines.size(), 1u);
  EXPECT_EQ(log_.lines[0].first, LogLevel::kWarning);
  EXPECT_TRUE(terminal_.empty());
}

// ---- what the window counts ----------------------------------------------------------------------------

class WindowSummaryTest : public WindowFixture {};

TEST_F(WindowSummaryTest, TheUnattendedRunCountsItsTwoFilesButNotTheLog) {
  MakeSite(3);
  form().Timer1.SetInterval(0);
  form().Show();
  app_.Run();
  const RunSummary s = form().Summary(0);
  EXPECT_EQ(s.mode, "unattended run");
  EXPECT_TRUE(s.ran);
  EXPECT_TRUE(s.completed);
  ASSERT_EQ(s.files.size(), 2u);
  EXPECT_EQ(s.files[0].file, "employee file");
  EXPECT_EQ(s.files[0].records, 3u);
  EXPECT_EQ(s.files[1].file, "leave-day file");
  const std::string leave = ReadBytes(out_folder_ + "leave.txt");
  EXPECT_EQ(s.files[1].records, static_cast<uint64_t>(std::count(leave.begin(), leave.end(), '\n')));
  EXPECT_GE(s.elapsed_seconds, 0.0);
  EXPECT_TRUE(s.error.empty());
}

TEST_F(WindowSummaryTest, AFailedRunKeepsTheMessageTheBoxShowed) {
  WritePavroIni(program_folder_, scratch_.Sub("missing"), scratch_.Sub("employee.txt"), scratch_.Sub("leave.txt"));
  form().Timer1.SetInterval(0);
  form().Show();
  app_.Run();
  const RunSummary s = form().Summary(1);
  EXPECT_TRUE(s.ran);
  EXPECT_FALSE(s.completed);
  ASSERT_FALSE(display_.boxes.empty());
  EXPECT_EQ(s.error, display_.boxes.back().text);
  EXPECT_EQ(SummaryLine(s).rfind("unattended run failed: ", 0), 0u) << SummaryLine(s);
}

TEST_F(WindowSummaryTest, TheLeaveCsvCountsRecordsWithoutItsHeader) {
  MakeSite(1);
  WritePavroIni(program_folder_, scratch_.Sub("db"), out_folder_ + "employee.txt", out_folder_);
  form().Show();
  form().StartLeaveCsvMode();
  app_.Run();
  const RunSummary s = form().Summary(0);
  EXPECT_EQ(s.mode, "leave CSV run");
  ASSERT_EQ(s.files.size(), 1u);
  EXPECT_EQ(s.files[0].file, "leave CSV");
  const std::string csv = ReadBytes(out_folder_ + "LVDATA08032010.CSV");
  EXPECT_EQ(s.files[0].records, static_cast<uint64_t>(std::count(csv.begin(), csv.end(), '\n')) - 1);
}

TEST_F(WindowSummaryTest, AWindowClosedBeforeItsRunHasNoRun) {
  form().Show();
  events_.CloseRequestAt(events_.NowMs());
  app_.Run();
  const RunSummary s = form().Summary(3);
  EXPECT_FALSE(s.ran);
  EXPECT_TRUE(s.files.empty());
}

}  // namespace
}  // namespace app_test
