// The maintenance jobs with their real effects: statistics, the log, load, unload and a reload
// that is atomic under the database lock.
#include <sys/stat.h>

#include <atomic>
#include <set>
#include <thread>

#include "end_to_end_test.h"
#include "held_connection.h"

namespace {

using MaintenanceEndToEndTest = EndToEndTest;

constexpr const char* kPeople =
    "CREATE TABLE people(id INTEGER PRIMARY KEY, name VARCHAR(30), born DATE, score REAL);"
    "INSERT INTO people VALUES(1, 'Smith, \"Jo\"', '1980-02-03', 1.25), (2, NULL, NULL, -7);";

std::string Many(int rows) {
  std::string script = "DELETE FROM t;";
  for (int i = 0; i < rows; ++i) script += "INSERT INTO t VALUES(" + std::to_string(i) + ");";
  return script;
}

TEST_F(MaintenanceEndToEndTest, UnloadWritesAScriptThatLoadsBackToTheSameRows) {
  CreateFilled("SALES", kPeople);
  const std::string script = Path("people.sql");
  EXPECT_EQ(Unload("SALES", "SYSADM", "SYSADM", ("UNLOAD SQL " + script).c_str()), 0);
  EXPECT_TRUE(Exists(script));
  EXPECT_EQ(Unload("SALES", "SYSADM", "SYSADM", "UNLOAD EVERYTHING"), STANDIN_BAD_COMMAND);

  ASSERT_EQ(CreateDB("srv", "pw", "COPY"), 0);
  EXPECT_EQ(Load("COPY", "SYSADM", "SYSADM", ("LOAD SQL " + script).c_str()), 0);
  const char* everything = "SELECT id, quote(name), quote(born), quote(score) FROM people";
  EXPECT_EQ(RowsOf(DatabaseFile("COPY"), everything), RowsOf(DatabaseFile("SALES"), everything));
  EXPECT_EQ(RowsOf(DatabaseFile("COPY"), "SELECT count(*) FROM people"), (Rows{{"2"}}));
  EXPECT_EQ(Load("COPY", "SYSADM", "wrong", ("LOAD SQL " + script).c_str()), STANDIN_BAD_LOGIN);
}

TEST_F(MaintenanceEndToEndTest, UpdateStatsAnalysesAndReleaseLogEmptiesTheLog) {
  CreateFilled("SALES", kPeople);
  // SQLite folds the log into the database when the last connection closes: someone stays.
  HeldConnection held("SALES");
  ASSERT_TRUE(held.Connected());
  EXPECT_EQ(UpdateStats("SALES", "SYSADM", "SYSADM"), 0);
  EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "SELECT tbl FROM sqlite_stat1"), (Rows{{"people"}}));

  const std::string log = DatabaseFile("SALES") + "-wal";
  struct stat info {};
  ASSERT_EQ(stat(log.c_str(), &info), 0);
  EXPECT_GT(info.st_size, 0);
  EXPECT_EQ(ReleaseLog("SALES", "SYSADM", "SYSADM"), 0);
  ASSERT_EQ(stat(log.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(MaintenanceEndToEndTest, AReloadWhoseScriptFailsLeavesTheDatabaseAsItWas) {
  CreateFilled("SALES", "CREATE TABLE t(a); INSERT INTO t VALUES(1), (2);");
  WriteFile(Path("bad.sql"),
            "DELETE FROM t; INSERT INTO t VALUES(3); INSERT INTO nosuch VALUES(4);");
  EXPECT_EQ(ReLoad("SALES", "SYSADM", "SYSADM", Path("bad.sql").c_str()), STANDIN_SQL_ERROR);
  EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "SELECT a FROM t ORDER BY a"), (Rows{{"1"}, {"2"}}));

  WriteFile(Path("good.sql"), "DELETE FROM t; INSERT INTO t VALUES(3);");
  EXPECT_EQ(ReLoad("SALES", "SYSADM", "SYSADM", Path("good.sql").c_str()), 0);
  EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "SELECT a FROM t"), (Rows{{"3"}}));
}

TEST_F(MaintenanceEndToEndTest, OthersSeeAReloadWholeOrNotAtAll) {
  constexpr int kOld = 100;
  constexpr int kNew = 20000;
  CreateFilled("SALES", "CREATE TABLE t(a);" + Many(kOld));
  WriteFile(Path("many.sql"), Many(kNew));

  std::atomic<bool> done{false};
  std::set<std::string> seen;
  std::thread reader([&] {
    while (!done) {
      for (const auto& row : RowsOf(DatabaseFile("SALES"), "SELECT count(*) FROM t")) {
        seen.insert(row[0]);
      }
    }
  });
  EXPECT_EQ(ReLoad("SALES", "SYSADM", "SYSADM", Path("many.sql").c_str()), 0);
  done = true;
  reader.join();
  EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "SELECT count(*) FROM t"),
            (Rows{{std::to_string(kNew)}}));
  for (const std::string& count : seen) {
    EXPECT_TRUE(count == std::to_string(kOld) || count == std::to_string(kNew)) << count;
  }
}

TEST_F(MaintenanceEndToEndTest, AReloadWaitsForNoOtherLockAndThenChangesNothing) {
  CreateFilled("SALES", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  WriteFile(Path("good.sql"), "DELETE FROM t; INSERT INTO t VALUES(3);");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(DatabaseFile("SALES").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  // The lock and then the load each wait out the lock wait of the connection, then give up.
  EXPECT_EQ(ReLoad("SALES", "SYSADM", "SYSADM", Path("good.sql").c_str()), STANDIN_DATABASE_LOCKED);
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "SELECT a FROM t"), (Rows{{"1"}}));
}

}  // namespace
