// Exports running on several host threads at once: each call reaches the client library with
// its own texts and hands its own results back. The fake holds every thread at the opening call
// until all have arrived, and only then reads what each was given.
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "active_cursors_reply.h"
#include "fake_client_test.h"
#include "quillet.h"

using ::testing::Contains;
using ::testing::UnorderedElementsAreArray;

namespace {

// The calls of one entry point, without its name.
std::vector<std::string> CallsOf(sqlwntm::EntryPoint entry) {
  const std::string prefix = std::string(sqlwntm::NameOf(entry)) + "(";
  std::vector<std::string> found;
  for (const std::string& call : fake::Calls()) {
    if (call.rfind(prefix, 0) == 0) found.push_back(call.substr(prefix.size()));
  }
  return found;
}

// Runs each job on a thread of its own, all held at `entries` until every one has arrived.
void RunTogether(const std::vector<std::function<void()>>& jobs,
                 const std::vector<sqlwntm::EntryPoint>& entries) {
  Rendezvous all(static_cast<int>(jobs.size()));
  for (const sqlwntm::EntryPoint entry : entries) {
    fake::OnCall(entry, [&] { all.arrive_and_wait(); });
  }
  std::vector<std::thread> threads;
  for (const auto& job : jobs) threads.emplace_back(job);
  for (std::thread& thread : threads) thread.join();
}

TEST_F(FakeClientTest, DatabaseJobsOnSeveralThreadsEachOpenTheirOwnDatabase) {
  fake::SetColumns({{2, "N"}});
  fake::SetRows({{"1"}});
  int32_t results[6] = {-100, -100, -100, -100, -100, -100};
  RunTogether({[&] { results[0] = UpdateStats("db0", "user0", "pw0"); },
               [&] { results[1] = ReleaseLog("db1", "user1", "pw1"); },
               [&] { results[2] = Load("db2", "user2", "pw2", "LOAD 2"); },
               [&] { results[3] = Unload("db3", "user3", "pw3", "UNLOAD 3"); },
               [&] { results[4] = ReLoad("db4", "user4", "pw4", "four.sql"); },
               [&] { results[5] = ExportCSV("db5", "user5", "pw5", "SELECT 5", "five.csv"); }},
              {sqlwntm::CursorConnect, sqlwntm::CursorConnectOtherMode});
  for (const int32_t result : results) EXPECT_EQ(result, 0);
  std::vector<std::string> opened = CallsOf(sqlwntm::CursorConnect);
  for (const std::string& call : CallsOf(sqlwntm::CursorConnectOtherMode)) opened.push_back(call);
  EXPECT_THAT(opened, UnorderedElementsAreArray({"&,db0/user0/pw0,0)", "&,db1/user1/pw1,0)",
                                                 "&,db2/user2/pw2,0)", "&,db3/user3/pw3,0)",
                                                 "&,db4/user4/pw4,0)", "&,db5/user5/pw5,0)"}));
  EXPECT_THAT(CallsOf(sqlwntm::Load),
              UnorderedElementsAreArray({"7,LOAD 2,0)", "7,LOAD SQL four.sql,0)"}));
  EXPECT_THAT(CallsOf(sqlwntm::CompileAndExecute), Contains("7,SELECT 5,0)"));
  EXPECT_EQ(fake::CountOf(sqlwntm::CursorDisconnect), 6);
  std::remove("five.csv");
}

TEST_F(FakeClientTest, ServerJobsOnSeveralThreadsEachReachTheirOwnServer) {
  fake::SetDatabaseList(std::string("alpha\0beta\0\0", 12));
  fake::SetActiveCursorsReply(fake::ActiveCursorsReply({{4, "U", "D", "P"}}));
  char databases[QUILLET_DATABASE_LIST_SIZE] = {};
  char connections[QUILLET_CONNECTION_LIST_SIZE] = {};
  int32_t results[9];
  RunTogether({[&] { results[0] = InstallDB("s0", "p0", "d0"); },
               [&] { results[1] = DeinstallDB("s1", "p1", "d1"); },
               [&] { results[2] = CreateDB("s2", "p2", "d2"); },
               [&] { results[3] = DropDB("s3", "p3", "d3"); },
               [&] { results[4] = TerminateServer("s4", "p4"); },
               [&] { results[5] = KillConnection("s5", "p5", 55); },
               [&] { results[6] = DirDB("s6", "p6", databases); },
               [&] { results[7] = ListConnections("s7", "p7", connections); },
               [&] { results[8] = KillAllConnections("s8", "p8", ""); }},
              {sqlwntm::Connect});
  for (const int32_t result : results) EXPECT_EQ(result, 0);
  std::vector<std::string> servers;
  for (int i = 0; i < 9; ++i) {
    servers.push_back("&,s" + std::to_string(i) + ",p" + std::to_string(i) + ")");
  }
  EXPECT_THAT(CallsOf(sqlwntm::Connect), UnorderedElementsAreArray(servers));
  EXPECT_THAT(CallsOf(sqlwntm::KillConnection), UnorderedElementsAreArray({"7,55)", "7,4)"}));
  EXPECT_STREQ(databases, "alpha;beta;");
  EXPECT_STREQ(connections, "4:D:U:P");
  EXPECT_EQ(fake::CountOf(sqlwntm::Disconnect), 9);
}

}  // namespace
