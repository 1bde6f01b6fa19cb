// quillet restore: one snapshot folder back onto a server, in one command.
#ifndef QUILLET_CLI_RESTORE_SUBCOMMAND_H
#define QUILLET_CLI_RESTORE_SUBCOMMAND_H

#include "command_line.h"

namespace quillet::cli {

void AddRestoreSubcommand(CommandLine& commandLine);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_RESTORE_SUBCOMMAND_H
