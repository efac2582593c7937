// The built program, started as a user or a scheduler starts it: a copy of
// kdx-interface in a folder of its own with PAVRO.ini beside it, started from
// another working folder, with no terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "app/run_lock.h"
#include "tests/app/app_test_support.h"

namespace app_test {
namespace {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(BuiltProgram())) << "build the kdx-interface target first: " << BuiltProgram();
    program_folder_ = scratch_.Sub("prog", true);
    program_ = program_folder_ + "/kdx-interface";
    fs::copy_file(BuiltProgram(), program_);
    fs::permissions(program_, fs::perms::owner_all);
    out_folder_ = scratch_.Sub("out", true);
    elsewhere_ = scratch_.Sub("elsewhere", true);
  }

  // A database at the site, with PAVRO.ini pointing at it.
  void MakeSite(int employees, bool sealed = true) {
    HrDatabase db(scratch_.Sub("db"));
    db.CreateTables();
    db.FillSite(employees);
    if (sealed) db.SealProtectedTables();
    WritePavroIni(program_folder_, db.Folder(), EmployeePath(), LeavePath());
  }

  Process Start(const std::vector<std::string>& args, const std::string& stderr_name = "stderr.txt") {
    return Process(program_, args, scratch_.Sub(stderr_name), elsewhere_);
  }
  std::string Stderr(const std::string& name = "stderr.txt") const { return ReadBytes(scratch_.Sub(name)); }
  std::string Stdout(const std::string& name = "stderr.txt") const { return ReadBytes(scratch_.Sub(name) + ".out"); }

  std::string EmployeePath() const { return out_folder_ + "/employee.txt"; }
  std::string LeavePath() const { return out_folder_ + "/leave.txt"; }
  std::string LogPath() const { return program_folder_ + "/LOG.TXT"; }

  static std::string ExpectedEmployees(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += HrDatabase::ExpectedRecord(i) + "\r\n";
    return text;
  }
  static std::string TodayDdMmYyyy() {
    const std::string iso = TodayIso();
    return iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4);
  }
  void ExpectOneLogLine() const {
    const std::string log = ReadBytes(LogPath());
    EXPECT_EQ(log.rfind("LEAVE DATA DOWNLOADED DATE : " + TodayDdMmYyyy() + "  ", 0), 0u) << log;
    EXPECT_EQ(log.size(), std::string("LEAVE DATA DOWNLOADED DATE : DD/MM/YYYY  HHSSMM\r\n").size()) << log;
  }

  ScratchFolder scratch_;
  std::string program_folder_, program_, out_folder_, elsewhere_;
};

// ---- the command line ----------------------------------------------------------------------

class CommandLineTest : public ProgramTest {};

