// The built program, started as a user or a scheduler starts it: a copy of
// kdx-interface in a folder of its own with PAVRO.ini beside it, started from
// another working folder, with no terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
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

TEST_F(CommandLineTest, BadCommandLinesExit64) {
  int n = 0;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--start-delay"}, {"--start-delay", "abc"}, {"--start-delay", "-5"},
           {"--start-delay", "99999999999"}, {"--start-delay", "3601"}, {"--site", ""}, {"extra-argument"}}) {
    const std::string name = "bad" + std::to_string(n++) + ".txt";
    Process p = Start(args, name);
    EXPECT_EQ(p.Wait(), 64) << args[0];
    EXPECT_FALSE(Stderr(name).empty()) << args[0];
  }
  EXPECT_EQ(Stderr("bad3.txt"), "kdx-interface: --start-delay takes a whole number of seconds from 0 to 3600, not '-5'\n");
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
  // One line per caption, then the run's summary line, led by the time and
  // the site folder.
  const std::string captions = "KDX INTERFACE VER1.00 24/03/2010\nEXPORTING LEAVE DATABASE...\n";
  EXPECT_EQ(err.rfind(captions, 0), 0u) << err;
  EXPECT_TRUE(std::regex_search(err.substr(captions.size()),
                                std::regex("^20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9][+-][0-9]{2}:"
                                           "[0-9]{2} ")))
      << err;
  EXPECT_NE(err.find(" " + program_folder_ + "/ kdx-interface: unattended run completed: employee file 25 records, "
                     "leave-day file 1 record; "),
            std::string::npos)
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
  EXPECT_EQ(failing.Wait(), 69);
  const std::string err = Stderr("failing.txt");
  EXPECT_NE(err.find("Error: "), std::string::npos) << err;
  EXPECT_EQ(err.find("KDX INTERFACE"), std::string::npos) << err;  // no caption lines
  EXPECT_EQ(err.find("exit status"), std::string::npos) << err;    // no summary line
}

TEST_F(UnattendedRunTest, AFailingRunShowsItsErrorAndExitsWithItsClass) {
  WritePavroIni(program_folder_, scratch_.Sub("no-such-database"), EmployeePath(), LeavePath());
  Process p = Start({"--start-delay", "0"});
  EXPECT_EQ(p.Wait(), 69);
  const std::string err = Stderr();
  // The error line too is led by the time and the site folder.
  EXPECT_NE(err.find(" " + program_folder_ + "/ kdx-interface: Error: "), std::string::npos) << err;
  EXPECT_NE(err.find("no-such-database"), std::string::npos) << err;
  EXPECT_EQ(err.back(), '\n');
  // The last line sums the run up.
  EXPECT_NE(err.find(" kdx-interface: unattended run failed: no file written; "), std::string::npos) << err;
  // A failed run lists no warnings.
  EXPECT_TRUE(err.ends_with("; exit status 69 (HR database unavailable)\n")) << err;
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
  EXPECT_EQ(p.Wait(10000), 78) << Stderr();
  EXPECT_NE(Stderr().find("LEAVE_PATH in " + program_folder_ + "/PAVRO.ini names '" + LeavePath() +
                          "', which is a FIFO"),
            std::string::npos)
      << Stderr();
  EXPECT_FALSE(fs::exists(EmployeePath()));
  EXPECT_FALSE(fs::exists(LogPath()));
}

