#include "win32_file_standin/win32_file.h"

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
  fs::create_directory(base + "/own");
  std::ofstream(base + "/elsewhere/precious") << "kept";
  std::ofstream(base + "/own/old") << "old";
  fs::create_directory_symlink(base + "/elsewhere", base + "/swapped");
  fs::create_symlink(base + "/elsewhere/precious", base + "/own/link");

  EXPECT_EQ(DeleteFileA((base + "\\swapped\\precious").c_str()), 0);
  EXPECT_TRUE(fs::exists(base + "/elsewhere/precious"));
  EXPECT_EQ(DeleteFileA((base + "\\own\\old").c_str()), 1);
  EXPECT_EQ(DeleteFileA((base + "\\own\\link").c_str()), 1) << "the link itself";
  EXPECT_TRUE(fs::exists(base + "/elsewhere/precious"));
  EXPECT_TRUE(fs::is_empty(base + "/own"));
  EXPECT_EQ(DeleteFileA((base + "\\own").c_str()), 0) << "a directory is no file";
  fs::remove_all(base);
}

}  // namespace
