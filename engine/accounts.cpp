// Dictionary accounts: creation, adding users and the login check.
#include "engine/accounts.h"

#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>

#include "engine/crypto.h"
#include "engine/errors.h"
#include "engine/sql_codes.h"
#include "engine/sqlite_support.h"

namespace engine {
namespace {

constexpr size_t kMaxUserName = 128;
constexpr char kHashPrefix[] = "$argon2id$";

Status Refused(std::string text) { return Status(AE_KDX_LOGIN_FAILED, std::move(text)); }

// Why `user` cannot be a user name; "" when it can.
std::string UserNameFault(const std::string& user) {
  if (user.empty()) return "a user name must not be empty";
  if (user.size() > kMaxUserName) {
    return "a user name must not be longer than " + std::to_string(kMaxUserName) + " characters";
  }
  for (unsigned char c : user) {
    if (c < 0x20 || c == 0x7f) return "a user name must not hold control characters";
  }
  return "";
}

Status HasUsersTable(sqlite3* db, const std::string& dictionary, bool* present) {
  Statement stmt;
  int rc = sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='__users' COLLATE NOCASE",
                              -1, stmt.out(), nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    return Refused("Dictionary " + Quoted(dictionary) + ": cannot read its schema: " + sqlite3_errmsg(db));
  }
  *present = rc == SQLITE_ROW;
  return Status();
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

// The hash of the dictionary's first account ("" when there is none or it
// cannot be read: the dummy then takes the default cost).
std::string FirstAccountHash(sqlite3* db) {
  Statement stmt;
  std::string hash;
  if (sqlite3_prepare_v2(db, "SELECT hash FROM __users ORDER BY rowid LIMIT 1", -1, stmt.out(), nullptr) ==
          SQLITE_OK &&
      sqlite3_step(stmt.get()) == SQLITE_ROW && sqlite3_column_type(stmt.get(), 0) == SQLITE_TEXT) {
    hash = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  }
  return hash;
}

// The password hash of `user` (found: false when there is no such user).
Status AccountHash(sqlite3* db, const std::string& where, const std::string& user, bool* found, std::string* hash) {
  Statement stmt;
  int rc = sqlite3_prepare_v2(db, "SELECT hash FROM __users WHERE name = ?1 COLLATE NOCASE", -1, stmt.out(), nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text(stmt.get(), 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    return Refused(where + "cannot read the account table __users: " + sqlite3_errmsg(db));
  }
  *found = rc == SQLITE_ROW;
  if (*found && sqlite3_column_type(stmt.get(), 0) == SQLITE_TEXT) {
    hash->assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
  }
  return Status();
}

std::string DictionaryName(sqlite3* db) {
  const char* file = sqlite3_db_filename(db, "main");
  return file != nullptr && *file != '\0' ? file : "dictionary";
}

// Adds `user` with `password` to the dictionary open as `db` (read-write).
Status AddUser(sqlite3* db, const std::string& user, const std::string& password) {
  if (Status ready = SodiumReady(AE_KDX_LOGIN_FAILED); !ready.ok()) return ready;
  const std::string where = "Dictionary " + Quoted(DictionaryName(db)) + ": ";
  if (const std::string fault = UserNameFault(user); !fault.empty()) return Refused(where + fault);
  if (password.empty()) return Refused(where + "the password of user " + Quoted(user) + " must not be empty");
  std::string hash;
  if (!HashPassword(password, &hash)) return Refused(where + "hashing the password ran out of memory");
  const std::string create = std::string(kUsersTableSql).insert(13, "IF NOT EXISTS ");
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    Status failed = Refused(where + "cannot write the account table __users: " + sqlite3_errmsg(db));
    (void)sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);  // nothing was written
    return failed;
  }
  Statement stmt;
  int rc = sqlite3_prepare_v2(db, "INSERT INTO __users(name, hash) VALUES(?1, ?2)", -1, stmt.out(), nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text(stmt.get(), 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text(stmt.get(), 2, hash.c_str(), -1, SQLITE_TRANSIENT);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt.get());
  const int extended = sqlite3_extended_errcode(db);
  const std::string message = sqlite3_errmsg(db);
  stmt = Statement();
  sodium_memzero(hash.data(), hash.size());
  if (rc != SQLITE_DONE) {
    (void)sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);  // the insert failed: nothing to keep
    if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE) {
      return Refused(where + "user " + Quoted(user) + " already exists");
    }
    return Refused(where + "cannot add user " + Quoted(user) + ": " + message);
  }
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Status failed = Refused(where + "cannot add user " + Quoted(user) + ": " + sqlite3_errmsg(db));
    (void)sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);  // the commit failed: nothing to keep
    return failed;
  }
  return Status();
}

