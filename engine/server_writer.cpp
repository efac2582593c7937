// kdx-db's writes to a PostgreSQL server, through the engine's session.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "engine/errors.h"
#include "engine/pg_catalog.h"
#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "engine/pg_values.h"
#include "engine/sqlite_support.h"
#include "engine/storage.h"
#include "util/ascii.h"

namespace engine {
namespace {

static_assert(std::string_view(kServerOrderColumn) == std::string_view(kOrderColumn));

// Rows are sent to COPY in chunks of about this many bytes.
constexpr size_t kBatchBytes = size_t{1} << 20;

// `text` as a string literal (standard_conforming_strings is on).
std::string Literal(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// Appends `text` as a value of COPY's text format: a backslash and the
// characters that end a value or a row are escaped.
void AppendCopyText(std::string_view text, std::string* out) {
  for (char c : text) {
    switch (c) {
      case '\\': *out += "\\\\"; break;
      case '\t': *out += "\\t"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      default: *out += c;
    }
  }
}

// Appends a value of a table file as COPY's text for the server column,
// which the server reads with the column type's input function.
void AppendCopyValue(sqlite3_stmt* row, int column, bool logical, std::string* out) {
  char buffer[64];
  switch (sqlite3_column_type(row, column)) {
    case SQLITE_NULL: *out += "\\N"; return;
    case SQLITE_INTEGER: {
      const int64_t v = sqlite3_column_int64(row, column);
      if (logical) {
        *out += v != 0 ? 't' : 'f';
      } else {
        *out += std::to_string(v);
      }
      return;
    }
    case SQLITE_FLOAT:
      std::snprintf(buffer, sizeof buffer, "%.17g", sqlite3_column_double(row, column));
      *out += buffer;
      return;
    case SQLITE_BLOB: {
      // bytea's hex form, its backslash escaped.
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(row, column));
      *out += "\\\\x";
      for (int i = 0; i < sqlite3_column_bytes(row, column); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", bytes[i]);
        *out += buffer;
      }
      return;
    }
    default: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
      AppendCopyText(std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(row, column))), out);
      return;
    }
  }
}

std::string ServerName(const std::string& name) { return QuoteIdentifier(ToLowerAscii(name)); }

// The column list of the table's own columns, in order.
std::string ColumnList(const TableDefinition& table) {
  std::string list;
  for (size_t i = 0; i < table.columns.size(); ++i) list += (i ? ", " : "") + ServerName(table.columns[i].name);
  return list;
}

bool IsLogical(const std::string& declared) {
  ColumnType type;
  std::string why;
  const ColumnTypeRow* row = ParseDeclaredType(declared, &type, &why) ? FindColumnType(type.type) : nullptr;
  return row != nullptr && row->stored == StoredForm::kLogical;
}

// A stored value as the text of a server parameter; null for NULL.
const char* ParameterText(const StoredValue& value, std::string* text) {
  char buffer[64];
  switch (value.kind) {
    case StoredValue::Kind::kNull: return nullptr;
    case StoredValue::Kind::kInteger: *text = std::to_string(value.integer); break;  // a boolean takes 1 and 0 too
    case StoredValue::Kind::kReal:
      std::snprintf(buffer, sizeof buffer, "%.17g", value.real);
      *text = buffer;
      break;
    case StoredValue::Kind::kText: *text = value.text; break;
    case StoredValue::Kind::kBlob: *text = ByteaParameterText(value.text); break;
  }
  return text->c_str();
}

}  // namespace

ServerWriter::~ServerWriter() {
  EngineGuard guard(EngineMutex());
  session_.reset();  // what was not committed ends with the session
}

Status ServerWriter::Open(const std::string& uri, std::unique_ptr<ServerWriter>* writer) {
  EngineGuard guard(EngineMutex());
  std::unique_ptr<ServerWriter> opened(new ServerWriter);
  if (Status connected = PgSession::Open(uri, &opened->session_); !connected.ok()) return AsErrorLine(connected);
  // The session's read-only snapshot gives way to a transaction that writes.
  if (Status begun = opened->Exec("ROLLBACK; SET standard_conforming_strings = on; BEGIN", "starting a transaction");
      !begun.ok()) {
    return begun;
  }
  *writer = std::move(opened);
  return Status();
}

Status ServerWriter::Exec(const std::string& sql, const std::string& context) {
  return AsErrorLine(session_->Exec(sql, AE_KDX_PG_SERVER, context, nullptr));
}

Status ServerWriter::FindTable(const std::vector<std::string>& names, std::string* found) {
  EngineGuard guard(EngineMutex());
  found->clear();
  for (const std::string& name : names) {
    PgResultPtr result;
    if (Status read = session_->Exec("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                                     "WHERE n.nspname = ANY (current_schemas(false)) AND lower(c.relname) = " +
                                         Literal(ToLowerAscii(name)) + " AND c.relkind IN ('r', 'p', 'v', 'm', 'f')",
                                     AE_KDX_PG_SERVER, "reading the server's tables", &result);
        !read.ok()) {
      return AsErrorLine(read);
    }
    if (PQntuples(result.get()) > 0) {
      *found = PQgetvalue(result.get(), 0, 0);
      return Status();
    }
  }
  return Status();
}

