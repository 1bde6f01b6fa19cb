// The texts of --help, written from the CLI11 app: the program's, a group's and a subcommand's.
#ifndef QUILLET_CLI_HELP_TEXT_H
#define QUILLET_CLI_HELP_TEXT_H

#include <string>

#include "command_line.h"

namespace quillet::cli {

// A subcommand's positional arguments as its usage line shows them: "SERVER [DATABASE]".
std::string ArgumentWords(const CLI::App& job);
// "Usage: quillet create-db SERVER DATABASE [options]" and a line end.
std::string UsageLine(const CLI::App& job);
// The help of the program, of a group or of a subcommand of the command line.
std::string HelpText(const CommandLine& commandLine, const CLI::App& app);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_HELP_TEXT_H
