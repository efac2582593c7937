// kdx-db create-dictionary, add-user, seal and unseal. Passwords come from
// --password-file FILE, the environment variable KDX_DB_PASSWORD, or a
// prompt without echo on a terminal; never from a plain argument, which
// other users could read in the process list and which shells keep in their
// history.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "engine/storage.h"
#include "tools/commands.h"

namespace {

constexpr char kPasswordVariable[] = "KDX_DB_PASSWORD";

struct PasswordArgs {
  std::string password_file;
};

// Reads one line from the terminal without echo. false when standard input
// is not a terminal or reading fails.
bool PromptNoEcho(const std::string& prompt, std::string* line) {
  if (!::isatty(STDIN_FILENO)) return false;
  std::cerr << prompt << std::flush;
  termios saved {};
  const bool have_terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (have_terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool ok = static_cast<bool>(std::getline(std::cin, *line));
  if (have_terminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::cerr << "\n";
  return ok;
}

void StripLineEnd(std::string* text) {
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
}

// The password for `purpose`; when asked at a terminal and `confirm`, it is
// asked twice and must match. false with `*error` when there is none.
bool GetPassword(const PasswordArgs& args, const std::string& purpose, bool confirm, std::string* password,
                 std::string* error) {
  if (!args.password_file.empty()) {
    struct stat st {};
    if (::stat(args.password_file.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
      std::cerr << "warning: password file '" << args.password_file
                << "' can be read by other users; consider chmod 600\n";
    }
    std::ifstream in(args.password_file, std::ios::binary);
    if (!in) {
      *error = "Cannot read password file '" + args.password_file + "'";
      return false;
    }
    std::getline(in, *password);
    StripLineEnd(password);
    if (password->empty()) {
      *error = "Password file '" + args.password_file + "' holds no password on its first line";
      return false;
    }
    return true;
  }
  if (const char* from_environment = std::getenv(kPasswordVariable)) {
    *password = from_environment;
    if (password->empty()) {
      *error = std::string("The environment variable ") + kPasswordVariable + " is empty";
      return false;
    }
    return true;
  }
  if (!PromptNoEcho(purpose + ": ", password)) {
    *error = std::string("No password: give --password-file FILE, set ") + kPasswordVariable +
             ", or run the command on a terminal";
    return false;
  }
  if (password->empty()) {
    *error = "The password must not be empty";
    return false;
  }
  if (confirm) {
    std::string again;
    if (!PromptNoEcho("Repeat it: ", &again) || again != *password) {
      *error = "The two passwords differ; nothing was changed";
      return false;
    }
  }
  return true;
}

void AddPasswordOption(CLI::App* cmd, const std::shared_ptr<PasswordArgs>& args) {
  cmd->add_option("--password-file", args->password_file,
                  std::string("File whose first line is the password (else $") + kPasswordVariable +
                      ", else a prompt on the terminal)");
}

// Runs `action` and maps its outcome to the exit status and messages.
template <class Action>
void Report(int* exit_status, Action&& action, const std::string& done) {
  std::string error;
  if (!action(&error)) {
    std::cerr << "kdx-db: " << error << "\n";
    *exit_status = 1;
    return;
  }
  std::cout << done << "\n";
  *exit_status = 0;
}

void RegisterCreateDictionary(CLI::App& app, int* exit_status) {
  auto file = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("create-dictionary", "Create an empty dictionary file with its account table");
  cmd->add_option("FILE", *file, "The dictionary file to create (it must not exist)")->required();
  cmd->callback([file, exit_status] {
    Report(
        exit_status, [&](std::string* error) { return CreateDictionary(*file, error); },
        "Created dictionary " + *file + " (no accounts yet: add one with kdx-db add-user " + *file + " USER)");
  });
}

void RegisterAddUser(CLI::App& app, int* exit_status) {
  auto dictionary = std::make_shared<std::string>();
  auto user = std::make_shared<std::string>();
  auto args = std::make_shared<PasswordArgs>();
  CLI::App* cmd = app.add_subcommand("add-user", "Add a user account to a dictionary");
  cmd->add_option("DICTIONARY", *dictionary, "The dictionary file")->required();
  cmd->add_option("USER", *user, "The user name (compared without regard to case)")->required();
  AddPasswordOption(cmd, args);
  cmd->callback([dictionary, user, args, exit_status] {
    Report(
        exit_status,
        [&](std::string* error) {
          std::string password;
          return GetPassword(*args, "Password of " + *user, true, &password, error) &&
                 AddDictionaryUser(*dictionary, *user, password, error);
        },
        "Added user " + *user + " to " + *dictionary);
  });
}

// seal and unseal: one table file and its table password. Sealing asks for
// the password twice on a terminal (a mistyped password would lock the table
// away); unsealing asks once, as a wrong one only fails.
void RegisterTableFileCommand(CLI::App& app, int* exit_status, const std::string& name,
                              const std::string& description, const std::string& file_help, bool confirm,
                              bool (*operation)(const std::string&, const std::string&, std::string*),
                              const std::string& done) {
  auto file = std::make_shared<std::string>();
  auto args = std::make_shared<PasswordArgs>();
  CLI::App* cmd = app.add_subcommand(name, description);
  cmd->add_option("FILE", *file, file_help)->required();
  AddPasswordOption(cmd, args);
  cmd->callback([file, args, exit_status, confirm, operation, done] {
    Report(
        exit_status,
        [&](std::string* error) {
          std::string password;
          return GetPassword(*args, "Table password for " + *file, confirm, &password, error) &&
                 operation(*file, password, error);
        },
        done + " " + *file);
  });
}

}  // namespace

void RegisterSecurityCommands(CLI::App& app, int* exit_status) {
  RegisterCreateDictionary(app, exit_status);
  RegisterAddUser(app, exit_status);
  RegisterTableFileCommand(app, exit_status, "seal", "Encrypt a free table file with a table password",
                           "The table file", true, SealFile, "Sealed");
  RegisterTableFileCommand(app, exit_status, "unseal", "Decrypt a sealed table file back into a plain one",
                           "The sealed table file", false, UnsealFile, "Unsealed");
}
