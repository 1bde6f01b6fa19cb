#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "fake_client_test.h"
#include "quillet.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

// Every test works in a real temporary directory of its own; the root is its subdirectory
// "root". On Windows the directory work goes through the system's own calls.
class SnapshotTest : public FakeClientTest {
 protected:
  void SetUp() override {
    FakeClientTest::SetUp();
    std::random_device random;
    fs::path directory;
    do {
      directory = fs::temp_directory_path() / ("quillet-snapshots-" + std::to_string(random()));
    } while (!fs::create_directory(directory));
    base = directory.string();
    root = base + "/root";
    fs::create_directory(root);
  }
  void TearDown() override {
    // Windows deletes no read-only file.
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(base, ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(base, ignored);
  }

  void File(const std::string& path, bool readOnly = false) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "old";
    if (readOnly) {
      fs::permissions(path,
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
    }
  }
  static std::vector<std::string> Entries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  // A symbolic link to a directory, as a hostile user of the machine would plant it; false where
  // the system makes none (Wine only pretends to).
  static bool DirectoryLink(const std::string& target, const std::string& link) {
#if defined(_WIN32)
    const DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    std::string windowsTarget = target;
    std::replace(windowsTarget.begin(), windowsTarget.end(), '/', '\\');
    CreateSymbolicLinkA(link.c_str(), windowsTarget.c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | kUnprivileged);
    const DWORD attributes = GetFileAttributesA(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
    fs::create_directory_symlink(target, link);
    return true;
#endif
  }
  static std::string Backup(const std::string& name, const std::string& directory) {
    return "BackupSnapShot(7," + name + ",0," + directory + ",0,1,1)";
  }

  std::string base;
  std::string root;
};

TEST_F(SnapshotTest, ServerWithoutDatabasesTouchesNoDirectory) {
  File(root + "/a/kept");
  fake::SetDatabaseList(std::string("\0", 1));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 0);
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,srv,pw)", "GetDatabaseNames(srv,&,1024)", "Disconnect(7)"));
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("kept"));
}

TEST_F(SnapshotTest, ReplacesEachDirectoryJustAfterItsBackupAndReturnsTheLastFailure) {
  for (const char* name : {"a", "b", "c"}) File(root + "/" + name + "/old");
  fake::SetDatabaseList(std::string("a\0b\0c\0\0", 7));
  fake::Returns(sqlwntm::BackupSnapShot, {-5, 0, 812});
  std::vector<bool> secondDirectoryStillFull;
  fake::OnCall(sqlwntm::BackupSnapShot,
               [&] { secondDirectoryStillFull.push_back(fs::exists(root + "/b/old")); });
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 812);
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,srv,pw)", "GetDatabaseNames(srv,&,1024)",
                          Backup("a", root + "\\a.partial"), Backup("b", root + "\\b.partial"),
                          Backup("c", root + "\\c.partial"), "Disconnect(7)"));
  EXPECT_THAT(secondDirectoryStillFull, ElementsAre(true, true, false));
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("old")) << "its backup failed";
  EXPECT_THAT(Entries(root + "/b"), IsEmpty());
  EXPECT_THAT(Entries(root + "/c"), ElementsAre("old"));
  EXPECT_THAT(Entries(root), UnorderedElementsAre("a", "b", "c", ".quillet.lock"));

  fake::Reset();
  fake::SetDatabaseList(std::string("a\0b\0c\0\0", 7));
  fake::Returns(sqlwntm::BackupSnapShot, {-5});
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), -5) << "a later success does not clear it";
}

// A backup is made beside the previous one and takes its place only once it succeeded: a full
// disk, or any other failure, leaves the previous backup whole. A crashed run's leftover is
// emptied first, and a database named like such a directory is skipped.
TEST_F(SnapshotTest, OnlyASuccessfulBackupReplacesThePreviousOne) {
  for (const char* name : {"a", "b"}) File(root + "/" + name + "/old");
  File(root + "/b.partial/stale");
  fake::SetDatabaseList(std::string("a.Partial\0a\0b\0\0", 15));
  fake::Returns(sqlwntm::BackupSnapShot, {-5, 0});
  std::string written = "ab";
  fake::OnCall(sqlwntm::BackupSnapShot, [&] {
    std::ofstream(root + "/" + written.front() + ".partial/db") << "new";
    written.erase(0, 1);
  });
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), -5);
  EXPECT_THAT(fake::Calls(), ElementsAre("Connect(&,srv,pw)", "GetDatabaseNames(srv,&,1024)",
                                         Backup("a", root + "\\a.partial"),
                                         Backup("b", root + "\\b.partial"), "Disconnect(7)"));
  EXPECT_THAT(Entries(root), UnorderedElementsAre("a", "b", ".quillet.lock"));
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("old"));
  EXPECT_THAT(Entries(root + "/b"), ElementsAre("db"));
}

