// A whole run (the employee export, then the leave days) with the Nth fault
// point below the engine failing (a file read, lock or open, a libsodium
// call), for N = 1, 2, ... until the run meets none: every fault ends with a
// named error (or, where SQLite retries, with the whole files), leaves the
// database as it was and leaves no export file but a whole one.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/main_window.h"
#include "engine/faults.h"
#include "platform/clock.h"
#include "platform/ui_application.h"
#include "tests/app/app_test_support.h"
#include "tests/platform/ui_fakes.h"
#include "util/date_time.h"

namespace app_test {
namespace {

namespace fs = std::filesystem;

// Every file of `folder`, by name, with its bytes.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadBytes(entry.path().string());
  }
  return files;
}

struct RunResult {
  RunOutcome outcome = RunOutcome::kNoRun;
  std::string error;  // the last message shown, "" for none
};

RunResult RunOnce(const std::string& program_folder) {
  RecordingDisplay display(0);
  ScriptedEvents events;
  TApplication app(display, events);
  FixedClock clock(EncodeDate(2010, 3, 8) + EncodeTime(14, 5, 9, 0));
  RunResult result;
  {
    TForm1 form(app, clock, program_folder + "kdx-interface");
    form.Timer1.SetInterval(0);
    form.Show();
    app.Run();
    result.outcome = form.Outcome();
  }
  if (!display.boxes.empty()) result.error = display.boxes.back().text;
  return result;
}

TEST(FaultInjectionTest, EveryFaultBelowTheEngineEndsWithANamedErrorAndDoesNoHarm) {
  ScratchFolder scratch;
  HrDatabase db(scratch.Sub("db"));
  db.CreateTables();
  db.FillSite(3);
  db.SealProtectedTables();
  const std::string program = scratch.Sub("prog", true) + "/";
  const std::string out = scratch.Sub("out", true) + "/";
  WritePavroIni(program, db.Folder(), out + "employee.txt", out + "leave.txt");
  const std::map<std::string, std::string> database = Files(db.Folder());

  ASSERT_EQ(RunOnce(program).outcome, RunOutcome::kCompleted);
  const std::map<std::string, std::string> whole = Files(out);
  ASSERT_EQ(whole.size(), 2u);

  constexpr int64_t kMostFaultPoints = 100000;  // a run meets far fewer
  int64_t failed_runs = 0;
  for (int64_t n = 1; n <= kMostFaultPoints; ++n) {
    fs::remove_all(out);
    fs::create_directories(out);
    engine::ArmFault(n);
    const RunResult run = RunOnce(program);
    const bool fired = engine::FaultFired();
    engine::DisarmFault();

    ASSERT_EQ(Files(db.Folder()), database) << "fault " << n;
    for (const auto& [name, bytes] : Files(out)) {
      ASSERT_TRUE(whole.count(name) == 1 && whole.at(name) == bytes) << "fault " << n << " left " << name;
    }
    if (!fired) {
      EXPECT_EQ(run.outcome, RunOutcome::kCompleted) << "fault " << n << ": " << run.error;
      EXPECT_EQ(Files(out), whole);
      EXPECT_GT(failed_runs, 0);
      return;
    }
    if (run.outcome == RunOutcome::kCompleted) {
      // SQLite met the fault and tried again (a lock taken anew): the run is
      // whole, as if it had met none.
      ASSERT_EQ(Files(out), whole) << "fault " << n << " went unnoticed";
      continue;
    }
    ++failed_runs;
    // The run fails, or goes on past what it warned of, with a message that
    // says what failed.
    ASSERT_FALSE(run.error.empty()) << "fault " << n;
  }
  FAIL() << "the run still met a fault point after " << kMostFaultPoints;
}

}  // namespace
}  // namespace app_test
