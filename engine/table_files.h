// Opening tables stored in SQLite files: the one table of a free table file
// (plain, or sealed with its rows hidden until AdsEnableEncryption), and a
// table of a dictionary. AdsOpenTable and the tool's schema descriptions open
// tables through these, so both see the same table.
#ifndef KDX_ENGINE_TABLE_FILES_H_
#define KDX_ENGINE_TABLE_FILES_H_

#include <memory>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/connection.h"
#include "engine/engine_table.h"

struct sqlite3;

namespace engine {

// The tables of a database that hold data: everything but SQLite's and the
// engine's own ("__..."), in the order they were created. `where` names the
// database in messages.
Status UserTables(sqlite3* db, const std::string& where, std::vector<std::string>* names);

// Opens and loads the one table of the free table file `file`, which must be
// named like the file. `connection` (may be null) is the table's parent.
Status OpenTableFile(EngineConnection* connection, const std::string& file, std::unique_ptr<EngineTable>* out);

// Opens and loads table `name` (an extension is ignored, case too) of the
// connection's dictionary; 5132 when the dictionary has no such table.
Status OpenDictionaryTable(EngineConnection* connection, const std::string& name, std::unique_ptr<EngineTable>* out);

}  // namespace engine

#endif  // KDX_ENGINE_TABLE_FILES_H_