TEST_F(SnapshotTest, FailedConnectOrListTouchesNoDirectory) {
  File(root + "/a/kept");
  fake::SetDatabaseList(std::string("a\0\0", 3));
  fake::Returns(sqlwntm::Connect, {401});
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 401);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect));
  fake::Reset();
  fake::Returns(sqlwntm::GetDatabaseNames, {-7});
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), -7);
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::Connect, sqlwntm::GetDatabaseNames, sqlwntm::Disconnect));
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("kept"));
}

TEST_F(SnapshotTest, RootEndingInABackslashGivesADoubledSeparator) {
  fake::SetDatabaseList(std::string("a\0\0", 3));
  EXPECT_EQ(AllSnapShot("srv", "pw", (root + "\\").c_str()), 0);
  EXPECT_EQ(fake::Calls()[2], Backup("a", root + "\\\\a.partial"));
  EXPECT_TRUE(fs::is_directory(root + "/a"));
}

// What cannot be deleted stays in the previous backup's directory, which then stands in the way
// of the next replacement: that run keeps the backup in place and fails rather than merge.
TEST_F(SnapshotTest, WhatCannotBeDeletedStaysAndBlocksTheNextReplacement) {
  File(root + "/a/one");
  File(root + "/a/two");
  File(root + "/a/read-only", true);
  File(root + "/a/sub/inner");
  fake::SetDatabaseList(std::string("a\0\0", 3));
  fake::OnCall(sqlwntm::BackupSnapShot, [&] { std::ofstream(root + "/a.partial/db") << "new"; });
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 0);
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("db"));
  EXPECT_THAT(Entries(root + "/a.prior"), UnorderedElementsAre("read-only", "sub"));
  EXPECT_THAT(Entries(root + "/a.prior/sub"), ElementsAre("inner"));
  std::ofstream(root + "/a/db") << "kept";
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("db"));
  EXPECT_EQ(std::ifstream(root + "/a/db").rdbuf()->sgetc(), 'k');
}

TEST_F(SnapshotTest, MissingDirectoryIsCreatedOneLevelAndAMissingRootIsNot) {
  fake::SetDatabaseList(std::string("a\0\0", 3));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 0);
  EXPECT_TRUE(fs::is_directory(root + "/a"));
  const std::string missing = base + "/missing";
  EXPECT_EQ(AllSnapShot("srv", "pw", missing.c_str()), 0);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(fake::Calls().back(), "Disconnect(7)");
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 2) << "the backup is attempted all the same";
}

TEST_F(SnapshotTest, SnapShotHandsTheFlagOnAndTouchesNoDirectory) {
  File(root + "/old");
  const std::string missing = base + "/missing";
  EXPECT_EQ(SnapShot(0, "srv", "pw", "db", root.c_str()), 0);
  fake::Returns(sqlwntm::BackupSnapShot, {-3});
  EXPECT_EQ(SnapShot(1, "srv", "pw", "db", missing.c_str()), -3);
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,srv,pw)", "BackupSnapShot(7,db,0," + root + ",0,0,1)",
                          "Disconnect(7)", "Connect(&,srv,pw)",
                          "BackupSnapShot(7,db,0," + missing + ",0,1,1)", "Disconnect(7)"));
  EXPECT_THAT(Entries(root), ElementsAre("old"));
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(SnapshotTest, SnapShotPassesItsTextsUnchangedNullIncluded) {
  EXPECT_EQ(SnapShot(7, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,<null>,<null>)", "BackupSnapShot(7,<null>,0,<null>,0,7,1)",
                          "Disconnect(7)"));
  fake::Reset();
  fake::Returns(sqlwntm::Connect, {401});
  EXPECT_EQ(SnapShot(1, "srv", "pw", "db", "dir"), 401);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect));
}

