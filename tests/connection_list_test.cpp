#include <cstring>
#include <string>
#include <vector>

#include "active_cursors_reply.h"
#include "fake_client_test.h"
#include "quillet.h"

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using fake::ActiveCursorsReply;
using fake::CursorRecord;

class ListConnectionsTest : public FakeClientTest {
 protected:
  // A host buffer sized by the documented limit, filled with a marker so that every byte
  // written shows; the guard behind it must stay untouched.
  ListConnectionsTest() { std::memset(&host, '#', sizeof host); }
  int32_t List() { return ListConnections("srv", "pw", host.list); }
  std::string Text() const { return std::string(host.list); }

  struct {
    char list[QUILLET_CONNECTION_LIST_SIZE];
    char guard[64];
  } host;
};

TEST_F(ListConnectionsTest, ListsEachProcessAscendingJoinedBySemicolons) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{40, "CLERK", "STOCK", "ENTRY"},
                                                  {12, "X", " ", "BATCH"},
                                                  {3, "ADMIN", "SALES", "REPORTS"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "3:SALES:ADMIN:REPORTS;12:*:Server:BATCH;40:STOCK:CLERK:ENTRY");
  EXPECT_THAT(fake::Calls(), ElementsAre("Connect(&,srv,pw)",
                                         "GetActiveCursors(7,-32766,&,52012,&)", "Disconnect(7)"));
}

TEST_F(ListConnectionsTest, ProcessNumbersAreUnsignedBytes) {
  fake::SetActiveCursorsReply(
      ActiveCursorsReply({{255, "U", "D", "P"}, {128, "U", "D", "P"}, {1, "U", "D", "P"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "1:D:U:P;128:D:U:P;255:D:U:P");
}

TEST_F(ListConnectionsTest, ZeroCountServerProcessesAndProcessZeroGiveTheEmptyText) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "");
  fake::SetActiveCursorsReply(ActiveCursorsReply({{0, "U", "D", "APP"}, {0, "V", "E", "APP"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "");
  fake::SetActiveCursorsReply(
      ActiveCursorsReply({{9, "SYSADM", "D", "SQLBase"}, {2, "SYSADM", "E", "SQLBase"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "");
}

TEST_F(ListConnectionsTest, OnlyTheExactServerProgramNameIsLeftOut) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{1, "U", "D", "SQLBASE"},
                                                  {2, "U", "D", "sqlbase"},
                                                  {3, "U", "D", "SQLBase "},
                                                  {4, "U", "D", "SQLBase"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "1:D:U:SQLBASE;2:D:U:sqlbase;3:D:U:SQLBase ");
}

TEST_F(ListConnectionsTest, EachProcessIsListedOnceJudgedOnItsFirstEntry) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{5, "U", "D", "APP"},
                                                  {6, "U", "D", "SQLBase"},
                                                  {5, "U", "D", "APP"},
                                                  {6, "U", "D", "SQLBase"},
                                                  {5, "U", "D", "APP"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "5:D:U:APP");
  // Which of a process's differing entries sorts first is not fixed; only one of them shows.
  fake::SetActiveCursorsReply(ActiveCursorsReply({{8, "U", "ONE", "APP"}, {8, "U", "TWO", "APP"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_THAT(Text(), AnyOf("8:ONE:U:APP", "8:TWO:U:APP"));
}

TEST_F(ListConnectionsTest, BlankLedDatabaseShowsAStarAndTheServerUser) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{12, "X", " ", "BATCH"},
                                                  {13, "LONGUSER", " MAIN", "BATCH"},
                                                  {7, "ADMIN", "", "APP"},
                                                  {14, "ADMIN", "A B", "APP"}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "7::ADMIN:APP;12:*:Server:BATCH;13:*MAIN:Server:BATCH;14:A B:ADMIN:APP");
}

TEST_F(ListConnectionsTest, FailedConnectEmptiesTheBufferAndMakesNoOtherCall) {
  std::strcpy(host.list, "1:OLD:LIST:TEXT");
  fake::Returns(sqlwntm::Connect, {401});
  EXPECT_EQ(List(), 401);
  EXPECT_EQ(Text(), "");
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect));
}

TEST_F(ListConnectionsTest, FailedReplyGivesTheEmptyTextAndStillDisconnects) {
  fake::Returns(sqlwntm::GetActiveCursors, {-8});
  fake::Returns(sqlwntm::Disconnect, {9});
  EXPECT_EQ(List(), -8);
  EXPECT_EQ(Text(), "");
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::Connect, sqlwntm::GetActiveCursors, sqlwntm::Disconnect));
}

TEST_F(ListConnectionsTest, FailedDisconnectDoesNotChangeTheResult) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{3, "U", "D", "P"}}));
  fake::Returns(sqlwntm::Disconnect, {9});
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "3:D:U:P");
}

