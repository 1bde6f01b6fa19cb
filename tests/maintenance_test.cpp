#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "fake_client_test.h"
#include "quillet.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

// Without the per-connection setup the opening is just the open and the parameter read.
class MaintenanceTest : public FakeClientTest {
 protected:
  void SetUp() override {
    FakeClientTest::SetUp();
    fake::SetParameter1003(0);
  }
  // The calls after the opening and the parameter read.
  static std::vector<std::string> JobCalls() {
    const std::vector<std::string> calls = fake::Calls();
    return std::vector<std::string>(calls.begin() + 2, calls.end());
  }
};

TEST_F(MaintenanceTest, UpdateStatsCountsRowsCommitsAndCloses) {
  EXPECT_EQ(UpdateStats("db", "usr", "pw"), 0);
  EXPECT_EQ(fake::Calls().front(), "CursorConnect(&,db/usr/pw,0)");
  EXPECT_THAT(JobCalls(), ElementsAre("CompileAndExecute(7,UPDATE STATISTICS ON DATABASE,0)",
                                      "GetNoRows(7,&)", "Commit(7)", "CursorDisconnect(7)"));
}

TEST_F(MaintenanceTest, UpdateStatsWhoseStatementFailsStillCommitsButCountsNothing) {
  fake::Returns(sqlwntm::CompileAndExecute, {-5});
  EXPECT_EQ(UpdateStats("db", "usr", "pw"), -5);
  EXPECT_THAT(JobCalls(), ElementsAre("CompileAndExecute(7,UPDATE STATISTICS ON DATABASE,0)",
                                      "Commit(7)", "CursorDisconnect(7)"));
}

TEST_F(MaintenanceTest, CommitAndCloseOutcomesNeverReachTheHost) {
  fake::Returns(sqlwntm::GetNoRows, {3});
  fake::Returns(sqlwntm::Commit, {4});
  fake::Returns(sqlwntm::CursorDisconnect, {5});
  EXPECT_EQ(UpdateStats("db", "usr", "pw"), 0);
}

TEST_F(MaintenanceTest, ReleaseLogCommitsWhateverItsOutcome) {
  EXPECT_EQ(ReleaseLog("db", "usr", "pw"), 0);
  EXPECT_THAT(JobCalls(), ElementsAre("ReleaseLog(7)", "Commit(7)", "CursorDisconnect(7)"));
  fake::Reset();
  fake::SetParameter1003(0);
  fake::Returns(sqlwntm::ReleaseLog, {static_cast<int16_t>(0xFFFF)});
  EXPECT_EQ(ReleaseLog("db", "usr", "pw"), -1);
  EXPECT_THAT(JobCalls(), ElementsAre("ReleaseLog(7)", "Commit(7)", "CursorDisconnect(7)"));
}

TEST_F(MaintenanceTest, LoadCommitsOnlyAfterSuccess) {
  EXPECT_EQ(Load("db", "usr", "pw", "LOAD SQL a.sql"), 0);
  EXPECT_THAT(JobCalls(),
              ElementsAre("Load(7,LOAD SQL a.sql,0)", "Commit(7)", "CursorDisconnect(7)"));
  fake::Reset();
  fake::SetParameter1003(0);
  fake::Returns(sqlwntm::Load, {1403});
  EXPECT_EQ(Load("db", "usr", "pw", "LOAD SQL a.sql"), 1403);
  EXPECT_THAT(JobCalls(), ElementsAre("Load(7,LOAD SQL a.sql,0)", "CursorDisconnect(7)"));
}

TEST_F(MaintenanceTest, UnloadNeverCommits) {
  EXPECT_EQ(Unload("db", "usr", "pw", "UNLOAD x"), 0);
  EXPECT_THAT(JobCalls(), ElementsAre("Unload(7,UNLOAD x,0)", "CursorDisconnect(7)"));
  fake::Reset();
  fake::SetParameter1003(0);
  fake::Returns(sqlwntm::Unload, {-2});
  EXPECT_EQ(Unload("db", "usr", "pw", nullptr), -2);
  EXPECT_THAT(JobCalls(), ElementsAre("Unload(7,<null>,0)", "CursorDisconnect(7)"));
}

