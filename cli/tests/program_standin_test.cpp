// quillet server ACTION: the stand-in servers themselves.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "program_fixture.h"

using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using namespace quillet::cli::testing;

namespace {

TEST_F(ProgramTest, ServerStatusExitsWithThreeWhenTerminatedAndServerListShowsAll) {
  ASSERT_EQ(Quillet("server create ACME", WithPassword("a")).status, 0);
  ASSERT_EQ(Quillet("server create BETA", WithPassword("b")).status, 0);
  ASSERT_EQ(Quillet("terminate-server BETA", WithPassword("b")).status, 0);
  const ProgramRun running = Quillet("server status ACME");
  EXPECT_EQ(running.status, 0);
  const ProgramRun terminated = Quillet("server status BETA");
  EXPECT_EQ(terminated.status, 3);
  EXPECT_EQ(terminated.out, "terminated\n");
  EXPECT_EQ(Quillet("server list").out, "ACME\trunning\nBETA\tterminated\n");
}

TEST_F(ProgramTest, ServersAreCreatedTerminatedAndStartedAgain) {
  EXPECT_EQ(Quillet("server root").out, root_ + "\n");
  std::ofstream(root_ + "/password") << "from-file\n";
  std::filesystem::permissions(root_ + "/password", std::filesystem::perms::owner_read);
  ASSERT_EQ(Quillet("server create ACME --password-file " + root_ + "/password").status, 0);
  EXPECT_EQ(Quillet("server status ACME").out, "running\n");

  EXPECT_EQ(Quillet("terminate-server ACME", WithPassword("from-file")).status, 0);
  EXPECT_EQ(Quillet("server status ACME").out, "terminated\n");
  const ProgramRun refused = Quillet("dir-db ACME", WithPassword("from-file"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, StartsWith("quillet dir-db: failed with return code 9102 ("));

  EXPECT_EQ(Quillet("server start ACME").status, 0);
  EXPECT_EQ(Quillet("server status ACME").out, "running\n");
  EXPECT_EQ(Quillet("dir-db ACME", WithPassword("from-file")).status, 0);
}

TEST_F(ProgramTest, AFailureGivesTheReturnCodeAndItsMeaning) {
  const ProgramRun run = Quillet("server status ACME");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, MatchesRegex("quillet server status: failed with return code 9101 "
                                    "\\(.+\\)\n"));
  EXPECT_THAT(run.out, IsEmpty());
}

}  // namespace
