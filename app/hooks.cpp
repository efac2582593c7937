// The table-opening hooks and PrepareConnection: where the window hands the
// fixed credentials (exports/credentials.h) to its datasets and connection.
//
// Each hook ignores its argument and works on its own component. On a
// data-dictionary connection none of them hands over a table password.
#include "app/main_window.h"
#include "data/connection.h"
#include "data/query.h"
#include "data/table.h"
#include "exports/credentials.h"

void TForm1::AdsQueryEmpBeforeOpen(TAdsDataSet&) { ApplyEmployeeTablePassword(*components_.AdsQueryEmp); }

void TForm1::wwQueryEmpCareerAfterOpen(TAdsDataSet&) { ApplyTablePassword(*components_.CareerTable); }

void TForm1::TableEmpAllowanceAfterOpen(TAdsDataSet&) { ApplyTablePassword(*components_.TableEmpAllowance); }

void TForm1::AdsTableParaAfterOpen(TAdsDataSet&) { ApplyTablePassword(*components_.AdsTablePara); }

void TForm1::PrepareConnection() { PointConnectionAt(*components_.AdsConnection1, run_state_.SourcePath); }
