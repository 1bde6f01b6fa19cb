// The quillet program as a user drives it: arguments, passwords, output and exit status, with
// libquillet.so doing real work on the stand-in server in a scratch folder.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "program_runner.h"

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
    "update-stats", "release-log", "load", "unload", "reload", "export-csv", "set-password",
    "server create", "server start", "server status", "server list", "server root"};
// clang-format on

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Each test gets an empty folder of stand-in servers and an environment without a password.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ::testing::TempDir() + "quillet_cli_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
            std::to_string(getpid());
    std::filesystem::remove_all(root_);
    ASSERT_TRUE(std::filesystem::create_directory(root_));
    environment_ = {{"QUILLET_STANDIN_ROOT", root_},
                    {"QUILLET_PASSWORD", std::nullopt},
                    {"QUILLET_SERVER_PASSWORD", std::nullopt},
                    {"QUILLET_SERVER", std::nullopt},
                    {"QUILLET_STANDIN_SERVER", std::nullopt}};
  }

  void TearDown() override {
    if (!HasFailure()) std::filesystem::remove_all(root_);
  }

  ProgramRun Quillet(const std::string& command, EnvironmentChanges extra = {}) {
    return QuilletArguments(Words(command), std::move(extra));
  }
  ProgramRun QuilletArguments(const std::vector<std::string>& arguments,
                              EnvironmentChanges extra = {}) {
    EnvironmentChanges environment = environment_;
    for (auto& [name, value] : extra) environment[name] = value;
    return RunProgram(QUILLET_PROGRAM, arguments, environment);
  }
  EnvironmentChanges WithPassword(const std::string& password) {
    return {{"QUILLET_PASSWORD", password}};
  }

  // A running stand-in server ACME (password "acme-pw") with the empty database DEMO.
  void CreateServerWithDatabase() {
    ASSERT_EQ(Quillet("server create ACME", WithPassword("acme-pw")).status, 0);
    ASSERT_EQ(Quillet("create-db ACME DEMO", WithPassword("acme-pw")).status, 0);
  }

  std::string root_;
  EnvironmentChanges environment_;
};

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

TEST_F(ProgramTest, VersionNamesTheCommandLineTheLibraryAndTheClientLibrary) {
  EXPECT_THAT(Quillet("--help").out, HasSubstr("-V, --version"));
  const ProgramRun version = Quillet("-V");
  EXPECT_EQ(version.status, 0);
  EXPECT_THAT(version.out, MatchesRegex("quillet [0-9.]+\nlibrary: Quillet [0-9.]+, "
                                        ".*libquillet\\.so.*\nclient library: the stand-in "
                                        "server over SQLite 3\\.[0-9.]+\n"));
  EXPECT_EQ(Quillet("--version").out, version.out);
}

TEST_F(ProgramTest, JobsThatCannotBeUndoneAskOnATerminalUnlessYes) {
  CreateServerWithDatabase();
  const EnvironmentChanges environment = {{"QUILLET_STANDIN_ROOT", root_},
                                          {"QUILLET_SERVER_PASSWORD", "acme-pw"}};
  const ProgramRun declined =
      RunOnTerminal(QUILLET_PROGRAM, {"drop-db", "ACME", "DEMO"}, environment, {{"[y/N] ", "n"}});
  EXPECT_EQ(declined.status, 1);
  EXPECT_THAT(declined.out, HasSubstr("Drop the database DEMO of server ACME and remove its file? "
                                      "[y/N] n"));
  EXPECT_THAT(declined.out, HasSubstr("not confirmed; nothing was done"));
  EXPECT_EQ(Quillet("dir-db ACME", WithPassword("acme-pw")).out, "DEMO\n");

  const ProgramRun killAll =
      RunOnTerminal(QUILLET_PROGRAM, {"kill-all-connections", "ACME", "--all"}, environment,
                    {{"Kill every client process of server ACME? [y/N] ", "y"}});
  EXPECT_EQ(killAll.status, 0) << killAll.out;
  const ProgramRun yes =
      RunOnTerminal(QUILLET_PROGRAM, {"-y", "drop-db", "ACME", "DEMO"}, environment, {});
  EXPECT_EQ(yes.status, 0) << yes.out;
  EXPECT_THAT(yes.out, Not(HasSubstr("[y/N]")));
  EXPECT_EQ(Quillet("dir-db ACME", WithPassword("acme-pw")).out, "");
}

TEST_F(ProgramTest, ServerStatusExitsWithThreeWhenTerminatedAndServerListShowsAll) {
  ASSERT_EQ(Quillet("server create ACME", WithPassword("a")).status, 0);
  ASSERT_EQ(Quillet("server create BETA", WithPassword("b")).status, 0);
  ASSERT_EQ(Quillet("terminate-server BETA", WithPassword("b")).status, 0);
  const ProgramRun running = Quillet("server status ACME");
  EXPECT_EQ(running.status, 0);
  const ProgramRun terminated = Quillet("server status BETA");
  EXPECT_EQ(terminated.status, 3);
  EXPECT_EQ(terminated.out, "terminated\n");
  EXPECT_EQ(Quillet("server list").out, "ACME\trunning\nBETA\tterminated\n");
}

