// The failure sweep: every export's successful call sequence is recorded through the fake, then
// each call in it is made to fail in turn, with a positive code, a negative code and 0xFFFF.
// Each failed run must report the code the rules give, widened with its sign, make no call after
// a failed connect, close every successful open exactly once, leak no file descriptor and leave
// the host's buffers and files as the rules say.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "active_cursors_reply.h"
#include "export_list.h"
#include "fake_client_test.h"
#include "quillet.h"

namespace {

using sqlwntm::EntryPoint;

// The host's side of one call: an output buffer filled with a marker, and a scratch directory.
struct Host {
  char list[QUILLET_CONNECTION_LIST_SIZE + 64];
  std::string directory;
  std::string File() const { return directory + "/export.csv"; }
};

// What one run left behind.
struct Outcome {
  int32_t result = 0;
  std::vector<EntryPoint> entryPoints;
  std::vector<std::string> calls;
  std::string list;  // the host's buffer up to its first NUL, or all of it when it has none
  bool listUntouched = false;
  bool fileExists = false;
  std::string file;                      // the export file's bytes
  std::vector<std::string> directories;  // what the scratch directory holds, but the file
};

// The call of one run that was made to fail: its position in the successful sequence, its
// entry point, how many calls of that entry point came before it, and the code it returned.
struct Failure {
  std::size_t position;
  EntryPoint entry;
  int occurrence;
  int16_t code;
};

// One export, described once: the fake's script for a run that reaches every call, the call
// itself, the calls whose failure never reaches the host besides the closes and the commit, and
// what the host must find afterwards.
struct Export {
  const char* name;
  void (*script)();
  int32_t (*call)(Host&);
  std::set<std::pair<EntryPoint, int>> silent;  // (entry point, occurrence); -1: every one
  void (*checkHost)(const Outcome& success, const Outcome& failed, const Failure& failure);
};

void PrintTo(const Export& e, std::ostream* out) { *out << e.name; }

constexpr char kMarker = '#';
constexpr int kAnyOccurrence = -1;
const int16_t kCodes[] = {1203, -7, static_cast<int16_t>(0xFFFF)};

bool IsServerOpen(EntryPoint entry) { return entry == sqlwntm::Connect; }
bool IsCursorOpen(EntryPoint entry) {
  return entry == sqlwntm::CursorConnect || entry == sqlwntm::CursorConnectOtherMode;
}
// The steps of a cursor connect after its opening: a failure closes the cursor at once.
bool IsCursorSetup(EntryPoint entry) {
  return entry == sqlwntm::GetParameter || entry == sqlwntm::SetIsolation ||
         entry == sqlwntm::SetParameter;
}
bool IsClose(EntryPoint entry) {
  return entry == sqlwntm::Disconnect || entry == sqlwntm::CursorDisconnect;
}
// Closes never change what the host is told; commits only where a load was made.
bool IsAlwaysSilent(EntryPoint entry) { return IsClose(entry); }

void ServerScript() { fake::SetDatabaseList(std::string("alpha\0beta\0\0", 12)); }

void SnapshotsHost(const Outcome& success, const Outcome& failed, const Failure& failure) {
  // The root's lock file stays beside the backups.
  EXPECT_EQ(success.directories, (std::vector<std::string>{".quillet.lock", "alpha", "beta"}));
  if (failure.entry == sqlwntm::Connect || failure.entry == sqlwntm::GetDatabaseNames) {
    EXPECT_TRUE(failed.directories.empty()) << "no directory is touched";
  } else if (failure.entry == sqlwntm::BackupSnapShot) {
    std::vector<std::string> kept = success.directories;
    kept.erase(kept.begin() + 1 + failure.occurrence);
    EXPECT_EQ(failed.directories, kept) << "a failed backup replaces no directory, leaves none";
  } else {
    EXPECT_EQ(failed.directories, success.directories) << "every database is still tried";
  }
}

void SelectScript() {
  fake::SetColumns({{1, "NAME"}, {2, "AGE"}});
  fake::SetRows({{"Smith", "42"}, {"", "7"}});
}

// The file's lines, each with its CR LF.
std::vector<std::string> LinesOf(const std::string& file) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < file.size();) {
    const std::size_t end = file.find('\n', start);
    const std::size_t next = end == std::string::npos ? file.size() : end + 1;
    lines.push_back(file.substr(start, next - start));
    start = next;
  }
  return lines;
}

