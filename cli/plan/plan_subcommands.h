// The group "plan": fleet maintenance from one plan file.
#ifndef QUILLET_CLI_PLAN_PLAN_SUBCOMMANDS_H
#define QUILLET_CLI_PLAN_PLAN_SUBCOMMANDS_H

#include "command_line.h"

namespace quillet::cli {

void AddPlanSubcommands(CommandLine& commandLine);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_PLAN_PLAN_SUBCOMMANDS_H
