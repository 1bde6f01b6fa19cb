// The stand-in as a hostile database user, a second local account or a careless operator
// would try it: what a connection may open, what lies on disk, what a kill or a drop leaves.
#include <dirent.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "scratch_root.h"
#include "standin_calls.h"

namespace {

class StandinHardeningTest : public ScratchRootTest {
 protected:
  void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  // Every byte the catalogue has on disk, its log included.
  std::string CatalogueBytes() {
    std::string bytes;
    for (const char* suffix : {"", "-wal"}) {
      std::ifstream file(Path("srv/standin.catalogue") + suffix, std::ios::binary);
      bytes.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return bytes;
  }
  void OnCatalogue(const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("srv/standin.catalogue").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
  }
  static unsigned ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 01000000;
  }
  int16_t Load(uint16_t cursor, const std::string& script) {
    const std::string path = Path("script.sql");
    WriteFile(path, script);
    return sqlwntm_Load(cursor, ("LOAD SQL " + path).c_str(), 0);
  }
};

TEST_F(StandinHardeningTest, AConnectionOpensNothingButItsOwnDatabase) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  const std::string catalogue = Path("srv/standin.catalogue");
  // From a load script, which runs through the connection, as from a statement.
  EXPECT_EQ(Load(cursor, "ATTACH '" + catalogue + "' AS c; SELECT * FROM c.settings;"),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "ATTACH 'file:" + catalogue + "?mode=ro' AS c;"), STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "ATTACH ('" + catalogue + "') AS c;"), STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, ("ATTACH '" + catalogue + "' AS c").c_str(), 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "ATTACH ':memory:' AS m", 0), STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "DETACH main", 0), STANDIN_SQL_ERROR);
  // VACUUM INTO writes anywhere the process may write.
  const std::string copy = Path("copy.db");
  EXPECT_EQ(Load(cursor, "VACUUM INTO '" + copy + "';"), STANDIN_SQL_ERROR);
  EXPECT_FALSE(Exists(copy));
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "SELECT load_extension('/tmp/nothing')", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "PRAGMA temp_store_directory = '/tmp'", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "PRAGMA writable_schema = ON; DELETE FROM sqlite_schema;"),
            STANDIN_SQL_ERROR);
  // A plain VACUUM only uses a private temporary database.
  calls::Run(cursor, "CREATE TABLE t(a)");
  calls::Run(cursor, "VACUUM");
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

TEST_F(StandinHardeningTest, TheCatalogueKeepsNoPasswordAsTyped) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "GRANT CONNECT TO clerk IDENTIFIED BY Sesame1234");
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  const std::string bytes = CatalogueBytes();
  EXPECT_EQ(bytes.find("Sesame1234"), std::string::npos);
  EXPECT_NE(bytes.find("pbkdf2-sha256$"), std::string::npos);
  ASSERT_EQ(standin_server_create("twin", "pw"), 0);
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_CursorConnectOtherMode(&handle, "SALES/CLERK/Sesame1234", 0), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(handle), 0);
  EXPECT_EQ(sqlwntm_CursorConnectOtherMode(&handle, "SALES/CLERK/Sesame123", 0), STANDIN_BAD_LOGIN);
  EXPECT_EQ(sqlwntm_Connect(&handle, "twin", "pw"), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), 0);
}

// A refusal that came sooner for an unknown user would tell which users exist.
TEST_F(StandinHardeningTest, AnUnknownUserIsRefusedAsSlowlyAsAWrongPassword) {
  EXPECT_EQ(sqlwntm_CursorDisconnect(calls::NewDatabase("SALES")), 0);
  auto refusal = [](const char* connect, std::chrono::steady_clock::duration* fastest) {
    uint16_t handle = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sqlwntm_CursorConnect(&handle, connect, 0), STANDIN_BAD_LOGIN);
    *fastest = std::min(*fastest, std::chrono::steady_clock::now() - start);
  };
  // Taken in turns, so that a busy stretch of the machine slows both alike.
  auto wrongPassword = std::chrono::steady_clock::duration::max();
  auto unknownUser = wrongPassword;
  for (int round = 0; round < 15; ++round) {
    refusal("SALES/SYSADM/guess", &wrongPassword);
    refusal("SALES/NOBODY/guess", &unknownUser);
  }
  EXPECT_GT(unknownUser * 4, wrongPassword * 3);
}

