// The stand-in's server jobs where they take shortcuts: a registry whose owners are watched
// rather than looked up, copies made without a journal, scripts read once.
#include <gmock/gmock.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "held_connection.h"
#include "scratch_root.h"
#include "standin_calls.h"

namespace {

class StandinJobsTest : public ScratchRootTest {
 protected:
  void OnCatalogue(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("srv/standin.catalogue").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
  }
  // A registry entry as a connection of that process would have made it.
  void Register(int process, pid_t pid, long long started) {
    OnCatalogue("INSERT INTO connections(process, pid, started, user, database, program) VALUES(" +
                std::to_string(process) + ", " + std::to_string(pid) + ", " +
                std::to_string(started) + ", 'SYSADM', 'SALES', 'planted')");
  }
  // Field 3 (state) or 22 (start time) of the process's status line.
  static std::string StatusField(pid_t pid, int wanted) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(file, line);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int index = 3; index <= wanted && fields >> field;) ++index;
    return field;
  }
  static std::vector<std::string> Programs(uint16_t server) {
    std::vector<std::string> programs;
    for (const calls::Record& record : calls::ActiveCursors(server)) {
      programs.push_back(record.program);
    }
    return programs;
  }
};

using ::testing::ElementsAre;

// The listing watches the owners it found alive; what it watched must still leave the list
// when the owner ends, even unreaped, and a number now used by another process counts for
// nothing.
TEST_F(StandinJobsTest, AConnectionIsListedOnlyWhileTheProcessThatMadeItRuns) {
  const uint16_t server = calls::Server();
  ASSERT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  HeldConnection held("SALES");
  ASSERT_TRUE(held.Connected());

  const pid_t other = fork();
  if (other == 0) {
    pause();
    _exit(0);
  }
  const long long started = std::atoll(StatusField(other, 22).c_str());
  ASSERT_GT(started, 0);
  // The owner of process 200 started before the process that has its number now.
  Register(200, other, started - 1);
  Register(201, other, started);
  EXPECT_THAT(Programs(server), ElementsAre("SQLBase", "hold-connection", "planted"));
  EXPECT_THAT(Programs(server), ElementsAre("SQLBase", "hold-connection", "planted"));

  kill(other, SIGKILL);
  // A zombie until reaped: no longer the owner of anything.
  for (int wait = 0; wait < 5000 && StatusField(other, 3) != "Z"; ++wait) usleep(1000);
  ASSERT_EQ(StatusField(other, 3), "Z");
  EXPECT_THAT(Programs(server), ElementsAre("SQLBase", "hold-connection"));
  waitpid(other, nullptr, 0);

  held.Crash();
  EXPECT_THAT(Programs(server), ElementsAre("SQLBase"));
  // Gone from the registry as well, not only from the listing.
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), 0);
  sqlwntm_Disconnect(server);
}

// A process whose main thread has ended shows as a zombie while its other threads run: their
// connections are still held, and the database is still in use.
TEST_F(StandinJobsTest, AConnectionOutlivesTheMainThreadOfItsProcess) {
  const uint16_t server = calls::Server();
  ASSERT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t owner = fork();
  if (owner == 0) {
    close(ready[0]);
    std::thread([&] {
      uint16_t cursor = 0;
      const char connected = sqlwntm_CursorConnect(&cursor, "SALES/SYSADM/SYSADM", 0) == 0;
      (void)!write(ready[1], &connected, 1);
      pause();
    }).detach();
    // The main thread alone ends, without the unwinding pthread_exit would do through the
    // test framework.
    syscall(SYS_exit, 0);
  }
  close(ready[1]);
  char connected = 0;
  ASSERT_EQ(read(ready[0], &connected, 1), 1);
  close(ready[0]);
  ASSERT_TRUE(connected);
  for (int wait = 0; wait < 5000 && StatusField(owner, 3) != "Z"; ++wait) usleep(1000);
  ASSERT_EQ(StatusField(owner, 3), "Z");

  EXPECT_EQ(Programs(server).size(), 2U);
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), STANDIN_DATABASE_IN_USE);
  kill(owner, SIGKILL);
  waitpid(owner, nullptr, 0);
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), 0);
  sqlwntm_Disconnect(server);
}

