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
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
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

// Everything a table can hold comes back from an unload byte for byte, into an empty database
// and into the same one: reals of every bit pattern and infinity, text with NUL bytes, blobs,
// rowids without an alias, generated columns, a full-text table and its settings, the
// AUTOINCREMENT counters, WITHOUT ROWID and STRICT tables, views and their triggers.
// Definitions are kept as written, a closing comment included; an fts4 language id and an
// open comment cannot be given back, and say so.
TEST_F(StandinJobsTest, AnUnloadKeepsDefinitionsWholeOrSaysWhatItCannotKeep) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE a(x INT) STRICT -- a note");
  calls::Run(cursor, "INSERT INTO a VALUES(1)");
  calls::Run(cursor, "PRAGMA user_version=42");
  const std::string script = Path("a.sql");
  ASSERT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + script).c_str(), 0), 0);
  const uint16_t copy = calls::NewDatabase("COPY");
  ASSERT_EQ(sqlwntm_Load(copy, ("LOAD SQL " + script).c_str(), 0), 0);
  ASSERT_EQ(sqlwntm_Commit(copy), 0);
  EXPECT_EQ(calls::Select(copy, "SELECT x FROM a"), (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_EQ(calls::Select(copy, "PRAGMA user_version"),
            (std::vector<std::vector<std::string>>{{"42"}}));
  for (const char* table : {"CREATE TABLE b(y INT) STRICT /* open",
                            "CREATE VIRTUAL TABLE c USING fts4(t, "
                            "languageid=\"lid\")"}) {
    calls::Run(cursor, table);
    EXPECT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + Path("b.sql")).c_str(), 0),
              STANDIN_SQL_ERROR);
    calls::Run(cursor, std::string("DROP TABLE ").append(table[13] == 'b' ? "b" : "c").c_str());
  }
  sqlwntm_CursorDisconnect(copy);
  sqlwntm_CursorDisconnect(cursor);
}