TEST_F(ProgramTest, LongJobsShowProgressAndASummaryOnATerminalOnly) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/many.sql";
  std::ofstream(script) << "CREATE TABLE many (id INTEGER, name VARCHAR(20));\n"
                           "INSERT INTO many WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT "
                           "i + 1 FROM n WHERE i < 400000) SELECT i, 'row ' || i FROM n;\n";
  ASSERT_EQ(QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM")).status,
            0);
  const EnvironmentChanges environment = {{"QUILLET_STANDIN_ROOT", root_},
                                          {"QUILLET_PASSWORD", "SYSADM"}};
  const std::vector<std::string> exportMany = {"export-csv", "DEMO", "SYSADM", "SELECT * FROM many",
                                               root_ + "/many.csv"};
  const ProgramRun shown = RunOnTerminal(QUILLET_PROGRAM, exportMany, environment, {});
  EXPECT_EQ(shown.status, 0) << shown.out;
  const std::size_t bytes = std::filesystem::file_size(root_ + "/many.csv");
  EXPECT_THAT(shown.out,
              HasSubstr("export-csv: done, 400000 rows, " + std::to_string(bytes) + " bytes ("));
  // How many updates come before the summary depends on the machine's speed, so only the
  // summary is checked here.

  std::vector<std::string> quiet = exportMany;
  quiet.push_back("-q");
  const ProgramRun silenced = RunOnTerminal(QUILLET_PROGRAM, quiet, environment, {});
  EXPECT_EQ(silenced.status, 0);
  EXPECT_EQ(silenced.out, "");
  const ProgramRun piped = QuilletArguments(exportMany, WithPassword("SYSADM"));
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");

  // all-snapshot names each database's directory as it is written.
  ASSERT_EQ(mkdir((root_ + "/nightly").c_str(), 0755), 0);
  const ProgramRun snapshots =
      RunOnTerminal(QUILLET_PROGRAM, {"all-snapshot", "ACME", root_ + "/nightly"},
                    {{"QUILLET_STANDIN_ROOT", root_}, {"QUILLET_SERVER_PASSWORD", "acme-pw"}}, {});
  EXPECT_EQ(snapshots.status, 0) << snapshots.out;
  EXPECT_THAT(snapshots.out, HasSubstr("  " + root_ + "/nightly/DEMO\r\n"));
  EXPECT_THAT(snapshots.out, HasSubstr("all-snapshot: done in "));
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

TEST_F(ProgramTest, ServerPicksTheStandinServerOfADatabaseAndOptionsMayComeFirst) {
  CreateServerWithDatabase();
  ASSERT_EQ(Quillet("server create BETA", WithPassword("beta-pw")).status, 0);
  ASSERT_EQ(Quillet("create-db BETA DEMO", WithPassword("beta-pw")).status, 0);
  const ProgramRun ambiguous = Quillet("update-stats DEMO SYSADM", WithPassword("SYSADM"));
  EXPECT_EQ(ambiguous.status, 1);
  EXPECT_THAT(ambiguous.err, HasSubstr("return code 9115"));
  EXPECT_THAT(ambiguous.err, HasSubstr("--server NAME or QUILLET_SERVER"));

  const std::string script = root_ + "/beta.sql";
  std::ofstream(script) << "CREATE TABLE only_on_beta (id INTEGER);\n";
  EXPECT_EQ(QuilletArguments({"--server", "BETA", "reload", "DEMO", "SYSADM", script},
                             WithPassword("SYSADM"))
                .status,
            0);
  const std::vector<std::string> count = {"export-csv", "DEMO", "SYSADM",
                                          "SELECT count(*) FROM only_on_beta", "-"};
  const ProgramRun onBeta =
      QuilletArguments(count, {{"QUILLET_PASSWORD", "SYSADM"}, {"QUILLET_SERVER", "BETA"}});
  EXPECT_EQ(onBeta.status, 0) << onBeta.err;
  EXPECT_EQ(onBeta.out, "\"count(*)\"\r\n0\r\n");
  std::vector<std::string> onAcme = count;
  onAcme.insert(onAcme.begin() + 1, "--server=ACME");
  const ProgramRun notOnAcme = QuilletArguments(onAcme, WithPassword("SYSADM"));
  EXPECT_EQ(notOnAcme.status, 1);
  EXPECT_THAT(notOnAcme.err, HasSubstr("return code 9131"));
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

TEST_F(ProgramTest, AFailureGivesTheReturnCodeAndItsMeaning) {
  const ProgramRun run = Quillet("server status ACME");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, MatchesRegex("quillet server status: failed with return code 9101 "
                                    "\\(.+\\)\n"));
  EXPECT_THAT(run.out, IsEmpty());
}

