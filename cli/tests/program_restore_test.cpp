// restore: a snapshot folder back onto the server, the database it replaces kept until then.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "program_fixture.h"

using ::testing::HasSubstr;
using namespace quillet::cli::testing;

namespace {

class RestoreTest : public ProgramTest {
 protected:
  // DEMO holds the rows 1 and 2; its snapshot is in backup_.
  void SetUp() override {
    ProgramTest::SetUp();
    CreateServerWithDatabase();
    Sql("CREATE TABLE t(x); INSERT INTO t VALUES(1), (2);");
    backup_ = root_ + "/backup";
    ASSERT_EQ(mkdir(backup_.c_str(), 0700), 0);
    ASSERT_EQ(Server({"snapshot", "ACME", "DEMO", backup_}).status, 0);
  }

  ProgramRun Server(const std::vector<std::string>& arguments) {
    return QuilletArguments(arguments, WithPassword("acme-pw"));
  }
  void Sql(const std::string& script) {
    const std::string file = root_ + "/script.sql";
    std::ofstream(file) << script;
    ASSERT_EQ(
        QuilletArguments({"load", "DEMO", "SYSADM", "LOAD SQL " + file}, WithPassword("SYSADM"))
            .status,
        0);
  }
  std::string Rows(const std::string& database = "DEMO") {
    return QuilletArguments({"export-csv", database, "SYSADM", "SELECT x FROM t ORDER BY x", "-"},
                            WithPassword("SYSADM"))
        .out;
  }
  std::string Kept() { return root_ + "/ACME/DEMO.db.before-restore"; }

  std::string backup_;
};

TEST_F(RestoreTest, BringsTheDataBackAndReplacesOnlyWhenAsked) {
  Sql("DELETE FROM t;");
  const ProgramRun refused = Server({"restore", "ACME", "DEMO", backup_});
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, HasSubstr("a database DEMO is installed on server ACME; --replace "));
  EXPECT_EQ(Rows(), "\"x\"\r\n");

