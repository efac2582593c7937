#include "tools/server_database.h"

#include <fmt/format.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "engine/ads.h"
#include "engine/schema.h"
#include "tools/table_import.h"
#include "tools/user_tables.h"
#include "util/ascii.h"

namespace fs = std::filesystem;

namespace {

using PgConn = std::unique_ptr<PGconn, void (*)(PGconn*)>;
using PgResult = std::unique_ptr<PGresult, void (*)(PGresult*)>;

// One request; false with `*error` holding the server's message.
bool Run(PGconn* conn, const std::string& sql, const std::string& what, std::string* error) {
  PgResult result(PQexec(conn, sql.c_str()), PQclear);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_COPY_IN) return true;
  *error = fmt::format("{}: {}", what, PQerrorMessage(conn));
  while (!error->empty() && error->back() == '\n') error->pop_back();
  return false;
}

// A value of the staging table in COPY's text format.
void AppendCopyValue(sqlite3_stmt* row, int column, bool logical, std::string* line) {
  switch (sqlite3_column_type(row, column)) {
    case SQLITE_NULL: *line += "\\N"; return;
    case SQLITE_INTEGER: {
      const int64_t v = sqlite3_column_int64(row, column);
      *line += logical ? (v != 0 ? "t" : "f") : std::to_string(v);
      return;
    }
    case SQLITE_FLOAT: *line += fmt::format("{:.17g}", sqlite3_column_double(row, column)); return;
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(row, column));
      *line += "\\\\x";
      for (int i = 0; i < sqlite3_column_bytes(row, column); ++i) *line += fmt::format("{:02x}", bytes[i]);
      return;
    }
    default: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
      for (int i = 0; i < sqlite3_column_bytes(row, column); ++i) {
        switch (text[i]) {
          case '\\': *line += "\\\\"; break;
          case '\n': *line += "\\n"; break;
          case '\r': *line += "\\r"; break;
          case '\t': *line += "\\t"; break;
          default: *line += text[i];
        }
      }
    }
  }
}

std::string CreateServerTable(const SampleTable& table, std::string* error) {
  std::string sql = "CREATE TABLE " + QuoteSqlName(ToLowerAscii(table.name)) + " (";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    std::string type, why;
    if (!ServerTypeOf(table.columns[i].type, &type, &why)) {
      *error = fmt::format("Table {}, column {}: {}", table.name, table.columns[i].name, why);
      return "";
    }
    sql += (i ? ", " : "") + QuoteSqlName(ToLowerAscii(table.columns[i].name)) + " " + type;
  }
  return sql + ", " + kServerOrderColumn + " bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY)";
}

// The column list of COPY and INSERT: the table's own columns, in order.
std::string ColumnList(const SampleTable& table) {
  std::string list;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    list += (i ? ", " : "") + QuoteSqlName(ToLowerAscii(table.columns[i].name));
  }
  return list;
}

// Copies one staging table file onto the server, then indexes it.
bool CopyTable(PGconn* conn, const SampleTable& table, const std::string& file, std::string* error) {
  const std::string create = CreateServerTable(table, error);
  if (create.empty() || !Run(conn, create, "Table " + table.name, error)) return false;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    *error = fmt::format("Table {}: cannot read the generated rows", table.name);
    return false;
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db, ("SELECT * FROM " + QuoteSqlName(table.name) + " ORDER BY rowid").c_str(), -1, &raw, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> rows(raw, sqlite3_finalize);
  // Rows in the file's order take kdx_order 1, 2, ...: the table's natural
  // order on the server is the order of the table file.
  if (!Run(conn, "COPY " + QuoteSqlName(ToLowerAscii(table.name)) + " (" + ColumnList(table) + ") FROM STDIN",
           "Table " + table.name, error))
    return false;
  std::string chunk;
  bool sent = true;
  while (sent && rows != nullptr && sqlite3_step(rows.get()) == SQLITE_ROW) {
    for (size_t c = 0; c < table.columns.size(); ++c) {
      if (c > 0) chunk += '\t';
      AppendCopyValue(rows.get(), static_cast<int>(c), EqualsNoCase(table.columns[c].type, "LOGICAL"), &chunk);
    }
    chunk += '\n';
    if (chunk.size() > (1 << 20)) {
      sent = PQputCopyData(conn, chunk.data(), static_cast<int>(chunk.size())) == 1;
      chunk.clear();
    }
  }
  if (sent && !chunk.empty()) sent = PQputCopyData(conn, chunk.data(), static_cast<int>(chunk.size())) == 1;
  PQputCopyEnd(conn, sent ? nullptr : "the rows could not be sent");
  PgResult done(PQgetResult(conn), PQclear);
  while (PGresult* more = PQgetResult(conn)) PQclear(more);
  if (PQresultStatus(done.get()) != PGRES_COMMAND_OK) {
    *error = fmt::format("Table {}: {}", table.name, PQerrorMessage(conn));
    return false;
  }
  for (const SampleIndex& index : table.indexes) {
    std::string sql = std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                      QuoteSqlName(ToLowerAscii(table.name) + "." + index.name) + " ON " +
                      QuoteSqlName(ToLowerAscii(table.name)) + " (";
    for (size_t i = 0; i < index.columns.size(); ++i) sql += (i ? ", " : "") + QuoteSqlName(ToLowerAscii(index.columns[i]));
    if (!Run(conn, sql + ")", "Table " + table.name + ", index " + index.name, error)) return false;
  }
  return true;
}

