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
  std::ofstream(base + "/elsewhere/precious") << "kept";
  fs::create_directory_symlink(base + "/elsewhere", base + "/swapped");
  EXPECT_EQ(DeleteFileA((base + "\\swapped\\precious").c_str()), 0);
  EXPECT_TRUE(fs::exists(base + "/elsewhere/precious"));
  EXPECT_EQ(DeleteFileA((base + "\\elsewhere\\precious").c_str()), 1);
  fs::remove_all(base);
}

}  // namespace
