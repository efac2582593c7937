// The engine's side of sealed table files: opening one's schema or its
// decrypted image, and decrypting one into a schema of an SQL statement's
// database. Every failure is AE_KDX_SEALED_REFUSED, its text naming the
// file. Everything the tool needs of sealed files is in engine/storage.h
// (which this header includes), whose functions give the same texts.
#ifndef KDX_ENGINE_SEALED_FILE_H_
#define KDX_ENGINE_SEALED_FILE_H_

#include <string>

#include "engine/status.h"
#include "engine/storage.h"

struct sqlite3;

namespace engine {

// ReadSealedHeader, OpenSealedSchema and OpenSealedImage of storage.h.
Status ReadSealedFileHeader(const std::string& path, SealedHeader* header);
Status OpenSealedSchemaDatabase(const SealedHeader& header, sqlite3** db);
Status OpenSealedDatabase(const std::string& path, const std::string& password, sqlite3** db);

// Decrypts into the attached schema `schema` of `db` (used by SQL statements).
Status AttachSealedImage(sqlite3* db, const std::string& schema, const std::string& path,
                         const std::string& password);

}  // namespace engine

#endif  // KDX_ENGINE_SEALED_FILE_H_