TEST_F(MaintenanceTest, ReLoadLocksLoadsUnlocksAndCommitsInModeOne) {
  EXPECT_EQ(ReLoad("db", "usr", "pw", "x.sql"), 0);
  EXPECT_EQ(fake::Calls().front(), "CursorConnectOtherMode(&,db/usr/pw,0)");
  EXPECT_THAT(
      JobCalls(),
      ElementsAre("CompileAndExecute(7,LOCK DATABASE ,0)", "Load(7,LOAD SQL x.sql,0)",
                  "CompileAndExecute(7,UNLOCK DATABASE,0)", "Commit(7)", "CursorDisconnect(7)"));
}

TEST_F(MaintenanceTest, ReLoadWhoseLockFailsStillLoadsAndReportsTheLock) {
  fake::Returns(sqlwntm::CompileAndExecute, {-8, 33});
  EXPECT_EQ(ReLoad("db", "usr", "pw", "x.sql"), -8);
  EXPECT_THAT(
      JobCalls(),
      ElementsAre("CompileAndExecute(7,LOCK DATABASE ,0)", "Load(7,LOAD SQL x.sql,0)",
                  "CompileAndExecute(7,UNLOCK DATABASE,0)", "Commit(7)", "CursorDisconnect(7)"));
}

TEST_F(MaintenanceTest, ReLoadWhoseLoadFailsReportsTheLoadAndNeitherUnlocksNorCommits) {
  for (const int16_t lock : {int16_t{0}, int16_t{12}}) {
    fake::Reset();
    fake::SetParameter1003(0);
    fake::Returns(sqlwntm::CompileAndExecute, {lock});
    fake::Returns(sqlwntm::Load, {1500});
    EXPECT_EQ(ReLoad("db", "usr", "pw", "x.sql"), 1500);
    EXPECT_THAT(JobCalls(), ElementsAre("CompileAndExecute(7,LOCK DATABASE ,0)",
                                        "Load(7,LOAD SQL x.sql,0)", "CursorDisconnect(7)"));
  }
}

// A commit that fails after the load leaves the load rolled back: the host hears the commit's
// code, over a failed lock's too. An unlock failing alone, or the close, is not reported.
TEST_F(MaintenanceTest, CommitFailingAfterASuccessfulLoadIsTheResult) {
  fake::Returns(sqlwntm::Commit, {2106});
  EXPECT_EQ(Load("db", "usr", "pw", "LOAD SQL a.sql"), 2106);
  EXPECT_THAT(JobCalls(),
              ElementsAre("Load(7,LOAD SQL a.sql,0)", "Commit(7)", "CursorDisconnect(7)"));

  struct Case {
    int16_t lock, unlock, commit, close;
    int32_t result;
  };
  for (const Case c : {Case{0, 0, 2106, 0, 2106}, Case{-8, 0, 2106, 0, 2106},
                       Case{-8, 0, static_cast<int16_t>(0xFFFF), 0, -1}, Case{0, 7, 0, 0, 0},
                       Case{-8, 7, 0, 0, -8}, Case{0, 7, 0, 5, 0}}) {
    fake::Reset();
    fake::SetParameter1003(0);
    fake::Returns(sqlwntm::CompileAndExecute, {c.lock, c.unlock});
    fake::Returns(sqlwntm::Commit, {c.commit});
    fake::Returns(sqlwntm::CursorDisconnect, {c.close});
    EXPECT_EQ(ReLoad("db", "usr", "pw", "x.sql"), c.result)
        << "lock " << c.lock << ", unlock " << c.unlock << ", commit " << c.commit;
    EXPECT_THAT(
        JobCalls(),
        ElementsAre("CompileAndExecute(7,LOCK DATABASE ,0)", "Load(7,LOAD SQL x.sql,0)",
                    "CompileAndExecute(7,UNLOCK DATABASE,0)", "Commit(7)", "CursorDisconnect(7)"));
  }
}