TEST_F(StandinHardeningTest, ACatalogueWithClearPasswordsIsHashedOnFirstUse) {
  const uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
  // The catalogue as earlier versions wrote it.
  OnCatalogue(
      "UPDATE settings SET value = 'OldServerPw' WHERE key = 'password';"
      "UPDATE users SET password = 'OldUserPw';"
      "DELETE FROM settings WHERE key = 'passwords';");
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "OldServerPw"), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), 0);
  EXPECT_EQ(CatalogueBytes().find("OldServerPw"), std::string::npos);
  EXPECT_EQ(CatalogueBytes().find("OldUserPw"), std::string::npos);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "pbkdf2-sha256"), STANDIN_BAD_PASSWORD);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "OldServerPw"), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), 0);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/OldUserPw", 0), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(handle), 0);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/SYSADM", 0), STANDIN_BAD_LOGIN);
}

TEST_F(StandinHardeningTest, FoldersAreTheUsersAloneAndFilesTooWhateverTheUmask) {
  const mode_t umaskBefore = umask(0);
  setenv("QUILLET_STANDIN_ROOT", Path("new/root").c_str(), 1);
  ASSERT_EQ(standin_server_create("srv", "pw"), 0);
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  const std::string script = Path("unload.sql");
  WriteFile(script, "old");
  chmod(script.c_str(), 0644);
  EXPECT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + script).c_str(), 0), 0);
  const uint16_t server = calls::Server();
  const std::string backups = Path("backups");
  ASSERT_EQ(mkdir(backups.c_str(), 0700), 0);
  WriteFile(backups + "/SALES.db", "old");
  chmod((backups + "/SALES.db").c_str(), 0644);
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, backups.c_str(), 0, 1, 1), 0);
  umask(umaskBefore);

  for (const char* folder : {"new", "new/root", "new/root/srv"}) {
    EXPECT_EQ(ModeOf(Path(folder)), 0700u) << folder;
  }
  for (const char* file : {"standin.catalogue", "standin.catalogue-wal", "standin.catalogue-shm",
                           "signals", "SALES.db", "SALES.db-wal", "SALES.db-shm"}) {
    EXPECT_EQ(ModeOf(Path("new/root/srv/") + file), 0600u) << file;
  }
  EXPECT_EQ(ModeOf(script), 0600u);
  EXPECT_EQ(ModeOf(backups + "/SALES.db"), 0600u);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

TEST_F(StandinHardeningTest, AFolderOthersMayWriteToIsRefusedWithItsOwnCode) {
  uint16_t handle = 0;
  const uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
  ASSERT_EQ(chmod(Path("srv").c_str(), 0777), 0);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "pw"), STANDIN_UNSAFE_FOLDER);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/SYSADM", 0), STANDIN_UNSAFE_FOLDER);
  char list[64];
  EXPECT_EQ(sqlwntm_GetDatabaseNames("srv", list, sizeof list), STANDIN_UNSAFE_FOLDER);
  ASSERT_EQ(chmod(Path("srv").c_str(), 0770), 0);
  EXPECT_EQ(standin_server_state("srv", nullptr), STANDIN_BAD_PARAMETER);
  int32_t running = 0;
  EXPECT_EQ(standin_server_state("srv", &running), STANDIN_UNSAFE_FOLDER);
  ASSERT_EQ(chmod(Path("srv").c_str(), 0700), 0);
  EXPECT_EQ(standin_server_state("srv", &running), 0);

  // A root that others may write to, as a shared /tmp folder someone else made would be.
  ASSERT_EQ(chmod(root_.c_str(), 0757), 0);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "pw"), STANDIN_UNSAFE_FOLDER);
  EXPECT_EQ(standin_server_create("other", "pw"), STANDIN_UNSAFE_FOLDER);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/SYSADM", 0), STANDIN_UNSAFE_FOLDER);
  ASSERT_EQ(chmod(root_.c_str(), 0700), 0);
  // A server folder planted as a link to a folder elsewhere is not the server's.
  ASSERT_EQ(mkdir(Path("elsewhere").c_str(), 0777), 0);
  ASSERT_EQ(chmod(Path("elsewhere").c_str(), 0777), 0);
  ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("planted").c_str()), 0);
  EXPECT_EQ(standin_server_create("planted", "pw"), STANDIN_UNSAFE_FOLDER);
  EXPECT_FALSE(Exists(Path("elsewhere/standin.catalogue")));
  EXPECT_NE(standin_code_text(STANDIN_UNSAFE_FOLDER), nullptr);
}

