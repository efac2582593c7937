// The program's fixed credentials, compiled in and not configurable, and the
// three ways they reach the engine. Every place that hands a credential over
// goes through here.
//
// On a connection to a folder of free tables, each sealed table needs the
// table password, and a statement reading table "employee" needs it too. On a
// data-dictionary connection the dictionary login takes its place and no
// table password is handed over at all.
#ifndef KDX_EXPORTS_CREDENTIALS_H_
#define KDX_EXPORTS_CREDENTIALS_H_

#include <string>

#include "exports/export_components.h"

class TAdsConnection;
class TAdsQuery;
class TAdsTable;

inline constexpr char kTablePassword[] = "VARDE5816";
inline constexpr char kDictionaryUsername[] = "GLOVERUN4";
inline constexpr char kDictionaryPassword[] = "BRISKOLDENT";

// Gives the open `table` the table password, unless it reads through a
// data-dictionary connection. Engine errors raise EADSDatabaseError.
void ApplyTablePassword(TAdsTable& table);

// Gives `query`'s statement the table password of table "employee" for its
// next execution, unless it reads through a data-dictionary connection.
void ApplyEmployeeTablePassword(TAdsQuery& query);

// What a run does to its connection before its first open: disconnects it
// (closing every dataset on it), points it at `connect_path` and sets the
// dictionary login. Does not connect; the login reaches the engine only if
// `connect_path` turns out to be a data dictionary.
void PointConnectionAt(TAdsConnection& connection, const std::string& connect_path);

// For hosts other than the main window (tests, benchmarks): attaches to
// AdsQueryEmp, wwQueryEmpCareer, TableEmpAllowance and AdsTablePara the open
// hooks that hand over the passwords as the main window's own hooks do.
void AttachPasswordHooks(const ExportComponents& components);

#endif  // KDX_EXPORTS_CREDENTIALS_H_
