#include "app/run_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/app/app_test_support.h"

namespace app_test {
namespace {

class RunLockTest : public ::testing::Test {
 protected:
  ScratchFolder scratch_;
  std::string Folder() const { return scratch_.Path() + "/"; }
};

TEST_F(RunLockTest, OnlyOneHolderPerProgramFolder) {
  RunLock first;
  ASSERT_EQ(first.Acquire(Folder()), RunLock::Result::kAcquired) << first.Message();
  RunLock second;
  EXPECT_EQ(second.Acquire(Folder()), RunLock::Result::kHeldByAnother);
  EXPECT_NE(second.Message().find("Another run is under way in " + Folder()), std::string::npos) << second.Message();
  EXPECT_NE(second.Message().find("(process " + std::to_string(getpid()) + ")"), std::string::npos)
      << second.Message();
  EXPECT_FALSE(second.Held());
}

TEST_F(RunLockTest, ReleasedWithItsHolder) {
  {
    RunLock first;
    ASSERT_EQ(first.Acquire(Folder()), RunLock::Result::kAcquired);
  }
  RunLock next;
  EXPECT_EQ(next.Acquire(Folder()), RunLock::Result::kAcquired);
}

TEST_F(RunLockTest, AFileLeftByACrashedRunDoesNotBlock) {
  WriteBytes(Folder() + kRunLockFileName, "999999\n");
  RunLock lock;
  EXPECT_EQ(lock.Acquire(Folder()), RunLock::Result::kAcquired);
  EXPECT_EQ(ReadBytes(Folder() + kRunLockFileName), std::to_string(getpid()) + "\n");
}

TEST_F(RunLockTest, DifferentFoldersDoNotBlockEachOther) {
  RunLock a, b;
  EXPECT_EQ(a.Acquire(scratch_.Sub("one", true) + "/"), RunLock::Result::kAcquired);
  EXPECT_EQ(b.Acquire(scratch_.Sub("two", true) + "/"), RunLock::Result::kAcquired);
}

TEST_F(RunLockTest, AMissingFolderIsAFailureNamingTheFile) {
  RunLock lock;
  EXPECT_EQ(lock.Acquire(Folder() + "missing/"), RunLock::Result::kFailed);
  EXPECT_NE(lock.Message().find(Folder() + "missing/" + kRunLockFileName), std::string::npos) << lock.Message();
}

// A link or a FIFO planted as the lock file must not make the run write
// elsewhere, or wait.
TEST_F(RunLockTest, ALinkOrAFifoInPlaceOfTheLockFileIsRefused) {
  ASSERT_EQ(symlink((Folder() + "target").c_str(), (Folder() + kRunLockFileName).c_str()), 0);
  RunLock lock;
  EXPECT_EQ(lock.Acquire(Folder()), RunLock::Result::kFailed);
  EXPECT_NE(lock.Message().find("symbolic link"), std::string::npos) << lock.Message();
  EXPECT_FALSE(fs::exists(Folder() + "target"));
  fs::remove(Folder() + kRunLockFileName);
  ASSERT_EQ(mkfifo((Folder() + kRunLockFileName).c_str(), 0600), 0);
  EXPECT_EQ(lock.Acquire(Folder()), RunLock::Result::kFailed);
  EXPECT_NE(lock.Message().find("not a regular file"), std::string::npos) << lock.Message();
}

}  // namespace
}  // namespace app_test
