#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "platform/faulty_file_system.h"
#include "temp_folder.h"

namespace {

class OutputFileTest : public TempFolderTest {
 protected:
  // The EInOutError that `action` raises; fails the test when it raises none.
  template <typename F>
  static EInOutError ErrorOf(F action) {
    try {
      action();
    } catch (const EInOutError& e) {
      return e;
    }
    ADD_FAILURE() << "no EInOutError raised";
    return EInOutError(0);
  }

  // Lines of about 1000 bytes, each one different, so that a cut or a
  // repeated line shows in the file.
  static std::vector<std::string> Lines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
      lines.push_back("line " + std::to_string(i) + " " + std::string(990, 'a' + i % 26));
    }
    return lines;
  }
  static std::string Joined(const std::vector<std::string>& lines, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += lines[i] + "\r\n";
    return out;
  }
  // The names in the test's folder, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
  }

  static constexpr char kSetting[] = "EMPLOYEE_PATH in /opt/kdx/PAVRO.ini";
};

TEST_F(OutputFileTest, WritesLinesEndingInCrLf) {
  OutputFile file;
  file.Assign(PathOf("out.txt"));
  file.Rewrite();
  EXPECT_TRUE(file.IsOpen());
  file.WriteLine("E01,M,AB  ");
  file.WriteLine("");
  file.WriteLine("last");
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "E01,M,AB  \r\n\r\nlast\r\n");
}

TEST_F(OutputFileTest, RewriteEmptiesAnExistingFileAndNoLinesGiveAnEmptyFile) {
  WriteFile(PathOf("out.txt"), "old contents that must go\r\n");
  OutputFile file;
  file.Assign(PathOf("out.txt"));
  file.Rewrite();
  file.Close();
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "");
}

TEST_F(OutputFileTest, LinesLongerThanTheBufferAreWrittenWhole) {
  const std::string big(OutputFile::kBufferSize * 2 + 17, 'x');
  OutputFile file;
  file.Assign(PathOf("big.txt"));
  file.Rewrite();
  file.WriteLine("a");
  file.WriteLine(big);
  file.WriteLine("b");
  file.Close();
  EXPECT_EQ(ReadFile(PathOf("big.txt")), "a\r\n" + big + "\r\nb\r\n");
}

TEST_F(OutputFileTest, ReadersSeeThePreviousFileUntilCloseThenTheNewOne) {
  const std::string previous = Joined(Lines(348), 348);
  WriteFile(PathOf("open.txt"), previous);
  const std::vector<std::string> lines = Lines(500);  // several buffer writes
  OutputFile file;
  file.Assign(PathOf("open.txt"));
  file.Rewrite();
  for (const std::string& line : lines) {
    file.WriteLine(line.substr(1));
    ASSERT_EQ(StatOf(PathOf("open.txt")).st_size, static_cast<off_t>(previous.size()));
  }
  file.Flush();
  EXPECT_EQ(ReadFile(PathOf("open.txt")), previous);
  file.Close();
  std::string written;
  for (const std::string& line : lines) written += line.substr(1) + "\r\n";
  EXPECT_EQ(ReadFile(PathOf("open.txt")), written);
}

TEST_F(OutputFileTest, RewriteAndAssignCloseAnOpenFileFirst) {
  OutputFile file;
  file.Assign(PathOf("one.txt"));
  file.Rewrite();
  file.WriteLine("one");
  file.Assign(PathOf("two.txt"));
  EXPECT_FALSE(file.IsOpen());
  file.Rewrite();
  file.WriteLine("two");
  file.Rewrite();  // empties two.txt again
  file.WriteLine("again");
  file.Close();
  EXPECT_EQ(ReadFile(PathOf("one.txt")), "one\r\n");
  EXPECT_EQ(ReadFile(PathOf("two.txt")), "again\r\n");
}

