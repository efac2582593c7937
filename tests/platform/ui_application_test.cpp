#include "platform/ui_application.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/ui_controls.h"
#include "platform/ui_timer.h"
#include "tests/platform/ui_fakes.h"
#include "util/error.h"

// ---- the default error handler's text --------------------------------------------

TEST(ErrorBoxTextTest, AppendsAFullStopAfterLettersAndDigits) {
  EXPECT_EQ(ErrorBoxText("File not found"), "File not found.");
  EXPECT_EQ(ErrorBoxText("I/O error 105"), "I/O error 105.");
  EXPECT_EQ(ErrorBoxText("x"), "x.");
}

TEST(ErrorBoxTextTest, LeavesMessagesEndingInOrBeforeTheFullStopAlone) {
  EXPECT_EQ(ErrorBoxText("Leave day is not tally!."), "Leave day is not tally!.");
  EXPECT_EQ(ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
  EXPECT_EQ(ErrorBoxText("see (below)"), "see (below)");
  EXPECT_EQ(ErrorBoxText("trailing blank "), "trailing blank ");
  EXPECT_EQ(ErrorBoxText("a-"), "a-");
  EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(ErrorBoxTextTest, ComparesAsUnsignedEightBitCharacters) {
  // "/" is the first character after "." in the character order.
  EXPECT_EQ(ErrorBoxText("path D:\\DATA/"), "path D:\\DATA/.");
  // A code-page letter above 127 sorts after "." too (not as a negative char).
  EXPECT_EQ(ErrorBoxText("Caf\xe9"), "Caf\xe9.");
}

// ---- message loop, timers, close requests ---------------------------------------------

class TestForm : public TForm {
 public:
  explicit TestForm(TApplication& app) : TForm(app, "TestForm"), edit(*this, "Edit"), bar(*this, "Bar") {}
  TEdit edit;
  TProgressBar bar;
};

class MessageLoopTest : public ::testing::Test {
 protected:
  RecordingDisplay display{50};
  ScriptedEvents events;
  TApplication app{display, events};
};

TEST_F(MessageLoopTest, OneShotTimerFiresOnceAtItsIntervalAndTheCloseEndsTheLoop) {
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(5000);
  const int64_t start = events.NowMs();
  int64_t fired_at = -1;
  int ticks = 0;
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    ++ticks;
    fired_at = events.NowMs();
    form.Close();
  };
  app.Run();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(fired_at - start, 5000);
  EXPECT_TRUE(app.Terminated());
}

TEST_F(MessageLoopTest, IntervalZeroFiresAtTheFirstTurnOfTheLoop) {
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(0);
  const int64_t start = events.NowMs();
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    form.Close();
  };
  app.Run();
  EXPECT_EQ(events.NowMs(), start);
}

TEST_F(MessageLoopTest, CloseRequestBeforeTheTickEndsTheLoopWithoutFiring) {
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(5000);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  int closes = 0;
  form.OnClose = [&] { ++closes; };
  events.CloseRequestAt(events.NowMs() + 100);
  app.Run();
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(closes, 1);
}

TEST_F(MessageLoopTest, CloseRequestAndDueTimerInTheSameTurnCloseFirst) {
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(0);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  events.CloseRequestAt(events.NowMs());
  app.Run();
  EXPECT_EQ(ticks, 0);
}

TEST_F(MessageLoopTest, CloseRequestDuringAHandlerIsRememberedAndTheHandlerFinishes) {
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(10);
  int records = 0;
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    for (int i = 0; i < 100; ++i) {
      if (i == 30) events.CloseRequestAt(events.NowMs());
      ++records;
      events.Advance(1);
      app.ProcessMessages();
    }
  };
  app.Run();
  EXPECT_EQ(records, 100);
  EXPECT_TRUE(app.Terminated());
}

TEST_F(MessageLoopTest, ProcessMessagesNeverWaits) {
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(60000);
  events.CloseRequestAt(events.NowMs() + 30000);
  const int64_t before = events.NowMs();
  app.ProcessMessages();
  EXPECT_EQ(events.NowMs(), before);
  EXPECT_FALSE(app.Terminated());
}

TEST_F(MessageLoopTest, AnErrorEscapingAHandlerIsShownAndTheLoopGoesOn) {
  app.SetTitle("KDX INTERFACE VER1.00 24/03/2010");
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(0);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    throw Exception("AdsQueryEmp: Table not found");
  };
  events.CloseRequestAt(events.NowMs() + 1000);
  app.Run();
  ASSERT_EQ(display.boxes.size(), 1u);
  EXPECT_EQ(display.boxes[0].title, "KDX INTERFACE VER1.00 24/03/2010");
  EXPECT_EQ(display.boxes[0].text, "AdsQueryEmp: Table not found.");
  EXPECT_EQ(display.boxes[0].icon, MessageIcon::kError);
  // The loop survived the error and ended on the later close request.
  EXPECT_GE(events.NowMs(), 2000);
}

TEST_F(MessageLoopTest, ErrorsOfAnyTypeReachTheErrorBox) {
  TestForm form(app);
  app.Dispatch([] { throw std::runtime_error("plain runtime error"); });
  app.Dispatch([] { throw 42; });
  ASSERT_EQ(display.boxes.size(), 2u);
  EXPECT_EQ(display.boxes[0].text, "plain runtime error.");
  EXPECT_EQ(display.boxes[1].text, "Unknown error.");
}

