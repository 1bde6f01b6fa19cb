// The stand-in's cursor connections: login, settings, statements, select, lock, load, unload.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "scratch_root.h"
#include "standin_calls.h"

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class StandinCursorTest : public ScratchRootTest {
 protected:
  void SetUp() override {
    ScratchRootTest::SetUp();
    cursor_ = calls::NewDatabase("SALES");
  }
  void TearDown() override {
    sqlwntm_CursorDisconnect(cursor_);
    ScratchRootTest::TearDown();
  }

  uint16_t cursor_ = 0;
};

using Rows = std::vector<std::vector<std::string>>;

TEST_F(StandinCursorTest, ConnectingChecksTheTextTheUserAndThePassword) {
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM", 0), STANDIN_BAD_CONNECT_STRING);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/wrong", 0), STANDIN_BAD_LOGIN);
  EXPECT_EQ(sqlwntm_CursorConnectOtherMode(&handle, "SALES/NOBODY/SYSADM", 0), STANDIN_BAD_LOGIN);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "OTHER/SYSADM/SYSADM", 0), STANDIN_NO_SUCH_DATABASE);

  calls::Run(cursor_, "GRANT CONNECT TO clerk IDENTIFIED BY a/b");
  EXPECT_EQ(sqlwntm_CursorConnectOtherMode(&handle, "SALES/CLERK/a/b", 0), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(handle), 0);
  EXPECT_EQ(sqlwntm_CursorDisconnect(handle), STANDIN_BAD_HANDLE);
}

// A failure with nothing to say of its own leaves no earlier failure's words in its place.
TEST_F(StandinCursorTest, AFailureWithoutWordsDoesNotBorrowTheLastOnes) {
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, "SELECT nosuch()", 0), STANDIN_SQL_ERROR);
  EXPECT_NE(standin_last_message(STANDIN_SQL_ERROR), nullptr);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, "-- only a comment", 0), STANDIN_SQL_ERROR);
  EXPECT_EQ(standin_last_message(STANDIN_SQL_ERROR), nullptr);
}

TEST_F(StandinCursorTest, ADatabaseOnTwoServersNeedsTheServerNamed) {
  ASSERT_EQ(standin_server_create("second", "pw"), 0);
  uint16_t server = calls::Server("second");
  EXPECT_EQ(sqlwntm_CreateDatabase(server, "SALES", 0), 0);
  sqlwntm_Disconnect(server);
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/SYSADM", 0), STANDIN_AMBIGUOUS_DATABASE);
  setenv("QUILLET_STANDIN_SERVER", "second", 1);
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, "SALES/SYSADM/SYSADM", 0), 0);
  server = calls::Server("second");
  EXPECT_EQ(calls::ActiveCursors(server).size(), 2u);
  sqlwntm_CursorDisconnect(handle);
  sqlwntm_Disconnect(server);
}

TEST_F(StandinCursorTest, TheSessionParameterReadsOneAndTheSettingsAreKept) {
  int32_t value = 0;
  int32_t length = 0;
  EXPECT_EQ(sqlwntm_GetParameter(cursor_, 1003, &value, &length), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(sqlwntm_SetIsolation(cursor_, "RL"), 0);
  EXPECT_EQ(sqlwntm_SetIsolation(cursor_, "XX"), STANDIN_BAD_PARAMETER);
  int32_t one = 1;
  EXPECT_EQ(sqlwntm_SetParameter(cursor_, 3003, &one, 0), 0);
  EXPECT_EQ(sqlwntm_GetParameter(cursor_, 3003, &value, &length), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(sqlwntm_SetParameter(cursor_, 4711, &one, 0), STANDIN_BAD_PARAMETER);

  calls::Run(cursor_, "CREATE TABLE t(a)");
  EXPECT_EQ(sqlwntm_SetIsolation(cursor_, "RO"), 0);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, "INSERT INTO t VALUES(1)", 0), STANDIN_SQL_ERROR);
}

