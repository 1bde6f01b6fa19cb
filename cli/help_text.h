// The texts of --help: for the whole command and for each subcommand.
#ifndef QUILLET_CLI_HELP_TEXT_H
#define QUILLET_CLI_HELP_TEXT_H

#include <string>
#include <string_view>

#include "subcommand.h"

namespace quillet::cli {

std::string UsageLine(const Subcommand& subcommand);
std::string SubcommandHelp(const Subcommand& subcommand);
// Every subcommand of the table whose name starts with prefix ("" for all), with the
// sections on passwords and exit status when prefix is "".
std::string OverallHelp(const SubcommandTable& table, std::string_view prefix);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_HELP_TEXT_H
