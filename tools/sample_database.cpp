// The sample database generator. One SQLite file per table, written in one
// transaction with one prepared INSERT; indexes are created after the rows,
// which is several times faster than maintaining them row by row.
#include "tools/sample_database.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/schema.h"
#include "engine/storage.h"

namespace fs = std::filesystem;

// ---- calendar arithmetic: the engine's, counted from 1 January 1970 ----------

namespace {
// Julian day number of 1 January 1970, day 0 of the generator's day counts.
constexpr int64_t kJulianOf19700101 = 2440588;
}  // namespace

int64_t DaysFromCivil(const CivilDate& date) {
  return engine::JulianFromCivil(date.year, date.month, date.day) - kJulianOf19700101;
}

CivilDate CivilFromDays(int64_t days) {
  CivilDate date;
  engine::CivilFromJulian(days + kJulianOf19700101, &date.year, &date.month, &date.day);
  return date;
}

std::string IsoDate(const CivilDate& date) {
  return fmt::format("{:04d}-{:02d}-{:02d}", date.year, date.month, date.day);
}

CivilDate LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return CivilDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

namespace {

// 0 = Monday .. 6 = Sunday (1 January 1970 was a Thursday).
int Weekday(int64_t days) {
  const int64_t w = (days + 3) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

std::string Iso(int64_t days) { return engine::FormatIsoDate(days + kJulianOf19700101); }

// ---- deterministic random numbers (splitmix64): the same seed gives the same
// sequence on every platform, which std:: distributions do not promise.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi], both included.
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Percent(int p) { return Between(0, 99) < p; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Next() % items.size()];
  }

 private:
  uint64_t state_;
};

// ---- table definitions --------------------------------------------------------

std::vector<SampleColumn> Cols(std::initializer_list<std::pair<const char*, const char*>> list) {
  std::vector<SampleColumn> out;
  for (const auto& [name, type] : list) out.push_back({name, type});
  return out;
}

// The employee table, the export template and the code table.
void AddEmployeeTables(std::vector<SampleTable>& t) {
  t.push_back({"employee.adt", "employee",
               Cols({{"emp_no", "CHAR(12)"}, {"emp_name", "CHAR(40)"}, {"NEW_IC", "CHAR(12)"},
                     {"sex", "CHAR(1)"}, {"birth_date", "DATE"}, {"race", "CHAR(4)"},
                     {"national_code", "CHAR(4)"}, {"department", "CHAR(8)"}, {"PAY_TYPE", "CHAR(2)"},
                     {"HRS_WORK_PERYEAR", "NUMERIC(7,1)"}, {"FUND_LEVY", "CHAR(8)"},
                     {"INCOME_TAX_AC_NO", "CHAR(15)"}, {"fund_Ac_no", "CHAR(15)"},
                     {"WORKPERMIT_DURATION", "INTEGER"}, {"EMP_PASS_EXPIRY", "DATE"},
                     {"TEL_EXT", "INTEGER"}, {"TERMINATION_DATE", "DATE"}, {"BATCH_NO", "CHAR(6)"},
                     {"EMAIL", "VARCHAR(60)"}, {"FULL_TIME", "LOGICAL"}, {"BASIC_PAY", "MONEY"},
                     {"LAST_UPDATE", "TIMESTAMP"}, {"NOTES", "MEMO"}}),
               {{"EMP_NO", {"emp_no"}, true}},
               true});
  t.push_back({"export.adt", "export",
               Cols({{"SECTION", "CHAR(10)"}, {"NO", "INTEGER"}, {"Field Name", "CHAR(30)"},
                     {"TABLE", "CHAR(10)"}, {"CATEGORY", "CHAR(10)"}, {"MAPFIELD2", "CHAR(10)"},
                     {"VALUE", "CHAR(40)"}, {"FORMAT", "CHAR(20)"}, {"DELIMITER", "CHAR(3)"},
                     {"size", "INTEGER"}}),
               {{"SECTNO", {"SECTION", "NO"}, false}},
               false});
  t.push_back({"CODE.ADT", "CODE",
               Cols({{"CATEGORY", "CHAR(8)"}, {"CODE", "CHAR(8)"}, {"desc", "CHAR(40)"},
                     {"MAPCODE", "CHAR(8)"}, {"LONG_DESC", "CHAR(60)"}}),
               {{"CATCODE", {"CATEGORY", "CODE"}, true}},
               false});
}

