// What kdx-db's table writers and inspection share (storage.h): the tables of
// a database in name order.
#ifndef KDX_ENGINE_TABLE_WRITER_H_
#define KDX_ENGINE_TABLE_WRITER_H_

#include <string>
#include <vector>

#include "engine/status.h"

struct sqlite3;

namespace engine {

// The tables of `db` that hold data, every table but SQLite's own
// ("sqlite_...") and the engine's ("__..."), in name order; AE_KDX_SQLITE
// with SQLite's message when the schema cannot be read (`*names` then holds
// none).
[[nodiscard]] Status TablesByName(sqlite3* db, std::vector<std::string>* names);

}  // namespace engine

#endif  // KDX_ENGINE_TABLE_WRITER_H_
