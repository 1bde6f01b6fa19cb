// quillet plan: what a run guarantees, each checked once against the stand-in.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "program_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;
using namespace quillet::cli::testing;

namespace {

class PlanTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    // The servers' own folder is no place for backups.
    environment_["QUILLET_STANDIN_ROOT"] = root_ + "/servers";
    backups_ = root_ + "/backups";
    WriteFile(root_ + "/acme.pw", "acme-pw\n");
    chmod((root_ + "/acme.pw").c_str(), 0600);
  }

  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  // A plan over the servers, each with the password file and the same tasks.
  std::string WritePlan(const std::vector<std::string>& servers, const std::string& databases,
                        const std::string& extra = "") {
    std::string text = "snapshot_root = \"" + backups_ + "\"\njobs = 2\n" + extra +
                       "\n[retention]\nkeep_last = 2\nmin_keep = 1\n";
    for (const std::string& server : servers) {
      text += "\n[[servers]]\nname = \"" + server + "\"\npassword_file = \"" + root_ +
              "/acme.pw\"\ndatabases = " + databases + "\n";
    }
    const std::string path = root_ + "/plan.toml";
    WriteFile(path, text);
    return path;
  }

  std::vector<std::string> Generations(const std::string& server, const std::string& database) {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(backups_ + "/" + server + "/" + database)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // The manifest rewritten to vouch for the database file as it is now, as a change made with
  // care would leave it: only opening the file can tell.
  static void Rehash(const std::string& folder, const std::string& file) {
    std::string sum(64, ' ');
    FILE* pipe = popen(("sha256sum " + folder + "/" + file).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    ASSERT_EQ(std::fread(sum.data(), 1, sum.size(), pipe), sum.size());
    pclose(pipe);
    nlohmann::json manifest = nlohmann::json::parse(ReadFile(folder + "/manifest.json"));
    manifest["files"][0]["sha256"] = sum;
    WriteFile(folder + "/manifest.json", manifest.dump());
  }

  std::string backups_;
};

TEST_F(PlanTest, FourRunsWithKeepLastTwoKeepExactlyTheTwoNewestVerifiedGenerations) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"*\"]");
  std::vector<std::string> made;
  for (int run = 0; run < 4; ++run) {
    const ProgramRun done = Quillet("plan run " + plan + " --format json");
    ASSERT_EQ(done.status, 0) << done.out << done.err;
    const nlohmann::json summary = nlohmann::json::parse(done.out);
    made.push_back(summary["servers"][0]["databases"][0]["generation"].get<std::string>());
  }
  EXPECT_EQ(Generations("ACME", "DEMO"), (std::vector<std::string>{made[2], made[3]}));
  std::ifstream in(backups_ + "/ACME/DEMO/" + made[3] + "/manifest.json");
  const nlohmann::json manifest = nlohmann::json::parse(in);
  EXPECT_EQ(manifest["database"], "DEMO");
  EXPECT_EQ(manifest["files"][0]["name"], "DEMO.db");
  EXPECT_THAT(manifest["files"][0]["sha256"].get<std::string>(), SizeIs(64));
  EXPECT_EQ(Quillet("plan verify " + plan).status, 0);

  // A byte changed in a kept generation is named, down to the file.
  {
    std::fstream file(backups_ + "/ACME/DEMO/" + made[2] + "/DEMO.db",
                      std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(100);
    file.put('\x7f');
  }
  const ProgramRun verify = Quillet("plan verify " + plan);
  EXPECT_EQ(verify.status, 1);
  EXPECT_THAT(verify.out, HasSubstr("ACME DEMO " + made[2] + " DEMO.db: its SHA-256 differs"));
}

