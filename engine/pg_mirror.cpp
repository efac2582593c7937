// Server tables copied into SQLite.
#include "engine/pg_mirror.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdlib>

#include "engine/errors.h"
#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "engine/pg_values.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {
namespace {

constexpr char kCursor[] = "kdx_mirror";

void BindStored(sqlite3_stmt* insert, int index, const ResultCell& cell) {
  switch (cell.type) {
    case SQLITE_INTEGER: sqlite3_bind_int64(insert, index, cell.integer); break;
    case SQLITE_FLOAT: sqlite3_bind_double(insert, index, cell.real); break;
    case SQLITE_TEXT: sqlite3_bind_text64(insert, index, cell.bytes, cell.size, SQLITE_STATIC, SQLITE_UTF8); break;
    case SQLITE_BLOB: sqlite3_bind_blob64(insert, index, cell.bytes, cell.size, SQLITE_STATIC); break;
    default: sqlite3_bind_null(insert, index); break;
  }
}

Status CreateTable(const PgTable& table, sqlite3* db, const std::string& where, Statement* insert) {
  std::string create = "CREATE TABLE main." + QuoteIdentifier(table.name) + "(";
  std::string names;
  std::string values;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    create += (i == 0 ? "" : ", ") + QuoteIdentifier(table.columns[i].name) + " " + table.columns[i].declared;
    names += (i == 0 ? "" : ", ") + QuoteIdentifier(table.columns[i].name);
    values += i == 0 ? "?" : ", ?";
  }
  create += ")";
  if (!PgIntegerKey(table).empty()) {
    names += ", " + PgRowidName(table);
    values += ", ?";
  }
  const std::string insert_sql =
      "INSERT INTO main." + QuoteIdentifier(table.name) + "(" + names + ") VALUES(" + values + ")";
  if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, insert_sql.c_str(), -1, insert->out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Table " + table.name + where + ": creating its copy in memory", db);
  }
  return Status();
}

}  // namespace

std::string PgIntegerKey(const PgTable& table) {
  if (table.order.size() != 1 || table.order[0].descending) return "";
  const std::string& key = table.order[0].name;
  bool integer = table.hidden_attnum != 0 && EqualsNoCase(key, kOrderColumn);
  for (const PgColumn& column : table.columns) {
    if (column.name == key) integer = column.form == PgValueForm::kInteger;
  }
  return integer ? QuoteIdentifier(key) : "";
}

std::string PgRowidName(const PgTable& table) {
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    bool hidden = false;
    for (const PgColumn& column : table.columns) hidden = hidden || EqualsNoCase(column.name, name);
    if (!hidden) return name;
  }
  return "rowid";
}

Status PgStoreRows(const PgTable& table, const pg_result* rows, bool with_rowid, sqlite3* db, sqlite3_stmt* insert,
                   const std::string& where, int64_t* row, std::vector<std::string>* scratch) {
  const int columns = static_cast<int>(table.columns.size());
  scratch->resize(table.columns.size());
  for (int r = 0; r < PQntuples(rows); ++r) {
    ++*row;
    for (int c = 0; c < columns; ++c) {
      ResultCell cell;
      std::string why;
      const char* text = PQgetisnull(rows, r, c) ? nullptr : PQgetvalue(rows, r, c);
      if (!ToStoredForm(table.columns[c].form, text, PQgetlength(rows, r, c), &(*scratch)[c], &cell, &why)) {
        return Status(AE_KDX_BAD_STORED_VALUE, "Table " + table.name + where + ", column " + table.columns[c].name +
                                                   ", row " + std::to_string(*row) + ": " + why)
            .WithTable(table.name)
            .WithColumn(table.columns[c].name);
      }
      BindStored(insert, c + 1, cell);
    }
    if (with_rowid) sqlite3_bind_int64(insert, columns + 1, std::strtoll(PQgetvalue(rows, r, columns), nullptr, 10));
    const int rc = sqlite3_step(insert);
    sqlite3_reset(insert);
    if (rc != SQLITE_DONE) {
      return SqliteError(AE_KDX_SQLITE, "Table " + table.name + where + ": storing row " + std::to_string(*row), db);
    }
  }
  return Status();
}

