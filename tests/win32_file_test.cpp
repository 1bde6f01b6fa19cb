#include "platform/win32_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A directory being emptied may be swapped for a link to another one between the search and
// the deletions; a deletion must then not reach the file of the same name in the link's target.
TEST(Win32FileTest, DeleteFileGoesThroughNoLinkInTheDirectorysPlace) {
  char pattern[] = "/tmp/quillet-win32-file-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string base = pattern;
  fs::create_directory(base + "/elsewhere");
  std::ofstream(base + "/elsewhere/precious") << "kept";
  fs::create_directory_symlink(base + "/elsewhere", base + "/swapped");
  EXPECT_EQ(DeleteFileA((base + "\\swapped\\precious").c_str()), 0);
  EXPECT_TRUE(fs::exists(base + "/elsewhere/precious"));
  EXPECT_EQ(DeleteFileA((base + "\\elsewhere\\precious").c_str()), 1);
  fs::remove_all(base);
}

// A stand-in server's folder, and the root of such folders, take no change from these calls,
// however the path is spelled; elsewhere a file is moved, but onto no read-only file.
TEST(Win32FileTest, ServerFoldersAndTheirRootTakeNoChange) {
  char pattern[] = "/tmp/quillet-win32-file-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string base = pattern;
  fs::create_directories(base + "/servers/srv");
  fs::create_directory(base + "/plain");
  for (const char* file : {"/servers/srv/standin.catalogue", "/plain/a", "/plain/b"}) {
    std::ofstream(base + file) << "kept";
  }
  const auto move = [](const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
  };
  const std::string server = base + "/plain/..\\servers//srv\\";
  const std::string plain = base + "\\plain\\";
  EXPECT_EQ(DeleteFileA((server + "standin.catalogue").c_str()), 0);
  EXPECT_EQ(move(plain + "a", server + "a"), 0);
  EXPECT_EQ(move(server + "standin.catalogue", plain + "c"), 0);
  EXPECT_EQ(CreateDirectoryA((base + "\\servers\\new").c_str(), nullptr), 0);
  EXPECT_EQ(CreateDirectoryA((plain + "new").c_str(), nullptr), 1);
  fs::permissions(base + "/plain/b", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(move(plain + "a", plain + "b"), 0);
  EXPECT_EQ(move(plain + "a", plain + "new\\a"), 1);
  EXPECT_TRUE(fs::exists(base + "/servers/srv/standin.catalogue"));
  EXPECT_FALSE(fs::exists(base + "/servers/new"));
  fs::remove_all(base);
}

// The lock of an AllSnapShot run: a second open without sharing fails as in use until the first
// is closed; a directory rename replaces nothing.
TEST(Win32FileTest, UnsharedOpensExcludeEachOtherAndDirectoryRenamesReplaceNothing) {
  char pattern[] = "/tmp/quillet-win32-file-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string base = pattern;
  const std::string lock = base + "\\.quillet.lock";
  const auto open = [&] {
    return CreateFileA(lock.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  };
  HANDLE first = open();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(first);
  HANDLE second = open();
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);

  fs::create_directories(base + "/a");
  fs::create_directories(base + "/b/kept");
  EXPECT_EQ(MoveFileExA((base + "\\a").c_str(), (base + "\\b").c_str(), 0), 0);
  EXPECT_EQ(MoveFileExA((base + "\\b\\kept").c_str(), (base + "\\a").c_str(), 0), 0);
  EXPECT_EQ(MoveFileExA((base + "\\a").c_str(), (base + "\\c").c_str(), 0), 1);
  EXPECT_TRUE(fs::is_directory(base + "/b/kept"));
  EXPECT_TRUE(fs::is_directory(base + "/c"));
  fs::remove_all(base);
}

}  // namespace