TEST_F(PlanTest, ARunDeletesNothingThroughALinkNorWhatItCannotRead) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  const std::string other = root_ + "/other/DEMO";
  std::filesystem::create_directories(other + "/20261201T000000Z");
  std::filesystem::create_directories(other + "/20261202T000000Z.partial");
  std::filesystem::create_directories(backups_);
  std::filesystem::create_directory_symlink(root_ + "/other", backups_ + "/ACME");
  EXPECT_NE(Quillet("plan run " + plan).status, 0);
  EXPECT_TRUE(std::filesystem::exists(other + "/20261201T000000Z"));
  EXPECT_TRUE(std::filesystem::exists(other + "/20261202T000000Z.partial"));

  std::filesystem::remove(backups_ + "/ACME");
  std::filesystem::create_directories(backups_ + "/ACME/DEMO/20261201T000000Z");
  WriteFile(backups_ + "/ACME/DEMO/20261201T000000Z/manifest.json", "{\"format\": 2");
  std::filesystem::create_directories(backups_ + "/ACME/DEMO/99991231T235959Z");
  // A plan path that is not UTF-8 still gets its summary.
  const std::string latin1 = root_ + "/plan\xe9.toml";
  std::filesystem::copy_file(plan, latin1);
  const ProgramRun run = Quillet("plan run " + latin1 + " --format json");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const nlohmann::json summary = nlohmann::json::parse(run.out);
  const std::string made = summary["servers"][0]["databases"][0]["generation"];
  EXPECT_EQ(Generations("ACME", "DEMO"),
            (std::vector<std::string>{"20261201T000000Z", made, "99991231T235959Z"}));

  // A verified generation named a few minutes after now, as a run names one after a clock was
  // set back a little, is fresh, not of a negative age.
  const std::time_t ahead = std::time(nullptr) + 300;
  std::tm parts{};
  gmtime_r(&ahead, &parts);
  char name[32];
  std::strftime(name, sizeof name, "%Y%m%dT%H%M%SZ", &parts);
  std::filesystem::copy(backups_ + "/ACME/DEMO/" + made, backups_ + "/ACME/DEMO/" + name);
  const ProgramRun status = Quillet("plan status " + plan + " --warn 26h --crit 50h");
  EXPECT_EQ(status.status, 0) << status.out;
  EXPECT_THAT(status.out, HasSubstr("'s, 0s old"));
}

TEST_F(PlanTest, ARunKilledMidSnapshotLeavesTheEarlierGenerationsAndNothingThatCounts) {
  CreateServerWithDatabase();
  // Large enough that the snapshot takes a while to write.
  WriteFile(root_ + "/fill.sql",
            "CREATE TABLE t(b);\nWITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
            "WHERE x < 40000) INSERT INTO t SELECT randomblob(4096) FROM c;\n");
  ASSERT_EQ(QuilletArguments({"load", "DEMO", "SYSADM", "LOAD SQL " + root_ + "/fill.sql"},
                             WithPassword("SYSADM"))
                .status,
            0);
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  const std::vector<std::string> before = Generations("ACME", "DEMO");

  const int run =
      StartInBackground(QUILLET_PROGRAM, {"plan", "run", plan}, environment_, root_ + "/out");
  bool partial = false;
  for (int wait = 0; wait < 2000 && !partial; ++wait) {
    for (const auto& entry : std::filesystem::directory_iterator(backups_ + "/ACME/DEMO")) {
      partial = partial || entry.path().extension() == ".partial";
    }
    if (!partial) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(partial) << "the run never began its snapshot";
  kill(run, SIGKILL);
  WaitFor(run, 10);

  const ProgramRun list = Quillet("plan list " + plan + " --format json");
  const nlohmann::json rows = nlohmann::json::parse(list.out);
  int verified = 0;
  for (const auto& row : rows) verified += row["verified"].get<bool>() ? 1 : 0;
  EXPECT_EQ(verified, 1) << list.out;
  EXPECT_THAT(Quillet("plan report " + plan).out, HasSubstr("the journal ends here"));
  const ProgramRun next = Quillet("plan run " + plan);
  EXPECT_EQ(next.status, 0) << next.out << next.err;
  EXPECT_THAT(next.out, HasSubstr(".partial (unfinished)"));
  const std::vector<std::string> after = Generations("ACME", "DEMO");
  ASSERT_EQ(after.size(), 2U);
  EXPECT_EQ(after[0], before[0]);
}

TEST_F(PlanTest, ASnapshotOfADamagedDatabaseIsNoGenerationAndCostsNoOlderOne) {
  CreateServerWithDatabase();
  WriteFile(root_ + "/fill.sql",
            "CREATE TABLE t(v); WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
            "WHERE x < 2000) INSERT INTO t SELECT hex(x) FROM c;\n");
  ASSERT_EQ(QuilletArguments({"load", "DEMO", "SYSADM", "LOAD SQL " + root_ + "/fill.sql"},
                             WithPassword("SYSADM"))
                .status,
            0);
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  const std::vector<std::string> before = Generations("ACME", "DEMO");
  ASSERT_THAT(before, SizeIs(2));
  // Garbage inside a page of the live file: its size and header stay as they were.
  const std::string live = root_ + "/servers/ACME/DEMO.db";
  ASSERT_GT(std::filesystem::file_size(live), 4104U + 150U);
  {
    std::fstream file(live, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4104);
    file << std::string(150, '\x5a');
  }
  const ProgramRun run = Quillet("plan run " + plan);
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("snapshot\tfailed: the snapshot is no sound backup"));
  EXPECT_THAT(run.out, HasSubstr("SQLite's quick check"));
  EXPECT_EQ(Generations("ACME", "DEMO"), before);
  EXPECT_THAT(Quillet("plan report " + plan).out, HasSubstr("is damaged"));
}

