#include "exports/export_components.h"

#include <string>
#include <utility>
#include <vector>

#include "data/component.h"
#include "data/connection.h"
#include "data/errors.h"
#include "data/query.h"
#include "data/settings.h"
#include "data/table.h"

namespace {

constexpr char kConnectionName[] = "AdsConnection1";

TAdsTable* MakeTable(TComponent& owner, const char* name, const char* table_name, const char* index_field_names) {
  auto* table = new TAdsTable(&owner, name);
  table->SetDatabaseName(kConnectionName);
  table->SetTableName(table_name);
  table->SetIndexFieldNames(index_field_names);
  return table;
}

TAdsQuery* MakeQuery(TComponent& owner, const char* name, const std::vector<std::string>& lines,
                     const std::vector<TParam>& params) {
  auto* query = new TAdsQuery(&owner, name);
  query->SetDatabaseName(kConnectionName);
  query->SetReadAllColumns(false);
  query->LoadStored(lines, params);
  return query;
}

}  // namespace

ExportComponents CreateExportComponents(TComponent& owner) {
  ExportComponents c;
  // The connection first: the datasets find it by name when they are made.
  c.AdsConnection1 = new TAdsConnection(&owner, kConnectionName);
  c.AdsConnection1->SetConnectPath("D:\\KORVAL");
  c.AdsConnection1->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
  c.AdsConnection1->SetLoginPrompt(false);
  c.AdsConnection1->SetReadOnly(false);

  c.AdsQuerySource = MakeQuery(owner, "AdsQuerySource", {},
                               {MakeStoredParam("date1", TFieldType::ftDateTime),
                                MakeStoredParam("date2", TFieldType::ftDateTime)});
  c.AdsQueryEmp = MakeQuery(owner, "AdsQueryEmp", {}, {MakeStoredParam("date", TFieldType::ftDateTime)});
  // The run reads the employees once, forward: a site's whole staff is
  // never held in memory.
  c.AdsQueryEmp->SetStreamed(true);
  c.AdsQuerySource->SetStreamed(true);
  c.TemplateQuery = MakeQuery(owner, "wwTableTemplate", {"select * from  export", "where section=:section"},
                              {MakeStoredParam("section", TFieldType::ftString)});
  c.TemplateQuery->SetIndexFieldNames("SECTION;NO");
  c.AdsQueryLVTX = MakeQuery(owner, "AdsQueryLVTX",
                             {"select * from LEAV_TRX", "WHERE ID=:ID AND EMPCODE=:EMPCODE and LEAVE_CODE=:LEAVE_CODE"},
                             {MakeStoredParam("ID", TFieldType::ftString),
                              MakeStoredParam("EMPCODE", TFieldType::ftString),
                              MakeStoredParam("LEAVE_CODE", TFieldType::ftString)});
  c.AdsQuerySHIFT = MakeQuery(owner, "AdsQuerySHIFT", {"select * from LV_PAYGRP_SHIFT", "ORDER BY SHIFT"}, {});

  c.AdsTableCode = MakeTable(owner, "AdsTableCode", "CODE.ADT", "CATEGORY;CODE");
  c.CareerTable = MakeTable(owner, "wwQueryEmpCareer", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  c.AdsTableCLD = MakeTable(owner, "AdsTableCLD", "EMP_CLD.ADT", "EMP_NO;DATE");
  c.EmploymentTable = MakeTable(owner, "AdsQueryEmployment", "EMPLOYMT.ADT", "EMP_NO");
  c.AdsTableMisc = MakeTable(owner, "AdsTableMisc", "EMPMISC.ADT", "EMP_NO");
  c.TableEmpAllowance = MakeTable(owner, "TableEmpAllowance", "EMP_ALW", "EMP_NO;ALLOW_CODE");
  c.AdsTablePara = MakeTable(owner, "AdsTablePara", "PAYPARA1", "YEAR");
  return c;
}

void EndRunSession(const ExportComponents& c) noexcept {
  try {
    c.AdsConnection1->SetIsConnected(false);
  } catch (const std::exception&) {
    // See the header: the error that stopped the run is the one to report.
  }
}

std::string TableReadBy(const ExportComponents& c, const std::string& component_name) {
  for (const TAdsTable* table : {c.AdsTableCode, c.CareerTable, c.AdsTableCLD, c.EmploymentTable, c.AdsTableMisc,
                                 c.TableEmpAllowance, c.AdsTablePara}) {
    if (table != nullptr && table->Name() == component_name) return table->TableName();
  }
  const std::pair<const TAdsQuery*, const char*> queries[] = {
      {c.AdsQuerySource, "empleave"}, {c.AdsQueryEmp, "employee"},     {c.TemplateQuery, "export"},
      {c.AdsQueryLVTX, "LEAV_TRX"},   {c.AdsQuerySHIFT, "LV_PAYGRP_SHIFT"}};
  for (const auto& [query, table] : queries) {
    if (query != nullptr && query->Name() == component_name) return table;
  }
  return component_name;
}

std::string OutOfRangeMessage(const ExportComponents& c, const ENumberOutOfRange& error, const std::string& record) {
  return "Column '" + error.Column() + "' of table " + TableReadBy(c, error.Component()) + " holds " + error.Value() +
         " for " + record + ", which is beyond any amount (not finite, or 10^15 or more)";
}

TAdsSettings* CreateEngineSettings(TComponent* owner) {
  auto* settings = new TAdsSettings(owner, "AdsSettings1");
  settings->SetDateFormat("dd/MM/yyyy");
  settings->SetNumDecimals(2);
  settings->SetSyncAppDateFormat(true);
  settings->SetShowDeleted(true);
  settings->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_AIS});
  settings->SetNumCachedTables(0);
  settings->SetNumCachedCursors(25);
  return settings;
}
