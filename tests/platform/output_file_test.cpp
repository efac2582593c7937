#include "platform/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

TEST_F(OutputFileTest, OtherProgramsSeeFlushedLinesWhileTheFileIsOpen) {
  OutputFile file;
  file.Assign(PathOf("open.txt"));
  file.Rewrite();
  file.WriteLine("first");
  file.Flush();
  EXPECT_EQ(ReadFile(PathOf("open.txt")), "first\r\n");
  file.Close();
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

TEST_F(OutputFileTest, DestructionWritesWhatIsBuffered) {
  {
    OutputFile file;
    file.Assign(PathOf("left-open.txt"));
    file.Rewrite();
    file.WriteLine("kept");
  }
  EXPECT_EQ(ReadFile(PathOf("left-open.txt")), "kept\r\n");
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

TEST_F(OutputFileTest, OpenFailures) {
  OutputFile file;
  file.Assign(PathOf("missing/out.txt"));
  EXPECT_EQ(ErrorOf([&] { file.Rewrite(); }).Code(), 3);
  EXPECT_STREQ(ErrorOf([&] { file.Rewrite(); }).what(), "Invalid filename");
  EXPECT_FALSE(file.IsOpen());

  WriteFile(PathOf("plain"), "x");
  file.Assign(PathOf("plain/out.txt"));  // a file where a folder should be
  EXPECT_EQ(ErrorOf([&] { file.Rewrite(); }).Code(), 3);

  ASSERT_EQ(::mkdir(PathOf("dir").c_str(), 0755), 0);
  file.Assign(PathOf("dir"));  // a folder in the way of the file
  EXPECT_STREQ(ErrorOf([&] { file.Rewrite(); }).what(), "File access denied");

  file.Assign("");
  EXPECT_STREQ(ErrorOf([&] { file.Rewrite(); }).what(), "I/O error 105");
}

TEST_F(OutputFileTest, ReadOnlyFolderIsAccessDenied) {
  ASSERT_EQ(::mkdir(PathOf("ro").c_str(), 0555), 0);
  OutputFile file;
  file.Assign(PathOf("ro/out.txt"));
  if (::geteuid() == 0) {
    // Permission bits do not stop root; make the open fail as it would.
    FaultyFileSystem fs;
    fs.FailOpen(EACCES);
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
  EXPECT_STREQ(ErrorOf([&] { file.WriteLine("x"); }).what(), "I/O error 103");
  EXPECT_EQ(ErrorOf([&] { file.Close(); }).Code(), 103);
  file.Rewrite();
  file.Close();
  EXPECT_EQ(ErrorOf([&] { file.Close(); }).Code(), 103);
  EXPECT_NO_THROW(file.CloseAfterError());
}

// Whatever write fails, and however much of it got through, the file holds
// exactly the whole lines accepted before the failure once the run has
// stopped and the file was closed after the error.
TEST_F(OutputFileTest, FailingNthWriteLeavesOnlyWholeLines) {
  const std::vector<std::string> lines = Lines(300);  // several buffer flushes
  for (int nth = 1; nth <= 5; ++nth) {
    for (size_t partial : {size_t{0}, size_t{1}, size_t{1500}}) {
      SCOPED_TRACE("write " + std::to_string(nth) + ", partial " + std::to_string(partial));
      FaultyFileSystem fs;
      fs.FailWrite(nth, ENOSPC, partial);
      OutputFile file(&fs);
      file.Assign(PathOf("fail.txt"));
      file.Rewrite();
      size_t accepted = 0;
      std::string message;
      try {
        for (; accepted < lines.size(); ++accepted) file.WriteLine(lines[accepted]);
        file.Close();
      } catch (const EInOutError& e) {
        message = e.what();
      }
      file.CloseAfterError();
      EXPECT_EQ(message, "Disk full");
      EXPECT_EQ(ReadFile(PathOf("fail.txt")), Joined(lines, accepted));
    }
  }
}

TEST_F(OutputFileTest, ADiskThatStaysFullKeepsTheLinesWrittenBefore) {
  const std::vector<std::string> lines = Lines(300);
  FaultyFileSystem fs;
  fs.FailWritesFrom(3, ENOSPC);
  OutputFile file(&fs);
  file.Assign(PathOf("full.txt"));
  file.Rewrite();
  EXPECT_EQ(ErrorOf([&] {
              for (const std::string& line : lines) file.WriteLine(line);
            }).Code(),
            101);
  file.CloseAfterError();
  EXPECT_FALSE(file.IsOpen());
  const std::string contents = ReadFile(PathOf("full.txt"));
  const size_t whole = contents.size() / (lines[0].size() + 2);
  EXPECT_GT(whole, 0u);
  EXPECT_EQ(contents, Joined(lines, whole));
}

TEST_F(OutputFileTest, FailingFlushOnCloseKeepsTheFileOpenUntilClosedAfterError) {
  FaultyFileSystem fs;
  fs.FailWritesFrom(1, ENOSPC);
  OutputFile file(&fs);
  file.Assign(PathOf("flush.txt"));
  file.Rewrite();
  file.WriteLine("never written");
  EXPECT_EQ(ErrorOf([&] { file.Close(); }).Code(), 101);
  EXPECT_TRUE(file.IsOpen());
  file.CloseAfterError();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(fs.CloseCalls(), 1);
  EXPECT_EQ(ReadFile(PathOf("flush.txt")), "");
}

TEST_F(OutputFileTest, FailingCloseIsReportedAndReleasesTheFile) {
  FaultyFileSystem fs;
  fs.FailClose(EIO);
  OutputFile file(&fs);
  file.Assign(PathOf("close.txt"));
  file.Rewrite();
  file.WriteLine("data");
  EXPECT_STREQ(ErrorOf([&] { file.Close(); }).what(), "I/O error 29");
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadFile(PathOf("close.txt")), "data\r\n");

  fs.FailClose(ENOSPC);  // a network file system reports a full disk on close
  file.Rewrite();
  EXPECT_STREQ(ErrorOf([&] { file.Close(); }).what(), "Disk full");
}

}  // namespace