TEST_F(PlanTest, ATerminatedServerFailsItsItemsAndTheOtherServersComplete) {
  CreateServerWithDatabase();
  ASSERT_EQ(Quillet("server create BETA", WithPassword("acme-pw")).status, 0);
  ASSERT_EQ(Quillet("create-db BETA SALES", WithPassword("acme-pw")).status, 0);
  ASSERT_EQ(Quillet("-y terminate-server BETA", WithPassword("acme-pw")).status, 0);
  const std::string plan = WritePlan({"BETA", "ACME"}, "[\"*\"]");
  const ProgramRun run = Quillet("plan run " + plan + " --format json");
  EXPECT_EQ(run.status, 1) << run.err;
  const nlohmann::json summary = nlohmann::json::parse(run.out);
  const nlohmann::json& beta = summary["servers"][0];
  EXPECT_EQ(beta["server"], "BETA");
  EXPECT_FALSE(beta["success"].get<bool>());
  EXPECT_EQ(beta["tasks"][0]["task"], "dir-db");
  EXPECT_EQ(beta["tasks"][0]["code"], 9102);
  EXPECT_THAT(beta["tasks"][0]["text"].get<std::string>(), HasSubstr("terminated"));
  const nlohmann::json& acme = summary["servers"][1];
  EXPECT_TRUE(acme["success"].get<bool>());
  EXPECT_EQ(acme["databases"][0]["database"], "DEMO");
  EXPECT_THAT(Generations("ACME", "DEMO"), SizeIs(1));
  const ProgramRun status = Quillet("plan status " + plan + " --warn 26h --crit 50h");
  EXPECT_EQ(status.status, 3);
  EXPECT_THAT(status.out, HasSubstr("server BETA cannot be listed"));
}

TEST_F(PlanTest, APlanFromACarelessOperatorIsRefusedWithEachProblemsLineAndColumn) {
  CreateServerWithDatabase();
  const std::string typo = WritePlan({"ACME"}, "[\"DEMO\", \"DMEO\"]");
  const ProgramRun check = Quillet("plan check " + typo);
  EXPECT_EQ(check.status, 2);
  EXPECT_THAT(check.err, HasSubstr(typo + ":11:22: \"DMEO\" matches no database of server ACME"));
  const ProgramRun run = Quillet("plan run " + typo);
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(std::filesystem::exists(backups_ + "/ACME/DEMO"));

  const std::string careless = WritePlan(
      {"ACME"}, "[\"*\"]\npassword = \"acme-pw\"\ntasks = [\"release-log\", \"snapshot\"]",
      "job = 3");
  const ProgramRun refused = Quillet("plan run " + careless);
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.err, HasSubstr(careless + ":3:1: unknown key \"job\""));
  EXPECT_THAT(refused.err, HasSubstr(careless + ":12:1: a password is never written in the plan"));
  EXPECT_THAT(refused.err,
              HasSubstr(careless + ":13:10: release-log must come after snapshot in tasks"));
  // A plan others may change decides what this user's runs delete.
  const std::string shared = WritePlan({"ACME"}, "[\"DEMO\"]");
  chmod(shared.c_str(), 0666);
  const ProgramRun writable = Quillet("plan run " + shared);
  EXPECT_EQ(writable.status, 2);
  EXPECT_THAT(writable.err, HasSubstr(shared + " may be written by its group or others"));
  EXPECT_FALSE(std::filesystem::exists(backups_ + "/ACME/DEMO"));
}

