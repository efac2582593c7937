// Dictionary accounts: creation, adding users and the login check.
#include "engine/accounts.h"

#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <mutex>

namespace {

constexpr size_t kMaxUserName = 128;
constexpr char kHashPrefix[] = "$argon2id$";
constexpr int kBusyTimeoutMs = 8000;

bool SodiumReady(std::string* error) {
  static const int status = sodium_init();
  if (status < 0) {
    *error = "The cryptography library could not be initialised";
    return false;
  }
  return true;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

bool ValidUserName(const std::string& user, std::string* why) {
  if (user.empty()) {
    *why = "a user name must not be empty";
    return false;
  }
  if (user.size() > kMaxUserName) {
    *why = "a user name must not be longer than " + std::to_string(kMaxUserName) + " characters";
    return false;
  }
  for (unsigned char c : user) {
    if (c < 0x20 || c == 0x7f) {
      *why = "a user name must not hold control characters";
      return false;
    }
  }
  return true;
}

bool HasUsersTable(sqlite3* db, bool* present, std::string* error, const std::string& dictionary) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='__users' COLLATE NOCASE",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    *error = "Dictionary " + Quoted(dictionary) + ": cannot read its schema: " + sqlite3_errmsg(db);
    return false;
  }
  const int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    *error = "Dictionary " + Quoted(dictionary) + ": cannot read its schema: " + sqlite3_errmsg(db);
    return false;
  }
  *present = rc == SQLITE_ROW;
  return true;
}

// The hash an unknown user name is checked against, so that a login with an
// unknown name costs as long as one with a known name and a wrong password
// and names cannot be told apart by the time a refusal takes: a fixed salt
// and digest under the key-derivation cost of the dictionary's first account
// (`account_hash`), or of what AddDictionaryUser writes when the dictionary
// has none or its hash cannot be read. Nothing verifies against it: its
// digest belongs to no password.
std::string DummyHash(const std::string& account_hash) {
  static const std::string kSaltAndDigest =
      "$a2R4LWR1bW15LXNhbHQxNg$bm8gcGFzc3dvcmQgaGFzaGVzIHRvIHRoaXMgdmFsdWU";
  unsigned long long memory_kib = 0, passes = 0, lanes = 0;
  if (std::sscanf(account_hash.c_str(), "$argon2id$v=19$m=%llu,t=%llu,p=%llu$", &memory_kib, &passes, &lanes) == 3) {
    return "$argon2id$v=19$m=" + std::to_string(memory_kib) + ",t=" + std::to_string(passes) +
           ",p=" + std::to_string(lanes) + kSaltAndDigest;
  }
  return "$argon2id$v=19$m=" + std::to_string(crypto_pwhash_MEMLIMIT_INTERACTIVE / 1024) +
         ",t=" + std::to_string(crypto_pwhash_OPSLIMIT_INTERACTIVE) + ",p=1" + kSaltAndDigest;
}

// The hash of the dictionary's first account ("" when there is none).
std::string FirstAccountHash(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  std::string hash;
  if (sqlite3_prepare_v2(db, "SELECT hash FROM __users ORDER BY rowid LIMIT 1", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) == SQLITE_TEXT) {
    hash = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  return hash;
}

}  // namespace

