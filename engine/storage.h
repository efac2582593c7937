// Database files as kdx-db makes and maintains them: sealing and unsealing
// free table files, reading a sealed file's clear header or its decrypted
// image, dictionaries with their accounts, and (namespace engine) making,
// filling and inspecting tables in files and on a PostgreSQL server. The
// engine reads the same files through the entry points of engine/ads.h;
// these functions are for the tool and its tests, and the only way kdx-db
// reaches SQLite or libpq.
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

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/schema.h"

struct sqlite3;
struct sqlite3_stmt;

struct SealedHeader {
  std::vector<std::string> schema_sql;  // CREATE TABLE first, then CREATE INDEX
};

// Whether the file at `path` starts with the sealed-file marker.
bool IsSealedFile(const std::string& path);
// Every failure of the sealed-file functions is AE_KDX_SEALED_REFUSED, its
// text naming the file.
//
// Reads and checks the header. A failure when the file is damaged, of an
// unknown version, or asks for weaker key derivation than the minimum.
[[nodiscard]] engine::Status ReadSealedHeader(const std::string& path, SealedHeader* header);
// A fresh in-memory database holding the header's schema and no rows.
[[nodiscard]] engine::Status OpenSealedSchema(const SealedHeader& header, sqlite3** db);
// Decrypts the file into a fresh in-memory database (caller closes it). A
// failure on a wrong password or a damaged file.
[[nodiscard]] engine::Status OpenSealedImage(const std::string& path, const std::string& password, sqlite3** db);
// Rewrites a plain table file as a sealed one (fresh salt and nonce every
// time), or back; through a temporary file and a rename, so that the table is
// never left half-written.
[[nodiscard]] engine::Status SealFile(const std::string& path, const std::string& password);
[[nodiscard]] engine::Status UnsealFile(const std::string& path, const std::string& password);
// SealFile writes format version 2, each page sealed on its own and read
// page by page. Version 1 (the whole image in one ciphertext) is still read;
// SealFileVersion1 writes it, for tests and benchmarks of sites that hold it.
[[nodiscard]] engine::Status SealFileVersion1(const std::string& path, const std::string& password);
// Rewrites a version 1 sealed file as version 2 under the same password,
// through a temporary file and a rename; refuses a file of version 2.
[[nodiscard]] engine::Status ResealFile(const std::string& path, const std::string& password);
// The format version of a sealed file (1 or 2), 0 for any other file.
uint16_t SealedFormatVersion(const std::string& path);
// Authenticates the whole sealed file: every page of version 2 (one at a
// time), the whole image of version 1. A failure names the file and, for
// version 2, the first page that fails.
[[nodiscard]] engine::Status VerifySealedFile(const std::string& path, const std::string& password);
// Forgets every key derived in this process (tests and benchmarks measure
// the key derivation with it; it also wipes the keys from memory).
void ForgetSealedKeys();

// Opens the database file `path` read-only, exactly as the engine reads it:
// nothing is created, changed or deleted beside it and closing it never
// checkpoints. A failure with the engine's code for opening a table file and
// the text "error <code>: <text>" naming the file when it cannot be read, is
// no SQLite database, or was left in the middle of a write by another program
// (a hot journal).
[[nodiscard]] engine::Status OpenDatabaseReadOnly(const std::string& path, sqlite3** db);

// What a connection path names, as AdsConnect60 decides it for a path that
// is no server URI: a folder of free tables; a free table file (sealed, or
// holding just the one table named like the file), to which no connection
// can be made; a dictionary (any other regular file); or nothing.
enum class ConnectionPathKind { kNothing, kFolder, kTableFile, kDictionary };
ConnectionPathKind ClassifyConnectionPath(const std::string& path);

// Adds `user` with `password` to the dictionary open as `db` (read-write);
// AE_KDX_LOGIN_FAILED when the name is empty, longer than 128 characters or
// holds control characters, the password is empty, the user exists (in any
// case), or the write fails.
[[nodiscard]] engine::Status AddDictionaryUser(sqlite3* db, const std::string& user, const std::string& password);
// The same on the dictionary file at `path`.
[[nodiscard]] engine::Status AddDictionaryUser(const std::string& path, const std::string& user,
                                               const std::string& password);
// Creates a new, empty dictionary file at `path` holding the account table
// (and no accounts: nobody can log in until one is added). Refuses to
// overwrite an existing file (AE_KDX_LOGIN_FAILED, as every failure here).
[[nodiscard]] engine::Status CreateDictionary(const std::string& path);
// Whether `user` may log in with `password` to the dictionary open as `db`.
// AE_KDX_LOGIN_FAILED on a wrong pair or an unknown user (the same text for
// both), a dictionary without accounts, or a damaged hash. Never mentions the
// password.
[[nodiscard]] engine::Status CheckDictionaryLogin(sqlite3* db, const std::string& user, const std::string& password);
// The user names of the dictionary at `path`, without regard to case in name
// order; the file is only read, and no hash is read or shown. A failure
// naming the file when it cannot be read (OpenDatabaseReadOnly's), holds no
// account table (AE_KDX_LOGIN_FAILED) or the table cannot be read
// (AE_KDX_SQLITE).
[[nodiscard]] engine::Status ListDictionaryUsers(const std::string& path, std::vector<std::string>* users);
// Removes `user` (compared without regard to case) from the dictionary at
// `path`. A failure when the file cannot be opened for writing or written
// (AE_KDX_SQLITE), holds no account table (AE_KDX_LOGIN_FAILED) or no such
// user (AE_KDX_INVALID_ARGUMENT); nothing is changed then.
[[nodiscard]] engine::Status RemoveDictionaryUser(const std::string& path, const std::string& user);

