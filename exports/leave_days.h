// The leave-day export: every approved leave record modified on the run's
// date becomes one line per day of leave in the file at LeavePath, then
// LOG.TXT is rewritten.
//
// A line has seven fields joined by FieldSeparator (set to "," when the
// employee export left it empty): employee, leave code, date "DD/MM/YYYY",
// day amount, approval, AMPM, REMARK1. A leave is split into days
//   - by its LEAV_TRX rows inside its dates, whose DAY amounts must add up to
//     the leave's DAY exactly (else Exception "Leave day is not tally!.
//     Employee# <code> Record ID <id>");
//   - as one line of its own DAY ("0.00", approval "Z") when it starts and
//     ends on the same day and has no LEAV_TRX rows;
//   - otherwise over the employee's calendar EMP_CLD.ADT: "F" days count
//     1.00, "H" days 0.50 (approval "Z"); days with another work code or
//     without a calendar row are skipped; the walk stops once the leave's DAY
//     is used up, and a day never writes more than what remains, so the
//     lines of one leave never add up to more than its DAY.
//
// Relies on the employee export of the same run having prepared the
// connection. On an error the file is left as it was before the run (it is
// replaced whole or not at all), LOG.TXT is left as it was, and the error
// propagates.
#ifndef KDX_EXPORTS_LEAVE_DAYS_H_
#define KDX_EXPORTS_LEAVE_DAYS_H_

#include "exports/export_host.h"

void ExportLeaveDays(ExportHost& host);

// Opens AdsQuerySource anew on the leave records the run exports: approved
// (Z or Y), of a known employee, modified on the clock's date. The statement
// reads table "employee": on a folder of free tables it needs the table
// password first (ApplyEmployeeTablePassword). Raises the run's database
// errors.
void SelectLeaveRecords(ExportHost& host);

#endif  // KDX_EXPORTS_LEAVE_DAYS_H_
