// What a host may pass: null pointers, empty texts, texts at and one past every fixed limit,
// bytes above 0x7F and control characters. Each export is described once by its pointer
// parameters and what it does with each; the tests then try every parameter.
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "export_list.h"
#include "fake_client_test.h"
#include "quillet.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

// What an export does with one of its pointer parameters.
enum class Use {
  kHandedOn,      // passed to the client library as it is, null included
  kRead,          // read by the library itself: null is refused before any call
  kReadNotEmpty,  // as kRead, and "" is refused too
  kOutput,        // a host buffer the library writes: null is refused before any call
};

constexpr std::size_t kMostParameters = 5;
using Texts = std::array<const char*, kMostParameters>;

struct ExportUnderTest {
  const char* name;
  std::vector<Use> uses;  // one for each pointer parameter, in order
  int32_t (*call)(const Texts&);
};

// Room for any output the exports write; the tests put their own texts in the other slots.
char output[QUILLET_CONNECTION_LIST_SIZE];
// ExportCSV's output: a file name, whose file the tests remove.
char exportFile[] = "host_input_export.csv";

const ExportUnderTest kExportsUnderTest[] = {
    {"InstallDB",
     {Use::kHandedOn, Use::kHandedOn, Use::kHandedOn},
     [](const Texts& t) { return InstallDB(t[0], t[1], t[2]); }},
    {"DeinstallDB",
     {Use::kHandedOn, Use::kHandedOn, Use::kHandedOn},
     [](const Texts& t) { return DeinstallDB(t[0], t[1], t[2]); }},
    {"CreateDB",
     {Use::kHandedOn, Use::kHandedOn, Use::kHandedOn},
     [](const Texts& t) { return CreateDB(t[0], t[1], t[2]); }},
    {"DropDB",
     {Use::kHandedOn, Use::kHandedOn, Use::kHandedOn},
     [](const Texts& t) { return DropDB(t[0], t[1], t[2]); }},
    {"TerminateServer",
     {Use::kHandedOn, Use::kHandedOn},
     [](const Texts& t) { return TerminateServer(t[0], t[1]); }},
    {"KillConnection",
     {Use::kHandedOn, Use::kHandedOn},
     [](const Texts& t) { return KillConnection(t[0], t[1], 5); }},
    {"DirDB",
     {Use::kHandedOn, Use::kHandedOn, Use::kOutput},
     [](const Texts& t) { return DirDB(t[0], t[1], const_cast<char*>(t[2])); }},
    {"SnapShot",
     {Use::kHandedOn, Use::kHandedOn, Use::kHandedOn, Use::kHandedOn},
     [](const Texts& t) { return SnapShot(1, t[0], t[1], t[2], t[3]); }},
    // The fake's database list is empty, so no directory is touched whatever the root. An
    // empty root would name the top of the drive.
    {"AllSnapShot",
     {Use::kHandedOn, Use::kHandedOn, Use::kReadNotEmpty},
     [](const Texts& t) { return AllSnapShot(t[0], t[1], t[2]); }},
    {"ListConnections",
     {Use::kHandedOn, Use::kHandedOn, Use::kOutput},
     [](const Texts& t) { return ListConnections(t[0], t[1], const_cast<char*>(t[2])); }},
    {"KillAllConnections",
     {Use::kHandedOn, Use::kHandedOn, Use::kRead},
     [](const Texts& t) { return KillAllConnections(t[0], t[1], t[2]); }},
    {"UpdateStats",
     {Use::kRead, Use::kRead, Use::kRead},
     [](const Texts& t) { return UpdateStats(t[0], t[1], t[2]); }},
    {"ReleaseLog",
     {Use::kRead, Use::kRead, Use::kRead},
     [](const Texts& t) { return ReleaseLog(t[0], t[1], t[2]); }},
    {"Load",
     {Use::kRead, Use::kRead, Use::kRead, Use::kHandedOn},
     [](const Texts& t) { return Load(t[0], t[1], t[2], t[3]); }},
    {"Unload",
     {Use::kRead, Use::kRead, Use::kRead, Use::kHandedOn},
     [](const Texts& t) { return Unload(t[0], t[1], t[2], t[3]); }},
    {"ReLoad",
     {Use::kRead, Use::kRead, Use::kRead, Use::kRead},
     [](const Texts& t) { return ReLoad(t[0], t[1], t[2], t[3]); }},
    // The file name is the host's output: a null one is refused like an output buffer.
    {"ExportCSV",
     {Use::kRead, Use::kRead, Use::kRead, Use::kHandedOn, Use::kOutput},
     [](const Texts& t) { return ExportCSV(t[0], t[1], t[2], t[3], t[4]); }},
};