bool CheckDictionaryLogin(sqlite3* db, const std::string& dictionary, const std::string& user,
                          const std::string& password, std::string* error) {
  if (!SodiumReady(error)) return false;
  const std::string where = "Login to dictionary " + Quoted(dictionary) + " failed: ";
  if (user.empty()) {
    *error = where + "a user name is needed";
    return false;
  }
  bool present = false;
  if (!HasUsersTable(db, &present, error, dictionary)) return false;
  if (!present) {
    *error = where + "the dictionary has no account table __users (add a user with kdx-db add-user)";
    return false;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT hash, (SELECT count(*) FROM __users) FROM __users WHERE name = ?1 COLLATE NOCASE",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    *error = where + "cannot read the account table __users: " + sqlite3_errmsg(db);
    return false;
  }
  sqlite3_bind_text(stmt, 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(stmt);
  std::string hash;
  bool found = false;
  if (rc == SQLITE_ROW) {
    found = true;
    const auto* text = sqlite3_column_text(stmt, 0);
    if (text != nullptr && sqlite3_column_type(stmt, 0) == SQLITE_TEXT) hash = reinterpret_cast<const char*>(text);
  }
  const std::string sqlite_message = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    *error = where + "cannot read the account table __users: " + sqlite_message;
    return false;
  }
  if (!found) {
    const std::string dummy = DummyHash(FirstAccountHash(db));
    if (crypto_pwhash_str_verify(dummy.c_str(), password.data(), password.size()) == 0) {
      // Unreachable: the dummy's digest belongs to no password.
    }
    *error = where + "unknown user name " + Quoted(user) + " or wrong password";
    return false;
  }
  if (hash.rfind(kHashPrefix, 0) != 0 || hash.size() >= crypto_pwhash_STRBYTES) {
    *error = where + "the account of " + Quoted(user) + " holds no valid Argon2id password hash";
    return false;
  }
  if (crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) != 0) {
    *error = where + "unknown user name " + Quoted(user) + " or wrong password";
    return false;
  }
  return true;
}

bool CheckDictionaryLogin(sqlite3* db, const std::string& user, const std::string& password, std::string* error) {
  const char* file = sqlite3_db_filename(db, "main");
  return CheckDictionaryLogin(db, file && *file ? file : "dictionary", user, password, error);
}

bool AddDictionaryUser(sqlite3* db, const std::string& user, const std::string& password, std::string* error) {
  if (!SodiumReady(error)) return false;
  const char* file = sqlite3_db_filename(db, "main");
  const std::string where = "Dictionary " + Quoted(file && *file ? file : "dictionary") + ": ";
  std::string why;
  if (!ValidUserName(user, &why)) {
    *error = where + why;
    return false;
  }
  if (password.empty()) {
    *error = where + "the password of user " + Quoted(user) + " must not be empty";
    return false;
  }
  char hash[crypto_pwhash_STRBYTES] = {};
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    *error = where + "hashing the password ran out of memory";
    return false;
  }
  const std::string create = std::string(kUsersTableSql).insert(13, "IF NOT EXISTS ");
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = where + "cannot write the account table __users: " + sqlite3_errmsg(db);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, "INSERT INTO __users(name, hash) VALUES(?1, ?2)", -1, &stmt, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, hash, -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
  }
  const int extended = sqlite3_extended_errcode(db);
  std::string message = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  sodium_memzero(hash, sizeof(hash));
  if (rc != SQLITE_DONE) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE)
      *error = where + "user " + Quoted(user) + " already exists";
    else
      *error = where + "cannot add user " + Quoted(user) + ": " + message;
    return false;
  }
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = where + "cannot add user " + Quoted(user) + ": " + sqlite3_errmsg(db);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  return true;
}

bool AddDictionaryUser(const std::string& path, const std::string& user, const std::string& password,
                       std::string* error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    *error = "Dictionary " + Quoted(path) + ": cannot open: " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  const bool ok = AddDictionaryUser(db, user, password, error);
  sqlite3_close(db);
  return ok;
}

bool CreateDictionary(const std::string& path, std::string* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    *error = "Dictionary " + Quoted(path) + " already exists; it is left unchanged";
    return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                      nullptr) != SQLITE_OK) {
    *error = "Dictionary " + Quoted(path) + ": cannot create: " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  const bool ok = sqlite3_exec(db, kUsersTableSql, nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!ok) *error = "Dictionary " + Quoted(path) + ": cannot create the account table: " + sqlite3_errmsg(db);
  sqlite3_close(db);
  if (!ok) ::remove(path.c_str());
  return ok;
}
