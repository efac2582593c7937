#include "exports/run_statement.h"

#include "data/query.h"

void OpenOnStatement(TAdsQuery& query, const char* statement,
                     std::initializer_list<std::pair<const char*, TDateTime>> dates) {
  query.CloseDataSet();
  query.ClearSql();
  query.AddSqlLine(statement);
  for (const auto& [name, value] : dates) query.ParamNamed(name).BindDateTime(value);
  query.OpenDataSet();
}
