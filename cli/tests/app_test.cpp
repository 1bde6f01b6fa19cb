#include "app.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using namespace quillet::cli;

namespace {

// What the scripted jobs saw and answer; reset by the fixture.
struct Script {
  std::vector<Invocation> invocations;
  JobResult answer;
};
Script script;

JobResult Record(const Invocation& invocation) {
  script.invocations.push_back(invocation);
  return script.answer;
}

std::string NeedsNonEmpty(const Invocation& invocation) {
  return invocation.arguments[1].empty() ? "DATABASE must not be empty" : "";
}

void AddTestSubcommands(CommandLine& commandLine) {
  commandLine.Add(Subcommand("create-db", "SERVER DATABASE", "create a database")
                      .As(Credential::kServer)
                      .Runs("Call", Record)
                      .Checks(NeedsNonEmpty));
  commandLine.Add(Subcommand("dir-db", "SERVER", "list databases")
                      .As(Credential::kServer)
                      .Runs("Call", Record)
                      .Lists(Listing::kDatabases));
  commandLine.Add(Subcommand("list-connections", "SERVER", "list connections")
                      .As(Credential::kServer)
                      .Runs("Call", Record)
                      .Lists(Listing::kConnections));
  commandLine.Add(Subcommand("reload", "DATABASE USER SCRIPT", "reload")
                      .As(Credential::kDatabaseUser)
                      .Runs("Call", Record));
  commandLine.Add(Subcommand("drop-db", "SERVER DATABASE", "drop a database")
                      .As(Credential::kServer)
                      .Runs("Call", Record)
                      .Confirms([](const Invocation&) { return std::string("Drop it?"); }));
  commandLine.AddGroup("server", "Stand-in servers");
  commandLine.Add(
      Subcommand("server status", "SERVER", "status").Runs("Call", Record).Lists(Listing::kText));
  commandLine.Add(Subcommand("server create", "SERVER", "create")
                      .As(Credential::kNewServer)
                      .Runs("Call", Record));
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override { script = Script{}; }

  int Run(std::vector<std::string> arguments) {
    out_.str("");
    err_.str("");
    const Environment environment{
        {[this](const char* name) -> const char* {
           return std::string(name) == "QUILLET_PASSWORD" && password_ ? password_->c_str()
                                                                       : nullptr;
         },
         [this] { return inputTerminal_; },
         [](const std::string&) { return std::optional<std::string>(); }},
        [](int32_t code) -> const char* { return code == 1203 ? "database exists" : nullptr; },
        nullptr,
        out_,
        err_,
        nullptr,
        [this] { return errorTerminal_; },
        [this](const std::string& question) {
          questions_.push_back(question);
          return std::optional<std::string>("y");
        },
        nullptr};
    CommandLine commandLine;
    AddTestSubcommands(commandLine);
    return RunQuillet(arguments, commandLine, environment);
  }

  std::optional<std::string> password_ = "pw";
  bool inputTerminal_ = false;
  bool errorTerminal_ = false;
  std::vector<std::string> questions_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(AppTest, RunsTheJobWithItsArgumentsAndPasswordAndSucceedsQuietly) {
  EXPECT_EQ(Run({"create-db", "ACME", "DEMO"}), kExitSuccess);
  ASSERT_EQ(script.invocations.size(), 1U);
  EXPECT_THAT(script.invocations[0].arguments, ElementsAre("ACME", "DEMO"));
  EXPECT_EQ(script.invocations[0].password, "pw");
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "");
}

TEST_F(AppTest, AFailedJobExitsWithOneAndGivesTheCodeAndItsMeaning) {
  script.answer.code = 1203;
  EXPECT_EQ(Run({"create-db", "ACME", "DEMO"}), kExitJobFailed);
  EXPECT_EQ(err_.str(), "quillet create-db: failed with return code 1203 (database exists)\n");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(AppTest, ACodeOfUnknownMeaningIsGivenAlone) {
  script.answer.code = -7;
  EXPECT_EQ(Run({"create-db", "ACME", "DEMO"}), kExitJobFailed);
  EXPECT_EQ(err_.str(), "quillet create-db: failed with return code -7\n");
}

TEST_F(AppTest, QuilletsOwnResultsAreExplainedWithoutAnyHelp) {
  script.answer.code = -30001;
  EXPECT_EQ(Run({"create-db", "ACME", "DEMO"}), kExitJobFailed);
  EXPECT_THAT(err_.str(), HasSubstr("return code -30001 (an argument is missing"));
}

TEST_F(AppTest, AJobThatCouldNotRunExitsWithOneAndSaysWhy) {
  script.answer.problem = "no stand-in here";
  EXPECT_EQ(Run({"server", "status", "ACME"}), kExitJobFailed);
  EXPECT_EQ(err_.str(), "quillet server status: no stand-in here\n");
}

TEST_F(AppTest, ListingsAreReadableByDefaultAndRawOnRequest) {
  script.answer.text = "A;B;";
  EXPECT_EQ(Run({"dir-db", "ACME"}), kExitSuccess);
  EXPECT_EQ(out_.str(), "A\nB\n");
  EXPECT_EQ(Run({"dir-db", "--raw", "ACME"}), kExitSuccess);
  EXPECT_EQ(out_.str(), "A;B;\n");

  script.answer.text = "3:SALES:ADMIN:REPORTS";
  EXPECT_EQ(Run({"list-connections", "ACME"}), kExitSuccess);
  EXPECT_THAT(out_.str(), StartsWith("PROCESS  DATABASE  USER   PROGRAM\n"));
  EXPECT_EQ(Run({"list-connections", "ACME", "--raw"}), kExitSuccess);
  EXPECT_EQ(out_.str(), "3:SALES:ADMIN:REPORTS\n");
}

TEST_F(AppTest, AnEmptyRawListPrintsNothing) {
  EXPECT_EQ(Run({"dir-db", "--raw", "ACME"}), kExitSuccess);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(AppTest, APasswordArgumentIsRefusedBeforeAnythingRunsAndIsNotRepeated) {
  for (auto arguments :
       std::vector<std::vector<std::string>>{{"create-db", "ACME", "DEMO", "--password=hunter2"},
                                             {"create-db", "--password", "hunter2", "ACME", "DEMO"},
                                             {"--password=hunter2", "create-db", "ACME", "DEMO"},
                                             {"create-db", "-phunter2", "--help"},
                                             {"server", "--password=hunter2"},
                                             {"help", "--password=hunter2"}}) {
    EXPECT_EQ(Run(arguments), kExitUsage) << arguments[1];
    EXPECT_THAT(err_.str(), Not(HasSubstr("hunter2")));
    EXPECT_THAT(out_.str(), IsEmpty());
  }
  EXPECT_THAT(script.invocations, IsEmpty());
}

TEST_F(AppTest, NoPasswordAnywhereIsAUsageErrorAndRunsNothing) {
  password_.reset();
  EXPECT_EQ(Run({"reload", "DEMO", "SYSADM", "x.sql"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("quillet reload: needs the password for user SYSADM on "
                                    "database DEMO"));
  EXPECT_THAT(script.invocations, IsEmpty());
}

TEST_F(AppTest, SubcommandsWithoutCredentialAskForNoPassword) {
  password_.reset();
  script.answer.text = "running";
  EXPECT_EQ(Run({"server", "status", "ACME"}), kExitSuccess);
  EXPECT_EQ(out_.str(), "running\n");
}

TEST_F(AppTest, WrongArgumentCountsShowTheUsage) {
  EXPECT_EQ(Run({"create-db", "ACME"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("quillet create-db: expects SERVER DATABASE\n"
                                    "Usage: quillet create-db SERVER DATABASE [options]\n"));
  EXPECT_EQ(Run({"dir-db", "ACME", "extra"}), kExitUsage);
  EXPECT_THAT(script.invocations, IsEmpty());
}

TEST_F(AppTest, ASlashInDatabaseOrUserCannotSmuggleAPasswordIntoTheConnectText) {
  EXPECT_EQ(Run({"reload", "DEMO", "SYSADM/hunter2", "x.sql"}), kExitUsage);
  EXPECT_EQ(Run({"reload", "DEMO/SYSADM", "hunter2", "x.sql"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("cannot hold \"/\""));
  EXPECT_THAT(script.invocations, IsEmpty());
  EXPECT_EQ(Run({"reload", "DEMO", "SYSADM", "dir/x.sql"}), kExitSuccess);
}

TEST_F(AppTest, TheSubcommandsOwnCheckIsAUsageError) {
  EXPECT_EQ(Run({"create-db", "ACME", ""}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("DATABASE must not be empty"));
  EXPECT_THAT(script.invocations, IsEmpty());
}

TEST_F(AppTest, UnknownSubcommandsAndMissingOnesAreUsageErrors) {
  EXPECT_EQ(Run({}), kExitUsage);
  EXPECT_EQ(Run({"make-coffee"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("unknown subcommand 'make-coffee'"));
  EXPECT_EQ(Run({"server", "explode", "ACME"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("unknown subcommand 'server explode'"));
  EXPECT_EQ(Run({"server"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("server status"));
  EXPECT_EQ(Run({"server", ""}), kExitUsage);
  EXPECT_EQ(Run({"server", "-x"}), kExitUsage);
}

TEST_F(AppTest, HelpGoesToStandardOutputAndRunsNothing) {
  EXPECT_EQ(Run({"--help"}), kExitSuccess);
  EXPECT_THAT(out_.str(), HasSubstr("  create-db             create a database\n"));
  EXPECT_THAT(out_.str(), HasSubstr("QUILLET_PASSWORD"));
  EXPECT_THAT(out_.str(), HasSubstr("Exit status"));

  EXPECT_EQ(Run({"create-db", "--help"}), kExitSuccess);
  EXPECT_THAT(out_.str(), StartsWith("Usage: quillet create-db SERVER DATABASE [options]\n"));
  EXPECT_THAT(out_.str(), HasSubstr("--password-file FILE"));

  EXPECT_EQ(Run({"help", "server", "status"}), kExitSuccess);
  EXPECT_THAT(out_.str(), StartsWith("Usage: quillet server status SERVER"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("--password-file")));

  EXPECT_EQ(Run({"server", "--help"}), kExitSuccess);
  EXPECT_THAT(out_.str(), HasSubstr("server status"));
  EXPECT_THAT(out_.str(), Not(HasSubstr("create-db")));
  EXPECT_THAT(script.invocations, IsEmpty());
  EXPECT_EQ(err_.str(), "");
}

TEST_F(AppTest, ANewServerNeedsAPasswordThatIsNotEmpty) {
  password_ = "";
  EXPECT_EQ(Run({"server", "create", "ACME"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("cannot be empty"));
  EXPECT_THAT(script.invocations, IsEmpty());
  password_ = "pw";
  EXPECT_EQ(Run({"server", "create", "ACME"}), kExitSuccess);
}

TEST_F(AppTest, AnUnknownOptionInPlaceOfTheSubcommandShowsNoValue) {
  EXPECT_EQ(Run({"-Xhunter2"}), kExitUsage);
  EXPECT_THAT(err_.str(), Not(HasSubstr("hunter2")));
  EXPECT_EQ(Run({"-Xhunter2", "create-db", "ACME", "DEMO"}), kExitUsage);
  EXPECT_THAT(err_.str(), AllOf(HasSubstr("-X"), Not(HasSubstr("hunter2"))));
  EXPECT_EQ(Run({"create-db", "-Phunter2", "ACME", "DEMO"}), kExitUsage);
  EXPECT_THAT(err_.str(), Not(HasSubstr("hunter2")));
}

// A question on a standard error that goes elsewhere would be answered unseen.
TEST_F(AppTest, AConfirmationIsAskedOnlyWhenInputAndErrorAreBothTerminals) {
  inputTerminal_ = true;
  EXPECT_EQ(Run({"drop-db", "ACME", "TMP1"}), kExitJobFailed);
  EXPECT_THAT(err_.str(), HasSubstr("give -y"));
  EXPECT_THAT(questions_, IsEmpty());
  EXPECT_THAT(script.invocations, IsEmpty());
  EXPECT_EQ(Run({"drop-db", "ACME", "TMP1", "-y"}), kExitSuccess);
  errorTerminal_ = true;
  EXPECT_EQ(Run({"drop-db", "ACME", "TMP1"}), kExitSuccess);
  EXPECT_THAT(questions_, ElementsAre("Drop it? [y/N] "));
  inputTerminal_ = false;
  EXPECT_EQ(Run({"drop-db", "ACME", "TMP1"}), kExitSuccess);
  EXPECT_EQ(script.invocations.size(), 3U);
}

TEST_F(AppTest, NoControlByteOfTheUsersOrTheServersReachesStandardError) {
  script.answer.code = 1203;
  script.answer.detail =
      "no \x1b]0;title\a in\nline \xc2\x9b"
      "2J";
  EXPECT_EQ(Run({"create-db", "ACME", "D\x1b[2J"}), kExitJobFailed);
  EXPECT_THAT(err_.str(), HasSubstr("no ?]0;title? in\nline ?2J\n"));
  password_ = std::nullopt;
  EXPECT_EQ(Run({"dir-db", "A\x1b[31m"}), kExitUsage);
  EXPECT_THAT(err_.str(), HasSubstr("server A?[31m"));
  EXPECT_EQ(Run({"dir-db", "A", "-\x1b[31m"}), kExitUsage);
  EXPECT_THAT(err_.str(), AllOf(HasSubstr("unknown option -?"), Not(HasSubstr("\x1b"))));
}

}  // namespace