TEST_F(StandinJobsTest, AnUnloadReproducesEveryTableByteForByte) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Path("srv/SALES.db").c_str(), &db), SQLITE_OK);
  const auto exec = [&](const std::string& sql) {
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db);
  };
  exec("CREATE TABLE nums(r REAL, x, i INTEGER)");
  exec("CREATE TABLE texts(t TEXT, b BLOB)");
  exec("CREATE TABLE made(a INTEGER, b TEXT, twice AS (a * 2) STORED, shout AS (b || '!'))");
  exec("CREATE VIRTUAL TABLE docs USING fts5(title, body)");
  exec("INSERT INTO docs(docs, rank) VALUES('pgsz', 1000)");
  exec("CREATE TABLE counter(id INTEGER PRIMARY KEY AUTOINCREMENT, v)");
  exec("CREATE TABLE pairs(k TEXT PRIMARY KEY, v ANY) WITHOUT ROWID");
  exec("CREATE TABLE typed(i INTEGER PRIMARY KEY, r REAL, t TEXT, a ANY) STRICT");
  exec("CREATE INDEX made_b ON made(b)");
  exec("CREATE VIEW counted AS SELECT id, v FROM counter");
  exec(
      "CREATE TRIGGER counted_in INSTEAD OF INSERT ON counted BEGIN"
      " INSERT INTO counter(v) VALUES(NEW.v); END");
  exec(
      "CREATE TRIGGER made_in AFTER INSERT ON made BEGIN"
      " INSERT INTO pairs VALUES('made ' || NEW.a, NEW.twice); END");

  exec("BEGIN");
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO nums VALUES(?1, ?1, ?2)", -1, &insert, nullptr),
            SQLITE_OK);
  const auto putReal = [&](double value, int64_t integer) {
    sqlite3_bind_double(insert, 1, value);
    sqlite3_bind_int64(insert, 2, integer);
    EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  };
  putReal(HUGE_VAL, INT64_MIN);
  putReal(-HUGE_VAL, INT64_MAX);
  putReal(-0.0, 0);
  // Bit patterns of every size, among them those that SQLite's 17 digits do not read back.
  uint64_t bits = 88172645463325252ull;
  for (int i = 0; i < 3000; ++i) {
    bits ^= bits << 13;
    bits ^= bits >> 7;
    bits ^= bits << 17;
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isnan(value)) putReal(value, static_cast<int64_t>(bits));
  }
  sqlite3_finalize(insert);
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO texts VALUES(?, ?)", -1, &insert, nullptr),
            SQLITE_OK);
  std::string everyByte;  // every ASCII character, so that no one of them is free to stand in
  for (int c = 0; c < 128; ++c) everyByte += static_cast<char>(c);
  everyByte += std::string("\0\0", 2) + "\xc3\xa9 \xe2\x82\xac '' \"";
  for (const std::string& text :
       {std::string("a\0b", 3), std::string("gone"), std::string(), everyByte, std::string(1, '\0'),
        std::string("it's\0\0", 6) + std::string(70000, 'x')}) {
    sqlite3_bind_text(insert, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  exec("DELETE FROM texts WHERE t = 'gone'");  // rowids 1, 3, 4, ...
  exec("INSERT INTO texts VALUES(NULL, x''), (42, x'00ff')");
  exec("INSERT INTO made(a, b) VALUES(1, 'one'), (2, NULL), (3, 'three')");
  exec(
      "INSERT INTO docs(rowid, title, body) VALUES(7, 'first', 'the quick brown fox'),"
      " (3, 'second', 'jumps over' || char(10) || 'the lazy dog'), (12, NULL, 'fox')");
  exec("INSERT INTO counter(v) VALUES('a'), ('b'), ('c')");
  exec("DELETE FROM counter WHERE id > 1");  // the next id is 4, not 2
  exec("INSERT INTO pairs VALUES('real', 1.5), ('blob', x'01'), ('null', NULL)");
  exec("INSERT INTO typed VALUES(5, 2.5, 'five', x'05'), (-9, 1e308, '', 9e999)");
  exec("COMMIT");
  sqlite3_close(db);

  // Every table but the full-text table's own, with its rowid, in the exact bytes of each value.
  const auto contents = [&](const char* database) {
    sqlite3* file = nullptr;
    EXPECT_EQ(sqlite3_open_v2(Path(std::string("srv/") + database + ".db").c_str(), &file,
                              SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    std::vector<std::pair<std::string, std::string>> tables;
    sqlite3_stmt* list = nullptr;
    sqlite3_prepare_v2(file,
                       "SELECT name, wr FROM pragma_table_list WHERE schema = 'main' AND type IN"
                       " ('table', 'virtual') AND name <> 'sqlite_schema' ORDER BY name",
                       -1, &list, nullptr);
    while (sqlite3_step(list) == SQLITE_ROW) {
      const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(list, 0));
      std::string select = sqlite3_column_int(list, 1) != 0 ? "SELECT " : "SELECT rowid";
      sqlite3_stmt* columns = nullptr;
      sqlite3_prepare_v2(file, "SELECT name FROM pragma_table_xinfo(?) WHERE hidden <> 1", -1,
                         &columns, nullptr);
      sqlite3_bind_text(columns, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      while (sqlite3_step(columns) == SQLITE_ROW) {
        if (select.back() != ' ') select += ", ";
        select += std::string("\"") +
                  reinterpret_cast<const char*>(sqlite3_column_text(columns, 0)) + "\"";
      }
      sqlite3_finalize(columns);
      tables.emplace_back(name, select + " FROM \"" + name + "\"");
    }
    sqlite3_finalize(list);
    std::vector<std::string> rows;
    for (const auto& [name, select] : tables) {
      sqlite3_stmt* read = nullptr;
      EXPECT_EQ(sqlite3_prepare_v2(file, select.c_str(), -1, &read, nullptr), SQLITE_OK) << select;
      while (sqlite3_step(read) == SQLITE_ROW) {
        std::string row = name + ":";
        for (int column = 0; column < sqlite3_column_count(read); ++column) {
          const int type = sqlite3_column_type(read, column);
          std::string bytes;
          if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
            const int64_t integer = sqlite3_column_int64(read, column);
            const double real = sqlite3_column_double(read, column);
            bytes.assign(reinterpret_cast<const char*>(type == SQLITE_INTEGER
                                                           ? static_cast<const void*>(&integer)
                                                           : static_cast<const void*>(&real)),
                         8);
          } else if (type != SQLITE_NULL) {
            const auto* start = static_cast<const char*>(sqlite3_column_blob(read, column));
            bytes.assign(start == nullptr ? "" : start,
                         static_cast<std::size_t>(sqlite3_column_bytes(read, column)));
          }
          row += " " + std::to_string(type) + "/" + std::to_string(bytes.size()) + "/";
          for (const char c : bytes) {
            row += "0123456789abcdef"[(static_cast<unsigned char>(c) >> 4)];
            row += "0123456789abcdef"[static_cast<unsigned char>(c) & 0xf];
          }
        }
        rows.push_back(row);
      }
      sqlite3_finalize(read);
    }
    sqlite3_close(file);
    return rows;
  };
  const std::vector<std::string> before = contents("SALES");
  ASSERT_GT(before.size(), 3000u);
  const auto count = [&](const char* table) {
    return std::count_if(before.begin(), before.end(), [&](const std::string& row) {
      return row.rfind(std::string(table) + ":", 0) == 0;
    });
  };
  EXPECT_EQ(count("docs"), 3);
  EXPECT_EQ(count("sqlite_sequence"), 1);

  const std::string script = Path("sales.sql");
  ASSERT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + script).c_str(), 0), 0)
      << standin_last_message(STANDIN_SQL_ERROR);
  const uint16_t copy = calls::NewDatabase("COPY");
  ASSERT_EQ(sqlwntm_Load(copy, ("LOAD SQL " + script).c_str(), 0), 0)
      << standin_last_message(STANDIN_SQL_ERROR);
  ASSERT_EQ(sqlwntm_Commit(copy), 0);
  EXPECT_TRUE(contents("COPY") == before);
  // Into the same database, over every object: views, triggers and the full-text table too.
  ASSERT_EQ(sqlwntm_Load(cursor, ("LOAD SQL " + script).c_str(), 0), 0)
      << standin_last_message(STANDIN_SQL_ERROR);
  ASSERT_EQ(sqlwntm_Commit(cursor), 0);
  EXPECT_TRUE(contents("SALES") == before);

  using Rows = std::vector<std::vector<std::string>>;
  for (const uint16_t loaded : {copy, cursor}) {
    EXPECT_EQ(calls::Select(loaded, "SELECT rowid FROM docs WHERE docs MATCH 'fox' ORDER BY rowid"),
              (Rows{{"7"}, {"12"}}));
    EXPECT_EQ(calls::Select(loaded, "SELECT v FROM docs_config WHERE k = 'pgsz'"),
              (Rows{{"1000"}}));
    calls::Run(loaded, "INSERT INTO counted(v) VALUES('d')");
    EXPECT_EQ(calls::Select(loaded, "SELECT id FROM counter WHERE v = 'd'"), (Rows{{"4"}}));
    calls::Run(loaded, "INSERT INTO made(a) VALUES(21)");
    EXPECT_EQ(calls::Select(loaded, "SELECT v FROM pairs WHERE k = 'made 21'"), (Rows{{"42"}}));
  }

  // What a script cannot make again is refused by name rather than left out.
  calls::Run(cursor, "CREATE VIRTUAL TABLE bare USING fts5(words, content='')");
  EXPECT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + Path("bare.sql")).c_str(), 0),
            STANDIN_SQL_ERROR);
  EXPECT_THAT(standin_last_message(STANDIN_SQL_ERROR), ::testing::HasSubstr("bare"));
  EXPECT_FALSE(std::filesystem::exists(Path("bare.sql")));
  EXPECT_EQ(sqlwntm_CursorDisconnect(copy), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

}  // namespace
