// The site check's look at the export template: every row of section "KDX"
// read by the employee export's own rules (template_field.h), and what a run
// would find wrong in it, all listed before anything is written.
#ifndef KDX_EXPORTS_TEMPLATE_CHECK_H_
#define KDX_EXPORTS_TEMPLATE_CHECK_H_

#include <string>
#include <vector>

#include "exports/export_host.h"

struct TemplateFinding {
  // A problem ends the run or writes a wrong field into every record; a
  // warning is worth a look but a run goes through.
  bool problem = true;
  std::string text;  // names the section, the row's NO and the value at fault
};

struct TemplateCheck {
  int rows = 0;
  std::vector<TemplateFinding> findings;
};

// Reads every row of the open template query and finds, per row:
//  - a column of the template that the row's rule needs and the table lacks;
//  - a source column the row's kind reads that its source lacks: the
//    employee query's (employee columns, code descriptions, TEL_EXT,
//    PAY_TYPE), PAYPARA1's (company fields), EMP_PROS's (career values),
//    EMPMISC's or EMPLOYMT's (TABLE rows). A source that is not open is not
//    looked at: the caller reports why it could not be opened;
//  - a DATE row whose FORMAT prints no part of the date or time;
//  - a fixed-width row whose size is outside 0..255 (the run's own error);
//  - an ALLOW_CODE row without an allowance code in MAPFIELD2 (a warning:
//    the field is always "0.00").
// An empty section is a warning: every record would be an empty line.
// REQUIRES: the template query is open on the section (OpenTemplateSection).
// Moves the template query's cursor; reads no rows of the sources.
TemplateCheck CheckTemplateRows(ExportHost& host);

#endif  // KDX_EXPORTS_TEMPLATE_CHECK_H_
