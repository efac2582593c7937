// A main window on a recording display and scripted events, with a clock
// standing still, its program file in a scratch folder of its own.
#ifndef KDX_TESTS_APP_WINDOW_FIXTURE_H_
#define KDX_TESTS_APP_WINDOW_FIXTURE_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "platform/clock.h"
#include "platform/ui_application.h"
#include "tests/app/app_test_support.h"
#include "tests/platform/ui_fakes.h"
#include "util/date_time.h"

namespace app_test {

// Calls `on_paint` with every picture painted.
class HookedDisplay : public RecordingDisplay {
 public:
  HookedDisplay() : RecordingDisplay(0) {}
  void Paint(const WindowView& view) override {
    RecordingDisplay::Paint(view);
    if (on_paint) on_paint(view);
  }
  std::function<void(const WindowView&)> on_paint;
};

class WindowFixture : public ::testing::Test {
 protected:
  // 8 March 2010, 14:05:09.
  static TDateTime Moment() { return EncodeDate(2010, 3, 8) + EncodeTime(14, 5, 9, 0); }

  void SetUp() override {
    program_folder_ = scratch_.Sub("prog", true) + "/";
    app_.SetTitle(kApplicationTitle);
    form_ = std::make_unique<TForm1>(app_, clock_, program_folder_ + "kdx-interface");
  }
  void TearDown() override { form_.reset(); }

  TForm1& form() { return *form_; }
  std::string LogPath() const { return program_folder_ + "LOG.TXT"; }
  std::string Log() const { return ReadBytes(LogPath()); }

  // A sealed site database in `folder` (inside the scratch folder) with
  // PAVRO.ini pointing at it and at out/ for the export files.
  HrDatabase MakeSite(int employees, const std::string& folder = "db") {
    HrDatabase db(scratch_.Sub(folder));
    db.CreateTables();
    db.FillSite(employees);
    db.SealProtectedTables();
    out_folder_ = scratch_.Sub("out", true) + "/";
    WritePavroIni(program_folder_, db.Folder(), out_folder_ + "employee.txt", out_folder_ + "leave.txt");
    return db;
  }

  ScratchFolder scratch_;
  std::string program_folder_;
  std::string out_folder_;
  HookedDisplay display_;
  ScriptedEvents events_;
  TApplication app_{display_, events_};
  FixedClock clock_{Moment()};
  std::unique_ptr<TForm1> form_;
};

}  // namespace app_test

#endif  // KDX_TESTS_APP_WINDOW_FIXTURE_H_