// The export writes whole lines up to the failed step: nothing before the columns are known,
// the heading once they are bound, then each row fetched. A failed describe or bind still
// gives every line, with that column's cells empty.
void ExportCSVHost(const Outcome& success, const Outcome& failed, const Failure& failure) {
  const std::vector<std::string> all = LinesOf(success.file);
  EXPECT_EQ(success.file, "\"NAME\",\"AGE\"\r\n\"Smith\",42\r\n\"\",7\r\n");
  EXPECT_TRUE(failed.fileExists) << "the file is created before anything else";
  const std::vector<std::string> lines = LinesOf(failed.file);
  std::size_t kept = all.size();
  if (failure.entry == sqlwntm::CursorConnect || IsCursorSetup(failure.entry) ||
      failure.entry == sqlwntm::CompileAndExecute || failure.entry == sqlwntm::GetNoSelectItems) {
    kept = 0;
  } else if (failure.entry == sqlwntm::Execute) {
    kept = 1;
  } else if (failure.entry == sqlwntm::Next) {
    kept = std::min(all.size(), 1 + static_cast<std::size_t>(failure.occurrence));
  } else if (failure.entry == sqlwntm::DescribeSelectItem ||
             failure.entry == sqlwntm::SelectBuffer) {
    EXPECT_EQ(lines.size(), all.size());
    return;
  }
  EXPECT_EQ(lines, std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(kept)));
}

void CursorsScript() {
  fake::SetActiveCursorsReply(fake::ActiveCursorsReply(
      {{12, "CLERK", "STOCK", "ENTRY"}, {3, "ADMIN", "SALES", "REPORTS"}, {0, "", "", "SQLBase"}}));
}

void NoScript() {}

void NoHostOutput(const Outcome&, const Outcome&, const Failure&) {}

void DirDBHost(const Outcome& success, const Outcome& failed, const Failure& failure) {
  EXPECT_EQ(success.list, "alpha;beta;");
  if (failure.entry == sqlwntm::Connect || failure.entry == sqlwntm::GetDatabaseNames) {
    EXPECT_TRUE(failed.listUntouched) << "a failed connect or list leaves the buffer as it was";
  } else {
    EXPECT_EQ(failed.list, success.list);
  }
}

void ListConnectionsHost(const Outcome& success, const Outcome& failed, const Failure& failure) {
  EXPECT_EQ(success.list, "3:SALES:ADMIN:REPORTS;12:STOCK:CLERK:ENTRY");
  if (failure.entry == sqlwntm::Connect || failure.entry == sqlwntm::GetActiveCursors) {
    EXPECT_EQ(failed.list, "") << "a failed call leaves the empty list";
  } else {
    EXPECT_EQ(failed.list, success.list);
  }
}

