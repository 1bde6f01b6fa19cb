// The stand-in against someone after its passwords: what the catalogue keeps of them on disk,
// and what a refusal's timing tells of its users.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "hardening_fixture.h"

namespace {

TEST_F(StandinHardeningTest, TheCatalogueKeepsNoPasswordAsTyped) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "GRANT CONNECT TO clerk IDENTIFIED BY Sesame1234");
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
  const std::string bytes = CatalogueBytes();
  EXPECT_EQ(bytes.find("Sesame1234"), std::string::npos);
  EXPECT_NE(bytes.find("pbkdf2-sha256$"), std::string::npos);
  ASSERT_EQ(standin_server_create("twin", "pw"), 0);
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_CursorConnectOtherMode(&handle, "SALES/CLERK/Sesame1234", 0), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(handle), 0);
  EXPECT_EQ(sqlwntm_CursorConnectOtherMode(&handle, "SALES/CLERK/Sesame123", 0), STANDIN_BAD_LOGIN);
  EXPECT_EQ(sqlwntm_Connect(&handle, "twin", "pw"), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), 0);
}

// A refusal that came sooner for an unknown user would tell which users exist.
TEST_F(StandinHardeningTest, AnUnknownUserIsRefusedAsSlowlyAsAWrongPassword) {
  EXPECT_EQ(sqlwntm_CursorDisconnect(calls::NewDatabase("SALES")), 0);
  auto refusal = [](const char* connect, std::chrono::steady_clock::duration* fastest) {
    uint16_t handle = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sqlwntm_CursorConnect(&handle, connect, 0), STANDIN_BAD_LOGIN);
    *fastest = std::min(*fastest, std::chrono::steady_clock::now() - start);
  };
  // Taken in turns, so that a busy stretch of the machine slows both alike.
  auto wrongPassword = std::chrono::steady_clock::duration::max();
  auto unknownUser = wrongPassword;
  for (int round = 0; round < 15; ++round) {
    refusal("SALES/SYSADM/guess", &wrongPassword);
    refusal("SALES/NOBODY/guess", &unknownUser);
  }
  EXPECT_GT(unknownUser * 4, wrongPassword * 3);
}

TEST_F(StandinHardeningTest, ACatalogueWithClearPasswordsIsHashedOnFirstUse) {
  const uint16_t server = calls::Server();
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
  // The catalogue as earlier versions wrote it.
  OnCatalogue(
      "UPDATE settings SET value = 'OldServerPw' WHERE key = 'password';"
      "UPDATE users SET password = 'OldUserPw';"
      "DELETE FROM settings WHERE key = 'passwords';");
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "OldServerPw"), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), 0);
  EXPECT_EQ(CatalogueBytes().find("OldServerPw"), std::string::npos);
  EXPECT_EQ(CatalogueBytes().find("OldUserPw"), std::string::npos);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "pbkdf2-sha256"), STANDIN_BAD_PASSWORD);
  EXPECT_EQ(sqlwntm_Connect(&handle, "srv", "OldServerPw"), 0);
  EXPECT_EQ(sqlwntm_Disconnect(handle), 0);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/OldUserPw", 0), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(handle), 0);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/SYSADM", 0), STANDIN_BAD_LOGIN);
}

}  // namespace