void PrintTo(const ExportUnderTest& e, std::ostream* out) { *out << e.name; }

class HostInputTest : public FakeClientTest, public ::testing::WithParamInterface<ExportUnderTest> {
 protected:
  // Every parameter set to `text`, the output buffers to the shared output area.
  Texts AllSetTo(const char* text) const {
    Texts texts{};
    for (std::size_t i = 0; i < GetParam().uses.size(); ++i) {
      const bool isFile = std::string(GetParam().name) == "ExportCSV";
      texts[i] = GetParam().uses[i] != Use::kOutput ? text : isFile ? exportFile : output;
    }
    return texts;
  }
};

TEST_P(HostInputTest, NullIsRefusedWhereTheLibraryReadsAndHandedOnElsewhere) {
  for (std::size_t i = 0; i < GetParam().uses.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "parameter " << i + 1 << " null");
    fake::Reset();
    Texts texts = AllSetTo("x");
    texts[i] = nullptr;
    const int32_t result = GetParam().call(texts);
    if (GetParam().uses[i] == Use::kHandedOn) {
      EXPECT_EQ(result, 0);
      bool handedOn = false;
      for (const std::string& call : fake::Calls()) {
        handedOn = handedOn || call.find("<null>") != std::string::npos;
      }
      EXPECT_TRUE(handedOn) << "the null pointer reaches the client library as it is";
    } else {
      EXPECT_EQ(result, QUILLET_ERROR_ARGUMENT);
      EXPECT_THAT(fake::Calls(), IsEmpty());
    }
  }
}

TEST_P(HostInputTest, EmptyTextsAreOrdinaryTextsWhereTheyMeanNothingElse) {
  const auto& uses = GetParam().uses;
  if (std::find(uses.begin(), uses.end(), Use::kReadNotEmpty) != uses.end()) {
    EXPECT_EQ(GetParam().call(AllSetTo("")), QUILLET_ERROR_ARGUMENT);
    EXPECT_THAT(fake::Calls(), IsEmpty());
    return;
  }
  EXPECT_EQ(GetParam().call(AllSetTo("")), 0);
  EXPECT_THAT(fake::Calls(), Not(IsEmpty()));
}

// Texts are bytes: nothing is converted, trimmed or cut at a control character.
TEST_P(HostInputTest, BytesAboveAsciiAndControlCharactersPassUnchanged) {
  const char text[] = "\xE9\xFF\x80\x01\t\r\n\x1B\x7F;:/\\";
  EXPECT_EQ(GetParam().call(AllSetTo(text)), 0);
  bool passed = false;
  for (const std::string& call : fake::Calls()) {
    passed = passed || call.find(text) != std::string::npos;
  }
  EXPECT_TRUE(passed);
}

INSTANTIATE_TEST_SUITE_P(Exports, HostInputTest, ::testing::ValuesIn(kExportsUnderTest),
                         [](const auto& test) { return std::string(test.param.name); });

// A new export is tried here too, and each of its pointer parameters with it.
TEST(HostInputTable, DescribesEveryPointerParameterOfEveryExport) {
  ExpectOneRowPerExport(kExportsUnderTest);
  for (const ListedExport& listed : kListedExports) {
    for (const ExportUnderTest& row : kExportsUnderTest) {
      if (std::string(row.name) == listed.name) {
        EXPECT_EQ(row.uses.size(), listed.pointerParameters) << listed.name;
      }
    }
  }
}

// The three login texts share 125 characters, however they are split.
TEST_F(FakeClientTest, LoginTextsMayTakeExactly125CharactersTogether) {
  const std::size_t splits[][3] = {{125, 0, 0}, {0, 125, 0}, {0, 0, 125}, {41, 42, 42}};
  for (const auto& split : splits) {
    const std::string database(split[0], 'd');
    const std::string user(split[1], 'u');
    const std::string password(split[2], 'p');
    fake::Reset();
    EXPECT_EQ(UpdateStats(database.c_str(), user.c_str(), password.c_str()), 0);
    EXPECT_EQ(fake::Calls().front(),
              "CursorConnect(&," + database + "/" + user + "/" + password + ",0)");

    fake::Reset();
    const std::string longer = password + "+";
    EXPECT_EQ(ReleaseLog(database.c_str(), user.c_str(), longer.c_str()), QUILLET_ERROR_ARGUMENT);
    EXPECT_THAT(fake::Calls(), IsEmpty());
  }
}

