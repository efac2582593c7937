// The sample HR database behind `kdx-db sample`: a folder of free tables that
// takes every path of the three exports (every pay type and levy class,
// current and terminated employees, allowances in and out of effect, career
// rows before and after the run, leave with and without day transactions,
// one-day and multi-day, a working calendar with full, half and rest days,
// shifts that exist and shifts that do not).
//
// Guarantees:
//  - the same seed, employee count and generation day give the same data,
//    byte for byte in every column; dates are laid out relative to the
//    generation day, so a database generated today is "current" today;
//  - every table satisfies the storage contract (one table per file, named
//    like the file, declared types from the engine's list, dates as
//    'YYYY-MM-DD', texts without trailing blanks);
//  - the data satisfies what the exports rely on: every employee has an
//    EMPLOYMT.ADT and an EMPMISC.ADT row, every SE/SN employee a non-zero
//    HRS_WORK_PERYEAR, and the LEAV_TRX rows of a leave add up to its DAY;
//    the calendar has a row for every day of every leave, and a leave walked
//    over the calendar has a DAY equal to its working days;
//  - on failure the folder holds no half-written table: the tables written so
//    far are removed and the error names the table.
#ifndef KDX_TOOLS_SAMPLE_DATABASE_H_
#define KDX_TOOLS_SAMPLE_DATABASE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage.h"

// A calendar date of the proleptic Gregorian calendar.
struct CivilDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// Days since 1 January 1970 and back.
int64_t DaysFromCivil(const CivilDate& date);
CivilDate CivilFromDays(int64_t days);
// "YYYY-MM-DD".
std::string IsoDate(const CivilDate& date);
// The local date of today.
CivilDate LocalToday();

// The table password the HR application puts on its protected tables.
inline constexpr char kSampleTablePassword[] = "VARDE5816";

// A column (name, declared type as written in CREATE TABLE) and an index
// (name without the "<table>." prefix, segments in order, unique).
using SampleColumn = engine::ColumnDefinition;
using SampleIndex = engine::IndexDefinition;

struct SampleTable {
  std::string file_name;  // as written in the folder, e.g. "EMP_CLD.ADT"
  std::string name;       // the SQLite table name: file name without extension
  std::vector<SampleColumn> columns;
  std::vector<SampleIndex> indexes;
  bool sealed = false;  // carries the table password at a real site
};

// The tables the generator writes, in the order it writes them.
const std::vector<SampleTable>& SampleTables();

// The table as the engine creates it.
engine::TableDefinition TableDefinitionOf(const SampleTable& table);
// The statement creating a sample table: CREATE TABLE "name" ("column" TYPE,
// ...), names quoted as SQL identifiers (engine::CreateTableSql).
std::string CreateTableSql(const SampleTable& table);

struct SampleOptions {
  int employees = 1000;
  uint64_t seed = 1;
  // Seal the password-carrying tables with kSampleTablePassword.
  bool sealed = true;
  // The day of generation; every date is relative to it.
  CivilDate today = LocalToday();
  // 0 or more: exactly this many leave records are selected by the leave-day
  // export of the generation day (approved Y or Z, modified that day, of an
  // employee in the employee table), spread evenly over the employees and
  // each written after that employee's own leave. Every other one is split
  // into LEAV_TRX rows (one day, several days, several days with shifts, in
  // turn); the others have none and are walked over the calendar (several
  // days twice, then one day). The employees' own leave is still written,
  // none of it selected. At most kMaxSelectedLeavesPerEmployee per employee,
  // so that the dates stay within a few years of the generation day.
  // Negative (the default): only the employees' own leave, of which some is
  // selected; the output is then the same as without this option.
  int64_t selected_leaves = -1;
};

inline constexpr int64_t kMaxSelectedLeavesPerEmployee = 100;

struct SampleSummary {
  // Rows written per table, in the order of SampleTables().
  std::vector<std::pair<std::string, int64_t>> rows;
  int64_t current_employees = 0;   // selected by the employee export this month
  // Approved leave modified on the generation day of employees in the
  // employee table: the records the leave-day export selects.
  int64_t leaves_modified_today = 0;
};

// Writes the sample tables into `folder`, which is created when missing and
// must not already hold any file of one of the sample tables' names (compared
// without regard to case): nothing existing is ever overwritten. false with
// `*error` naming the folder or table on failure.
[[nodiscard]] bool GenerateSampleDatabase(const std::string& folder, const SampleOptions& options,
                            SampleSummary* summary, std::string* error);

// Writes the same tables as one dictionary file at `dictionary_path` (which
// must not exist): tables named without extension, index names prefixed with
// "<table>.", nothing sealed, and one account `user` with `password`. On
// failure nothing is left behind.
[[nodiscard]] bool GenerateSampleDictionary(const std::string& dictionary_path, const SampleOptions& options,
                              const std::string& user, const std::string& password, SampleSummary* summary,
                              std::string* error);

#endif  // KDX_TOOLS_SAMPLE_DATABASE_H_