  const ProgramRun replaced = Server({"restore", "ACME", "DEMO", backup_, "--replace"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_THAT(replaced.err, HasSubstr("DEMO has the one user SYSADM with the password SYSADM"));
  EXPECT_EQ(Rows(), "\"x\"\r\n1\r\n2\r\n");
  EXPECT_FALSE(std::filesystem::exists(Kept()));

  EXPECT_EQ(Server({"restore", "ACME", "DEMO", backup_, "--as", "COPY"}).status, 0);
  EXPECT_EQ(Rows("COPY"), "\"x\"\r\n1\r\n2\r\n");
}

TEST_F(RestoreTest, AFailedInstallPutsTheOldDatabaseBackWhole) {
  Sql("INSERT INTO t VALUES(3);");
  // A header that SQLite takes, over a schema it cannot read: only the install finds it out.
  const std::string corrupt = root_ + "/corrupt";
  std::filesystem::create_directory(corrupt);
  std::filesystem::copy_file(backup_ + "/DEMO.db", corrupt + "/DEMO.db");
  std::fstream(corrupt + "/DEMO.db", std::ios::in | std::ios::out | std::ios::binary).seekp(100)
      << std::string(200, '\xff');
  // SQLite's own check finds the damage before the old database is deinstalled.
  const ProgramRun failed = Server({"restore", "ACME", "DEMO", corrupt, "--replace"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, HasSubstr(corrupt + "/DEMO.db is damaged (SQLite's quick check: "));
  EXPECT_THAT(failed.err, HasSubstr("nothing was changed"));
  EXPECT_EQ(Rows(), "\"x\"\r\n1\r\n2\r\n3\r\n");
  EXPECT_FALSE(std::filesystem::exists(Kept()));

  // An incomplete backup is refused before anything changes.
  std::filesystem::resize_file(corrupt + "/DEMO.db", 4096);
  EXPECT_THAT(Server({"restore", "ACME", "DEMO", corrupt, "--replace"}).err,
              HasSubstr("is not a complete backup: it has 4096 bytes"));

  // What a restore killed after its install kept aside is never overwritten by the next one.
  std::ofstream(Kept()) << "old";
  const ProgramRun leftover = Server({"restore", "ACME", "DEMO", backup_, "--replace"});
  EXPECT_EQ(leftover.status, 1);
  EXPECT_THAT(leftover.err,
              HasSubstr("a restore of DEMO was installed but did not finish: the database it "
                        "replaced is still kept as " +
                        Kept()));
  EXPECT_EQ(ReadFile(Kept()), "old");
  EXPECT_EQ(Rows(), "\"x\"\r\n1\r\n2\r\n3\r\n");
}

// Damage inside a page, size and header intact, and a hand copy of a live file in WAL mode are
// both refused before anything changes.
TEST_F(RestoreTest, DamagedPagesAndLiveCopiesAreRefused) {
  const std::string file = backup_ + "/DEMO.db";
  // Page 2, with SQLite's default page size.
  constexpr std::streamoff kPage = 4096;
  ASSERT_GE(std::filesystem::file_size(file), 2U * kPage);
  std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).seekp(kPage)
      << std::string(kPage, '\xa5');
  ProgramRun run = Server({"restore", "ACME", "DEMO", backup_, "--as", "COPY"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("DEMO.db is damaged"));
  std::filesystem::copy_file(root_ + "/ACME/DEMO.db", file,
                             std::filesystem::copy_options::overwrite_existing);
  run = Server({"restore", "ACME", "DEMO", backup_, "--as", "COPY"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("DEMO.db is in WAL mode: it is a copy of a live database file"));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/ACME/COPY.db"));
}

TEST_F(RestoreTest, ConnectionsThatHoldTheDatabaseAreNamedOrKilled) {
  EnvironmentChanges environment = environment_;
  environment["QUILLET_PASSWORD"] = "SYSADM";
  const std::string holderOutput = root_ + "/holder.txt";
  const int holder = StartInBackground(HOLD_CONNECTION_PROGRAM, {"DEMO", "SYSADM", "30"},
                                       environment, holderOutput);
  for (int tries = 0; tries < 100 && ReadFile(holderOutput).empty(); ++tries) usleep(50000);
  ASSERT_THAT(ReadFile(holderOutput), HasSubstr("connected"));

  const ProgramRun held = Server({"restore", "ACME", "DEMO", backup_, "--replace"});
  EXPECT_EQ(held.status, 1);
  EXPECT_THAT(held.err, HasSubstr("is held by 1 connection: process "));
  EXPECT_THAT(held.err, HasSubstr("(user SYSADM, program hold-connection); end it, or add "
                                  "--kill-connections: nothing was changed"));

  const ProgramRun killed =
      Server({"restore", "ACME", "DEMO", backup_, "--replace", "--kill-connections"});
  EXPECT_EQ(killed.status, 0) << killed.err;
  EXPECT_EQ(WaitFor(holder, 10), 0);
  EXPECT_EQ(Rows(), "\"x\"\r\n1\r\n2\r\n");
}

TEST_F(RestoreTest, ABackupSwappedForADamagedOneMeanwhileIsRefusedOrInstalledWhole) {
  Sql("INSERT INTO t WITH RECURSIVE n(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM n "
      "WHERE i < 20000) SELECT i FROM n;");
  std::filesystem::remove(backup_ + "/DEMO.db");
  ASSERT_EQ(Server({"snapshot", "ACME", "DEMO", backup_}).status, 0);
  // The same size and header, a page inside overwritten: only SQLite's check tells them apart.
  const std::string good = backup_ + "/DEMO.db";
  const std::string bad = backup_ + "/BAD.db";
  std::filesystem::copy_file(good, bad);
  std::fstream(bad, std::ios::in | std::ios::out | std::ios::binary)
          .seekp(static_cast<std::streamoff>(std::filesystem::file_size(bad) / 2))
      << std::string(4096, '\xff');
  // Whoever else may write the backup itself could make it any database.
  chmod(good.c_str(), 0666);
  EXPECT_THAT(Server({"restore", "ACME", "DEMO", backup_, "--as", "SHARED"}).err,
              HasSubstr(good + " may be written by its group or others"));
  chmod(good.c_str(), 0600);
  // Whoever may write the backup's folder swaps the two all along.
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) (void)renameat2(AT_FDCWD, good.c_str(), AT_FDCWD, bad.c_str(), RENAME_EXCHANGE);
  });
  for (int round = 0; round < 12; ++round) {
    const std::string name = "R" + std::to_string(round);
    if (Server({"restore", "ACME", "DEMO", backup_, "--as", name}).status != 0) continue;
    EXPECT_EQ(QuilletArguments({"export-csv", name, "SYSADM", "SELECT count(*) FROM t", "-"},
                               WithPassword("SYSADM"))
                  .out,
              "\"count(*)\"\r\n20000\r\n")
        << name << " was installed, reported restored, and is not the backup";
  }
  done = true;
  swapper.join();
}

}  // namespace
