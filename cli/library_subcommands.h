// The subcommands that each call one export of libquillet.so.
#ifndef QUILLET_CLI_LIBRARY_SUBCOMMANDS_H
#define QUILLET_CLI_LIBRARY_SUBCOMMANDS_H

#include "subcommand.h"

namespace quillet::cli {

SubcommandTable LibrarySubcommands();

}  // namespace quillet::cli

#endif  // QUILLET_CLI_LIBRARY_SUBCOMMANDS_H
