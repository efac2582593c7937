#include "app/main_window.h"

#include "app/configuration.h"
#include "data/connection.h"
#include "data/query.h"
#include "data/settings.h"
#include "data/table.h"
#include "data/wait_cursor.h"
#include "exports/employee_export.h"
#include "exports/leave_csv.h"
#include "exports/leave_days.h"

namespace {

constexpr char kStoppedHint[] = "Run stopped. Press Enter or Ctrl-C to close the window.";

TAdsTable* MakeTable(TComponent* owner, const char* name, const char* table_name, const char* index_field_names) {
  auto* table = new TAdsTable(owner, name);
  table->SetDatabaseName("AdsConnection1");
  table->SetTableName(table_name);
  table->SetIndexFieldNames(index_field_names);
  return table;
}

TAdsQuery* MakeQuery(TComponent* owner, const char* name, const std::vector<std::string>& lines,
                     const std::vector<TParam>& params) {
  auto* query = new TAdsQuery(owner, name);
  query->SetDatabaseName("AdsConnection1");
  query->SetReadAllColumns(false);
  query->LoadStored(lines, params);
  return query;
}

}  // namespace

TForm1::TForm1(TApplication& application, const Clock& clock, std::string program_path)
    : TForm(application, "Form1"),
      TComponent(nullptr, "Form1"),
      Edit1(*this, "Edit1"),
      ProgressBar1(*this, "ProgressBar1"),
      Button1(*this, "Button1"),
      Timer1(application, "Timer1"),
      clock_(clock),
      program_path_(std::move(program_path)) {
  TForm::SetCaption(kStoredCaption);
  Edit1.SetText("Updating : ");
  ProgressBar1.SetRange(0, 100);
  ProgressBar1.SetStep(10);
  Button1.SetCaption("Button1");
  Button1.SetVisible(false);
  Timer1.SetInterval(kStartDelayMs);
  Timer1.SetEnabled(true);

  CreateComponents();

  Timer1.OnTimer = [this] { Timer1Timer(); };
  Button1.OnClick = [this] { Button1Click(); };
  OnShow = [this] { OnWindowShown(); };
  OnClose = [this] { OnWindowClose(); };
  OnEnterKey = [this] { OnEnter(); };
  // A connect or a query execution shows the wait cursor while it runs and
  // then puts back whatever was shown before (a job may have it on already).
  SetWaitCursorHook([this](bool busy) {
    if (busy) {
      cursor_before_data_wait_ = Application().WaitCursor();
      Application().SetWaitCursor(true);
    } else {
      Application().SetWaitCursor(cursor_before_data_wait_);
    }
  });
  FormCreate();
}

TForm1::~TForm1() {
  // The handlers refer to this window; nothing may call them once it goes.
  SetWaitCursorHook(nullptr);
  Timer1.OnTimer = nullptr;
  Button1.OnClick = nullptr;
  output_file_.CloseAfterError();
}

void TForm1::CreateComponents() {
  // The engine-wide settings first, so that every later component sees the
  // program's date format.
  AdsSettings1 = new TAdsSettings(this, "AdsSettings1");
  AdsSettings1->SetDateFormat("dd/MM/yyyy");
  AdsSettings1->SetNumDecimals(2);
  AdsSettings1->SetSyncAppDateFormat(true);
  AdsSettings1->SetShowDeleted(true);
  AdsSettings1->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_AIS});
  AdsSettings1->SetNumCachedTables(0);
  AdsSettings1->SetNumCachedCursors(25);

  AdsConnection1 = new TAdsConnection(this, "AdsConnection1");
  AdsConnection1->SetConnectPath("D:\\KORVAL");
  AdsConnection1->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
  AdsConnection1->SetLoginPrompt(false);
  AdsConnection1->SetReadOnly(false);

  AdsConnection2 = new TAdsConnection(this, "AdsConnection2");
  AdsConnection2->SetConnectPath("C:\\BRAMBLE");
  AdsConnection2->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
  AdsConnection2->SetLoginPrompt(false);

  AdsQuerySource = MakeQuery(this, "AdsQuerySource", {},
                             {MakeStoredParam("date1", TFieldType::ftDateTime),
                              MakeStoredParam("date2", TFieldType::ftDateTime)});
  AdsQueryEmp = MakeQuery(this, "AdsQueryEmp", {}, {MakeStoredParam("date", TFieldType::ftDateTime)});
  wwTableTemplate = MakeQuery(this, "wwTableTemplate", {"select * from  export", "where section=:section"},
                              {MakeStoredParam("section", TFieldType::ftString)});
  wwTableTemplate->SetIndexFieldNames("SECTION;NO");
  AdsQueryLVTX = MakeQuery(this, "AdsQueryLVTX",
                           {"select * from LEAV_TRX", "WHERE ID=:ID AND EMPCODE=:EMPCODE and LEAVE_CODE=:LEAVE_CODE"},
                           {MakeStoredParam("ID", TFieldType::ftString),
                            MakeStoredParam("EMPCODE", TFieldType::ftString),
                            MakeStoredParam("LEAVE_CODE", TFieldType::ftString)});
  AdsQuerySHIFT = MakeQuery(this, "AdsQuerySHIFT", {"select * from LV_PAYGRP_SHIFT", "ORDER BY SHIFT"}, {});

  AdsTableCode = MakeTable(this, "AdsTableCode", "CODE.ADT", "CATEGORY;CODE");
  wwQueryEmpCareer = MakeTable(this, "wwQueryEmpCareer", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  AdsTableCLD = MakeTable(this, "AdsTableCLD", "EMP_CLD.ADT", "EMP_NO;DATE");
  AdsQueryEmployment = MakeTable(this, "AdsQueryEmployment", "EMPLOYMT.ADT", "EMP_NO");
  AdsTableMisc = MakeTable(this, "AdsTableMisc", "EMPMISC.ADT", "EMP_NO");
  TableEmpAllowance = MakeTable(this, "TableEmpAllowance", "EMP_ALW", "EMP_NO;ALLOW_CODE");
  AdsTablePara = MakeTable(this, "AdsTablePara", "PAYPARA1", "YEAR");

  AdsQueryEmp->BeforeOpen = [this](TAdsDataSet& dataset) { AdsQueryEmpBeforeOpen(dataset); };
  wwQueryEmpCareer->AfterOpen = [this](TAdsDataSet& dataset) { wwQueryEmpCareerAfterOpen(dataset); };
  TableEmpAllowance->AfterOpen = [this](TAdsDataSet& dataset) { TableEmpAllowanceAfterOpen(dataset); };
  AdsTablePara->AfterOpen = [this](TAdsDataSet& dataset) { AdsTableParaAfterOpen(dataset); };

  components_.AdsConnection1 = AdsConnection1;
  components_.AdsQuerySource = AdsQuerySource;
  components_.AdsQueryEmp = AdsQueryEmp;
  components_.wwTableTemplate = wwTableTemplate;
  components_.AdsQueryLVTX = AdsQueryLVTX;
  components_.AdsQuerySHIFT = AdsQuerySHIFT;
  components_.AdsTableCode = AdsTableCode;
  components_.wwQueryEmpCareer = wwQueryEmpCareer;
  components_.AdsTableCLD = AdsTableCLD;
  components_.AdsQueryEmployment = AdsQueryEmployment;
  components_.AdsTableMisc = AdsTableMisc;
  components_.TableEmpAllowance = TableEmpAllowance;
  components_.AdsTablePara = AdsTablePara;
}

