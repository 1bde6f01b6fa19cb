// The stand-in against a second local account and a careless operator: the modes of what it
// writes, folders others may write to, the server folder as a target, and links swapped in.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hardening_fixture.h"

namespace {

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

}  // namespace