// A run that stops on an error, with lines buffered and lines already
// written, leaves last night's file as it was and nothing beside it.
TEST_F(OutputFileTest, AStoppedRunLeavesThePreviousFileAsItWas) {
  const std::vector<std::string> lines = Lines(100);
  for (const bool destroyed : {false, true}) {
    SCOPED_TRACE(destroyed ? "destructor" : "CloseAfterError");
    WriteFile(PathOf("left-open.txt"), "last night\r\n");
    {
      OutputFile file;
      file.Assign(PathOf("left-open.txt"));
      file.Rewrite();
      for (const std::string& line : lines) file.WriteLine(line);
      if (!destroyed) {
        file.CloseAfterError();
        EXPECT_FALSE(file.IsOpen());
      }
    }
    EXPECT_EQ(ReadFile(PathOf("left-open.txt")), "last night\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"left-open.txt"});
  }
}

TEST_F(OutputFileTest, MessagesFollowTheCode) {
  EXPECT_STREQ(EInOutError(2).what(), "File not found");
  EXPECT_STREQ(EInOutError(3).what(), "Invalid filename");
  EXPECT_STREQ(EInOutError(4).what(), "Too many open files");
  EXPECT_STREQ(EInOutError(5).what(), "File access denied");
  EXPECT_STREQ(EInOutError(100).what(), "Read beyond end of file");
  EXPECT_STREQ(EInOutError(101).what(), "Disk full");
  EXPECT_STREQ(EInOutError(106).what(), "Invalid numeric input");
  EXPECT_STREQ(EInOutError(105).what(), "I/O error 105");
  EXPECT_STREQ(EInOutError(32).what(), "I/O error 32");
  EXPECT_EQ(EInOutError(101).Code(), 101);
  EXPECT_STREQ(EInOutError(101, "'/srv/out/e.txt'").what(), "Disk full: '/srv/out/e.txt'");
  EXPECT_STREQ(EInOutError(101, "").what(), "Disk full");
}

TEST_F(OutputFileTest, ErrnoValuesMapToTheCodesAUserKnows) {
  EXPECT_EQ(InOutErrorCodeFromErrno(ENOENT), 3);
  EXPECT_EQ(InOutErrorCodeFromErrno(ENOTDIR), 3);
  EXPECT_EQ(InOutErrorCodeFromErrno(ENAMETOOLONG), 3);
  EXPECT_EQ(InOutErrorCodeFromErrno(EACCES), 5);
  EXPECT_EQ(InOutErrorCodeFromErrno(EROFS), 5);
  EXPECT_EQ(InOutErrorCodeFromErrno(EISDIR), 5);
  EXPECT_EQ(InOutErrorCodeFromErrno(ENOSPC), 101);
  EXPECT_EQ(InOutErrorCodeFromErrno(EDQUOT), 101);
  EXPECT_EQ(InOutErrorCodeFromErrno(EMFILE), 4);
  EXPECT_EQ(InOutErrorCodeFromErrno(EFBIG), EFBIG);
  // errno values that share a number with a named code must not read as it.
  EXPECT_EQ(InOutErrorCodeFromErrno(EIO), kWriteFault);      // 5
  EXPECT_EQ(InOutErrorCodeFromErrno(ENOBUFS), kWriteFault);  // 105
}

// Open failures name the file and the setting it came from.
TEST_F(OutputFileTest, OpenFailures) {
  OutputFile file;
  file.Assign(PathOf("missing/out.txt"), kSetting);
  EXPECT_EQ(ErrorOf([&] { file.Rewrite(); }).Code(), 3);
  EXPECT_EQ(ErrorOf([&] { file.Rewrite(); }).what(),
            "Invalid filename: '" + PathOf("missing/out.txt") + "' (EMPLOYEE_PATH in /opt/kdx/PAVRO.ini)");
  EXPECT_FALSE(file.IsOpen());
  file.Assign(PathOf("missing/out.txt"));
  EXPECT_EQ(ErrorOf([&] { file.Rewrite(); }).what(), "Invalid filename: '" + PathOf("missing/out.txt") + "'");

  WriteFile(PathOf("plain"), "x");
  file.Assign(PathOf("plain/out.txt"));  // a file where a folder should be
  EXPECT_EQ(ErrorOf([&] { file.Rewrite(); }).Code(), 3);

  file.Assign("", "LEAVE_PATH in /opt/kdx/PAVRO.ini");
  EXPECT_STREQ(ErrorOf([&] { file.Rewrite(); }).what(),
               "I/O error 105: no file name (LEAVE_PATH in /opt/kdx/PAVRO.ini is empty)");
  file.Assign("");
  EXPECT_STREQ(ErrorOf([&] { file.Rewrite(); }).what(), "I/O error 105: no file name");
}

TEST_F(OutputFileTest, ReadOnlyFolderIsAccessDenied) {
  ASSERT_EQ(::mkdir(PathOf("ro").c_str(), 0555), 0);
  OutputFile file;
  file.Assign(PathOf("ro/out.txt"));
  if (::geteuid() == 0) {
    // Permission bits do not stop root; make the open fail as it would.
    FaultyFileSystem fs;
    fs.FailCreate(EACCES);
    OutputFile as_root(&fs);
    as_root.Assign(PathOf("ro/out.txt"));
    EXPECT_EQ(ErrorOf([&] { as_root.Rewrite(); }).Code(), 5);
  } else {
    EXPECT_EQ(ErrorOf([&] { file.Rewrite(); }).Code(), 5);
  }
}

TEST_F(OutputFileTest, OperationsOnAClosedFileFail) {
  OutputFile file;
  file.Assign(PathOf("closed.txt"));
  EXPECT_EQ(ErrorOf([&] { file.WriteLine("x"); }).what(), "I/O error 103: '" + PathOf("closed.txt") + "'");
  EXPECT_EQ(ErrorOf([&] { file.Close(); }).Code(), 103);
  file.Rewrite();
  file.Close();
  EXPECT_EQ(ErrorOf([&] { file.Close(); }).Code(), 103);
  EXPECT_NO_THROW(file.CloseAfterError());
}

// Whichever step fails, and however much of a write got through, the error
// names the file and its setting, the file is closed, the previous file is
// byte for byte what it was, and nothing else is left in the folder; except
// that a failing folder sync comes after the new file is in place.
TEST_F(OutputFileTest, AFailedRunLeavesThePreviousFileAsItWas) {
  struct Case {
    const char* name;
    int lines;
    std::function<void(FaultyFileSystem&)> inject;
    std::string message;  // what precedes the path
    std::string detail = {};  // what follows it
    bool replaced = false;
  };
  const Case cases[] = {
      {"full disk at the first write", 300, [](FaultyFileSystem& fs) { fs.FailWritesFrom(1); }, "Disk full"},
      {"full disk half way through a later write", 300,
       [](FaultyFileSystem& fs) { fs.FailWrite(3, ENOSPC, 1500); }, "Disk full"},
      {"disk that stays full", 300, [](FaultyFileSystem& fs) { fs.FailWritesFrom(3); }, "Disk full"},
      {"full disk when Close writes the last line", 1, [](FaultyFileSystem& fs) { fs.FailWritesFrom(1); },
       "Disk full"},
      {"failed fsync", 300, [](FaultyFileSystem& fs) { fs.FailSync(EIO); }, "I/O error 29"},
      {"failed fchmod", 300, [](FaultyFileSystem& fs) { fs.FailSetPermissions(EROFS); }, "File access denied"},
      {"failed close", 300, [](FaultyFileSystem& fs) { fs.FailClose(EIO); }, "I/O error 29"},
      {"full disk reported by close", 3, [](FaultyFileSystem& fs) { fs.FailClose(ENOSPC); }, "Disk full"},
      {"failed rename", 300, [](FaultyFileSystem& fs) { fs.FailRename(EIO); }, "I/O error 29"},
      {"failed create", 300, [](FaultyFileSystem& fs) { fs.FailCreate(EACCES); }, "File access denied"},
      {"failed folder sync", 300, [](FaultyFileSystem& fs) { fs.FailSyncFolder(EIO); }, "I/O error 29",
       " is in place, but its folder could not be synced to disk", true},
  };
  const std::vector<std::string> lines = Lines(300);
  const std::string previous = Joined(Lines(37), 37);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(PathOf("out.txt"), previous);
    FaultyFileSystem fs;
    c.inject(fs);
    OutputFile file(&fs);
    file.Assign(PathOf("out.txt"), kSetting);
    const std::string message = ErrorOf([&] {
                                  file.Rewrite();
                                  for (int i = 0; i < c.lines; ++i) file.WriteLine(lines[i]);
                                  file.Close();
                                }).what();
    EXPECT_EQ(message, c.message + ": '" + PathOf("out.txt") + "'" + c.detail + " (" + kSetting + ")");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadFile(PathOf("out.txt")), c.replaced ? Joined(lines, c.lines) : previous);
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.txt"});
  }
}