void TForm1::FormCreate() { TForm::SetCaption(Application().Title()); }

void TForm1::Timer1Timer() {
  Timer1.SetEnabled(false);
  if (state_ != WindowState::kStarting && state_ != WindowState::kWaiting) return;
  state_ = WindowState::kRunning;
  try {
    LoadConfiguration(run_state_, clock_, program_path_);
    ExportEmployees(*this);
    ExportLeaveDays(*this);
  } catch (...) {
    EnterStopped();
    throw;
  }
  state_ = WindowState::kEnding;
  outcome_ = RunOutcome::kCompleted;
  Close();
}

void TForm1::Button1Click() {
  if (state_ != WindowState::kStarting && state_ != WindowState::kWaiting) return;
  state_ = WindowState::kLeaveCsv;
  // The leave CSV run builds each line in the caption: per-record texts.
  SetCaptionIsProgress(true);
  bool completed = false;
  try {
    LoadConfiguration(run_state_, clock_, program_path_);
    completed = ExportLeaveCsv(*this);
  } catch (...) {
    SetCaptionIsProgress(false);
    EnterStopped();
    throw;
  }
  SetCaptionIsProgress(false);
  state_ = WindowState::kEnding;
  outcome_ = completed ? RunOutcome::kCompleted : RunOutcome::kFailed;
  Close();
}

void TForm1::StartLeaveCsvMode() {
  Timer1.SetEnabled(false);
  // A close request that arrived while the window was being made counts as a
  // close before any run.
  Application().ProcessMessages();
  if (Application().Terminated()) return;
  Application().Dispatch([this] { Button1.Click(); });
}

void TForm1::EnterStopped() {
  state_ = WindowState::kStopped;
  outcome_ = RunOutcome::kFailed;
  output_file_.CloseAfterError();
  if (Application().Interactive()) {
    SetHint(kStoppedHint);
  } else {
    // Nobody can close the window: the program ends once the error is shown.
    Application().Terminate();
  }
}

void TForm1::OnWindowShown() {
  if (state_ == WindowState::kStarting) state_ = WindowState::kWaiting;
}

void TForm1::OnWindowClose() {
  switch (state_) {
    case WindowState::kStarting:
    case WindowState::kWaiting:
      Timer1.SetEnabled(false);
      state_ = WindowState::kEnding;
      outcome_ = RunOutcome::kNoRun;
      break;
    case WindowState::kStopped:
      state_ = WindowState::kEnding;
      break;
    case WindowState::kRunning:
    case WindowState::kLeaveCsv:
      // Remembered: TForm::Close terminates the application, which ends the
      // message loop only after this run's handler has returned.
    case WindowState::kEnding:
      break;
  }
}

void TForm1::OnEnter() {
  if (state_ == WindowState::kStopped) Close();
}

void TForm1::ShowMessage(const std::string& text) {
  Application().MessageBox(text, Application().Title(), MessageIcon::kNone);
}
