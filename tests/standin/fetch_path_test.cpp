// The fetch path of a cursor connection. A select that is described and then fetched runs once;
// whatever runs in between makes it run again, with the same rows and codes as before. A kill
// ends the connection's lock between its calls and during them.
#include <gmock/gmock.h>
#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <thread>

#include "scratch_root.h"
#include "standin_calls.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Rows the statement looked at: counted(x) is x, and counts its calls. Every SQLite connection
// this process opens from now on has it, the stand-in's too, without its knowing.
int countedCalls = 0;

void Counted(sqlite3_context* context, int, sqlite3_value** arguments) {
  ++countedCalls;
  sqlite3_result_value(context, arguments[0]);
}

int AddCounted(sqlite3* db, char**, const sqlite3_api_routines*) {
  return sqlite3_create_function(db, "counted", 1, SQLITE_UTF8, nullptr, Counted, nullptr, nullptr);
}

// What a host sees of one select.
struct Outcome {
  Rows rows;
  int16_t end = -1;  // the code of the last fetch
  int32_t rowCount = -1;
  std::vector<int32_t> types;
  bool operator==(const Outcome& other) const {
    return rows == other.rows && end == other.end && rowCount == other.rowCount &&
           types == other.types;
  }
};

constexpr int kRows = 40;

