#include "platform/ui_terminal.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

WindowView View(const std::string& caption, const std::string& status, int position = 0) {
  WindowView v;
  v.caption = caption;
  v.status = status;
  v.has_progress = true;
  v.progress_min = 0;
  v.progress_max = 100;
  v.progress_position = position;
  return v;
}

size_t Count(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace

class PanelDisplayTest : public ::testing::Test {
 protected:
  std::string out;
  int columns = 80;
  PanelDisplay MakePanel(bool color) {
    return PanelDisplay([this](std::string_view s) { out.append(s); }, color, [this] { return columns; });
  }
};

TEST_F(PanelDisplayTest, DrawsCaptionStatusAndProgress) {
  PanelDisplay panel = MakePanel(false);
  panel.Paint(View("KDX INTERFACE VER1.00 24/03/2010", "Updating : ", 50));
  const auto& lines = panel.LastPlainLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].find("+- KDX INTERFACE VER1.00 24/03/2010 -"), 0u);
  EXPECT_NE(lines[1].find("| Updating : "), std::string::npos);
  // Half of the cells between the brackets are filled at position 50 of 100.
  const size_t open = lines[2].find('['), close = lines[2].find(']');
  const std::string cells = lines[2].substr(open + 1, close - open - 1);
  EXPECT_EQ(Count(cells, "#") * 2, cells.size());
  for (const std::string& line : lines) EXPECT_EQ(line.size(), lines[0].size()) << line;
}

TEST_F(PanelDisplayTest, RedrawsInPlace) {
  PanelDisplay panel = MakePanel(false);
  panel.Paint(View("T", "Export Employee# : E1", 10));
  const size_t first = out.size();
  panel.Paint(View("T", "Export Employee# : E2", 20));
  const std::string second = out.substr(first);
  // Back up over the four lines of the panel, clear, and draw again.
  EXPECT_EQ(second.find("\r\x1b[4A\r\x1b[J"), 0u);
  EXPECT_NE(second.find("Export Employee# : E2"), std::string::npos);
  EXPECT_EQ(Count(out, "\x1b[?25l"), 1u);  // the cursor is hidden once
}

TEST_F(PanelDisplayTest, AnUnchangedPictureWritesNothing) {
  PanelDisplay panel = MakePanel(true);
  panel.Paint(View("T", "S", 10));
  const size_t size = out.size();
  panel.Paint(View("T", "S", 10));
  EXPECT_EQ(out.size(), size);
}

TEST_F(PanelDisplayTest, NoColourMeansNoColourCodes) {
  PanelDisplay panel = MakePanel(false);
  panel.Paint(View("T", "S", 30));
  panel.ShowMessageBox({"T", "failed", MessageIcon::kError, false});
  panel.Finish();
  // No SGR sequence (ESC [ digits m) at all.
  EXPECT_FALSE(std::regex_search(out, std::regex("\x1b\\[[0-9;]*m")));
  // Cursor movement is not colour: it is still used.
  EXPECT_NE(out.find("\x1b[J"), std::string::npos);
}