TEST_F(PlanTest, ASecondRunExitsAtOnceOrWaitsForTheLockAndADeadHoldersLockIsTakenOver) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"*\"]");
  std::filesystem::create_directories(backups_ + "/.quillet");
  chmod((backups_ + "/.quillet").c_str(), 0700);
  const int held = open((backups_ + "/.quillet/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  ASSERT_EQ(write(held, "pid 1\n", 6), 6);
  const ProgramRun busy = Quillet("plan run " + plan);
  EXPECT_EQ(busy.status, 3);
  EXPECT_THAT(busy.err, HasSubstr("another run holds"));
  EXPECT_THAT(busy.err, HasSubstr("pid 1"));

  const int waiting = StartInBackground(
      QUILLET_PROGRAM, {"plan", "run", plan, "--wait-lock", "20s"}, environment_, root_ + "/out");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Let go without clearing, as a holder that was killed does.
  close(held);
  EXPECT_EQ(WaitFor(waiting, 20), 0) << ReadFile(root_ + "/out");
  EXPECT_THAT(Quillet("plan report " + plan).out, HasSubstr("lock-takeover"));
}

TEST_F(PlanTest, ARestoreChecksTheGenerationThenBringsTheDataBack) {
  CreateServerWithDatabase();
  const auto load = [&](const std::string& statement) {
    WriteFile(root_ + "/change.sql", statement + "\n");
    return QuilletArguments({"load", "DEMO", "SYSADM", "LOAD SQL " + root_ + "/change.sql"},
                            WithPassword("SYSADM"))
        .status;
  };
  ASSERT_EQ(load("CREATE TABLE t(v); INSERT INTO t VALUES ('kept');"), 0);
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  ASSERT_EQ(load("DELETE FROM t;"), 0);

  const ProgramRun restored = Quillet("-y plan restore " + plan + " ACME DEMO --replace");
  ASSERT_EQ(restored.status, 0) << restored.err;
  const ProgramRun rows = QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT v FROM t", "-"},
                                           WithPassword("SYSADM"));
  EXPECT_THAT(rows.out, HasSubstr("\"kept\""));

  // A generation that no longer matches its manifest is never installed.
  const std::string generation = Generations("ACME", "DEMO").front();
  WriteFile(backups_ + "/ACME/DEMO/" + generation + "/DEMO.db", "not the backup");
  const ProgramRun refused = Quillet("-y plan restore " + plan +
                                     " ACME DEMO --replace "
                                     "--generation " +
                                     generation);
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, HasSubstr("does not hold, so it is not restored"));
}

