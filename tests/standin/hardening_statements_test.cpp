// The stand-in against a hostile database user's statements and scripts: nothing beyond the
// connection's own database is opened, a malformed or unreadable script runs not at all, and no
// statement takes a lock a kill could not end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hardening_fixture.h"
#include "standin_admin.h"

namespace {

TEST_F(StandinHardeningTest, AConnectionOpensNothingButItsOwnDatabase) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  const std::string catalogue = Path("srv/standin.catalogue");
  // From a load script, which runs through the connection, as from a statement.
  EXPECT_EQ(Load(cursor, "ATTACH '" + catalogue + "' AS c; SELECT * FROM c.settings;"),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "ATTACH 'file:" + catalogue + "?mode=ro' AS c;"), STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "ATTACH ('" + catalogue + "') AS c;"), STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, ("ATTACH '" + catalogue + "' AS c").c_str(), 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "ATTACH ':memory:' AS m", 0), STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "DETACH main", 0), STANDIN_SQL_ERROR);
  // VACUUM INTO writes anywhere the process may write.
  const std::string copy = Path("copy.db");
  EXPECT_EQ(Load(cursor, "VACUUM INTO '" + copy + "';"), STANDIN_SQL_ERROR);
  EXPECT_FALSE(Exists(copy));
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "SELECT load_extension('/tmp/nothing')", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "PRAGMA temp_store_directory = '/tmp'", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "PRAGMA writable_schema = ON; DELETE FROM sqlite_schema;"),
            STANDIN_SQL_ERROR);
  // A plain VACUUM only uses a private temporary database.
  calls::Run(cursor, "CREATE TABLE t(a)");
  calls::Run(cursor, "VACUUM");
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

// SQLite calls a select from pragma_optimize read-only, yet running it analyzes the tables.
TEST_F(StandinHardeningTest, AQueryOnlyReads) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  calls::Run(cursor, "CREATE INDEX ta ON t(a)");
  calls::Run(cursor, "INSERT INTO t VALUES (1), (2)");
  EXPECT_EQ(sqlwntm_Commit(cursor), 0);
  for (const char* writing : {"SELECT * FROM pragma_optimize(0xfffe)", "PRAGMA optimize",
                              "SELECT 1 FROM pragma_optimize"}) {
    EXPECT_EQ(standin_statement_kind("SALES", writing), STANDIN_STATEMENT_CHANGES) << writing;
  }
  // Run all the same, it fails when the pragma would run.
  ASSERT_EQ(sqlwntm_CompileAndExecute(cursor, "SELECT * FROM pragma_optimize(0xfffe)", 0), 0);
  EXPECT_EQ(sqlwntm_Next(cursor), STANDIN_SQL_ERROR);
  EXPECT_TRUE(
      calls::Select(cursor, "SELECT name FROM sqlite_schema WHERE name = 'sqlite_stat1'").empty());
  // Pragmas that read stay queries, and the connection's own work after a query still writes.
  EXPECT_EQ(standin_statement_kind("SALES", "SELECT name FROM pragma_table_info('t')"),
            STANDIN_STATEMENT_QUERY);
  EXPECT_EQ(calls::Select(cursor, "SELECT name FROM pragma_table_info('t')").size(), 1U);
  EXPECT_EQ(calls::Select(cursor, "SELECT * FROM pragma_user_version").size(), 1U);
  EXPECT_EQ(Load(cursor, "INSERT INTO t VALUES (3);"), 0);
  EXPECT_EQ(sqlwntm_Commit(cursor), 0);
  EXPECT_EQ(calls::Select(cursor, "SELECT a FROM t").size(), 3U);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

TEST_F(StandinHardeningTest, AScriptIsRunWholeOrNotAtAll) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  calls::Run(cursor, "CREATE TABLE t(a)");
  EXPECT_EQ(Load(cursor, std::string("INSERT INTO t VALUES(1);\0INSERT INTO t VALUES(2);", 50)),
            STANDIN_BAD_SCRIPT);
  // A directory opens, and reads as nothing.
  EXPECT_EQ(sqlwntm_Load(cursor, ("LOAD SQL " + root_).c_str(), 0), STANDIN_FILE_ERROR);
  if (geteuid() != 0) {  // root reads any file
    WriteFile(Path("secret.sql"), "INSERT INTO t VALUES(3);");
    chmod(Path("secret.sql").c_str(), 0);
    EXPECT_EQ(sqlwntm_Load(cursor, ("LOAD SQL " + Path("secret.sql")).c_str(), 0),
              STANDIN_FILE_ERROR);
  }
  // A FIFO that no one writes to would be waited on forever.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(sqlwntm_Load(cursor, ("LOAD SQL " + Path("fifo")).c_str(), 0), STANDIN_FILE_ERROR);
  // A file that opens but fails to read.
  EXPECT_EQ(sqlwntm_Load(cursor, "LOAD SQL /proc/self/mem", 0), STANDIN_FILE_ERROR);
  EXPECT_TRUE(calls::Select(cursor, "SELECT a FROM t").empty());
  EXPECT_EQ(Load(cursor, "INSERT INTO t VALUES(4);"), 0);
  EXPECT_EQ(calls::Select(cursor, "SELECT a FROM t").size(), 1u);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

// Either would hold the database locked after a kill for as long as the client stays idle.
TEST_F(StandinHardeningTest, NoConnectionHoldsALockThatAKillCannotEnd) {
  const uint16_t cursor = calls::NewDatabase("SALES");
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "PRAGMA locking_mode = EXCLUSIVE", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(Load(cursor, "PRAGMA main.locking_mode = exclusive;"), STANDIN_SQL_ERROR);
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, "PRAGMA journal_mode = DELETE", 0),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(calls::Select(cursor, "PRAGMA journal_mode"),
            (std::vector<std::vector<std::string>>{{"wal"}}));
  EXPECT_EQ(calls::Select(cursor, "PRAGMA locking_mode"),
            (std::vector<std::vector<std::string>>{{"normal"}}));
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

}  // namespace
