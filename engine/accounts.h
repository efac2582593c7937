// Dictionary accounts: the table `__users` of a dictionary file holds one row
// per user, the user name (compared without regard to ASCII case) and the
// password as a libsodium Argon2id hash string (crypto_pwhash_str). Passwords
// are never stored, logged or put into any message.
#ifndef KDX_ENGINE_ACCOUNTS_H_
#define KDX_ENGINE_ACCOUNTS_H_

#include <string>

struct sqlite3;

// The definition of the account table.
inline constexpr char kUsersTableSql[] =
    "CREATE TABLE __users(name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, hash TEXT NOT NULL)";

// Whether `user` may log in with `password` to the dictionary open as `db`
// (named `dictionary` in messages). false with `*error` on a wrong pair, an
// unknown user (the same text for both, naming the user and the dictionary),
// a dictionary without an account table or without accounts, or a damaged
// hash. Never mentions the password.
bool CheckDictionaryLogin(sqlite3* db, const std::string& dictionary, const std::string& user,
                          const std::string& password, std::string* error);
// As above, with the dictionary named "dictionary" in messages.
bool CheckDictionaryLogin(sqlite3* db, const std::string& user, const std::string& password,
                          std::string* error);

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

#endif  // KDX_ENGINE_ACCOUNTS_H_