TEST_F(MaintenanceTest, ReLoadTakesScriptNamesThatFitItsCommandOnly) {
  const std::string longest(250, 's');
  EXPECT_EQ(ReLoad("db", "usr", "pw", longest.c_str()), 0);
  EXPECT_EQ(JobCalls()[1], "Load(7,LOAD SQL " + longest + ",0)");
  fake::Reset();
  const std::string too_long(251, 's');
  EXPECT_EQ(ReLoad("db", "usr", "pw", too_long.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(ReLoad("db", "usr", "pw", nullptr), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

// Every database-level job, for the rules they all share.
struct DatabaseJob {
  const char* name;
  std::function<int32_t(const char* database, const char* password)> call;
};

void PrintTo(const DatabaseJob& job, std::ostream* out) { *out << job.name; }

const DatabaseJob kDatabaseJobs[] = {
    {"UpdateStats", [](const char* d, const char* p) { return UpdateStats(d, "usr", p); }},
    {"ReleaseLog", [](const char* d, const char* p) { return ReleaseLog(d, "usr", p); }},
    {"Load", [](const char* d, const char* p) { return Load(d, "usr", p, "c"); }},
    {"Unload", [](const char* d, const char* p) { return Unload(d, "usr", p, "c"); }},
    {"ReLoad", [](const char* d, const char* p) { return ReLoad(d, "usr", p, "x.sql"); }},
};

class DatabaseJobTest : public MaintenanceTest,
                        public ::testing::WithParamInterface<DatabaseJob> {};

TEST_P(DatabaseJobTest, FailedConnectIsFollowedByNoCall) {
  fake::Returns(sqlwntm::CursorConnect, {static_cast<int16_t>(0xFFFF)});
  fake::Returns(sqlwntm::CursorConnectOtherMode, {static_cast<int16_t>(0xFFFF)});
  EXPECT_EQ(GetParam().call("db", "pw"), -1);
  EXPECT_EQ(fake::Calls().size(), 1u);
}

TEST_P(DatabaseJobTest, LoginThatCannotBeJoinedIsRefusedBeforeAnyCall) {
  // With "db" and "usr", one character more than the three texts may take together (125).
  const std::string password(121, 'p');
  EXPECT_EQ(GetParam().call("db", password.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(GetParam().call(nullptr, "pw"), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

// Two jobs connecting at the same moment each open their own database.
TEST_P(DatabaseJobTest, ConcurrentJobsEachOpenTheirOwnDatabase) {
  Rendezvous both_composed(2);
  fake::OnCall(sqlwntm::CursorConnect, [&] { both_composed.arrive_and_wait(); });
  fake::OnCall(sqlwntm::CursorConnectOtherMode, [&] { both_composed.arrive_and_wait(); });
  std::thread first([&] { GetParam().call("first", "pw1"); });
  std::thread second([&] { GetParam().call("second", "pw2"); });
  first.join();
  second.join();
  std::vector<std::string> opened;
  for (const std::string& call : fake::Calls()) {
    for (const char* prefix : {"CursorConnect(&,", "CursorConnectOtherMode(&,"}) {
      if (call.rfind(prefix, 0) == 0) opened.push_back(call.substr(std::strlen(prefix)));
    }
  }
  EXPECT_THAT(opened, UnorderedElementsAre("first/usr/pw1,0)", "second/usr/pw2,0)"));
}

INSTANTIATE_TEST_SUITE_P(DatabaseJobs, DatabaseJobTest, ::testing::ValuesIn(kDatabaseJobs),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
