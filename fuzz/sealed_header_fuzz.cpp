// Fuzz target: the sealed-file header parser on arbitrary bytes, as a whole
// file and as a prefix. A header that parses must lie inside the input, carry
// only table and index definitions, and those must build an in-memory schema
// without running anything else.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/sealed_file.h"
#include "engine/sealed_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (bool whole_file : {true, false}) {
    SealedLayout layout;
    if (const engine::Status parsed = ParseSealedLayout(bytes, whole_file, "fuzz", &layout); !parsed.ok()) {
      if (parsed.text().empty()) std::abort();
      continue;
    }
    if (layout.header_bytes > size || layout.schema_sql.empty()) std::abort();
    if (whole_file && layout.header_bytes + layout.cipher_bytes != size) std::abort();
    for (const std::string& sql : layout.schema_sql)
      if (!IsSchemaStatement(sql)) std::abort();
    SealedHeader header;
    header.schema_sql = layout.schema_sql;
    sqlite3* db = nullptr;
    if (OpenSealedSchema(header, &db).ok()) {
      // Nothing but tables and indexes may exist afterwards.
      sqlite3_stmt* stmt = nullptr;
      sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema WHERE type NOT IN ('table','index')", -1, &stmt,
                         nullptr);
      if (sqlite3_step(stmt) != SQLITE_ROW || sqlite3_column_int(stmt, 0) != 0) std::abort();
      sqlite3_finalize(stmt);
      if (sqlite3_db_filename(db, "main") == nullptr) std::abort();
      sqlite3_close(db);
    }
  }
  return 0;
}
