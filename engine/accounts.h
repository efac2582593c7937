// The engine's side of dictionary accounts: the account table's definition
// and the login check naming the dictionary. The tool's account functions
// are in engine/storage.h, which this header includes.
#ifndef KDX_ENGINE_ACCOUNTS_H_
#define KDX_ENGINE_ACCOUNTS_H_

#include <string>

#include "engine/status.h"
#include "engine/storage.h"

struct sqlite3;

// The definition of the account table.
inline constexpr char kUsersTableSql[] =
    "CREATE TABLE __users(name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, hash TEXT NOT NULL)";

namespace engine {

// Whether `user` may log in with `password` to the dictionary open as `db`
// (named `dictionary` in messages): success, or AE_KDX_LOGIN_FAILED with the
// texts of CheckDictionaryLogin in storage.h.
Status CheckDictionaryLogin(sqlite3* db, const std::string& dictionary, const std::string& user,
                            const std::string& password);

}  // namespace engine

#endif  // KDX_ENGINE_ACCOUNTS_H_