TEST_F(ProgramTest, FailuresSayWhatWentWrongInTheServersOwnWords) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/broken.sql";
  std::ofstream(script) << "CREATE TABLE stock (id INTEGER);\n\nINSERT INTO nope VALUES (1);\n";
  const ProgramRun sql =
      QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM"));
  EXPECT_EQ(sql.status, 1);
  EXPECT_EQ(sql.err,
            "quillet reload: failed with return code 9131 (SQL error): SQLite: no such "
            "table: nope (" +
                script + ", line 3)\n");

  const ProgramRun missing =
      QuilletArguments({"reload", "DEMO", "SYSADM", root_ + "/gone.sql"}, WithPassword("SYSADM"));
  EXPECT_THAT(missing.err, HasSubstr("cannot read the script " + root_ +
                                     "/gone.sql: No such file or directory\n"));

  const ProgramRun name = Quillet("create-db ACME INVENTORY", WithPassword("acme-pw"));
  EXPECT_EQ(name.status, 1);
  EXPECT_THAT(name.err, HasSubstr("the database name \"INVENTORY\" is refused: a database name "
                                  "has 1 to 8 letters, digits or _ and starts with a letter"));

  const ProgramRun directory =
      QuilletArguments({"snapshot", "ACME", "DEMO", root_ + "/nowhere"}, WithPassword("acme-pw"));
  EXPECT_THAT(directory.err,
              HasSubstr("the backup directory " + root_ + "/nowhere does not exist"));

  const ProgramRun command = Quillet("load DEMO SYSADM IMPORT-EVERYTHING", WithPassword("SYSADM"));
  EXPECT_THAT(command.err, HasSubstr("LOAD SQL FILE, UNLOAD SQL FILE or UNLOAD DATABASE FILE"));
}

TEST_F(ProgramTest, AMistypedSubcommandGetsTheNearestSuggested) {
  const ProgramRun run = Quillet("creat-db ACME DEMO");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "quillet: unknown subcommand 'creat-db'\nDid you mean 'quillet create-db'?\n"
            "Try 'quillet --help'.\n");
  EXPECT_THAT(Quillet("frobnicate").err, Not(HasSubstr("Did you mean")));
}

