// kdx-db check's view of a database file: tables, columns, indexes and rows as
// they are stored, without the engine's refusals.
#include <sqlite3.h>

#include <fstream>

#include "engine/sqlite_support.h"
#include "engine/storage.h"
#include "engine/table_writer.h"

namespace engine {
namespace {

std::string Text(sqlite3_stmt* stmt, int column) {
  const unsigned char* t = sqlite3_column_text(stmt, column);
  return t ? reinterpret_cast<const char*>(t) : "";
}

// A result value as StoredValue holds it: a number with its text as SQLite
// writes it.
StoredValue ValueOf(sqlite3_stmt* stmt, int column) {
  StoredValue value;
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL: return value;
    case SQLITE_INTEGER:
      value.kind = StoredValue::Kind::kInteger;
      value.integer = sqlite3_column_int64(stmt, column);
      break;
    case SQLITE_FLOAT:
      value.kind = StoredValue::Kind::kReal;
      value.real = sqlite3_column_double(stmt, column);
      break;
    case SQLITE_BLOB: {
      value.kind = StoredValue::Kind::kBlob;
      const char* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, column));
      value.text.assign(bytes != nullptr ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
      return value;
    }
    default: value.kind = StoredValue::Kind::kText; break;
  }
  value.text = Text(stmt, column);
  return value;
}

// Runs `sql` with `name` bound to ?1, giving each row to `row`; SQLite's
// message when the statement cannot be prepared or stepped.
Status EachRow(sqlite3* db, const char* sql, const std::string& name, const std::function<void(sqlite3_stmt*)>& row) {
  Statement stmt;
  if (sqlite3_prepare_v2(db, sql, -1, stmt.out(), nullptr) != SQLITE_OK ||
      sqlite3_bind_text(stmt.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    return Status(AE_KDX_SQLITE, sqlite3_errmsg(db));
  }
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) row(stmt.get());
  if (rc != SQLITE_DONE) return Status(AE_KDX_SQLITE, sqlite3_errmsg(db));
  return Status();
}

}  // namespace

bool LooksLikeDatabaseFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[16] = {};
  in.read(magic, 16);
  return in.gcount() == 16 && std::string(magic, 16) == std::string("SQLite format 3\0", 16);
}

InspectedDatabase::~InspectedDatabase() { sqlite3_close(db_); }

Status InspectedDatabase::Open(const std::string& path, std::unique_ptr<InspectedDatabase>* database) {
  sqlite3* db = nullptr;
  if (Status opened = OpenDatabaseReadOnly(path, &db); !opened.ok()) return opened;
  database->reset(new InspectedDatabase(db));
  return Status();
}

Status InspectedDatabase::OpenSealed(const std::string& path, const std::string& password,
                                     std::unique_ptr<InspectedDatabase>* database) {
  sqlite3* db = nullptr;
  if (Status opened = OpenSealedImage(path, password, &db); !opened.ok()) {
    sqlite3_close(db);
    return opened;
  }
  database->reset(new InspectedDatabase(db));
  return Status();
}

Status InspectedDatabase::OpenSealedSchema(const SealedHeader& header, std::unique_ptr<InspectedDatabase>* database) {
  sqlite3* db = nullptr;
  if (Status opened = ::OpenSealedSchema(header, &db); !opened.ok()) {
    sqlite3_close(db);
    return opened;
  }
  database->reset(new InspectedDatabase(db));
  return Status();
}

Status InspectedDatabase::Tables(std::vector<std::string>* names) const {
  names->clear();
  if (Status listed = TablesByName(db_, names); !listed.ok()) {
    names->clear();
    return listed;
  }
  return Status();
}

Status InspectedDatabase::Columns(const std::string& table, std::vector<ColumnDefinition>* columns) const {
  columns->clear();
  return EachRow(db_, "SELECT name, type FROM pragma_table_info(?1)", table,
                 [&](sqlite3_stmt* row) { columns->push_back({Text(row, 0), Text(row, 1)}); });
}

Status InspectedDatabase::Indexes(const std::string& table, std::vector<DeclaredIndex>* indexes) const {
  // Indexes made by CREATE INDEX (origin 'c'); SQLite's own are not the engine's.
  indexes->clear();
  if (Status listed = EachRow(db_, "SELECT name FROM pragma_index_list(?1) WHERE origin = 'c'", table,
                              [&](sqlite3_stmt* row) { indexes->push_back({Text(row, 0), {}, false, false}); });
      !listed.ok()) {
    return listed;
  }
  for (DeclaredIndex& index : *indexes) {
    if (Status read = EachRow(db_, "SELECT cid, name, desc FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno",
                              index.name,
                              [&](sqlite3_stmt* row) {
                                if (sqlite3_column_int(row, 0) == -2) index.expression = true;
                                if (index.columns.empty()) index.descending = sqlite3_column_int(row, 2) != 0;
                                index.columns.push_back(Text(row, 1));
                              });
        !read.ok()) {
      return read;
    }
  }
  return Status();
}

Status InspectedDatabase::Query(const std::string& sql,
                                const std::function<void(const std::vector<StoredValue>&)>& row) const {
  Statement stmt;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, stmt.out(), nullptr) != SQLITE_OK) {
    return Status(AE_KDX_SQLITE, sqlite3_errmsg(db_));
  }
  const int columns = sqlite3_column_count(stmt.get());
  std::vector<StoredValue> values(static_cast<size_t>(columns));
  while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
    for (int c = 0; c < columns; ++c) values[static_cast<size_t>(c)] = ValueOf(stmt.get(), c);
    row(values);
  }
  return Status();
}

}  // namespace engine