TEST_F(ListConnectionsTest, NullBufferIsRefusedBeforeAnyCall) {
  EXPECT_EQ(ListConnections("srv", "pw", nullptr), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

TEST_F(ListConnectionsTest, TextsAreReadOnlyInsideTheirFieldsAndCutForTheListing) {
  // Every field full, so none holds a NUL; each runs straight into the next one.
  fake::SetActiveCursorsReply(
      ActiveCursorsReply({{9, std::string(19, 'u'), std::string(30, 'd'), std::string(34, 'p')}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(),
            "9:" + std::string(9, 'd') + ":" + std::string(9, 'u') + ":" + std::string(31, 'p'));
  // Texts just within the cut come through whole.
  fake::SetActiveCursorsReply(
      ActiveCursorsReply({{9, std::string(9, 'u'), std::string(9, 'd'), std::string(31, 'p')}}));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(),
            "9:" + std::string(9, 'd') + ":" + std::string(9, 'u') + ":" + std::string(31, 'p'));
}

// Clients name their own programs (and users): a name must not forge a line or a field. A ':'
// in the program, the last field, splits nothing; bytes from 0x80 up pass as they are. The
// bulk kill still matches the raw database name.
TEST_F(ListConnectionsTest, NamesCannotForgeLinesOrFields) {
  const std::vector<CursorRecord> records = {{4, "USR", "STOCK", "x;9:STOCK:SYSADM:y"},
                                             {5, "a:b;c", "d:b\x7F", "C:\\app\\x.exe"},
                                             {6, "\t\r\n\x1B", "\x01\x1F d", "\xE9\xFF\x80:\x7F"},
                                             {7, " ", " :;", "p"}};
  fake::SetActiveCursorsReply(ActiveCursorsReply(records));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(),
            "4:STOCK:USR:x_9:STOCK:SYSADM:y;5:d_b_:a_b_c:C:\\app\\x.exe;"
            "6:__ d:____:\xE9\xFF\x80:_;7:*__:Server:p");

  fake::Reset();
  fake::SetActiveCursorsReply(ActiveCursorsReply(records));
  EXPECT_EQ(KillAllConnections("srv", "pw", "d:b\x7F"), 0);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect, sqlwntm::GetActiveCursors,
                                               sqlwntm::KillConnection, sqlwntm::Disconnect));
  EXPECT_EQ(fake::Calls()[2], "KillConnection(7,5)");
}

TEST_F(ListConnectionsTest, CountAboveTheBuffersRoomUsesTheFirst500Records) {
  std::vector<CursorRecord> records;
  for (int i = 0; i < 500; ++i) {
    records.push_back({static_cast<uint8_t>(i < 499 ? 1 : 200), "U", "D", "P"});
  }
  fake::SetActiveCursorsReply(ActiveCursorsReply(records, 0xFFFF));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text(), "1:D:U:P;200:D:U:P");
}

TEST_F(ListConnectionsTest, FullestPossibleListFitsTheDocumentedRoom) {
  // All 500 records used, every process number present, every field full and without a NUL.
  std::vector<CursorRecord> records;
  for (int i = 0; i < 500; ++i) {
    records.push_back({static_cast<uint8_t>(255 - i % 255), std::string(19, 'u'),
                       std::string(30, 'd'), std::string(34, 'p')});
  }
  fake::SetActiveCursorsReply(ActiveCursorsReply(records));
  EXPECT_EQ(List(), 0);
  EXPECT_EQ(Text().size(), static_cast<std::size_t>(QUILLET_CONNECTION_LIST_SIZE - 1));
  EXPECT_EQ(host.guard[0], '#');
  const std::string line =
      ":" + std::string(9, 'd') + ":" + std::string(9, 'u') + ":" + std::string(31, 'p');
  EXPECT_EQ(Text().substr(0, 2 * line.size() + 4), "1" + line + ";2" + line + ";");
  EXPECT_EQ(Text().substr(Text().size() - line.size() - 4), ";255" + line);
}

class KillAllConnectionsTest : public FakeClientTest {
 protected:
  // The kill calls made, as "KillConnection(handle,process)".
  static std::vector<std::string> Kills() {
    std::vector<std::string> kills;
    for (const std::string& call : fake::Calls()) {
      if (call.rfind("KillConnection(", 0) == 0) kills.push_back(call);
    }
    return kills;
  }
};

TEST_F(KillAllConnectionsTest, EmptyNameKillsEveryClientProcessOnceInAscendingOrder) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{40, "U", "STOCK", "APP"},
                                                  {0, "U", "SALES", "APP"},
                                                  {3, "U", "SALES", "APP"},
                                                  {40, "U", "STOCK", "APP"},
                                                  {7, "SYSADM", "SALES", "SQLBase"},
                                                  {12, "U", " ", "BATCH"},
                                                  {40, "U", "STOCK", "APP"}}));
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), 0);
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,srv,pw)", "GetActiveCursors(7,-32766,&,52012,&)",
                          "KillConnection(7,3)", "KillConnection(7,12)", "KillConnection(7,40)",
                          "Disconnect(7)"));
}