TEST_F(FakeClientTest, ReloadScriptNameMayTake250Bytes) {
  const std::string name(250, '\xE9');
  EXPECT_EQ(ReLoad("db", "usr", "pw", name.c_str()), 0);
  EXPECT_THAT(fake::Calls(), Contains("Load(7,LOAD SQL " + name + ",0)"));

  fake::Reset();
  EXPECT_EQ(ReLoad("db", "usr", "pw", (name + "x").c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

// Windows itself refuses directory paths of more than 248 characters, so the library's own
// path limits show on a file system that allows longer ones.
#if !defined(_WIN32)
// A scratch root for snapshot directories, removed with what is left in it.
class SnapshotPathTest : public FakeClientTest {
 protected:
  void SetUp() override {
    FakeClientTest::SetUp();
    char pattern[] = "/tmp/quillet-paths-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    for (const std::string& directory : made_) {
      std::remove((directory + "/old").c_str());
      rmdir(directory.c_str());
    }
    rmdir(root_.c_str());
  }
  // A database name that makes root\name exactly `length` characters long.
  std::string NameFor(std::size_t length, char fill) const {
    return std::string(length - root_.size() - 1, fill);
  }
  std::string DirectoryOf(const std::string& name) {
    made_.push_back(root_ + "/" + name);
    return made_.back();
  }
  static bool Exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
  }

  std::string root_;
  std::vector<std::string> made_;
};

// The backup is made in root\name.partial, which with its search pattern "\\*.*" has 260 bytes
// of room with its NUL: root\name may take 247 characters, and 248 are refused.
TEST_F(SnapshotPathTest, SnapshotPathMayTake247Characters) {
  const std::string fits = NameFor(247, 'a');
  const std::string over = NameFor(248, 'b');
  fake::SetDatabaseList(fits + '\0' + over + '\0' + '\0');
  EXPECT_EQ(AllSnapShot("srv", "pw", root_.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), Contains("BackupSnapShot(7," + fits + ",0," + root_ + "\\" + fits +
                                      ".partial,0,1,1)"));
  EXPECT_EQ(fake::CountOf(sqlwntm::BackupSnapShot), 1)
      << "the name one past the limit is not backed up";
  EXPECT_TRUE(Exists(DirectoryOf(fits)));
  EXPECT_FALSE(Exists(DirectoryOf(over)));
  EXPECT_FALSE(Exists(DirectoryOf(over + ".partial")));
}

// At that limit both directories are still searched: a crashed run's leftover in the .partial
// one of 255 characters is emptied, and the previous backup once the new one succeeded.
TEST_F(SnapshotPathTest, LongestDirectoriesAreStillEmptied) {
  const std::string name = NameFor(247, 'c');
  for (const std::string& directory : {DirectoryOf(name), DirectoryOf(name + ".partial")}) {
    ASSERT_EQ(mkdir(directory.c_str(), 0777), 0);
    std::fclose(std::fopen((directory + "/old").c_str(), "w"));
  }
  fake::SetDatabaseList(name + '\0' + '\0');
  EXPECT_EQ(AllSnapShot("srv", "pw", root_.c_str()), 0);
  EXPECT_FALSE(Exists(DirectoryOf(name) + "/old"));
  EXPECT_FALSE(Exists(DirectoryOf(name + ".partial")));
}
#endif  // !defined(_WIN32)

// The host's buffers are exactly the documented room, on the heap, so that the sanitizer build
// catches a byte written past them.
TEST_F(FakeClientTest, OutputStaysInsideTheDocumentedRoom) {
  std::string names;
  for (char c = 'a'; names.size() + 4 < QUILLET_DATABASE_LIST_SIZE; c = c == 'z' ? 'a' : c + 1) {
    names += std::string(1, c) + "\xFF\x01" + '\0';
  }
  names.resize(QUILLET_DATABASE_LIST_SIZE - 1, '\x7F');
  names.push_back('\0');
  fake::SetDatabaseList(names);
  std::vector<char> list(QUILLET_DATABASE_LIST_SIZE);
  EXPECT_EQ(DirDB("srv", "pw", list.data()), 0);
  EXPECT_NE(std::memchr(list.data(), '\0', list.size()), nullptr);
  EXPECT_THAT(std::string(list.data()), HasSubstr("a\xFF\x01;b\xFF\x01;"));
}

}  // namespace
