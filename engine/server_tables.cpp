#include "engine/server_tables.h"

#include <sqlite3.h>

#include "engine/errors.h"
#include "engine/pg_catalog.h"
#include "engine/pg_mirror.h"
#include "engine/pg_session.h"
#include "engine/server_windows.h"

namespace engine {
namespace {

// A private in-memory database for table `table`'s rows or layout, which
// never spills to a file: it holds the server's rows. Its journal is kept
// (in memory), so that a unique index its rows refuse leaves nothing behind
// and can be made plain.
Status OpenMemory(EngineConnection* connection, const PgTable& table, sqlite3** out) {
  sqlite3* db = nullptr;
  const std::string place = "Table " + table.name + " of " + connection->session()->name();
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return Status(AE_KDX_SQLITE, place + ": no memory for its rows");
  }
  // Pages freed in memory need no zeroing: windows replace each other.
  if (sqlite3_exec(db,
                   "PRAGMA temp_store=MEMORY; PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF;"
                   " PRAGMA secure_delete=OFF",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    const Status failed = SqliteError(AE_KDX_SQLITE, place + ": keeping its rows in memory", db);
    sqlite3_close(db);
    return failed;
  }
  *out = db;
  return Status();
}

// The connection's copy of the rows of `table`, made on the first call.
Status LoadRows(EngineConnection* connection, const PgTable& table, sqlite3** out) {
  if (sqlite3* db = connection->mirror(table.oid); db != nullptr) {
    *out = db;
    return Status();
  }
  sqlite3* db = nullptr;
  if (Status rc = OpenMemory(connection, table, &db); !rc.ok()) return rc;
  if (Status rc = PgMirrorTable(*connection->session(), table, db); !rc.ok()) {
    sqlite3_close(db);  // a partial copy is never kept
    return rc;
  }
  connection->AddMirror(table.oid, db);
  *out = db;
  return Status();
}

}  // namespace

Status OpenServerTable(EngineConnection* connection, const std::string& name, std::unique_ptr<EngineTable>* out) {
  const PgTable* table = nullptr;
  if (Status rc = connection->catalog()->FindTable(name, &table); !rc.ok()) return rc;
  sqlite3* db = connection->mirror(table->oid);
  const bool copied = db != nullptr;
  if (!copied) {
    if (Status rc = OpenMemory(connection, *table, &db); !rc.ok()) return rc;
    if (Status rc = PgMirrorLayout(*table, connection->session()->name(), db); !rc.ok()) {
      sqlite3_close(db);
      return rc;
    }
  }
  auto opened = std::make_unique<EngineTable>(connection, db, !copied, "main", table->name, table->name);
  if (Status rc = opened->Load(); !rc.ok()) return rc;
  if (!copied) {
    opened->set_rows_loader(
        [connection, table](sqlite3** rows) { return LoadRows(connection, *table, rows); });
    opened->set_row_windows(ServerWindows::For(connection->session(), table, *opened, db));
  }
  *out = std::move(opened);
  return Status();
}

}  // namespace engine