TEST_F(KillAllConnectionsTest, NamedDatabaseIsMatchedExactlyAndCaseSensitively) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{1, "U", "SALES", "APP"},
                                                  {2, "U", "sales", "APP"},
                                                  {3, "U", "SALES ", "APP"},
                                                  {4, "U", "SALESX", "APP"},
                                                  {5, "U", "SALES", "SQLBase"},
                                                  {6, "U", "SALES", "SQLBASE"}}));
  EXPECT_EQ(KillAllConnections("srv", "pw", "SALES"), 0);
  EXPECT_THAT(Kills(), ElementsAre("KillConnection(7,1)", "KillConnection(7,6)"));
}

TEST_F(KillAllConnectionsTest, LongDatabaseNamesAreComparedWholeNotAsListed) {
  const std::string east = "WAREHOUSE_EAST";
  const std::string full(30, 'w');  // fills its field, no NUL
  fake::SetActiveCursorsReply(ActiveCursorsReply({{1, "U", east, "APP"},
                                                  {2, "U", "WAREHOUSE_WEST", "APP"},
                                                  {3, "U", "WAREHOUSE", "APP"},
                                                  {4, "U", full, "APP"}}));
  EXPECT_EQ(KillAllConnections("srv", "pw", east.c_str()), 0);
  EXPECT_THAT(Kills(), ElementsAre("KillConnection(7,1)"));
  fake::Reset();
  fake::SetActiveCursorsReply(ActiveCursorsReply(
      {{1, "U", east, "APP"}, {3, "U", "WAREHOUSE", "APP"}, {4, "U", full, "APP"}}));
  EXPECT_EQ(KillAllConnections("srv", "pw", "WAREHOUSE"), 0);
  EXPECT_THAT(Kills(), ElementsAre("KillConnection(7,3)"));
  fake::Reset();
  fake::SetActiveCursorsReply(ActiveCursorsReply({{4, "U", full, "APP"}}));
  EXPECT_EQ(KillAllConnections("srv", "pw", full.c_str()), 0);
  EXPECT_THAT(Kills(), ElementsAre("KillConnection(7,4)"));
  EXPECT_EQ(KillAllConnections("srv", "pw", (full + "w").c_str()), 0);
  EXPECT_THAT(Kills(), ElementsAre("KillConnection(7,4)"))
      << "a longer name never matches a full field";
}

TEST_F(KillAllConnectionsTest, EmptyListOrNoMatchGivesZeroWithoutAKill) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({}));
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), 0);
  fake::SetActiveCursorsReply(ActiveCursorsReply({{1, "U", "STOCK", "APP"}}));
  EXPECT_EQ(KillAllConnections("srv", "pw", "SALES"), 0);
  EXPECT_THAT(Kills(), IsEmpty());
  EXPECT_EQ(fake::CountOf(sqlwntm::Disconnect), 2);
}

TEST_F(KillAllConnectionsTest, LastCountedFailureDecidesAndTheWalkGoesOn) {
  const auto reply = ActiveCursorsReply(
      {{1, "U", "D", "APP"}, {2, "U", "D", "APP"}, {3, "U", "D", "APP"}, {4, "U", "D", "APP"}});
  fake::SetActiveCursorsReply(reply);
  fake::Returns(sqlwntm::KillConnection, {2528, 2528, 2528, 2528});
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), 0) << "2528 is never counted";
  fake::Returns(sqlwntm::KillConnection, {-11, 0, -22, 0});
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), -22);
  fake::Returns(sqlwntm::KillConnection, {-11, 0, 2528, 0});
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), -11);
  EXPECT_EQ(fake::CountOf(sqlwntm::KillConnection), 12);
}

TEST_F(KillAllConnectionsTest, FailedConnectMakesNoOtherCall) {
  fake::Returns(sqlwntm::Connect, {401});
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), 401);
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::Connect));
}

TEST_F(KillAllConnectionsTest, FailedReplyKillsNothingAndStillDisconnects) {
  fake::SetActiveCursorsReply(ActiveCursorsReply({{1, "U", "D", "APP"}}));
  fake::Returns(sqlwntm::GetActiveCursors, {-8});
  EXPECT_EQ(KillAllConnections("srv", "pw", ""), -8);
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::Connect, sqlwntm::GetActiveCursors, sqlwntm::Disconnect));
}

TEST_F(KillAllConnectionsTest, DuplicateProcessIsKilledAtMostOnce) {
  // Which entry of process 5 sorts first is not fixed, so it is killed once or not at all.
  fake::SetActiveCursorsReply(ActiveCursorsReply(
      {{5, "U", "SALES", "APP"}, {5, "U", "STOCK", "APP"}, {5, "U", "SALES", "APP"}}));
  EXPECT_EQ(KillAllConnections("srv", "pw", "SALES"), 0);
  EXPECT_LE(fake::CountOf(sqlwntm::KillConnection), 1);
}

TEST_F(KillAllConnectionsTest, NullDatabaseNameIsRefusedBeforeAnyCall) {
  EXPECT_EQ(KillAllConnections("srv", "pw", nullptr), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

}  // namespace
