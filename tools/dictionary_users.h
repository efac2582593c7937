// kdx-db's side of the accounts of a dictionary file beyond adding one
// (engine/storage.h): listing their names and removing one. The account table
// is `__users` (docs/database-format.md, *Dictionary accounts*); neither
// function reads or shows a password hash.
#ifndef KDX_TOOLS_DICTIONARY_USERS_H_
#define KDX_TOOLS_DICTIONARY_USERS_H_

#include <string>
#include <vector>

// The user names of the dictionary at `path`, without regard to case in
// name order. Reads the file only. false with `*error` naming the file when
// it cannot be read or holds no account table.
bool ListDictionaryUsers(const std::string& path, std::vector<std::string>* users, std::string* error);

// Removes `user` (compared without regard to case) from the dictionary at
// `path`. false with `*error` when the file cannot be opened for writing,
// holds no account table or no such user; nothing is changed then.
bool RemoveDictionaryUser(const std::string& path, const std::string& user, std::string* error);

#endif  // KDX_TOOLS_DICTIONARY_USERS_H_
