// Test fixture of the export jobs: a scratch folder holding a small real HR
// database (one SQLite file per table, as the engine reads them), a host that
// carries the main window's dataset components as the window builds them,
// with the window's open hooks, a clock standing still at a chosen moment,
// and a window that records what the jobs showed.
#ifndef KDX_TESTS_EXPORTS_EXPORT_FIXTURE_H_
#define KDX_TESTS_EXPORTS_EXPORT_FIXTURE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "data/component.h"
#include "data/connection.h"
#include "data/query.h"
#include "data/settings.h"
#include "data/table.h"
#include "engine/storage.h"
#include "exports/credentials.h"
#include "tests/support/scratch_folder.h"
#include "exports/export_components.h"
#include "exports/export_host.h"
#include "tests/support/hr_site_schema.h"
#include "platform/clock.h"
#include "platform/faulty_file_system.h"
#include "platform/output_file.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"
#include "tests/support/status_assertions.h"

// Rows are written with designated initializers that name only the columns a
// test cares about; the others keep their defaults on purpose. g++ 12 warns
// about every omitted member under -Wextra, so the tests that include this
// header turn that one warning off.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace export_test {

// The engine settings of the main window, made once per test program (the
// process allows one settings component).
inline void EnsureEngineSettings() {
  static TAdsSettings* settings = CreateEngineSettings(nullptr);
  (void)settings;
}

// ---------------------------------------------------------------------------
// The host: the main window's components, run state and window texts.
// ---------------------------------------------------------------------------
class TestHost : public ExportHost {
 public:
  TestHost() : owner_(std::make_unique<TComponent>(nullptr, "Form1")) {
    EnsureEngineSettings();
    c_ = CreateExportComponents(*owner_);
    AttachPasswordHooks(c_);
  }

  RunState& State() override { return state_; }
  OutputFile& Output() override { return output_; }
  const ExportComponents& Components() override { return c_; }
  const Clock& GetClock() override { return clock_; }

  void SetCaption(const std::string& caption) override {
    caption_ = caption;
    ++caption_changes_;
  }
  std::string Caption() override { return caption_; }
  void SetStatusText(const std::string& text) override { status_texts_.push_back(text); }
  void StepProgress() override { ++progress_steps_; }
  void ProcessMessages() override {
    ++messages_processed_;
    if (on_process_messages) on_process_messages();
  }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  void SetWaitCursor(bool on) override { wait_cursor_ = on; }

  void PrepareConnection() override { PointConnectionAt(*c_.AdsConnection1, state_.SourcePath); }
  void WriteRunLog() override {
    state_.LogPath = state_.ProgramFolder + "LOG.TXT";
    output_.Assign(state_.LogPath);
    output_.Rewrite();
    output_.WriteLine("LEAVE DATA DOWNLOADED DATE : " + FormatDateTime("DD/MM/YYYY  HHSSMM", clock_.Now()));
    output_.Close();
  }

  FixedClock& clock() { return clock_; }
  // The file system under Output(): passes through until told to fail.
  FaultyFileSystem& file_system() { return file_system_; }
  const std::string& caption() const { return caption_; }
  int caption_changes() const { return caption_changes_; }
  const std::vector<std::string>& status_texts() const { return status_texts_; }
  const std::vector<std::string>& messages() const { return messages_; }
  int progress_steps() const { return progress_steps_; }
  int messages_processed() const { return messages_processed_; }
  bool wait_cursor() const { return wait_cursor_; }

  // Called from ProcessMessages (once per exported record).
  std::function<void()> on_process_messages;

 private:
  std::unique_ptr<TComponent> owner_;
  ExportComponents c_;
  RunState state_;
  FaultyFileSystem file_system_;
  OutputFile output_{&file_system_};
  FixedClock clock_;
  std::string caption_;
  int caption_changes_ = 0;
  std::vector<std::string> status_texts_;
  std::vector<std::string> messages_;
  int progress_steps_ = 0;
  int messages_processed_ = 0;
  bool wait_cursor_ = false;
};

// ---------------------------------------------------------------------------
// Rows of the test database. Optional members left empty are stored as NULL.
// Dates are written 'YYYY-MM-DD' (the storage format of DATE columns).
// ---------------------------------------------------------------------------
using Opt = std::optional<std::string>;
using OptNum = std::optional<double>;

struct Employee {
  std::string emp_no;
  std::string pay_type = "M";
  OptNum hrs_work_peryear;
  std::string fund_levy;
  std::string new_ic;
  std::string income_tax_ac_no;
  std::string fund_ac_no;
  OptNum workpermit_duration;
  Opt emp_pass_expiry;
  OptNum tel_ext;
  Opt termination_date;
  std::string name;
  std::string national_code;
  std::string addr1;
  std::string batch_no;
};

struct TemplateRow {
  int no = 0;
  std::string field_name;
  std::string delimiter = ",";
  std::string table;
  std::string category;
  std::string mapfield2;
  std::string value;
  std::string format;
  std::optional<int> size;
  std::string section = "KDX";
};

