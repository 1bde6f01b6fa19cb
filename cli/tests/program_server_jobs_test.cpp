// The server jobs: databases, connections, snapshots and confirmations.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "program_fixture.h"

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using namespace quillet::cli::testing;

namespace {

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

TEST_F(ProgramTest, DatabasesAreCreatedListedAndDropped) {
  CreateServerWithDatabase();
  ASSERT_EQ(Quillet("create-db ACME SALES", WithPassword("acme-pw")).status, 0);
  const ProgramRun human = Quillet("dir-db ACME", WithPassword("acme-pw"));
  EXPECT_EQ(human.status, 0);
  EXPECT_THAT(Words(human.out), UnorderedElementsAre("DEMO", "SALES"));
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

  // Every database whose backup failed is named, the last with the server's words.
  std::filesystem::remove(all + "/DEMO");
  ASSERT_EQ(Quillet("create-db ACME SALES", WithPassword("acme-pw")).status, 0);
  // A folder where the backup file would go, which emptying the .partial folder leaves.
  for (const char* name : {"/DEMO.partial/DEMO.db", "/SALES.partial/SALES.db"}) {
    std::filesystem::create_directories(all + name);
    std::ofstream(all + name + "/x") << "in the way";
  }
  const ProgramRun failed =
      QuilletArguments({"all-snapshot", "ACME", all}, WithPassword("acme-pw"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, HasSubstr("not backed up: DEMO (its backup failed), SALES (its backup "
                                    "failed: return code "));

  // A file under a .partial name is named as a file.
  std::filesystem::remove_all(all + "/DEMO.partial");
  std::ofstream(all + "/DEMO.partial") << "in the way";
  const ProgramRun file = QuilletArguments({"all-snapshot", "ACME", all}, WithPassword("acme-pw"));
  EXPECT_THAT(file.err, HasSubstr("DEMO (" + all + "/DEMO.partial is a file, not a directory"));

  // A root others may write to is refused whole, saying why.
  ASSERT_EQ(chmod(all.c_str(), 0777), 0);
  EXPECT_THAT(
      QuilletArguments({"all-snapshot", "ACME", all}, WithPassword("acme-pw")).err,
      HasSubstr("nothing was backed up: " + all + " may be written by its group or others"));

  // A lock path that is no file is named, not taken for another run.
  ASSERT_EQ(chmod(all.c_str(), 0755), 0);
  std::filesystem::remove(all + "/.quillet.lock");
  std::filesystem::create_directory(all + "/.quillet.lock");
  EXPECT_THAT(QuilletArguments({"all-snapshot", "ACME", all}, WithPassword("acme-pw")).err,
              HasSubstr(all + "/.quillet.lock is not a regular file"));
  std::filesystem::remove(all + "/.quillet.lock");

  // A stopped run's prior that gets its name back is no new backup.
  std::filesystem::remove(all + "/DEMO.partial");
  std::filesystem::create_directories(all + "/DEMO.partial/DEMO.db");
  std::ofstream(all + "/DEMO.partial/DEMO.db/x") << "in the way";
  std::filesystem::remove_all(all + "/DEMO");
  std::filesystem::create_directory(all + "/DEMO.prior");
  std::ofstream(all + "/DEMO.prior/DEMO.db") << "old";
  EXPECT_THAT(QuilletArguments({"all-snapshot", "ACME", all}, WithPassword("acme-pw")).err,
              HasSubstr("not backed up: DEMO (its backup failed"));
}

}  // namespace
