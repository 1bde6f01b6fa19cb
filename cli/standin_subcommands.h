// "quillet server ACTION": creating, starting and inspecting stand-in servers.
#ifndef QUILLET_CLI_STANDIN_SUBCOMMANDS_H
#define QUILLET_CLI_STANDIN_SUBCOMMANDS_H

#include "command_line.h"

namespace quillet::cli {

void AddStandinSubcommands(CommandLine& commandLine);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_STANDIN_SUBCOMMANDS_H