TEST_F(ProgramTest, ServersAreCreatedTerminatedAndStartedAgain) {
  EXPECT_EQ(Quillet("server root").out, root_ + "\n");
  std::ofstream(root_ + "/password") << "from-file\n";
  std::filesystem::permissions(root_ + "/password", std::filesystem::perms::owner_read);
  ASSERT_EQ(Quillet("server create ACME --password-file " + root_ + "/password").status, 0);
  EXPECT_EQ(Quillet("server status ACME").out, "running\n");

  EXPECT_EQ(Quillet("terminate-server ACME", WithPassword("from-file")).status, 0);
  EXPECT_EQ(Quillet("server status ACME").out, "terminated\n");
  const ProgramRun refused = Quillet("dir-db ACME", WithPassword("from-file"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, StartsWith("quillet dir-db: failed with return code 9102 ("));

  EXPECT_EQ(Quillet("server start ACME").status, 0);
  EXPECT_EQ(Quillet("server status ACME").out, "running\n");
  EXPECT_EQ(Quillet("dir-db ACME", WithPassword("from-file")).status, 0);
}

TEST_F(ProgramTest, DatabasesAreCreatedListedAndDropped) {
  CreateServerWithDatabase();
  ASSERT_EQ(Quillet("create-db ACME SALES", WithPassword("acme-pw")).status, 0);
  const ProgramRun human = Quillet("dir-db ACME", WithPassword("acme-pw"));
  EXPECT_EQ(human.status, 0);
  EXPECT_THAT(Words(human.out), ::testing::UnorderedElementsAre("DEMO", "SALES"));
  const ProgramRun raw = Quillet("dir-db ACME --raw", WithPassword("acme-pw"));
  EXPECT_THAT(raw.out, MatchesRegex("(DEMO;SALES;|SALES;DEMO;)\n"));

  const ProgramRun again = Quillet("create-db ACME DEMO", WithPassword("acme-pw"));
  EXPECT_EQ(again.status, 1);
  EXPECT_THAT(again.err, StartsWith("quillet create-db: failed with return code 9111 ("));
  EXPECT_THAT(again.out, IsEmpty());

  const ProgramRun wrongPassword = Quillet("drop-db ACME DEMO", WithPassword("guess"));
  EXPECT_EQ(wrongPassword.status, 1);
  EXPECT_THAT(wrongPassword.err, HasSubstr("return code 9103 ("));

  EXPECT_EQ(Quillet("drop-db ACME DEMO", WithPassword("acme-pw")).status, 0);
  EXPECT_EQ(Quillet("drop-db ACME SALES", WithPassword("acme-pw")).status, 0);
  EXPECT_EQ(Quillet("dir-db ACME --raw", WithPassword("acme-pw")).out, "");
}

TEST_F(ProgramTest, ListsComeAsJsonOrCsvForScriptsAndEmptyTablesPrintNothing) {
  CreateServerWithDatabase();
  ASSERT_EQ(Quillet("create-db ACME SALES", WithPassword("acme-pw")).status, 0);
  EXPECT_EQ(Quillet("dir-db ACME --format json", WithPassword("acme-pw")).out,
            "[\"DEMO\",\"SALES\"]\n");
  EXPECT_EQ(Quillet("--format=csv dir-db ACME", WithPassword("acme-pw")).out,
            "database\r\nDEMO\r\nSALES\r\n");
  EXPECT_EQ(Quillet("list-connections ACME --format json", WithPassword("acme-pw")).out, "[]\n");
  EXPECT_EQ(Quillet("list-connections ACME --format csv", WithPassword("acme-pw")).out,
            "process,database,user,program\r\n");
  const ProgramRun table = Quillet("list-connections ACME", WithPassword("acme-pw"));
  EXPECT_EQ(table.status, 0);
  EXPECT_EQ(table.out, "");
  EXPECT_EQ(table.err, "");
  const ProgramRun onTerminal =
      RunOnTerminal(QUILLET_PROGRAM, {"list-connections", "ACME"},
                    {{"QUILLET_STANDIN_ROOT", root_}, {"QUILLET_SERVER_PASSWORD", "acme-pw"}}, {});
  EXPECT_EQ(onTerminal.status, 0);
  EXPECT_THAT(onTerminal.out, HasSubstr("No connections."));
  const ProgramRun wrong = Quillet("dir-db ACME --format yaml", WithPassword("acme-pw"));
  EXPECT_EQ(wrong.status, 2);
  EXPECT_THAT(wrong.err, HasSubstr("--format takes table, raw, json or csv"));
}

TEST_F(ProgramTest, AScriptIsReloadedAndAQueryExportedToCsv) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/stock.sql";
  std::ofstream(script) << "CREATE TABLE stock (id INTEGER, name VARCHAR(30));\n"
                           "INSERT INTO stock VALUES (1, 'Quill, \"goose\"');\n"
                           "INSERT INTO stock VALUES (2, 'Ink');\n";
  const ProgramRun reload =
      QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM"));
  ASSERT_EQ(reload.status, 0) << reload.err;

  const std::string csv = root_ + "/stock.csv";
  const ProgramRun exported = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id, name FROM stock ORDER BY id", csv},
      WithPassword("SYSADM"));
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(ReadFile(csv), "\"id\",\"name\"\r\n1,\"Quill, \"\"goose\"\"\"\r\n2,\"Ink\"\r\n");

  const ProgramRun badLogin = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock", csv}, WithPassword("wrong"));
  EXPECT_EQ(badLogin.status, 1);
  EXPECT_THAT(badLogin.err, HasSubstr("return code 9121 ("));

  const ProgramRun noFile = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock", root_ + "/no/such/dir/x.csv"},
      WithPassword("SYSADM"));
  EXPECT_EQ(noFile.status, 1);
  EXPECT_EQ(noFile.err, "quillet export-csv: cannot create a file in the folder " + root_ +
                            "/no/such/dir: No such file or directory\n");
}

TEST_F(ProgramTest, AFailedExportLeavesThePreviousFileAndCanKeepItsRows) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/stock.sql";
  std::ofstream(script) << "CREATE TABLE stock (id INTEGER, name VARCHAR(30));\n"
                           "INSERT INTO stock VALUES (1, 'Quill'), (2, 'Ink'), (3, 'Nib');\n";
  ASSERT_EQ(QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM")).status,
            0);
  const std::string csv = root_ + "/stock.csv";
  std::ofstream(csv) << "yesterday's rows\n";
  // The third row overflows, after two rows reached the file.
  const std::string failing = "SELECT id, abs(-9223372036854775805 - id) FROM stock";
  const ProgramRun failed =
      QuilletArguments({"export-csv", "DEMO", "SYSADM", failing, csv}, WithPassword("SYSADM"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, HasSubstr("the previous " + csv + " was left as it was"));
  EXPECT_EQ(ReadFile(csv), "yesterday's rows\n");
  EXPECT_FALSE(std::filesystem::exists(csv + ".partial"));

  const ProgramRun kept = QuilletArguments(
      {"export-csv", "--keep-partial", "DEMO", "SYSADM", failing, csv}, WithPassword("SYSADM"));
  EXPECT_EQ(kept.status, 1);
  EXPECT_THAT(kept.err, HasSubstr("the rows written so far are in " + csv + ".partial"));
  EXPECT_EQ(ReadFile(csv), "yesterday's rows\n");
  EXPECT_THAT(ReadFile(csv + ".partial"), StartsWith("\"id\","));
  // Nothing else is left behind in the folder: no temporary file.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(root_)) ++entries;
  EXPECT_EQ(entries, 4);  // the server folder, the script, the file and its partial rows

  const ProgramRun fine =
      QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock ORDER BY id", csv},
                       WithPassword("SYSADM"));
  EXPECT_EQ(fine.status, 0) << fine.err;
  EXPECT_EQ(ReadFile(csv), "\"id\"\r\n1\r\n2\r\n3\r\n");
}

