// Listing and killing connections that other processes hold.
#include <regex>

#include "end_to_end_test.h"
#include "held_connection.h"

namespace {

using ConnectionsEndToEndTest = EndToEndTest;

std::string ConnectionList() {
  char list[QUILLET_CONNECTION_LIST_SIZE] = {};
  EXPECT_EQ(ListConnections("srv", "pw", list), 0);
  return list;
}

// The process number of the one listed connection of a database.
int ProcessOf(const std::string& list, const std::string& database) {
  std::smatch match;
  const std::regex line("(^|;)([0-9]+):" + database + ":");
  return std::regex_search(list, match, line) ? std::stoi(match[2]) : -1;
}

TEST_F(ConnectionsEndToEndTest, AConnectionOfAnotherProcessIsListedAndKilled) {
  ASSERT_EQ(CreateDB("srv", "pw", "SALES"), 0);
  EXPECT_EQ(ConnectionList(), "");
  HeldConnection held("SALES");
  ASSERT_TRUE(held.Connected());

  const std::string list = ConnectionList();
  const int process = ProcessOf(list, "SALES");
  EXPECT_EQ(list, std::to_string(process) + ":SALES:SYSADM:hold-connection");
  EXPECT_EQ(KillConnection("srv", "pw", process), 0);
  EXPECT_EQ(held.EndingCode(), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(ConnectionList(), "");
  EXPECT_EQ(KillConnection("srv", "pw", process), STANDIN_NO_SUCH_PROCESS);
}

TEST_F(ConnectionsEndToEndTest, KillAllConnectionsKillsThoseOfOneDatabaseOrOfAll) {
  ASSERT_EQ(CreateDB("srv", "pw", "SALES"), 0);
  ASSERT_EQ(CreateDB("srv", "pw", "STOCK"), 0);
  HeldConnection sales1("SALES");
  HeldConnection sales2("SALES");
  HeldConnection stock("STOCK");
  for (HeldConnection* held : {&sales1, &sales2, &stock}) ASSERT_TRUE(held->Connected());

  EXPECT_EQ(KillAllConnections("srv", "pw", "SALES"), 0);
  const int killed = STANDIN_CONNECTION_KILLED;
  EXPECT_EQ(sales1.EndingCode(), killed);
  EXPECT_EQ(sales2.EndingCode(), killed);
  const std::string list = ConnectionList();
  EXPECT_EQ(list, std::to_string(ProcessOf(list, "STOCK")) + ":STOCK:SYSADM:hold-connection");

  EXPECT_EQ(KillAllConnections("srv", "pw", ""), 0);
  EXPECT_EQ(stock.EndingCode(), killed);
  EXPECT_EQ(ConnectionList(), "");
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), 0);
}

TEST_F(ConnectionsEndToEndTest, AProcessThatCrashedIsNoLongerListed) {
  ASSERT_EQ(CreateDB("srv", "pw", "SALES"), 0);
  HeldConnection held("SALES");
  ASSERT_TRUE(held.Connected());
  EXPECT_NE(ConnectionList(), "");
  held.Crash();
  EXPECT_EQ(ConnectionList(), "");
  EXPECT_EQ(DropDB("srv", "pw", "SALES"), 0);
}

}  // namespace