// A run killed half way leaves its temporary file beside the final one; the
// next run of the same file removes it.
TEST_F(OutputFileTest, TheNextRewriteRemovesATemporaryFileAKilledRunLeft) {
  EXPECT_EQ(PartialPathOf(PathOf("out.txt")), PathOf(".out.txt.kdx-partial"));
  EXPECT_EQ(FinalPathOfPartial(PathOf(".out.txt.kdx-partial")), PathOf("out.txt"));
  EXPECT_EQ(FinalPathOfPartial(PathOf("out.txt")), "");
  WriteFile(PathOf("out.txt"), "last night\r\n");
  WriteFile(PathOf(".out.txt.kdx-partial"), "half a line from a killed ru");
  OutputFile file;
  file.Assign(PathOf("out.txt"));
  file.Rewrite();
  EXPECT_EQ(ReadFile(PathOf(".out.txt.kdx-partial")), "");
  file.WriteLine("tonight");
  file.Close();
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "tonight\r\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.txt"});

  WriteFile(PathOf(".out.txt.kdx-partial"), "left again");
  FaultyFileSystem fs;
  fs.FailRemove(EACCES);
  OutputFile stuck(&fs);
  stuck.Assign(PathOf("out.txt"));
  EXPECT_EQ(ErrorOf([&] { stuck.Rewrite(); }).what(),
            "File access denied: '" + PathOf(".out.txt.kdx-partial") +
                "' is left from an earlier run and cannot be removed");
}