// The employee's career, allowances, employment, particulars and the pay
// parameters.
void AddPayTables(std::vector<SampleTable>& t) {
  t.push_back({"EMP_PROS.adt", "EMP_PROS",
               Cols({{"EMP_CODE", "CHAR(12)"}, {"PAY_EFFECTIVE_DATE", "DATE"}, {"ID", "AUTOINC"},
                     {"CODE", "CHAR(20)"}, {"PROGRESSION_DATE", "DATE"}, {"COST_CENTRE", "CHAR(8)"},
                     {"DEPARTMENT", "CHAR(8)"}, {"CATEGORY", "CHAR(8)"}, {"OCCUPATION", "CHAR(8)"},
                     {"SECTION", "CHAR(8)"}, {"LEAVE_TYPE", "CHAR(4)"}, {"OLD_SALARY", "MONEY"},
                     {"INCREMENT_AMT", "MONEY"}, {"NEW_SALARY", "MONEY"}, {"REASONS", "CHAR(50)"},
                     {"REMARKS", "CHAR(50)"}, {"NVC", "MONEY"}, {"ANNUALINC", "MONEY"},
                     {"AIPERCENT", "MONEY"}, {"NVCPERCENT", "MONEY"}, {"NVCACCUM", "MONEY"},
                     {"NVCMAX", "MONEY"}, {"NEXT_INCR_DATE", "DATE"}, {"GROSS_PAY", "MONEY"},
                     {"SALARY_SCALE", "CHAR(8)"}, {"HOLDER_INDICATOR", "CHAR(1)"},
                     {"CONFIDENTIAL", "CHAR(1)"}, {"SCALE_INDICATOR", "CHAR(1)"},
                     {"MVP_INDICATOR", "CHAR(1)"}, {"NEXT_INCR_VALUE", "MONEY"},
                     {"MKT_ADJ_INDICATOR", "CHAR(1)"}, {"MAA_AMOUNT", "MONEY"},
                     {"INCRE_REVIEW_DATE", "DATE"}, {"COMPANY", "CHAR(8)"}, {"MVP", "MONEY"},
                     {"MVP2000", "MONEY"}, {"GROSS_WAGE", "MONEY"}, {"NEXT_INCR_PAY", "MONEY"},
                     {"MVP2000_INDICATOR", "CHAR(1)"}, {"SALTYPE", "CHAR(1)"}, {"PERCENT", "MONEY"},
                     {"STEP", "INTEGER"}, {"REV_NEW_SALARY", "MONEY"}, {"JOBGRADE", "CHAR(8)"},
                     {"SVC", "MONEY"}, {"SVCTOTAL", "MONEY"}, {"GRADE", "CHAR(8)"},
                     {"PLACEMENT_NO", "CHAR(12)"}, {"SEQ_NO", "INTEGER"}, {"GROUP", "CHAR(8)"},
                     {"CLUSTER", "CHAR(8)"}, {"DIVISION", "CHAR(8)"}, {"AUTH_GRADE", "CHAR(8)"},
                     {"CONTRACT_STARTDATE", "DATE"}, {"CONTRACT_ENDDATE", "DATE"},
                     {"JOBSTATUS", "CHAR(8)"}}),
               {{"PRIMARY", {"EMP_CODE", "PAY_EFFECTIVE_DATE", "ID"}, true},
                {"PROINDE2", {"EMP_CODE", "CODE"}, false},
                {"PROINDE3", {"EMP_CODE", "ID"}, false},
                {"PROSINDEX", {"EMP_CODE", "PROGRESSION_DATE"}, false},
                {"EMPLOYEE", {"EMP_CODE"}, false}},
               true});
  t.push_back({"EMP_ALW.adt", "EMP_ALW",
               Cols({{"EMP_NO", "CHAR(12)"}, {"ALLOW_CODE", "CHAR(8)"}, {"effdate", "DATE"},
                     {"enddate", "DATE"}, {"START_MTH", "INTEGER"}, {"END_MTH", "INTEGER"},
                     {"AMT", "MONEY"}}),
               {{"EMPALW", {"EMP_NO", "ALLOW_CODE"}, false}},
               true});
  t.push_back({"EMPLOYMT.ADT", "EMPLOYMT",
               Cols({{"EMP_NO", "CHAR(12)"}, {"JOIN_DATE", "DATE"}, {"CONFIRM_DATE", "DATE"},
                     {"DESIGNATION", "CHAR(30)"}, {"EMP_TYPE", "CHAR(4)"}, {"GRADE", "CHAR(4)"}}),
               {{"EMP_NO", {"EMP_NO"}, true}},
               true});
  t.push_back({"EMPMISC.ADT", "EMPMISC",
               Cols({{"EMP_NO", "CHAR(12)"}, {"BANK_CODE", "CHAR(4)"}, {"BANK_ACNO", "CHAR(20)"},
                     {"BLOOD_GROUP", "CHAR(3)"}, {"RELIGION", "CHAR(10)"},
                     {"SPOUSE_NAME", "CHAR(40)"}}),
               {{"EMP_NO", {"EMP_NO"}, true}},
               true});
  t.push_back({"PAYPARA1.adt", "PAYPARA1",
               Cols({{"YEAR", "INTEGER"}, {"COMPANY", "CHAR(40)"}, {"CADDR1", "CHAR(40)"},
                     {"CADDR2", "CHAR(40)"}, {"CADDR3", "CHAR(40)"}, {"CPOSTAL_CODE", "CHAR(10)"},
                     {"CPF_RATE", "NUMERIC(5,2)"}}),
               {{"YEAR", {"YEAR"}, true}},
               true});
}

// Leave, its day transactions, the working calendar and the shifts.
void AddLeaveTables(std::vector<SampleTable>& t) {
  t.push_back({"empleave.adt", "empleave",
               Cols({{"EMPCODE", "CHAR(12)"}, {"ID", "INTEGER"}, {"LEAVE_CODE", "CHAR(8)"},
                     {"START_DATE", "DATE"}, {"END_DATE", "DATE"}, {"DAY", "NUMERIC(5,2)"},
                     {"AMPM", "CHAR(2)"}, {"MODIFIED_DATE", "DATE"}, {"APPROVED_DATE", "DATE"},
                     {"aprroved", "CHAR(1)"}, {"REMARK1", "CHAR(60)"}, {"EMP_NAME", "CHAR(40)"},
                     {"TIMEIN", "TIME"}, {"TIMEOUT", "TIME"}}),
               {{"ID", {"ID"}, true}, {"EMPCODE", {"EMPCODE", "START_DATE"}, false}},
               false});
  t.push_back({"LEAV_TRX.adt", "LEAV_TRX",
               Cols({{"ID", "INTEGER"}, {"EMPCODE", "CHAR(12)"}, {"LEAVE_CODE", "CHAR(8)"},
                     {"DATE", "DATE"}, {"DAY", "NUMERIC(5,2)"}, {"APPROVED", "CHAR(1)"},
                     {"SHIFT", "CHAR(4)"}}),
               {{"TRXKEY", {"ID", "EMPCODE", "LEAVE_CODE"}, false}},
               false});
  t.push_back({"EMP_CLD.ADT", "EMP_CLD",
               Cols({{"EMP_NO", "CHAR(12)"}, {"DATE", "DATE"}, {"WORKCODE", "CHAR(2)"}}),
               {{"PRIMARY", {"EMP_NO", "DATE"}, true}, {"EMPLOYEE", {"EMP_NO"}, false}},
               false});
  t.push_back({"LV_PAYGRP_SHIFT.adt", "LV_PAYGRP_SHIFT",
               Cols({{"SHIFT", "CHAR(4)"}, {"AM_PM", "CHAR(2)"}, {"TIMEIN", "TIMESTAMP"},
                     {"TIMEOUT", "TIME"}, {"DESCRIPTION", "CHAR(30)"}}),
               {{"SHIFT", {"SHIFT"}, true}},
               false});
}