Status AddUserToFile(const std::string& path, const std::string& user, const std::string& password) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    Status failed =
        Refused("Dictionary " + Quoted(path) + ": cannot open: " + (db ? sqlite3_errmsg(db) : "out of memory"));
    sqlite3_close(db);
    return failed;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);  // never fails on an open handle
  Status added = AddUser(db, user, password);
  sqlite3_close(db);
  return added;
}

Status Create(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return Refused("Dictionary " + Quoted(path) + " already exists; it is left unchanged");
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                      nullptr) != SQLITE_OK) {
    Status failed =
        Refused("Dictionary " + Quoted(path) + ": cannot create: " + (db ? sqlite3_errmsg(db) : "out of memory"));
    sqlite3_close(db);
    return failed;
  }
  Status created;
  if (sqlite3_exec(db, kUsersTableSql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    created = Refused("Dictionary " + Quoted(path) + ": cannot create the account table: " + sqlite3_errmsg(db));
  }
  sqlite3_close(db);
  if (!created.ok()) ::remove(path.c_str());  // the half-made file goes; it was ours
  return created;
}

}  // namespace

Status CheckDictionaryLogin(sqlite3* db, const std::string& dictionary, const std::string& user,
                            const std::string& password) {
  if (Status ready = SodiumReady(AE_KDX_LOGIN_FAILED); !ready.ok()) return ready;
  const std::string where = "Login to dictionary " + Quoted(dictionary) + " failed: ";
  if (user.empty()) return Refused(where + "a user name is needed");
  bool present = false;
  if (Status read = HasUsersTable(db, dictionary, &present); !read.ok()) return read;
  if (!present) return Refused(where + "the dictionary has no account table __users (add a user with kdx-db add-user)");
  bool found = false;
  std::string hash;
  if (Status read = AccountHash(db, where, user, &found, &hash); !read.ok()) return read;
  const std::string refused = where + "unknown user name " + Quoted(user) + " or wrong password";
  if (!found) {
    // Costs what a wrong password costs; its answer means nothing.
    (void)PasswordMatches(DummyHash(FirstAccountHash(db)), password);
    return Refused(refused);
  }
  if (hash.rfind(kHashPrefix, 0) != 0 || hash.size() >= crypto_pwhash_STRBYTES) {
    return Refused(where + "the account of " + Quoted(user) + " holds no valid Argon2id password hash");
  }
  if (!PasswordMatches(hash, password)) return Refused(refused);
  return Status();
}

}  // namespace engine

using namespace engine;

Status CheckDictionaryLogin(sqlite3* db, const std::string& user, const std::string& password) {
  return engine::CheckDictionaryLogin(db, DictionaryName(db), user, password);
}

Status AddDictionaryUser(sqlite3* db, const std::string& user, const std::string& password) {
  return AddUser(db, user, password);
}

Status AddDictionaryUser(const std::string& path, const std::string& user, const std::string& password) {
  return AddUserToFile(path, user, password);
}

Status CreateDictionary(const std::string& path) { return Create(path); }
