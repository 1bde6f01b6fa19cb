// The stand-in's servers, catalogue and connection registry, called directly.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "held_connection.h"
#include "scratch_root.h"
#include "standin_calls.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using StandinServerTest = ScratchRootTest;

// The lowest descriptor of this process that watches a running process (its information has
// a "Pid:" line with a process id; one that ended reads -1), or -1.
int WatchOfARunningProcess() {
  for (int descriptor = 3; descriptor < 1024; ++descriptor) {
    std::ifstream information("/proc/self/fdinfo/" + std::to_string(descriptor));
    std::string line;
    while (std::getline(information, line)) {
      if (line.rfind("Pid:", 0) == 0 && std::atoi(line.c_str() + 4) > 0) return descriptor;
    }
  }
  return -1;
}

TEST_F(StandinServerTest, ConnectingNeedsAnExistingRunningServerAndItsPassword) {
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_Connect(&handle, "nosuch", "pw"), STANDIN_NO_SUCH_SERVER);
  EXPECT_EQ(sqlwntm_Connect(&handle, "../srv", "pw"), STANDIN_NO_SUCH_SERVER);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "PW"), STANDIN_BAD_PASSWORD);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", nullptr), STANDIN_BAD_PASSWORD);
  EXPECT_EQ(standin_server_create("srv", "other"), STANDIN_SERVER_EXISTS);
  EXPECT_EQ(standin_server_create("a/b", "pw"), STANDIN_BAD_NAME);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "pw"), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), STANDIN_BAD_HANDLE);
}

TEST_F(StandinServerTest, ATerminatedServerRefusesEverythingUntilStartedAgain) {
  const uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  const uint16_t cursor = calls::Cursor("SALES/SYSADM/SYSADM");
  EXPECT_EQ(sqlwntm_TerminateServer(server), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);

  int32_t running = -1;
  EXPECT_EQ(standin_server_state("srv", &running), 0);
  EXPECT_EQ(running, 0);
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "pw"), STANDIN_SERVER_TERMINATED);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/SYSADM", 0), STANDIN_SERVER_TERMINATED);
  char list[1024];
  EXPECT_EQ(sqlwntm_GetDatabaseNames("srv", list, sizeof list), STANDIN_SERVER_TERMINATED);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "SELECT 1", 0), STANDIN_SERVER_TERMINATED);

  EXPECT_EQ(standin_server_start("srv"), 0);
  EXPECT_EQ(standin_server_state("srv", &running), 0);
  EXPECT_EQ(running, 1);
  // The connection from before the stop stays gone.
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "SELECT 1", 0), STANDIN_SERVER_TERMINATED);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), STANDIN_SERVER_TERMINATED);
  EXPECT_EQ(sqlwntm_CursorDisconnect(calls::Cursor("SALES/SYSADM/SYSADM")), 0);
}

TEST_F(StandinServerTest, DatabasesAreCreatedDroppedInstalledAndDeinstalledAsFiles) {
  const uint16_t server = calls::Server();
  const std::string sales = Path("srv/SALES.db");
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "STOCK", 0), 0);
  EXPECT_TRUE(Exists(sales));
  EXPECT_THAT(calls::DatabaseNames(), ElementsAre("SALES", "STOCK"));
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), STANDIN_DATABASE_EXISTS);
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "TOO_LONG9", 0), STANDIN_BAD_NAME);
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "../x", 0), STANDIN_BAD_NAME);

  EXPECT_EQ(sqlwntm_DeinstallDatabase(server, "SALES", 0), 0);
  EXPECT_TRUE(Exists(sales));
  EXPECT_THAT(calls::DatabaseNames(), ElementsAre("STOCK"));
  EXPECT_EQ(sqlwntm_DeinstallDatabase(server, "SALES", 0), STANDIN_NO_SUCH_DATABASE);
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0),
            STANDIN_DATABASE_EXISTS);  // its file is there
  EXPECT_EQ(sqlwntm_InstallDatabase(server, "SALES", 0), 0);
  EXPECT_EQ(sqlwntm_InstallDatabase(server, "SALES", 0), STANDIN_DATABASE_EXISTS);
  EXPECT_EQ(sqlwntm_InstallDatabase(server, "NOFILE", 0), STANDIN_NO_SUCH_DATABASE);
  std::ofstream(Path("srv/JUNK.db")) << "not a database at all, just some text to refuse";
  EXPECT_EQ(sqlwntm_InstallDatabase(server, "JUNK", 0), STANDIN_NOT_A_DATABASE);

  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), 0);
  EXPECT_FALSE(Exists(sales));
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), STANDIN_NO_SUCH_DATABASE);
  EXPECT_THAT(calls::DatabaseNames(), ElementsAre("STOCK"));
  sqlwntm_Disconnect(server);
}