// The first sample table the server already has, or "".
bool ExistingSampleTable(PGconn* conn, std::string* existing, std::string* error) {
  existing->clear();
  for (const SampleTable& table : SampleTables()) {
    const std::string name = ToLowerAscii(table.name);
    const char* values[] = {name.c_str()};
    PgResult result(PQexecParams(conn,
                                 "SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                                 "WHERE n.nspname = ANY (current_schemas(false)) AND lower(c.relname) = $1 "
                                 "AND c.relkind IN ('r', 'p', 'v', 'm', 'f')",
                                 1, nullptr, values, nullptr, nullptr, 0),
                    PQclear);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      *error = fmt::format("Cannot read the server's tables: {}", PQerrorMessage(conn));
      return false;
    }
    if (PQntuples(result.get()) > 0) {
      *existing = PQgetvalue(result.get(), 0, 0);
      return true;
    }
  }
  return true;
}

}  // namespace

bool ServerTypeOf(const std::string& declared, std::string* server_type, std::string* why) {
  engine::ColumnType type;
  if (!engine::ParseDeclaredType(declared, &type, why)) return false;
  const std::string n = std::to_string(type.declared_width);
  switch (type.type) {
    case ADS_LOGICAL: *server_type = "boolean"; return true;
    case ADS_NUMERIC: *server_type = fmt::format("numeric({},{})", type.declared_width, type.decimals); return true;
    case ADS_DATE: *server_type = "date"; return true;
    case ADS_STRING: *server_type = "char(" + n + ")"; return true;
    case ADS_VARCHAR: *server_type = "varchar(" + n + ")"; return true;
    case ADS_MEMO: *server_type = "text"; return true;
    case ADS_BINARY:
    case ADS_IMAGE: *server_type = "bytea"; return true;
    case ADS_DOUBLE: *server_type = "double precision"; return true;
    case ADS_INTEGER: *server_type = "integer"; return true;
    case ADS_SHORTINT: *server_type = "smallint"; return true;
    case ADS_TIME: *server_type = "time(3)"; return true;
    case ADS_TIMESTAMP: *server_type = "timestamp(3)"; return true;
    case ADS_AUTOINC: *server_type = "integer GENERATED BY DEFAULT AS IDENTITY"; return true;
    case ADS_CURDOUBLE: *server_type = "numeric(19,4)"; return true;
    default:
      *why = "type " + engine::TypeName(type.type) + " has no PostgreSQL counterpart";
      return false;
  }
}

bool GenerateSampleOnServer(const std::string& uri, const SampleOptions& options, SampleSummary* summary,
                            std::string* error) {
  const std::string shown = ShownConnectionPath(uri);
  if (IsMalformedServerUri(uri)) {
    // libpq's reason would quote the part it cannot read.
    *error = "Cannot connect: the connection URI is malformed; no part of it is shown, since it may hold a password "
             "(write an \"@\", \"/\" or \"%\" in a user name or password percent-encoded: %40, %2F, %25)";
    return false;
  }
  PgConn conn(PQconnectdb(engine::LibpqUri(uri).c_str()), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    *error = fmt::format("Cannot connect to {}: {}", shown, PQerrorMessage(conn.get()));
    while (!error->empty() && error->back() == '\n') error->pop_back();
    return false;
  }
  std::string existing;
  if (!ExistingSampleTable(conn.get(), &existing, error)) return false;
  if (!existing.empty()) {
    *error = fmt::format("{} already holds a table {}; generate into an empty database", shown, existing);
    return false;
  }
  char pattern[] = "/tmp/kdx-sample-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    *error = "Cannot make a staging folder in /tmp";
    return false;
  }
  const fs::path staging = pattern;
  SampleOptions plain = options;
  plain.sealed = false;
  SampleSummary local;
  bool ok = GenerateSampleDatabase(staging.string(), plain, &local, error) &&
            Run(conn.get(), "BEGIN", "Cannot start a transaction on " + shown, error);
  for (const SampleTable& table : SampleTables()) {
    if (!ok) break;
    ok = CopyTable(conn.get(), table, (staging / table.file_name).string(), error);
  }
  if (ok) ok = Run(conn.get(), "COMMIT", "Cannot commit on " + shown, error);
  if (!ok) Run(conn.get(), "ROLLBACK", "", &existing);  // nothing is left behind
  std::error_code ec;
  fs::remove_all(staging, ec);
  if (!ok) return false;
  *summary = std::move(local);
  return true;
}

