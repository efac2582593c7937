// The table password the export jobs hand to the engine themselves (EMPLOYMT
// and EMPMISC in the employee export, the "employee" table of the leave-day
// statement), always only on a connection to a folder of free tables: on a
// data-dictionary connection the dictionary login takes its place.
#ifndef KDX_EXPORTS_CREDENTIALS_H_
#define KDX_EXPORTS_CREDENTIALS_H_

inline constexpr char kExportTablePassword[] = "VARDE5816";

#endif  // KDX_EXPORTS_CREDENTIALS_H_