TEST_F(ProgramTest, AnExportToADashGoesToStandardOutputOnlyWhenItSucceeds) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/stock.sql";
  std::ofstream(script) << "CREATE TABLE stock (id INTEGER);\nINSERT INTO stock VALUES (1), (3);\n";
  ASSERT_EQ(QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM")).status,
            0);
  const ProgramRun piped =
      QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock ORDER BY id", "-"},
                       WithPassword("SYSADM"));
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "\"id\"\r\n1\r\n3\r\n");
  const ProgramRun failed = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id, abs(-9223372036854775805 - id) FROM stock", "-"},
      WithPassword("SYSADM"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_THAT(failed.err, HasSubstr("nothing was written to standard output"));
}

TEST_F(ProgramTest, AnExportWritesThroughLinksDevicesAndPipesAndKeepsAFilesMode) {
  CreateServerWithDatabase();
  auto exportTo = [&](const std::string& file) {
    return QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT 7 AS n", file},
                            WithPassword("SYSADM"));
  };
  // Through a link the file gets the rows; the link stays, and a private file stays private.
  const std::string file = root_ + "/real.csv";
  const std::string link = root_ + "/link.csv";
  std::ofstream(file) << "old\n";
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  std::filesystem::create_symlink("real.csv", link);
  const ProgramRun throughLink = exportTo(link);
  EXPECT_EQ(throughLink.status, 0) << throughLink.err;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(file), "\"n\"\r\n7\r\n");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);

  // A device is written into, never replaced by a plain file.
  const std::string sink = root_ + "/sink";
  std::filesystem::create_symlink("/dev/null", sink);
  const ProgramRun intoDevice = exportTo(sink);
  EXPECT_EQ(intoDevice.status, 0) << intoDevice.err;
  EXPECT_EQ(std::filesystem::read_symlink(sink), "/dev/null");

  // A named pipe reaches its reader (held open here, so that nothing waits for one).
  const std::string pipe = root_ + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const int reader = open(pipe.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const ProgramRun intoPipe = exportTo(pipe);
  char received[64];
  const ssize_t count = read(reader, received, sizeof received);
  close(reader);
  EXPECT_EQ(intoPipe.status, 0) << intoPipe.err;
  EXPECT_EQ(std::string(received, count > 0 ? static_cast<std::size_t>(count) : 0),
            "\"n\"\r\n7\r\n");
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));

  const ProgramRun intoFolder = exportTo(root_);
  EXPECT_EQ(intoFolder.status, 1);
  EXPECT_EQ(intoFolder.err, "quillet export-csv: " + root_ + " is a directory\n");
}

TEST_F(ProgramTest, AnExportEndedByASignalLeavesNoTemporaryFile) {
  CreateServerWithDatabase();
  const std::string csv = root_ + "/rows.csv";
  std::ofstream(csv) << "yesterday's rows\n";
  // Rows without end: only the signal stops the export.
  const std::string endless =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c";
  EnvironmentChanges environment = environment_;
  environment["QUILLET_PASSWORD"] = "SYSADM";
  auto hidden = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      const std::string name = entry.path().filename().string();
      std::error_code ignored;
      if (name.rfind(".rows.csv.", 0) == 0 && entry.file_size(ignored) > 0) return true;
    }
    return false;
  };
  for (const int number : {SIGINT, SIGTERM}) {
    const int process =
        StartInBackground(QUILLET_PROGRAM, {"export-csv", "DEMO", "SYSADM", endless, csv},
                          environment, root_ + "/output.txt");
    for (int wait = 0; wait < 200 && !hidden(); ++wait) usleep(50000);
    ASSERT_TRUE(hidden()) << ReadFile(root_ + "/output.txt");
    kill(process, number);
    EXPECT_EQ(WaitFor(process, 20), 128 + number);
    EXPECT_FALSE(hidden());
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(root_)) ++entries;
    EXPECT_EQ(entries, 3);  // the server folder, the file and the program's output
    EXPECT_EQ(ReadFile(csv), "yesterday's rows\n");
  }
}