TEST_F(PlanTest, AJournalThatCannotBeWrittenFailsTheRunAndEveryCallIsBegunFirst) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  // The snapshot root's problems carry snapshot_root's place, as the plan's other errors do.
  WriteFile(root_ + "/file", "");
  WriteFile(root_ + "/bad.toml", "\nsnapshot_root = \"" + root_ + "/file/b\"\n" +
                                     ReadFile(plan).substr(ReadFile(plan).find('\n')));
  EXPECT_THAT(Quillet("plan check " + root_ + "/bad.toml").err,
              HasSubstr(root_ + "/bad.toml:2:17: snapshot_root: cannot create"));

  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  const ProgramRun csv = Quillet("plan report " + plan + " --format csv");
  EXPECT_THAT(csv.out, HasSubstr("text,detail,bytes"));
  EXPECT_THAT(csv.out, HasSubstr("\"begin\",\"ACME\",\"DEMO\",\"snapshot\""));

  // A full disk under the journal: the run still backs up, and says it has no record.
  const std::string runs = backups_ + "/.quillet/runs";
  if (mount("tmpfs", runs.c_str(), "tmpfs", 0, "size=4k,mode=0700") != 0) {
    GTEST_SKIP() << "a small file system needs mounting rights";
  }
  WriteFile(runs + "/filler", "x");
  const ProgramRun full = Quillet("plan run " + plan);
  umount(runs.c_str());
  EXPECT_EQ(full.status, 1) << full.out << full.err;
  EXPECT_THAT(full.err, HasSubstr("cannot write the journal " + runs + "/"));
  EXPECT_THAT(full.err, HasSubstr("No space left on device"));
  EXPECT_THAT(Generations("ACME", "DEMO"), SizeIs(2));
  // Nor can the last run be recorded: the run goes on all the same and prints its summary.
  const std::string state = backups_ + "/.quillet";
  ASSERT_EQ(mount("tmpfs", state.c_str(), "tmpfs", 0, "size=4k,mode=0700"), 0);
  WriteFile(state + "/filler", "x");
  const ProgramRun unrecorded = Quillet("plan run " + plan);
  umount(state.c_str());
  EXPECT_EQ(unrecorded.status, 1);
  EXPECT_THAT(unrecorded.err, HasSubstr("cannot write " + state + "/last-run.new"));
  EXPECT_THAT(unrecorded.out, HasSubstr("ACME\tDEMO\tsnapshot\tok"));
}

TEST_F(PlanTest, TheSubcommandsThatReadCountNothingAnotherUserCouldHavePut) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  const std::string database = backups_ + "/ACME/DEMO";
  const std::string made = Generations("ACME", "DEMO").front();
  // Open to all, as a folder another user made in a shared root would be.
  chmod(database.c_str(), 0777);
  const ProgramRun list = Quillet("plan list " + plan);
  EXPECT_THAT(list.err, HasSubstr("not counted: " + database + " can be written by group"));
  EXPECT_THAT(list.out, Not(HasSubstr(made)));
  const ProgramRun status = Quillet("plan status " + plan + " --warn 26h --crit 50h");
  EXPECT_EQ(status.status, 2);
  EXPECT_THAT(status.out, HasSubstr("ACME/DEMO has no verified backup"));
  const ProgramRun restore = Quillet("-y plan restore " + plan + " ACME DEMO --replace");
  EXPECT_EQ(restore.status, 1);
  EXPECT_THAT(restore.err, HasSubstr("not counted: " + database));
  chmod(database.c_str(), 0700);

  // A manifest or a journal that is a link is not this user's file, whatever it says.
  const std::string manifest = database + "/" + made + "/manifest.json";
  std::filesystem::rename(manifest, root_ + "/manifest.json");
  std::filesystem::create_symlink(root_ + "/manifest.json", manifest);
  const ProgramRun verify = Quillet("plan verify " + plan);
  EXPECT_THAT(verify.err, HasSubstr("not counted: " + manifest + " is not a regular file"));
  EXPECT_THAT(verify.out, HasSubstr("0 generations hold"));
  WriteFile(root_ + "/forged.jsonl", "{\"event\": \"end\"}\n");
  std::filesystem::create_symlink(root_ + "/forged.jsonl",
                                  backups_ + "/.quillet/runs/29991231T000000Z-1.jsonl");
  const ProgramRun report = Quillet("plan report " + plan + " --run 29991231T000000Z-1");
  EXPECT_EQ(report.status, 1);
  EXPECT_THAT(report.err, HasSubstr("29991231T000000Z-1.jsonl is not a regular file"));
}

