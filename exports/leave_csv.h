// The leave CSV mode: approved leave of category 'LEA' codes, approved on the
// run's date, written to LeavePath + "LVDATA" + DDMMYYYY + ".CSV" with a
// header line and eleven comma-separated fields per line; then LOG.TXT is
// rewritten.
//
// A leave whose LEAV_TRX rows carry a shift gives one line per LEAV_TRX row
// (with the shift's AM_PM, TIMEIN and TIMEOUT when LV_PAYGRP_SHIFT has it);
// any other leave gives one line for the whole leave. Values are written
// unquoted. Each line is assembled in the window caption, which keeps the
// last line written.
#ifndef KDX_EXPORTS_LEAVE_CSV_H_
#define KDX_EXPORTS_LEAVE_CSV_H_

#include <string>

#include "exports/export_host.h"

// The whole run. true: the file was written and LOG.TXT rewritten. false: the
// run ended at its own error handler after showing the message through
// host.ShowMessage ("Save file failed" when the file could not be created,
// otherwise the error's message) and keeping the error in host.State().Failure;
// LOG.TXT is then untouched. Errors that are not the program's Exception type
// propagate.
[[nodiscard]] bool ExportLeaveCsv(ExportHost& host);

// Writes the file from the open leave query. 0 when the file was written to
// the end; 1 when the query is not open or the name is empty (nothing done),
// or when the file could not be created ("Save file failed" shown). Other
// errors propagate, the file left as it was before the run (it is replaced
// whole or not at all).
[[nodiscard]] int WriteLeaveCsv(ExportHost& host, TAdsQuery& query, const std::string& file_name);

// Opens AdsQuerySource anew on the leave records the run writes: approved
// (Y or Z) leave of category 'LEA' codes approved on the clock's date.
// Raises the run's database errors.
void SelectLeaveCsvRecords(ExportHost& host);

// The file the run writes: LeavePath + "LVDATA" + the clock's date as
// DDMMYYYY + ".CSV".
std::string LeaveCsvFileName(ExportHost& host);

// Whether some LEAV_TRX row of AdsQueryLVTX has a non-empty "shift". Leaves
// the query on its first row.
bool HasShiftedDays(ExportHost& host);

#endif  // KDX_EXPORTS_LEAVE_CSV_H_