// The names list borrows the catalogue of a server connection that the same thread holds: it
// must still see every change and refuse what a fresh open would refuse.
TEST_F(StandinJobsTest, TheNamesListOverAnOpenConnectionSeesWhatAFreshOneWould) {
  const uint16_t server = calls::Server();
  ASSERT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  EXPECT_THAT(calls::DatabaseNames(), ElementsAre("SALES"));
  // Changes of other connections, in other threads or processes.
  std::thread([] {
    const uint16_t other = calls::Server();
    EXPECT_EQ(sqlwntm_CreateDatabase(other, "STOCK", 0), 0);
    EXPECT_THAT(calls::DatabaseNames(), ElementsAre("SALES", "STOCK"));
    sqlwntm_Disconnect(other);
  }).join();
  EXPECT_THAT(calls::DatabaseNames(), ElementsAre("SALES", "STOCK"));

  char list[1024];
  ASSERT_EQ(chmod(Path("srv").c_str(), 0770), 0);
  EXPECT_EQ(sqlwntm_GetDatabaseNames("srv", list, sizeof list), STANDIN_UNSAFE_FOLDER);
  ASSERT_EQ(chmod(Path("srv").c_str(), 0700), 0);
  EXPECT_EQ(sqlwntm_GetDatabaseNames("srv", list, 10), STANDIN_BUFFER_TOO_SMALL);

  const pid_t stopper = fork();
  if (stopper == 0) {
    uint16_t other = 0;
    _exit(sqlwntm_Connect(&other, "srv", "pw") == 0 && sqlwntm_TerminateServer(other) == 0 ? 0 : 1);
  }
  int status = -1;
  waitpid(stopper, &status, 0);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(sqlwntm_GetDatabaseNames("srv", list, sizeof list), STANDIN_SERVER_TERMINATED);

  // A server removed and made again under the open connection is the new one.
  std::filesystem::remove_all(Path("srv"));
  ASSERT_EQ(standin_server_create("srv", "pw"), 0);
  const uint16_t fresh = calls::Server();
  ASSERT_EQ(sqlwntm_CreateDatabase(fresh, "NEW1", 0), 0);
  sqlwntm_Disconnect(fresh);
  EXPECT_THAT(calls::DatabaseNames(), ElementsAre("NEW1"));
  sqlwntm_Disconnect(server);
}