TEST_F(StandinHardeningTest, AScriptIsRunWholeOrNotAtAll) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  EXPECT_EQ(Load(cursor, std::string("INSERT INTO t VALUES(1);\0INSERT INTO t VALUES(2);", 50)),
            STANDIN_BAD_SCRIPT);
  // A directory opens, and reads as nothing.
  EXPECT_EQ(sqlwntm_Load(cursor, ("LOAD SQL " + root_).c_str(), 0), STANDIN_FILE_ERROR);
  if (geteuid() != 0) {  // root reads any file
    WriteFile(Path("secret.sql"), "INSERT INTO t VALUES(3);");
    chmod(Path("secret.sql").c_str(), 0);
    EXPECT_EQ(sqlwntm_Load(cursor, ("LOAD SQL " + Path("secret.sql")).c_str(), 0),
              STANDIN_FILE_ERROR);
  }
  // A FIFO that no one writes to would be waited on forever.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(sqlwntm_Load(cursor, ("LOAD SQL " + Path("fifo")).c_str(), 0), STANDIN_FILE_ERROR);
  // A file that opens but fails to read.
  EXPECT_EQ(sqlwntm_Load(cursor, "LOAD SQL /proc/self/mem", 0), STANDIN_FILE_ERROR);
  EXPECT_TRUE(calls::Select(cursor, "SELECT a FROM t").empty());
  EXPECT_EQ(Load(cursor, "INSERT INTO t VALUES(4);"), 0);
  EXPECT_EQ(calls::Select(cursor, "SELECT a FROM t").size(), 1u);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

// A backup or unload there would replace the catalogue, or a database under its connections.
TEST_F(StandinHardeningTest, NothingIsWrittenIntoAServerFolder) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  calls::Run(cursor, "INSERT INTO t VALUES(1)");
  const std::string catalogue = Path("srv/standin.catalogue");
  EXPECT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + catalogue).c_str(), 0), STANDIN_FILE_ERROR);
  EXPECT_EQ(sqlwntm_Unload(cursor, ("UNLOAD DATABASE " + Path("srv/../srv/SALES.db")).c_str(), 0),
            STANDIN_FILE_ERROR);
  const uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, Path("srv").c_str(), 0, 1, 1),
            STANDIN_FILE_ERROR);
  ASSERT_EQ(symlink(Path("srv").c_str(), Path("link").c_str()), 0);
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, Path("link").c_str(), 0, 1, 1),
            STANDIN_FILE_ERROR);
  calls::Run(cursor, "INSERT INTO t VALUES(2)");
  EXPECT_EQ(calls::Select(cursor, "SELECT count(*) FROM t"),
            (std::vector<std::vector<std::string>>{{"2"}}));
  EXPECT_EQ(calls::DatabaseNames(), std::vector<std::string>{"SALES"});
  EXPECT_EQ(sqlwntm_Unload(cursor, ("UNLOAD SQL " + Path("sales.sql")).c_str(), 0), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

// The draft's pages are gathered before they reach the file: a write that fails when they are
// handed on still fails the backup, and the earlier copy stays as it was.
TEST_F(StandinHardeningTest, ABackupThatCannotWriteEverythingFailsAndLeavesTheEarlierCopy) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  calls::Run(cursor, "INSERT INTO t VALUES(1)");
  const std::string folder = Path("backups");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const uint16_t server = calls::Server();
  ASSERT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1), 0);
  std::ifstream earlier(folder + "/SALES.db", std::ios::binary);
  const std::string earlierBytes((std::istreambuf_iterator<char>(earlier)),
                                 std::istreambuf_iterator<char>());
  calls::Run(cursor,
             "INSERT INTO t WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
             "WHERE i < 500) SELECT randomblob(4000) FROM n");

  // No file of this process grows past 512 KiB while the copy of 2 MB is made.
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 512 * 1024;
  void (*signalBefore)(int) = signal(SIGXFSZ, SIG_IGN);
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, Path("none").c_str(), 0, 1, 1),
            STANDIN_FILE_ERROR);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int16_t code = sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1);
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, signalBefore);

  EXPECT_EQ(code, STANDIN_FILE_ERROR);
  // Its own words, not those of the thread's failure before it.
  const char* message = standin_last_message(STANDIN_FILE_ERROR);
  EXPECT_THAT(message == nullptr ? "" : message, ::testing::HasSubstr("cannot copy"));
  std::ifstream kept(folder + "/SALES.db", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), std::istreambuf_iterator<char>()),
            earlierBytes);
  std::vector<std::string> names;
  if (DIR* listing = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(listing)) names.emplace_back(entry->d_name);
    closedir(listing);
  }
  EXPECT_THAT(names, ::testing::UnorderedElementsAre(".", "..", "SALES.db"));
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

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

