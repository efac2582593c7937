#include "tools/password_source.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace {

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

std::string WhereFrom() {
  return std::string("give --password-file FILE, set ") + kPasswordVariable +
         ", or type it when asked on the terminal";
}

enum class Found { kPassword, kNone, kError };

// The password of the file or the environment, when either is given.
Found FromFileOrEnvironment(const PasswordArgs& args, std::string* password, std::string* error) {
  if (!args.password_file.empty()) {
    struct stat st {};
    if (::stat(args.password_file.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
      std::cerr << "warning: password file '" << args.password_file
                << "' can be read by other users; consider chmod 600\n";
    }
    std::ifstream in(args.password_file, std::ios::binary);
    if (!in) {
      *error = "Cannot read password file '" + args.password_file + "'";
      return Found::kError;
    }
    std::getline(in, *password);
    StripLineEnd(password);
    if (password->empty()) {
      *error = "Password file '" + args.password_file + "' holds no password on its first line";
      return Found::kError;
    }
    return Found::kPassword;
  }
  if (const char* from_environment = std::getenv(kPasswordVariable)) {
    *password = from_environment;
    if (password->empty()) {
      *error = std::string("The environment variable ") + kPasswordVariable + " is empty";
      return Found::kError;
    }
    return Found::kPassword;
  }
  return Found::kNone;
}

}  // namespace

bool GetPassword(const PasswordArgs& args, const std::string& purpose, bool confirm, std::string* password,
                 std::string* error) {
  switch (FromFileOrEnvironment(args, password, error)) {
    case Found::kPassword:
      return true;
    case Found::kError:
      return false;
    case Found::kNone:
      break;
  }
  if (!PromptNoEcho(purpose + ": ", password)) {
    *error = "No password given (" + purpose + "): " + WhereFrom();
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

bool GetOptionalPassword(const PasswordArgs& args, const std::string& purpose, std::string* password,
                         std::string* error) {
  password->clear();
  switch (FromFileOrEnvironment(args, password, error)) {
    case Found::kPassword:
      return true;
    case Found::kError:
      return false;
    case Found::kNone:
      break;
  }
  if (!PromptNoEcho(purpose + " (Enter for none): ", password)) password->clear();
  return true;
}

void AddPasswordOption(CLI::App* cmd, const std::shared_ptr<PasswordArgs>& args) {
  cmd->add_option("--password-file", args->password_file,
                  std::string("File whose first line is the password (else $") + kPasswordVariable +
                      ", else a prompt on the terminal)");
}

void RefusePasswordOption(CLI::App* cmd, const std::string& option) {
  static std::string refused;  // never kept: the check refuses every value
  // A hidden option has no name in CLI11's message; the text names it.
  cmd->add_option(option, refused)->group("")->check(CLI::Validator(
      [option](std::string&) {
        return option + " is refused: no password is taken on the command line, where other users can read it; " +
               WhereFrom();
      },
      ""));
}