TEST_F(PlanTest, ARootOthersCouldRearrangeOrOneAmongTheServersIsRefused) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  std::filesystem::create_directories(backups_);
  chmod(backups_.c_str(), 0777);
  const ProgramRun check = Quillet("plan check " + plan);
  EXPECT_EQ(check.status, 2);
  EXPECT_THAT(check.err, HasSubstr(plan + ":1:17: snapshot_root " + backups_ +
                                   " may be written by its group or others"));
  EXPECT_THAT(check.err, HasSubstr("(chmod +t " + backups_ + ")"));
  EXPECT_EQ(Quillet("plan run " + plan).status, 2);
  EXPECT_FALSE(std::filesystem::exists(backups_ + "/ACME"));
  chmod(backups_.c_str(), 01777);
  EXPECT_EQ(Quillet("plan run " + plan).status, 0);

  const auto rooted = [&](const std::string& root) {
    std::string text = ReadFile(plan);
    text.replace(0, text.find('\n'), "snapshot_root = \"" + root + "\"");
    WriteFile(root_ + "/rooted.toml", text);
    return root_ + "/rooted.toml";
  };
  // A folder above the root that others may write: they could swap the root for a link.
  const std::string shared = root_ + "/shared";
  std::filesystem::create_directories(shared);
  chmod(shared.c_str(), 0777);
  const ProgramRun under = Quillet("plan run " + rooted(shared + "/backups"));
  EXPECT_EQ(under.status, 2);
  EXPECT_THAT(under.err, HasSubstr(":1:17: snapshot_root " + shared + "/backups: " + shared +
                                   " may be written by its group or others"));
  EXPECT_FALSE(std::filesystem::exists(shared + "/backups"));
  // A link of this user's in a folder of this user's alone is followed once, at load.
  std::filesystem::create_directory_symlink(backups_, root_ + "/linked");
  EXPECT_EQ(Quillet("plan run " + rooted(root_ + "/linked/.")).status, 0);
  EXPECT_THAT(Generations("ACME", "DEMO"), SizeIs(2));
  const ProgramRun among = Quillet("plan check " + rooted(root_ + "/servers/backups"));
  EXPECT_EQ(among.status, 2);
  EXPECT_THAT(among.err, HasSubstr("lies in the stand-in's folder of servers"));
  EXPECT_EQ(Quillet("plan run " + rooted(root_ + "/servers/ACME")).status, 2);
  const ProgramRun home = Quillet("plan check " + rooted("~/backups"));
  EXPECT_EQ(home.status, 2);
  EXPECT_THAT(home.err, HasSubstr(root_ + "/rooted.toml:1:17: snapshot_root \"~/backups\" is taken "
                                          "literally, not as a home folder: write the full path"));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/~"));
}

TEST_F(PlanTest, TheLastRunIsTheOneThatBeganLastAndAServerThatFailedFailsItsDatabases) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  // A run from before the clock was set back, whose id is higher than any later one's.
  WriteFile(backups_ + "/.quillet/runs/29991231T000000Z-1.jsonl",
            "{\"event\": \"call\", \"server\": \"ACME\", \"database\": \"DEMO\", \"code\": 0}\n");
  ASSERT_EQ(Quillet("-y terminate-server ACME", WithPassword("acme-pw")).status, 0);
  const ProgramRun failed = Quillet("plan run " + plan + " --format json");
  ASSERT_EQ(failed.status, 1) << failed.err;
  const std::string run = nlohmann::json::parse(failed.out)["run"];
  EXPECT_THAT(Quillet("plan report " + plan).out, HasSubstr("run " + run + "\n"));

  ASSERT_EQ(Quillet("server start ACME").status, 0);
  const ProgramRun status = Quillet("plan status " + plan + " --format json");
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(nlohmann::json::parse(status.out)[0]["last_run_success"], false) << status.out;
  // Without the record the newest journal counts: runs of one second by process number.
  std::filesystem::remove(backups_ + "/.quillet/last-run");
  for (const char* pid : {"9972", "10001"}) {
    WriteFile(backups_ + "/.quillet/runs/29991231T000000Z-" + pid + ".jsonl", "");
    chmod((backups_ + "/.quillet/runs/29991231T000000Z-" + pid + ".jsonl").c_str(), 0600);
  }
  EXPECT_THAT(Quillet("plan report " + plan).out, HasSubstr("run 29991231T000000Z-10001\n"));
}