// What is not a regular file is refused before anything is created, and at
// once: it is looked at, never opened (a FIFO would wait for a reader).
TEST_F(OutputFileTest, RefusesWhatIsNotARegularFile) {
  WriteFile(PathOf("target.txt"), "payroll\r\n");
  ASSERT_EQ(::symlink(PathOf("target.txt").c_str(), PathOf("link.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo(PathOf("fifo.txt").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(PathOf("dir").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(PathOf(".taken.txt.kdx-partial").c_str(), 0755), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, PathOf("sock").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(sock);
  struct Case {
    std::string path;
    std::string shown;  // the path the message names
    std::string what;
  };
  const Case cases[] = {
      {PathOf("link.txt"), PathOf("link.txt"), "is a symbolic link"},
      {PathOf("fifo.txt"), PathOf("fifo.txt"), "is a FIFO"},
      {"/dev/null", "/dev/null", "is a device"},
      {PathOf("dir"), PathOf("dir"), "is a folder"},
      {PathOf("sock"), PathOf("sock"), "is a socket"},
      {PathOf("taken.txt"), PathOf(".taken.txt.kdx-partial"), "is a folder, in the way of the new file"},
  };
  const std::vector<std::string> entries = Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    OutputFile file;
    file.Assign(c.path, kSetting);
    auto rewrite = std::async(std::launch::async, [&] { return ErrorOf([&] { file.Rewrite(); }); });
    if (rewrite.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << "Rewrite waits";
      ::close(::open(c.path.c_str(), O_RDONLY | O_NONBLOCK));  // lets a FIFO's writer go on
    }
    const EInOutError error = rewrite.get();
    EXPECT_EQ(error.Code(), 5);
    EXPECT_EQ(error.what(), "File access denied: '" + c.shown + "' " + c.what + " (" + kSetting + ")");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(Entries(), entries);
  }
  EXPECT_TRUE(S_ISLNK(StatOf(PathOf("link.txt")).st_mode));
  EXPECT_EQ(ReadFile(PathOf("target.txt")), "payroll\r\n");
  EXPECT_TRUE(S_ISCHR(StatOf("/dev/null").st_mode));
  EXPECT_NE(::access(PartialPathOf("/dev/null").c_str(), F_OK), 0);
}

// A new file is readable by its owner and group only; a file that replaces
// an earlier one keeps that file's mode and group, and a group the process
// may not give it does not stop the run.
TEST_F(OutputFileTest, ModesOfNewAndReplacedFiles) {
  // A group other than the default one that this process may give a file.
  gid_t other_group = ::getegid() + 4242;
  if (::geteuid() != 0) {
    std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<size_t>(std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    const auto it = std::find_if(groups.begin(), groups.end(), [](gid_t g) { return g != ::getegid(); });
    other_group = it != groups.end() ? *it : ::getegid();
  }
  struct Case {
    const char* name;
    mode_t umask;
    mode_t previous;  // 0: no file before
    int set_group_error;
    mode_t expected;
    bool keeps_group;
  };
  const Case cases[] = {
      {"new file, umask 022", 022, 0, 0, 0640, false},
      {"new file, umask 077", 077, 0, 0, 0600, false},
      {"replaced file", 077, 0604, 0, 0604, true},
      {"replaced file, group not allowed", 022, 0604, EPERM, 0604, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathOf(std::string(c.name) + ".txt");
    if (c.previous != 0) {
      WriteFile(path, "last night\r\n");
      ASSERT_EQ(::chmod(path.c_str(), c.previous), 0);
      ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), other_group), 0);
    }
    FaultyFileSystem fs;
    fs.FailSetGroup(c.set_group_error);
    const mode_t saved = ::umask(c.umask);
    OutputFile file(&fs);
    file.Assign(path);
    file.Rewrite();
    file.WriteLine("salary");
    EXPECT_NO_THROW(file.Close());
    ::umask(saved);
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_mode & 07777, c.expected);
    if (c.keeps_group) {
      EXPECT_EQ(st.st_gid, other_group);
    }
    EXPECT_EQ(ReadFile(path), "salary\r\n");
  }
}

}  // namespace
