// The lookups and derivations behind the template's field kinds
// (TemplateFieldValue, employee_export.h): code descriptions, career values
// in force, allowances in effect, employment and miscellaneous columns,
// identity and residency values. Each works on the current employee of the
// run in `ctx` and may move the lookup tables' cursors; none restores a
// position.
#ifndef KDX_EXPORTS_EMPLOYEE_RESOLVERS_H_
#define KDX_EXPORTS_EMPLOYEE_RESOLVERS_H_

#include <cstdint>
#include <string>

#include "exports/employee_export.h"

// Description (`desc`) of the code in CODE.ADT, or "NONE" when there is none;
// read the first time the run asks for the pair and remembered for the run.
std::string CodeDescription(EmployeeExportContext& ctx, const std::string& category, const std::string& code);

// The value of a career column of the current employee in force on AsOfDate:
// "PAY_EFFECTIVE_DATE" as "DD/MM/YYYY"; "OLD_SALARY" and "NEW_SALARY"
// converted by the employee's pay type (SE/SN to an hourly figure, D to a
// daily one, H as it is, "0.00" each; other pay types the column text). An
// SE/SN employee whose HRS_WORK_PERYEAR is 0 or empty raises EZeroDivide.
// The career rows come from the tables read at the start of the run where
// those tell what a walk of the table would; otherwise from one walk of the
// employee's rows, which serves every career column.
std::string CareerValueAsOf(EmployeeExportContext& ctx, const std::string& column);

// The AMT ("0.00") of the employee's allowance `code` in effect for RunPeriod;
// the last such row in index order wins; "0.00" when none is in effect.
std::string AllowanceAmount(EmployeeExportContext& ctx, const std::string& code);

// Whether the current EMP_ALW row covers RunPeriod. With `effdate` set its
// window runs from the month of `effdate` to the month of `enddate`
// (December 2999 when empty). Without, START_MTH and END_MTH hold months as
// YYYYMM numbers, 0 meaning no bound on that side; a value that is neither 0
// nor a month YYYYMM raises an error naming the employee, the allowance code
// and the value.
bool AllowanceInEffect(EmployeeExportContext& ctx);

// The named column of the employee's EMPLOYMT.ADT / EMPMISC.ADT row, taken
// from the rows read at the start of the run, or sought (once per employee)
// where those cannot tell what a seek would find. No row: Exception
// "EMPLOYMT Unable to locate Employee : <emp_no>" (resp. EMPMISC).
std::string EmploymentValue(EmployeeExportContext& ctx, const std::string& column);
std::string MiscValue(EmployeeExportContext& ctx, const std::string& column);

// "NRIC_NO", "FIN_NO", "PR_NO" or "PR" derived from NEW_IC, INCOME_TAX_AC_NO
// and the beginning of FUND_LEVY; any other name gives an empty value.
std::string FormulaValue(EmployeeExportContext& ctx, const std::string& name);

// "RES_TYPE", "RES_DOC_NO", "RES_DURATION" or "RES_EXPIRY_DATE" by the whole
// FUND_LEVY text ("PR", "CLASS1", "NONE", anything else).
std::string ResidencyValue(EmployeeExportContext& ctx, const std::string& kind);

// year * 12 + month. Counted in 32 bits so that dates up to the year 9999
// compare in calendar order.
uint32_t MonthIndex(uint32_t year, uint32_t month);

#endif  // KDX_EXPORTS_EMPLOYEE_RESOLVERS_H_
