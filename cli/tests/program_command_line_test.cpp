// The command line itself: help, the version, misuse, passwords and --verbose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "program_fixture.h"

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;
using namespace quillet::cli::testing;

namespace {

// clang-format off
const char* const kSubcommands[] = {
    "install-db", "deinstall-db", "create-db", "drop-db", "terminate-server", "kill-connection",
    "dir-db", "snapshot", "all-snapshot", "list-connections", "kill-all-connections",
    "restore", "update-stats", "release-log", "load", "unload", "reload", "export-csv", "set-password",
    "plan check", "plan run", "plan list", "plan status", "plan report", "plan verify", "plan restore",
    "server create", "server start", "server status", "server list", "server root"};
// clang-format on

// The long options of a help text's option lines, "  -y, --yes  ...", in order.
std::vector<std::string> OptionsOf(const std::string& help) {
  std::vector<std::string> options;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  -", 0) != 0) continue;
    std::istringstream names(line.substr(2, line.find("  ", 2) - 2));
    for (std::string name; names >> name;) {
      if (name.rfind("--", 0) == 0) options.push_back(name.substr(0, name.find(',')));
    }
  }
  return options;
}

// What the installed bash completion offers after the words typed so far.
std::vector<std::string> Completions(const std::string& typed) {
  const std::string command = "bash -c 'source " QUILLET_BASH_COMPLETION "; COMP_WORDS=(" + typed +
                              "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quillet; " +
                              "echo \"${COMPREPLY[*]}\"'";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  return Words(output);
}

TEST_F(ProgramTest, HelpListsEverySubcommandAndEachHasItsOwn) {
  const ProgramRun overall = Quillet("--help");
  EXPECT_EQ(overall.status, 0);
  EXPECT_THAT(overall.out, HasSubstr("QUILLET_PASSWORD"));
  for (const char* subcommand : kSubcommands) {
    const std::string name = subcommand;
    EXPECT_THAT(overall.out, HasSubstr("  " + name + " ")) << name;
    const ProgramRun help = Quillet(name + " --help");
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_THAT(help.out, StartsWith("Usage: quillet " + name)) << name;
    EXPECT_THAT(help.out, HasSubstr("\nExample:\n  ")) << name;
    EXPECT_EQ(help.err, "") << name;
  }
  // The server reads and writes the files of load and unload: their forms are shown.
  EXPECT_THAT(Quillet("load --help").out, HasSubstr("\"LOAD SQL FILE\""));
  const std::string unload = Quillet("unload --help").out;
  EXPECT_THAT(unload, HasSubstr("\"UNLOAD SQL FILE\" and \"UNLOAD DATABASE FILE\""));
  EXPECT_THAT(unload, HasSubstr("The server writes FILE"));
}

// All three are written from one CLI11 app; this holds the build to shipping all of it.
TEST_F(ProgramTest, HelpTheManualPageAndTheCompletionListTheSameSubcommandsAndOptions) {
  std::string page = ReadFile(QUILLET_MANUAL_PAGE);
  for (std::size_t at; (at = page.find("\\-")) != std::string::npos;) page.erase(at, 1);
  std::vector<std::string> listed;
  std::istringstream lines(Quillet("--help").out);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 2 && line.rfind("  ", 0) == 0 && line[2] >= 'a' && line[2] <= 'z')
      listed.push_back(line.substr(2, line.find("  ", 2) - 2));
  }
  EXPECT_THAT(listed, ::testing::ElementsAreArray(kSubcommands));
  std::vector<std::string> inPage;
  for (std::size_t at = 0; (at = page.find("\n.SS ", at)) != std::string::npos; ++at) {
    inPage.push_back(page.substr(at + 5, page.find('\n', at + 1) - at - 5));
  }
  EXPECT_EQ(inPage, listed);
  const std::vector<std::string> topLevel = Completions("quillet \"\"");
  for (const std::string& name : listed) {
    const std::string first = name.substr(0, name.find(' '));
    EXPECT_THAT(topLevel, ::testing::Contains(first)) << name;
    if (first != name) {
      EXPECT_THAT(Completions("quillet " + first + " \"\""),
                  ::testing::Contains(name.substr(first.size() + 1)));
    }
    const std::vector<std::string> options = OptionsOf(Quillet(name + " --help").out);
    const std::size_t section = page.find("\n.SS " + name + "\n");
    EXPECT_EQ(OptionsOf(page.substr(section, page.find("\n.S", section + 1) - section)), options)
        << name;
    std::vector<std::string> offered = Completions("quillet " + name + " --");
    std::vector<std::string> sorted = options;
    std::sort(offered.begin(), offered.end());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(offered, sorted) << name;
  }
}

TEST_F(ProgramTest, VersionNamesTheCommandLineTheLibraryAndTheClientLibrary) {
  EXPECT_THAT(Quillet("--help").out, HasSubstr("-V, --version"));
  const ProgramRun version = Quillet("-V");
  EXPECT_EQ(version.status, 0);
  EXPECT_THAT(version.out, MatchesRegex("quillet [0-9.]+\nlibrary: Quillet [0-9.]+, "
                                        ".*libquillet\\.so.*\nclient library: the stand-in "
                                        "server over SQLite 3\\.[0-9.]+\n"));
  EXPECT_EQ(Quillet("--version").out, version.out);
}