TEST_F(CommandLineTest, HelpAndVersionExitZeroWithoutARun) {
  Process help = Start({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(Stdout().find("--start-delay"), std::string::npos);
  EXPECT_NE(Stdout().find("--leave-csv"), std::string::npos);
  Process version = Start({"--version"}, "v.txt");
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_NE(Stdout("v.txt").find("KDX INTERFACE VER1.00 24/03/2010"), std::string::npos);
  EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(CommandLineTest, BadCommandLinesExitTwo) {
  int n = 0;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--start-delay"}, {"--start-delay", "abc"}, {"--start-delay", "-5"},
           {"--start-delay", "99999999999"}, {"extra-argument"}}) {
    const std::string name = "bad" + std::to_string(n++) + ".txt";
    Process p = Start(args, name);
    EXPECT_EQ(p.Wait(), 2) << args[0];
    EXPECT_FALSE(Stderr(name).empty()) << args[0];
  }
  EXPECT_FALSE(fs::exists(LogPath()));
}

// ---- the unattended run ------------------------------------------------------------------------

class UnattendedRunTest : public ProgramTest {};

TEST_F(UnattendedRunTest, StartDelayZeroRunsBothExportsAndExitsZero) {
  MakeSite(3);
  Process p = Start({"--start-delay", "0"});
  EXPECT_EQ(p.Wait(), 0) << Stderr();
  EXPECT_EQ(ReadBytes(EmployeePath()), ExpectedEmployees(3));
  EXPECT_EQ(ReadBytes(LeavePath()), "E00001|AL|" + TodayDdMmYyyy() + "|1.00|Z|AM|note\r\n");
  ExpectOneLogLine();
  // The config and the log are beside the program, not in the working folder.
  EXPECT_FALSE(fs::exists(elsewhere_ + "/LOG.TXT"));
}

TEST_F(UnattendedRunTest, WithoutATerminalThereAreNoEscapeCodesAndNoPerRecordLines) {
  MakeSite(25);
  Process p = Start({"--start-delay", "0"});
  ASSERT_EQ(p.Wait(), 0) << Stderr();
  const std::string err = Stderr();
  EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
  EXPECT_EQ(err.find("Export Employee#"), std::string::npos) << err;
  // One line per caption, then the run's summary line.
  EXPECT_EQ(err.rfind("KDX INTERFACE VER1.00 24/03/2010\nEXPORTING LEAVE DATABASE...\n"
                      "kdx-interface: unattended run completed: employee file 25 records, leave-day file 1 record; ",
                      0),
            0u)
      << err;
  EXPECT_TRUE(err.ends_with("; exit status 0\n")) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
}

TEST_F(UnattendedRunTest, QuietLeavesStandardErrorEmptyUnlessAMessageIsShown) {
  MakeSite(2);
  Process p = Start({"--start-delay", "0", "--quiet"});
  ASSERT_EQ(p.Wait(), 0) << Stderr();
  EXPECT_EQ(Stderr(), "");
  EXPECT_EQ(ReadBytes(EmployeePath()), ExpectedEmployees(2));

  WritePavroIni(program_folder_, scratch_.Sub("no-such-database"), EmployeePath(), LeavePath());
  Process failing = Start({"--start-delay", "0", "--quiet"}, "failing.txt");
  EXPECT_EQ(failing.Wait(), 1);
  const std::string err = Stderr("failing.txt");
  EXPECT_NE(err.find("Error: "), std::string::npos) << err;
  EXPECT_EQ(err.find("KDX INTERFACE"), std::string::npos) << err;  // no caption lines
  EXPECT_EQ(err.find("exit status"), std::string::npos) << err;    // no summary line
}

TEST_F(UnattendedRunTest, AFailingRunShowsItsErrorAndExitsOne) {
  WritePavroIni(program_folder_, scratch_.Sub("no-such-database"), EmployeePath(), LeavePath());
  Process p = Start({"--start-delay", "0"});
  EXPECT_EQ(p.Wait(), 1);
  const std::string err = Stderr();
  EXPECT_NE(err.find("Error: "), std::string::npos) << err;
  EXPECT_NE(err.find("no-such-database"), std::string::npos) << err;
  EXPECT_EQ(err.back(), '\n');
  // The last line sums the run up.
  EXPECT_NE(err.find("\nkdx-interface: unattended run failed: no file written; "), std::string::npos) << err;
  EXPECT_TRUE(err.ends_with("; exit status 1\n")) << err;  // a failed run lists no warnings
  EXPECT_FALSE(fs::exists(LeavePath()));
  EXPECT_FALSE(fs::exists(LogPath()));
}

// A run that went on past something it could not do as asked ends with
// status 5, and its summary line lists what.
TEST_F(UnattendedRunTest, ARunWithWarningsExitsFiveAndListsThem) {
  MakeSite(2, false);
  WriteBytes(program_folder_ + "/PAVRO.ini", ReadBytes(program_folder_ + "/PAVRO.ini") + "EMPLOYE_PATH=/x\r\n");
  HrDatabase(scratch_.Sub("db")).Sql("EMPMISC.ADT", "UPDATE EMPMISC SET HOBBY = 'a' || char(10) || 'b'");
  Process p = Start({"--start-delay", "0"});
  EXPECT_EQ(p.Wait(), 5) << Stderr();
  EXPECT_EQ(ReadBytes(EmployeePath()), "E00001|ACME|100.00|50.00|SALES|a b|\r\nE00002|ACME|100.00|50.00|SALES|a b|\r\n");
  const std::string err = Stderr();
  EXPECT_NE(err.find("unattended run completed with warnings: employee file 2 records"), std::string::npos) << err;
  EXPECT_NE(err.find("; exit status 5; warnings: PAVRO.ini: unknown key EMPLOYE_PATH"), std::string::npos) << err;
  EXPECT_NE(err.find("(did you mean EMPLOYEE_PATH?); employee file: 2 control characters"), std::string::npos) << err;
}

// A FIFO as an output would hang the run for ever: it is refused before
// anything is written.
TEST_F(UnattendedRunTest, AnOutputThatIsNoRegularFileIsRefusedBeforeAnythingIsWritten) {
  MakeSite(1, false);
  ASSERT_EQ(mkfifo(LeavePath().c_str(), 0600), 0);
  Process p = Start({"--start-delay", "0"});
  EXPECT_EQ(p.Wait(10000), 1) << Stderr();
  EXPECT_NE(Stderr().find("LEAVE_PATH in " + program_folder_ + "/PAVRO.ini names '" + LeavePath() +
                          "', which is a FIFO"),
            std::string::npos)
      << Stderr();
  EXPECT_FALSE(fs::exists(EmployeePath()));
  EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(UnattendedRunTest, WaitsForTheStartDelay) {
  MakeSite(1);
  const auto start = std::chrono::steady_clock::now();
  Process p = Start({"--start-delay", "700"});
  EXPECT_EQ(p.Wait(), 0) << Stderr();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
}

// ---- close requests ------------------------------------------------------------------------------

class CloseRequestTest : public ProgramTest {};

TEST_F(CloseRequestTest, SigtermBeforeTheTickEndsWithoutARun) {
  MakeSite(1);
  WriteBytes(LogPath(), "previous log line\r\n");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    const std::string name = "sig" + std::to_string(sig) + ".txt";
    Process p = Start({"--start-delay", "60000"}, name);
    // The window is up once it has printed its caption.
    ASSERT_TRUE(WaitFor([&] { return !Stderr(name).empty(); })) << sig;
    p.Signal(sig);
    EXPECT_EQ(p.Wait(10000), 3) << sig;
    EXPECT_EQ(Stderr(name), "KDX INTERFACE VER1.00 24/03/2010\n");
  }
  EXPECT_FALSE(fs::exists(EmployeePath()));
  EXPECT_FALSE(fs::exists(LeavePath()));
  EXPECT_EQ(ReadBytes(LogPath()), "previous log line\r\n");
}

TEST_F(CloseRequestTest, SigtermDuringARunLetsTheRunComplete) {
  constexpr int kEmployees = 15000;
  MakeSite(kEmployees);
  Process p = Start({"--start-delay", "0"});
  // The employee file is created when the employee loop starts.
  ASSERT_TRUE(WaitFor([&] { return fs::exists(EmployeePath()) || !p.Running(); }));
  ASSERT_TRUE(p.Running()) << "the run ended before the signal could reach it; make it longer";
  p.Signal(SIGTERM);
  p.Signal(SIGINT);
  EXPECT_EQ(p.Wait(), 0) << Stderr();
  EXPECT_EQ(ReadBytes(EmployeePath()), ExpectedEmployees(kEmployees));
  EXPECT_EQ(ReadBytes(LeavePath()), "E00001|AL|" + TodayDdMmYyyy() + "|1.00|Z|AM|note\r\n");
  ExpectOneLogLine();
}

// ---- one run at a time ------------------------------------------------------------------------------

class RunLockProcessTest : public ProgramTest {};

TEST_F(RunLockProcessTest, ASecondInstanceBesideARunningOneExitsFour) {
  MakeSite(1);
  Process first = Start({"--start-delay", "60000"}, "first.txt");
  ASSERT_TRUE(WaitFor([&] { return !Stderr("first.txt").empty(); }));
  Process second = Start({"--start-delay", "0"}, "second.txt");
  EXPECT_EQ(second.Wait(), 4);
  const std::string err = Stderr("second.txt");
  EXPECT_NE(err.find("Another run is under way"), std::string::npos) << err;
  EXPECT_NE(err.find("process " + std::to_string(first.Pid())), std::string::npos) << err;
  // The second instance touched nothing.
  EXPECT_FALSE(fs::exists(EmployeePath()));
  EXPECT_FALSE(fs::exists(LogPath()));
  EXPECT_TRUE(first.Running());
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 3);
  // Once the first has gone, the folder is free again.
  Process third = Start({"--start-delay", "0"}, "third.txt");
  EXPECT_EQ(third.Wait(), 0) << Stderr("third.txt");
}

