// The server jobs with their real effects: database files, the list, a terminated server.
#include "end_to_end_test.h"

namespace {

using ServerJobsEndToEndTest = EndToEndTest;

std::string DatabaseList() {
  char list[QUILLET_DATABASE_LIST_SIZE] = {};
  EXPECT_EQ(DirDB("srv", "pw", list), 0);
  return list;
}

TEST_F(ServerJobsEndToEndTest, CreateDeinstallInstallAndDropWorkOnTheFiles) {
  EXPECT_EQ(CreateDB("srv", "pw", "SALES"), 0);
  EXPECT_EQ(CreateDB("srv", "pw", "STOCK"), 0);
  EXPECT_TRUE(Exists(DatabaseFile("SALES")));
  EXPECT_EQ(DatabaseList(), "SALES;STOCK;");
  EXPECT_EQ(CreateDB("srv", "pw", "SALES"), STANDIN_DATABASE_EXISTS);

  EXPECT_EQ(DeinstallDB("srv", "pw", "SALES"), 0);
  EXPECT_TRUE(Exists(DatabaseFile("SALES")));
  EXPECT_EQ(DatabaseList(), "STOCK;");
  EXPECT_EQ(InstallDB("srv", "pw", "SALES"), 0);
  EXPECT_EQ(DatabaseList(), "SALES;STOCK;");

  EXPECT_EQ(DropDB("srv", "pw", "SALES"), 0);
  EXPECT_FALSE(Exists(DatabaseFile("SALES")));
  EXPECT_EQ(DropDB("srv", "pw", "SALES"), STANDIN_NO_SUCH_DATABASE);
  EXPECT_EQ(DatabaseList(), "STOCK;");
}

TEST_F(ServerJobsEndToEndTest, AWrongPasswordOrServerIsRefused) {
  char list[QUILLET_DATABASE_LIST_SIZE] = "untouched";
  EXPECT_EQ(DirDB("srv", "wrong", list), STANDIN_BAD_PASSWORD);
  EXPECT_STREQ(list, "untouched");
  EXPECT_EQ(CreateDB("nosuch", "pw", "SALES"), STANDIN_NO_SUCH_SERVER);
  EXPECT_EQ(UpdateStats("SALES", "SYSADM", "SYSADM"), STANDIN_NO_SUCH_DATABASE);
}

TEST_F(ServerJobsEndToEndTest, ATerminatedServerRefusesConnectionsUntilStarted) {
  CreateFilled("SALES", "CREATE TABLE t(a); INSERT INTO t VALUES(1);");
  EXPECT_EQ(TerminateServer("srv", "pw"), 0);
  char list[QUILLET_DATABASE_LIST_SIZE] = {};
  EXPECT_EQ(DirDB("srv", "pw", list), STANDIN_SERVER_TERMINATED);
  EXPECT_EQ(CreateDB("srv", "pw", "STOCK"), STANDIN_SERVER_TERMINATED);
  EXPECT_EQ(TerminateServer("srv", "pw"), STANDIN_SERVER_TERMINATED);
  EXPECT_EQ(UpdateStats("SALES", "SYSADM", "SYSADM"), STANDIN_SERVER_TERMINATED);

  EXPECT_EQ(standin_server_start("srv"), 0);
  EXPECT_EQ(UpdateStats("SALES", "SYSADM", "SYSADM"), 0);
  EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "SELECT a FROM t"), (Rows{{"1"}}));
}

}  // namespace