// clang-format off
const Export kExports[] = {
    {"InstallDB", ServerScript, [](Host&) { return InstallDB("srv", "pw", "db"); }, {}, NoHostOutput},
    {"DeinstallDB", ServerScript, [](Host&) { return DeinstallDB("srv", "pw", "db"); }, {}, NoHostOutput},
    {"CreateDB", ServerScript, [](Host&) { return CreateDB("srv", "pw", "db"); }, {}, NoHostOutput},
    {"DropDB", ServerScript, [](Host&) { return DropDB("srv", "pw", "db"); }, {}, NoHostOutput},
    {"TerminateServer", ServerScript, [](Host&) { return TerminateServer("srv", "pw"); }, {}, NoHostOutput},
    {"KillConnection", ServerScript, [](Host&) { return KillConnection("srv", "pw", 12); }, {}, NoHostOutput},
    {"DirDB", ServerScript, [](Host& host) { return DirDB("srv", "pw", host.list); }, {}, DirDBHost},
    {"SnapShot", ServerScript,
     [](Host& host) { return SnapShot(0, "srv", "pw", "db", host.directory.c_str()); }, {}, NoHostOutput},
    {"AllSnapShot", ServerScript,
     [](Host& host) { return AllSnapShot("srv", "pw", host.directory.c_str()); }, {}, SnapshotsHost},
    {"ListConnections", CursorsScript,
     [](Host& host) { return ListConnections("srv", "pw", host.list); }, {}, ListConnectionsHost},
    {"KillAllConnections", CursorsScript,
     [](Host&) { return KillAllConnections("srv", "pw", ""); }, {}, NoHostOutput},
    {"UpdateStats", NoScript, [](Host&) { return UpdateStats("db", "user", "pw"); },
     {{sqlwntm::GetNoRows, kAnyOccurrence}, {sqlwntm::Commit, kAnyOccurrence}}, NoHostOutput},
    {"ReleaseLog", NoScript, [](Host&) { return ReleaseLog("db", "user", "pw"); }, {{sqlwntm::Commit, kAnyOccurrence}},
     NoHostOutput},
    // A commit failing after the load means the load was rolled back: the host hears of it.
    {"Load", NoScript, [](Host&) { return Load("db", "user", "pw", "LOAD x"); }, {}, NoHostOutput},
    {"Unload", NoScript, [](Host&) { return Unload("db", "user", "pw", "UNLOAD x"); }, {}, NoHostOutput},
    {"ExportCSV", SelectScript,
     [](Host& host) { return ExportCSV("db", "user", "pw", "SELECT name, age FROM t", host.File().c_str()); },
     {{sqlwntm::DescribeSelectItem, kAnyOccurrence}, {sqlwntm::Commit, kAnyOccurrence}}, ExportCSVHost},
    // The second statement of the reload, the unlock, never reaches the host; the commit after
    // the load does.
    {"ReLoad", NoScript, [](Host&) { return ReLoad("db", "user", "pw", "x.sql"); }, {{sqlwntm::CompileAndExecute, 1}}, NoHostOutput},
};
// clang-format on

int OpenDescriptors() {
  int count = 0;
  if (DIR* directory = opendir("/proc/self/fd")) {
    while (readdir(directory) != nullptr) ++count;
    closedir(directory);
  }
  return count;
}

