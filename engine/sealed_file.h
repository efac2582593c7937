// Sealed (encrypted) free table files. A sealed file is a versioned header in
// clear (format marker, key-derivation parameters, salt, nonce and the
// table's CREATE TABLE / CREATE INDEX statements) followed by the table's
// SQLite image encrypted with XChaCha20-Poly1305 under a key derived from the
// table password with Argon2id; the header is authenticated as additional
// data. Plaintext never touches the disk: images are decrypted into memory.
#ifndef KDX_ENGINE_SEALED_FILE_H_
#define KDX_ENGINE_SEALED_FILE_H_

#include <string>
#include <vector>

struct sqlite3;

struct SealedHeader {
  std::vector<std::string> schema_sql;  // CREATE TABLE first, then CREATE INDEX
};

// Whether the file at `path` starts with the sealed-file marker.
bool IsSealedFile(const std::string& path);

// Reads and checks the header. false with `*error` naming the file when the
// file is damaged, of an unknown version, or asks for weaker key derivation
// than the minimum.
bool ReadSealedHeader(const std::string& path, SealedHeader* header, std::string* error);

// A fresh in-memory database holding the header's schema and no rows.
bool OpenSealedSchema(const SealedHeader& header, sqlite3** db, std::string* error);

// Decrypts the file into a fresh in-memory database (caller closes it).
// false with `*error` naming the file on a wrong password or a damaged file.
bool OpenSealedImage(const std::string& path, const std::string& password, sqlite3** db, std::string* error);

// Decrypts into the attached schema `schema` of `db` (used by SQL statements).
bool AttachSealedImage(sqlite3* db, const std::string& schema, const std::string& path,
                       const std::string& password, std::string* error);

// Rewrites a plain table file as a sealed one (fresh salt and nonce every
// time), or back; through a temporary file and a rename, so that the table is
// never left half-written.
bool SealFile(const std::string& path, const std::string& password, std::string* error);
bool UnsealFile(const std::string& path, const std::string& password, std::string* error);

#endif  // KDX_ENGINE_SEALED_FILE_H_