struct Career {
  std::string emp_code;
  std::string pay_effective_date;
  OptNum old_salary;
  OptNum new_salary;
};

struct Allowance {
  std::string emp_no;
  std::string allow_code;
  Opt effdate;
  Opt enddate;
  OptNum start_mth;
  OptNum end_mth;
  OptNum amt;
};

struct Leave {
  std::string empcode;
  int id = 0;
  std::string leave_code = "AL";
  std::string start_date;
  std::string end_date;
  OptNum day;
  std::string ampm;
  Opt modified_date;
  std::string aprroved = "Y";
  Opt approved_date;
  std::string remark1;
  std::string emp_name;
};

struct LeaveTrx {
  int id = 0;
  std::string empcode;
  std::string leave_code = "AL";
  std::string date;
  OptNum day;
  std::string approved = "Y";
  std::string shift;
};

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    if (ch == '\'') out += '\'';
    out += ch;
  }
  return out + "'";
}
inline std::string Quote(const Opt& text) { return text ? Quote(*text) : "NULL"; }
inline std::string Num(const OptNum& value) {
  if (!value) return "NULL";
  std::ostringstream s;
  s.precision(17);
  s << *value;
  return s.str();
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Crlf(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

// The message of the Exception `run` raises, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no error)";
}

// ---------------------------------------------------------------------------
// The fixture.
// ---------------------------------------------------------------------------
class ExportFixture : public ::testing::Test {
 protected:
  // The default moment of a run: Tuesday 15 June 2010, 10:30:00.
  static TDateTime RunMoment() { return EncodeDate(2010, 6, 15) + EncodeTime(10, 30, 0, 0); }

  void SetUp() override {
    root_ = scratch_.Path();
    std::filesystem::create_directories(root_ / "db");
    std::filesystem::create_directories(root_ / "out");
    std::filesystem::create_directories(root_ / "prog");
    if (use_dictionary_) CreateDictionaryFile();
    CreateTables();
    host_ = std::make_unique<TestHost>();
    RunState& s = host_->State();
    s.ProgramFolder = (root_ / "prog").string() + "/";
    s.SourcePath = use_dictionary_ ? DictionaryPath() : DbFolder();
    s.EmployeePath = (root_ / "out" / "employee.txt").string();
    s.LeavePath = (root_ / "out" / "leave.txt").string();
    SetNow(RunMoment());
  }

  void TearDown() override { host_.reset(); }

  // The clock stands still at `now`; RunPeriod follows it.
  void SetNow(TDateTime now) {
    host_->clock().Set(now);
    host_->State().RunPeriod = FormatDateTime("YYYYMM", now);
  }

  std::string DbFolder() const { return (root_ / "db").string(); }
  std::string OutFolder() const { return (root_ / "out").string(); }
  std::string Root() const { return root_.string(); }
  // The file holding table `file`: its own file in a folder of free tables,
  // the dictionary file otherwise.
  std::string TableFile(const std::string& file) const {
    return use_dictionary_ ? DictionaryPath() : (root_ / "db" / file).string();
  }
  std::string DictionaryPath() const { return (root_ / "db" / "HR.ADD").string(); }

  // Set in a derived fixture's constructor: the database is one dictionary
  // file with the account GLOVERUN4 instead of a folder of free tables.
  bool use_dictionary_ = false;
  void CreateDictionaryFile() {
    ASSERT_TRUE(Succeeds(CreateDictionary(DictionaryPath())));
    ASSERT_TRUE(Succeeds(AddDictionaryUser(DictionaryPath(), kDictionaryUsername, kDictionaryPassword)));
  }
  TestHost& host() { return *host_; }
  RunState& state() { return host_->State(); }

  std::string EmployeeFile() const { return ReadBytes(host_->State().EmployeePath); }
  std::string LeaveFile() const { return ReadBytes(host_->State().LeavePath); }
  std::string LogFile() const { return ReadBytes(host_->State().ProgramFolder + "LOG.TXT"); }
  bool Exists(const std::string& path) const { return std::filesystem::exists(path); }

  // Runs `sql` on the table file `file` of the database.
  void Sql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(TableFile(file).c_str(), &db), SQLITE_OK) << file;
    char* message = nullptr;
    // Test data need not survive a power cut: no syncing keeps set-up fast.
    sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    std::string text = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text << " in: " << sql;
  }

  void CreateTables() {
    for (const HrSiteTable& table : kHrSiteTables) Sql(table.file, table.sql);
  }

  // ---- rows -----------------------------------------------------------------
  void AddEmployee(const Employee& e) {
    Sql("EMPLOYEE.ADT",
        "INSERT INTO EMPLOYEE VALUES (" + Quote(e.emp_no) + "," + Quote(e.name) + "," + Quote(e.pay_type) + "," +
            Num(e.hrs_work_peryear) + "," + Quote(e.fund_levy) + "," + Quote(e.new_ic) + "," +
            Quote(e.income_tax_ac_no) + "," + Quote(e.fund_ac_no) + "," + Num(e.workpermit_duration) + "," +
            Quote(e.emp_pass_expiry) + "," + Num(e.tel_ext) + "," + Quote(e.termination_date) + "," +
            Quote(e.national_code) + "," + Quote(e.addr1) + "," + Quote(e.batch_no) + ")");
  }
  void AddTemplate(const TemplateRow& r) {
    Sql("EXPORT.ADT", "INSERT INTO EXPORT VALUES (" + Quote(r.section) + "," + std::to_string(r.no) + "," +
                          Quote(r.field_name) + "," + Quote(r.table) + "," + Quote(r.category) + "," +
                          Quote(r.mapfield2) + "," + Quote(r.value) + "," + Quote(r.format) + "," +
                          Quote(r.delimiter) + "," + (r.size ? std::to_string(*r.size) : "NULL") + ")");
  }
  // A template of one row reading the named employee column, comma-delimited.
  void TemplateOf(const std::string& field_name) { AddTemplate({.no = 1, .field_name = field_name}); }

  void AddPara(int year, const std::string& company, const std::string& caddr1 = "") {
    Sql("PAYPARA1.ADT", "INSERT INTO PAYPARA1 VALUES (" + std::to_string(year) + "," + Quote(company) + "," +
                            Quote(caddr1) + ",'','','')");
  }
  void AddCareer(const Career& c) {
    Sql("EMP_PROS.ADT", "INSERT INTO EMP_PROS (EMP_CODE, PAY_EFFECTIVE_DATE, OLD_SALARY, NEW_SALARY) VALUES (" +
                            Quote(c.emp_code) + "," + Quote(c.pay_effective_date) + "," + Num(c.old_salary) + "," +
                            Num(c.new_salary) + ")");
  }
  void AddAllowance(const Allowance& a) {
    Sql("EMP_ALW.ADT", "INSERT INTO EMP_ALW VALUES (" + Quote(a.emp_no) + "," + Quote(a.allow_code) + "," +
                           Quote(a.effdate) + "," + Quote(a.enddate) + "," + Num(a.start_mth) + "," +
                           Num(a.end_mth) + "," + Num(a.amt) + ")");
  }
  void AddCode(const std::string& category, const std::string& code, const std::string& desc,
               const std::string& mapcode = "", const std::string& long_desc = "") {
    Sql("CODE.ADT", "INSERT INTO CODE VALUES (" + Quote(category) + "," + Quote(code) + "," + Quote(desc) + "," +
                        Quote(mapcode) + "," + Quote(long_desc) + ")");
  }
  void AddEmployment(const std::string& emp_no, const std::string& dept) {
    Sql("EMPLOYMT.ADT", "INSERT INTO EMPLOYMT VALUES (" + Quote(emp_no) + "," + Quote(dept) + ",NULL)");
  }
  void AddMisc(const std::string& emp_no, const std::string& hobby, const std::string& old_salary = "") {
    Sql("EMPMISC.ADT",
        "INSERT INTO EMPMISC VALUES (" + Quote(emp_no) + "," + Quote(hobby) + "," + Quote(old_salary) + ")");
  }
  void AddLeave(const Leave& l) {
    Sql("EMPLEAVE.ADT", "INSERT INTO EMPLEAVE VALUES (" + Quote(l.empcode) + "," + std::to_string(l.id) + "," +
                            Quote(l.leave_code) + "," + Quote(l.start_date) + "," + Quote(l.end_date) + "," +
                            Num(l.day) + "," + Quote(l.ampm) + "," + Quote(l.modified_date) + "," +
                            Quote(l.aprroved) + "," + Quote(l.approved_date) + "," + Quote(l.remark1) + "," +
                            Quote(l.emp_name) + ",NULL,NULL)");
  }
  void AddLeaveTrx(const LeaveTrx& t) {
    Sql("LEAV_TRX.ADT", "INSERT INTO LEAV_TRX VALUES (" + std::to_string(t.id) + "," + Quote(t.empcode) + "," +
                            Quote(t.leave_code) + "," + Quote(t.date) + "," + Num(t.day) + "," + Quote(t.approved) +
                            "," + Quote(t.shift) + ")");
  }
  void AddCalendar(const std::string& emp_no, const std::string& date, const std::string& workcode) {
    Sql("EMP_CLD.ADT",
        "INSERT INTO EMP_CLD VALUES (" + Quote(emp_no) + "," + Quote(date) + "," + Quote(workcode) + ")");
  }
  void AddShift(const std::string& shift, const std::string& am_pm, const std::string& timein,
                const std::string& timeout) {
    Sql("LV_PAYGRP_SHIFT.ADT", "INSERT INTO LV_PAYGRP_SHIFT VALUES (" + Quote(shift) + "," + Quote(am_pm) + "," +
                                   Quote(timein) + "," + Quote(timeout) + ")");
  }

  test_support::ScratchFolder scratch_;
  std::filesystem::path root_;  // scratch_
  std::unique_ptr<TestHost> host_;
};

}  // namespace export_test

#endif  // KDX_TESTS_EXPORTS_EXPORT_FIXTURE_H_