TEST_F(PanelDisplayTest, ControlCharactersFromDataNeverReachTheTerminal) {
  PanelDisplay panel = MakePanel(false);
  panel.Paint(View("T\x1b]0;evil\x07", "E\x1b[2J\r\n1", 0));
  EXPECT_EQ(out.find("\x1b]"), std::string::npos);
  EXPECT_EQ(out.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(out.find("T?]0;evil?"), std::string::npos);
  EXPECT_NE(out.find("E?[2J??1"), std::string::npos);
}

TEST_F(PanelDisplayTest, LongTextsAreCutToTheWidth) {
  columns = 30;
  PanelDisplay panel = MakePanel(false);
  panel.Paint(View(std::string(100, 'C'), std::string(100, 'S'), 0));
  for (const std::string& line : panel.LastPlainLines()) EXPECT_LE(line.size(), 29u) << line;
}

TEST_F(PanelDisplayTest, AWaitingBoxStaysUnderThePanelAndIsLeftAsTextWhenHidden) {
  PanelDisplay panel = MakePanel(false);
  WindowView view = View("T", "S", 0);
  view.hint = "Run stopped. Press Enter or Ctrl-C to close the window.";
  panel.Paint(view);
  panel.ShowMessageBox({"KDX", "EMP_ALW: wrong password.", MessageIcon::kError, true});
  std::string shown;
  for (const std::string& l : panel.LastPlainLines()) shown += l + "\n";
  EXPECT_NE(shown.find("(X) EMP_ALW: wrong password."), std::string::npos);
  EXPECT_NE(shown.find("[ OK ]  press Enter"), std::string::npos);
  EXPECT_EQ(shown.find("Run stopped"), std::string::npos);  // the hint waits for the OK
  panel.HideMessageBox();
  std::string after;
  for (const std::string& l : panel.LastPlainLines()) after += l + "\n";
  EXPECT_EQ(after.find("press Enter"), std::string::npos);
  EXPECT_NE(after.find("Run stopped"), std::string::npos);
  // The box's text stays on the terminal above the panel.
  EXPECT_EQ(Count(out, "(X) EMP_ALW: wrong password."), 2u);
}

TEST_F(PanelDisplayTest, LongMessagesWrapInsideTheBox) {
  columns = 40;
  PanelDisplay panel = MakePanel(false);
  panel.Paint(View("T", "S", 0));
  panel.ShowMessageBox({"T", std::string(50, 'a') + " tail", MessageIcon::kNone, true});
  bool tail = false;
  for (const std::string& line : panel.LastPlainLines()) {
    EXPECT_LE(line.size(), 39u);
    tail |= line.find("tail") != std::string::npos;
  }
  EXPECT_TRUE(tail);
}

TEST_F(PanelDisplayTest, FinishShowsTheCursorOnceAndKeepsThePicture) {
  PanelDisplay panel = MakePanel(true);
  panel.Paint(View("T", "S", 0));
  panel.Finish();
  panel.Finish();
  EXPECT_EQ(Count(out, "\x1b[?25h"), 1u);
  EXPECT_EQ(out.rfind("\x1b[?25h"), out.size() - 6);
  const size_t size = out.size();
  panel.Paint(View("T", "later", 0));
  EXPECT_EQ(out.size(), size);
}

class LineDisplayTest : public ::testing::Test {
 protected:
  std::string out;
  LineDisplay display{[this](std::string_view s) { out.append(s); }};
};

TEST_F(LineDisplayTest, OneLinePerCaptionChangeAndNothingPerRecord) {
  display.Paint(View("KDX INTERFACE VER1.00 24/03/2010", "Updating : ", 0));
  for (int i = 0; i < 500; ++i) display.Paint(View("KDX INTERFACE VER1.00 24/03/2010", "Export Employee# : E" + std::to_string(i), i % 100));
  display.Paint(View("EXPORTING LEAVE DATABASE...", "Export Leave Data# : E7", 10));
  display.Paint(View("EXPORTING LEAVE DATABASE...", "Export Leave Data# : E8", 20));
  EXPECT_EQ(out, "KDX INTERFACE VER1.00 24/03/2010\nEXPORTING LEAVE DATABASE...\n");
}

TEST_F(LineDisplayTest, PrintsTheTextOfEveryMessageBoxWithoutEscapeCodes) {
  display.Paint(View("T", "S", 0));
  display.ShowMessageBox({"T", "Save file failed", MessageIcon::kNone, false});
  display.ShowMessageBox({"T", "AdsQueryEmp: no such table.", MessageIcon::kError, false});
  display.Finish();
  EXPECT_EQ(out, "T\nSave file failed\nError: AdsQueryEmp: no such table.\n");
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
}

TEST_F(LineDisplayTest, ProgressCaptionsArePrintedOnlyOnceTheyStop) {
  display.Paint(View("KDX", "S", 0));
  for (int i = 0; i < 100; ++i) {
    WindowView v = View("E" + std::to_string(i) + ",A,", "S", 0);
    v.caption_is_progress = true;
    display.Paint(v);
  }
  display.Paint(View("E99,A,Y", "S", 0));
  EXPECT_EQ(out, "KDX\nE99,A,Y\n");
}

TEST_F(LineDisplayTest, ControlCharactersArePrintedAsQuestionMarks) {
  display.Paint(View("T\x1b[31m", "S", 0));
  display.ShowMessageBox({"T", "bad\x07value", MessageIcon::kNone, false});
  EXPECT_EQ(out, "T?[31m\nbad?value\n");
}

TEST_F(LineDisplayTest, EightBitControlSequencesArePrintedAsQuestionMarksToo) {
  // 155 (CSI) and its UTF-8 form C2 9B would start a control sequence on
  // terminals that honour the C1 controls.
  display.ShowMessageBox({"T", "a\x9b" "2J b\xc2\x9b" "31m c\xe9", MessageIcon::kNone, false});
  EXPECT_EQ(out, "a?2J b\xc2?31m c\xe9\n");
}

TEST_F(LineDisplayTest, CrLfLineBreaksOfAMessageAreBreaksNotMarks) {
  display.ShowMessageBox({"T", "select * from  export\r\nwhere section=:section", MessageIcon::kError, false});
  EXPECT_EQ(out, "Error: select * from  export\nwhere section=:section\n");
}

TEST_F(LineDisplayTest, ABoxThatWaitsAndTheHintOfTheStoppedWindowArePrinted) {
  // TERM=dumb on an interactive terminal: the box waits for Enter, so the
  // user must be told.
  display.Paint(View("T", "S", 0));
  display.ShowMessageBox({"T", "boom.", MessageIcon::kError, true});
  WindowView stopped = View("T", "S", 0);
  stopped.hint = "Run stopped. Press Enter or Ctrl-C to close the window.";
  display.Paint(stopped);
  display.Paint(stopped);
  EXPECT_EQ(out,
            "T\nError: boom.\n[ OK ]  press Enter\n"
            "Run stopped. Press Enter or Ctrl-C to close the window.\n");
}