TEST_F(ProgramTest, VerboseShowsTheLibraryCallAndItsResultButNoPassword) {
  ASSERT_EQ(Quillet("server create ACME", WithPassword("acme-pw")).status, 0);
  const ProgramRun run = Quillet("create-db ACME DEMO -v", WithPassword("acme-pw"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "quillet: calling CreateDB(SERVER=\"ACME\", DATABASE=\"DEMO\", password not shown)\n"
            "quillet: CreateDB returned 0\n");
}

TEST_F(ProgramTest, MisuseExitsWithTwoAndSaysWhatToDoOnStandardError) {
  for (const char* command :
       {"", "make-coffee", "create-db ACME", "dir-db ACME --flag 1", "kill-connection ACME seven",
        "kill-all-connections ACME", "kill-all-connections ACME DEMO --all"}) {
    const ProgramRun run = Quillet(command, WithPassword("pw"));
    EXPECT_EQ(run.status, 2) << command;
    EXPECT_THAT(run.err, HasSubstr("quillet")) << command;
    EXPECT_THAT(run.out, IsEmpty()) << command;
  }
}

TEST_F(ProgramTest, APasswordOnTheCommandLineIsRefusedAndNotRepeated) {
  for (const char* command :
       {"create-db ACME DEMO --password=hunter2", "create-db ACME DEMO -p hunter2",
        "--password hunter2 dir-db ACME", "reload DEMO SYSADM x.sql --pw=hunter2"}) {
    const ProgramRun run = Quillet(command);
    EXPECT_EQ(run.status, 2) << command;
    EXPECT_THAT(run.err, HasSubstr("QUILLET_PASSWORD")) << command;
    EXPECT_THAT(run.err + run.out, Not(HasSubstr("hunter2"))) << command;
  }
}

TEST_F(ProgramTest, WithoutAPasswordAndWithoutATerminalItFailsClearly) {
  const ProgramRun run = Quillet("dir-db ACME");
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("needs the password for server ACME"));
  EXPECT_THAT(run.err, HasSubstr("--password-file"));
}

TEST_F(ProgramTest, AMissingPasswordFileFailsClearly) {
  const ProgramRun run =
      Quillet("dir-db ACME --password-file " + root_ + "/missing", WithPassword("pw"));
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("cannot read the password file"));
}

TEST_F(ProgramTest, ServerAndDatabasePasswordsComeFromTheirOwnVariables) {
  const EnvironmentChanges both = {{"QUILLET_SERVER_PASSWORD", "acme-pw"},
                                   {"QUILLET_PASSWORD", "SYSADM"}};
  ASSERT_EQ(Quillet("server create ACME", both).status, 0);
  EXPECT_EQ(Quillet("create-db ACME DEMO", both).status, 0);
  EXPECT_EQ(Quillet("update-stats DEMO SYSADM", both).status, 0);
  // Server jobs fall back to QUILLET_PASSWORD when QUILLET_SERVER_PASSWORD is not set.
  EXPECT_EQ(Quillet("dir-db ACME", WithPassword("acme-pw")).out, "DEMO\n");
  const ProgramRun neither =
      Quillet("update-stats DEMO SYSADM", {{"QUILLET_SERVER_PASSWORD", "x"}});
  EXPECT_EQ(neither.status, 2);
  EXPECT_THAT(neither.err, HasSubstr("set QUILLET_PASSWORD,"));
}

TEST_F(ProgramTest, APasswordComesFromStandardInputOrAPrivateFileOnly) {
  const std::string file = root_ + "/password";
  std::ofstream(file) << "acme-pw\n";
  std::filesystem::permissions(
      file, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  const ProgramRun open = Quillet("server create ACME --password-file " + file);
  EXPECT_EQ(open.status, 2);
  EXPECT_EQ(open.err, "quillet server create: the password file " + file +
                          " can be read by group or others (mode 440), so it is not used; make "
                          "it private: chmod 600 " +
                          file + "\n");
  EXPECT_EQ(Quillet("server status ACME").status, 1);

  const ProgramRun typed = RunProgram(
      QUILLET_PROGRAM, {"server", "create", "ACME", "--password-file", "-"}, environment_, file);
  EXPECT_EQ(typed.status, 0) << typed.err;
  EXPECT_EQ(Quillet("dir-db ACME", WithPassword("acme-pw")).status, 0);
}

TEST_F(ProgramTest, OnATerminalThePasswordIsAskedForAndNotShown) {
  ASSERT_EQ(Quillet("server create ACME", WithPassword("typed-pw")).status, 0);
  EnvironmentChanges environment = environment_;
  const ProgramRun run = RunOnTerminal(QUILLET_PROGRAM, {"dir-db", "ACME"}, environment,
                                       {{"Password for server ACME: ", "typed-pw"}});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_THAT(run.out, HasSubstr("Password for server ACME: "));
  EXPECT_THAT(run.out, Not(HasSubstr("typed-pw")));
  const ProgramRun wrong = RunOnTerminal(QUILLET_PROGRAM, {"dir-db", "ACME"}, environment,
                                         {{"Password for server ACME: ", "not-it"}});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_THAT(wrong.out, HasSubstr("return code 9103"));
  // "--password-file -" on a terminal is typing too.
  const ProgramRun fromInput =
      RunOnTerminal(QUILLET_PROGRAM, {"dir-db", "ACME", "--password-file", "-"}, environment,
                    {{"Password for server ACME: ", "typed-pw"}});
  EXPECT_EQ(fromInput.status, 0) << fromInput.out;
  EXPECT_THAT(fromInput.out, Not(HasSubstr("typed-pw")));
}

TEST_F(ProgramTest, AMistypedSubcommandGetsTheNearestSuggested) {
  const ProgramRun run = Quillet("creat-db ACME DEMO");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "quillet: unknown subcommand 'creat-db'\nDid you mean 'quillet create-db'?\n"
            "Try 'quillet --help'.\n");
  EXPECT_THAT(Quillet("frobnicate").err, Not(HasSubstr("Did you mean")));
}

}  // namespace