namespace {

// Reads every row through a server cursor inside a savepoint of its own, so
// that a refused read leaves the session's transaction usable.
Status CopyRows(PgSession& session, const PgTable& table, sqlite3* db, sqlite3_stmt* insert) {
  const std::string where = " on " + session.name();
  const std::string context = "reading table " + table.name;
  std::string select;
  for (const PgColumn& column : table.columns) select += (select.empty() ? "" : ", ") + column.select;
  const std::string key = PgIntegerKey(table);
  if (!key.empty()) select += ", " + key;
  const std::string fetch = "FETCH " + std::to_string(kPgMirrorBatchRows) + " FROM " + kCursor;
  const std::string open = std::string("SAVEPOINT ") + kCursor + "; DECLARE " + kCursor +
                           " NO SCROLL CURSOR FOR SELECT " + select + " FROM " + table.qualified +
                           " ORDER BY " + OrderByList(table, "") + "; " + fetch;
  int64_t row = 0;
  std::vector<std::string> scratch;
  PgResultPtr batch;
  Status rc = session.Exec(open, AE_KDX_PG_SERVER, context, &batch);
  while (rc.ok()) {
    rc = PgStoreRows(table, batch.get(), !key.empty(), db, insert, where, &row, &scratch);
    if (!rc.ok() || PQntuples(batch.get()) < kPgMirrorBatchRows) break;
    rc = session.Exec(fetch, AE_KDX_PG_SERVER, context, &batch);
  }
  if (!rc.ok()) {
    session.RollbackTo(kCursor);
    return rc;
  }
  return session.Exec(std::string("CLOSE ") + kCursor + "; RELEASE SAVEPOINT " + kCursor, AE_KDX_PG_SERVER, context,
                      nullptr);
}

Status CreateIndexes(const PgTable& table, sqlite3* db, const std::string& where) {
  for (const PgIndex& index : table.indexes) {
    std::string keys;
    for (size_t s = 0; s < index.segments.size(); ++s) {
      keys += (s == 0 ? "" : ", ") + QuoteIdentifier(table.columns[index.segments[s]].name) +
              (index.descending[s] ? " DESC" : "");
    }
    const std::string tail = " INDEX main." + QuoteIdentifier(table.name + "." + index.tag) + " ON " +
                             QuoteIdentifier(table.name) + "(" + keys + ")";
    int rc = sqlite3_exec(db, ((index.unique ? "CREATE UNIQUE" : "CREATE") + tail).c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_CONSTRAINT && index.unique) {
      rc = sqlite3_exec(db, ("CREATE" + tail).c_str(), nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
      return SqliteError(AE_KDX_SQLITE, "Table " + table.name + where + ": creating index " + index.tag, db);
    }
  }
  return Status();
}

}  // namespace

Status PgMirrorLayout(const PgTable& table, const std::string& server, sqlite3* db) {
  if (Status rc = RequireOrder(table, server); !rc.ok()) return rc;
  const std::string where = " on " + server;
  Statement insert;
  if (Status rc = CreateTable(table, db, where, &insert); !rc.ok()) return rc;
  return CreateIndexes(table, db, where);
}

Status PgMirrorTable(PgSession& session, const PgTable& table, sqlite3* db) {
  if (Status rc = RequireOrder(table, session.name()); !rc.ok()) return rc;
  const std::string where = " on " + session.name();
  Statement insert;
  if (Status rc = CreateTable(table, db, where, &insert); !rc.ok()) return rc;
  if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Table " + table.name + where + ": storing its rows", db);
  }
  Status rc = CopyRows(session, table, db, insert.get());
  insert = Statement();
  if (!rc.ok()) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
  }
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Table " + table.name + where + ": storing its rows", db);
  }
  return CreateIndexes(table, db, where);
}

}  // namespace engine
