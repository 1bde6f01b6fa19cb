// The stand-in under races, kills and forks: a drop against writers, a kill against an idle
// lock holder, snapshots taken together and the drafts of dead writers, children forked while
// connections are open.
#include <gmock/gmock.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "hardening_fixture.h"

namespace {

// Rows that a connection wrote with success are in the installed database, never in a file
// that a drop running at the same time unlinked.
TEST_F(StandinHardeningTest, NoConnectionWritesIntoADroppedDatabase) {
  const uint16_t server = calls::Server();
  const std::string path = Path("srv/RACE.db");
  const pid_t child = fork();
  if (child == 0) {
    int lost = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
      uint16_t cursor = 0;
      if (sqlwntm_CursorConnect(&cursor, "RACE/SYSADM/SYSADM", 0) != 0) continue;
      const std::string insert = "INSERT INTO t VALUES(" + std::to_string(round) + ")";
      if (sqlwntm_CompileAndExecute(cursor, insert.c_str(), 0) == 0) {
        // Still connected, so the database cannot have been dropped: the row is in its file.
        sqlite3* db = nullptr;
        sqlite3_stmt* select = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_prepare_v2(db, ("SELECT 1 FROM t WHERE a = " + std::to_string(round)).c_str(), -1,
                           &select, nullptr);
        lost += sqlite3_step(select) != SQLITE_ROW;
        sqlite3_finalize(select);
        sqlite3_close(db);
      }
      sqlwntm_CursorDisconnect(cursor);
      usleep(2000);  // a gap for the drops
    }
    _exit(lost == 0 ? 0 : 1);
  }
  int drops = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end) {
    if (sqlwntm_CreateDatabase(server, "RACE", 0) == 0) {
      uint16_t cursor = calls::Cursor("RACE/SYSADM/SYSADM");
      calls::Run(cursor, "CREATE TABLE t(a)");
      sqlwntm_CursorDisconnect(cursor);
    }
    drops += sqlwntm_DropDatabase(server, "RACE", 0) == 0;
  }
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_GT(drops, 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

TEST_F(StandinHardeningTest, AKillReleasesTheLockOfAnIdleClientWithinASecond) {
  const uint16_t server = calls::Server();
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    uint16_t held = 0;
    const bool locked = sqlwntm_CursorConnect(&held, "SALES/SYSADM/SYSADM", 0) == 0 &&
                        sqlwntm_CompileAndExecute(held, "LOCK DATABASE", 0) == 0 &&
                        sqlwntm_CompileAndExecute(held, "INSERT INTO t VALUES(1)", 0) == 0;
    const char answer = locked ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(1);
    pause();  // idle: no call ever again
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), STANDIN_DATABASE_IN_USE);
  const std::vector<calls::Record> records = calls::ActiveCursors(server);
  ASSERT_EQ(records.size(), 3u);
  const int32_t wait = 3;
  EXPECT_EQ(sqlwntm_SetParameter(cursor, 3003, const_cast<int32_t*>(&wait), 0), 0);
  for (const calls::Record& record : records) {
    if (record.process > 1) {
      EXPECT_EQ(sqlwntm_KillConnection(server, record.process), 0);
    }
  }
  const auto start = std::chrono::steady_clock::now();
  // The cursor of this process was killed too: a new one writes.
  uint16_t writer = calls::Cursor("SALES/SYSADM/SYSADM");
  EXPECT_EQ(sqlwntm_SetParameter(writer, 3003, const_cast<int32_t*>(&wait), 0), 0);
  EXPECT_EQ(sqlwntm_CompileAndExecute(writer, "INSERT INTO t VALUES(2)", 0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(calls::Select(writer, "SELECT a FROM t"),
            (std::vector<std::vector<std::string>>{{"2"}}));
  EXPECT_EQ(sqlwntm_CursorDisconnect(writer), 0);
  // The killed connections are rolled back and never write again: the drop waits for nothing.
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), 0);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

TEST_F(StandinHardeningTest, ThreadsSnapshotTogetherAndDeadWritersDraftsAreSweptAway) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  calls::Run(cursor, "INSERT INTO t VALUES(1)");
  const std::string folder = Path("snap");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (int round = 0; round < 10; ++round) {
    int16_t codes[3] = {-1, -1, -1};
    std::vector<std::thread> threads;
    for (int16_t& code : codes) {
      threads.emplace_back([&code, &folder] {
        uint16_t server = 0;
        if (sqlwntm_Connect(&server, "srv", "pw") != 0) return;
        code = sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1);
        sqlwntm_Disconnect(server);
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_THAT(codes, ::testing::Each(0)) << "round " << round;
  }

  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string deadPid = std::to_string(dead);
  const std::vector<std::string> stale = {"SALES.db.standin-draft-" + deadPid + "-0-1",
                                          "SALES.db.standin-draft-" + deadPid + "-0-1-journal",
                                          "SALES.db.draft." + deadPid,
                                          "SALES.db.draft." + deadPid + "-journal"};
  std::vector<std::string> kept = {
      "notes.draft.1", "SALES.db.draft.x",
      "SALES.db.standin-draft-" + std::to_string(getpid()) + "-0-9",
      "SALES.db.standin-draft-" + deadPid + "-0-1.txt",
      // Only the exact pattern: no process 0, no leading zeros, a database before ".db.draft.".
      "SALES.db.standin-draft-0-0-1", "SALES.db.standin-draft-0" + deadPid + "-0-1",
      "my notes.db.draft." + deadPid, "SALES.db.standin-draft-" + deadPid + "-0-3"};
  for (const std::string& name : stale) WriteFile(folder + "/" + name, "x");
  for (const std::string& name : kept) WriteFile(folder + "/" + name, "x");
  // Another user's file of a draft's name, and a second name of a file of this user's.
  if (geteuid() == 0) {
    ASSERT_EQ(chown((folder + "/" + kept.back()).c_str(), 4242, 4242), 0);
  }
  kept.push_back("SALES.db.standin-draft-" + deadPid + "-0-4");
  ASSERT_EQ(link((folder + "/notes.draft.1").c_str(), (folder + "/" + kept.back()).c_str()), 0);
  uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1), 0);
  for (const std::string& name : stale) EXPECT_FALSE(Exists(folder + "/" + name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(Exists(folder + "/" + name)) << name;
  // Unload sweeps its folder the same way.
  WriteFile(folder + "/" + stale[0], "x");
  EXPECT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + folder + "/out.sql").c_str(), 0), 0);
  EXPECT_FALSE(Exists(folder + "/" + stale[0]));
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

// The kill watcher runs a thread while connections are open: a child forked at any moment
// still finds SQLite free to use.
TEST_F(StandinHardeningTest, AChildForkedWhileConnectionsAreOpenCanConnect) {
  const uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  for (int round = 0; round < 50; ++round) {
    const uint16_t cursor = calls::Cursor("SALES/SYSADM/SYSADM");
    const pid_t child = fork();
    if (child == 0) {
      alarm(10);  // a hang ends as a failure
      uint16_t own = 0;
      _exit(sqlwntm_CursorConnect(&own, "SALES/SYSADM/SYSADM", 0) == 0 &&
                    sqlwntm_CursorDisconnect(own) == 0
                ? 0
                : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  }
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

}  // namespace
