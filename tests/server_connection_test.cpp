#include "client/server_connection.h"

#include <cstring>

#include "fake_client_test.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace quillet {
namespace {

using ServerConnectionTest = FakeClientTest;

TEST_F(ServerConnectionTest, ConstructingAndDestroyingCallsNothing) {
  { ServerConnection connection; }
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

TEST_F(ServerConnectionTest, ConnectPassesTheHandleAddressAndDisconnectItsValue) {
  fake::SetHandle(42);
  {
    ServerConnection connection;
    EXPECT_TRUE(connection.Connect("srv", "pw"));
    EXPECT_TRUE(connection.Disconnect());
  }
  EXPECT_THAT(fake::Calls(), ElementsAre("Connect(&,srv,pw)", "Disconnect(42)"));
}

TEST_F(ServerConnectionTest, FailureKeepsTheCodeAndTheOperationAndLeavesTheObjectUsable) {
  fake::Returns(sqlwntm::DropDatabase, {-1});
  ServerConnection connection;
  ASSERT_TRUE(connection.Connect("srv", "pw"));
  EXPECT_FALSE(connection.DropDatabase("db"));
  EXPECT_EQ(connection.ReturnCode(), -1);
  EXPECT_EQ(connection.LastOperation(), kDropDatabase);
  EXPECT_TRUE(connection.DropDatabase("db"));
  EXPECT_EQ(connection.ReturnCode(), 0);
  EXPECT_EQ(connection.LastOperation(), kDropDatabase);
}

TEST_F(ServerConnectionTest, OperationsPassTheirFixedArguments) {
  char list[kDatabaseListSize];
  unsigned char reply[kServerInfoBufferSize];
  ServerConnection connection;
  ASSERT_TRUE(connection.Connect("srv", "pw"));
  connection.BackupSnapShot("db", "C:\\snap", 5);
  connection.GetActiveCursors(reply);
  connection.KillConnection(12);
  connection.GetDatabaseNames("other", list);
  connection.CreateDatabase("db");
  connection.InstallDatabase("db");
  connection.DeinstallDatabase("db");
  connection.TerminateServer();
  EXPECT_THAT(
      fake::Calls(),
      ElementsAre("Connect(&,srv,pw)", "BackupSnapShot(7,db,0,C:\\snap,0,5,1)",
                  "GetActiveCursors(7,-32766,&,52012,&)", "KillConnection(7,12)",
                  "GetDatabaseNames(other,&,1024)", "CreateDatabase(7,db,0)",
                  "InstallDatabase(7,db,0)", "DeinstallDatabase(7,db,0)", "TerminateServer(7)"));
}

TEST(OperationNamesTable, KeepsItsFixedTexts) {
  EXPECT_STREQ(OperationNames[0], "N/A");
  EXPECT_STREQ(OperationNames[kCursorDisconnect], "Disconnet()");
  EXPECT_STREQ(OperationNames[kServerDisconnect], "Disconnect()");
  EXPECT_STREQ(OperationNames[kTerminateServer], "TerminateServer");
  EXPECT_STREQ(OperationNames[kOperationCount - 1], "RestoreSnapshot");
}

}  // namespace
}  // namespace quillet