TEST_F(ProgramTest, AnotherProcesssConnectionIsListedAndKilled) {
  CreateServerWithDatabase();
  EnvironmentChanges environment = environment_;
  environment["QUILLET_PASSWORD"] = "SYSADM";
  const std::string holderOutput = root_ + "/holder.txt";
  const int holder = StartInBackground(HOLD_CONNECTION_PROGRAM, {"DEMO", "SYSADM", "30"},
                                       environment, holderOutput);
  for (int tries = 0; tries < 100 && ReadFile(holderOutput).empty(); ++tries) usleep(50000);
  ASSERT_THAT(ReadFile(holderOutput), HasSubstr("connected"));

  const ProgramRun table = Quillet("list-connections ACME", WithPassword("acme-pw"));
  EXPECT_EQ(table.status, 0);
  EXPECT_THAT(table.out, StartsWith("PROCESS  DATABASE  USER    PROGRAM\n"));
  EXPECT_THAT(table.out, MatchesRegex("(.|\n)* +[0-9]+  DEMO      SYSADM  hold-connection\n"));

  const ProgramRun json = Quillet("list-connections ACME --format json", WithPassword("acme-pw"));
  EXPECT_THAT(json.out, MatchesRegex("\\[\\{\"process\":[0-9]+,\"database\":\"DEMO\",\"user\":"
                                     "\"SYSADM\",\"program\":\"hold-connection\"\\}\\]\n"));

  const ProgramRun raw = Quillet("list-connections ACME --raw", WithPassword("acme-pw"));
  const std::string line = raw.out.substr(0, raw.out.find(":DEMO:SYSADM:hold-connection"));
  const std::string process = line.substr(line.find_last_of(';') + 1);
  ASSERT_FALSE(process.empty()) << raw.out;
  EXPECT_EQ(Quillet("kill-connection ACME " + process, WithPassword("acme-pw")).status, 0);
  EXPECT_EQ(WaitFor(holder, 10), 0);
  EXPECT_THAT(ReadFile(holderOutput), HasSubstr("the connection was ended"));

  const ProgramRun gone = Quillet("kill-connection ACME " + process, WithPassword("acme-pw"));
  EXPECT_EQ(gone.status, 1);
  EXPECT_THAT(gone.err, HasSubstr("return code 2528 ("));
  EXPECT_EQ(Quillet("kill-all-connections ACME --all", WithPassword("acme-pw")).status, 0);
}