std::vector<SampleTable> BuildTables() {
  std::vector<SampleTable> t;
  AddEmployeeTables(t);
  AddPayTables(t);
  AddLeaveTables(t);
  return t;
}

// ---- one table file ------------------------------------------------------------

// Writes the rows of one table through the engine's writer: values are given
// column by column in declared order, then Row() inserts them; an empty text
// is NULL.
class TableWriter {
 public:
  explicit TableWriter(const SampleTable& table) : writer_(TableDefinitionOf(table)) {}

  // The generator's steps report as bool with the text in `*error`.
  [[nodiscard]] bool Open(const std::string& path, std::string* error) { return Reported(writer_.Open(path), error); }
  TableWriter& Text(std::string_view value) {
    if (value.empty()) return Null();
    writer_.Text(value);
    return *this;
  }
  TableWriter& Int(int64_t value) {
    writer_.Integer(value);
    return *this;
  }
  // A day amount or money: whole values are stored as integers (1, not 1.0).
  TableWriter& Amount(double value) {
    const double rounded = std::round(value * 100.0) / 100.0;
    if (rounded == std::floor(rounded) && std::fabs(rounded) < 1e15) return Int(static_cast<int64_t>(rounded));
    writer_.Real(rounded);
    return *this;
  }
  TableWriter& Date(int64_t days) { return Text(Iso(days)); }
  TableWriter& Null() {
    writer_.Null();
    return *this;
  }
  TableWriter& Nulls(int count) {
    for (int i = 0; i < count; ++i) Null();
    return *this;
  }
  [[nodiscard]] bool Row(std::string* error) { return Reported(writer_.Row(), error); }
  [[nodiscard]] bool Finish(std::string* error) { return Reported(writer_.Finish(), error); }
  int64_t rows() const { return writer_.rows(); }

 private:
  static bool Reported(const engine::Status& status, std::string* error) {
    if (!status.ok()) *error = status.text();
    return status.ok();
  }

  engine::TableFileWriter writer_;
};

// ---- the people and their data --------------------------------------------------

const std::vector<std::string> kGivenNames = {"AH KOW", "MEI LING", "SITI", "RAJESH", "WEI MING", "NUR AINI",
                                              "KUMAR", "HUI MIN", "JOHN", "PRIYA", "AHMAD", "XIN YI"};
const std::vector<std::string> kSurnames = {"TAN", "LIM", "LEE", "NG", "WONG", "GOH", "CHUA",
                                            "BINTE ISMAIL", "KRISHNAN", "ONG", "SMITH", "PEREIRA"};
const std::vector<std::string> kPayTypes = {"SE", "SN", "S", "D", "H", "M", "", "s", "DX", "HR"};
const std::vector<std::string> kLevies = {"CLASS1", "PR", "NONE", "WP", "PRX", "CLASS1A", ""};
const std::vector<std::string> kNationalCodes = {"SG", "MY", "CN", "IN", "PH", "XX"};
const std::vector<std::string> kRaces = {"C", "M", "I", "O", "E"};
const std::vector<std::string> kDepartments = {"FIN", "HR", "OPS", "IT", "SALES"};
const std::vector<std::string> kAllowances = {"TRANS", "MEAL", "HOUSE", "SHIFT"};
const std::vector<std::string> kLeaveCodes = {"AL", "MC", "CL", "NPL", "HL", "UL"};
const std::vector<std::string> kShifts = {"S1", "S2", "S3", "X9", ""};
const std::vector<std::string> kRemarks = {"", "Family matters", "Medical appointment, clinic", "Overseas trip",
                                           ""};

// The first employees take their categorical values in turn, so that even a
// database of a few dozen employees holds every pay type, levy class and
// termination case; the rest are drawn at random.
constexpr int kCyclicEmployees = 70;

enum class Termination { kNone, kLongAgo, kFirstOfMonth, kLastOfPreviousMonth, kLaterThisMonth, kFuture };
const std::vector<Termination> kTerminations = {Termination::kNone,           Termination::kLongAgo,
                                                Termination::kNone,           Termination::kFirstOfMonth,
                                                Termination::kNone,           Termination::kLastOfPreviousMonth,
                                                Termination::kLaterThisMonth, Termination::kFuture};

struct Employee {
  std::string emp_no;
  std::string name;
  std::string pay_type;
  int64_t join = 0;
  bool current = false;
  int index = 0;
};

// The work code of an employee's calendar day: weekdays are full days,
// Saturdays half days, Sundays rest days; a few weekdays are public holidays
// and, rarely, a lower-case "f" (not a working day for the exports).
std::string WorkCode(int employee, int64_t day) {
  const int w = Weekday(day);
  if (w == 6) return "R";
  if (w == 5) return "H";
  if (day % 29 == 0) return "PH";
  if ((day + employee) % 61 == 0) return "f";
  return "F";
}

int Units(const std::string& work_code) {
  if (work_code == "F") return 2;  // in half days
  if (work_code == "H") return 1;
  return 0;
}

struct Writers;

class Generator {
 public:
  Generator(const SampleOptions& options, const std::vector<SampleTable>& tables)
      : options_(options), tables_(tables), random_(options.seed) {
    today_ = DaysFromCivil(options.today);
    const CivilDate t = options.today;
    month_start_ = DaysFromCivil(CivilDate{t.year, t.month, 1});
  }

  bool Run(const std::string& folder, SampleSummary* summary, std::string* error);

 private:
  using W = TableWriter;
  // The termination day of employee `i`, -1 for none.
  int64_t TerminationDay(int i);
  bool WriteEmployees(W& emp, W& pros, W& alw, W& employmt, W& misc, W& leave, W& trx, W& cld, std::string* error);
  bool WriteCareer(W& pros, const Employee& e, std::string* error);
  bool WriteAllowances(W& alw, const Employee& e, std::string* error);
  bool WriteLeaves(W& leave, W& trx, W& cld, const Employee& e, std::string* error);
  bool WriteLeave(W& leave, W& trx, W& cld, const Employee& e, int64_t start, int profile, std::string* error,
                  int64_t* end);
  bool WriteTemplate(W& w, std::string* error);
  bool WriteCodes(W& w, std::string* error);
  bool WriteParameters(W& w, std::string* error);
  bool WriteShifts(W& w, std::string* error);

