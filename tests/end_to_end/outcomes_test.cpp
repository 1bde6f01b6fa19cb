// What a load or reload reports is what happened to its data: raced by kills and terminates at
// many moments, on a disk that fills at its commit, and after the server is terminated.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "client/sqlwntm.h"
#include "end_to_end_test.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int kScriptRows = 20000;

// QUILLET_RACE_ROUNDS=N races each case N times instead, for a longer look.
int Rounds(int otherwise) {
  const char* asked = std::getenv("QUILLET_RACE_ROUNDS");
  return asked != nullptr && std::atoi(asked) > 0 ? std::atoi(asked) : otherwise;
}

class OutcomesEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    ASSERT_EQ(CreateDB("srv", "pw", "SALES"), 0);
    WriteFile(Path("make.sql"), "CREATE TABLE t(round INTEGER, n INTEGER);");
    ASSERT_EQ(Load("SALES", "SYSADM", "SYSADM", ("LOAD SQL " + Path("make.sql")).c_str()), 0);
  }

  // A script of many short statements, each a row of the round: a kill meets it between two.
  std::string RoundScript(int round) {
    const std::string path = Path("round" + std::to_string(round) + ".sql");
    std::string script;
    for (int n = 0; n < kScriptRows; ++n) {
      script += "INSERT INTO t VALUES(" + std::to_string(round) + "," + std::to_string(n) + ");\n";
    }
    WriteFile(path, script);
    return path;
  }

  int RowsOfRound(int round) {
    return std::stoi(RowsOf(DatabaseFile("SALES"),
                            "SELECT count(*) FROM t WHERE round = " + std::to_string(round))[0][0]);
  }

  // Each round races one load or reload with stop() at a moment within the load's run; the
  // data must say what the call said, and be whole or absent.
  void Race(bool reload, const std::function<void()>& stop, int rounds) {
    std::mt19937 random(12345);
    int committed = 0;
    for (int last = round_ + rounds; ++round_ <= last;) {
      const int round = round_;
      const std::string script = RoundScript(round);
      int32_t reported = -1;
      std::thread loader([&] {
        reported = reload ? ReLoad("SALES", "SYSADM", "SYSADM", script.c_str())
                          : Load("SALES", "SYSADM", "SYSADM", ("LOAD SQL " + script).c_str());
      });
      std::this_thread::sleep_for(microseconds(random() % 250000));
      stop();
      loader.join();
      const int rows = RowsOfRound(round);
      EXPECT_TRUE(rows == 0 || rows == kScriptRows) << "round " << round << ": " << rows;
      EXPECT_EQ(reported == 0, rows == kScriptRows)
          << "round " << round << " reported " << reported << " with " << rows << " rows";
      committed += rows == kScriptRows ? 1 : 0;
    }
    RecordProperty(reload ? "reloads_committed" : "loads_committed", committed);
  }

  int round_ = 0;
};

TEST_F(OutcomesEndToEndTest, ALoadOrReloadRacedByKillsReportsWhatItsDataShows) {
  for (const bool reload : {false, true}) {
    Race(
        reload, [] { KillAllConnections("srv", "pw", ""); }, Rounds(12));
  }
}

// Once the terminate has returned, the database no longer changes.
TEST_F(OutcomesEndToEndTest, ALoadOrReloadRacedByATerminateReportsWhatItsDataShows) {
  for (const bool reload : {false, true}) {
    Race(
        reload,
        [this] {
          ASSERT_EQ(TerminateServer("srv", "pw"), 0);
          const Rows after = RowsOf(DatabaseFile("SALES"), "SELECT count(*) FROM t");
          std::this_thread::sleep_for(milliseconds(150));
          EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "SELECT count(*) FROM t"), after);
          ASSERT_EQ(standin_server_start("srv"), 0);
        },
        Rounds(8));
  }
}

// A reload whose commit fails (the file-size limit reached when its pages go to the log) is
// reported failed, and its rows are not there.
TEST_F(OutcomesEndToEndTest, AReloadWhoseCommitFailsSaysSo) {
  WriteFile(Path("big.sql"),
            "INSERT INTO t WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
            "WHERE i < 300) SELECT 7, length(randomblob(2000) || i) FROM n;"
            "CREATE TABLE pad AS SELECT randomblob(1000) AS b FROM t WHERE round = 7;");
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 256 * 1024;
  void (*signalBefore)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t reported = ReLoad("SALES", "SYSADM", "SYSADM", Path("big.sql").c_str());
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, signalBefore);
  EXPECT_NE(reported, 0);
  EXPECT_EQ(RowsOfRound(7), 0);
}

// Deinstalling folds the log in and removes it, so that a snapshot copied over the file and
// installed is that snapshot, whatever a client that crashed left behind.
TEST_F(OutcomesEndToEndTest, ARestoreOverACrashedClientsLogIsTheSnapshot) {
  ASSERT_EQ(mkdir(Path("snap").c_str(), 0700), 0);
  ASSERT_EQ(SnapShot(0, "srv", "pw", "SALES", Path("snap").c_str()), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A client whose writes stay in the log, killed before it closes.
    sqlite3* db = nullptr;
    sqlite3_open(DatabaseFile("SALES").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA wal_autocheckpoint=0; CREATE TABLE later(x); INSERT INTO t VALUES(9,9)",
                 nullptr, nullptr, nullptr);
    raise(SIGKILL);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(DeinstallDB("srv", "pw", "SALES"), 0);
  EXPECT_FALSE(Exists(DatabaseFile("SALES") + "-wal"));
  std::filesystem::copy_file(Path("snap/SALES.db"), DatabaseFile("SALES"),
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(InstallDB("srv", "pw", "SALES"), 0);
  EXPECT_EQ(RowsOf(DatabaseFile("SALES"), "PRAGMA integrity_check"), (Rows{{"ok"}}));
  EXPECT_EQ(
      RowsOf(DatabaseFile("SALES"), "SELECT count(*) FROM sqlite_schema WHERE name = 'later'"),
      (Rows{{"0"}}));

  // A log that came from elsewhere is never replayed over a file taken up.
  ASSERT_EQ(DeinstallDB("srv", "pw", "SALES"), 0);
  WriteFile(DatabaseFile("SALES") + "-wal", std::string(4096, 'w'));
  EXPECT_EQ(InstallDB("srv", "pw", "SALES"), STANDIN_FILE_ERROR);
  std::filesystem::remove(DatabaseFile("SALES") + "-wal");
  WriteFile(DatabaseFile("SALES") + "-journal", std::string(4096, 'j'));
  EXPECT_EQ(InstallDB("srv", "pw", "SALES"), STANDIN_FILE_ERROR);
}

// A forked child that ends normally leaves its parent's connection to the parent: the database
// stays in use, and is not dropped under it.
TEST_F(OutcomesEndToEndTest, AForkedChildsExitKeepsItsParentsConnection) {
  uint16_t cursor = 0;
  ASSERT_EQ(sqlwntm_CursorConnect(&cursor, "SALES/SYSADM/SYSADM", 0), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) std::exit(0);  // static destructors run
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(DropDB("srv", "pw", "SALES"), STANDIN_DATABASE_IN_USE);
  EXPECT_EQ(sqlwntm_CursorDisconnect(cursor), 0);
}

}  // namespace
