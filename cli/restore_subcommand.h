// quillet restore: one snapshot folder back onto a server, in one command.
#ifndef QUILLET_CLI_RESTORE_SUBCOMMAND_H
#define QUILLET_CLI_RESTORE_SUBCOMMAND_H

#include <string>

#include "command_line.h"

namespace quillet::cli {

void AddRestoreSubcommand(CommandLine& commandLine);

// --as NAME and --replace, as restore and plan restore take them; asHelp is --as's help line.
void AddRestoreTargetOptions(CLI::App& restore, Invocation& given, const std::string& asHelp);
// What is wrong with --as NAME, or empty when it is not given or is a name the server takes.
std::string InstallAsProblem(const Invocation& i);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_RESTORE_SUBCOMMAND_H
