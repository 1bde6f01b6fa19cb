#include <cstring>
#include <functional>
#include <ostream>
#include <string>

#include "fake_client_test.h"
#include "quillet.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// One server job whose single operation follows the connect.
struct OneOperationJob {
  const char* name;
  std::function<int32_t()> call;
  sqlwntm::EntryPoint operation;
  const char* expectedCall;
};

const OneOperationJob kJobs[] = {
    {"InstallDB", [] { return InstallDB("srv", "pw", "db"); }, sqlwntm::InstallDatabase,
     "InstallDatabase(7,db,0)"},
    {"DeinstallDB", [] { return DeinstallDB("srv", "pw", "db"); }, sqlwntm::DeinstallDatabase,
     "DeinstallDatabase(7,db,0)"},
    {"CreateDB", [] { return CreateDB("srv", "pw", "db"); }, sqlwntm::CreateDatabase,
     "CreateDatabase(7,db,0)"},
    {"DropDB", [] { return DropDB("srv", "pw", "db"); }, sqlwntm::DropDatabase,
     "DropDatabase(7,db,0)"},
    {"TerminateServer", [] { return TerminateServer("srv", "pw"); }, sqlwntm::TerminateServer,
     "TerminateServer(7)"},
    {"KillConnection", [] { return KillConnection("srv", "pw", -5); }, sqlwntm::KillConnection,
     "KillConnection(7,-5)"},
};

void PrintTo(const OneOperationJob& job, std::ostream* out) { *out << job.name; }

class OneOperationJobTest : public FakeClientTest,
                            public ::testing::WithParamInterface<OneOperationJob> {};

TEST_P(OneOperationJobTest, ConnectsRunsItsOperationAndDisconnectsOnce) {
  EXPECT_EQ(GetParam().call(), 0);
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,srv,pw)", GetParam().expectedCall, "Disconnect(7)"));
}

TEST_P(OneOperationJobTest, FailedConnectIsFollowedByNoCall) {
  fake::Returns(sqlwntm::Connect, {401});
  EXPECT_EQ(GetParam().call(), 401);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect));
}

TEST_P(OneOperationJobTest, FailedOperationReportsItsCodeNotThatOfDisconnect) {
  fake::Returns(GetParam().operation, {1203});
  fake::Returns(sqlwntm::Disconnect, {9});
  EXPECT_EQ(GetParam().call(), 1203);
  EXPECT_EQ(fake::CountOf(sqlwntm::Disconnect), 1);
}

TEST_P(OneOperationJobTest, FailedDisconnectAfterSuccessStillGivesZero) {
  fake::Returns(sqlwntm::Disconnect, {9});
  EXPECT_EQ(GetParam().call(), 0);
}

TEST_P(OneOperationJobTest, CodesKeepTheirSignWhenWidened) {
  fake::Returns(GetParam().operation, {static_cast<int16_t>(0xFFFF)});
  EXPECT_EQ(GetParam().call(), -1);
  fake::Returns(sqlwntm::Connect, {-32768});
  EXPECT_EQ(GetParam().call(), -32768);
}

INSTANTIATE_TEST_SUITE_P(ServerJobs, OneOperationJobTest, ::testing::ValuesIn(kJobs),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(FakeClientTest, ServerTextsReachTheClientLibraryUnchangedNullIncluded) {
  EXPECT_EQ(CreateDB(nullptr, nullptr, nullptr), 0);
  EXPECT_THAT(fake::Calls(), ElementsAre("Connect(&,<null>,<null>)", "CreateDatabase(7,<null>,0)",
                                         "Disconnect(7)"));
}

class DirDBTest : public FakeClientTest {
 protected:
  // A host buffer filled with a marker, so that every byte DirDB writes shows.
  DirDBTest() { std::memset(list, '#', sizeof list); }
  std::string Text() const { return std::string(list); }
  char list[2048];
};

TEST_F(DirDBTest, JoinsTheNamesWithSemicolonsAndEndsAfterTheLast) {
  fake::SetDatabaseList(std::string("a\0b\0\0", 5));
  EXPECT_EQ(DirDB("srv", "pw", list), 0);
  EXPECT_EQ(Text(), "a;b;");
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,srv,pw)", "GetDatabaseNames(srv,&,1024)", "Disconnect(7)"));
}

TEST_F(DirDBTest, OneNameAndNoNames) {
  fake::SetDatabaseList(std::string("sales\0\0", 7));
  EXPECT_EQ(DirDB("srv", "pw", list), 0);
  EXPECT_EQ(Text(), "sales;");
  fake::SetDatabaseList(std::string("\0", 1));
  EXPECT_EQ(DirDB("srv", "pw", list), 0);
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(list[1], 'a') << "bytes behind the closing NUL stay as they were";
}

TEST_F(DirDBTest, FailedConnectLeavesTheBufferUntouched) {
  fake::Returns(sqlwntm::Connect, {401});
  EXPECT_EQ(DirDB("srv", "pw", list), 401);
  EXPECT_EQ(list[0], '#');
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect));
}

TEST_F(DirDBTest, FailedListIsNotRewrittenAndStillDisconnects) {
  fake::SetDatabaseList(std::string("a\0b\0\0", 5));
  fake::Returns(sqlwntm::GetDatabaseNames, {-7});
  EXPECT_EQ(DirDB("srv", "pw", list), -7);
  EXPECT_EQ(std::memchr(list, ';', sizeof list), nullptr);
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::Connect, sqlwntm::GetDatabaseNames, sqlwntm::Disconnect));
}

TEST_F(DirDBTest, ListWithoutClosingNameStaysInsideItsArea) {
  // Names fill the whole area and the last one has no room for the closing NUL.
  std::string names;
  while (names.size() + 10 <= QUILLET_DATABASE_LIST_SIZE) names += std::string("database\0", 9);
  names.resize(QUILLET_DATABASE_LIST_SIZE, 'x');
  fake::SetDatabaseList(names);
  EXPECT_EQ(DirDB("srv", "pw", list), 0);
  const std::size_t length = std::strlen(list);
  EXPECT_LT(length, static_cast<std::size_t>(QUILLET_DATABASE_LIST_SIZE));
  EXPECT_EQ(Text().find('x'), std::string::npos) << "an unterminated name is left out";
  EXPECT_EQ(Text().substr(length - 9), "database;");
  EXPECT_EQ(list[QUILLET_DATABASE_LIST_SIZE], '#');
}

TEST_F(DirDBTest, LastNameEndingAtTheAreasEndIsLeftOut) {
  std::string names = std::string("a\0", 2) + std::string(QUILLET_DATABASE_LIST_SIZE - 3, 'b');
  names.push_back('\0');
  fake::SetDatabaseList(names);
  EXPECT_EQ(DirDB("srv", "pw", list), 0);
  EXPECT_EQ(Text(), "a;");
}

TEST_F(DirDBTest, NullBufferIsRefusedBeforeAnyCall) {
  EXPECT_EQ(DirDB("srv", "pw", nullptr), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

}  // namespace