namespace engine {

// Whether the file at `path` starts like an SQLite database ("SQLite format 3").
bool LooksLikeDatabaseFile(const std::string& path);

// ---- making tables --------------------------------------------------------

// A column to create: its name and declared type ("CHAR(12)").
struct ColumnDefinition {
  std::string name;
  std::string type;
};
// An index to create: its name, key columns in order, and whether unique.
struct IndexDefinition {
  std::string name;
  std::vector<std::string> columns;
  bool unique = false;
};
struct TableDefinition {
  std::string name;
  std::vector<ColumnDefinition> columns;
  std::vector<IndexDefinition> indexes;
};

// CREATE TABLE "name" ("column" TYPE, ...): the statement a table is created
// with, names quoted as SQL identifiers.
std::string CreateTableSql(const TableDefinition& table);
// CREATE [UNIQUE] INDEX "name" ON "table" ("column", ...).
std::string CreateIndexSql(const std::string& table, const std::string& name, const std::vector<std::string>& columns,
                           bool unique);

// Writes a new table file: the table created, its rows inserted in one
// transaction, then its indexes (several times faster than keeping them up
// to date row by row). The journal and syncing are off: a file whose
// writing failed is half-written, and its caller removes it. A row's values
// are given column by column in table order, then Row() inserts them.
class TableFileWriter {
 public:
  explicit TableFileWriter(TableDefinition table);
  ~TableFileWriter();
  TableFileWriter(const TableFileWriter&) = delete;
  TableFileWriter& operator=(const TableFileWriter&) = delete;

  // Creates the file `path` with the table. Failures (AE_KDX_SQLITE unless
  // said otherwise) name the table and path:
  // "Table T (PATH): cannot create the table: <SQLite's message>".
  [[nodiscard]] Status Open(const std::string& path);
  void Text(std::string_view value);
  void Integer(int64_t value);
  void Real(double value);
  void Null();
  // Inserts the values given since the last row; refuses a row that does
  // not set every column (AE_KDX_INVALID_ARGUMENT).
  [[nodiscard]] Status Row();
  // Creates the indexes, commits and closes the file.
  [[nodiscard]] Status Finish();
  int64_t rows() const { return rows_; }

 private:
  [[nodiscard]] bool Exec(const std::string& sql);
  // The failure of `what`, with the table, the path and SQLite's message.
  [[nodiscard]] Status Fail(const std::string& what, UNSIGNED32 code = AE_KDX_SQLITE);

  TableDefinition table_;
  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  int bound_ = 0;
  int64_t rows_ = 0;
};

// A table to copy: its definition and the table file that holds its rows.
struct TableSource {
  TableDefinition table;
  std::string file;
};

// Creates the dictionary file `path` (CreateDictionary: never over an
// existing file) holding a copy of each table of `tables`, index names
// prefixed with "<table>.", and the account `user` with `password`. The
// first failure, naming the dictionary and the table (AE_KDX_SQLITE, or
// CreateDictionary's and AddDictionaryUser's); the caller removes the file
// then.
[[nodiscard]] Status BuildDictionary(const std::string& path, const std::vector<TableSource>& tables,
                                     const std::string& user, const std::string& password);

// Rows appended to the one table of a free table file, all or nothing: the
// rows go in one transaction, which is rolled back unless committed.
class TableFileAppender {
 public:
  ~TableFileAppender();
  TableFileAppender(const TableFileAppender&) = delete;
  TableFileAppender& operator=(const TableFileAppender&) = delete;

  // Opens the plain table file `path` for writing (a writer's lock is
  // waited for 5 s) with its one table, which must be named like the file
  // without regard to case. A failure naming the file: AE_KDX_SQLITE,
  // AE_KDX_NOT_A_DATABASE, or AE_KDX_TABLE_LAYOUT for other tables.
  [[nodiscard]] static Status Open(const std::string& path, std::unique_ptr<TableFileAppender>* appender);
  const std::string& table() const { return table_; }
  // The table's columns in order, with their types as declared.
  const std::vector<ColumnDefinition>& columns() const { return columns_; }
  // One more than the largest value of `column` (1 when it holds none; 0
  // when it cannot be read).
  int64_t NextNumber(const std::string& column);
  // Begins the transaction, waiting for no other writer. AE_KDX_SQLITE
  // naming the table.
  [[nodiscard]] Status Begin();
  // Inserts one row, a value per column; AE_KDX_SQLITE with SQLite's reason
  // as the text (a constraint the row breaks), and everything rolled back.
  [[nodiscard]] Status Append(const std::vector<StoredValue>& row);
  // AE_KDX_SQLITE naming the table.
  [[nodiscard]] Status Commit();

