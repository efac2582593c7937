// Database files as kdx-db makes and maintains them: sealing and unsealing
// free table files, reading a sealed file's clear header or its decrypted
// image, and dictionaries with their accounts. The engine reads the same
// files through the entry points of engine/ads.h; these functions are for
// the tool and its tests.
//
// Sealed (encrypted) free table files: a versioned header in clear (format
// marker, key-derivation parameters, salt, nonce and the table's CREATE
// TABLE / CREATE INDEX statements) followed by the table's SQLite image
// encrypted with XChaCha20-Poly1305 under a key derived from the table
// password with Argon2id; the header is authenticated as additional data.
// Plaintext never touches the disk: images are decrypted into memory.
//
// Dictionary accounts: the table `__users` of a dictionary file holds one row
// per user, the user name (compared without regard to ASCII case) and the
// password as a libsodium Argon2id hash string. Passwords are never stored,
// logged or put into any message.
#ifndef KDX_ENGINE_STORAGE_H_
#define KDX_ENGINE_STORAGE_H_

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
// Rewrites a plain table file as a sealed one (fresh salt and nonce every
// time), or back; through a temporary file and a rename, so that the table is
// never left half-written.
bool SealFile(const std::string& path, const std::string& password, std::string* error);
bool UnsealFile(const std::string& path, const std::string& password, std::string* error);
// Forgets every key derived in this process (tests and benchmarks measure
// the key derivation with it; it also wipes the keys from memory).
void ForgetSealedKeys();

// Opens the database file `path` read-only, exactly as the engine reads it:
// nothing is created, changed or deleted beside it and closing it never
// checkpoints. false with `*error` naming the file when it cannot be read,
// is no SQLite database, or was left in the middle of a write by another
// program (a hot journal).
bool OpenDatabaseReadOnly(const std::string& path, sqlite3** db, std::string* error);

// What a connection path names, as AdsConnect60 decides it for a path that
// is no server URI: a folder of free tables; a free table file (sealed, or
// holding just the one table named like the file), to which no connection
// can be made; a dictionary (any other regular file); or nothing.
enum class ConnectionPathKind { kNothing, kFolder, kTableFile, kDictionary };
ConnectionPathKind ClassifyConnectionPath(const std::string& path);

// Adds `user` with `password` to the dictionary open as `db` (read-write);
// false with `*error` when the name is empty, longer than 128 characters or
// holds control characters, the password is empty, the user exists (in any
// case), or the write fails.
bool AddDictionaryUser(sqlite3* db, const std::string& user, const std::string& password,
                       std::string* error);
// The same on the dictionary file at `path`.
bool AddDictionaryUser(const std::string& path, const std::string& user, const std::string& password,
                       std::string* error);
// Creates a new, empty dictionary file at `path` holding the account table
// (and no accounts: nobody can log in until one is added). Refuses to
// overwrite an existing file.
bool CreateDictionary(const std::string& path, std::string* error);
// Whether `user` may log in with `password` to the dictionary open as `db`.
// false with `*error` on a wrong pair or an unknown user (the same text for
// both), a dictionary without accounts, or a damaged hash. Never mentions the
// password.
bool CheckDictionaryLogin(sqlite3* db, const std::string& user, const std::string& password,
                          std::string* error);

#endif  // KDX_ENGINE_STORAGE_H_