// An empty root would make "\STOCK" of a database STOCK: the top of the current drive.
TEST_F(SnapshotTest, NullOrEmptyRootIsRefusedBeforeAnyCall) {
  fake::SetDatabaseList(std::string("a\0\0", 3));
  EXPECT_EQ(AllSnapShot("srv", "pw", nullptr), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(AllSnapShot("srv", "pw", ""), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

// Windows opens a device for these names in any folder, so they are skipped everywhere; names
// that merely begin like one are not devices.
TEST_F(SnapshotTest, DeviceNamesGetNoDirectoryWorkAndNoBackupOnEveryPlatform) {
  const std::vector<std::string> devices = {"NUL",     "con.txt",  "Com1",    "LPT9.db", "aux",
                                            "prn.x.y", "nul .txt", "COM\xB9", "lpt0"};
  const std::vector<std::string> plain = {"CONSOLE", "com10", "LPT", "nul_", "xcon"};
  std::string list;
  for (const auto& name : devices) list += name + '\0';
  for (const auto& name : plain) list += name + '\0';
  fake::SetDatabaseList(list + '\0');
  fake::Returns(sqlwntm::BackupSnapShot, {0, 0, 0, 0, 0});
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  std::vector<std::string> backups;
  for (const auto& name : plain) backups.push_back(Backup(name, root + "\\" + name + ".partial"));
  const std::vector<std::string> calls = fake::Calls();
  EXPECT_EQ(std::vector<std::string>(calls.begin() + 2, calls.end() - 1), backups);
  EXPECT_THAT(Entries(root),
              UnorderedElementsAre("CONSOLE", "com10", "LPT", "nul_", "xcon", ".quillet.lock"));

  fake::Reset();
  fake::SetDatabaseList(std::string("NUL\0\0", 5));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT)
      << "a backup into NUL would be discarded while reporting success";
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::Connect, sqlwntm::GetDatabaseNames, sqlwntm::Disconnect));
}

TEST_F(SnapshotTest, NamesThatWouldLeaveTheRootGetNoDirectoryWorkAndNoBackup) {
  File(base + "/outside");
  File(root + "/inside");
  File(root + "/ok/old");
  fake::SetDatabaseList(std::string("..\0.\0...\0a/b\0c\\d\0e:f\0g \0ok\0\0", 29));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect, sqlwntm::GetDatabaseNames,
                                               sqlwntm::BackupSnapShot, sqlwntm::Disconnect));
  EXPECT_EQ(fake::Calls()[2], Backup("ok", root + "\\ok.partial"));
  EXPECT_THAT(Entries(root + "/ok"), IsEmpty());
  EXPECT_TRUE(fs::exists(base + "/outside"));
  EXPECT_TRUE(fs::exists(root + "/inside"));

  fake::Reset();
  fake::SetDatabaseList(std::string("..\0ok\0\0", 7));
  fake::Returns(sqlwntm::BackupSnapShot, {55});
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 55) << "a later failure replaces it";
}

// A link planted in a database's place must not have its target emptied nor backed up into;
// the other databases are still backed up.
TEST_F(SnapshotTest, PlantedLinkIsNeitherEmptiedNorBackedUpInto) {
  File(base + "/elsewhere/precious");
  if (!DirectoryLink(base + "/elsewhere", root + "/STOCK")) {
    GTEST_SKIP() << "this system makes no directory links for the test";
  }
  File(root + "/ok/old");
  fake::SetDatabaseList(std::string("STOCK\0ok\0\0", 10));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), ElementsAre("Connect(&,srv,pw)", "GetDatabaseNames(srv,&,1024)",
                                         Backup("ok", root + "\\ok.partial"), "Disconnect(7)"));
  EXPECT_THAT(Entries(base + "/elsewhere"), ElementsAre("precious"));
  EXPECT_THAT(Entries(root + "/ok"), IsEmpty());
}

#if !defined(_WIN32)
// Links inside a snapshot directory are deleted as links, their targets untouched. A link to a
// file, or one whose target is gone, is no directory to back up into either.
TEST_F(SnapshotTest, OtherLinksAreNeverFollowed) {
  File(base + "/target/kept");
  File(root + "/ok/old");
  fs::create_symlink(base + "/target/kept", root + "/ok/file-link");
  fs::create_directory_symlink(base + "/target", root + "/ok/directory-link");
  fake::SetDatabaseList(std::string("ok\0\0", 4));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 0);
  EXPECT_THAT(Entries(root + "/ok"), IsEmpty());
  EXPECT_THAT(Entries(base + "/target"), ElementsAre("kept"));

  fs::create_symlink(base + "/target/kept", root + "/STOCK");
  fs::remove(root + "/ok");
  fs::create_directory_symlink(base + "/gone", root + "/ok");
  fake::Reset();
  fake::SetDatabaseList(std::string("STOCK\0ok\0\0", 10));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::Connect, sqlwntm::GetDatabaseNames, sqlwntm::Disconnect));
  EXPECT_FALSE(fs::exists(base + "/gone"));
  EXPECT_THAT(Entries(base + "/target"), ElementsAre("kept"));
}
#endif

