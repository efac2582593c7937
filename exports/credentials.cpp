#include "exports/credentials.h"

#include "data/connection.h"
#include "data/query.h"
#include "data/table.h"

namespace {

constexpr char kEmployeeTable[] = "employee";

bool OnDictionary(const TAdsDataSet& dataset) {
  const TAdsConnection* connection = dataset.Connection();
  return connection != nullptr && connection->IsDictionaryConnection();
}

}  // namespace

void ApplyTablePassword(TAdsTable& table) {
  if (!OnDictionary(table)) table.EnableEncryption(kTablePassword);
}

void ApplyEmployeeTablePassword(TAdsQuery& query) {
  if (!OnDictionary(query)) query.SetTablePassword(kEmployeeTable, kTablePassword);
}

void PointConnectionAt(TAdsConnection& connection, const std::string& connect_path) {
  // The path may not change while connected.
  connection.SetIsConnected(false);
  connection.SetConnectPath(connect_path);
  connection.SetPassword(kDictionaryPassword);
  connection.SetUsername(kDictionaryUsername);
}

void AttachPasswordHooks(const ExportComponents& components) {
  TAdsQuery* employees = components.AdsQueryEmp;
  employees->BeforeOpen = [employees](TAdsDataSet&) { ApplyEmployeeTablePassword(*employees); };
  for (TAdsTable* table : {components.CareerTable, components.TableEmpAllowance, components.AdsTablePara}) {
    table->AfterOpen = [table](TAdsDataSet&) { ApplyTablePassword(*table); };
  }
}