TEST_F(StandinServerTest, ADatabaseInUseIsNeitherDroppedNorDeinstalled) {
  const uint16_t server = calls::Server();
  const uint16_t cursor = calls::NewDatabase("SALES");
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), STANDIN_DATABASE_IN_USE);
  EXPECT_EQ(sqlwntm_DeinstallDatabase(server, "SALES", 0), STANDIN_DATABASE_IN_USE);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), 0);
  sqlwntm_Disconnect(server);
}

TEST_F(StandinServerTest, TheDatabaseListNeedsRoomForItsClosingEmptyName) {
  const uint16_t server = calls::Server();
  EXPECT_THAT(calls::DatabaseNames(), IsEmpty());
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "AB", 0), 0);
  char list[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(sqlwntm_GetDatabaseNames("srv", list, 3), STANDIN_BUFFER_TOO_SMALL);
  EXPECT_EQ(sqlwntm_GetDatabaseNames("srv", list, 4), 0);
  EXPECT_EQ(std::string(list, 4), std::string("AB\0\0", 4));
  sqlwntm_Disconnect(server);
}

TEST_F(StandinServerTest, ActiveCursorsListEveryConnectionAndTheServerInTheReplyLayout) {
  const uint16_t server = calls::Server();
  const uint16_t first = calls::NewDatabase("SALES");
  const uint16_t second = calls::Cursor("SALES/sysadm/SYSADM");
  const std::vector<calls::Record> records = calls::ActiveCursors(server);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].process, 1);
  EXPECT_EQ(records[0].program, "SQLBase");
  std::set<int> processes;
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(records[i].user, "SYSADM");
    EXPECT_EQ(records[i].database, "SALES");
    EXPECT_EQ(records[i].program, "standin_tests");
    EXPECT_GE(records[i].process, 2);
    processes.insert(records[i].process);
  }
  EXPECT_EQ(processes.size(), 2u);
  unsigned char small[100];
  int32_t length = 0;
  EXPECT_EQ(sqlwntm_GetActiveCursors(server, sqlwntm::active_cursors::kRequestAll, small,
                                     sizeof small, &length),
            STANDIN_BUFFER_TOO_SMALL);
  EXPECT_EQ(sqlwntm_GetActiveCursors(server, 0, small, sizeof small, &length),
            STANDIN_BAD_PARAMETER);
  sqlwntm_CursorDisconnect(first);
  sqlwntm_CursorDisconnect(second);
  EXPECT_EQ(calls::ActiveCursors(server).size(), 1u);
  sqlwntm_Disconnect(server);
}