  template <typename T>
  const T& Choose(const std::vector<T>& items, int index, int offset) {
    if (index < kCyclicEmployees) return items[(index + offset) % items.size()];
    return random_.Pick(items);
  }

  const SampleOptions& options_;
  const std::vector<SampleTable>& tables_;
  Random random_;
  int64_t today_ = 0;
  int64_t month_start_ = 0;
  int64_t next_leave_id_ = 1;
  int64_t next_career_id_ = 1;
  int64_t next_selected_leave_ = 0;
  SampleSummary* summary_ = nullptr;
};

bool Generator::WriteTemplate(W& w, std::string* error) {
  struct Row {
    const char* section;
    const char* field;
    const char* table;
    const char* category;
    const char* map;
    const char* value;
    const char* format;
    const char* delimiter;
    int size;
  };
  // A realistic record: delimited fields first, then a fixed-width block.
  const std::vector<Row> rows = {
      {"KDX", "emp_no", "", "", "", "", "", ",", 0},
      {"KDX", "DUMMY", "", "", "", "", "", ",", 0},
      {"KDX", "COMPANY", "", "", "", "", "", ",", 0},
      {"KDX", "CADDR1", "", "", "", "", "", ",", 0},
      {"KDX", "CPOSTAL_CODE", "", "", "", "", "", ",", 0},
      {"KDX", "DATE", "", "", "", "", "DD/MM/YYYY", ",", 0},
      {"KDX", "FIXED", "", "", "", "KDX01", "", ",", 0},
      {"KDX", "emp_name", "", "", "", "", "", ",", 0},
      {"KDX", "NEW_IC", "", "", "", "", "", ",", 0},
      {"KDX", "TEL_EXT", "", "", "", "", "", ",", 0},
      {"KDX", "PAY_TYPE", "", "", "", "", "", ",", 0},
      {"KDX", "national_code", "", "NAT", "", "", "", ",", 0},
      {"KDX", "race", "", "RAC", "", "", "", ",", 0},
      {"KDX", "ALLOW_CODE", "", "", "TRANS", "", "", ",", 0},
      {"KDX", "ALLOW_CODE", "", "", "MEAL", "", "", ",", 0},
      {"KDX", "ALLOW_CODE", "", "", "HOUSE", "", "", ",", 0},
      {"KDX", "SOC_NO", "", "", "", "", "", ",", 0},
      {"KDX", "SOC_EXPIRY_DATE", "", "", "", "", "", ",", 0},
      {"KDX", "RES_TYPE", "", "", "", "", "", ",", 0},
      {"KDX", "RES_DOC_NO", "", "", "", "", "", ",", 0},
      {"KDX", "RES_DURATION", "", "", "", "", "", ",", 0},
      {"KDX", "RES_EXPIRY_DATE", "", "", "", "", "", ",", 0},
      {"KDX", "PAY_EFFECTIVE_DATE", "", "", "", "", "", ",", 0},
      {"KDX", "OLD_SALARY", "", "", "", "", "", ",", 0},
      {"KDX", "NEW_SALARY", "", "", "", "", "", ",", 0},
      {"KDX", "BANK_ACNO", "EMPMISC", "", "", "", "", ",", 0},
      {"KDX", "BLOOD_GROUP", "EMPMISC", "", "", "", "", ",", 0},
      {"KDX", "JOIN_DATE", "EMPLOYMT", "", "", "", "", ",", 0},
      {"KDX", "DESIGNATION", "EMPLOYMT", "", "", "", "", ",", 0},
      {"KDX", "NRIC_NO", "FORMULA", "", "", "", "", ",", 0},
      {"KDX", "FIN_NO", "FORMULA", "", "", "", "", ",", 0},
      {"KDX", "PR_NO", "FORMULA", "", "", "", "", ",", 0},
      {"KDX", "PR", "FORMULA", "", "", "", "", ",", 0},
      {"KDX", "birth_date", "", "", "", "", "", ",", 0},
      {"KDX", "HRS_WORK_PERYEAR", "", "", "", "", "", ",", 0},
      {"KDX", "DATE", "", "", "", "", "DDMMYYYY", "F", 8},
      {"KDX", "FIXED", "", "", "", "END", "", "F", 5},
      {"KDX", "emp_name", "", "", "", "", "", "F", 20},
      {"KDX", "sex", "", "", "", "", "", "F", 1},
      {"KDX", "department", "", "DEP", "", "", "", "F", 12},
      {"KDX", "DUMMY", "", "", "", "", "", "F", 4},
      // Another interface's section in the same table: never read by the export.
      {"PAY", "emp_no", "", "", "", "", "", ";", 0},
      {"PAY", "BASIC_PAY", "", "", "", "", "", ";", 0},
  };
  int no = 0;
  std::string last_section;
  // Written out of order on purpose: the export orders by SECTION;NO itself.
  std::vector<std::pair<int, const Row*>> numbered;
  for (const Row& row : rows) {
    if (row.section != last_section) no = 0;
    last_section = row.section;
    numbered.emplace_back(no += 10, &row);
  }
  std::reverse(numbered.begin(), numbered.end());
  for (const auto& [n, row] : numbered) {
    w.Text(row->section).Int(n).Text(row->field).Text(row->table).Text(row->category).Text(row->map);
    w.Text(row->value).Text(row->format).Text(row->delimiter).Int(row->size);
    if (!w.Row(error)) return false;
  }
  return true;
}

