#include <gtest/gtest.h>

#include <filesystem>

#include "platform/output_file.h"
#include "tests/app/window_fixture.h"

namespace app_test {
namespace {

class RunLogTest : public WindowFixture {};

TEST_F(RunLogTest, WritesOneLineWithHourSecondsAndMonth) {
  form().WriteRunLog();
  // 14:05:09 on 8 March: hour 14, seconds 09, then the month 03 again.
  EXPECT_EQ(Log(), "LEAVE DATA DOWNLOADED DATE : 08/03/2010  140903\r\n");
  EXPECT_EQ(form().State().LogPath, LogPath());
}

TEST_F(RunLogTest, TwoRunsLeaveOnlyTheLineOfTheSecond) {
  form().WriteRunLog();
  clock_.Set(EncodeDate(2010, 12, 1) + EncodeTime(9, 41, 7, 0));
  form().WriteRunLog();
  EXPECT_EQ(Log(), "LEAVE DATA DOWNLOADED DATE : 01/12/2010  090712\r\n");
}

TEST_F(RunLogTest, LivesBesideTheProgramWhateverTheWorkingFolder) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch_.Sub("elsewhere", true));
  form().WriteRunLog();
  std::filesystem::current_path(previous);
  EXPECT_TRUE(std::filesystem::exists(LogPath()));
  EXPECT_FALSE(std::filesystem::exists(scratch_.Sub("elsewhere/LOG.TXT")));
}

TEST_F(RunLogTest, AFailureRaisesTheFileErrorAndLeavesNoFileOpen) {
  std::filesystem::create_directory(LogPath());  // a folder in the way
  try {
    form().WriteRunLog();
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()),
              "File access denied: '" + LogPath() + "' is a folder (the run log in the site folder)");
  }
  EXPECT_FALSE(form().Output().IsOpen());
  // The output file still works for the next job.
  std::filesystem::remove(LogPath());
  form().WriteRunLog();
  EXPECT_EQ(Log(), "LEAVE DATA DOWNLOADED DATE : 08/03/2010  140903\r\n");
}

}  // namespace
}  // namespace app_test