TEST_F(StandinCursorTest, SelectColumnsAreDescribedWithTheirTypeCodes) {
  calls::Run(cursor_,
             "CREATE TABLE t(name VARCHAR(20), age INTEGER, born DATE, at TIME, seen TIMESTAMP,"
             " note LONG VARCHAR, price DECIMAL(8,2), a_rather_long_column_name TEXT)");
  calls::Run(cursor_,
             "INSERT INTO t VALUES('Smith', 42, '1980-01-02', '12:00:00', NULL, 'x', 1.5, '')");
  calls::Run(cursor_, "SELECT *, age * 2, name || '!' FROM t");
  int32_t count = 0;
  EXPECT_EQ(sqlwntm_GetNoSelectItems(cursor_, &count), 0);
  ASSERT_EQ(count, 10);
  const int32_t expectedTypes[] = {1, 2, 5, 6, 3, 4, 2, 4, 2, 1};
  for (int32_t column = 1; column <= count; ++column) {
    int32_t type = 0;
    int32_t length = 0;
    char name[256];
    std::memset(name, 'x', sizeof name);
    uint8_t nameLength = 0;
    int32_t extra1 = 7;
    int32_t extra2 = 7;
    EXPECT_EQ(sqlwntm_DescribeSelectItem(cursor_, column, &type, &length, name, &nameLength,
                                         &extra1, &extra2),
              0);
    EXPECT_EQ(type, expectedTypes[column - 1]) << column;
    EXPECT_EQ(std::strlen(name), nameLength);
    if (column == 1) {
      EXPECT_EQ(length, 20);
    }
    if (column == 8) {
      EXPECT_STREQ(name, "a_rather_long_colu");
    }
  }
  EXPECT_EQ(
      sqlwntm_DescribeSelectItem(cursor_, 11, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      STANDIN_BAD_COLUMN);
  // Describing looked at the first row; fetching still starts there.
  EXPECT_EQ(calls::Select(cursor_, "SELECT name, seen FROM t"), (Rows{{"Smith", ""}}));
  // A long name is cut as values are, between UTF-8 characters: 17 bytes here, not 18.
  std::string accents;
  for (int k = 0; k < 10; ++k) accents += "\xC3\xA9";
  calls::Run(cursor_, ("SELECT 1 AS \"a" + accents + "\"").c_str());
  char name[256];
  EXPECT_EQ(
      sqlwntm_DescribeSelectItem(cursor_, 1, nullptr, nullptr, name, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(name, "a" + accents.substr(0, 16));
}

TEST_F(StandinCursorTest, AStatementThatChangesDataRunsOnceWhenDescribedAndFetched) {
  calls::Run(cursor_, "CREATE TABLE t(a INTEGER)");
  calls::Run(cursor_, "INSERT INTO t VALUES(1) RETURNING a + 1");
  int32_t type = 0;
  EXPECT_EQ(
      sqlwntm_DescribeSelectItem(cursor_, 1, &type, nullptr, nullptr, nullptr, nullptr, nullptr),
      0);
  EXPECT_EQ(type, 1);  // not looked at: no first value to tell
  EXPECT_EQ(sqlwntm_Execute(cursor_), 0);
  EXPECT_EQ(sqlwntm_Next(cursor_), 0);
  EXPECT_EQ(sqlwntm_Next(cursor_), 1);
  EXPECT_EQ(calls::Select(cursor_, "SELECT count(*) FROM t"), (Rows{{"1"}}));
}

TEST_F(StandinCursorTest, FetchCopiesAtMostTheBoundLengthAndEndsWithOne) {
  calls::Run(cursor_, "CREATE TABLE t(a TEXT)");
  calls::Run(cursor_, "INSERT INTO t VALUES('abcdefgh'), ('xy')");
  EXPECT_EQ(sqlwntm_Next(cursor_), STANDIN_NO_STATEMENT);
  calls::Run(cursor_, "SELECT a FROM t ORDER BY a");
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(sqlwntm_SelectBuffer(cursor_, 1, 2, buffer, 4, 0, 0, 0), 0);
  EXPECT_EQ(sqlwntm_SelectBuffer(cursor_, 2, 2, buffer, 4, 0, 0, 0), STANDIN_BAD_COLUMN);
  EXPECT_EQ(sqlwntm_Execute(cursor_), 0);
  EXPECT_EQ(sqlwntm_Next(cursor_), 0);
  EXPECT_EQ(std::string(buffer, 5), "abcd#");
  EXPECT_EQ(sqlwntm_Next(cursor_), 0);
  EXPECT_EQ(std::string(buffer, 5), std::string("xy\0d#", 5));
  EXPECT_EQ(sqlwntm_Next(cursor_), 1);
  int32_t rows = 0;
  EXPECT_EQ(sqlwntm_GetNoRows(cursor_, &rows), 0);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(sqlwntm_Commit(cursor_), 0);
}

TEST_F(StandinCursorTest, StatementsRunOneAtATimeAndReportTheirChanges) {
  calls::Run(cursor_, "CREATE TABLE t(a)");
  calls::Run(cursor_, "INSERT INTO t VALUES(1), (2), (3);");
  int32_t rows = 0;
  EXPECT_EQ(sqlwntm_GetNoRows(cursor_, &rows), 0);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, "DELETE FROM t; DROP TABLE t", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, "SELEKT 1", 0), STANDIN_SQL_ERROR);
  EXPECT_EQ(calls::Select(cursor_, "SELECT count(*) FROM t"), (Rows{{"3"}}));
  calls::Run(cursor_, "update statistics on  database");
  EXPECT_EQ(calls::Select(cursor_, "SELECT count(*) > 0 FROM sqlite_stat1"), (Rows{{"1"}}));
}

TEST_F(StandinCursorTest, TheDatabaseLockShutsOutOtherConnectionsUntilUnlocked) {
  calls::Run(cursor_, "CREATE TABLE t(a)");
  const uint16_t other = calls::Cursor("SALES/SYSADM/SYSADM");
  int32_t noWait = 0;
  EXPECT_EQ(sqlwntm_SetParameter(other, 3003, &noWait, 0), 0);
  calls::Run(cursor_, "LOCK DATABASE ");
  calls::Run(cursor_, "INSERT INTO t VALUES(1)");
  EXPECT_EQ(sqlwntm_CompileAndExecute(other, "LOCK DATABASE ", 0), STANDIN_DATABASE_LOCKED);
  EXPECT_EQ(sqlwntm_CompileAndExecute(other, "INSERT INTO t VALUES(2)", 0),
            STANDIN_DATABASE_LOCKED);
  EXPECT_EQ(calls::Select(other, "SELECT count(*) FROM t"), (Rows{{"0"}}));
  calls::Run(cursor_, "UNLOCK DATABASE");
  // The lock, and the work under it, end with the commit that follows the unlock.
  EXPECT_EQ(calls::Select(other, "SELECT count(*) FROM t"), (Rows{{"0"}}));
  EXPECT_EQ(sqlwntm_Commit(cursor_), 0);
  EXPECT_EQ(calls::Select(other, "SELECT count(*) FROM t"), (Rows{{"1"}}));
  calls::Run(other, "LOCK DATABASE ");
  calls::Run(other, "UNLOCK DATABASE");
  sqlwntm_CursorDisconnect(other);
}

TEST_F(StandinCursorTest, ALockedConnectionThatEndsWithoutUnlockingKeepsNothing) {
  calls::Run(cursor_, "CREATE TABLE t(a)");
  const uint16_t locker = calls::Cursor("SALES/SYSADM/SYSADM");
  calls::Run(locker, "LOCK DATABASE ");
  calls::Run(locker, "INSERT INTO t VALUES(1)");
  EXPECT_EQ(sqlwntm_CursorDisconnect(locker), 0);
  EXPECT_EQ(calls::Select(cursor_, "SELECT count(*) FROM t"), (Rows{{"0"}}));
  calls::Run(cursor_, "LOCK DATABASE ");
}

TEST_F(StandinCursorTest, AnUnloadedScriptLoadsBackToTheSameData) {
  calls::Run(cursor_,
             "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, score REAL, pic BLOB)");
  calls::Run(cursor_,
             "INSERT INTO people VALUES(1, 'O''Brien, \"Pat\"', 0.1, x'00ff'),"
             " (2, NULL, -3e300, NULL), (3, 'line\nbreak', 7, '')");
  calls::Run(cursor_, "CREATE INDEX people_name ON people(name)");
  calls::Run(cursor_, "CREATE VIEW names AS SELECT name FROM people");
  const std::string script = Path("sales.sql");
  EXPECT_EQ(sqlwntm_Unload(cursor_, ("UNLOAD SQL " + script).c_str(), 0), 0);
  EXPECT_EQ(sqlwntm_Unload(cursor_, "UNLOAD ALL x", 0), STANDIN_BAD_COMMAND);

  const char* everything =
      "SELECT id, quote(name), quote(score), quote(pic), typeof(score) FROM people ORDER BY id";
  const Rows before = calls::Select(cursor_, everything);
  const uint16_t copy = calls::NewDatabase("COPY");
  EXPECT_EQ(sqlwntm_Load(copy, ("load sql  " + script + " ").c_str(), 0), 0);
  EXPECT_EQ(calls::Select(copy, everything), before);
  EXPECT_EQ(calls::Select(copy, "SELECT count(*) FROM sqlite_schema"), (Rows{{"3"}}));
  // Loading again over the same objects replaces them.
  EXPECT_EQ(sqlwntm_Load(copy, ("LOAD SQL " + script).c_str(), 0), 0);
  EXPECT_EQ(calls::Select(copy, everything), before);
  sqlwntm_CursorDisconnect(copy);
}

TEST_F(StandinCursorTest, AFailingScriptLeavesTheDatabaseAsItWas) {
  calls::Run(cursor_, "CREATE TABLE t(a)");
  const std::string script = Path("bad.sql");
  std::ofstream(script) << "INSERT INTO t VALUES(1);\nINSERT INTO nosuch VALUES(2);\n";
  EXPECT_EQ(sqlwntm_Load(cursor_, ("LOAD SQL " + script).c_str(), 0), STANDIN_SQL_ERROR);
  EXPECT_EQ(calls::Select(cursor_, "SELECT count(*) FROM t"), (Rows{{"0"}}));
  EXPECT_EQ(sqlwntm_Load(cursor_, ("LOAD SQL " + Path("none.sql")).c_str(), 0), STANDIN_FILE_ERROR);
  EXPECT_EQ(sqlwntm_Load(cursor_, "LOAD CSV x", 0), STANDIN_BAD_COMMAND);
}

// Users change with the script's unit: at its commit, and not at all when the script fails,
// its connection is killed before the commit, or the commit fails.
TEST_F(StandinCursorTest, ScriptsGrantAndRevokeUsersOnlyWhenTheirUnitCommits) {
  auto load = [this](uint16_t cursor, const std::string& text) {
    std::ofstream(Path("users.sql"), std::ios::trunc) << text;
    return sqlwntm_Load(cursor, ("LOAD SQL " + Path("users.sql")).c_str(), 0);
  };
  auto logsIn = [](const char* connect) {
    uint16_t handle = 0;
    const int16_t code = sqlwntm_CursorConnect(&handle, connect, 0);
    if (code == 0) sqlwntm_CursorDisconnect(handle);
    return code == 0;
  };
  // Only the commit (9) applies them: a COMMIT statement fails and takes them back.
  EXPECT_EQ(load(cursor_, "GRANT CONNECT TO clerk IDENTIFIED BY Quill1;"), 0);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, "COMMIT", 0), STANDIN_SQL_ERROR);
  EXPECT_EQ(load(cursor_, "CREATE TABLE t(a);"), 0);
  EXPECT_EQ(sqlwntm_Commit(cursor_), 0);
  EXPECT_EQ(load(cursor_,
                 "INSERT INTO t VALUES(1);\n/* clerk */ GRANT CONNECT TO clerk\n"
                 "  IDENTIFIED BY Quill1;\nINSERT INTO nosuch VALUES(2);\n"),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_Commit(cursor_), 0);
  EXPECT_FALSE(logsIn("SALES/CLERK/Quill1"));
  // A malformed grant fails the script in words that never repeat the password.
  EXPECT_EQ(load(cursor_, "\nGRANT CONNECT TO clerk IDENTIFIED BY Quill1 now;"), STANDIN_SQL_ERROR);
  EXPECT_THAT(standin_last_message(STANDIN_SQL_ERROR),
              AllOf(HasSubstr("users.sql, line 2"), Not(HasSubstr("Quill1"))));
  EXPECT_EQ(load(cursor_, "GRANT CONNECT TO 9clerk IDENTIFIED BY Quill1;"), STANDIN_BAD_NAME);
  EXPECT_EQ(load(cursor_, "REVOKE CONNECT FROM sysadm"), STANDIN_SQL_ERROR);
  // A password no host's login could carry, and a rollback to a savepoint that cannot take a
  // grant back, fail the script.
  EXPECT_EQ(load(cursor_, "GRANT CONNECT TO clerk IDENTIFIED BY " + std::string(110, 'p') + ";"),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(load(cursor_,
                 "SAVEPOINT s; GRANT CONNECT TO clerk IDENTIFIED BY Quill1; ROLLBACK TO s;"
                 " RELEASE s;"),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_Commit(cursor_), 0);
  EXPECT_FALSE(logsIn("SALES/CLERK/Quill1"));

  EXPECT_EQ(load(cursor_, "INSERT INTO t VALUES(3); grant connect to clerk identified by Quill1"),
            0);
  EXPECT_FALSE(logsIn("SALES/CLERK/Quill1"));
  EXPECT_EQ(sqlwntm_Commit(cursor_), 0);
  EXPECT_TRUE(logsIn("SALES/CLERK/Quill1"));

  uint16_t clerk = calls::Cursor("SALES/CLERK/Quill1");
  EXPECT_EQ(load(clerk, "REVOKE CONNECT FROM SYSADM;"), 0);
  const uint16_t server = calls::Server();
  for (const calls::Record& record : calls::ActiveCursors(server)) {
    if (record.user == "CLERK") {
      EXPECT_EQ(sqlwntm_KillConnection(server, record.process), 0);
    }
  }
  sqlwntm_Disconnect(server);
  EXPECT_EQ(sqlwntm_Commit(clerk), STANDIN_CONNECTION_KILLED);
  sqlwntm_CursorDisconnect(clerk);
  EXPECT_TRUE(logsIn("SALES/SYSADM/SYSADM"));

  // Revoked meanwhile, SYSADM's connection cannot take the last user left with its unit.
  clerk = calls::Cursor("SALES/CLERK/Quill1");
  calls::Run(clerk, "REVOKE CONNECT FROM SYSADM");
  EXPECT_FALSE(logsIn("SALES/SYSADM/SYSADM"));
  EXPECT_EQ(load(cursor_, "INSERT INTO t VALUES(4); REVOKE CONNECT FROM clerk;"), 0);
  EXPECT_EQ(sqlwntm_Commit(cursor_), STANDIN_SQL_ERROR);
  EXPECT_TRUE(logsIn("SALES/CLERK/Quill1"));
  EXPECT_EQ(calls::Select(clerk, "SELECT a FROM t"), (Rows{{"3"}}));
  sqlwntm_CursorDisconnect(clerk);
}

TEST_F(StandinCursorTest, ReleasingTheLogEmptiesIt) {
  calls::Run(cursor_, "CREATE TABLE t(a)");
  calls::Run(cursor_, "INSERT INTO t VALUES(randomblob(10000))");
  struct stat log {};
  ASSERT_EQ(stat(Path("srv/SALES.db-wal").c_str(), &log), 0);
  EXPECT_GT(log.st_size, 0);
  EXPECT_EQ(sqlwntm_ReleaseLog(cursor_), 0);
  ASSERT_EQ(stat(Path("srv/SALES.db-wal").c_str(), &log), 0);
  EXPECT_EQ(log.st_size, 0);
}

}  // namespace
