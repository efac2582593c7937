// The subcommands of kdx-db, the database tool. Each group registers its
// subcommands on the tool's command line; a subcommand's callback sets the
// process exit status through `*exit_status` (0 success, 1 a problem found or
// a failure, with the reason printed on standard error).
#ifndef KDX_TOOLS_COMMANDS_H_
#define KDX_TOOLS_COMMANDS_H_

namespace CLI {
class App;
}

// info PATH
void RegisterInfoCommand(CLI::App& app, int* exit_status);
// create-dictionary, add-user, seal, unseal
void RegisterSecurityCommands(CLI::App& app, int* exit_status);
// sample, import, query, check
void RegisterDataCommands(CLI::App& app, int* exit_status);

#endif  // KDX_TOOLS_COMMANDS_H_