TEST_F(ProgramTest, SnapshotsAreWrittenIntoTheirDirectories) {
  CreateServerWithDatabase();
  const std::string one = root_ + "/one";
  ASSERT_EQ(mkdir(one.c_str(), 0755), 0);
  EXPECT_EQ(QuilletArguments({"snapshot", "ACME", "DEMO", one}, WithPassword("acme-pw")).status, 0);
  const std::string all = root_ + "/all";
  ASSERT_EQ(mkdir(all.c_str(), 0755), 0);
  EXPECT_EQ(QuilletArguments({"all-snapshot", "ACME", all}, WithPassword("acme-pw")).status, 0);
  struct stat info {};
  EXPECT_EQ(stat((all + "/DEMO").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  // There, a database named as another server would have that server's folder emptied.
  const ProgramRun intoServers =
      QuilletArguments({"all-snapshot", "ACME", root_ + "/."}, WithPassword("acme-pw"));
  EXPECT_EQ(intoServers.status, 2);
  EXPECT_THAT(intoServers.err, HasSubstr("ROOT must not be the stand-in's folder of servers"));
  EXPECT_EQ(stat((root_ + "/ACME/standin.catalogue").c_str(), &info), 0);
}

TEST_F(ProgramTest, SetPasswordReplacesAPasswordAndAddsAUserFromAPrivateFile) {
  CreateServerWithDatabase();
  const std::string file = root_ + "/new-password";
  std::ofstream(file) << "Quill-2;x\n";
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  const std::vector<std::string> set = {"set-password", "DEMO", "SYSADM", "--new-password-file",
                                        file};
  const ProgramRun refused = QuilletArguments(set, WithPassword("SYSADM"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, HasSubstr("cannot hold blanks or \";\""));

  std::ofstream(file, std::ios::trunc) << "Quill-2\n";
  const ProgramRun changed = QuilletArguments(set, WithPassword("SYSADM"));
  ASSERT_EQ(changed.status, 0) << changed.err;
  const ProgramRun old = Quillet("update-stats DEMO SYSADM", WithPassword("SYSADM"));
  EXPECT_EQ(old.status, 1);
  EXPECT_THAT(old.err, HasSubstr("return code 9121 ("));
  EXPECT_EQ(Quillet("update-stats DEMO SYSADM", WithPassword("Quill-2")).status, 0);

  std::vector<std::string> clerk = set;
  clerk.insert(clerk.end(), {"--for", "clerk"});
  EXPECT_EQ(QuilletArguments(clerk, WithPassword("Quill-2")).status, 0);
  EXPECT_EQ(Quillet("update-stats DEMO CLERK", WithPassword("Quill-2")).status, 0);
  // Nothing but a name may ride into the statement.
  clerk.back() = "X IDENTIFIED BY y; --";
  EXPECT_EQ(QuilletArguments(clerk, WithPassword("Quill-2")).status, 2);
}

TEST_F(ProgramTest, MaintenanceJobsRunOnADatabase) {
  CreateServerWithDatabase();
  EXPECT_EQ(Quillet("update-stats DEMO SYSADM", WithPassword("SYSADM")).status, 0);
  EXPECT_EQ(Quillet("release-log DEMO SYSADM", WithPassword("SYSADM")).status, 0);
  const ProgramRun unknown = Quillet("update-stats NOPE SYSADM", WithPassword("SYSADM"));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_THAT(unknown.err, HasSubstr("return code 9112 ("));
}

TEST_F(ProgramTest, AnExportRunsQueriesOnlyAndSaysWhichValuesItCut) {
  CreateServerWithDatabase();
  // "a" and 40 two-byte characters: a cut at 50 bytes would end inside the 25th.
  std::string accents;
  for (int k = 0; k < 40; ++k) accents += "\xC3\xA9";
  const std::string script = root_ + "/notes.sql";
  std::ofstream(script) << "CREATE TABLE notes (id INTEGER, body TEXT);\n"
                           "INSERT INTO notes VALUES (1, 'a"
                        << accents << "'), (2, 'short');\n";
  ASSERT_EQ(QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM")).status,
            0);
  auto exportTo = [&](const std::string& statement, const std::string& file) {
    return QuilletArguments({"export-csv", "DEMO", "SYSADM", statement, file},
                            WithPassword("SYSADM"));
  };
  for (const char* change :
       {"INSERT INTO notes VALUES (3, 'x')", "DROP TABLE notes", "update statistics on database"}) {
    const ProgramRun refused = exportTo(change, "-");
    EXPECT_EQ(refused.status, 1) << change;
    EXPECT_THAT(refused.err, HasSubstr("export-csv takes a query")) << change;
  }
  const std::string csv = root_ + "/notes.csv";
  const ProgramRun rows = exportTo("SELECT id, body FROM notes ORDER BY id", csv);
  EXPECT_EQ(rows.status, 0) << rows.err;
  EXPECT_EQ(ReadFile(csv),
            "\"id\",\"body\"\r\n1,\"a" + accents.substr(0, 48) + "\"\r\n2,\"short\"\r\n");
  EXPECT_EQ(rows.err,
            "quillet export-csv: 1 value was longer than 50 bytes and cut to at most 50, the most "
            "the library takes: 1 in column \"body\"\n");
  EXPECT_EQ(QuilletArguments({"export-csv", "-q", "DEMO", "SYSADM", "SELECT body FROM notes", csv},
                             WithPassword("SYSADM"))
                .err,
            "");
}

TEST_F(ProgramTest, AnExportFailsWhenItsReaderWentAwayWithBrokenPipesIgnored) {
  CreateServerWithDatabase();
  // More rows than a pipe holds, to a reader that stops after one byte.
  const ProgramRun run = RunProgram(
      "/bin/sh",
      {"-c", "trap '' PIPE; (\"$0\" \"$@\"; echo \"exit $?\" >&2) | head -c 1 >/dev/null",
       QUILLET_PROGRAM, "export-csv", "DEMO", "SYSADM",
       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200000) "
       "SELECT x FROM c",
       "-"},
      {{"QUILLET_STANDIN_ROOT", root_}, {"QUILLET_PASSWORD", "SYSADM"}});
  EXPECT_EQ(run.err,
            "quillet export-csv: could not write to standard output: Broken pipe\nexit 1\n");
}

TEST_F(ProgramTest, TemporaryFilesFitLongNamesAndThoseOfKilledExportsAreRemoved) {
  CreateServerWithDatabase();
  EnvironmentChanges environment = environment_;
  environment["QUILLET_PASSWORD"] = "SYSADM";
  const std::string longName = root_ + "/" + std::string(250, 'n') + ".csv";
  const ProgramRun run = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT 1 AS n", longName}, WithPassword("SYSADM"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(longName), "\"n\"\r\n1\r\n");

  auto hidden = [&] {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      count += entry.path().filename().string().rfind(".rows.csv.", 0) == 0 ? 1 : 0;
    }
    return count;
  };
  const std::string csv = root_ + "/rows.csv";
  const int process = StartInBackground(
      QUILLET_PROGRAM,
      {"export-csv", "DEMO", "SYSADM",
       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c", csv},
      environment, root_ + "/output.txt");
  for (int wait = 0; wait < 200 && hidden() == 0; ++wait) usleep(50000);
  ASSERT_EQ(hidden(), 1);
  kill(process, SIGKILL);
  EXPECT_EQ(WaitFor(process, 20), 128 + SIGKILL);
  EXPECT_EQ(hidden(), 1);
  EXPECT_EQ(QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT 2 AS n", csv},
                             WithPassword("SYSADM"))
                .status,
            0);
  EXPECT_EQ(hidden(), 0);
}