// Either would hold the database locked after a kill for as long as the client stays idle.
TEST_F(StandinHardeningTest, NoConnectionHoldsALockThatAKillCannotEnd) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "PRAGMA locking_mode = EXCLUSIVE", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "PRAGMA main.locking_mode = exclusive;"), STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "PRAGMA journal_mode = DELETE", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(calls::Select(cursor, "PRAGMA journal_mode"),
            (std::vector<std::vector<std::string>>{{"wal"}}));
  EXPECT_EQ(calls::Select(cursor, "PRAGMA locking_mode"),
            (std::vector<std::vector<std::string>>{{"normal"}}));
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
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

// A second local user who may write to the folder of a backup or an unload swaps each draft, as
// soon as it appears, for a link to another of the victim's databases: no write reaches that
// database, and a call that reports success has put a real copy or script in place.
TEST_F(StandinHardeningTest, ASwappedDraftNeitherWritesThroughTheLinkNorIsPutInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  calls::Run(cursor, "INSERT INTO t VALUES('sales'), (randomblob(20000))");
  EXPECT_EQ(sqlwntm_CursorDisconnect(calls::NewDatabase("STOCK")), 0);
  const std::string victim = Path("srv/STOCK.db");
  const auto bytesOf = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  };
  const std::string victimBefore = bytesOf(victim);
  ASSERT_FALSE(victimBefore.empty());
  // Open to everyone, without a sticky bit, and outside the private scratch root; the second
  // user goes, and the folder with it, however the test ends.
  struct SecondUser {
    std::string folder;
    pid_t pid = -1;
    ~SecondUser() {
      if (pid > 0) kill(pid, SIGKILL);
      if (pid > 0) waitpid(pid, nullptr, 0);
      if (!folder.empty()) std::filesystem::remove_all(folder);
    }
  } racer;
  char pattern[] = "/tmp/quillet-shared-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  racer.folder = pattern;
  const std::string shared = racer.folder;
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  racer.pid = fork();
  if (racer.pid == 0) {
    close(ready[0]);
    const char started = setgid(65534) == 0 && setuid(65534) == 0 ? 'y' : 'n';
    if (write(ready[1], &started, 1) != 1 || started != 'y') _exit(1);
    // Told of each new name in the folder as it appears, so as to swap it at once.
    const int events = inotify_init1(IN_CLOEXEC);
    if (events < 0 || inotify_add_watch(events, shared.c_str(), IN_CREATE) < 0) _exit(1);
    alarm(60);
    const std::string swap = shared + "/.swap";
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(events, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        at += sizeof(inotify_event) + event->len;
        if (event->len == 0 || std::strstr(event->name, ".standin-draft-") == nullptr) continue;
        unlink(swap.c_str());
        if (symlink(victim.c_str(), swap.c_str()) == 0) {
          rename(swap.c_str(), (shared + "/" + event->name).c_str());
        }
      }
    }
    _exit(0);
  }
  close(ready[1]);
  char started = 0;
  ASSERT_EQ(read(ready[0], &started, 1), 1);
  close(ready[0]);
  ASSERT_EQ(started, 'y');

  const auto isRegularFile = [](const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  };
  const uint16_t server = calls::Server();
  for (int round = 0; round < 30; ++round) {
    const int16_t code = sqlwntm_BackupSnapShot(server, "SALES", 0, shared.c_str(), 0, 1, 1);
    EXPECT_TRUE(code == 0 || code == STANDIN_FILE_ERROR) << code;
    if (code != 0) continue;
    const std::string copy = shared + "/SALES.db";
    if (!isRegularFile(copy)) {
      ADD_FAILURE() << "round " << round << ": the backup reported 0 is no file of its own";
      continue;
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;
    sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr);
    sqlite3_prepare_v2(db, "SELECT a FROM t WHERE rowid = 1", -1, &select, nullptr);
    EXPECT_EQ(sqlite3_step(select), SQLITE_ROW) << "round " << round;
    const unsigned char* first = sqlite3_column_text(select, 0);
    EXPECT_STREQ(first == nullptr ? "" : reinterpret_cast<const char*>(first), "sales");
    sqlite3_finalize(select);
    sqlite3_close(db);
  }
  const uint16_t reader = calls::Cursor("SALES/SYSADM/SYSADM");
  const std::string script = shared + "/sales.sql";
  for (int round = 0; round < 30; ++round) {
    const int16_t code = sqlwntm_Unload(reader, ("UNLOAD SQL " + script).c_str(), 0);
    EXPECT_TRUE(code == 0 || code == STANDIN_FILE_ERROR) << code;
    if (code != 0) continue;
    EXPECT_TRUE(isRegularFile(script)) << "round " << round;
    EXPECT_EQ(bytesOf(script).rfind("-- Unloaded database", 0), 0u) << "round " << round;
  }
  kill(racer.pid, SIGKILL);
  waitpid(racer.pid, nullptr, 0);
  racer.pid = -1;
  EXPECT_TRUE(bytesOf(victim) == victimBefore) << "the database behind the link was written";
  EXPECT_FALSE(Exists(victim + "-wal"));
  EXPECT_FALSE(Exists(victim + "-journal"));
  EXPECT_EQ(sqlwntm_CursorDisconnect(reader), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
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

TEST_F(StandinHardeningTest, NoMoreDatabasesThanTheNamesListHolds) {
  const uint16_t server = calls::Server();
  // 113 names of 8 characters take 113 * 9 + 1 = 1018 bytes of the 1024.
  for (int i = 0; i < 113; ++i) {
    char name[9];
    std::snprintf(name, sizeof name, "DB%06d", i);
    ASSERT_EQ(sqlwntm_CreateDatabase(server, name, 0), 0) << name;
  }
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "DB999999", 0), STANDIN_TOO_MANY_DATABASES);
  EXPECT_FALSE(Exists(Path("srv/DB999999.db")));
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "ABCD", 0), 0);  // 1023 bytes
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "A", 0), STANDIN_TOO_MANY_DATABASES);
  EXPECT_EQ(calls::DatabaseNames().size(), 114u);  // the whole list, in 1024 bytes
  EXPECT_EQ(sqlwntm_DeinstallDatabase(server, "DB000000", 0), 0);
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "DB999999", 0), 0);
  EXPECT_EQ(sqlwntm_DeinstallDatabase(server, "DB999999", 0), 0);
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "DB888888", 0), 0);
  EXPECT_EQ(sqlwntm_InstallDatabase(server, "DB999999", 0), STANDIN_TOO_MANY_DATABASES);
  EXPECT_NE(standin_code_text(STANDIN_TOO_MANY_DATABASES), nullptr);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

}  // namespace
