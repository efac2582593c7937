// kdx-db's side of a PostgreSQL server holding the HR database: writing the
// sample tables onto a server and importing CSV rows into a server table,
// through the engine's session (engine/storage.h, ServerWriter). The program
// itself never writes to the server; only the tool does, and only into
// tables that do not exist yet.
//
// Tables and columns are created under their names in lower case; index
// tags are created as indexes named "<table>.<tag>". Every table gets the
// engine's own order column, kdx_order (engine::kServerOrderColumn), an
// identity that is its primary key and is never listed by the engine: rows
// written in the table file's order keep that order on the server whatever
// is updated later, and rows appended later (kdx-db import) follow them.
#ifndef KDX_TOOLS_SERVER_DATABASE_H_
#define KDX_TOOLS_SERVER_DATABASE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sample_database.h"
#include "util/connection_path.h"

// Writes the sample tables onto the server `uri` names: the same rows as
// GenerateSampleDatabase with `options` (nothing sealed), in one
// transaction. Refuses, writing nothing, when any sample table exists on the
// server already. false with `*error` naming the server (never the
// password) and the table on failure; nothing is left behind then.
[[nodiscard]] bool GenerateSampleOnServer(const std::string& uri, const SampleOptions& options,
                                          SampleSummary* summary, std::string* error);

// Appends the rows of `csv_path` to table `table` of the server, with the
// conversions and checks of ImportCsvIntoTable, all or nothing in one
// transaction. On failure `*errors` lists what is wrong and nothing is added.
[[nodiscard]] bool ImportCsvIntoServerTable(const std::string& uri, const std::string& table,
                                            const std::string& csv_path, int64_t* rows,
                                            std::vector<std::string>* errors);

#endif  // KDX_TOOLS_SERVER_DATABASE_H_
