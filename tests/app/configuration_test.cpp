#include "app/configuration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/clock.h"
#include "tests/platform/temp_folder.h"
#include "util/date_time.h"

namespace {

// A program file in a fresh folder, with or without a PAVRO.ini beside it.
class ConfigurationTest : public TempFolderTest {
 protected:
  ConfigurationTest() : clock_(EncodeDate(2010, 3, 24) + EncodeTime(18, 0, 0, 0)) {}

  void Load() { LoadConfiguration(state_, clock_, folder_ + "kdx-interface"); }
  void WriteIni(const std::string& contents) { WriteFile(PathOf("PAVRO.ini"), contents); }

  FixedClock clock_;
  RunState state_;
};

TEST_F(ConfigurationTest, NoFileBesideTheProgramGivesTheDefaults) {
  Load();
  EXPECT_EQ(state_.ProgramFolder, folder_);
  EXPECT_EQ(state_.RunPeriod, "201003");
  EXPECT_EQ(state_.SourcePath, "d:\\bramble");
  EXPECT_EQ(state_.EmployeePath, "c:\\temp\\employee.txt");
  EXPECT_EQ(state_.LeavePath, "");
}

TEST_F(ConfigurationTest, ReadsTheThreePathsOfSectionPath) {
  WriteIni(
      "[PATH]\r\n"
      "SOURCE_PATH=/srv/hr/data\r\n"
      "EMPLOYEE_PATH = \"/srv/out/employee file.txt\"\r\n"
      "LEAVE_PATH=/srv/out/leave.txt\r\n"
      "UNUSED=1\r\n");
  Load();
  EXPECT_EQ(state_.SourcePath, "/srv/hr/data");
  EXPECT_EQ(state_.EmployeePath, "/srv/out/employee file.txt");
  EXPECT_EQ(state_.LeavePath, "/srv/out/leave.txt");
}

TEST_F(ConfigurationTest, AnEmptyValueIsKeptAndMissingKeysDefault) {
  WriteIni("[path]\nsource_path=\nLEAVE_PATH=c:\\out\\\n");
  Load();
  EXPECT_EQ(state_.SourcePath, "");
  EXPECT_EQ(state_.EmployeePath, "c:\\temp\\employee.txt");
  EXPECT_EQ(state_.LeavePath, "c:\\out\\");  // taken as it stands
}

TEST_F(ConfigurationTest, LeavesTheOtherRunFieldsAlone) {
  state_.LogPath = "log";
  state_.FieldSeparator = "|";
  state_.AsOfDate = 123.5;
  Load();
  EXPECT_EQ(state_.LogPath, "log");
  EXPECT_EQ(state_.FieldSeparator, "|");
  EXPECT_EQ(state_.AsOfDate, 123.5);
}

TEST_F(ConfigurationTest, EachCallReadsTheFileAndTheClockAgain) {
  WriteIni("[PATH]\nSOURCE_PATH=first\n");
  clock_.Set(EncodeDate(2010, 12, 31) + EncodeTime(23, 59, 0, 0));
  Load();
  EXPECT_EQ(state_.SourcePath, "first");
  EXPECT_EQ(state_.RunPeriod, "201012");
  WriteIni("[PATH]\nSOURCE_PATH=second\n");
  clock_.Set(EncodeDate(2011, 1, 1));
  Load();
  EXPECT_EQ(state_.SourcePath, "second");
  EXPECT_EQ(state_.RunPeriod, "201101");
}

TEST_F(ConfigurationTest, AFileNamedInAnotherCaseIsFound) {
  WriteFile(PathOf("pavro.INI"), "[PATH]\nSOURCE_PATH=found\n");
  Load();
  EXPECT_EQ(state_.SourcePath, "found");
}

TEST_F(ConfigurationTest, ProgramFolderIsCutAfterTheLastSeparator) {
  EXPECT_EQ(ProgramFolderOf("C:\\Apps\\Hr\\KDX.exe"), "C:\\Apps\\Hr\\");
  EXPECT_EQ(ProgramFolderOf("/opt/kdx/bin/kdx-interface"), "/opt/kdx/bin/");
  EXPECT_EQ(ProgramFolderOf("C:\\Apps/Hr\\x"), "C:\\Apps/Hr\\");
  EXPECT_EQ(ProgramFolderOf("C:KDX.exe"), "C:");
  EXPECT_EQ(ProgramFolderOf("KDX.exe"), "");
  EXPECT_EQ(ConfigurationFilePath("C:\\Apps\\Hr\\"), "C:\\Apps\\Hr\\PAVRO.ini");
}

TEST_F(ConfigurationTest, DescribeTellsTheFilesValuesFromTheDefaults) {
  WriteIni("[path]\nsource_path = \"/srv/hr\"\nLEAVE_PATH=\n");
  Load();
  const std::vector<ConfigurationValue> values = DescribeConfiguration(PathOf("PAVRO.ini"));
  ASSERT_EQ(values.size(), 3u);
  // The same values the run takes, in the order it reads them.
  EXPECT_EQ(values[0].key, "SOURCE_PATH");
  EXPECT_EQ(values[0].value, state_.SourcePath);
  EXPECT_TRUE(values[0].from_file);
  EXPECT_EQ(values[1].key, "EMPLOYEE_PATH");
  EXPECT_EQ(values[1].value, "c:\\temp\\employee.txt");
  EXPECT_FALSE(values[1].from_file);
  // Present with nothing after "=": the empty text, from the file.
  EXPECT_EQ(values[2].value, "");
  EXPECT_TRUE(values[2].from_file);
  for (const ConfigurationValue& v : DescribeConfiguration(PathOf("missing.ini"))) EXPECT_FALSE(v.from_file);
}

TEST(RunSiteTest, TheOptionWinsThenTheEnvironmentThenTheProgramsOwnFolder) {
  const std::string cwd = std::filesystem::current_path().string();
  const struct {
    std::optional<std::string> option;
    const char* environment;
    std::string folder;
    RunSite::Origin origin;
  } cases[] = {
      {"/srv/a", "/srv/b", "/srv/a/", RunSite::Origin::kOption},
      {std::nullopt, "/srv/b/", "/srv/b/", RunSite::Origin::kEnvironment},
      {std::nullopt, "", "/opt/kdx/", RunSite::Origin::kProgramFolder},
      {std::nullopt, nullptr, "/opt/kdx/", RunSite::Origin::kProgramFolder},
      {"sites/a", nullptr, cwd + "/sites/a/", RunSite::Origin::kOption},
  };
  for (const auto& c : cases) {
    const RunSite site = ChooseRunSite("/opt/kdx/kdx-interface", c.option, c.environment);
    EXPECT_EQ(site.folder, c.folder) << c.folder;
    EXPECT_EQ(site.origin, c.origin) << c.folder;
    EXPECT_EQ(site.program, "/opt/kdx/kdx-interface");
  }
}

TEST(RunningProgramTest, PathIsTheTestProgramItself) {
  const std::string path = RunningProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(ProgramFolderOf(path).size()).rfind("app_tests", 0), 0u);
}

}  // namespace