TEST_F(PlanTest, ARestoreTestOpensACopyOfTheNewestGenerationAndRecordsIt) {
  CreateServerWithDatabase();
  WriteFile(root_ + "/fill.sql",
            "CREATE TABLE t(v); CREATE INDEX tv ON t(v); WITH RECURSIVE c(x) AS (SELECT 1 UNION "
            "ALL SELECT x + 1 FROM c WHERE x < 2000) INSERT INTO t SELECT hex(x) FROM c;\n");
  ASSERT_EQ(QuilletArguments({"load", "DEMO", "SYSADM", "LOAD SQL " + root_ + "/fill.sql"},
                             WithPassword("SYSADM"))
                .status,
            0);
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  const std::string live = ReadFile(root_ + "/servers/ACME/DEMO.db");
  ASSERT_FALSE(live.empty());
  const std::string generation = Generations("ACME", "DEMO").front();
  const ProgramRun good = Quillet("plan verify " + plan + " --restore-test");
  EXPECT_EQ(good.status, 0) << good.out << good.err;
  EXPECT_THAT(good.out, HasSubstr("ACME DEMO " + generation + " restore test: ok"));

  // A page damaged inside, with a manifest rewritten to match: only opening it can tell.
  const std::string folder = backups_ + "/ACME/DEMO/" + generation;
  std::string copy = ReadFile(folder + "/DEMO.db");
  // The header's page size, big-endian at offset 16.
  const std::size_t page = std::size_t{static_cast<unsigned char>(copy[16])} << 8U |
                           static_cast<unsigned char>(copy[17]);
  ASSERT_GT(copy.size(), 2 * page);
  copy.replace(page, 64, 64, 'Z');
  WriteFile(folder + "/DEMO.db", copy);
  Rehash(folder, "DEMO.db");
  const ProgramRun bad = Quillet("plan verify " + plan + " --restore-test");
  EXPECT_EQ(bad.status, 1) << bad.out << bad.err;
  EXPECT_THAT(bad.out, HasSubstr("ACME DEMO " + generation + " restore test: DEMO.db is damaged"));
  EXPECT_EQ(ReadFile(root_ + "/servers/ACME/DEMO.db"), live);

  const nlohmann::json rows =
      nlohmann::json::parse(Quillet("plan list " + plan + " --format json").out);
  EXPECT_TRUE(rows[0]["verified"].get<bool>());
  EXPECT_FALSE(rows[0]["restore_test"]["ok"].get<bool>());
  struct stat info {};
  ASSERT_EQ(stat((backups_ + "/.quillet/restore-tests.jsonl").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);
  const std::string record = ReadFile(backups_ + "/.quillet/restore-tests.jsonl");
  EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 2);
  for (const auto& entry : std::filesystem::directory_iterator(backups_ + "/.quillet")) {
    EXPECT_THAT(entry.path().filename().string(), ::testing::Not(HasSubstr("restore-test-")));
  }
}

TEST_F(PlanTest, VerifyAndStatusNameWhatHasNoBackupAndVerifyClearsKilledTestsCopies) {
  CreateServerWithDatabase();
  ASSERT_EQ(Quillet("create-db ACME SALES", WithPassword("acme-pw")).status, 0);
  const std::string plan = WritePlan({"ACME"}, "[\"*\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  // A copy a killed restore test left: its process has ended.
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string copy = backups_ + "/.quillet/restore-test-" + std::to_string(ended);
  std::filesystem::create_directory(copy);
  chmod(copy.c_str(), 0700);
  WriteFile(copy + "/DEMO.db", "a copy");
  ASSERT_EQ(Quillet("plan verify " + plan).status, 0);
  EXPECT_FALSE(std::filesystem::exists(copy));

  // A database the server has now, of which the first run left only its folder, and a folder
  // others may write: neither is checked, and neither passes as such.
  ASSERT_EQ(Quillet("create-db ACME NEWDB", WithPassword("acme-pw")).status, 0);
  std::filesystem::create_directory(backups_ + "/ACME/NEWDB");
  chmod((backups_ + "/ACME/NEWDB").c_str(), 0700);
  chmod((backups_ + "/ACME/SALES").c_str(), 0770);
  const ProgramRun verify = Quillet("plan verify " + plan + " --restore-test");
  EXPECT_EQ(verify.status, 1) << verify.out << verify.err;
  EXPECT_THAT(verify.out, HasSubstr("ACME NEWDB not checked: it has no generation"));
  EXPECT_THAT(verify.out, HasSubstr("ACME SALES not checked: " + backups_ + "/ACME/SALES can be"));
  EXPECT_THAT(verify.out, HasSubstr("1 generation holds, 0 do not, 2 not checked"));

  const ProgramRun metrics = Quillet("plan status " + plan + " --format prometheus");
  EXPECT_THAT(metrics.out,
              HasSubstr("quillet_snapshot_age_seconds{server=\"ACME\",database=\"SALES\"} +Inf"));
  EXPECT_THAT(metrics.out,
              HasSubstr("quillet_snapshot_age_seconds{server=\"ACME\",database=\"NEWDB\"} +Inf"));
  EXPECT_THAT(metrics.out,
              HasSubstr("quillet_last_run_success{server=\"ACME\",database=\"NEWDB\"} 0"));
  EXPECT_THAT(metrics.out,
              HasSubstr("quillet_last_run_success{server=\"ACME\",database=\"DEMO\"} 1"));
}

TEST_F(PlanTest, ARestoreTestFailsWhatRestoreWouldRefuse) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  const std::string folder = backups_ + "/ACME/DEMO/" + Generations("ACME", "DEMO").front();
  std::string file = ReadFile(folder + "/DEMO.db");
  file[18] = file[19] = '\x02';
  WriteFile(folder + "/DEMO.db", file);
  Rehash(folder, "DEMO.db");
  const ProgramRun verify = Quillet("plan verify " + plan + " --restore-test");
  EXPECT_EQ(verify.status, 1) << verify.out << verify.err;
  EXPECT_THAT(verify.out,
              HasSubstr("restore test: restore would refuse it: " + folder + "/DEMO.db is in WAL"));
}