Status ServerWriter::CreateTable(const TableDefinition& table) {
  std::string sql = "CREATE TABLE " + ServerName(table.name) + " (";
  for (const ColumnDefinition& column : table.columns) {
    ColumnType type;
    std::string server_type, why;
    Status mapped = ParseDeclaredType(column.type, &type, &why) ? ServerTypeOf(type, &server_type)
                                                               : Status(AE_KDX_BAD_COLUMN_TYPE, why);
    if (!mapped.ok()) {
      return Status(mapped.code(), "Table " + table.name + ", column " + column.name + ": " + mapped.text());
    }
    sql += ServerName(column.name) + " " + server_type + ", ";
  }
  sql += std::string(kServerOrderColumn) + " bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY)";
  return Exec(sql, "Table " + table.name);
}

Status ServerWriter::CopyTable(const TableDefinition& table, const std::string& file) {
  EngineGuard guard(EngineMutex());
  if (Status created = CreateTable(table); !created.ok()) return created;
  sqlite3* db = nullptr;
  if (Status opened = OpenSqlite(file, &db); !opened.ok()) {
    return Status(opened.code(), "Table " + table.name + ": cannot read the generated rows");
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  Statement rows;
  sqlite3_prepare_v2(db, ("SELECT * FROM " + QuoteIdentifier(table.name) + " ORDER BY rowid").c_str(), -1,
                     rows.out(), nullptr);
  std::vector<bool> logical;
  for (const ColumnDefinition& column : table.columns) logical.push_back(IsLogical(column.type));
  // Rows in the file's order take kdx_order 1, 2, ...: the table's natural
  // order on the server is the order of the table file.
  const std::string copy = "COPY " + ServerName(table.name) + " (" + ColumnList(table) + ") FROM STDIN";
  bool more = rows.get() != nullptr;
  auto next = [&](std::string* chunk) {
    while (more && chunk->size() < kBatchBytes) {
      const int rc = sqlite3_step(rows.get());
      if (rc == SQLITE_DONE) {
        more = false;
        break;
      }
      if (rc != SQLITE_ROW) {
        more = false;
        return Status(AE_KDX_PG_SERVER, "Table " + table.name + ": cannot read the generated rows: " +
                                            sqlite3_errmsg(db));
      }
      for (size_t c = 0; c < table.columns.size(); ++c) {
        if (c > 0) *chunk += '\t';
        AppendCopyValue(rows.get(), static_cast<int>(c), logical[c], chunk);
      }
      *chunk += '\n';
    }
    return Status();
  };
  if (Status copied = session_->CopyIn(copy, next, AE_KDX_PG_SERVER, "Table " + table.name); !copied.ok()) {
    return AsErrorLine(copied);
  }
  for (const IndexDefinition& index : table.indexes) {
    std::string create = std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                         QuoteIdentifier(ToLowerAscii(table.name) + "." + index.name) + " ON " +
                         ServerName(table.name) + " (";
    for (size_t i = 0; i < index.columns.size(); ++i) create += (i ? ", " : "") + ServerName(index.columns[i]);
    if (Status made = Exec(create + ")", "Table " + table.name + ", index " + index.name); !made.ok()) return made;
  }
  return Status();
}

Status ServerWriter::NextNumber(const TableSchema& table, const std::string& column, int64_t* next) {
  EngineGuard guard(EngineMutex());
  PgResultPtr max;
  if (Status read = session_->Exec("SELECT coalesce(max(" + QuoteIdentifier(column) + "), 0) FROM " +
                                       QuoteIdentifier(table.name),
                                   AE_KDX_PG_SERVER, "Table " + table.name, &max);
      !read.ok()) {
    return AsErrorLine(read);
  }
  *next = std::strtoll(PQgetvalue(max.get(), 0, 0), nullptr, 10) + 1;
  return Status();
}

Status ServerWriter::Insert(const TableSchema& table, const std::vector<StoredValue>& row) {
  EngineGuard guard(EngineMutex());
  std::string sql = "INSERT INTO " + QuoteIdentifier(table.name) + " (";
  for (size_t c = 0; c < table.columns.size(); ++c) sql += (c ? ", " : "") + QuoteIdentifier(table.columns[c].name);
  sql += ") VALUES (";
  for (size_t c = 0; c < table.columns.size(); ++c) sql += (c ? ", $" : "$") + std::to_string(c + 1);
  sql += ")";
  std::vector<std::string> texts(row.size());
  std::vector<const char*> values;
  for (size_t c = 0; c < row.size(); ++c) values.push_back(ParameterText(row[c], &texts[c]));
  const PgPrepared* prepared = nullptr;
  PgResultPtr result;
  if (Status ready = session_->PrepareOnce(sql, AE_KDX_PG_SERVER, "Table " + table.name, &prepared); !ready.ok()) {
    return AsErrorLine(ready);
  }
  return AsErrorLine(session_->ExecPrepared(*prepared, values, AE_KDX_PG_SERVER, "Table " + table.name, &result));
}

Status ServerWriter::Commit() {
  EngineGuard guard(EngineMutex());
  return Exec("COMMIT", "committing");
}

}  // namespace engine
