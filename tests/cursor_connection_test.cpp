#include "client/cursor_connection.h"

#include <cstring>
#include <string>
#include <vector>

#include "fake_client_test.h"
#include "quillet.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace quillet {
namespace {

const std::vector<std::string> kFullConnect = {
    "CursorConnect(&,db/usr/pw,0)", "GetParameter(7,1003,&0,&4)", "SetIsolation(7,RL)",
    "SetParameter(7,3003,&1,0)",    "SetParameter(7,3007,&0,0)",  "SetParameter(7,3010,&0,0)",
    "SetParameter(7,3011,&0,0)",
};

using CursorConnectionTest = FakeClientTest;

TEST_F(CursorConnectionTest, ParameterOneGivesTheFixedSetupInOrder) {
  CursorConnection connection;
  EXPECT_TRUE(connection.Connect("db", "usr", "pw", 0));
  EXPECT_EQ(fake::Calls(), kFullConnect);
  EXPECT_EQ(connection.LastOperation(), kCursorConnect);
  EXPECT_TRUE(connection.Disconnect());
  EXPECT_EQ(fake::Calls().back(), "CursorDisconnect(7)");
  EXPECT_EQ(connection.LastOperation(), kCursorDisconnect);
}

TEST_F(CursorConnectionTest, OtherParameterValueSkipsTheSetupButOpens) {
  fake::SetParameter1003(2);
  {
    CursorConnection connection;
    EXPECT_TRUE(connection.Connect("db", "usr", "", 0));
  }
  EXPECT_THAT(fake::Calls(), ElementsAre("CursorConnect(&,db/usr/,0)", "GetParameter(7,1003,&0,&4)",
                                         "CursorDisconnect(7)"));
}

TEST_F(CursorConnectionTest, NonZeroModeOpensWithTheOtherOrdinal) {
  for (int32_t mode : {1, -3}) {
    fake::Reset();
    CursorConnection connection;
    connection.Connect("db", "usr", "pw", mode);
    EXPECT_EQ(fake::Calls().front(), "CursorConnectOtherMode(&,db/usr/pw,0)") << mode;
  }
}

TEST_F(CursorConnectionTest, FailedOpeningIsFollowedByNoCallNotEvenAClose) {
  fake::Returns(sqlwntm::CursorConnect, {-9});
  {
    CursorConnection connection;
    EXPECT_FALSE(connection.Connect("db", "usr", "pw", 0));
    EXPECT_EQ(connection.ReturnCode(), -9);
  }
  EXPECT_THAT(fake::EntryPoints(), ElementsAre(sqlwntm::CursorConnect));
}

// Each step after the opening, failing in turn: the step's code is kept, the cursor is closed
// exactly once, and the connection is left closed.
TEST_F(CursorConnectionTest, FailedSetupStepKeepsItsCodeAndClosesOnce) {
  struct Step {
    sqlwntm::EntryPoint failing;
    std::vector<int16_t> codes;
    std::size_t callsBeforeClose;
  };
  const Step steps[] = {
      {sqlwntm::GetParameter, {5}, 2},       {sqlwntm::SetIsolation, {6}, 3},
      {sqlwntm::SetParameter, {7}, 4},       {sqlwntm::SetParameter, {0, 8}, 5},
      {sqlwntm::SetParameter, {0, 0, 9}, 6}, {sqlwntm::SetParameter, {0, 0, 0, 10}, 7}};
  for (const Step& step : steps) {
    fake::Reset();
    fake::Returns(step.failing, step.codes);
    fake::Returns(sqlwntm::CursorDisconnect, {99});
    {
      CursorConnection connection;
      EXPECT_FALSE(connection.Connect("db", "usr", "pw", 0));
      EXPECT_EQ(connection.ReturnCode(), step.codes.back());
      EXPECT_EQ(connection.LastOperation(), kCursorConnect);
      const std::vector<std::string> calls = fake::Calls();
      ASSERT_EQ(calls.size(), step.callsBeforeClose + 1);
      EXPECT_EQ(calls.back(), "CursorDisconnect(7)");
      EXPECT_TRUE(connection.Disconnect());
      EXPECT_EQ(connection.ReturnCode(), 0);
    }
    EXPECT_EQ(fake::CountOf(sqlwntm::CursorDisconnect), 1) << "step " << step.callsBeforeClose;
  }
}

TEST_F(CursorConnectionTest, ClosesExactlyOnceHoweverItIsClosed) {
  {
    CursorConnection connection;
    connection.Connect("db", "usr", "pw", 0);
    connection.Disconnect();
    EXPECT_TRUE(connection.Disconnect());
    EXPECT_EQ(connection.ReturnCode(), 0);
  }
  EXPECT_EQ(fake::CountOf(sqlwntm::CursorDisconnect), 1);
  {
    CursorConnection connection;
    connection.Connect("db", "usr", "pw", 0);
  }
  EXPECT_EQ(fake::CountOf(sqlwntm::CursorDisconnect), 2)
      << "the destructor closes an open connection";
  { CursorConnection never_opened; }
  EXPECT_EQ(fake::CountOf(sqlwntm::CursorDisconnect), 2);
}

TEST_F(CursorConnectionTest, FailedCloseStillLeavesTheConnectionClosed) {
  fake::Returns(sqlwntm::CursorDisconnect, {4});
  {
    CursorConnection connection;
    connection.Connect("db", "usr", "pw", 0);
    EXPECT_FALSE(connection.Disconnect());
    EXPECT_EQ(connection.ReturnCode(), 4);
  }
  EXPECT_EQ(fake::CountOf(sqlwntm::CursorDisconnect), 1);
}

TEST_F(CursorConnectionTest, LoginTextsThatCannotBeJoinedAreRefusedBeforeAnyCall) {
  const std::string at_limit(ConnectText::kMaxLoginLength - 2, 'd');
  const char* refused[][3] = {
      {nullptr, "u", "p"}, {"d", nullptr, "p"}, {"d", "u", nullptr}, {at_limit.c_str(), "uu", "p"}};
  for (const auto& login : refused) {
    CursorConnection connection;
    EXPECT_FALSE(connection.Connect(login[0], login[1], login[2], 0));
    EXPECT_EQ(connection.ReturnCode(), QUILLET_ERROR_ARGUMENT);
  }
  EXPECT_THAT(fake::Calls(), IsEmpty());

  CursorConnection connection;
  EXPECT_TRUE(connection.Connect(at_limit.c_str(), "u", "p", 0));
  EXPECT_EQ(fake::Calls().front(), "CursorConnect(&," + at_limit + "/u/p,0)");
}

TEST_F(CursorConnectionTest, ConnectTextIsWipedOnceTheOpeningCallReturns) {
  bool wiped = false;
  fake::OnCall(sqlwntm::GetParameter, [&] {
    const char* text = fake::LastConnectTextAddress();
    wiped = std::string(text, ConnectText::kSize) == std::string(ConnectText::kSize, '\0');
  });
  CursorConnection connection;
  ASSERT_TRUE(connection.Connect("db", "usr", "secret", 0));
  EXPECT_TRUE(wiped);
}

TEST_F(CursorConnectionTest, OutValuesStartAtZeroAndTheNameEndsAtItsLow8BitLength) {
  fake::SetColumns({{1, "EIGHTEEN_CHARS_XYZ", 30, 18}, {4, "ABCDEFGH", 10, 256 + 3}});
  CursorConnection connection;
  connection.Connect("db", "usr", "pw", 0);
  int32_t type = 99;
  int32_t length = 99;
  char name[kColumnNameSize];
  std::memset(name, 'x', sizeof name);
  ASSERT_TRUE(connection.DescribeSelectItem(1, &type, &length, name));
  EXPECT_EQ(type, 1);
  EXPECT_EQ(length, 30);
  EXPECT_STREQ(name, "EIGHTEEN_CHARS_XYZ");
  ASSERT_TRUE(connection.DescribeSelectItem(2, &type, &length, name));
  EXPECT_STREQ(name, "ABC");

  ASSERT_TRUE(connection.DescribeSelectItem(3, &type, &length, name));  // nothing written
  EXPECT_EQ(type, 0);
  EXPECT_EQ(length, 0);
  int32_t count = 99;
  fake::Returns(sqlwntm::GetNoSelectItems, {12});
  EXPECT_FALSE(connection.GetNoSelectItems(&count));
  EXPECT_EQ(count, 0);
}

TEST_F(CursorConnectionTest, OperationsPassTheirFixedArguments) {
  fake::SetParameter1003(0);
  CursorConnection connection;
  connection.Connect("db", "usr", "pw", 0);
  char buffer[50];
  int32_t count = 5;
  connection.SelectBuffer(3, buffer, 50);
  connection.CompileAndExecute("SELECT 1");
  connection.Execute();
  connection.Next();
  connection.Commit();
  connection.Load("LOAD x");
  connection.GetNoRows(&count);
  connection.Unload("UNLOAD y");
  connection.ReleaseLog();
  const std::vector<std::string> calls = fake::Calls();
  EXPECT_THAT(std::vector<std::string>(calls.begin() + 2, calls.end()),
              ElementsAre("SelectBuffer(7,3,2,&,50,0,0,0)", "CompileAndExecute(7,SELECT 1,0)",
                          "Execute(7)", "Next(7)", "Commit(7)", "Load(7,LOAD x,0)",
                          "GetNoRows(7,&)", "Unload(7,UNLOAD y,0)", "ReleaseLog(7)"));
}

}  // namespace
}  // namespace quillet
