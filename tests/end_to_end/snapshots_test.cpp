// Snapshots that open as databases and hold the rows, taken while others are connected.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "end_to_end_test.h"
#include "held_connection.h"

namespace {

using SnapshotsEndToEndTest = EndToEndTest;

constexpr const char* kRows = "SELECT * FROM t ORDER BY 1";

TEST_F(SnapshotsEndToEndTest, ASnapshotOpensAndHoldsTheSameRows) {
  CreateFilled("SALES", "CREATE TABLE t(a, b); INSERT INTO t VALUES(1, 'one'), (2, 'two');");
  HeldConnection held("SALES");
  ASSERT_TRUE(held.Connected());
  const std::string folder = Path("snap");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  EXPECT_EQ(SnapShot(0, "srv", "pw", "SALES", folder.c_str()), 0);
  EXPECT_EQ(RowsOf(folder + "/SALES.db", kRows), RowsOf(DatabaseFile("SALES"), kRows));
  EXPECT_EQ(SnapShot(1, "srv", "pw", "NOSUCH", folder.c_str()), STANDIN_NO_SUCH_DATABASE);
  EXPECT_EQ(SnapShot(1, "srv", "pw", "SALES", Path("missing").c_str()), STANDIN_FILE_ERROR);
}

TEST_F(SnapshotsEndToEndTest, AllSnapShotCopiesEveryDatabaseIntoAFolderOfItsOwn) {
  CreateFilled("SALES", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  CreateFilled("STOCK", "CREATE TABLE t(a); INSERT INTO t VALUES(2), (3);");
  const std::string root = Path("all");
  ASSERT_TRUE(std::filesystem::create_directory(root));
  ASSERT_TRUE(std::filesystem::create_directory(root + "/SALES"));
  WriteFile(root + "/SALES/old.txt", "from an earlier snapshot");

  const mode_t umaskBefore = umask(0);
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 0);
  umask(umaskBefore);
  EXPECT_FALSE(Exists(root + "/SALES/old.txt"));
  // The user's alone, whatever the umask.
  struct stat folder {};
  struct stat copy {};
  ASSERT_EQ(stat((root + "/STOCK").c_str(), &folder), 0);
  ASSERT_EQ(stat((root + "/STOCK/STOCK.db").c_str(), &copy), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0700u);
  EXPECT_EQ(copy.st_mode & 07777, 0600u);
  EXPECT_EQ(RowsOf(root + "/SALES/SALES.db", kRows), (Rows{{"1"}}));
  EXPECT_EQ(RowsOf(root + "/STOCK/STOCK.db", kRows), (Rows{{"2"}, {"3"}}));
}

// Two runs into one root at once go one after the other: neither empties the other's backups.
TEST_F(SnapshotsEndToEndTest, RacedRunsIntoOneRootLoseNoBackup) {
  CreateFilled("SALES", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  CreateFilled("STOCK", "CREATE TABLE t(a); INSERT INTO t VALUES(2), (3);");
  const std::string root = Path("raced");
  ASSERT_TRUE(std::filesystem::create_directory(root));
  for (int round = 0; round < 10; ++round) {
    int32_t results[2] = {-1, -1};
    std::thread other([&] { results[1] = AllSnapShot("srv", "pw", root.c_str()); });
    results[0] = AllSnapShot("srv", "pw", root.c_str());
    other.join();
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(RowsOf(root + "/SALES/SALES.db", kRows), (Rows{{"1"}})) << "round " << round;
    EXPECT_EQ(RowsOf(root + "/STOCK/STOCK.db", kRows), (Rows{{"2"}, {"3"}})) << "round " << round;
  }
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    entries.push_back(entry.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{".quillet.lock", "SALES", "STOCK"}));
}

// However the root is spelled, a snapshot neither empties nor writes into the stand-in's
// folders; there a database named like the server would have the server's folder emptied.
TEST_F(SnapshotsEndToEndTest, NoSpellingOfTheServersFoldersLetsASnapshotIn) {
  CreateFilled("srv", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  std::filesystem::create_directory_symlink(root_ + "/srv", Path("link"));
  const auto listing = [this] {
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
      entries.push_back(entry.path().string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  };
  const std::vector<std::string> before = listing();
  std::string backslashed = root_;
  backslashed[backslashed.rfind('/')] = '\\';
  for (const std::string& spelled :
       {backslashed, root_ + "/srv/..", root_ + "\\srv", Path("link"), root_ + "\\", root_ + "/"}) {
    EXPECT_EQ(AllSnapShot("srv", "pw", spelled.c_str()), STANDIN_FILE_ERROR) << spelled;
  }
  EXPECT_EQ(listing(), before);
  EXPECT_EQ(RowsOf(DatabaseFile("srv"), kRows), (Rows{{"1"}}));
}

}  // namespace
