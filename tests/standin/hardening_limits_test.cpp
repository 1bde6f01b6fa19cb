// The stand-in at the edge of its resources: a file size limit reached inside a backup, and the
// most databases the names list can carry.
#include <dirent.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "hardening_fixture.h"

namespace {

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
