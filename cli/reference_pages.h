// The manual page and the bash completion script, both written from the subcommand table so
// that they always say what --help says.
#ifndef QUILLET_CLI_REFERENCE_PAGES_H
#define QUILLET_CLI_REFERENCE_PAGES_H

#include <string>
#include <string_view>
#include <vector>

#include "subcommand.h"

namespace quillet::cli {

struct OptionName {
  Option option;
  std::string_view name;
  // True when the option is followed by a value.
  bool takesValue;
};

// The spelling of every Option bit on the command line.
const std::vector<OptionName>& OptionNames();

// quillet.1 in roff.
std::string ManualPage(const SubcommandTable& table, std::string_view version);

// A bash completion script for quillet: subcommands, the server actions and each subcommand's
// options; file names where a FILE is expected.
std::string BashCompletion(const SubcommandTable& table);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_REFERENCE_PAGES_H
