// Where kdx-db takes a password from, for every subcommand that needs one:
// --password-file FILE, else the environment variable KDX_DB_PASSWORD, else a
// prompt on the terminal without echo, in that order. Never from a plain
// argument, which other users could read in the process list and which
// shells keep in their history, and never from a password built into the
// tool: without one of the three, a command that needs a password fails.
#ifndef KDX_TOOLS_PASSWORD_SOURCE_H_
#define KDX_TOOLS_PASSWORD_SOURCE_H_

#include <memory>
#include <string>

namespace CLI {
class App;
}

inline constexpr char kPasswordVariable[] = "KDX_DB_PASSWORD";

struct PasswordArgs {
  std::string password_file;
};

// The password for `purpose` from the three sources. When it is asked at a
// terminal and `confirm`, it is asked twice and must match. false with
// `*error` when there is none (naming the three sources), it is empty, or
// the file cannot be read.
[[nodiscard]] bool GetPassword(const PasswordArgs& args, const std::string& purpose, bool confirm, std::string* password,
                 std::string* error);

// As GetPassword for a password that may be missing (the table password of
// a folder, which only its sealed tables need): without --password-file and
// KDX_DB_PASSWORD, and not on a terminal, or when Enter alone answers the
// prompt, `*password` is left empty and the result is true.
[[nodiscard]] bool GetOptionalPassword(const PasswordArgs& args, const std::string& purpose, std::string* password,
                         std::string* error);

// Adds --password-file to `cmd`.
void AddPasswordOption(CLI::App* cmd, const std::shared_ptr<PasswordArgs>& args);

// Adds `option` (e.g. "--password") to `cmd` hidden from the help, refusing
// any value with a message saying where a password is taken from instead.
void RefusePasswordOption(CLI::App* cmd, const std::string& option);

#endif  // KDX_TOOLS_PASSWORD_SOURCE_H_