bool Generator::WriteCodes(W& w, std::string* error) {
  struct Code {
    const char* category;
    const char* code;
    const char* desc;
    const char* map;
    const char* long_desc;
  };
  const std::vector<Code> codes = {
      {"NAT", "SG", "SINGAPOREAN", "", ""},
      {"NAT", "MY", "MALAYSIAN", "", ""},
      {"NAT", "CN", "CHINESE", "", ""},
      {"NAT", "IN", "INDIAN", "", ""},
      {"NAT", "PH", "FILIPINO", "", ""},
      {"RAC", "C", "CHINESE", "", ""},
      {"RAC", "M", "MALAY", "", ""},
      {"RAC", "I", "INDIAN", "", ""},
      {"RAC", "O", "OTHERS", "", ""},
      {"DEP", "FIN", "FINANCE", "", ""},
      {"DEP", "HR", "HUMAN RESOURCE", "", ""},
      {"DEP", "OPS", "OPERATIONS", "", ""},
      {"DEP", "IT", "INFORMATION TECHNOLOGY", "", ""},
      {"DEP", "SALES", "SALES", "", ""},
      {"LEA", "AL", "ANNUAL LEAVE", "ANL", "Annual leave"},
      {"LEA", "MC", "MEDICAL LEAVE", "SCK", "Medical leave, outpatient"},
      {"LEA", "CL", "CHILDCARE LEAVE", "CCL", "Government-paid childcare leave"},
      {"LEA", "NPL", "NO PAY LEAVE", "NPL", "No-pay leave"},
      {"LEA", "HL", "HOSPITALISATION", "HOS", "Hospitalisation leave"},
      // UL (unpaid, unrecorded) has no LEA row: such leave is not in the CSV.
  };
  for (const Code& c : codes) {
    w.Text(c.category).Text(c.code).Text(c.desc).Text(c.map).Text(c.long_desc);
    if (!w.Row(error)) return false;
  }
  return true;
}

bool Generator::WriteParameters(W& w, std::string* error) {
  const int year = options_.today.year;
  for (int y = year - 2; y <= year; ++y) {
    w.Int(y).Text(y == year ? "KORVAL PTE LTD" : "KORVAL PRIVATE LIMITED");
    w.Text("10 Anson Road, #20-01").Text("International Plaza").Text(y == year ? "" : "SINGAPORE");
    w.Text("079903").Amount(y == year ? 17 : 16.5);
    if (!w.Row(error)) return false;
  }
  return true;
}

bool Generator::WriteShifts(W& w, std::string* error) {
  struct Shift {
    const char* shift;
    const char* am_pm;
    const char* in;
    const char* out;
    const char* desc;
  };
  const std::vector<Shift> shifts = {{"S1", "AM", "1899-12-30 08:30:00", "12:30:00", "Morning"},
                                     {"S2", "PM", "1899-12-30 13:30:00", "17:30:00", "Afternoon"},
                                     {"S3", "", "1899-12-30 08:30:00", "17:30:00", "Office day"},
                                     {"N1", "PM", "1899-12-30 22:00:00", "06:00:00", "Night"}};
  for (const Shift& s : shifts) {
    w.Text(s.shift).Text(s.am_pm).Text(s.in).Text(s.out).Text(s.desc);
    if (!w.Row(error)) return false;
  }
  return true;
}

bool Generator::WriteCareer(W& pros, const Employee& e, std::string* error) {
  if (e.index % 5 == 4) return true;  // no career row at all
  const bool daily = !e.pay_type.empty() && e.pay_type[0] == 'D';
  const bool hourly = !e.pay_type.empty() && e.pay_type[0] == 'H';
  double salary = daily ? random_.Between(60, 250) : hourly ? random_.Between(8, 40) + 0.5 * random_.Between(0, 1)
                                                            : random_.Between(20, 90) * 100.0;
  std::vector<int64_t> dates = {e.join};
  for (int64_t d = e.join + 365; d < today_ && dates.size() < 4; d += 365) dates.push_back(d);
  if (e.index % 7 == 0) dates.push_back(today_);                             // in force from today
  if (e.index % 4 == 1) dates.push_back(today_ + random_.Between(20, 200));  // not yet in force
  if (e.index % 11 == 0) dates.push_back(dates.back());                      // same day: ID decides
  double old_salary = 0;
  int step = 0;
  for (int64_t date : dates) {
    const double increment = step == 0 ? 0 : salary * random_.Between(2, 8) / 100.0;
    const double new_salary = std::round((old_salary + (step == 0 ? salary : increment)) * 100) / 100;
    pros.Text(e.emp_no).Date(date).Int(next_career_id_++).Text(step == 0 ? "HIRE" : "INCR").Date(date);
    pros.Text("CC" + std::to_string(e.index % 9)).Text(Choose(kDepartments, e.index, 1)).Text("STAFF");
    pros.Text("OCC1").Text("SEC1").Text("AL").Amount(old_salary).Amount(increment).Amount(new_salary);
    pros.Text(step == 0 ? "New hire" : "Annual increment").Null();
    pros.Nulls(6).Date(date + 365).Amount(new_salary);  // NVC .. NVCMAX, NEXT_INCR_DATE, GROSS_PAY
    pros.Text("SC1").Text("N").Text("N").Null().Null().Null().Null().Null().Null();  // .. INCRE_REVIEW_DATE
    pros.Text("KORVAL").Nulls(4).Null().Text("M").Null().Int(step);  // COMPANY .. STEP
    pros.Null().Text("G" + std::to_string(e.index % 5)).Null().Null().Text("G1").Null().Int(step + 1);
    pros.Text("GRP").Null().Null().Null().Null().Null().Text("ACTIVE");
    if (!pros.Row(error)) return false;
    old_salary = new_salary;
    ++step;
  }
  return true;
}