TEST_F(PlanTest, ARestoreOfAGenerationThatDoesNotHoldNamesTheNewestThatDoes) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"DEMO\"]");
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  const std::vector<std::string> made = Generations("ACME", "DEMO");
  ASSERT_THAT(made, SizeIs(2));
  {
    std::fstream rotten(backups_ + "/ACME/DEMO/" + made[1] + "/DEMO.db",
                        std::ios::in | std::ios::out | std::ios::binary);
    rotten.seekp(200);
    rotten.put('\x55');
  }
  const ProgramRun refused = Quillet("-y plan restore " + plan + " ACME DEMO --as DEMO2");
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, HasSubstr("generation " + made[1] + " does not hold"));
  EXPECT_THAT(refused.err,
              HasSubstr("--generation " + made[0] + " restores the newest that holds"));
}

TEST_F(PlanTest, ARestoreKilledBeforeItsEndFailsTheRunAndMakesStatusCritical) {
  CreateServerWithDatabase();
  const std::string plan = WritePlan({"ACME"}, "[\"*\"]", "");
  // A root the run makes under a loose umask is still one the next run takes.
  const mode_t umasked = umask(002);
  const ProgramRun first = Quillet("plan run " + plan);
  umask(umasked);
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(Quillet("plan run " + plan).status, 0);
  // Killed after the old database was deinstalled and kept aside: the server lists none.
  ASSERT_EQ(Quillet("-y deinstall-db ACME DEMO", WithPassword("acme-pw")).status, 0);
  const std::string file = root_ + "/servers/ACME/DEMO.db";
  std::filesystem::rename(file, file + ".before-restore");
  WriteFile(file + "-wal.before-restore", "log");
  const ProgramRun run = Quillet("plan run " + plan);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.out,
              HasSubstr("DEMO\trestore\tfailed: an earlier restore of DEMO did not finish"));
  // Every companion is named: the log may hold what the file does not.
  EXPECT_THAT(run.out, HasSubstr(".before-restore, " + file + "-wal.before-restore. Put them all"));
  const ProgramRun check = Quillet("plan check " + plan);
  EXPECT_EQ(check.status, 2);
  EXPECT_THAT(check.err, HasSubstr("server ACME: an earlier restore of DEMO did not finish"));
  const ProgramRun status = Quillet("plan status " + plan + " --warn 1h --crit 2h");
  EXPECT_EQ(status.status, 2);
  EXPECT_THAT(status.out, HasSubstr("CRITICAL: ACME/DEMO: an earlier restore of DEMO"));
  EXPECT_THAT(Generations("ACME", "DEMO"), SizeIs(2));
}

}  // namespace
