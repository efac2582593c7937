#include "engine/server_tables.h"

#include <sqlite3.h>

#include "engine/errors.h"
#include "engine/pg_catalog.h"
#include "engine/pg_mirror.h"
#include "engine/pg_session.h"

namespace engine {

Status OpenServerTable(EngineConnection* connection, const std::string& name, std::unique_ptr<EngineTable>* out) {
  const PgTable* table = nullptr;
  if (Status rc = connection->catalog()->FindTable(name, &table); !rc.ok()) return rc;
  sqlite3* db = connection->mirror(table->oid);
  if (db == nullptr) {
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return Status(AE_KDX_SQLITE, "Table " + table->name + " of " + connection->session()->name() +
                                         ": no memory for its rows");
    }
    // The copy holds the server's rows: it must never spill to a file.
    if (sqlite3_exec(db, "PRAGMA temp_store=MEMORY; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr,
                     nullptr, nullptr) != SQLITE_OK) {
      const Status failed = SqliteError(AE_KDX_SQLITE, "Table " + table->name + " of " +
                                                           connection->session()->name() + ": keeping its rows in memory",
                                        db);
      sqlite3_close(db);
      return failed;
    }
    if (Status rc = PgMirrorTable(*connection->session(), *table, db); !rc.ok()) {
      sqlite3_close(db);  // a partial copy is never kept
      return rc;
    }
    connection->AddMirror(table->oid, db);
  }
  auto opened = std::make_unique<EngineTable>(connection, db, false, "main", table->name, table->name);
  if (Status rc = opened->Load(); !rc.ok()) return rc;
  *out = std::move(opened);
  return Status();
}

}  // namespace engine
