// The paths a run refuses before it writes anything.
#include "app/run_paths.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "app/configuration.h"
#include "platform/clock.h"
#include "tests/app/app_test_support.h"

namespace app_test {
namespace {

class RunPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prog_ = scratch_.Sub("prog", true);
    out_ = scratch_.Sub("out", true);
    db_.CreateTables();
    WriteBytes(prog_ + "/kdx-interface", "program");
  }

  // The problems of an unattended run whose PAVRO.ini holds `ini`.
  std::vector<std::string> Problems(const std::string& ini) {
    if (!ini.empty()) WriteBytes(prog_ + "/PAVRO.ini", ini);
    RunState state;
    LoadConfiguration(state, clock_, prog_ + "/kdx-interface");
    return RunPathProblems(state, UnattendedOutputs(state), prog_ + "/kdx-interface");
  }
  std::string Ini(const std::string& employee, const std::string& leave = "") const {
    return "[PATH]\nSOURCE_PATH=" + db_.Folder() + "\nEMPLOYEE_PATH=" + employee + "\nLEAVE_PATH=" +
           (leave.empty() ? out_ + "/leave.txt" : leave) + "\n";
  }
  static std::string Joined(const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& p : problems) text += p + "\n";
    return text;
  }

  ScratchFolder scratch_;
  HrDatabase db_{scratch_.Sub("db")};
  std::string prog_, out_;
  FixedClock clock_{40000};
};

TEST_F(RunPathsTest, OutputsThatWouldDestroyAFileOrCannotBeReplacedAreRefused) {
  ASSERT_EQ(::symlink((out_ + "/target").c_str(), (out_ + "/link").c_str()), 0);
  ASSERT_EQ(::mkfifo((out_ + "/fifo").c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = out_ + "/sock";
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::copy(socket_path.begin(), socket_path.end(), address.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  WriteBytes(prog_ + "/LOG.TXT", "log");
  const struct {
    std::string employee;
    std::string expected;  // empty: no problem
  } cases[] = {
      {out_ + "/employee.txt", ""},
      {prog_ + "/PAVRO.ini", "which is the configuration file"},
      {prog_ + "/LOG.TXT", "which is the run log"},
      {prog_ + "/kdx-interface.lock", "which is the run lock"},
      {prog_ + "/../prog/kdx-interface", "which is the program"},
      {db_.File("EMPLOYEE.ADT"), "a file of the HR database"},
      {db_.Folder() + "/empleave.adt-wal", "a file of the HR database"},
      {db_.Folder() + "/employee", "a file of the HR database"},
      {out_ + "/./leave.txt", "the same file as EMPLOYEE_PATH"},
      {out_ + "/link", "which is a symbolic link"},
      {out_ + "/fifo", "which is a FIFO"},
      {"/dev/null", "which is a device"},
      {out_, "which is a folder"},
      {socket_path, "which is a socket"},
  };
  for (const auto& c : cases) {
    const std::string problems = Joined(Problems(Ini(c.employee)));
    if (c.expected.empty()) {
      EXPECT_EQ(problems, "") << c.employee;
    } else {
      EXPECT_NE(problems.find(" in " + prog_ + "/PAVRO.ini names '"), std::string::npos) << problems;
      EXPECT_NE(problems.find("'" + c.employee + "'"), std::string::npos) << problems;
      EXPECT_NE(problems.find(c.expected), std::string::npos) << c.employee << ": " << problems;
    }
  }
  ::close(sock);
  EXPECT_FALSE(fs::exists(out_ + "/target"));
}

// In a site folder apart from the program's, PAVRO.ini, LOG.TXT and the run
// lock there are guarded, and so is the program in its own folder.
TEST_F(RunPathsTest, TheSiteFoldersFilesAndTheProgramAreGuarded) {
  const std::string site = scratch_.Sub("site", true) + "/";
  const RunSite run_site(prog_ + "/kdx-interface", site, RunSite::Origin::kOption);
  for (const auto& [employee, expected] : std::vector<std::pair<std::string, std::string>>{
           {site + "PAVRO.ini", "which is the configuration file " + site + "PAVRO.ini"},
           {site + "LOG.TXT", "which is the run log " + site + "LOG.TXT"},
           {site + "kdx-interface.lock", "which is the run lock " + site + "kdx-interface.lock"},
           {prog_ + "/kdx-interface", "which is the program"}}) {
    WriteBytes(site + "PAVRO.ini", Ini(employee));
    RunState state;
    LoadConfiguration(state, clock_, run_site);
    const std::string problems = Joined(RunPathProblems(state, UnattendedOutputs(state), run_site));
    EXPECT_NE(problems.find("EMPLOYEE_PATH in " + site + "PAVRO.ini names '" + employee + "', " + expected),
              std::string::npos)
        << problems;
  }
}

TEST_F(RunPathsTest, SettingsThatNameNoFileHereAreRefused) {
  const std::string ini = prog_ + "/PAVRO.ini";
  EXPECT_EQ(Joined(Problems("")),
            "SOURCE_PATH is not set (" + ini + " does not exist), and its default 'd:\\bramble' cannot be a path "
            "on this system\nEMPLOYEE_PATH is not set (" + ini + " does not exist), and its default "
            "'c:\\temp\\employee.txt' cannot be a path on this system\n");
  EXPECT_NE(Joined(Problems("[PATH]\nSOURCE_PATH=" + db_.Folder() + "\n")).find("EMPLOYEE_PATH is missing from " + ini),
            std::string::npos);
  const std::string long_name = out_ + "/" + std::string(2469, 'e');
  EXPECT_NE(Joined(Problems(Ini(long_name))).find("EMPLOYEE_PATH in " + ini + " is longer than 2047 characters"),
            std::string::npos);
  EXPECT_EQ(Joined(Problems("[PATH]\nSOURCE_PATH=\nEMPLOYEE_PATH=" + out_ + "/e.txt\n")),
            "Must specify connection string before getting a server connection. (SOURCE_PATH in " + ini +
                " is empty)\n");
  fs::remove(ini);
  fs::create_directory(ini);
  EXPECT_NE(Joined(Problems("")).find(ini + " is a folder, not a file"), std::string::npos);
}

TEST_F(RunPathsTest, UnknownKeysNameTheNearestKnownKeyAndUnknownSectionsAreNamed) {
  WriteBytes(prog_ + "/PAVRO.ini", "[PATH]\nEMPLOYE_PATH=x\nsource_path=y\nLEAVEPATH=z\n[ OTHER ]\nQ=1\n[path]\n");
  EXPECT_EQ(UnknownKeyWarnings(prog_ + "/PAVRO.ini"),
            (std::vector<std::string>{
                "PAVRO.ini: unknown section OTHER of " + prog_ + "/PAVRO.ini (did you mean PATH?)",
                "PAVRO.ini: unknown key EMPLOYE_PATH in section PATH of " + prog_ + "/PAVRO.ini (did you mean "
                "EMPLOYEE_PATH?)",
                "PAVRO.ini: unknown key LEAVEPATH in section PATH of " + prog_ + "/PAVRO.ini (did you mean "
                "LEAVE_PATH?)"}));
}

}  // namespace
}  // namespace app_test
