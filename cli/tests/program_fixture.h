// The quillet program as a user drives it, with libquillet.so doing real work on the stand-in
// server in a scratch folder: what the program tests share.
#ifndef QUILLET_CLI_TESTS_PROGRAM_FIXTURE_H
#define QUILLET_CLI_TESTS_PROGRAM_FIXTURE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

namespace quillet::cli::testing {

inline std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Each test gets an empty folder of stand-in servers and an environment without a password.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ::testing::TempDir() + "quillet_cli_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
            std::to_string(getpid());
    std::filesystem::remove_all(root_);
    ASSERT_TRUE(std::filesystem::create_directory(root_));
    environment_ = {{"QUILLET_STANDIN_ROOT", root_},
                    {"QUILLET_PASSWORD", std::nullopt},
                    {"QUILLET_SERVER_PASSWORD", std::nullopt},
                    {"QUILLET_SERVER", std::nullopt},
                    {"QUILLET_STANDIN_SERVER", std::nullopt}};
  }

  void TearDown() override {
    if (!HasFailure()) std::filesystem::remove_all(root_);
  }

  ProgramRun Quillet(const std::string& command, EnvironmentChanges extra = {}) {
    return QuilletArguments(Words(command), std::move(extra));
  }
  ProgramRun QuilletArguments(const std::vector<std::string>& arguments,
                              EnvironmentChanges extra = {}) {
    EnvironmentChanges environment = environment_;
    for (auto& [name, value] : extra) environment[name] = value;
    return RunProgram(QUILLET_PROGRAM, arguments, environment);
  }
  EnvironmentChanges WithPassword(const std::string& password) {
    return {{"QUILLET_PASSWORD", password}};
  }

  // A running stand-in server ACME (password "acme-pw") with the empty database DEMO.
  void CreateServerWithDatabase() {
    ASSERT_EQ(Quillet("server create ACME", WithPassword("acme-pw")).status, 0);
    ASSERT_EQ(Quillet("create-db ACME DEMO", WithPassword("acme-pw")).status, 0);
  }

  std::string root_;
  EnvironmentChanges environment_;
};

}  // namespace quillet::cli::testing

#endif  // QUILLET_CLI_TESTS_PROGRAM_FIXTURE_H