bool Generator::WriteAllowances(W& alw, const Employee& e, std::string* error) {
  const CivilDate t = options_.today;
  const int64_t period = t.year * 100 + t.month;
  const int kinds = e.index < kCyclicEmployees ? 2 : random_.Between(0, 3);
  for (int k = 0; k < kinds; ++k) {
    const int kind = e.index < kCyclicEmployees ? (e.index * 2 + k) % 7 : random_.Between(0, 6);
    const std::string& code = e.index < kCyclicEmployees ? kAllowances[(e.index + k) % 3] : random_.Pick(kAllowances);
    const double amount = random_.Between(5, 60) * 5.0 + (k == 1 ? 0.5 : 0);
    alw.Text(e.emp_no).Text(code);
    switch (kind) {
      case 0:  // in effect since a past month, open-ended
        alw.Date(month_start_ - random_.Between(1, 700)).Null().Int(0).Int(0);
        break;
      case 1:  // ended before this month
        alw.Date(month_start_ - 400).Date(month_start_ - random_.Between(1, 60)).Int(0).Int(0);
        break;
      case 2:  // starts after this month
        alw.Date(month_start_ + 62).Null().Int(0).Int(0);
        break;
      case 3:  // no dates and no window: always in effect
        alw.Null().Null().Int(0).Int(0);
        break;
      case 4: {  // no dates; a YYYYMM window around this month
        const int64_t from = (t.month == 1 ? (t.year - 1) * 100 + 12 : period - 1);
        alw.Null().Null().Int(from).Int(period + (t.month == 12 ? 89 : 1));
        break;
      }
      case 5:  // no dates; a YYYYMM window in the past
        alw.Null().Null().Int((t.year - 2) * 100 + 1).Int((t.year - 2) * 100 + 12);
        break;
      default:  // effective this very month, ending this month
        alw.Date(month_start_ + 14).Date(month_start_ + 20).Int(0).Int(0);
        break;
    }
    alw.Amount(amount);
    if (!alw.Row(error)) return false;
  }
  return true;
}

// Leave profiles: bit 0 modified today; above it shape + kShapes x approval,
// the approval an index into kApprovals.
enum LeaveShape { kOneDay = 0, kOneDayWithDays, kSeveralDays, kSeveralDaysWithDays, kSeveralDaysWithShifts };
constexpr int kShapes = 5;
const std::vector<std::string> kApprovals = {"Y", "Z", "Y", "Z", "N", ""};

// Whether the leave-day export of the generation day selects a leave of this
// profile (for an employee in the employee table).
bool SelectedProfile(int profile) {
  const std::string& approved = kApprovals[(profile >> 1) / kShapes % kApprovals.size()];
  return (profile & 1) && (approved == "Y" || approved == "Z");
}

// The profile of the n-th leave record of SampleOptions::selected_leaves:
// even ones split into day transactions, odd ones without, each kind going
// through its shapes in turn; approval Y for six records, then Z for six.
int ProfileOfSelectedLeave(int64_t n) {
  static constexpr LeaveShape kSplit[] = {kOneDayWithDays, kSeveralDaysWithDays, kSeveralDaysWithShifts};
  static constexpr LeaveShape kWalked[] = {kSeveralDays, kOneDay, kSeveralDays};
  const int64_t turn = (n / 2) % 3;
  const int shape = n % 2 == 0 ? kSplit[turn] : kWalked[turn];
  const int approval = static_cast<int>((n / 6) % 2);  // kApprovals: "Y", then "Z"
  return 1 | ((shape + kShapes * approval) << 1);
}

bool Generator::WriteLeave(W& leave, W& trx, W& cld, const Employee& e, int64_t start, int profile,
                           std::string* error, int64_t* end_out) {
  const bool today = profile & 1;
  const int shape = (profile >> 1) % kShapes;
  const std::string& approved = kApprovals[(profile >> 1) / kShapes % kApprovals.size()];
  const std::string& code = e.index < kCyclicEmployees ? kLeaveCodes[profile % kLeaveCodes.size()]
                                                       : random_.Pick(kLeaveCodes);
  // Every leave starts on a full working day.
  while (WorkCode(e.index, start) != "F") ++start;
  const bool one_day = shape == kOneDay || shape == kOneDayWithDays;
  const int64_t end = one_day ? start : start + random_.Between(1, 9);
  const bool half = one_day && random_.Percent(30);
  const int64_t id = next_leave_id_++;

  // The calendar covers every day of the leave.
  int half_days = 0;
  for (int64_t d = start; d <= end; ++d) {
    const std::string wc = WorkCode(e.index, d);
    half_days += Units(wc);
    cld.Text(e.emp_no).Date(d).Text(wc);
    if (!cld.Row(error)) return false;
  }
  double total = one_day ? (half ? 0.5 : 1.0) : half_days / 2.0;

  if (shape == kOneDayWithDays) {
    trx.Int(id).Text(e.emp_no).Text(code).Date(start).Amount(total).Text("Y").Text(random_.Percent(50) ? "S1" : "");
    if (!trx.Row(error)) return false;
  } else if (shape == kSeveralDaysWithDays || shape == kSeveralDaysWithShifts) {
    total = 0;
    int n = 0;
    for (int64_t d = start; d <= end; ++d) {
      const int units = Units(WorkCode(e.index, d));
      if (units == 0) continue;
      const double amount = (units == 2 && random_.Percent(15)) ? 0.5 : units / 2.0;
      total += amount;
      const std::string shift = shape == kSeveralDaysWithShifts ? kShifts[(n + e.index) % kShifts.size()] : "";
      trx.Int(id).Text(e.emp_no).Text(code).Date(d).Amount(amount).Text("Y").Text(shift);
      if (!trx.Row(error)) return false;
      ++n;
    }
  }

  const bool is_approved = approved == "Y" || approved == "Z";
  const int64_t modified = today ? today_ : std::min(today_ - 1, start - random_.Between(1, 20));
  // A few leaves are approved today after an earlier modification.
  const int64_t approved_on = (!today && random_.Percent(10)) ? today_ : modified;
  leave.Text(e.emp_no).Int(id).Text(code).Date(start).Date(end).Amount(total);
  leave.Text(half ? (random_.Percent(50) ? "AM" : "PM") : "").Date(modified);
  if (is_approved) {
    leave.Date(approved_on);
  } else {
    leave.Null();
  }
  leave.Text(approved).Text(random_.Pick(kRemarks)).Text(e.name);
  if (half) {
    leave.Text("08:30:00").Text("12:30:00");
  } else {
    leave.Null().Null();
  }
  if (!leave.Row(error)) return false;
  if (is_approved && today && e.index >= 0) ++summary_->leaves_modified_today;
  *end_out = end;
  return true;
}