TEST_F(StandinServerTest, AKilledConnectionFailsAtItsNextCallAndIsGoneFromTheList) {
  const uint16_t server = calls::Server();
  const uint16_t victim = calls::NewDatabase("SALES");
  const uint16_t bystander = calls::Cursor("SALES/SYSADM/SYSADM");
  calls::Run(victim, "CREATE TABLE t(a)");
  const int process = calls::ActiveCursors(server)[1].process;

  EXPECT_EQ(sqlwntm_KillConnection(server, process), 0);
  EXPECT_EQ(calls::ActiveCursors(server).size(), 2u);
  EXPECT_EQ(sqlwntm_CompileAndExecute(victim, "SELECT 1", 0), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(sqlwntm_Next(victim), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(sqlwntm_CursorDisconnect(victim), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(sqlwntm_KillConnection(server, process), STANDIN_NO_SUCH_PROCESS);
  EXPECT_EQ(sqlwntm_KillConnection(server, 0), STANDIN_NO_SUCH_PROCESS);
  EXPECT_EQ(sqlwntm_KillConnection(server, 999), STANDIN_NO_SUCH_PROCESS);
  EXPECT_EQ(sqlwntm_KillConnection(server, 1), STANDIN_SERVER_PROCESS);
  calls::Run(bystander, "SELECT 1");
  // Disconnecting is a call like any other.
  EXPECT_EQ(sqlwntm_KillConnection(server, calls::ActiveCursors(server)[1].process), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(bystander), STANDIN_CONNECTION_KILLED);
  sqlwntm_Disconnect(server);
}

TEST_F(StandinServerTest, ConnectionsOfAnotherProcessAreListedKilledAndForgottenWhenItCrashes) {
  const uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  HeldConnection held("SALES");
  ASSERT_TRUE(held.Connected());
  std::vector<calls::Record> records = calls::ActiveCursors(server);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].program, "hold-connection");
  EXPECT_EQ(sqlwntm_KillConnection(server, records[1].process), 0);
  EXPECT_EQ(held.EndingCode(), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(held.Wait(), 0);

  HeldConnection crashing("SALES");
  ASSERT_TRUE(crashing.Connected());
  EXPECT_EQ(calls::ActiveCursors(server).size(), 2u);
  // A host that closes a descriptor it does not own (the stand-in's watch of that process),
  // whose next file takes the number, still sees the process's connection, and keeps its file.
  const int descriptor = WatchOfARunningProcess();
  ASSERT_GE(descriptor, 0);
  close(descriptor);
  const int file = open(Path("host-file").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  EXPECT_EQ(file, descriptor);
  EXPECT_EQ(calls::ActiveCursors(server).size(), 2u);
  EXPECT_EQ(fcntl(file, F_GETFD), FD_CLOEXEC);
  close(file);
  EXPECT_EQ(calls::ActiveCursors(server).size(), 2u);
  crashing.Crash();
  EXPECT_EQ(calls::ActiveCursors(server).size(), 1u);
  EXPECT_EQ(sqlwntm_DropDatabase(server, "SALES", 0), 0);
  sqlwntm_Disconnect(server);
}

TEST_F(StandinServerTest, TheCataloguesLogStaysSmallWhileAConnectionIsHeld) {
  const uint16_t held = calls::NewDatabase("SALES");
  for (int i = 0; i < 300; ++i) sqlwntm_CursorDisconnect(calls::Cursor("SALES/SYSADM/SYSADM"));
  struct stat log {};
  ASSERT_EQ(stat(Path("srv/standin.catalogue-wal").c_str(), &log), 0);
  EXPECT_LE(log.st_size, 512 * 1024);
  sqlwntm_CursorDisconnect(held);
}

TEST_F(StandinServerTest, ParallelProcessesShareTheCatalogueAndTheProcessNumbers) {
  constexpr int kChildren = 4;
  constexpr int kRounds = 6;
  pid_t children[kChildren];
  for (int child = 0; child < kChildren; ++child) {
    children[child] = fork();
    if (children[child] == 0) {
      int failures = 0;
      for (int round = 0; round < kRounds; ++round) {
        const std::string name = "D" + std::to_string(child) + "_" + std::to_string(round);
        uint16_t server = 0;
        uint16_t cursor = 0;
        failures += sqlwntm_Connect(&server, "srv", "pw") != 0;
        failures += sqlwntm_CreateDatabase(server, name.c_str(), 0) != 0;
        failures += sqlwntm_CursorConnect(&cursor, (name + "/SYSADM/SYSADM").c_str(), 0) != 0;
        failures += sqlwntm_CompileAndExecute(cursor, "CREATE TABLE t(a)", 0) != 0;
        failures += sqlwntm_CursorDisconnect(cursor) != 0;
        failures += sqlwntm_Disconnect(server) != 0;
      }
      _exit(failures == 0 ? 0 : 1);
    }
  }
  for (const pid_t child : children) {
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(calls::DatabaseNames().size(), static_cast<std::size_t>(kChildren * kRounds));
}

TEST_F(StandinServerTest, ABackupIsAConsistentCopyTakenWhileOthersWrite) {
  const uint16_t server = calls::Server();
  const uint16_t writer = calls::NewDatabase("SALES");
  calls::Run(writer, "CREATE TABLE t(a)");
  calls::Run(writer, "INSERT INTO t VALUES(1), (2)");
  calls::Run(writer, "LOCK DATABASE ");
  calls::Run(writer, "INSERT INTO t VALUES(3)");

  const std::string folder = Path("snap");
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1),
            STANDIN_FILE_ERROR);
  std::filesystem::create_directory(folder);
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "SALES", 0, folder.c_str(), 0, 1, 1), 0);
  EXPECT_EQ(sqlwntm_BackupSnapShot(server, "NOSUCH", 0, folder.c_str(), 0, 1, 1),
            STANDIN_NO_SUCH_DATABASE);
  EXPECT_THAT(std::vector<std::filesystem::path>(std::filesystem::directory_iterator(folder),
                                                 std::filesystem::directory_iterator()),
              ElementsAre(folder + "/SALES.db"));

  sqlite3* copy = nullptr;
  ASSERT_EQ(sqlite3_open_v2((folder + "/SALES.db").c_str(), &copy, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* count = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(copy, "SELECT count(*) FROM t", -1, &count, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(count, 0), 2);  // the uncommitted row is not in it
  sqlite3_finalize(count);
  sqlite3_close(copy);
  sqlwntm_CursorDisconnect(writer);
  sqlwntm_Disconnect(server);
}

TEST_F(StandinServerTest, EveryCodeHasAText) {
  for (const int32_t code : {STANDIN_NO_SUCH_SERVER,
                             STANDIN_SERVER_TERMINATED,
                             STANDIN_BAD_PASSWORD,
                             STANDIN_SERVER_EXISTS,
                             STANDIN_BAD_NAME,
                             STANDIN_DATABASE_EXISTS,
                             STANDIN_NO_SUCH_DATABASE,
                             STANDIN_DATABASE_IN_USE,
                             STANDIN_NOT_A_DATABASE,
                             STANDIN_AMBIGUOUS_DATABASE,
                             STANDIN_DATABASE_LOCKED,
                             STANDIN_BAD_LOGIN,
                             STANDIN_BAD_CONNECT_STRING,
                             STANDIN_TOO_MANY_CONNECTIONS,
                             STANDIN_CONNECTION_KILLED,
                             STANDIN_BAD_HANDLE,
                             STANDIN_BAD_PARAMETER,
                             STANDIN_SQL_ERROR,
                             STANDIN_NO_STATEMENT,
                             STANDIN_BAD_COLUMN,
                             STANDIN_BAD_COMMAND,
                             STANDIN_FILE_ERROR,
                             STANDIN_BUFFER_TOO_SMALL,
                             STANDIN_LOG_IN_USE,
                             STANDIN_SERVER_PROCESS,
                             STANDIN_CATALOGUE_ERROR,
                             STANDIN_NO_SUCH_PROCESS,
                             -1,
                             -30001,
                             -30002}) {
    EXPECT_NE(standin_code_text(code), nullptr) << code;
  }
  EXPECT_EQ(standin_code_text(0), nullptr);
  EXPECT_EQ(standin_code_text(4711), nullptr);
}

}  // namespace
