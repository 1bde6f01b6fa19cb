// Writes quillet.1 or the bash completion script to standard output; run by the build.
#include <iostream>
#include <string_view>

#include "library_subcommands.h"
#include "plan/plan_subcommands.h"
#include "reference_pages.h"
#include "restore_subcommand.h"
#include "standin_subcommands.h"

int main(int argc, char** argv) {
  using namespace quillet::cli;
  const std::string_view what = argc == 3 ? argv[1] : "";
  CommandLine commandLine;
  AddLibrarySubcommands(commandLine);
  AddRestoreSubcommand(commandLine);
  AddPlanSubcommands(commandLine);
  AddStandinSubcommands(commandLine);
  if (what == "man") {
    std::cout << ManualPage(commandLine, argv[2]);
  } else if (what == "bash-completion") {
    std::cout << BashCompletion(commandLine);
  } else {
    std::cerr << "usage: quillet_reference_pages man|bash-completion VERSION\n";
    return 2;
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}