bool Generator::WriteLeaves(W& leave, W& trx, W& cld, const Employee& e, std::string* error) {
  // The first employees take one leave of every profile in turn; the others
  // have none (three in four) or one to three at random.
  const int profiles = 2 * kShapes * 6;
  int count = 0;
  if (e.index < profiles) {
    count = 1;
  } else if (random_.Percent(25)) {
    count = random_.Between(1, 3);
  }
  int64_t cursor = today_ - random_.Between(10, 45);
  const bool fixed_selection = options_.selected_leaves >= 0;
  for (int k = 0; k < count; ++k) {
    int profile = e.index < profiles && k == 0 ? e.index : random_.Between(0, profiles - 1);
    // About a third of the random leave is modified today.
    if (e.index >= profiles) profile = (profile & ~1) | (random_.Percent(35) ? 1 : 0);
    // With a fixed number of selected records, the employee's own leave that
    // would be selected is modified before the generation day instead.
    if (fixed_selection && SelectedProfile(profile)) profile &= ~1;
    int64_t end = 0;
    if (!WriteLeave(leave, trx, cld, e, cursor, profile, error, &end)) return false;
    cursor = end + random_.Between(2, 12);
  }
  if (fixed_selection) {
    // Employee i takes the i-th share of the selected records; the first
    // ones take one more when they do not divide evenly.
    const int64_t employees = options_.employees;
    const int64_t total = options_.selected_leaves;
    const int64_t share = total / employees + (e.index < total % employees ? 1 : 0);
    for (int64_t k = 0; k < share; ++k) {
      int64_t end = 0;
      if (!WriteLeave(leave, trx, cld, e, cursor, ProfileOfSelectedLeave(next_selected_leave_++), error, &end)) {
        return false;
      }
      cursor = end + random_.Between(2, 12);
    }
  }
  return true;
}

int64_t Generator::TerminationDay(int i) {
  const Termination term = i < kCyclicEmployees ? kTerminations[i % kTerminations.size()]
                           : random_.Percent(80) ? Termination::kNone
                                                 : kTerminations[random_.Between(1, 5)];
  switch (term) {
    case Termination::kNone: break;
    case Termination::kLongAgo: return month_start_ - random_.Between(40, 900);
    case Termination::kFirstOfMonth: return month_start_;
    case Termination::kLastOfPreviousMonth: return month_start_ - 1;
    case Termination::kLaterThisMonth: return month_start_ + random_.Between(1, 27);
    case Termination::kFuture: return today_ + random_.Between(30, 300);
  }
  return -1;
}

bool Generator::WriteEmployees(W& emp, W& pros, W& alw, W& employmt, W& misc, W& leave, W& trx, W& cld,
                               std::string* error) {
  for (int i = 0; i < options_.employees; ++i) {
    Employee e;
    e.index = i;
    e.emp_no = fmt::format("E{:06d}", i + 1);
    const std::string& given = Choose(kGivenNames, i, 0);
    const std::string& surname = Choose(kSurnames, i, 3);
    e.name = (i % 20 == 7) ? surname + ", " + given : surname + " " + given;
    e.pay_type = Choose(kPayTypes, i, 0);
    const std::string& levy = Choose(kLevies, i, 0);
    const bool work_permit = levy != "PR" && levy != "CLASS1" && levy != "NONE";
    const char ic_prefix = "STFGs"[i < kCyclicEmployees ? i % 5 : random_.Between(0, 4)];
    const std::string ic = fmt::format("{}{:07d}{}", ic_prefix, (i * 7919 + 1234567) % 10000000,
                                       static_cast<char>('A' + i % 26));
    e.join = today_ - random_.Between(30, 7000);

    const int64_t termination = TerminationDay(i);
    if (termination >= 0 && termination <= e.join) e.join = termination - random_.Between(30, 900);
    e.current = termination < 0 || termination >= month_start_;
    if (e.current) ++summary_->current_employees;

    emp.Text(e.emp_no).Text(e.name).Text(ic).Text(i % 2 ? "F" : "M").Date(today_ - random_.Between(7300, 22000));
    emp.Text(Choose(kRaces, i, 1)).Text(Choose(kNationalCodes, i, 2)).Text(Choose(kDepartments, i, 0));
    emp.Text(e.pay_type).Amount(std::vector<double>{2080, 2288, 2400, 1976.5}[i % 4]).Text(levy);
    emp.Text(i % 9 == 3 ? "" : fmt::format("T{:08d}", i * 31 % 100000000));
    emp.Text(i % 6 == 5 ? "" : fmt::format("CPF{:07d}", i + 1));
    emp.Int(work_permit ? std::vector<int>{12, 24, 36, 0}[i % 4] : 0);
    if (work_permit ? i % 4 != 2 : i % 10 == 0) {
      emp.Date(today_ + random_.Between(-30, 900));
    } else {
      emp.Null();
    }
    emp.Int(i % 3 == 0 ? 0 : 100 + i % 900);
    if (termination >= 0) {
      emp.Date(termination);
    } else {
      emp.Null();
    }
    emp.Text(fmt::format("B{:02d}", i % 12)).Text(fmt::format("{}@korval.example", e.emp_no));
    emp.Int(i % 8 != 0).Amount(random_.Between(150, 900) * 10.0);
    emp.Text(fmt::format("{} 0{}:{:02d}:{:02d}", Iso(today_ - i % 400), i % 10, i % 60, (i * 7) % 60));
    emp.Text(i % 50 == 1 ? "Transferred from the Johor branch.\nKeeps the old leave balance." : "");
    if (!emp.Row(error)) return false;

    employmt.Text(e.emp_no).Date(e.join).Date(e.join + 90);
    employmt.Text(std::vector<std::string>{"CLERK", "ENGINEER", "MANAGER", "TECHNICIAN, SENIOR"}[i % 4]);
    employmt.Text(i % 3 ? "PERM" : "CONT").Text(fmt::format("G{}", i % 6));
    if (!employmt.Row(error)) return false;

    misc.Text(e.emp_no).Text(std::vector<std::string>{"DBS", "OCBC", "UOB"}[i % 3]);
    misc.Text(fmt::format("{:03d}-{:06d}-{}", i % 1000, (i * 37) % 1000000, i % 10));
    misc.Text(std::vector<std::string>{"A+", "B+", "O+", "AB-", ""}[i % 5]).Text(i % 4 ? "BUDDHIST" : "");
    misc.Text(i % 3 ? "" : "SPOUSE OF " + e.name);
    if (!misc.Row(error)) return false;

    if (!WriteCareer(pros, e, error) || !WriteAllowances(alw, e, error) ||
        !WriteLeaves(leave, trx, cld, e, error)) {
      return false;
    }
  }
  // Leave of people who are not (or no longer) in the employee table.
  for (int k = 0; k < 2; ++k) {
    Employee ghost;
    ghost.index = -1;
    ghost.emp_no = fmt::format("X{:06d}", k + 1);
    ghost.name = "FORMER CONTRACTOR";
    int64_t end = 0;
    if (!WriteLeave(leave, trx, cld, ghost, today_ - 3, 1, error, &end)) return false;
  }
  return true;
}