// The entries of a directory, "." and ".." left out, in name order.
std::vector<std::string> Entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* directory = opendir(path.c_str())) {
    while (const dirent* entry = readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Empties the scratch directory, the snapshot directories in it included.
void Empty(const std::string& path) {
  for (const std::string& name : Entries(path)) {
    const std::string entry = path + "/" + name;
    if (rmdir(entry.c_str()) != 0) std::remove(entry.c_str());
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sequences checked by every export's sweep, and full-disk positions of the export file,
// printed when the program ends.
int sequencesChecked = 0;
int fullDiskPositionsChecked = 0;

class SweepFigures : public ::testing::Environment {
 public:
  void TearDown() override {
    std::cout << "failure sweep: " << sequencesChecked << " failure sequences checked over "
              << std::size(kExports) << " exports, and ExportCSV's file full after "
              << fullDiskPositionsChecked << " different byte counts\n";
  }
};

[[maybe_unused]] const auto* const kFigures = ::testing::AddGlobalTestEnvironment(new SweepFigures);

class FailureSweep : public FakeClientTest, public ::testing::WithParamInterface<Export> {
 protected:
  void SetUp() override {
    FakeClientTest::SetUp();
    char pattern[] = "/tmp/quillet-sweep-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    host_.directory = pattern;
  }
  void TearDown() override {
    Empty(host_.directory);
    rmdir(host_.directory.c_str());
  }

  // Runs the export once against the scripted fake, with at most one injected failure.
  Outcome RunOnce(const Failure* failure) {
    fake::Reset();
    GetParam().script();
    if (failure != nullptr) {
      std::vector<int16_t> codes(static_cast<std::size_t>(failure->occurrence), 0);
      codes.push_back(failure->code);
      fake::Returns(failure->entry, codes);
    }
    std::memset(host_.list, kMarker, sizeof host_.list);
    Empty(host_.directory);
    const int descriptors = OpenDescriptors();
    Outcome run;
    run.result = GetParam().call(host_);
    EXPECT_EQ(OpenDescriptors(), descriptors) << "a file or directory was left open";
    run.entryPoints = fake::EntryPoints();
    run.calls = fake::Calls();
    const void* end = std::memchr(host_.list, '\0', sizeof host_.list);
    const std::size_t length =
        end == nullptr ? sizeof host_.list
                       : static_cast<std::size_t>(static_cast<const char*>(end) - host_.list);
    run.list.assign(host_.list, length);
    run.listUntouched = run.list == std::string(sizeof host_.list, kMarker);
    run.fileExists = access(host_.File().c_str(), F_OK) == 0;
    run.file = ReadFile(host_.File());
    run.directories = Entries(host_.directory);
    run.directories.erase(std::remove(run.directories.begin(), run.directories.end(), "export.csv"),
                          run.directories.end());
    return run;
  }

  bool ReachesHost(const Failure& failure) const {
    if (IsAlwaysSilent(failure.entry)) return false;
    const auto& silent = GetParam().silent;
    return silent.count({failure.entry, kAnyOccurrence}) == 0 &&
           silent.count({failure.entry, failure.occurrence}) == 0;
  }

  // Every successful open is closed exactly once and nothing follows the close; a failed open
  // is followed by nothing at all.
  static void CheckOpensAndCloses(const Outcome& run, const Failure& failure) {
    int opens = 0;
    int closes = 0;
    for (std::size_t i = 0; i < run.entryPoints.size(); ++i) {
      const EntryPoint entry = run.entryPoints[i];
      const bool failed = i == failure.position;
      if ((IsServerOpen(entry) || IsCursorOpen(entry)) && !failed) ++opens;
      if (IsClose(entry)) {
        ++closes;
        EXPECT_EQ(i + 1, run.entryPoints.size()) << "a call follows the close";
        EXPECT_EQ(entry == sqlwntm::Disconnect, IsServerOpen(run.entryPoints.front()))
            << "closed with the wrong call";
      }
    }
    EXPECT_EQ(opens, 1 - (failure.position == 0 ? 1 : 0));
    EXPECT_EQ(closes, opens) << "every successful open is closed exactly once";
  }

  Host host_;
};

TEST_P(FailureSweep, EveryCallFailingKeepsTheRules) {
  const Outcome success = RunOnce(nullptr);
  ASSERT_EQ(success.result, 0);
  ASSERT_FALSE(success.entryPoints.empty());
  GetParam().checkHost(success, success, Failure{success.entryPoints.size(), EntryPoint{}, 0, 0});

  std::map<EntryPoint, int> seen;
  for (std::size_t position = 0; position < success.entryPoints.size(); ++position) {
    const EntryPoint entry = success.entryPoints[position];
    const int occurrence = seen[entry]++;
    for (const int16_t code : kCodes) {
      const Failure failure{position, entry, occurrence, code};
      SCOPED_TRACE(::testing::Message() << "call " << position << " (" << success.calls[position]
                                        << ") fails with " << code);
      const Outcome failed = RunOnce(&failure);
      ++sequencesChecked;

      ASSERT_GT(failed.calls.size(), position);
      EXPECT_TRUE(std::equal(success.calls.begin(),
                             success.calls.begin() + static_cast<std::ptrdiff_t>(position) + 1,
                             failed.calls.begin()))
          << "the run departs from the successful one before the failure";

      const int32_t expected = ReachesHost(failure) ? static_cast<int32_t>(code) : 0;
      EXPECT_EQ(failed.result, expected);

      const std::vector<EntryPoint> after(
          failed.entryPoints.begin() + static_cast<long>(position) + 1, failed.entryPoints.end());
      if (IsServerOpen(entry) || IsCursorOpen(entry)) {
        EXPECT_TRUE(after.empty()) << "a call follows a failed connect";
      } else if (IsCursorSetup(entry)) {
        EXPECT_EQ(after, std::vector<EntryPoint>{sqlwntm::CursorDisconnect})
            << "a failed setup step closes and stops";
      }
      CheckOpensAndCloses(failed, failure);
      GetParam().checkHost(success, failed, failure);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, FailureSweep, ::testing::ValuesIn(kExports),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(FailureSweepTable, SweepsEveryExport) { ExpectOneRowPerExport(kExports); }

// The disk fills up after every interesting number of bytes of the export file: none, one,
// each side of the writer's block boundaries, the last byte, and a stride in between. Each time
// the export must report the failed write, keep exactly the bytes the disk took, fetch no row
// after the block that failed, and still commit and close.
class FullDiskSweep : public FailureSweep {
 protected:
  // The file size limit applies to this process's writes; the signal it raises is ignored, so
  // that a write past it fails with EFBIG as a full disk's does with ENOSPC.
  Outcome RunWithRoomFor(std::size_t bytes) {
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = static_cast<rlim_t>(bytes);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Outcome run = RunOnce(nullptr);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    return run;
  }
};

// Rows enough for three blocks of the writer and a part of a fourth.
void LargeSelectScript() {
  fake::SetColumns({{1, "NAME"}, {2, "AGE"}});
  std::vector<fake::Row> rows;
  for (int i = 0; i < 2000; ++i) rows.push_back({"Customer \"" + std::to_string(i) + "\"", "4,2"});
  fake::SetRows(rows);
}

TEST_P(FullDiskSweep, EveryPositionOfAFullDiskIsReported) {
  constexpr std::size_t kBlock = 16384;  // the writer's block, handed to the stream whole
  const Outcome success = RunOnce(nullptr);
  ASSERT_EQ(success.result, 0);
  const std::size_t size = success.file.size();
  ASSERT_GT(size, 3 * kBlock);
  // Where each data line ends in the file, to tell which row filled a block.
  std::vector<std::size_t> lineEnds;
  for (std::size_t at = success.file.find('\n'); at != std::string::npos;
       at = success.file.find('\n', at + 1)) {
    lineEnds.push_back(at + 1);
  }
  const std::size_t rows = lineEnds.size() - 1;  // the heading is no row

  std::set<std::size_t> positions = {0, 1, 2, size / 2, size - 1};
  for (std::size_t block = kBlock; block < size; block += kBlock) {
    positions.insert({block - 1, block, block + 1});
  }
  for (std::size_t at = 0; at < size; at += 1009) positions.insert(at);

  for (const std::size_t room : positions) {
    SCOPED_TRACE(::testing::Message() << "the disk takes " << room << " bytes");
    const Outcome full = RunWithRoomFor(room);
    ++fullDiskPositionsChecked;
    EXPECT_EQ(full.result, QUILLET_ERROR_FILE_WRITE);
    EXPECT_EQ(full.file, success.file.substr(0, room)) << "the bytes before the failure only";

    // The block holding byte `room` is the first that fails; it is handed on when the byte
    // after it is written, or when the file is closed.
    const std::size_t failingEnd = (room / kBlock + 1) * kBlock;
    std::size_t fetches = rows + 1;  // every row and the fetch that finds the end
    if (failingEnd < size) {
      const auto filling = std::upper_bound(lineEnds.begin(), lineEnds.end(), failingEnd);
      fetches = static_cast<std::size_t>(filling - lineEnds.begin());  // heading not a fetch
    }
    EXPECT_EQ(static_cast<std::size_t>(
                  std::count(full.entryPoints.begin(), full.entryPoints.end(), sqlwntm::Next)),
              fetches);
    ASSERT_GE(full.calls.size(), 2U);
    EXPECT_TRUE(std::equal(full.calls.begin(), full.calls.end() - 2, success.calls.begin()))
        << "the run follows the successful one up to its last fetch";
    EXPECT_THAT(std::vector<EntryPoint>(full.entryPoints.end() - 2, full.entryPoints.end()),
                ::testing::ElementsAre(sqlwntm::Commit, sqlwntm::CursorDisconnect));
  }
}

const Export kLargeExport[] = {
    {"ExportCSV",
     LargeSelectScript,
     [](Host& host) {
       return ExportCSV("db", "user", "pw", "SELECT name, age FROM t", host.File().c_str());
     },
     {},
     NoHostOutput},
};

INSTANTIATE_TEST_SUITE_P(Exports, FullDiskSweep, ::testing::ValuesIn(kLargeExport),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