TEST_F(MessageLoopTest, EnterGoesToTheMainForm) {
  TestForm form(app);
  int enters = 0;
  form.OnEnterKey = [&] {
    ++enters;
    form.Close();
  };
  events.EnterAt(events.NowMs() + 10);
  app.Run();
  EXPECT_EQ(enters, 1);
}

// ---- message boxes --------------------------------------------------------------------------

class MessageBoxTest : public ::testing::Test {
 protected:
  RecordingDisplay display{50};
  ScriptedEvents events{/*interactive=*/true};
  TApplication app{display, events};
};

TEST_F(MessageBoxTest, OnAnInteractiveTerminalWaitsForEnter) {
  TestForm form(app);
  const int64_t start = events.NowMs();
  events.EnterAt(start + 7000);
  app.MessageBox("Save file failed", "T", MessageIcon::kNone);
  EXPECT_EQ(events.NowMs(), start + 7000);
  ASSERT_EQ(display.boxes.size(), 1u);
  EXPECT_TRUE(display.boxes[0].waits);
  EXPECT_EQ(display.hidden_boxes, 1);
  EXPECT_EQ(display.open_boxes, 0);
  EXPECT_FALSE(app.Terminated());
}

TEST_F(MessageBoxTest, WithoutATerminalPrintsAndReturnsAtOnce) {
  events.SetInteractive(false);
  TestForm form(app);
  const int64_t start = events.NowMs();
  app.MessageBox("Save file failed", "T", MessageIcon::kNone);
  EXPECT_EQ(events.NowMs(), start);
  ASSERT_EQ(display.boxes.size(), 1u);
  EXPECT_FALSE(display.boxes[0].waits);
  EXPECT_EQ(display.boxes[0].text, "Save file failed");
}

TEST_F(MessageBoxTest, ACloseRequestEndsTheWaitAndClosesTheWindow) {
  TestForm form(app);
  int closes = 0;
  form.OnClose = [&] { ++closes; };
  events.CloseRequestAt(events.NowMs() + 500);
  app.MessageBox("text", "T", MessageIcon::kError);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(app.Terminated());
}

TEST_F(MessageBoxTest, OnceTerminatingBoxesNoLongerWait) {
  TestForm form(app);
  app.Terminate();
  app.MessageBox("text", "T", MessageIcon::kError);
  ASSERT_EQ(display.boxes.size(), 1u);
  EXPECT_FALSE(display.boxes[0].waits);
  EXPECT_EQ(events.waits, 0);
}

TEST_F(MessageBoxTest, TheWindowIsPaintedAsItIsWhenTheBoxComesUp) {
  TestForm form(app);
  form.Show();
  form.edit.SetText("Export Employee# : E0042");
  events.EnterAt(events.NowMs() + 1);
  app.MessageBox("boom", "T", MessageIcon::kError);
  ASSERT_FALSE(display.paints.empty());
  EXPECT_EQ(display.paints.back().status, "Export Employee# : E0042");
}

TEST_F(MessageBoxTest, TheHintWaitsWhileTheBoxWaitsAndComesBackAfterIt) {
  // A display that prints lines (TERM=dumb) would otherwise tell the user to
  // close the window before it shows the error the box is about.
  TestForm form(app);
  form.Show();
  form.SetHint("Run stopped. Press Enter or Ctrl-C to close the window.");
  events.EnterAt(events.NowMs() + 1);
  app.MessageBox("boom", "T", MessageIcon::kError);
  ASSERT_FALSE(display.paints.empty());
  for (const WindowView& v : display.paints) EXPECT_EQ(v.hint, "");
  events.Advance(100);
  app.ProcessMessages();
  EXPECT_EQ(display.paints.back().hint, "Run stopped. Press Enter or Ctrl-C to close the window.");
}

// ---- painting -------------------------------------------------------------------------------

TEST_F(MessageLoopTest, PaintsAtMostTwentyTimesASecondAndEndsOnTheLastPicture) {
  TestForm form(app);
  form.Show();
  const size_t before = display.paints.size();
  for (int i = 0; i < 1000; ++i) {
    form.edit.SetText("record " + std::to_string(i));
    form.bar.StepIt();
    events.Advance(1);  // 1000 records in one second
    app.ProcessMessages();
  }
  EXPECT_LE(display.paints.size() - before, 21u);
  EXPECT_GE(display.paints.size() - before, 19u);
  app.Finish();
  EXPECT_EQ(display.paints.back().status, "record 999");
  EXPECT_EQ(display.finishes, 1);
}

TEST_F(MessageLoopTest, ALateRepaintIsNotLostWhenTheLoopIdles) {
  TestForm form(app);
  TTimer timer(app, "Timer1");
  timer.SetInterval(1000);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    form.Close();
  };
  form.Show();
  events.Advance(10);
  form.edit.SetText("changed");  // too soon after the first paint to paint now
  app.ProcessMessages();
  app.Run();  // the loop wakes for the pending paint before the timer is due
  bool seen = false;
  for (const WindowView& v : display.paints) seen |= v.status == "changed";
  EXPECT_TRUE(seen);
}
