// The fixed credentials, the table-opening hooks and PrepareConnection.
//
// On a connection to a folder of free tables the encrypted tables each need
// the table password, and a statement reading "employee" needs it too; on a
// data-dictionary connection the dictionary login takes its place and no
// table password is handed over at all.
#include "app/main_window.h"
#include "data/connection.h"
#include "data/query.h"
#include "data/table.h"

namespace {

// Compiled in; not configurable.
constexpr char kTablePassword[] = "VARDE5816";
constexpr char kConnectionUsername[] = "GLOVERUN4";
constexpr char kConnectionPassword[] = "BRISKOLDENT";
constexpr char kEmployeeTable[] = "employee";

bool OnDictionary(const TAdsDataSet& dataset) {
  const TAdsConnection* connection = dataset.Connection();
  return connection != nullptr && connection->IsDictionaryConnection();
}

void UnlockTable(TAdsTable& table) {
  if (!OnDictionary(table)) table.EnableEncryption(kTablePassword);
}

}  // namespace

void TForm1::AdsQueryEmpBeforeOpen(TAdsDataSet&) {
  if (!OnDictionary(*AdsQueryEmp)) AdsQueryEmp->SetTablePassword(kEmployeeTable, kTablePassword);
}

void TForm1::wwQueryEmpCareerAfterOpen(TAdsDataSet&) { UnlockTable(*wwQueryEmpCareer); }

void TForm1::TableEmpAllowanceAfterOpen(TAdsDataSet&) { UnlockTable(*TableEmpAllowance); }

void TForm1::AdsTableParaAfterOpen(TAdsDataSet&) { UnlockTable(*AdsTablePara); }

void TForm1::PrepareConnection() {
  // Disconnecting first closes every dataset on the connection; the path may
  // not change while connected.
  AdsConnection1->SetIsConnected(false);
  AdsConnection1->SetConnectPath(run_state_.SourcePath);
  AdsConnection1->SetPassword(kConnectionPassword);
  AdsConnection1->SetUsername(kConnectionUsername);
}
