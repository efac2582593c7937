// Throughput and peak memory of the export jobs on generated databases.
//
//   export_bench [--employees N,...] [--leaves N] [--keep FOLDER]
//
// For each employee count: a folder of free tables with that many current
// employees (three career rows, two allowances, an EMPLOYMT and an EMPMISC row
// each) and a 40-row template that touches every field kind; the employee
// export runs in a child process so that its peak resident memory is its own.
// Then the leave-day export on N leave records (half split by two LEAV_TRX
// rows, half walked over a three-day calendar stretch).
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/component.h"
#include "data/connection.h"
#include "data/query.h"
#include "data/settings.h"
#include "data/table.h"
#include "exports/employee_export.h"
#include "exports/export_host.h"
#include "exports/leave_days.h"
#include "platform/clock.h"
#include "platform/output_file.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/error.h"

namespace {

constexpr char kTablePassword[] = "VARDE5816";

// The main window's components, configured as the window configures them;
// the window texts go nowhere.
class BenchHost : public ExportHost {
 public:
  BenchHost() : owner_(std::make_unique<TComponent>(nullptr, "Form1")) {
    TComponent* form = owner_.get();
    connection_ = new TAdsConnection(form, "AdsConnection1");
    connection_->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
    connection_->SetLoginPrompt(false);
    c_.AdsConnection1 = connection_;
    c_.AdsQuerySource = Query("AdsQuerySource", {}, {MakeStoredParam("date1", TFieldType::ftDateTime),
                                                      MakeStoredParam("date2", TFieldType::ftDateTime)});
    c_.AdsQueryEmp = Query("AdsQueryEmp", {}, {MakeStoredParam("date", TFieldType::ftDateTime)});
    c_.wwTableTemplate = Query("wwTableTemplate", {"select * from  export", "where section=:section"},
                               {MakeStoredParam("section", TFieldType::ftString)});
    c_.wwTableTemplate->SetIndexFieldNames("SECTION;NO");
    c_.AdsQueryLVTX = Query("AdsQueryLVTX",
                            {"select * from LEAV_TRX", "WHERE ID=:ID AND EMPCODE=:EMPCODE and LEAVE_CODE=:LEAVE_CODE"},
                            {MakeStoredParam("ID", TFieldType::ftString),
                             MakeStoredParam("EMPCODE", TFieldType::ftString),
                             MakeStoredParam("LEAVE_CODE", TFieldType::ftString)});
    c_.AdsQuerySHIFT = Query("AdsQuerySHIFT", {"select * from LV_PAYGRP_SHIFT", "ORDER BY SHIFT"}, {});
    c_.AdsTableCode = Table("AdsTableCode", "CODE.ADT", "CATEGORY;CODE");
    c_.wwQueryEmpCareer = Table("wwQueryEmpCareer", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
    c_.AdsTableCLD = Table("AdsTableCLD", "EMP_CLD.ADT", "EMP_NO;DATE");
    c_.AdsQueryEmployment = Table("AdsQueryEmployment", "EMPLOYMT.ADT", "EMP_NO");
    c_.AdsTableMisc = Table("AdsTableMisc", "EMPMISC.ADT", "EMP_NO");
    c_.TableEmpAllowance = Table("TableEmpAllowance", "EMP_ALW", "EMP_NO;ALLOW_CODE");
    c_.AdsTablePara = Table("AdsTablePara", "PAYPARA1", "YEAR");
    c_.AdsQueryEmp->BeforeOpen = [this](TAdsDataSet&) {
      if (!connection_->IsDictionaryConnection()) c_.AdsQueryEmp->SetTablePassword("employee", kTablePassword);
    };
    for (TAdsTable* table : {c_.wwQueryEmpCareer, c_.TableEmpAllowance, c_.AdsTablePara}) {
      table->AfterOpen = [this, table](TAdsDataSet&) {
        if (!connection_->IsDictionaryConnection()) table->EnableEncryption(kTablePassword);
      };
    }
  }

  RunState& State() override { return state_; }
  OutputFile& Output() override { return output_; }
  const ExportComponents& Components() override { return c_; }
  const Clock& GetClock() override { return clock_; }
  void SetCaption(const std::string& caption) override { caption_ = caption; }
  std::string Caption() override { return caption_; }
  void SetStatusText(const std::string&) override {}
  void StepProgress() override {}
  void ProcessMessages() override {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  void SetWaitCursor(bool) override {}
  void PrepareConnection() override {
    connection_->SetIsConnected(false);
    connection_->SetConnectPath(state_.SourcePath);
    connection_->SetPassword("BRISKOLDENT");
    connection_->SetUsername("GLOVERUN4");
  }
  void WriteRunLog() override {
    state_.LogPath = state_.ProgramFolder + "LOG.TXT";
    output_.Assign(state_.LogPath);
    output_.Rewrite();
    output_.WriteLine("LEAVE DATA DOWNLOADED DATE : " + FormatDateTime("DD/MM/YYYY  HHSSMM", clock_.Now()));
    output_.Close();
  }
  FixedClock& clock() { return clock_; }

 private:
  TAdsQuery* Query(const std::string& name, const std::vector<std::string>& lines,
                   const std::vector<TParam>& params) {
    auto* q = new TAdsQuery(owner_.get(), name);
    q->SetDatabaseName("AdsConnection1");
    q->LoadStored(lines, params);
    return q;
  }
  TAdsTable* Table(const std::string& name, const std::string& table, const std::string& index) {
    auto* t = new TAdsTable(owner_.get(), name);
    t->SetDatabaseName("AdsConnection1");
    t->SetTableName(table);
    t->SetIndexFieldNames(index);
    return t;
  }

  std::unique_ptr<TComponent> owner_;
  TAdsConnection* connection_ = nullptr;
  ExportComponents c_;
  RunState state_;
  OutputFile output_;
  FixedClock clock_;
  std::string caption_;
};

// ---- generation ---------------------------------------------------------------

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
    Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN");
  }
  ~Db() {
    Exec("COMMIT");
    sqlite3_close(db_);
  }
  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message ? message : "?";
      sqlite3_free(message);
      throw std::runtime_error(text + " in: " + sql);
    }
  }
  sqlite3* handle() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// Inserts rows through one prepared statement; values are bound as text,