 private:
  TableFileAppender() = default;
  [[nodiscard]] bool Exec(const char* sql);
  std::string Message() const;

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  bool in_transaction_ = false;
  std::string table_;
  std::vector<ColumnDefinition> columns_;
};

// ---- inspecting tables ----------------------------------------------------

// An index as CREATE INDEX made it: its name as stored (with any "<table>."
// prefix), its key columns, whether its first key column is descending, and
// whether a key is an expression (its column name then "").
struct DeclaredIndex {
  std::string name;
  std::vector<std::string> columns;
  bool descending = false;
  bool expression = false;
};

// A database file read as it is, without the engine's refusals, for kdx-db
// check: its tables, their columns and indexes as declared, and their rows.
class InspectedDatabase {
 public:
  ~InspectedDatabase();
  InspectedDatabase(const InspectedDatabase&) = delete;
  InspectedDatabase& operator=(const InspectedDatabase&) = delete;

  // The file `path`, read-only as OpenDatabaseReadOnly opens it (its
  // failures).
  [[nodiscard]] static Status Open(const std::string& path, std::unique_ptr<InspectedDatabase>* database);
  // A sealed file's image, decrypted into memory with `password`
  // (OpenSealedImage's failures).
  [[nodiscard]] static Status OpenSealed(const std::string& path, const std::string& password,
                                         std::unique_ptr<InspectedDatabase>* database);
  // A sealed file's schema without rows, from its clear header.
  [[nodiscard]] static Status OpenSealedSchema(const SealedHeader& header,
                                               std::unique_ptr<InspectedDatabase>* database);

  // The tables that hold data (not SQLite's "sqlite_..." nor the engine's
  // "__..."), in name order. AE_KDX_SQLITE with SQLite's message when the
  // schema cannot be read.
  [[nodiscard]] Status Tables(std::vector<std::string>* names) const;
  // The columns of `table` in order, with their declared types.
  [[nodiscard]] Status Columns(const std::string& table, std::vector<ColumnDefinition>* columns) const;
  // The indexes of `table` that CREATE INDEX made (not SQLite's own).
  [[nodiscard]] Status Indexes(const std::string& table, std::vector<DeclaredIndex>* indexes) const;
  // Runs `sql` and gives each row's values to `row`. AE_KDX_SQLITE with
  // SQLite's message as the text when the statement cannot be prepared.
  [[nodiscard]] Status Query(const std::string& sql,
                             const std::function<void(const std::vector<StoredValue>&)>& row) const;

 private:
  explicit InspectedDatabase(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

// ---- tables on a PostgreSQL server ----------------------------------------

class PgSession;

// The engine's order column of a server table (never listed as a column):
// kdx-db gives every table it creates one, an identity that is its primary
// key, so that rows keep the order they were written in.
inline constexpr char kServerOrderColumn[] = "kdx_order";

// kdx-db's writes to a server: one session as the engine opens it (its
// connect timeout, keepalives and read timeout; no text shows the password),
// in one read-write transaction that is rolled back unless committed. Tables
// and columns are created under their names in lower case, index tags as
// indexes named "<table>.<tag>". Failures carry the session's code and the
// text "error <code>: <text>" naming the server, unless said otherwise.
class ServerWriter {
 public:
  ~ServerWriter();
  ServerWriter(const ServerWriter&) = delete;
  ServerWriter& operator=(const ServerWriter&) = delete;

  [[nodiscard]] static Status Open(const std::string& uri, std::unique_ptr<ServerWriter>* writer);
  // The first table (or view) of the search path whose name, in lower case,
  // is one of `names` in lower case; "" for none.
  [[nodiscard]] Status FindTable(const std::vector<std::string>& names, std::string* found);
  // Creates `table` with the order column, copies the rows of the table file
  // `file` in their order (which the order column keeps), then creates the
  // indexes. A column type without a server counterpart is refused with
  // "Table T, column C: <why>" (AE_KDX_BAD_COLUMN_TYPE).
  [[nodiscard]] Status CopyTable(const TableDefinition& table, const std::string& file);
  // The server table `name`, found as AdsOpenTable finds it, as the engine
  // opens it (rows not counted).
  [[nodiscard]] Status DescribeTable(const std::string& name, TableSchema* table);
  // One more than the largest value of column `column` of `table` (1 when
  // it holds none).
  [[nodiscard]] Status NextNumber(const TableSchema& table, const std::string& column, int64_t* next);
  // Inserts one row of `table`, a value per column.
  [[nodiscard]] Status Insert(const TableSchema& table, const std::vector<StoredValue>& row);
  [[nodiscard]] Status Commit();

 private:
  ServerWriter() = default;
  // Runs `sql`; a failure naming `context` and the server.
  [[nodiscard]] Status Exec(const std::string& sql, const std::string& context);
  [[nodiscard]] Status CreateTable(const TableDefinition& table);

  std::unique_ptr<PgSession> session_;
};

}  // namespace engine

#endif  // KDX_ENGINE_STORAGE_H_