#if !defined(_WIN32)
// A found name that holds a separator would compose a path outside the directory (on Windows
// such names come from fullwidth characters read in the ANSI code page); it is left alone.
TEST_F(SnapshotTest, FoundNamesWithSeparatorsAreNotDeleted) {
  File(base + "/victim");
  File(root + "/STOCK/..\\..\\victim");
  File(root + "/STOCK/old");
  fake::SetDatabaseList(std::string("STOCK\0\0", 7));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 0);
  EXPECT_TRUE(fs::exists(base + "/victim"));
  EXPECT_THAT(Entries(root + "/STOCK.prior"), ElementsAre("..\\..\\victim"));
}
#endif

TEST_F(SnapshotTest, PathsBeyondTheirRoomAreNeverCut) {
  // root\name.partial with its search pattern "\*.*" must fit 259 characters: a name of 4
  // characters takes 259, one of 5 takes 260 (no room for the NUL).
  const std::string longRoot = root + "/" + std::string(242 - root.size() - 1, 'r');
  fs::create_directory(longRoot);
  fake::SetDatabaseList(std::string("nnnnn\0ssss\0\0", 12));
  EXPECT_EQ(AllSnapShot("srv", "pw", longRoot.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect, sqlwntm::GetDatabaseNames,
                                               sqlwntm::BackupSnapShot, sqlwntm::Disconnect));
  EXPECT_EQ(fake::Calls()[2], Backup("ssss", longRoot + "\\ssss.partial"));
  EXPECT_THAT(Entries(longRoot), UnorderedElementsAre("ssss", ".quillet.lock"));
}

TEST_F(SnapshotTest, ListWithoutItsClosingNameIsWalkedOnlyInsideItsArea) {
  File(root + "/a/old");
  // The area ends with the NUL of "last", leaving no room for the closing empty name.
  std::string list = std::string("a\0", 2) + std::string(QUILLET_DATABASE_LIST_SIZE - 8, 'x');
  list += std::string("\0last\0", 6);
  fake::SetDatabaseList(list);
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect, sqlwntm::GetDatabaseNames,
                                               sqlwntm::BackupSnapShot, sqlwntm::Disconnect));
  EXPECT_THAT(Entries(root), UnorderedElementsAre("a", ".quillet.lock"))
      << "the possibly cut name gets no directory";
}

// A run into a root that another run holds waits for it, touching nothing, and then goes on.
TEST_F(SnapshotTest, ASecondRunIntoTheRootWaitsForTheFirst) {
  File(root + "/a/old");
  const std::string lock = root + "/.quillet.lock";
#if defined(_WIN32)
  HANDLE held = CreateFileA(lock.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
  const int held = open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
#endif
  fake::SetDatabaseList(std::string("a\0\0", 3));
  std::atomic<bool> backedUp{false};
  fake::OnCall(sqlwntm::BackupSnapShot, [&] { backedUp = true; });
  int32_t result = -1;
  std::thread run([&] { result = AllSnapShot("srv", "pw", root.c_str()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(backedUp);
  EXPECT_FALSE(fs::exists(root + "/a.partial"));
#if defined(_WIN32)
  CloseHandle(held);
#else
  close(held);
#endif
  run.join();
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(backedUp);
  EXPECT_TRUE(fs::exists(lock)) << "removing it could let a third run in beside the second";
}

// Something that is no lockable file in the lock's place never lets a run go on unlocked, nor
// hangs it.
TEST_F(SnapshotTest, ALockThatIsNoFileCountsAsInUse) {
  fake::SetDatabaseList(std::string("a\0\0", 3));
  fs::create_directory(root + "/.quillet.lock");
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ROOT_IN_USE);
  fs::remove(root + "/.quillet.lock");
#if !defined(_WIN32)
  ASSERT_EQ(mkfifo((root + "/.quillet.lock").c_str(), 0600), 0);
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ROOT_IN_USE);
  fs::remove(root + "/.quillet.lock");
  fs::create_directory_symlink(base, root + "/.quillet.lock");
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ROOT_IN_USE);
#endif
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 0);
  EXPECT_FALSE(fs::exists(root + "/a.partial"));
}

