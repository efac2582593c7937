#include "platform/ini_file.h"

#include <sys/stat.h>

#include "temp_folder.h"

namespace {

class IniFileTest : public TempFolderTest {
 protected:
  std::string Read(const std::string& contents, const std::string& section,
                   const std::string& key, const std::string& default_value = "<default>") {
    WriteFile(PathOf("test.ini"), contents);
    return ReadProfileString(PathOf("test.ini"), section, key, default_value);
  }
};

TEST_F(IniFileTest, ReadsAValueOfItsSection) {
  const std::string ini =
      "[OTHER]\r\nSOURCE_PATH=wrong\r\n[PATH]\r\nSOURCE_PATH=/data/hr\r\nLEAVE_PATH=/out/lv\r\n";
  EXPECT_EQ(Read(ini, "PATH", "SOURCE_PATH"), "/data/hr");
  EXPECT_EQ(Read(ini, "PATH", "LEAVE_PATH"), "/out/lv");
  EXPECT_EQ(Read(ini, "OTHER", "SOURCE_PATH"), "wrong");
}

TEST_F(IniFileTest, NamesMatchWithoutRegardToCase) {
  const std::string ini = "[Path]\nSource_Path=x\n";
  EXPECT_EQ(Read(ini, "PATH", "SOURCE_PATH"), "x");
  EXPECT_EQ(Read(ini, "path", "source_path"), "x");
}

TEST_F(IniFileTest, BlanksAroundNamesAndValuesAreDropped) {
  EXPECT_EQ(Read("  [ PATH ]  \n  KEY  =   d:\\bramble  \t\n", "PATH", "KEY"), "d:\\bramble");
  EXPECT_EQ(Read("[PATH]\nKEY=a b  c\n", "PATH", "KEY"), "a b  c");
}

TEST_F(IniFileTest, OnePairOfSurroundingQuotesIsRemoved) {
  EXPECT_EQ(Read("[S]\nK=\"c:\\my files\\\"\n", "S", "K"), "c:\\my files\\");
  EXPECT_EQ(Read("[S]\nK='x'\n", "S", "K"), "x");
  EXPECT_EQ(Read("[S]\nK=\"\"x\"\"\n", "S", "K"), "\"x\"");
  EXPECT_EQ(Read("[S]\nK=\"x'\n", "S", "K"), "\"x'");  // quotes that do not pair stay
  EXPECT_EQ(Read("[S]\nK=\"\n", "S", "K"), "\"");
  EXPECT_EQ(Read("[S]\nK=  \"  padded  \"  \n", "S", "K"), "  padded  ");
}

TEST_F(IniFileTest, AnEmptyValueIsNotTheDefault) {
  EXPECT_EQ(Read("[PATH]\nLEAVE_PATH=\n", "PATH", "LEAVE_PATH"), "");
  EXPECT_EQ(Read("[PATH]\nLEAVE_PATH=   \r\n", "PATH", "LEAVE_PATH"), "");
}

TEST_F(IniFileTest, LongValuesAreCutTo2047Characters) {
  const std::string value(3000, 'v');
  EXPECT_EQ(Read("[S]\nK=" + value + "\n", "S", "K"), value.substr(0, 2047));
  EXPECT_EQ(Read("[S]\nK=\"" + value + "\"\n", "S", "K"), value.substr(0, 2047));
}

// A run must be able to tell a cut value and a key it does not know.
TEST_F(IniFileTest, TellsCutValuesAndListsTheKeysOfASection) {
  WriteFile(PathOf("test.ini"), "[PATH]\nA=" + std::string(2047, 'x') + "\nb=" + std::string(2048, 'y') +
                                    "\nEMPLOYE_PATH=z\nB=again\n[OTHER]\nC=1\n");
  const IniFile ini(PathOf("test.ini"));
  EXPECT_FALSE(ini.IsCut("PATH", "A"));
  EXPECT_TRUE(ini.IsCut("path", "B"));
  EXPECT_FALSE(ini.IsCut("PATH", "MISSING"));
  EXPECT_EQ(ini.Keys("PATH"), (std::vector<std::string>{"A", "b", "EMPLOYE_PATH"}));
}

TEST_F(IniFileTest, MissingSectionKeyOrFileGivesTheDefault) {
  EXPECT_EQ(Read("[OTHER]\nK=1\n", "PATH", "K", "dflt"), "dflt");
  EXPECT_EQ(Read("[PATH]\nOTHER=1\n", "PATH", "K", "dflt"), "dflt");
  EXPECT_EQ(Read("", "PATH", "K", "dflt"), "dflt");
  EXPECT_EQ(Read("K=outside any section\n", "", "K", "dflt"), "dflt");
  EXPECT_EQ(ReadProfileString(PathOf("none.ini"), "PATH", "K", "dflt"), "dflt");
  EXPECT_FALSE(IniFile(PathOf("none.ini")).Exists());
}

TEST_F(IniFileTest, AFolderInPlaceOfTheFileCountsAsMissing) {
  ASSERT_EQ(::mkdir(PathOf("dir.ini").c_str(), 0755), 0);
  EXPECT_EQ(ReadProfileString(PathOf("dir.ini"), "PATH", "K", "dflt"), "dflt");
  EXPECT_FALSE(IniFile(PathOf("dir.ini")).Exists());
}

TEST_F(IniFileTest, CommentsOtherLinesAndDuplicates) {
  const std::string ini =
      "; K=commented\n"
      "[S]\n"
      "  ;K=also commented\n"
      "no equals sign here\n"
      "K=first\n"
      "K=second\n"
      "[T]\n"
      "[S]\n"
      "L=from the repeated section\n"
      "K=third\n";
  EXPECT_EQ(Read(ini, "S", "K"), "first");
  EXPECT_EQ(Read(ini, "S", "L"), "from the repeated section");
  EXPECT_EQ(Read(ini, "T", "K"), "<default>");
}

TEST_F(IniFileTest, LastLineWithoutLineEndAndByteOrderMark) {
  EXPECT_EQ(Read("\xEF\xBB\xBF[PATH]\r\nKEY=value", "PATH", "KEY"), "value");
}

TEST_F(IniFileTest, ParsedOnceAnswersManyReads) {
  WriteFile(PathOf("many.ini"), "[PATH]\nA=1\nB=2\n");
  const IniFile ini(PathOf("many.ini"));
  WriteFile(PathOf("many.ini"), "");  // later changes are not seen
  EXPECT_TRUE(ini.Exists());
  EXPECT_EQ(ini.ReadString("PATH", "A", "-"), "1");
  EXPECT_EQ(ini.ReadString("PATH", "B", "-"), "2");
  EXPECT_EQ(ini.ReadString("PATH", "C", "-"), "-");
}

}  // namespace
