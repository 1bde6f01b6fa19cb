// The subcommands that each call one export of libquillet.so.
#ifndef QUILLET_CLI_LIBRARY_SUBCOMMANDS_H
#define QUILLET_CLI_LIBRARY_SUBCOMMANDS_H

#include "command_line.h"

namespace quillet::cli {

void AddLibrarySubcommands(CommandLine& commandLine);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_LIBRARY_SUBCOMMANDS_H
