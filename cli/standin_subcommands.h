// "quillet server ACTION": creating, starting and inspecting stand-in servers.
#ifndef QUILLET_CLI_STANDIN_SUBCOMMANDS_H
#define QUILLET_CLI_STANDIN_SUBCOMMANDS_H

#include "subcommand.h"

namespace quillet::cli {

SubcommandTable StandinSubcommands();

}  // namespace quillet::cli

#endif  // QUILLET_CLI_STANDIN_SUBCOMMANDS_H
