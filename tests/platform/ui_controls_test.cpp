#include "platform/ui_controls.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/ui_application.h"
#include "tests/platform/ui_fakes.h"

class ControlsTest : public ::testing::Test {
 protected:
  RecordingDisplay display;
  ScriptedEvents events;
  TApplication app{display, events};
  TForm form{app, "Form"};
};

std::vector<int> Steps(TProgressBar& bar, int n) {
  std::vector<int> positions;
  for (int i = 0; i < n; ++i) {
    bar.StepIt();
    positions.push_back(bar.Position());
  }
  return positions;
}

TEST_F(ControlsTest, ProgressBarReachesTheMaximumThenStartsOver) {
  TProgressBar bar(form, "ProgressBar1");
  bar.SetRange(0, 100);
  bar.SetStep(10);
  EXPECT_EQ(Steps(bar, 12), (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0, 10}));
}

TEST_F(ControlsTest, ProgressBarWrapsWhenAStepWouldPassTheMaximum) {
  TProgressBar bar(form, "ProgressBar1");
  bar.SetRange(0, 100);
  bar.SetStep(30);
  EXPECT_EQ(Steps(bar, 5), (std::vector<int>{30, 60, 90, 0, 30}));
  bar.SetPosition(95);
  bar.SetStep(10);
  bar.StepIt();
  EXPECT_EQ(bar.Position(), 0);
}

TEST_F(ControlsTest, ProgressBarStartsOverAtItsOwnMinimum) {
  TProgressBar bar(form, "ProgressBar1");
  bar.SetRange(20, 50);
  bar.SetPosition(20);
  bar.SetStep(15);
  EXPECT_EQ(Steps(bar, 3), (std::vector<int>{35, 50, 20}));
  bar.SetStep(-15);
  EXPECT_EQ(Steps(bar, 2), (std::vector<int>{50, 35}));
}

TEST_F(ControlsTest, ProgressBarKeepsThePositionInRange) {
  TProgressBar bar(form, "ProgressBar1");
  bar.SetRange(0, 100);
  bar.SetPosition(250);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(80);
  bar.SetRange(0, 50);
  EXPECT_EQ(bar.Position(), 50);
  bar.SetStep(2147483647);
  bar.StepIt();  // no overflow: past the maximum, so back to the minimum
  EXPECT_EQ(bar.Position(), 0);
}

TEST_F(ControlsTest, TheViewHoldsCaptionEditTextAndProgressButNotHiddenControls) {
  TEdit edit(form, "Edit1");
  TProgressBar bar(form, "ProgressBar1");
  TButton button(form, "Button1");
  form.SetCaption("KDX INTERFACE VER1.00 24/03/2010");
  edit.SetText("Updating : ");
  bar.SetPosition(40);
  button.SetVisible(false);
  WindowView view = form.View();
  EXPECT_EQ(view.caption, "KDX INTERFACE VER1.00 24/03/2010");
  EXPECT_EQ(view.status, "Updating : ");
  EXPECT_TRUE(view.has_progress);
  EXPECT_EQ(view.progress_position, 40);
  edit.SetVisible(false);
  EXPECT_EQ(form.View().status, "");
}

TEST_F(ControlsTest, ClosingTheMainFormTerminatesButAnotherFormDoesNot) {
  TForm second(app, "Second");
  second.Close();
  EXPECT_FALSE(app.Terminated());
  form.Close();
  EXPECT_TRUE(app.Terminated());
}
