// The export's temporary file against someone who may write its folder: a name swapped for a
// link is never renamed over the target, and a leftover with a second hard link is kept.
#include "safe_output.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quillet::cli {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class SafeOutputTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillet-safe-output-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  // The one hidden temporary file in the folder.
  fs::path Temporary() const {
    for (const auto& entry : fs::directory_iterator(folder_)) {
      if (entry.path().filename().string().find(".quillet-") != std::string::npos) {
        return entry.path();
      }
    }
    return {};
  }

  fs::path folder_;
};

TEST_F(SafeOutputTest, ATemporaryNameSwappedForALinkIsNeverRenamedOverTheTarget) {
  const fs::path target = folder_ / "rows.csv";
  const fs::path victim = folder_ / "victim.txt";
  std::ofstream(target) << "old\n";
  std::ofstream(victim) << "victim's\n";
  std::string error;
  std::optional<SafeOutput> output = SafeOutput::Create(target.string(), &error);
  ASSERT_TRUE(output) << error;
  const fs::path temporary = Temporary();
  ASSERT_FALSE(temporary.empty());
  fs::remove(temporary);
  fs::create_symlink(victim, temporary);
  // Written as the library writes it, by the path it was given.
  std::ofstream(output->TemporaryPath()) << "rows\n";
  std::ostringstream ignored;
  EXPECT_NE(output->Commit(ignored).find("was replaced by someone else"), std::string::npos);
  EXPECT_EQ(Read(victim), "victim's\n");
  EXPECT_EQ(Read(target), "old\n");
}

TEST_F(SafeOutputTest, ALeftoverWithASecondHardLinkIsKept) {
  // The name of a temporary file of a process that has ended.
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  std::string name = TemporaryName("rows.csv");
  const std::string own = "-" + std::to_string(getpid()) + "-";
  name.replace(name.find(own), own.size(), "-" + std::to_string(ended) + "-");
  std::ofstream(folder_ / name) << "left\n";
  fs::create_hard_link(folder_ / name, folder_ / "kept.csv");
  RemoveStaleTemporaries(folder_.string());
  EXPECT_TRUE(fs::exists(folder_ / name));
  fs::remove(folder_ / "kept.csv");
  RemoveStaleTemporaries(folder_.string());
  EXPECT_FALSE(fs::exists(folder_ / name));
}

}  // namespace
}  // namespace quillet::cli
