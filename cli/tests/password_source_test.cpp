#include "password_source.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

using quillet::cli::FindPassword;
using quillet::cli::PasswordSources;
using ::testing::HasSubstr;

namespace {

// Every source scripted: an environment, a terminal or none, and what the prompt reads.
class PasswordSourceTest : public ::testing::Test {
 protected:
  PasswordSources Sources() {
    return {[this](const char* name) -> const char* {
              auto found = environment_.find(name);
              return found == environment_.end() ? nullptr : found->second.c_str();
            },
            [this] { return terminal_; },
            [this](const std::string& prompt) {
              prompts_.push_back(prompt);
              return typed_;
            }};
  }

  std::string WriteFile(const std::string& content) {
    const std::string path = ::testing::TempDir() + "quillet_password_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::ofstream(path, std::ios::binary) << content;
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return path;
  }

  std::map<std::string, std::string> environment_;
  bool terminal_ = false;
  std::optional<std::string> typed_;
  std::vector<std::string> prompts_;
};

TEST_F(PasswordSourceTest, TheFileComesBeforeTheEnvironmentAndThePrompt) {
  environment_["QUILLET_PASSWORD"] = "from-environment";
  terminal_ = true;
  typed_ = "typed";
  const auto found = FindPassword(WriteFile("from-file\n"), "server ACME", Sources());
  EXPECT_EQ(found.password, "from-file");
  EXPECT_TRUE(prompts_.empty());
}

TEST_F(PasswordSourceTest, TheEnvironmentComesBeforeThePrompt) {
  environment_["QUILLET_PASSWORD"] = "from-environment";
  terminal_ = true;
  EXPECT_EQ(FindPassword(std::nullopt, "server ACME", Sources()).password, "from-environment");
  EXPECT_TRUE(prompts_.empty());
}

TEST_F(PasswordSourceTest, AnEmptyVariableIsAnEmptyPassword) {
  environment_["QUILLET_PASSWORD"] = "";
  EXPECT_EQ(FindPassword(std::nullopt, "server ACME", Sources()).password, "");
}

TEST_F(PasswordSourceTest, OnATerminalThePromptNamesWhosePasswordItWants) {
  terminal_ = true;
  typed_ = "typed";
  EXPECT_EQ(FindPassword(std::nullopt, "server ACME", Sources()).password, "typed");
  EXPECT_THAT(prompts_, ::testing::ElementsAre("Password for server ACME: "));
}

TEST_F(PasswordSourceTest, NothingTypedAtThePromptIsNoPassword) {
  terminal_ = true;
  const auto found = FindPassword(std::nullopt, "server ACME", Sources());
  EXPECT_FALSE(found.password);
  EXPECT_THAT(found.error, HasSubstr("no password was typed"));
}

TEST_F(PasswordSourceTest, WithoutAnySourceTheErrorNamesEveryWayToGiveOne) {
  const auto found = FindPassword(std::nullopt, "server ACME", Sources());
  EXPECT_FALSE(found.password);
  EXPECT_THAT(found.error, HasSubstr("server ACME"));
  EXPECT_THAT(found.error, HasSubstr("QUILLET_PASSWORD"));
  EXPECT_THAT(found.error, HasSubstr("--password-file"));
  EXPECT_THAT(found.error, HasSubstr("terminal"));
}

TEST_F(PasswordSourceTest, AFileGivesItsFirstLineWithoutTheLineEnd) {
  EXPECT_EQ(FindPassword(WriteFile("se cret\r\nsecond line\n"), "x", Sources()).password,
            "se cret");
  EXPECT_EQ(FindPassword(WriteFile("no line end"), "x", Sources()).password, "no line end");
  EXPECT_EQ(FindPassword(WriteFile(""), "x", Sources()).password, "");
}

TEST_F(PasswordSourceTest, ADirectoryIsNoEmptyPassword) {
  const auto found = FindPassword(::testing::TempDir(), "x", Sources());
  EXPECT_FALSE(found.password);
  EXPECT_THAT(found.error, HasSubstr("is a directory"));
}

TEST_F(PasswordSourceTest, APipeServesAsTheFile) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "piped\n", 6), 6);
  close(ends[1]);
  EXPECT_EQ(FindPassword("/dev/fd/" + std::to_string(ends[0]), "x", Sources()).password, "piped");
  close(ends[0]);
}

TEST_F(PasswordSourceTest, AnUnreadableFileIsAnErrorNotAFallBack) {
  environment_["QUILLET_PASSWORD"] = "from-environment";
  const auto found = FindPassword(::testing::TempDir() + "no/such/file", "x", Sources());
  EXPECT_FALSE(found.password);
  EXPECT_THAT(found.error, HasSubstr("no/such/file"));
}

TEST_F(PasswordSourceTest, AnOverlongFirstLineIsRefusedUnshown) {
  const auto found = FindPassword(WriteFile(std::string(5000, 'S') + "\n"), "x", Sources());
  EXPECT_FALSE(found.password);
  EXPECT_THAT(found.error, HasSubstr("longer than 4096 bytes"));
  EXPECT_EQ(found.error.find("SSS"), std::string::npos);
  EXPECT_EQ(FindPassword(WriteFile(std::string(4096, 'S')), "x", Sources()).password->size(),
            4096U);
}

// Opened without waiting for a writer, so that the check comes at once.
TEST_F(PasswordSourceTest, ANamedPipeOthersMayReadIsRefusedWithoutHanging) {
  const std::string path = ::testing::TempDir() + "quillet_password_fifo";
  std::remove(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  (void)chmod(path.c_str(), 0644);
  EXPECT_THAT(FindPassword(path, "x", Sources()).error, HasSubstr("(mode 644)"));
  std::remove(path.c_str());
}

}  // namespace