TEST_F(ProgramTest, AFileInAFolderThatTakesNoNewFileIsWrittenInPlaceAfterSayingSo) {
  CreateServerWithDatabase();
  const std::string folder = root_ + "/locked";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string csv = folder + "/rows.csv";
  std::ofstream(csv) << "old\n";
  // No new file in the folder: for root, which passes over modes, the folder is immutable.
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  int flags = 0;
  const bool root = geteuid() == 0;
  const bool locked =
      root ? ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0 &&
                 (flags |= FS_IMMUTABLE_FL, ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0)
           : chmod(folder.c_str(), 0555) == 0;
  const ProgramRun run = QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT 5 AS n", csv},
                                          WithPassword("SYSADM"));
  if (root) {
    flags &= ~FS_IMMUTABLE_FL;
    ioctl(descriptor, FS_IOC_SETFLAGS, &flags);
  } else {
    chmod(folder.c_str(), 0755);
  }
  close(descriptor);
  if (!locked) GTEST_SKIP() << "this file system cannot refuse new files to this user";
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, StartsWith("quillet export-csv: " + csv +
                                  " is written in place, as its folder takes no temporary "
                                  "file (cannot create a file in the folder " +
                                  folder + ": "));
  EXPECT_EQ(ReadFile(csv), "\"n\"\r\n5\r\n");
}

TEST_F(ProgramTest, FailuresNameTheDatabaseAndTheServerThatWereMeant) {
  CreateServerWithDatabase();
  const ProgramRun nope = Quillet("kill-all-connections ACME NOPE", WithPassword("acme-pw"));
  EXPECT_EQ(nope.status, 1);
  EXPECT_EQ(nope.err,
            "quillet kill-all-connections: server ACME has no database NOPE: no process was "
            "killed\n");
  EXPECT_EQ(Quillet("kill-all-connections ACME DEMO", WithPassword("acme-pw")).status, 0);

  const ProgramRun server =
      Quillet("--server NOPE update-stats DEMO SYSADM", WithPassword("SYSADM"));
  EXPECT_EQ(server.status, 2);
  EXPECT_EQ(server.err,
            "quillet update-stats: there is no stand-in server NOPE (named by "
            "--server) in " +
                root_ + "; 'quillet server list' shows them\n");
  ASSERT_EQ(Quillet("server create BETA", WithPassword("b")).status, 0);
  EXPECT_THAT(Quillet("update-stats DEMO SYSADM",
                      {{"QUILLET_PASSWORD", "SYSADM"}, {"QUILLET_SERVER", "BETA"}})
                  .err,
              HasSubstr("the server BETA (named by QUILLET_SERVER) has no database DEMO"));

  // A device name and a directory that is a link are skipped by the library.
  ASSERT_EQ(Quillet("create-db ACME NUL", WithPassword("acme-pw")).status, 0);
  const std::string all = root_ + "/all";
  ASSERT_EQ(mkdir(all.c_str(), 0755), 0);
  std::filesystem::create_directory_symlink(root_, all + "/DEMO");
  const ProgramRun skipped =
      QuilletArguments({"all-snapshot", "ACME", all}, WithPassword("acme-pw"));
  EXPECT_EQ(skipped.status, 1);
  EXPECT_THAT(skipped.err,
              HasSubstr("\nquillet all-snapshot: skipped, so not backed up: DEMO (" + all +
                        "/DEMO is a symbolic link), NUL (Windows takes the "
                        "name for a device)\n"));
}

TEST_F(ProgramTest, AReloadWhoseLockTimedOutSaysItsScriptWasCommittedWithoutIt) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/read.sql";
  std::ofstream(script) << "SELECT 1;\n";
  // Another connection holds the write lock: the reload's lock times out after its second of
  // lock wait. Held throughout, the load times out too and nothing is claimed; let go half a
  // second after the lock's failure, the load gets in and commits.
  for (const int heldMilliseconds : {4000, 1500}) {
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "/ACME/DEMO.db").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(heldMilliseconds));
      sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    });
    const ProgramRun run =
        QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM"));
    release.join();
    sqlite3_close(holder);
    if (heldMilliseconds > 2000) {
      EXPECT_EQ(run.status, 1);
      EXPECT_THAT(run.err, Not(HasSubstr("committed")));
    } else {
      EXPECT_EQ(run.status, 0);
      EXPECT_THAT(run.err, StartsWith("quillet reload: loaded and committed without the database "
                                      "lock: LOCK DATABASE failed with return code 9116"));
    }
  }
}

}  // namespace
