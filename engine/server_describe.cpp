// Read-only descriptions of a server's tables for kdx-db, from the same
// catalogue and type mapping the engine opens them with (also those of the
// tables kdx-db writes to, ServerWriter::DescribeTable).
#include <libpq-fe.h>

#include <memory>

#include "engine/errors.h"
#include "engine/pg_catalog.h"
#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "engine/schema.h"
#include "engine/storage.h"

namespace engine {
namespace {

// The schema of a catalogue table: engine column types and record layout.
[[nodiscard]] Status Describe(const PgTable& source, TableSchema* out) {
  out->name = source.name;
  out->sealed = false;
  out->columns.clear();
  out->indexes.clear();
  UNSIGNED32 offset = 0;
  for (const PgColumn& column : source.columns) {
    ColumnInfo info;
    info.name = column.name;
    info.declared = column.declared;
    std::string why;
    if (!ParseDeclaredType(column.declared, &info.type, &why)) {
      return Status(AE_KDX_BAD_COLUMN_TYPE, "Table " + source.name + ", column " + column.name + ": " + why);
    }
    info.offset = offset;
    offset += info.type.width;
    out->columns.push_back(std::move(info));
  }
  out->record_length = offset;
  for (const PgIndex& index : source.indexes) {
    IndexSchema schema;
    schema.name = index.tag;
    schema.segments = index.segments;
    schema.segment_descending = index.descending;
    schema.unique = index.unique;
    schema.descending = !index.descending.empty() && index.descending[0];
    out->indexes.push_back(std::move(schema));
  }
  out->row_count = -1;
  return Status();
}

[[nodiscard]] Status CountRows(PgSession& session, const PgTable& table, int64_t* rows) {
  PgResultPtr result;
  // A refused count must not end the session's transaction for the tables after it.
  if (Status rc = session.Exec("SAVEPOINT count_rows; SELECT count(*) FROM " + table.qualified, AE_KDX_PG_SERVER,
                               "counting the rows of table " + table.name, &result);
      !rc.ok()) {
    session.RollbackTo("count_rows");
    return rc;
  }
  if (Status rc = session.Exec("RELEASE SAVEPOINT count_rows", AE_KDX_PG_SERVER,
                               "counting the rows of table " + table.name, nullptr);
      !rc.ok()) {
    return rc;
  }
  *rows = std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
  return Status();
}

}  // namespace

Status DescribeServer(const std::string& uri, std::vector<TableSchema>* tables,
                          std::vector<std::pair<std::string, std::string>>* failures) {
  EngineGuard guard(EngineMutex());
  std::unique_ptr<PgSession> session;
  if (Status rc = PgSession::Open(uri, &session); !rc.ok()) return rc;
  PgCatalog catalog(session.get());
  std::vector<std::string> names;
  if (Status rc = catalog.TableNames(&names); !rc.ok()) return rc;
  for (const std::string& name : names) {
    const PgTable* table = nullptr;
    TableSchema schema;
    Status described = catalog.FindTable(name, &table);
    if (described.ok()) described = Describe(*table, &schema);
    if (described.ok()) described = CountRows(*session, *table, &schema.row_count);
    if (!described.ok()) {
      failures->emplace_back(name, AsErrorLine(described).text());
      continue;
    }
    tables->push_back(std::move(schema));
  }
  return Status();
}

Status ServerWriter::DescribeTable(const std::string& name, TableSchema* table) {
  EngineGuard guard(EngineMutex());
  PgCatalog catalog(session_.get());
  const PgTable* found = nullptr;
  if (Status looked = catalog.FindTable(name, &found); !looked.ok()) return AsErrorLine(looked);
  return AsErrorLine(Describe(*found, table));
}

Status DescribeServerTable(const std::string& uri, const std::string& name, TableSchema* table) {
  EngineGuard guard(EngineMutex());
  std::unique_ptr<PgSession> session;
  if (Status rc = PgSession::Open(uri, &session); !rc.ok()) return rc;
  PgCatalog catalog(session.get());
  const PgTable* found = nullptr;
  if (Status rc = catalog.FindTable(name, &found); !rc.ok()) return rc;
  return Describe(*found, table);
}

}  // namespace engine