bool Generator::Run(const std::string& folder, SampleSummary* summary, std::string* error) {
  summary_ = summary;
  std::vector<std::unique_ptr<TableWriter>> writers;
  for (const SampleTable& table : tables_) {
    writers.push_back(std::make_unique<TableWriter>(table));
    if (!writers.back()->Open((fs::path(folder) / table.file_name).string(), error)) return false;
  }
  auto w = [&](const char* name) -> TableWriter& {
    for (size_t i = 0; i < tables_.size(); ++i) {
      if (tables_[i].name == name) return *writers[i];
    }
    std::abort();  // a name of this file's own table list: cannot miss
  };
  if (!WriteTemplate(w("export"), error) || !WriteCodes(w("CODE"), error) || !WriteParameters(w("PAYPARA1"), error) ||
      !WriteShifts(w("LV_PAYGRP_SHIFT"), error) ||
      !WriteEmployees(w("employee"), w("EMP_PROS"), w("EMP_ALW"), w("EMPLOYMT"), w("EMPMISC"), w("empleave"),
                      w("LEAV_TRX"), w("EMP_CLD"), error)) {
    return false;
  }
  for (size_t i = 0; i < tables_.size(); ++i) {
    if (!writers[i]->Finish(error)) return false;
    summary->rows.emplace_back(tables_[i].name, writers[i]->rows());
  }
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

const std::vector<SampleTable>& SampleTables() {
  static const std::vector<SampleTable> tables = BuildTables();
  return tables;
}

engine::TableDefinition TableDefinitionOf(const SampleTable& table) { return {table.name, table.columns, table.indexes}; }

std::string CreateTableSql(const SampleTable& table) { return engine::CreateTableSql(TableDefinitionOf(table)); }

bool GenerateSampleDatabase(const std::string& folder, const SampleOptions& options, SampleSummary* summary,
                            std::string* error) {
  if (options.employees < 0) {
    *error = fmt::format("--employees must be 0 or more, not {}", options.employees);
    return false;
  }
  if (options.selected_leaves > 0 &&
      options.selected_leaves > kMaxSelectedLeavesPerEmployee * static_cast<int64_t>(options.employees)) {
    const int64_t needed =
        (options.selected_leaves + kMaxSelectedLeavesPerEmployee - 1) / kMaxSelectedLeavesPerEmployee;
    *error = fmt::format("--leaves {} needs at least {} {} ({} selected leave records each at most), not {}",
                         options.selected_leaves, needed, needed == 1 ? "employee" : "employees",
                         kMaxSelectedLeavesPerEmployee, options.employees);
    return false;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) {
    *error = fmt::format("Cannot create the folder {}: {}", folder, ec ? ec.message() : "not a folder");
    return false;
  }
  const std::vector<SampleTable>& tables = SampleTables();
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = Lower(entry.path().filename().string());
    for (const SampleTable& table : tables) {
      if (name == Lower(table.file_name) || name == Lower(table.name)) {
        *error = fmt::format("The folder {} already holds a table {} ({}); generate into an empty folder",
                             folder, table.name, entry.path().filename().string());
        return false;
      }
    }
  }
  if (ec) {
    *error = fmt::format("Cannot list the folder {}: {}", folder, ec.message());
    return false;
  }

  SampleSummary local;
  Generator generator(options, tables);
  bool ok = generator.Run(folder, &local, error);
  if (ok && options.sealed) {
    for (const SampleTable& table : tables) {
      if (!table.sealed) continue;
      if (const engine::Status sealed = SealFile((fs::path(folder) / table.file_name).string(), kSampleTablePassword);
          !sealed.ok()) {
        *error = fmt::format("Table {}: cannot seal it: {}", table.name, sealed.text());
        ok = false;
        break;
      }
    }
  }
  if (!ok) {
    // Remove every table of this run, so that no half-written table is left.
    for (const SampleTable& table : tables) fs::remove(fs::path(folder) / table.file_name, ec);
    return false;
  }
  *summary = std::move(local);
  return true;
}

bool GenerateSampleDictionary(const std::string& dictionary_path, const SampleOptions& options,
                              const std::string& user, const std::string& password, SampleSummary* summary,
                              std::string* error) {
  std::error_code ec;
  if (fs::exists(dictionary_path, ec)) {
    *error = fmt::format("The dictionary {} exists already; choose a new file name", dictionary_path);
    return false;
  }
  // The tables are written as free tables first, then copied in.
  const fs::path staging = dictionary_path + ".tables";
  if (fs::exists(staging, ec)) {
    *error = fmt::format("The folder {} is in the way; remove it first", staging.string());
    return false;
  }
  SampleOptions plain = options;
  plain.sealed = false;
  SampleSummary local;
  bool ok = GenerateSampleDatabase(staging.string(), plain, &local, error);
  if (ok) {
    std::vector<engine::TableSource> sources;
    for (const SampleTable& table : SampleTables()) {
      sources.push_back({TableDefinitionOf(table), (staging / table.file_name).string()});
    }
    const engine::Status built = engine::BuildDictionary(dictionary_path, sources, user, password);
    if (!built.ok()) *error = built.text();
    ok = built.ok();
  }
  fs::remove_all(staging, ec);
  if (!ok) {
    fs::remove(dictionary_path, ec);
    return false;
  }
  *summary = std::move(local);
  return true;
}