class StandinKeptRowTest : public ScratchRootTest {
 protected:
  void SetUp() override {
    ScratchRootTest::SetUp();
    ASSERT_EQ(sqlite3_auto_extension(reinterpret_cast<void (*)()>(AddCounted)), SQLITE_OK);
    cursor_ = calls::NewDatabase("SALES");
    calls::Run(cursor_, "CREATE TABLE t(a INTEGER, b TEXT, c REAL)");
    calls::Run(cursor_,
               "INSERT INTO t WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n"
               " WHERE i < 40) SELECT i, 'group ' || (i % 3), i / 8.0 FROM n");
  }
  void TearDown() override {
    sqlwntm_CursorDisconnect(cursor_);
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(AddCounted));
    ScratchRootTest::TearDown();
  }

  // Compiles, describes every column (unless told not to), binds, runs what is given between
  // describing and the rows, executes again as the library does, and fetches every row.
  Outcome Select(const char* statement, bool describe, const std::function<void()>& between) {
    Outcome outcome;
    EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, statement, 0), 0) << statement;
    int32_t columns = 0;
    EXPECT_EQ(sqlwntm_GetNoSelectItems(cursor_, &columns), 0);
    static char buffers[8][64];
    for (int32_t column = 1; column <= columns && column <= 8; ++column) {
      if (describe) {
        int32_t type = 0;
        EXPECT_EQ(sqlwntm_DescribeSelectItem(cursor_, column, &type, nullptr, nullptr, nullptr,
                                             nullptr, nullptr),
                  0);
        outcome.types.push_back(type);
      }
      EXPECT_EQ(sqlwntm_SelectBuffer(cursor_, column, 2, buffers[column - 1], 63, 0, 0, 0), 0);
    }
    between();
    EXPECT_EQ(sqlwntm_Execute(cursor_), 0);
    while ((outcome.end = sqlwntm_Next(cursor_)) == 0) {
      outcome.rows.emplace_back();
      for (int32_t column = 1; column <= columns && column <= 8; ++column) {
        outcome.rows.back().emplace_back(buffers[column - 1]);
      }
    }
    EXPECT_EQ(sqlwntm_GetNoRows(cursor_, &outcome.rowCount), 0);
    return outcome;
  }

  // Kills the test's connection, the only one besides the server's, and connects a writer that
  // must get its insert in within a second, however long its lock wait: the killed
  // connection's lock is gone. Returns the writer.
  uint16_t KillAndWrite(uint16_t server) {
    const std::vector<calls::Record> records = calls::ActiveCursors(server);
    EXPECT_EQ(records.size(), 2u);
    if (records.size() == 2) {
      EXPECT_EQ(sqlwntm_KillConnection(server, records[1].process), 0);
    }
    const auto start = std::chrono::steady_clock::now();
    const uint16_t writer = calls::Cursor("SALES/SYSADM/SYSADM");
    const int32_t wait = 3;
    EXPECT_EQ(sqlwntm_SetParameter(writer, 3003, const_cast<int32_t*>(&wait), 0), 0);
    EXPECT_EQ(sqlwntm_CompileAndExecute(writer, "INSERT INTO t VALUES(-1, 'after', 0)", 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    return writer;
  }

  uint16_t cursor_ = 0;
};

const char* const kStatements[] = {
    "SELECT b, count(*), sum(a), max(c) FROM t WHERE counted(a) GROUP BY b",
    "SELECT a, b FROM t WHERE counted(a) < 0",
    "SELECT a, b, c, a * c FROM t WHERE counted(a) ORDER BY b DESC, a",
    "SELECT a, c FROM t WHERE counted(a) > 0",
};

TEST_F(StandinKeptRowTest, ADescribedSelectRunsOnceWithTheRowsItAlwaysHad) {
  for (const char* statement : kStatements) {
    countedCalls = 0;
    const Outcome plain = Select(statement, false, [] {});
    EXPECT_EQ(countedCalls, kRows) << statement;
    countedCalls = 0;
    Outcome described = Select(statement, true, [] {});
    EXPECT_EQ(countedCalls, kRows) << statement;
    EXPECT_EQ(described.types.size(), plain.rows.empty() ? 2u : plain.rows[0].size());
    described.types.clear();
    EXPECT_EQ(described, plain) << statement;
    EXPECT_EQ(described.end, 1);
    // Past the end the end stays: the select does not start over.
    EXPECT_EQ(sqlwntm_Next(cursor_), 1) << statement;
    EXPECT_EQ(countedCalls, kRows) << statement;
  }
  // Without the execute in between as well.
  countedCalls = 0;
  EXPECT_EQ(calls::Select(cursor_, kStatements[1]), Rows{});
  EXPECT_EQ(countedCalls, kRows);
}

TEST_F(StandinKeptRowTest, WhatRunsBetweenDescribingAndFetchingRunsTheSelectAgain) {
  const std::vector<std::pair<const char*, std::function<void()>>> betweens = {
      {"commit", [this] { EXPECT_EQ(sqlwntm_Commit(cursor_), 0); }},
      {"isolation", [this] { EXPECT_EQ(sqlwntm_SetIsolation(cursor_, "RL"), 0); }},
      {"release log", [this] { sqlwntm_ReleaseLog(cursor_); }},
      {"a fetch", [this] { EXPECT_EQ(sqlwntm_Next(cursor_), 0); }},
  };
  for (const char* statement : kStatements) {
    const Outcome expected = Select(statement, true, [] {});
    for (const auto& [name, between] : betweens) {
      if (std::string(name) == "a fetch" && expected.rows.empty()) continue;
      countedCalls = 0;
      EXPECT_EQ(Select(statement, true, between), expected) << statement << ", " << name;
      EXPECT_GT(countedCalls, kRows) << statement << ", " << name;
    }
  }
  // A setting changes nothing that the kept row depends on.
  countedCalls = 0;
  const int32_t wait = 2;
  EXPECT_EQ(Select(kStatements[0], true,
                   [&] {
                     EXPECT_EQ(sqlwntm_SetParameter(cursor_, 3003, const_cast<int32_t*>(&wait), 0),
                               0);
                   }),
            Select(kStatements[0], true, [] {}));
  EXPECT_EQ(countedCalls, 2 * kRows);
}

// The rows are those of the execute: a commit by another connection after describing counts.
TEST_F(StandinKeptRowTest, ACommitElsewhereBetweenDescribingAndExecutingIsSeen) {
  const uint16_t other = calls::Cursor("SALES/SYSADM/SYSADM");
  const char* const statement = "SELECT count(*) FROM t";
  EXPECT_EQ(Select(statement, true, [&] { calls::Run(other, "INSERT INTO t(a) VALUES(41)"); }).rows,
            Rows{{"41"}});
  EXPECT_EQ(Select(statement, true, [&] { calls::Run(other, "DELETE FROM t WHERE a > 40"); }).rows,
            Rows{{"40"}});
  // The hook that counts commits stays in place: a setting that would replace it is refused.
  EXPECT_EQ(sqlwntm_CompileAndExecute(other, "PRAGMA wal_autocheckpoint = 100", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(other, "PRAGMA main.wal_autocheckpoint(0)", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(Select(statement, true, [&] { calls::Run(other, "INSERT INTO t(a) VALUES(41)"); }).rows,
            Rows{{"41"}});
  // A write whose rows are fetched in part commits when it is put back to its start.
  EXPECT_EQ(Select(statement, true,
                   [&] {
                     char value[64];
                     EXPECT_EQ(sqlwntm_CompileAndExecute(
                                   other, "INSERT INTO t(a) VALUES(42), (43) RETURNING a", 0),
                               0);
                     EXPECT_EQ(sqlwntm_SelectBuffer(other, 1, 2, value, 63, 0, 0, 0), 0);
                     EXPECT_EQ(sqlwntm_Next(other), 0);
                     EXPECT_EQ(sqlwntm_Commit(other), 0);
                   })
                .rows,
            Rows{{"43"}});
  EXPECT_EQ(sqlwntm_CursorDisconnect(other), 0);
}

TEST_F(StandinKeptRowTest, AKillBetweenDescribingAndFetchingEndsTheConnectionAndItsLock) {
  const uint16_t server = calls::Server();
  calls::Run(cursor_, "LOCK DATABASE");
  calls::Run(cursor_, "INSERT INTO t VALUES(0, 'locked', 0)");
  for (const char* statement : kStatements) {
    EXPECT_EQ(sqlwntm_CompileAndExecute(cursor_, statement, 0), 0);
    EXPECT_EQ(sqlwntm_DescribeSelectItem(cursor_, 1, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr),
              0);
  }
  // Rolled back while the client makes no call, with the described select still open.
  const uint16_t writer = KillAndWrite(server);
  EXPECT_EQ(calls::Select(writer, "SELECT count(*), min(a) FROM t"),
            (Rows{{std::to_string(kRows + 1), "-1"}}));
  EXPECT_EQ(sqlwntm_CursorDisconnect(writer), 0);
  EXPECT_EQ(sqlwntm_Execute(cursor_), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(sqlwntm_Next(cursor_), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor_), STANDIN_CONNECTION_KILLED);
  cursor_ = 0;
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

TEST_F(StandinKeptRowTest, AKillEndsTheLockOfAClientInTheMiddleOfALongCall) {
  const uint16_t server = calls::Server();
  calls::Run(cursor_, "LOCK DATABASE");
  calls::Run(cursor_, "INSERT INTO t VALUES(0, 'locked', 0)");
  // Counts without end: only an interrupt ends the fetch.
  calls::Run(cursor_,
             "SELECT count(*) FROM (WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n)"
             " SELECT i FROM n)");
  int16_t fetched = 0;
  std::thread client([&] { fetched = sqlwntm_Next(cursor_); });
  // Most likely well inside the fetch by then; either way the lock must end.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const uint16_t writer = KillAndWrite(server);
  client.join();
  EXPECT_NE(fetched, 0);
  EXPECT_EQ(calls::Select(writer, "SELECT count(*) FROM t"), (Rows{{std::to_string(kRows + 1)}}));
  EXPECT_EQ(sqlwntm_CursorDisconnect(writer), 0);
  EXPECT_EQ(sqlwntm_Next(cursor_), STANDIN_CONNECTION_KILLED);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor_), STANDIN_CONNECTION_KILLED);
  cursor_ = 0;
  EXPECT_EQ(sqlwntm_Disconnect(server), 0);
}

// Every value arrives as the text SQLite gives it, whoever writes it.
TEST_F(StandinKeptRowTest, ValuesArriveAsSqlitesOwnText) {
  const char* const statements[] = {
      "SELECT 0, -1, 9223372036854775807, -9223372036854775807 - 1, 0.0, -0.0, 0.1, 1.5e-5,"
      " 1e15, 1e16, 1e308 * 10, -1e308 * 10, 1 / 3.0, 2.0, CAST('12' AS INTEGER), '5' + 0",
      "SELECT 4.9e-324, 0.30000000000000004, x'41', NULL, 'text', 1000000000000005.0",
      "SELECT v, n, i, v * 2, n || '' FROM r"};
  calls::Run(cursor_, "CREATE TABLE r(v REAL, n NUMERIC, i INTEGER)");
  calls::Run(cursor_, "INSERT INTO r VALUES (3, '3.0', 2.0), (-0.0, '1e3', '7'), (2.5, 'x', 1e20)");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db,
                   "CREATE TABLE r(v REAL, n NUMERIC, i INTEGER);"
                   "INSERT INTO r VALUES (3, '3.0', 2.0), (-0.0, '1e3', '7'), (2.5, 'x', 1e20)",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  for (const char* select : statements) {
    Rows expected;
    sqlite3_stmt* own = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, select, -1, &own, nullptr), SQLITE_OK);
    while (sqlite3_step(own) == SQLITE_ROW) {
      expected.emplace_back();
      for (int column = 0; column < sqlite3_column_count(own); ++column) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(own, column));
        expected.back().emplace_back(text == nullptr ? "" : text);
      }
    }
    sqlite3_finalize(own);
    EXPECT_EQ(calls::Select(cursor_, select), expected) << select;
  }
  sqlite3_close(db);
}

// A failure met while describing is met again, and reported, by the fetch.
TEST_F(StandinKeptRowTest, AFailingFirstRowFailsTheFetchAsBefore) {
  const char* statement = "SELECT sum(a) FROM (SELECT 9223372036854775807 AS a UNION ALL SELECT 1)";
  for (const bool describe : {false, true}) {
    const Outcome outcome = Select(statement, describe, [] {});
    EXPECT_EQ(outcome.end, STANDIN_SQL_ERROR);
    EXPECT_THAT(standin_last_message(STANDIN_SQL_ERROR), ::testing::HasSubstr("overflow"));
    EXPECT_EQ(outcome.rows, Rows{});
  }
}

}  // namespace
