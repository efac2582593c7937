// kdx-db create-dictionary, add-user, list-users, remove-user, seal, unseal
// and reseal. Passwords come from tools/password_source.h: never from a plain
// argument.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage.h"
#include "tools/commands.h"
#include "tools/password_source.h"

namespace {

// An engine call's outcome as an action gives it: true, or false with the
// status's text in `*error`.
bool Succeeded(const engine::Status& status, std::string* error) {
  if (!status.ok()) *error = status.text();
  return status.ok();
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
        exit_status, [&](std::string* error) { return Succeeded(CreateDictionary(*file), error); },
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
                 Succeeded(AddDictionaryUser(*dictionary, *user, password), error);
        },
        "Added user " + *user + " to " + *dictionary);
  });
}

void RegisterListUsers(CLI::App& app, int* exit_status) {
  auto dictionary = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("list-users", "List the user accounts of a dictionary, one name a line");
  cmd->add_option("DICTIONARY", *dictionary, "The dictionary file")->required();
  cmd->callback([dictionary, exit_status] {
    std::vector<std::string> users;
    if (const engine::Status listed = ListDictionaryUsers(*dictionary, &users); !listed.ok()) {
      std::cerr << "kdx-db: " << listed.text() << "\n";
      *exit_status = 1;
      return;
    }
    for (const std::string& user : users) std::cout << user << "\n";
    if (users.empty()) std::cerr << "kdx-db: " << *dictionary << " has no accounts\n";
    *exit_status = 0;
  });
}

void RegisterRemoveUser(CLI::App& app, int* exit_status) {
  auto dictionary = std::make_shared<std::string>();
  auto user = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("remove-user", "Remove a user account from a dictionary");
  cmd->add_option("DICTIONARY", *dictionary, "The dictionary file")->required();
  cmd->add_option("USER", *user, "The user name (compared without regard to case)")->required();
  cmd->callback([dictionary, user, exit_status] {
    Report(
        exit_status, [&](std::string* error) { return Succeeded(RemoveDictionaryUser(*dictionary, *user), error); },
        "Removed user " + *user + " from " + *dictionary);
  });
}

// seal, unseal and reseal: one table file and its table password. Sealing asks for
// the password twice on a terminal (a mistyped password would lock the table
// away); unsealing asks once, as a wrong one only fails.
void RegisterTableFileCommand(CLI::App& app, int* exit_status, const std::string& name,
                              const std::string& description, const std::string& file_help, bool confirm,
                              engine::Status (*operation)(const std::string&, const std::string&),
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
                 Succeeded(operation(*file, password), error);
        },
        done + " " + *file);
  });
}

}  // namespace

void RegisterSecurityCommands(CLI::App& app, int* exit_status) {
  RegisterCreateDictionary(app, exit_status);
  RegisterAddUser(app, exit_status);
  RegisterListUsers(app, exit_status);
  RegisterRemoveUser(app, exit_status);
  RegisterTableFileCommand(app, exit_status, "seal", "Encrypt a free table file with a table password",
                           "The table file", true, SealFile, "Sealed");
  RegisterTableFileCommand(app, exit_status, "unseal", "Decrypt a sealed table file back into a plain one",
                           "The sealed table file", false, UnsealFile, "Unsealed");
  RegisterTableFileCommand(app, exit_status, "reseal",
                           "Rewrite a sealed table file of format version 1 as version 2 (read page by page)",
                           "The sealed table file", false, ResealFile, "Resealed");
}
