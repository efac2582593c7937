// kdx-db: inspect, secure and fill databases in the engine's storage format.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "tools/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"kdx-db: inspect, secure and fill KDX Interface databases"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "kdx-db 1.0");
  int exit_status = 0;
  RegisterInfoCommand(app, &exit_status);
  RegisterSecurityCommands(app, &exit_status);
  RegisterDataCommands(app, &exit_status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ValidationError& e) {
    // A hidden option's error names no option before its text.
    const std::string text = e.what();
    std::cerr << (text.rfind(": ", 0) == 0 ? text.substr(2) : text) << "\nRun with --help for more information.\n";
    return 2;
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  return exit_status;
}
