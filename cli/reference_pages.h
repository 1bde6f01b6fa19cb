// The manual page and the bash completion script, both written from the command line's CLI11
// app, so that they always say what --help says.
#ifndef QUILLET_CLI_REFERENCE_PAGES_H
#define QUILLET_CLI_REFERENCE_PAGES_H

#include <string>
#include <string_view>

#include "command_line.h"

namespace quillet::cli {

// quillet.1 in roff.
std::string ManualPage(const CommandLine& commandLine, std::string_view version);

// A bash completion script for quillet: subcommands, the groups' actions and each
// subcommand's options; file names where a value is expected.
std::string BashCompletion(const CommandLine& commandLine);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_REFERENCE_PAGES_H
