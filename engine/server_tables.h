// Opening the tables of a PostgreSQL server connection. A table opens over
// its layout alone (columns and indexes). Forward reads in an index order
// the server orders as the engine does read a window of rows each, from the
// run's snapshot (server_windows.h), so that a table walked or sought by key
// is never held whole. The first read that needs more (another order, a
// filter, record numbers, counts) copies the rows into a private in-memory
// database (pg_mirror.h), which the connection keeps for every open of the
// table, so that everything behaves exactly as on a table file and costs no
// round trip to the server. A table the run opens but never reads is never
// copied; a failure to copy it fails the read that needed its rows, naming
// the table and the server.
#ifndef KDX_ENGINE_SERVER_TABLES_H_
#define KDX_ENGINE_SERVER_TABLES_H_

#include <memory>
#include <string>

#include "engine/connection.h"
#include "engine/engine_table.h"
#include "engine/status.h"

namespace engine {

// Opens and loads table `name` (a bare name or a path; its last component
// is matched without regard to case, an ".adt" extension dropped) of the
// server connection. Errors name the table and the server.
Status OpenServerTable(EngineConnection* connection, const std::string& name, std::unique_ptr<EngineTable>* out);

}  // namespace engine

#endif  // KDX_ENGINE_SERVER_TABLES_H_
