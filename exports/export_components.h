// The main window's database components that the export jobs read, and the
// one factory that makes them. The main window, the export tests and the
// export benchmark all build their components here, so each component's
// name, statement, parameters, table and index field names are written once.
//
// The factory's components belong to the owner it is given and are released
// with it; ExportComponents only points at them. A component's Name() is the
// name it has on the main window, and database errors carry it
// ("AdsTableCLD: ..."). Members carry that name too, except three whose
// window names contradict their kinds; those carry their role, and their
// comment gives the Name().
#ifndef KDX_EXPORTS_EXPORT_COMPONENTS_H_
#define KDX_EXPORTS_EXPORT_COMPONENTS_H_

#include <string>

class ENumberOutOfRange;
class TAdsConnection;
class TAdsQuery;
class TAdsSettings;
class TAdsTable;
class TComponent;

struct ExportComponents {
  TAdsConnection* AdsConnection1 = nullptr;  // every dataset below reads through it
  TAdsQuery* AdsQuerySource = nullptr;       // statement set by each leave run; date1, date2
  TAdsQuery* AdsQueryEmp = nullptr;          // statement set by the employee export; date
  TAdsQuery* TemplateQuery = nullptr;        // "wwTableTemplate": export rows of :section
  TAdsQuery* AdsQueryLVTX = nullptr;         // LEAV_TRX rows of one leave
  TAdsQuery* AdsQuerySHIFT = nullptr;        // LV_PAYGRP_SHIFT
  TAdsTable* AdsTableCode = nullptr;         // CODE.ADT
  TAdsTable* CareerTable = nullptr;          // "wwQueryEmpCareer": EMP_PROS.adt
  TAdsTable* AdsTableCLD = nullptr;          // EMP_CLD.ADT
  TAdsTable* EmploymentTable = nullptr;      // "AdsQueryEmployment": EMPLOYMT.ADT
  TAdsTable* AdsTableMisc = nullptr;         // EMPMISC.ADT
  TAdsTable* TableEmpAllowance = nullptr;    // EMP_ALW
  TAdsTable* AdsTablePara = nullptr;         // PAYPARA1
};

// Creates AdsConnection1 and the twelve datasets on it, owned by `owner`,
// with the main window's stored properties; none is open, the connection is
// not connected. No open hooks are attached: the host attaches its own.
ExportComponents CreateExportComponents(TComponent& owner);

// Closes every dataset of AdsConnection1 and disconnects it, so that a run
// that stops holds no transaction, snapshot or lock on the server while its
// message waits. A failure to disconnect is not reported: the run has
// already failed with the error that matters.
void EndRunSession(const ExportComponents& c) noexcept;

// The table the component named `component_name` reads, as messages name it:
// a table component's table, the table a query's statement reads first
// ("employee", "empleave", "LEAV_TRX", ...); the name itself for any other.
std::string TableReadBy(const ExportComponents& c, const std::string& component_name);

// The message for a number no amount can be, naming the record that read it
// (`record`: "employee E01"), the table and the column: "Column 'SALARY' of
// table employee holds INF for employee E01, which is beyond any amount
// (not finite, or 10^15 or more)".
std::string OutOfRangeMessage(const ExportComponents& c, const ENumberOutOfRange& error, const std::string& record);

// Creates the engine settings component AdsSettings1 with the main window's
// stored properties, which take effect in the engine at once. At most one may
// exist per process (TAdsSettings raises on a second); `owner` may be null.
TAdsSettings* CreateEngineSettings(TComponent* owner);

#endif  // KDX_EXPORTS_EXPORT_COMPONENTS_H_
