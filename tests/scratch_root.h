// Shared fixture of the tests that run against the stand-in client library: every test gets a
// scratch root folder of its own, with one running server "srv" (password "pw").
#ifndef QUILLET_TESTS_SCRATCH_ROOT_H
#define QUILLET_TESTS_SCRATCH_ROOT_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "standin_admin.h"

class ScratchRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillet-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("QUILLET_STANDIN_ROOT", root_.c_str(), 1);
    unsetenv("QUILLET_STANDIN_SERVER");
    ASSERT_EQ(standin_server_create("srv", "pw"), 0);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  std::string root_;
};

#endif  // QUILLET_TESTS_SCRATCH_ROOT_H
