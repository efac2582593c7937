// What kdx-db's table writers and inspection share (storage.h): the tables of
// a database in name order.
#ifndef KDX_ENGINE_TABLE_WRITER_H_
#define KDX_ENGINE_TABLE_WRITER_H_

#include <string>
#include <vector>

struct sqlite3;

namespace engine {

// The tables of `db` that hold data, every table but SQLite's own
// ("sqlite_...") and the engine's ("__..."), in name order; false when the
// schema cannot be read (`*names` then holds none).
[[nodiscard]] bool TablesByName(sqlite3* db, std::vector<std::string>* names);

}  // namespace engine

#endif  // KDX_ENGINE_TABLE_WRITER_H_
