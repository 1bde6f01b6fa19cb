// The database jobs: --server, reload, load, maintenance, set-password and progress.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "program_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using namespace quillet::cli::testing;

namespace {

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

}  // namespace
