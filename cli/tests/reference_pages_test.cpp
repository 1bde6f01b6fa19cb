#include "reference_pages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;
using namespace quillet::cli;

namespace {

JobResult Nothing(const Invocation&) { return {}; }

class TestCommandLine : public CommandLine {
 public:
  TestCommandLine() {
    Add(Subcommand("dir-db", "SERVER", "list databases")
            .Describe("Lists them.\n.ne 3 \\fB-x")
            .As(Credential::kServer)
            .Runs("DirDB", Nothing)
            .Lists(Listing::kDatabases));
    Add(Subcommand("drop-db", "SERVER DATABASE", "drop")
            .Describe("Drops.")
            .As(Credential::kServer)
            .Runs("DropDB", Nothing));
    AddGroup("server", "Stand-in servers");
    Add(Subcommand("server status", "SERVER", "status")
            .Describe("Prints the state.")
            .Runs("", Nothing));
    Add(Subcommand("server start", "SERVER", "start").Describe("Starts.").Runs("", Nothing))
        .add_option("--flag", invocation().flag, "a flag")
        ->type_name("N");
  }
};

// What bash offers after the words typed so far, the last one being completed.
std::string Completions(const std::string& typed) {
  // ctest runs the cases as processes side by side: a script of each one's own.
  const std::string script =
      ::testing::TempDir() + "quillet-completion-" + std::to_string(getpid()) + ".bash";
  std::ofstream(script) << BashCompletion(TestCommandLine());
  const std::string command = "bash -c 'source " + script + "; COMP_WORDS=(" + typed +
                              "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quillet; "
                              "echo \"${COMPREPLY[*]}\"'";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  std::remove(script.c_str());
  return output;
}

// Each option that the pages show for a subcommand is one that it takes, and only it.
TEST(ReferencePagesTest, OptionNamesAreThoseTheParserTakes) {
  TestCommandLine commandLine;
  const CLI::App* drop = commandLine.app().get_subcommand("drop-db");
  for (const CLI::Option* option : ShownOptions(*commandLine.app().get_subcommand("dir-db"))) {
    const std::string name = LongName(*option);
    std::vector<std::string> arguments{"dir-db", "SRV", name};
    if (option->get_items_expected_max() > 0) arguments.emplace_back("json");
    EXPECT_EQ(commandLine.Parse(arguments).error, "") << name;
    if (drop->get_option_no_throw(name) != nullptr) continue;
    arguments.insert(arguments.begin() + 1, "DB");
    arguments[0] = "drop-db";
    EXPECT_THAT(commandLine.Parse(arguments).error, HasSubstr("takes no " + name + " option"));
  }
}

TEST(ReferencePagesTest, CompletionOffersSubcommandsActionsAndEachOnesOptions) {
  EXPECT_EQ(Completions("quillet d"), "dir-db drop-db\n");
  EXPECT_EQ(Completions("quillet server st"), "status start\n");
  EXPECT_EQ(Completions("quillet dir-db SRV --"),
            "--help --password-file --format --raw --quiet --verbose\n");
  EXPECT_EQ(Completions("quillet server start SRV --f"), "--flag\n");
  EXPECT_EQ(Completions("quillet drop-db --r"), "\n");
  // Positional arguments and option values are left to bash's file names.
  EXPECT_EQ(Completions("quillet dir-db --password-file x"), "\n");
  EXPECT_EQ(Completions("quillet dir-db S"), "\n");
}

TEST(ReferencePagesTest, CompletionFindsTheSubcommandAfterOptionsAndTheirValues) {
  EXPECT_EQ(Completions("quillet -q dr"), "drop-db\n");
  EXPECT_EQ(Completions("quillet --format json d"), "dir-db drop-db\n");
  // bash splits "--format=json" at the "=".
  EXPECT_EQ(Completions("quillet --format = json dir-db SRV --r"), "--raw\n");
  EXPECT_EQ(Completions("quillet --flag 2 server -v st"), "status start\n");
  EXPECT_EQ(Completions("quillet -v server start SRV --f"), "--flag\n");
  EXPECT_EQ(Completions("quillet --format \"\""), "\n");
  // Before the subcommand, every subcommand's options may stand.
  EXPECT_EQ(Completions("quillet --f"), "--format --flag\n");
}

TEST(ReferencePagesTest, ManualPageHoldsEachSubcommandsHelpWithRoffEscaped) {
  const std::string page = ManualPage(TestCommandLine(), "9.8.7");
  EXPECT_THAT(page, HasSubstr("\"Quillet 9.8.7\""));
  for (const char* subcommand : {"dir-db", "drop-db", "server status", "server start"}) {
    EXPECT_THAT(page, HasSubstr("\n.SS " + std::string(subcommand) + "\n"));
  }
  EXPECT_THAT(page, HasSubstr("\n  \\-\\-flag N"));
  EXPECT_THAT(page, HasSubstr("\n\\&.ne 3 \\efB\\-x\n"));
  EXPECT_THAT(page, Not(HasSubstr("\n.ne")));
  for (const char* variable :
       {"QUILLET_SERVER_PASSWORD", "QUILLET_PASSWORD", "QUILLET_SERVER", "QUILLET_STANDIN_ROOT"}) {
    EXPECT_THAT(page, HasSubstr("\n.B " + std::string(variable) + "\n"));
  }
}

}  // namespace
