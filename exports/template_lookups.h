// What the employee export's template asks of the lookup tables, and naming
// those tables to be read in windows (lookup_tables.h). Called by the run
// once, after its set-up and before its first record; the windows belong to
// the run's LookupMemo.
#ifndef KDX_EXPORTS_TEMPLATE_LOOKUPS_H_
#define KDX_EXPORTS_TEMPLATE_LOOKUPS_H_

#include <string>
#include <vector>

class EmployeeExportContext;

// What a template asks of the lookup tables; names and codes as its rows
// spell them, each once.
struct LookupNeeds {
  std::vector<std::string> employment_columns;  // TABLE "EMPLOYMT"
  std::vector<std::string> misc_columns;        // TABLE "EMPMISC"
  bool career = false;                          // any career field
  std::vector<std::string> career_columns;      // "OLD_SALARY", "NEW_SALARY"
  std::vector<std::string> allowance_codes;     // MAPFIELD2 of ALLOW_CODE rows
};

// Reads the rows of the open template query by the run's own rules, then
// names the lookup tables they need to ctx.lookups().tables(). A template
// row that cannot be read leaves every table to be read row by row: the run
// raises that row's error where it reads the row for a record. Moves the
// template query's cursor; reads no lookup rows yet.
void ReadLookupTablesAhead(EmployeeExportContext& ctx);

#endif  // KDX_EXPORTS_TEMPLATE_LOOKUPS_H_