// Each class of failure ends with its own sysexits(3) status, which the
// summary line names.
TEST_F(UnattendedRunTest, EachClassOfFailureEndsWithItsOwnStatus) {
  const struct {
    const char* what;
    std::function<void(HrDatabase&)> change;
    std::string shell_prefix;  // run through sh -c with this before the program
    std::vector<std::string> args;
    int status;
    std::string meaning;  // in the summary line
  } cases[] = {
      {"a table the run reads is missing", [](HrDatabase& db) { fs::remove(db.File("EMPMISC.ADT")); }, "", {}, 69,
       "HR database unavailable"},
      {"a template row no field can be laid out by",
       [](HrDatabase& db) { db.Sql("EXPORT.ADT", "UPDATE EXPORT SET DELIMITER='F', SIZE=300 WHERE NO=1"); }, "", {},
       65, "bad data in the HR database"},
      {"the export folder is missing",
       [&](HrDatabase& db) {
         WritePavroIni(program_folder_, db.Folder(), scratch_.Sub("gone") + "/employee.txt", LeavePath());
       },
       "", {}, 73, "output file cannot be made"},
      // (its standard error, a file too, stays empty)
      {"the export file may not grow", [](HrDatabase&) {}, "trap '' XFSZ; ulimit -f 0; exec ", {}, 74, ""},
      {"the run lock cannot be made",
       [&](HrDatabase&) {
         fs::remove(program_folder_ + "/" + kRunLockFileName);
         fs::create_symlink(scratch_.Sub("elsewhere.lock"), program_folder_ + "/" + kRunLockFileName);
       },
       "", {}, 73, ""},
      {"the site folder is missing", [](HrDatabase&) {}, "", {"--site", "/nonexistent-site"}, 78, ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    HrDatabase db(scratch_.Sub("db" + std::to_string(n)));
    db.CreateTables();
    db.FillSite(2);
    WritePavroIni(program_folder_, db.Folder(), EmployeePath(), LeavePath());
    c.change(db);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--start-delay", "0"});
    const std::string name = "class" + std::to_string(n++) + ".txt";
    int status = -1;
    if (c.shell_prefix.empty()) {
      status = Start(args, name).Wait();
    } else {
      std::string command = c.shell_prefix + "'" + program_ + "'";
      for (const std::string& a : args) command += " '" + a + "'";
      status = Process("/bin/sh", {"-c", command}, scratch_.Sub(name), elsewhere_).Wait();
    }
    const std::string err = Stderr(name);
    EXPECT_EQ(status, c.status) << c.what << ": " << err;
    if (!c.meaning.empty()) {
      EXPECT_TRUE(err.ends_with("; exit status " + std::to_string(c.status) + " (" + c.meaning + ")\n"))
          << c.what << ": " << err;
    }
    EXPECT_FALSE(fs::exists(LogPath())) << c.what;
  }
  EXPECT_NE(Stderr("class5.txt").find(" kdx-interface: site folder '/nonexistent-site/' (given by --site) does not exist"),
            std::string::npos)
      << Stderr("class5.txt");
}

// Under `script` standard input and standard error are a terminal, where an
// error waits for Enter; a run started with --unattended never waits.
TEST_F(UnattendedRunTest, UnattendedNeverWaitsForAKeyEvenOnATerminal) {
  const std::string command = "timeout 30 script -qec '" + program_ + " --unattended --start-delay 0' /dev/null";
  Process p("/bin/sh", {"-c", command}, scratch_.Sub("script.txt"), elsewhere_);
  EXPECT_EQ(p.Wait(40000), 78) << Stdout("script.txt");
  EXPECT_EQ(Stdout("script.txt").find("press Enter"), std::string::npos) << Stdout("script.txt");
}

TEST_F(UnattendedRunTest, WaitsForTheStartDelay) {
  MakeSite(1);
  const auto start = std::chrono::steady_clock::now();
  Process p = Start({"--start-delay", "1"});
  EXPECT_EQ(p.Wait(), 0) << Stderr();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// ---- close requests ------------------------------------------------------------------------------

class CloseRequestTest : public ProgramTest {};

TEST_F(CloseRequestTest, SigtermBeforeTheTickEndsWithoutARun) {
  MakeSite(1);
  WriteBytes(LogPath(), "previous log line\r\n");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    const std::string name = "sig" + std::to_string(sig) + ".txt";
    Process p = Start({"--start-delay", "3600"}, name);
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

TEST_F(RunLockProcessTest, ASecondInstanceBesideARunningOneExits75) {
  MakeSite(1);
  Process first = Start({"--start-delay", "3600"}, "first.txt");
  ASSERT_TRUE(WaitFor([&] { return !Stderr("first.txt").empty(); }));
  Process second = Start({"--start-delay", "0"}, "second.txt");
  EXPECT_EQ(second.Wait(), 75);
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

// ---- the site folder ------------------------------------------------------------------------------------

class SiteFolderTest : public ProgramTest {};

// --site, else KDX_SITE, names the folder that takes the program folder's
// part: PAVRO.ini is read there, LOG.TXT and the run lock are written there,
// and --check says which folder it used and why.
TEST_F(SiteFolderTest, TheSiteFolderTakesTheProgramFoldersPart) {
  MakeSite(2);
  const std::string site = scratch_.Sub("site", true);
  fs::rename(program_folder_ + "/PAVRO.ini", site + "/PAVRO.ini");
  const std::string other = scratch_.Sub("other", true);
  const struct {
    std::vector<std::string> args;
    std::string environment;
    std::string why;
  } cases[] = {
      {{"--site", site}, other, "given by --site"},
      {{}, site, "given by the environment variable KDX_SITE"},
  };
  int n = 0;
  for (const auto& c : cases) {
    ::setenv("KDX_SITE", c.environment.c_str(), 1);
    std::vector<std::string> check = c.args, run = c.args;
    check.push_back("--check");
    run.insert(run.end(), {"--start-delay", "0"});
    const std::string name = "site" + std::to_string(n++) + ".txt";
    Process checking = Start(check, "check-" + name);
    EXPECT_EQ(checking.Wait(), 0) << Stdout("check-" + name);
    EXPECT_EQ(Stdout("check-" + name).rfind("site folder " + site + "/ (" + c.why + ")\n", 0), 0u)
        << Stdout("check-" + name);
    Process running = Start(run, name);
    EXPECT_EQ(running.Wait(), 0) << Stderr(name);
    ::unsetenv("KDX_SITE");
    EXPECT_NE(Stderr(name).find(" " + site + "/ kdx-interface: unattended run completed"), std::string::npos)
        << Stderr(name);
    EXPECT_TRUE(fs::exists(site + "/LOG.TXT")) << c.why;
    EXPECT_TRUE(fs::exists(site + "/" + kRunLockFileName)) << c.why;
    for (const std::string& folder : {program_folder_, other}) {
      EXPECT_FALSE(fs::exists(folder + "/LOG.TXT")) << folder;
      EXPECT_FALSE(fs::exists(folder + "/" + kRunLockFileName)) << folder;
    }
    fs::remove(site + "/LOG.TXT");
  }
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
  EXPECT_EQ(out.rfind("site folder " + program_folder_ + "/ (the program's own folder: no --site, no KDX_SITE)\n", 0),
            0u)
      << out;
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

// A key or a section PAVRO.ini holds and no run reads is a problem, named
// with what the administrator probably meant.
TEST_F(CheckModeTest, AMisspeltKeyOrASectionOfAnotherNameIsAProblem) {
  MakeDemoSite();
  const std::string ini = program_folder_ + "/PAVRO.ini";
  WriteBytes(ini, ReadBytes(ini) + "EMPLOYE_PATH=/x\r\n[PATHS]\r\n");
  Process p = Start({"--check"});
  EXPECT_EQ(p.Wait(), 1);
  const std::string out = Stdout();
  EXPECT_NE(out.find("\nPROBLEM  PAVRO.ini: unknown key EMPLOYE_PATH in section PATH of " + ini +
                     " (did you mean EMPLOYEE_PATH?)\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\nPROBLEM  PAVRO.ini: unknown section PATHS of " + ini + " (did you mean PATH?)\n"),
            std::string::npos)
      << out;
  EXPECT_TRUE(out.ends_with("result: 2 problems; a run would not go through as it should\n")) << out;
}

TEST_F(CheckModeTest, ABadCommandLineExits64) {
  Process p = Start({"--check", "--bogus"});
  EXPECT_EQ(p.Wait(), 64);
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
  EXPECT_EQ(p.Wait(), 73);
  EXPECT_NE(Stderr().find("Save file failed: Invalid filename: '" + scratch_.Sub("missing-folder") + "/LVDATA"),
            std::string::npos)
      << Stderr();
  EXPECT_FALSE(fs::exists(LogPath()));
}

}  // namespace
}  // namespace app_test