// NULL for nullptr.
class Inserter {
 public:
  Inserter(Db& db, const std::string& sql) {
    if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
      throw std::runtime_error("cannot prepare " + sql);
    }
  }
  ~Inserter() { sqlite3_finalize(stmt_); }
  void Row(std::initializer_list<const char*> values) {
    int i = 1;
    for (const char* v : values) {
      if (v) {
        sqlite3_bind_text(stmt_, i, v, -1, SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(stmt_, i);
      }
      ++i;
    }
    if (sqlite3_step(stmt_) != SQLITE_DONE) throw std::runtime_error("insert failed");
    sqlite3_reset(stmt_);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string EmpNo(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "E%06d", i);
  return buf;
}

void CreateSchema(const std::string& folder) {
  Db(folder + "/EMPLOYEE.ADT")
      .Exec("CREATE TABLE EMPLOYEE (EMP_NO CHAR(12), NAME CHAR(40), PAY_TYPE CHAR(2), HRS_WORK_PERYEAR NUMERIC(8,2),"
            " FUND_LEVY CHAR(10), NEW_IC CHAR(12), INCOME_TAX_AC_NO CHAR(15), FUND_AC_NO CHAR(15),"
            " WORKPERMIT_DURATION NUMERIC(4,0), EMP_PASS_EXPIRY DATE, TEL_EXT NUMERIC(6,0),"
            " TERMINATION_DATE DATE, NATIONAL_CODE CHAR(8), ADDR1 CHAR(40), BATCH_NO CHAR(4))");
  Db(folder + "/PAYPARA1.ADT")
      .Exec("CREATE TABLE PAYPARA1 (YEAR INTEGER, COMPANY CHAR(40), CADDR1 CHAR(40), CADDR2 CHAR(40),"
            " CADDR3 CHAR(40), CPOSTAL_CODE CHAR(10)); CREATE UNIQUE INDEX \"PAYPARA1.YEAR\" ON PAYPARA1 (YEAR);"
            "INSERT INTO PAYPARA1 VALUES (2010, 'ACME PTE LTD', '1 Main St, #02-01', 'Singapore', '', '123456')");
  Db(folder + "/EMP_ALW.ADT")
      .Exec("CREATE TABLE EMP_ALW (EMP_NO CHAR(12), ALLOW_CODE CHAR(8), EFFDATE DATE, ENDDATE DATE,"
            " START_MTH NUMERIC(6,0), END_MTH NUMERIC(6,0), AMT MONEY);"
            "CREATE INDEX \"EMP_ALW.EMPALW\" ON EMP_ALW (EMP_NO, ALLOW_CODE)");
  Db(folder + "/EMPLOYMT.ADT")
      .Exec("CREATE TABLE EMPLOYMT (EMP_NO CHAR(12), DEPT CHAR(10), JOIN_DATE DATE);"
            "CREATE UNIQUE INDEX \"EMPLOYMT.EMP_NO\" ON EMPLOYMT (EMP_NO)");
  Db(folder + "/EMPMISC.ADT")
      .Exec("CREATE TABLE EMPMISC (EMP_NO CHAR(12), HOBBY CHAR(20), OLD_SALARY CHAR(10));"
            "CREATE UNIQUE INDEX \"EMPMISC.EMP_NO\" ON EMPMISC (EMP_NO)");
  Db(folder + "/EMP_PROS.ADT")
      .Exec("CREATE TABLE EMP_PROS (EMP_CODE CHAR(12), PAY_EFFECTIVE_DATE DATE, ID AUTOINC, OLD_SALARY MONEY,"
            " NEW_SALARY MONEY);"
            "CREATE UNIQUE INDEX \"EMP_PROS.PRIMARY\" ON EMP_PROS (EMP_CODE, PAY_EFFECTIVE_DATE, ID)");
  Db(folder + "/CODE.ADT")
      .Exec("CREATE TABLE CODE (CATEGORY CHAR(8), CODE CHAR(12), \"DESC\" CHAR(40), MAPCODE CHAR(8),"
            " LONG_DESC CHAR(60)); CREATE UNIQUE INDEX \"CODE.CATCODE\" ON CODE (CATEGORY, CODE);"
            "INSERT INTO CODE VALUES ('NAT','SG','Singaporean','',''), ('NAT','MY','Malaysian','',''),"
            " ('NAT','IN','Indian','',''), ('LEA','AL','Annual','A01','Annual leave')");
  Db(folder + "/EXPORT.ADT")
      .Exec("CREATE TABLE EXPORT (SECTION CHAR(10), NO INTEGER, \"Field Name\" CHAR(30), \"TABLE\" CHAR(10),"
            " CATEGORY CHAR(8), MAPFIELD2 CHAR(8), VALUE CHAR(40), FORMAT CHAR(20), DELIMITER CHAR(3), SIZE INTEGER);"
            "CREATE INDEX \"EXPORT.SECNO\" ON EXPORT (SECTION, NO)");
  Db(folder + "/EMPLEAVE.ADT")
      .Exec("CREATE TABLE EMPLEAVE (EMPCODE CHAR(12), ID INTEGER, LEAVE_CODE CHAR(8), START_DATE DATE,"
            " END_DATE DATE, DAY NUMERIC(6,2), AMPM CHAR(2), MODIFIED_DATE DATE, APRROVED CHAR(1),"
            " APPROVED_DATE DATE, REMARK1 CHAR(40), EMP_NAME CHAR(40), TIMEIN TIMESTAMP, TIMEOUT TIMESTAMP)");
  Db(folder + "/LEAV_TRX.ADT")
      .Exec("CREATE TABLE LEAV_TRX (ID INTEGER, EMPCODE CHAR(12), LEAVE_CODE CHAR(8), DATE DATE, DAY NUMERIC(6,2),"
            " APPROVED CHAR(1), SHIFT CHAR(8))");
  Db(folder + "/EMP_CLD.ADT")
      .Exec("CREATE TABLE EMP_CLD (EMP_NO CHAR(12), DATE DATE, WORKCODE CHAR(1));"
            "CREATE UNIQUE INDEX \"EMP_CLD.PRIMARY\" ON EMP_CLD (EMP_NO, DATE)");
  Db(folder + "/LV_PAYGRP_SHIFT.ADT")
      .Exec("CREATE TABLE LV_PAYGRP_SHIFT (SHIFT CHAR(8), AM_PM CHAR(2), TIMEIN TIMESTAMP, TIMEOUT TIMESTAMP)");

  // 40 template rows touching every kind.
  struct Row {
    const char* field;
    const char* table;
    const char* category;
    const char* mapfield2;
    const char* value;
    const char* format;
    const char* delimiter;
    const char* size;
  };
  const Row rows[] = {
      {"emp_no", "", "", "", "", "", ",", nullptr},
      {"NAME", "", "", "", "", "", ",", nullptr},
      {"PAY_TYPE", "", "", "", "", "", ",", nullptr},
      {"COMPANY", "", "", "", "", "", ",", nullptr},
      {"CADDR1", "", "", "", "", "", ",", nullptr},
      {"DATE", "", "", "", "", "DDMMYYYY", ",", nullptr},
      {"FIXED", "", "", "", "KDX", "", ",", nullptr},
      {"TEL_EXT", "", "", "", "", "", ",", nullptr},
      {"ALLOW_CODE", "", "", "TRANS", "", "", ",", nullptr},
      {"ALLOW_CODE", "", "", "MEAL", "", "", ",", nullptr},
      {"SOC_NO", "", "", "", "", "", ",", nullptr},
      {"SOC_EXPIRY_DATE", "", "", "", "", "", ",", nullptr},
      {"RES_TYPE", "", "", "", "", "", ",", nullptr},
      {"RES_DOC_NO", "", "", "", "", "", ",", nullptr},
      {"RES_DURATION", "", "", "", "", "", ",", nullptr},
      {"RES_EXPIRY_DATE", "", "", "", "", "", ",", nullptr},
      {"national_code", "", "NAT", "", "", "", ",", nullptr},
      {"PAY_EFFECTIVE_DATE", "", "", "", "", "", ",", nullptr},
      {"HOBBY", "EMPMISC", "", "", "", "", ",", nullptr},
      {"DEPT", "EMPLOYMT", "", "", "", "", ",", nullptr},
      {"NRIC_NO", "FORMULA", "", "", "", "", ",", nullptr},
      {"FIN_NO", "FORMULA", "", "", "", "", ",", nullptr},
      {"PR_NO", "FORMULA", "", "", "", "", ",", nullptr},
      {"PR", "FORMULA", "", "", "", "", ",", nullptr},
      {"OLD_SALARY", "", "", "", "", "", ",", nullptr},
      {"NEW_SALARY", "", "", "", "", "", ",", nullptr},
      {"DUMMY", "", "", "", "", "", ",", nullptr},
      {"ADDR1", "", "", "", "", "", ",", nullptr},
      {"NEW_IC", "", "", "", "", "", "F", "12"},
      {"INCOME_TAX_AC_NO", "", "", "", "", "", "F", "15"},
      {"emp_no", "", "", "", "", "", "F", "10"},
      {"NAME", "", "", "", "", "", "F", "30"},
      {"FUND_LEVY", "", "", "", "", "", "|", nullptr},
      {"termination_date", "", "", "", "", "", "|", nullptr},
      {"EMP_PASS_EXPIRY", "", "", "", "", "", "|", nullptr},
      {"HRS_WORK_PERYEAR", "", "", "", "", "", "|", nullptr},
      {"BATCH_NO", "", "", "", "", "", "|", nullptr},
      {"CADDR2", "", "", "", "", "", "|", nullptr},
      {"CPOSTAL_CODE", "", "", "", "", "", "|", nullptr},
      {"FIXED", "", "", "", "END", "", "", nullptr},
  };
  Db db(folder + "/EXPORT.ADT");
  Inserter ins(db, "INSERT INTO EXPORT VALUES ('KDX', ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  int no = 1;
  for (const Row& r : rows) {
    const std::string n = std::to_string(no++);
    ins.Row({n.c_str(), r.field, r.table, r.category, r.mapfield2, r.value, r.format, r.delimiter, r.size});
  }
}

void GenerateEmployees(const std::string& folder, int count) {
  static const char* kPayTypes[] = {"D", "H", "SE", "SN", "M"};
  static const char* kLevies[] = {"PR", "CLASS1", "NONE", "WP", "PRX"};
  static const char* kNations[] = {"SG", "MY", "IN", "XX"};
  Db emp_db(folder + "/EMPLOYEE.ADT");
  Db pros_db(folder + "/EMP_PROS.ADT");
  Db alw_db(folder + "/EMP_ALW.ADT");
  Db mt_db(folder + "/EMPLOYMT.ADT");
  Db misc_db(folder + "/EMPMISC.ADT");
  Inserter emp(emp_db, "INSERT INTO EMPLOYEE VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  Inserter pros(pros_db, "INSERT INTO EMP_PROS (EMP_CODE, PAY_EFFECTIVE_DATE, OLD_SALARY, NEW_SALARY) VALUES (?,?,?,?)");
  Inserter alw(alw_db, "INSERT INTO EMP_ALW VALUES (?,?,?,?,?,?,?)");
  Inserter mt(mt_db, "INSERT INTO EMPLOYMT VALUES (?,?,NULL)");
  Inserter misc(misc_db, "INSERT INTO EMPMISC VALUES (?,?,?)");
  for (int i = 1; i <= count; ++i) {
    const std::string no = EmpNo(i);
    const std::string name = "Employee number " + std::to_string(i);
    const char* pay = kPayTypes[i % 5];
    char ic[16];
    std::snprintf(ic, sizeof ic, "%c%dA", i % 3 == 0 ? 'T' : 'S', 1000000 + i);
    char tax[16];
    std::snprintf(tax, sizeof tax, "F%d", 2000000 + i);
    const std::string ext = std::to_string(i % 4 == 0 ? 0 : 100 + i % 900);
    emp.Row({no.c_str(), name.c_str(), pay, "2080", kLevies[i % 5], ic, tax, "CPF123", "24",
             i % 2 ? "2012-03-31" : nullptr, ext.c_str(), i % 7 == 0 ? "2010-12-31" : nullptr, kNations[i % 4],
             "Block 1, Street 2", "B1"});
    const std::string base = std::to_string(2000 + i % 1000);
    pros.Row({no.c_str(), "2009-01-01", "1800", base.c_str()});
    pros.Row({no.c_str(), "2010-03-01", base.c_str(), "3000"});
    pros.Row({no.c_str(), "2010-12-01", "3000", "3300"});
    alw.Row({no.c_str(), "MEAL", nullptr, nullptr, "201001", "201012", "80"});
    alw.Row({no.c_str(), "TRANS", "2010-03-15", nullptr, nullptr, nullptr, "120.5"});
    mt.Row({no.c_str(), "SALES"});
    misc.Row({no.c_str(), "reading", "2500"});
  }
}

void GenerateLeave(const std::string& folder, int leaves, int employees) {
  Db leave_db(folder + "/EMPLEAVE.ADT");
  Db trx_db(folder + "/LEAV_TRX.ADT");
  Db cld_db(folder + "/EMP_CLD.ADT");
  Inserter leave(leave_db, "INSERT INTO EMPLEAVE VALUES (?,?,'AL',?,?,?,'AM','2010-06-15','Y','2010-06-15',?,'',NULL,NULL)");
  Inserter trx(trx_db, "INSERT INTO LEAV_TRX VALUES (?,?,'AL',?,?,'Y','')");
  Inserter cld(cld_db, "INSERT INTO EMP_CLD VALUES (?,?,?)");
  for (int e = 1; e <= employees; ++e) {
    const std::string no = EmpNo(e);
    for (int d = 1; d <= 30; ++d) {
      char date[16];
      std::snprintf(date, sizeof date, "2010-06-%02d", d);
      cld.Row({no.c_str(), date, d % 7 == 0 ? "R" : (d % 2 ? "F" : "H")});
    }
  }
  for (int i = 1; i <= leaves; ++i) {
    const std::string no = EmpNo(1 + i % employees);
    const std::string id = std::to_string(i);
    const int day = 1 + i % 25;
    char start[16], mid[16], end[16];
    std::snprintf(start, sizeof start, "2010-06-%02d", day);
    std::snprintf(mid, sizeof mid, "2010-06-%02d", day + 1);
    std::snprintf(end, sizeof end, "2010-06-%02d", day + 2);
    if (i % 2 == 0) {
      leave.Row({no.c_str(), id.c_str(), start, mid, "1.5", "with transactions"});
      trx.Row({id.c_str(), no.c_str(), start, "1"});
      trx.Row({id.c_str(), no.c_str(), mid, "0.5"});
    } else {
      leave.Row({no.c_str(), id.c_str(), start, end, "2", "walked"});
    }
  }
  // The LEAV_TRX lookup of every leave is by ID, EMPCODE and LEAVE_CODE.
  trx_db.Exec("CREATE INDEX \"LEAV_TRX.TRX\" ON LEAV_TRX (ID, EMPCODE, LEAVE_CODE)");
}

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// User plus system CPU time of this process so far: on a shared machine the
// wall-clock figure also holds the time other processes had the CPU.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void SetUpHost(BenchHost& host, const std::string& folder) {
  RunState& s = host.State();
  s.SourcePath = folder;
  s.ProgramFolder = folder + "/";
  s.EmployeePath = folder + "/employee.txt";
  s.LeavePath = folder + "/leave.txt";
  host.clock().Set(EncodeDate(2010, 6, 15) + EncodeTime(10, 30, 0, 0));
  s.RunPeriod = "201006";
}

// Runs `job` in a child process and prints its line there, so that the peak
// memory reported is that of the job alone.
template <typename Job>
int InChild(Job job) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    int rc = 0;
    try {
      job();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "error: %s\n", e.what());
      rc = 1;
    }
    std::fflush(stdout);
    _exit(rc);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

std::vector<int> ParseList(const char* text) {
  std::vector<int> out;
  std::string s = text;
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t comma = s.find(',', pos);
    if (comma == std::string::npos) comma = s.size();
    out.push_back(std::atoi(s.substr(pos, comma - pos).c_str()));
    pos = comma + 1;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> employee_counts = {10000, 100000};
  int leave_count = 100000;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--employees" && i + 1 < argc) {
      employee_counts = ParseList(argv[++i]);
    } else if (arg == "--leaves" && i + 1 < argc) {
      leave_count = std::atoi(argv[++i]);
    } else if (arg == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else {
      std::fprintf(stderr, "usage: export_bench [--employees N,...] [--leaves N] [--keep FOLDER]\n");
      return 2;
    }
  }

  TAdsSettings settings(nullptr, "AdsSettings1");
  settings.SetDateFormat("dd/MM/yyyy");
  int failures = 0;
  const std::string root =
      keep.empty() ? (std::filesystem::temp_directory_path() / ("kdx-export-bench-" + std::to_string(getpid()))).string()
                   : keep;

  for (int count : employee_counts) {
    const std::string folder = root + "/emp" + std::to_string(count);
    std::filesystem::create_directories(folder);
    auto t0 = std::chrono::steady_clock::now();
    CreateSchema(folder);
    GenerateEmployees(folder, count);
    std::printf("employees %d: generated in %.1f s\n", count, Seconds(t0));
    failures += InChild([&] {
      BenchHost host;
      SetUpHost(host, folder);
      const long rss_before = PeakRssKib();
      const double cpu_start = CpuSeconds();
      auto start = std::chrono::steady_clock::now();
      ExportEmployees(host);
      const double secs = Seconds(start);
      const double cpu = CpuSeconds() - cpu_start;
      const auto bytes = std::filesystem::file_size(folder + "/employee.txt");
      std::printf("employee export: %d employees, 40 template rows: %.2f s wall (%.0f employees/s), %.2f s CPU"
                  " (%.0f employees/s), file %ju bytes, peak RSS %ld KiB (%ld KiB before the run)\n",
                  count, secs, count / secs, cpu, count / cpu, static_cast<uintmax_t>(bytes), PeakRssKib(),
                  rss_before);
    });
  }

  if (leave_count > 0) {
    const std::string folder = root + "/leave";
    std::filesystem::create_directories(folder);
    auto t0 = std::chrono::steady_clock::now();
    const int employees = 10000;
    CreateSchema(folder);
    GenerateEmployees(folder, employees);
    GenerateLeave(folder, leave_count, employees);
    std::printf("leave records %d: generated in %.1f s\n", leave_count, Seconds(t0));
    failures += InChild([&] {
      BenchHost host;
      SetUpHost(host, folder);
      host.State().FieldSeparator.assign(1, ',');
      host.PrepareConnection();
      const double cpu_start = CpuSeconds();
      auto start = std::chrono::steady_clock::now();
      ExportLeaveDays(host);
      const double secs = Seconds(start);
      const double cpu = CpuSeconds() - cpu_start;
      const auto bytes = std::filesystem::file_size(folder + "/leave.txt");
      std::printf("leave-day export: %d leave records (half LEAV_TRX, half calendar): %.2f s wall (%.0f records/s),"
                  " %.2f s CPU (%.0f records/s), file %ju bytes, peak RSS %ld KiB\n",
                  leave_count, secs, leave_count / secs, cpu, leave_count / cpu, static_cast<uintmax_t>(bytes),
                  PeakRssKib());
    });
  }

  if (keep.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  return failures == 0 ? 0 : 1;
}
