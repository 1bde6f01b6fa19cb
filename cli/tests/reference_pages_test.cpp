#include "reference_pages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "command_line.h"

using ::testing::HasSubstr;
using ::testing::Not;
using namespace quillet::cli;

namespace {

JobResult Nothing(const Invocation&) { return {}; }

const SubcommandTable kTable = {
    {"dir-db", "SERVER", "list databases", "Lists them.\n.ne 3 \\fB-x", 1, 1, Credential::kServer,
     Listing::kDatabases, kOptionPasswordFile | kOptionFormat, nullptr, Nothing},
    {"drop-db", "SERVER DATABASE", "drop", "Drops.", 2, 2, Credential::kServer, Listing::kNone,
     kOptionPasswordFile, nullptr, Nothing},
    {"server status", "SERVER", "status", "Prints the state.", 1, 1, Credential::kNone,
     Listing::kText, 0, nullptr, Nothing},
    {"server start", "SERVER", "start", "Starts.", 1, 1, Credential::kNone, Listing::kNone, 0,
     nullptr, Nothing},
};

// What bash offers after the words typed so far, the last one being completed.
std::string Completions(const std::string& typed) {
  const std::string script = ::testing::TempDir() + "quillet-completion.bash";
  std::ofstream(script) << BashCompletion(kTable);
  const std::string command = "bash -c 'source " + script + "; COMP_WORDS=(" + typed +
                              "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quillet; "
                              "echo \"${COMPREPLY[*]}\"'";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  return output;
}

TEST(ReferencePagesTest, OptionNamesAreThoseTheParserTakes) {
  for (const OptionName& option : OptionNames()) {
    std::vector<std::string> arguments{std::string(option.name)};
    if (option.takesValue) arguments.push_back(option.name == "--format" ? "json" : "7");
    EXPECT_EQ(ParseArguments(arguments, option.option).error, "") << option.name;
    EXPECT_NE(ParseArguments(arguments, 0).error, "") << option.name;
  }
}

TEST(ReferencePagesTest, CompletionOffersSubcommandsActionsAndEachOnesOptions) {
  EXPECT_EQ(Completions("quillet d"), "dir-db drop-db\n");
  EXPECT_EQ(Completions("quillet server st"), "status start\n");
  EXPECT_EQ(Completions("quillet dir-db SRV --"), "--help --password-file --format\n");
  EXPECT_EQ(Completions("quillet drop-db --r"), "\n");
  // Positional arguments and option values are left to bash's file names.
  EXPECT_EQ(Completions("quillet dir-db --password-file x"), "\n");
  EXPECT_EQ(Completions("quillet dir-db S"), "\n");
}

TEST(ReferencePagesTest, ManualPageHoldsEachSubcommandsHelpWithRoffEscaped) {
  const std::string page = ManualPage(kTable, "9.8.7");
  EXPECT_THAT(page, HasSubstr("\"Quillet 9.8.7\""));
  for (const Subcommand& subcommand : kTable) {
    EXPECT_THAT(page, HasSubstr("\n.SS " + std::string(subcommand.name) + "\n"));
  }
  EXPECT_THAT(page, HasSubstr("\n\\&.ne 3 \\efB\\-x\n"));
  EXPECT_THAT(page, Not(HasSubstr("\n.ne")));
}

}  // namespace