namespace {

// A converted value in the server's text format; null for NULL.
std::optional<std::string> ServerValue(const StoredValue& value) {
  switch (value.kind) {
    case StoredValue::Kind::kNull: return std::nullopt;
    case StoredValue::Kind::kText: return value.text;
    case StoredValue::Kind::kInteger: return std::to_string(value.integer);  // a boolean takes 1 and 0 too
    case StoredValue::Kind::kReal: return fmt::format("{:.17g}", value.real);
  }
  return std::nullopt;
}

// The next number of each AUTOINC column (1 past the largest), read in the
// import's transaction.
bool NextAutoNumbers(PGconn* conn, const engine::TableSchema& schema, std::vector<int64_t>* next, std::string* error) {
  next->assign(schema.columns.size(), 0);
  for (size_t c = 0; c < schema.columns.size(); ++c) {
    if (schema.columns[c].type.type != ADS_AUTOINC) continue;
    PgResult max(PQexec(conn, ("SELECT coalesce(max(" + QuoteSqlName(schema.columns[c].name) + "), 0) FROM " +
                               QuoteSqlName(schema.name))
                                  .c_str()),
                 PQclear);
    if (PQresultStatus(max.get()) != PGRES_TUPLES_OK) {
      *error = fmt::format("Table {}: {}", schema.name, PQerrorMessage(conn));
      return false;
    }
    (*next)[c] = std::strtoll(PQgetvalue(max.get(), 0, 0), nullptr, 10) + 1;
  }
  return true;
}

}  // namespace

bool ImportCsvIntoServerTable(const std::string& uri, const std::string& table, const std::string& csv_path,
                              int64_t* rows, std::vector<std::string>* errors) {
  *rows = 0;
  errors->clear();
  auto fail = [&](std::string message) {
    while (!message.empty() && message.back() == '\n') message.pop_back();
    errors->push_back(std::move(message));
    return false;
  };
  engine::TableSchema schema;
  if (engine::DescribeServerTable(uri, table, &schema) != 0) {
    UNSIGNED32 code = 0;
    std::string text;
    AdsGetLastError(&code, &text);
    return fail(fmt::format("error {}: {}", code, text));
  }
  std::vector<ImportColumn> columns;
  for (const engine::ColumnInfo& c : schema.columns) columns.push_back({c.name, c.type});
  PgConn conn(PQconnectdb(engine::LibpqUri(uri).c_str()), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    return fail(fmt::format("Cannot connect to {}: {}", ShownConnectionPath(uri), PQerrorMessage(conn.get())));
  }
  std::string error;
  std::vector<int64_t> next_auto;
  if (!Run(conn.get(), "BEGIN", "Cannot start a transaction on " + ShownConnectionPath(uri), &error) ||
      !NextAutoNumbers(conn.get(), schema, &next_auto, &error)) {
    return fail(error);
  }
  std::vector<ConvertedRow> converted;
  if (!ConvertCsvRows(csv_path, schema.name, columns, std::move(next_auto), &converted, errors)) return false;
  std::string sql = "INSERT INTO " + QuoteSqlName(schema.name) + " (";
  for (size_t c = 0; c < columns.size(); ++c) sql += (c ? ", " : "") + QuoteSqlName(columns[c].name);
  sql += ") VALUES (";
  for (size_t c = 0; c < columns.size(); ++c) sql += fmt::format("{}${}", c ? ", " : "", c + 1);
  sql += ")";
  const std::string csv_name = fs::path(csv_path).filename().string();
  for (const auto& [line, values] : converted) {
    std::vector<std::optional<std::string>> texts;
    std::vector<const char*> params;
    for (const StoredValue& v : values) texts.push_back(ServerValue(v));
    for (const auto& t : texts) params.push_back(t ? t->c_str() : nullptr);
    PgResult inserted(PQexecParams(conn.get(), sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                   nullptr, nullptr, 0),
                      PQclear);
    if (PQresultStatus(inserted.get()) != PGRES_COMMAND_OK) {
      fail(fmt::format("{}, line {}: {}", csv_name, line, PQerrorMessage(conn.get())));
      PQclear(PQexec(conn.get(), "ROLLBACK"));
      return fail(fmt::format("Nothing was imported into {}", schema.name));
    }
  }
  if (!Run(conn.get(), "COMMIT", "Table " + schema.name + ": the import could not be committed, nothing was imported",
           &error)) {
    return fail(error);
  }
  *rows = static_cast<int64_t>(converted.size());
  return true;
}