#if !defined(_WIN32)
// A root given as a link is followed; links below it still are not.
TEST_F(SnapshotTest, ARootThatIsALinkGetsItsBackups) {
  File(root + "/a/old");
  fs::create_directory_symlink(root, base + "/link");
  fake::SetDatabaseList(std::string("a\0\0", 3));
  EXPECT_EQ(AllSnapShot("srv", "pw", (base + "/link").c_str()), 0);
  EXPECT_THAT(fake::Calls()[2], Backup("a", fs::canonical(root).string() + "\\a.partial"));
  EXPECT_THAT(Entries(root), UnorderedElementsAre("a", ".quillet.lock"));
}
#endif

// A file under a database's name, or under its .partial or .prior name, is someone's own: the
// database is skipped and the file stays where it is.
TEST_F(SnapshotTest, FilesUnderTheNamesAreSkippedAndKept) {
  File(root + "/a");
  File(root + "/b.partial");
  File(root + "/c.prior");
  fake::SetDatabaseList(std::string("a\0b\0c\0\0", 7));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 0);
  EXPECT_THAT(Entries(root), UnorderedElementsAre("a", "b.partial", "c.prior", ".quillet.lock"));
}

// A run stopped between its renames left the previous backup as name.prior: the next run gives
// it its name back even when its own backup fails, and removes a prior that was already replaced.
TEST_F(SnapshotTest, ARunStoppedBetweenItsRenamesLosesNoBackup) {
  File(root + "/a.prior/a.db");
  File(root + "/b/new.db");
  File(root + "/b.prior/old.db");
  fake::SetDatabaseList(std::string("a\0b\0c.Prior\0\0", 13));
  fake::Returns(sqlwntm::BackupSnapShot, {-5, -5});
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 2) << "c.Prior is skipped";
  EXPECT_THAT(Entries(root), UnorderedElementsAre("a", "b", ".quillet.lock"));
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("a.db"));
  EXPECT_THAT(Entries(root + "/b"), ElementsAre("new.db"));
}

// An empty directory made under the name after a run stopped is no backup: the prior gets its
// name back. A directory that holds only a folder is unclear: both stay and the name fails.
TEST_F(SnapshotTest, AnEmptyDirectoryBesideAPriorDoesNotCostTheBackup) {
  File(root + "/a.prior/a.db");
  fs::create_directory(root + "/a");
  File(root + "/b.prior/b.db");
  File(root + "/b/sub/x");
  fake::SetDatabaseList(std::string("a\0b\0\0", 5));
  fake::Returns(sqlwntm::BackupSnapShot, {-5});
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 1) << "b is not backed up";
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("a.db"));
  EXPECT_THAT(Entries(root + "/b.prior"), ElementsAre("b.db"));
  EXPECT_THAT(Entries(root + "/b"), ElementsAre("sub"));
}

#if !defined(_WIN32)
// Someone who may write in a database's directory could swap its entries while it is emptied:
// it is skipped like a link, and what it holds stays.
TEST_F(SnapshotTest, DirectoriesOthersMayChangeAreSkipped) {
  File(root + "/a/old");
  File(root + "/ok/old");
  fs::permissions(root + "/a", fs::perms::group_write, fs::perm_options::add);
  fake::SetDatabaseList(std::string("a\0ok\0\0", 6));
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls()[2], Backup("ok", root + "\\ok.partial"));
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 1);
  EXPECT_THAT(Entries(root + "/a"), ElementsAre("old"));
  if (geteuid() == 0 && chown((root + "/ok").c_str(), 65534, 65534) == 0) {
    fake::Reset();
    fake::SetDatabaseList(std::string("ok\0\0", 4));
    EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT)
        << "another user's directory";
    EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 0);
  }
}
#endif

#if !defined(_WIN32)
// In a root others may write to, anyone could swap a link in for a backup's directory between
// two calls: nothing is touched unless the root is sticky.
TEST_F(SnapshotTest, ARootOthersMayWriteIsRefusedUnlessSticky) {
  File(root + "/a/old");
  fake::SetDatabaseList(std::string("a\0\0", 3));
  fs::permissions(root, fs::perms::others_write, fs::perm_options::add);
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 0);
  EXPECT_THAT(Entries(root), ElementsAre("a"));
  fs::permissions(root, fs::perms::sticky_bit, fs::perm_options::add);
  EXPECT_EQ(AllSnapShot("srv", "pw", root.c_str()), 0);
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 1);
}
#endif

}  // namespace
