// The engine's side of sealed table files: decrypting one into a schema of an
// SQL statement's database. Everything the tool needs of sealed files is in
// engine/storage.h, which this header includes.
#ifndef KDX_ENGINE_SEALED_FILE_H_
#define KDX_ENGINE_SEALED_FILE_H_

#include <string>

#include "engine/storage.h"

struct sqlite3;

// Decrypts into the attached schema `schema` of `db` (used by SQL statements).
bool AttachSealedImage(sqlite3* db, const std::string& schema, const std::string& path,
                       const std::string& password, std::string* error);

#endif  // KDX_ENGINE_SEALED_FILE_H_
