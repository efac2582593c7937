#include "app/main_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "data/connection.h"
#include "data/query.h"
#include "data/settings.h"
#include "data/table.h"
#include "data/wait_cursor.h"
#include "tests/app/window_fixture.h"

namespace app_test {
namespace {

// ---- creation -------------------------------------------------------------------------------------

class WindowCreationTest : public WindowFixture {};

TEST_F(WindowCreationTest, ControlsHaveTheirStoredProperties) {
  EXPECT_EQ(form().Caption(), "KDX INTERFACE VER1.00 24/03/2010");  // FormCreate replaced the stored one
  EXPECT_EQ(form().Edit1.Text(), "Updating : ");
  EXPECT_EQ(form().ProgressBar1.Min(), 0);
  EXPECT_EQ(form().ProgressBar1.Max(), 100);
  EXPECT_EQ(form().ProgressBar1.Step(), 10);
  EXPECT_EQ(form().ProgressBar1.Position(), 0);
  EXPECT_FALSE(form().Button1.Visible());
  EXPECT_EQ(form().Button1.Caption(), "Button1");
  EXPECT_TRUE(form().Timer1.Enabled());
  EXPECT_EQ(form().Timer1.Interval(), 5000);
  EXPECT_EQ(form().GetWindowState(), WindowState::kStarting);
}

TEST_F(WindowCreationTest, ConnectionsAndSettingsHaveTheirStoredProperties) {
  const TAdsConnection& c1 = *form().Components().AdsConnection1;
  EXPECT_EQ(c1.ConnectPath(), "D:\\KORVAL");
  EXPECT_EQ(c1.AdsServerTypes().Mask(), 3);
  EXPECT_FALSE(c1.IsConnected());
  EXPECT_FALSE(c1.ReadOnly());
  EXPECT_EQ(form().AdsConnection2->ConnectPath(), "C:\\BRAMBLE");
  EXPECT_EQ(form().AdsConnection2->AdsServerTypes().Mask(), 3);
  const TAdsSettings& s = *form().AdsSettings1;
  EXPECT_EQ(s.DateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(s.NumDecimals(), 2);
  EXPECT_TRUE(s.SyncAppDateFormat());
  EXPECT_TRUE(s.ShowDeleted());
  EXPECT_EQ(s.AdsServerTypes().Mask(), 6);
  EXPECT_EQ(s.NumCachedTables(), 0);
  EXPECT_EQ(s.NumCachedCursors(), 25);
}

TEST_F(WindowCreationTest, QueriesKeepTheirStoredStatementsAndParameters) {
  TAdsQuery& tmpl = *form().Components().TemplateQuery;
  EXPECT_EQ(tmpl.SqlLines(), (std::vector<std::string>{"select * from  export", "where section=:section"}));
  EXPECT_EQ(tmpl.IndexFieldNames(), "SECTION;NO");
  EXPECT_EQ(tmpl.ParamNamed("section").DataType(), TFieldType::ftString);
  TAdsQuery& lvtx = *form().Components().AdsQueryLVTX;
  EXPECT_EQ(lvtx.SqlLines(), (std::vector<std::string>{
                                 "select * from LEAV_TRX",
                                 "WHERE ID=:ID AND EMPCODE=:EMPCODE and LEAVE_CODE=:LEAVE_CODE"}));
  ASSERT_EQ(lvtx.Params().size(), 3u);
  EXPECT_EQ(lvtx.Params()[0].Name(), "ID");
  EXPECT_EQ(lvtx.Params()[1].Name(), "EMPCODE");
  EXPECT_EQ(lvtx.Params()[2].Name(), "LEAVE_CODE");
  EXPECT_EQ(form().Components().AdsQuerySHIFT->SqlLines(),
            (std::vector<std::string>{"select * from LV_PAYGRP_SHIFT", "ORDER BY SHIFT"}));
  EXPECT_TRUE(form().Components().AdsQuerySHIFT->Params().empty());
  ASSERT_EQ(form().Components().AdsQuerySource->Params().size(), 2u);
  EXPECT_EQ(form().Components().AdsQuerySource->ParamNamed("date1").DataType(), TFieldType::ftDateTime);
  EXPECT_EQ(form().Components().AdsQuerySource->ParamNamed("date2").DataType(), TFieldType::ftDateTime);
  ASSERT_EQ(form().Components().AdsQueryEmp->Params().size(), 1u);
  EXPECT_EQ(form().Components().AdsQueryEmp->ParamNamed("date").DataType(), TFieldType::ftDateTime);
}

TEST_F(WindowCreationTest, TablesHaveTheirNamesAndIndexFieldsOnTheFirstConnection) {
  const ExportComponents& c = form().Components();
  struct Expected {
    TAdsTable* table;
    const char* name;
    const char* index;
  };
  for (const Expected& e : std::vector<Expected>{
           {c.AdsTableCode, "CODE.ADT", "CATEGORY;CODE"},
           {c.CareerTable, "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID"},
           {c.AdsTableCLD, "EMP_CLD.ADT", "EMP_NO;DATE"},
           {c.EmploymentTable, "EMPLOYMT.ADT", "EMP_NO"},
           {c.AdsTableMisc, "EMPMISC.ADT", "EMP_NO"},
           {c.TableEmpAllowance, "EMP_ALW", "EMP_NO;ALLOW_CODE"},
           {c.AdsTablePara, "PAYPARA1", "YEAR"}}) {
    EXPECT_EQ(e.table->TableName(), e.name);
    EXPECT_EQ(e.table->IndexFieldNames(), e.index) << e.name;
    EXPECT_EQ(e.table->Connection(), c.AdsConnection1) << e.name;
    EXPECT_FALSE(e.table->IsActive()) << e.name;
  }
}

// Error messages and the hooks' names carry the window's component names,
// whatever the C++ members are called.
TEST_F(WindowCreationTest, ComponentsCarryTheirWindowNames) {
  const ExportComponents& c = form().Components();
  const std::vector<std::pair<const TComponent*, const char*>> expected = {
      {form().AdsSettings1, "AdsSettings1"},     {c.AdsConnection1, "AdsConnection1"},
      {form().AdsConnection2, "AdsConnection2"}, {c.AdsQuerySource, "AdsQuerySource"},
      {c.AdsQueryEmp, "AdsQueryEmp"},            {c.TemplateQuery, "wwTableTemplate"},
      {c.AdsQueryLVTX, "AdsQueryLVTX"},          {c.AdsQuerySHIFT, "AdsQuerySHIFT"},
      {c.AdsTableCode, "AdsTableCode"},          {c.CareerTable, "wwQueryEmpCareer"},
      {c.AdsTableCLD, "AdsTableCLD"},            {c.EmploymentTable, "AdsQueryEmployment"},
      {c.AdsTableMisc, "AdsTableMisc"},          {c.TableEmpAllowance, "TableEmpAllowance"},
      {c.AdsTablePara, "AdsTablePara"}};
  for (const auto& [component, name] : expected) {
    ASSERT_NE(component, nullptr) << name;
    EXPECT_EQ(component->Name(), name);
    EXPECT_EQ(component->Owner(), static_cast<const TComponent*>(&form())) << name;
  }
}

TEST_F(WindowCreationTest, OnlyTheFourHookedDatasetsHaveOpenHooks) {
  const ExportComponents& c = form().Components();
  const std::vector<std::pair<TAdsDataSet*, std::pair<bool, bool>>> expected = {
      {c.AdsQuerySource, {false, false}},    {c.AdsQueryEmp, {true, false}},
      {c.TemplateQuery, {false, false}},     {c.AdsQueryLVTX, {false, false}},
      {c.AdsQuerySHIFT, {false, false}},     {c.AdsTableCode, {false, false}},
      {c.CareerTable, {false, true}},        {c.AdsTableCLD, {false, false}},
      {c.EmploymentTable, {false, false}},   {c.AdsTableMisc, {false, false}},
      {c.TableEmpAllowance, {false, true}},  {c.AdsTablePara, {false, true}}};
  for (const auto& [dataset, hooks] : expected) {
    EXPECT_EQ(static_cast<bool>(dataset->BeforeOpen), hooks.first) << dataset->Name();
    EXPECT_EQ(static_cast<bool>(dataset->AfterOpen), hooks.second) << dataset->Name();
  }
}

// ---- the window's states -------------------------------------------------------------------------------

class WindowStateTest : public WindowFixture {};

TEST_F(WindowStateTest, ShownWindowWaitsForItsTimer) {
  form().Show();
  EXPECT_EQ(form().GetWindowState(), WindowState::kWaiting);
  ASSERT_FALSE(display_.paints.empty());
  EXPECT_EQ(display_.paints.back().caption, "KDX INTERFACE VER1.00 24/03/2010");
  EXPECT_EQ(display_.paints.back().status, "Updating : ");
}

TEST_F(WindowStateTest, ACloseRequestBeforeTheTickEndsWithoutAnyRun) {
  MakeSite(1);
  form().Show();
  events_.CloseRequestAt(events_.NowMs() + 4999);
  app_.Run();
  EXPECT_EQ(form().GetWindowState(), WindowState::kEnding);
  EXPECT_EQ(form().Outcome(), RunOutcome::kNoRun);
  EXPECT_FALSE(form().Timer1.Enabled());
  EXPECT_EQ(form().State().ProgramFolder, "");  // the configuration was never read
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
  EXPECT_FALSE(std::filesystem::exists(out_folder_ + "employee.txt"));
}

TEST_F(WindowStateTest, TheTimerRunsBothExportsOnceAndClosesTheWindow) {
  MakeSite(3);
  form().Show();
  const int64_t shown = events_.NowMs();
  app_.Run();
  EXPECT_EQ(events_.NowMs() - shown, 5000);
  EXPECT_EQ(form().Outcome(), RunOutcome::kCompleted);
  EXPECT_EQ(form().GetWindowState(), WindowState::kEnding);
  EXPECT_FALSE(form().Timer1.Enabled());
  EXPECT_EQ(ReadBytes(out_folder_ + "employee.txt"),
            HrDatabase::ExpectedRecord(1) + "\r\n" + HrDatabase::ExpectedRecord(2) + "\r\n" +
                HrDatabase::ExpectedRecord(3) + "\r\n");
  EXPECT_EQ(Log(), "LEAVE DATA DOWNLOADED DATE : 08/03/2010  140903\r\n");
  EXPECT_TRUE(display_.boxes.empty());
  // The window showed the leave export's caption and its last record.
  EXPECT_EQ(display_.paints.back().caption, "EXPORTING LEAVE DATABASE...");
}

TEST_F(WindowStateTest, ACloseRequestDuringTheRunIsRememberedAndTheRunCompletes) {
  MakeSite(20);
  bool requested = false;
  display_.on_paint = [&](const WindowView& view) {
    if (!requested && view.status.rfind("Export Employee# : E00005", 0) == 0) {
      requested = true;
      events_.CloseRequestAt(events_.NowMs());
    }
  };
  form().Timer1.SetInterval(0);
  form().Show();
  app_.Run();
  ASSERT_TRUE(requested);
  EXPECT_EQ(form().Outcome(), RunOutcome::kCompleted);
  std::string expected;
  for (int i = 1; i <= 20; ++i) expected += HrDatabase::ExpectedRecord(i) + "\r\n";
  EXPECT_EQ(ReadBytes(out_folder_ + "employee.txt"), expected);
  EXPECT_EQ(Log(), "LEAVE DATA DOWNLOADED DATE : 08/03/2010  140903\r\n");
}

TEST_F(WindowStateTest, AnErrorStopsTheRunAndWithoutATerminalTheProgramEnds) {
  WritePavroIni(program_folder_, scratch_.Sub("missing"), scratch_.Sub("employee.txt"), scratch_.Sub("leave.txt"));
  WriteBytes(LogPath(), "old\r\n");
  form().Timer1.SetInterval(0);
  form().Show();
  app_.Run();
  EXPECT_EQ(form().GetWindowState(), WindowState::kStopped);
  EXPECT_EQ(form().Outcome(), RunOutcome::kFailed);
  // The employee export reports the payroll parameters it cannot open and
  // goes on; the next open then ends the run at the default error handler.
  ASSERT_EQ(display_.boxes.size(), 2u);
  EXPECT_EQ(display_.boxes[0].icon, MessageIcon::kNone);
  const MessageBoxView& error = display_.boxes[1];
  EXPECT_EQ(error.title, "KDX INTERFACE VER1.00 24/03/2010");
  EXPECT_EQ(error.icon, MessageIcon::kError);
  EXPECT_NE(error.text.find("missing"), std::string::npos) << error.text;
  EXPECT_EQ(error.text.back(), '.');
  EXPECT_FALSE(error.waits);
  // The window keeps what it showed; the later steps never ran.
  EXPECT_EQ(form().Edit1.Text(), "Updating : ");
  EXPECT_EQ(Log(), "old\r\n");
  EXPECT_FALSE(std::filesystem::exists(scratch_.Sub("leave.txt")));
}

TEST_F(WindowStateTest, OnAnInteractiveTerminalTheStoppedWindowStaysUntilEnter) {
  events_.SetInteractive(true);
  WritePavroIni(program_folder_, scratch_.Sub("missing"), scratch_.Sub("employee.txt"), scratch_.Sub("leave.txt"));
  form().Timer1.SetInterval(0);
  form().Show();
  const int64_t start = events_.NowMs();
  events_.EnterAt(start + 1000);   // OK of the payroll parameters' message
  events_.EnterAt(start + 2000);   // OK of the error box
  events_.EnterAt(start + 60000);  // closes the stopped window
  app_.Run();
  EXPECT_EQ(events_.NowMs(), start + 60000);
  ASSERT_EQ(display_.boxes.size(), 2u);
  EXPECT_TRUE(display_.boxes[1].waits);
  EXPECT_EQ(display_.boxes[1].icon, MessageIcon::kError);
  EXPECT_EQ(form().GetWindowState(), WindowState::kEnding);
  EXPECT_EQ(form().Outcome(), RunOutcome::kFailed);
  EXPECT_NE(display_.paints.back().hint.find("Enter or Ctrl-C"), std::string::npos);
}

TEST_F(WindowStateTest, CtrlCClosesTheStoppedWindow) {
  events_.SetInteractive(true);
  WritePavroIni(program_folder_, scratch_.Sub("missing"), scratch_.Sub("employee.txt"), scratch_.Sub("leave.txt"));
  form().Timer1.SetInterval(0);
  form().Show();
  events_.EnterAt(events_.NowMs() + 10);
  events_.EnterAt(events_.NowMs() + 15);
  events_.CloseRequestAt(events_.NowMs() + 20);
  app_.Run();
  EXPECT_EQ(form().GetWindowState(), WindowState::kEnding);
  EXPECT_EQ(form().Outcome(), RunOutcome::kFailed);
}

TEST_F(WindowStateTest, EnterWhileWaitingDoesNotCloseTheWindow) {
  events_.SetInteractive(true);
  MakeSite(1);
  form().Show();
  events_.EnterAt(events_.NowMs() + 100);
  app_.Run();
  EXPECT_EQ(form().Outcome(), RunOutcome::kCompleted);
}

// ---- the leave CSV mode -------------------------------------------------------------------------------

class LeaveCsvModeWindowTest : public WindowFixture {};

TEST_F(LeaveCsvModeWindowTest, RunsOnceTheWindowIsShownAndNeverTheTimerRun) {
  MakeSite(1);
  WritePavroIni(program_folder_, scratch_.Sub("db"), out_folder_ + "employee.txt", out_folder_);
  form().Show();
  form().StartLeaveCsvMode();
  app_.Run();
  EXPECT_EQ(form().Outcome(), RunOutcome::kCompleted);
  EXPECT_FALSE(form().Timer1.Enabled());
  EXPECT_TRUE(std::filesystem::exists(out_folder_ + "LVDATA08032010.CSV"));
  EXPECT_FALSE(std::filesystem::exists(out_folder_ + "employee.txt"));
  EXPECT_EQ(Log(), "LEAVE DATA DOWNLOADED DATE : 08/03/2010  140903\r\n");
  EXPECT_FALSE(display_.paints.back().caption_is_progress);
}

TEST_F(LeaveCsvModeWindowTest, ItsOwnErrorIsShownAndCountsAsAFailure) {
  MakeSite(1);
  WritePavroIni(program_folder_, scratch_.Sub("db"), out_folder_ + "employee.txt", scratch_.Sub("no-folder") + "/");
  form().Show();
  form().StartLeaveCsvMode();
  app_.Run();
  EXPECT_EQ(form().Outcome(), RunOutcome::kFailed);
  EXPECT_EQ(form().GetWindowState(), WindowState::kEnding);  // the mode closes its window in every case
  ASSERT_FALSE(display_.boxes.empty());
  EXPECT_EQ(display_.boxes[0].text.rfind("Save file failed: Invalid filename: '", 0), 0u) << display_.boxes[0].text;
  EXPECT_EQ(display_.boxes[0].title, "KDX INTERFACE VER1.00 24/03/2010");
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(LeaveCsvModeWindowTest, ACloseRequestBeforeTheModeStartsMeansNoRun) {
  MakeSite(1);
  form().Show();
  events_.CloseRequestAt(events_.NowMs());
  form().StartLeaveCsvMode();
  app_.Run();
  EXPECT_EQ(form().Outcome(), RunOutcome::kNoRun);
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

// ---- the wait cursor ----------------------------------------------------------------------------------

class WaitCursorTest : public WindowFixture {};

TEST_F(WaitCursorTest, DatabaseWorkShowsItAndPutsBackWhatWasShownBefore) {
  {
    ScopedWaitCursor connecting;
    EXPECT_TRUE(app_.WaitCursor());
  }
  EXPECT_FALSE(app_.WaitCursor());
  form().SetWaitCursor(true);  // a job turned it on for its whole walk
  { ScopedWaitCursor query_opening; }
  EXPECT_TRUE(app_.WaitCursor());
}

}  // namespace
}  // namespace app_test