// A copy that spans many steps of the backup is still one committed state, whole and equal to
// its source, however the database changes meanwhile.
TEST_F(StandinJobsTest, ASnapshotIsTheWholeDatabaseAsCommittedWhileAWriterGoesOn) {
  const uint16_t server = calls::Server();
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE pad(b)");
  calls::Run(cursor,
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
             " INSERT INTO pad SELECT randomblob(3000) FROM n");
  calls::Run(cursor, "CREATE TABLE account(id INTEGER PRIMARY KEY, balance INTEGER)");
  calls::Run(cursor,
             "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100)"
             " INSERT INTO account SELECT i, 100 FROM n");

  std::atomic<bool> stop{false};
  std::atomic<int> transfers{0};
  // Each transfer keeps the sum of the balances; a copy that mixed two states would not.
  std::thread writer([&] {
    const uint16_t own = calls::Cursor("SALES/SYSADM/SYSADM");
    for (int i = 0; !stop; ++i) {
      const std::string from = std::to_string(1 + i % 100);
      const std::string to = std::to_string(1 + (i * 7 + 3) % 100);
      calls::Run(own, ("LOCK DATABASE"));
      calls::Run(own, ("UPDATE account SET balance = balance - 1 WHERE id = " + from).c_str());
      calls::Run(own, ("UPDATE account SET balance = balance + 1 WHERE id = " + to).c_str());
      calls::Run(own, ("UPDATE pad SET b = randomblob(3000) WHERE rowid = " + to).c_str());
      calls::Run(own, "UNLOCK DATABASE");
      EXPECT_EQ(sqlwntm_Commit(own), 0);
      ++transfers;
    }
    sqlwntm_CursorDisconnect(own);
  });
  const std::string folder = Path("snap");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const auto check = [&](const char* sql, const std::string& expected) {
    sqlite3* copy = nullptr;
    ASSERT_EQ(sqlite3_open_v2((folder + "/SALES.db").c_str(), &copy, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(copy, sql, -1, &statement, nullptr), SQLITE_OK) << sql;
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), expected) << sql;
    sqlite3_finalize(statement);
    sqlite3_close(copy);
  };
  for (int copy = 0; copy < 4; ++copy) {
    while (transfers < copy * 20) usleep(1000);
    ASSERT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1), 0);
    check("PRAGMA integrity_check", "ok");
    check("PRAGMA journal_mode", "delete");
    check("SELECT sum(balance) || ' ' || count(*) FROM account", "10000 100");
    check("SELECT count(*) FROM pad", "3000");
  }
  stop = true;
  writer.join();

  // Quiet now: the copy holds every row of the source, and nothing else.
  ASSERT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1), 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Path("srv/SALES.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, ("ATTACH '" + folder + "/SALES.db' AS copy").c_str(), nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_stmt* differences = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "SELECT (SELECT count(*) FROM (SELECT * FROM main.pad EXCEPT"
                               " SELECT * FROM copy.pad)) + (SELECT count(*) FROM (SELECT * FROM"
                               " copy.pad EXCEPT SELECT * FROM main.pad)) + (SELECT count(*) FROM"
                               " (SELECT * FROM main.account EXCEPT SELECT * FROM copy.account))"
                               " + (SELECT count(*) FROM copy.pad) - (SELECT count(*) FROM"
                               " main.pad)",
                               -1, &differences, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(differences), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(differences, 0), 0);
  sqlite3_finalize(differences);
  sqlite3_close(db);
  struct stat info {};
  ASSERT_EQ(stat((folder + "/SALES.db").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            1);
  sqlwntm_CursorDisconnect(cursor);
  sqlwntm_Disconnect(server);
}

// Scripts far larger than what is read at a time: statements that straddle the pieces run
// whole, a failure names its line, and a NUL byte near the end stops everything.
TEST_F(StandinJobsTest, ALargeScriptRunsWholeOrNotAtAll) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a, b)");
  std::string script = "-- made by the test\n";
  for (int i = 0; i < 20000; ++i) {
    script += "INSERT INTO t VALUES(" + std::to_string(i) + ", 'row " + std::to_string(i) + "');\n";
    if (i % 5000 == 0) {
      // A literal and a trigger body longer than any piece, with their own semicolons.
      script += "INSERT INTO t VALUES(-1, '" + std::string(150000, ';') + "');\n";
      script += "CREATE TRIGGER t" + std::to_string(i) + " AFTER DELETE ON t BEGIN SELECT 1;" +
                "/*" + std::string(100000, ' ') + "*/ SELECT 2; END;\n";
    }
    if (i % 2000 == 0) {
      // Every prefix that ends in a row is a statement of its own, with fewer rows.
      script += "INSERT INTO t VALUES(0,0)";
      for (int row = 1; row < 20000; ++row) script += ",(0,0)";
      script += ";\n";
    }
  }
  const std::string path = Path("script.sql");
  const auto load = [&](const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return sqlwntm_Load(cursor, ("LOAD SQL " + path).c_str(), 0);
  };
  const auto count = [&] { return calls::Select(cursor, "SELECT count(*) FROM t")[0][0]; };

  std::string withNul = script;
  withNul.insert(withNul.size() - 10, 1, '\0');
  EXPECT_EQ(load(withNul), STANDIN_BAD_SCRIPT);
  EXPECT_THAT(standin_last_message(STANDIN_BAD_SCRIPT),
              ::testing::HasSubstr("at offset " + std::to_string(script.size() - 10)));
  EXPECT_EQ(count(), "0");

  const std::string failing = script + "INSERT INTO nosuch VALUES(1);\n";
  EXPECT_EQ(load(failing), STANDIN_SQL_ERROR);
  const long lines = std::count(script.begin(), script.end(), '\n');
  EXPECT_THAT(standin_last_message(STANDIN_SQL_ERROR),
              ::testing::HasSubstr("line " + std::to_string(lines + 1) + ")"));
  EXPECT_EQ(count(), "0");

  // A script cannot end the unit it runs in: what ran before a later failure is not kept.
  for (const char* ending : {"COMMIT;", "END;", "ROLLBACK;", "RELEASE standin_load;",
                             "ROLLBACK TO standin_load; RELEASE standin_load;"}) {
    EXPECT_EQ(load("INSERT INTO t VALUES(1, 'kept?');\n" + std::string(ending) +
                   "\nINSERT INTO t VALUES(2, 'kept?');\nINSERT INTO nosuch VALUES(1);\n"),
              STANDIN_SQL_ERROR)
        << ending;
    EXPECT_EQ(count(), "0") << ending;
  }
  // A failing first statement is reported without the rest of the file being read in.
  EXPECT_EQ(load("INSERT INTO nosuch VALUES(1);\n" + script), STANDIN_SQL_ERROR);
  EXPECT_THAT(standin_last_message(STANDIN_SQL_ERROR), ::testing::HasSubstr("line 1)"));

  // The last statement needs no semicolon; a comment may follow it.
  EXPECT_EQ(load(script + "INSERT INTO t VALUES(1, 'last') -- the end"), 0);
  EXPECT_EQ(count(), "220005");
  EXPECT_EQ(calls::Select(cursor, "SELECT sum(length(b)) FROM t WHERE a = -1")[0][0], "600000");
  EXPECT_EQ(
      calls::Select(cursor, "SELECT count(*) FROM sqlite_schema WHERE type = 'trigger'")[0][0],
      "4");
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

}  // namespace