// ---- the site check ------------------------------------------------------------------------------------

class CheckModeTest : public ProgramTest {
 protected:
  // The demo site: the database kdx-db sample writes (sealed), PAVRO.ini
  // beside the program pointing at it and at the output folder.
  void MakeDemoSite() {
    const std::string db = scratch_.Sub("demo-db");
    const std::string command = std::string(KDX_BIN_DIR) + "/kdx-db sample '" + db +
                                "' --employees 60 --seed 1 > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    WritePavroIni(program_folder_, db, EmployeePath(), LeavePath());
  }
  // Every file of the program and output folders with its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const std::string& folder : {program_folder_, out_folder_}) {
      for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files[entry.path().string()] = ReadBytes(entry.path().string());
      }
    }
    return files;
  }
};

TEST_F(CheckModeTest, TheDemoSitePassesWithItsCountsAndNothingChanges) {
  MakeDemoSite();
  WriteBytes(LogPath(), "LEAVE DATA DOWNLOADED DATE : 01/01/2010  000001\r\n");
  const auto before = Snapshot();
  Process p = Start({"--check"});
  EXPECT_EQ(p.Wait(), 0) << Stdout();
  const std::string out = Stdout();
  EXPECT_NE(out.find("\ncurrent employees: "), std::string::npos) << out;
  EXPECT_NE(out.find("\napproved leave records modified today: "), std::string::npos) << out;
  EXPECT_NE(out.find("ok       template section KDX (wwTableTemplate): "), std::string::npos) << out;
  EXPECT_EQ(out.find("PROBLEM"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("result: no problems; a run can start\n")) << out;
  EXPECT_EQ(Snapshot(), before);  // no export file, LOG.TXT untouched, no lock file
  EXPECT_FALSE(fs::exists(program_folder_ + "/" + kRunLockFileName));

  Process csv = Start({"--check", "--leave-csv"}, "csv.txt");
  EXPECT_EQ(csv.Wait(), 0) << Stdout("csv.txt");
  EXPECT_NE(Stdout("csv.txt").find("approved leave records for the leave CSV: "), std::string::npos);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CheckModeTest, AMissingTableABadSizeAndAnUnwritableFolderAreAllListed) {
  MakeDemoSite();
  const std::string db = scratch_.Sub("demo-db");
  fs::remove(db + "/EMPMISC.ADT");
  HrDatabase(db).Sql("export.adt", "UPDATE export SET size=300 WHERE SECTION='KDX' AND NO=(SELECT MIN(NO) FROM "
                                   "export WHERE SECTION='KDX' AND DELIMITER='F')");
  std::string unwritable = "/sys";
  if (geteuid() != 0) {
    unwritable = scratch_.Sub("read-only", true);
    fs::permissions(unwritable, fs::perms::owner_read | fs::perms::owner_exec);
  }
  WritePavroIni(program_folder_, db, unwritable + "/employee.txt", LeavePath());
  Process p = Start({"--check"});
  EXPECT_EQ(p.Wait(), 1);
  const std::string out = Stdout();
  EXPECT_NE(out.find("PROBLEM  AdsTableMisc: "), std::string::npos) << out;
  EXPECT_NE(out.find(": size 300 is not a field width of 0 to 255"), std::string::npos) << out;
  EXPECT_NE(out.find("PROBLEM  employee file " + unwritable + "/employee.txt: folder " + unwritable +
                     "/ takes no new file"),
            std::string::npos)
      << out;
  EXPECT_TRUE(out.ends_with("result: 3 problems; a run would not go through as it should\n")) << out;
  EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(CheckModeTest, ABadCommandLineExitsTwo) {
  Process p = Start({"--check", "--bogus"});
  EXPECT_EQ(p.Wait(), 2);
  EXPECT_FALSE(Stderr().empty());
}

// ---- the leave CSV mode ------------------------------------------------------------------------------

class LeaveCsvModeTest : public ProgramTest {};

TEST_F(LeaveCsvModeTest, WritesTheCsvAndNeverMakesTheUnattendedRun) {
  MakeSite(2);
  WritePavroIni(program_folder_, scratch_.Sub("db"), EmployeePath(), out_folder_ + "/");
  Process p = Start({"--leave-csv", "--start-delay", "0"});
  EXPECT_EQ(p.Wait(), 0) << Stderr();
  const std::string iso = TodayIso();
  const std::string csv = out_folder_ + "/LVDATA" + iso.substr(8, 2) + iso.substr(5, 2) + iso.substr(0, 4) + ".CSV";
  EXPECT_TRUE(fs::exists(csv));
  EXPECT_FALSE(fs::exists(EmployeePath()));  // no unattended run
  ExpectOneLogLine();
  EXPECT_EQ(Stderr().find('\x1b'), std::string::npos);
}

TEST_F(LeaveCsvModeTest, AnUnwritableFolderIsAFailureNotASuccess) {
  MakeSite(1);
  WritePavroIni(program_folder_, scratch_.Sub("db"), EmployeePath(), scratch_.Sub("missing-folder") + "/");
  Process p = Start({"--leave-csv"});
  EXPECT_EQ(p.Wait(), 1);
  EXPECT_NE(Stderr().find("Save file failed: Invalid filename: '" + scratch_.Sub("missing-folder") + "/LVDATA"),
            std::string::npos)
      << Stderr();
  EXPECT_FALSE(fs::exists(LogPath()));
}

}  // namespace
}  // namespace app_test
