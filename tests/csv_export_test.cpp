#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fake_client_test.h"
#include "quillet.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

namespace fs = std::filesystem;

// Each test exports into a file of its own, in a directory of its own, read back byte for byte.
class CsvExportTest : public FakeClientTest {
 protected:
  void SetUp() override {
    FakeClientTest::SetUp();
    fake::SetParameter1003(0);
    // A fresh directory, never one another test run is using.
    std::random_device random;
    do {
      directory_ = fs::temp_directory_path() / ("quillet-csv-" + std::to_string(random()));
    } while (!fs::create_directory(directory_));
    file_ = (directory_ / "out.csv").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  int32_t Export(const char* statement = "SELECT") {
    return ExportCSV("db", "usr", "pw", statement, file_.c_str());
  }
  std::string FileBytes() const {
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void WriteFile(const std::string& bytes) const {
    std::ofstream(file_, std::ios::binary) << bytes;
  }

  fs::path directory_;
  std::string file_;
};

TEST_F(CsvExportTest, TwoColumnsGiveHeadingAndRowsWithTheStatementRunTwice) {
  fake::SetColumns({{1, "NAME"}, {2, "AGE"}});
  fake::SetRows({{"Smith", "42"}, {"", "7"}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"NAME\",\"AGE\"\r\n\"Smith\",42\r\n\"\",7\r\n");
  const std::vector<std::string> calls = fake::Calls();
  EXPECT_THAT(std::vector<std::string>(calls.begin() + 2, calls.end()),
              ElementsAre("CompileAndExecute(7,SELECT,0)", "GetNoSelectItems(7,&0)",
                          "DescribeSelectItem(7,1,&0,&0,&,&,&,&)", "SelectBuffer(7,1,2,&,50,0,0,0)",
                          "DescribeSelectItem(7,2,&0,&0,&,&,&,&)", "SelectBuffer(7,2,2,&,50,0,0,0)",
                          "Execute(7)", "Next(7)", "Next(7)", "Next(7)", "Commit(7)",
                          "CursorDisconnect(7)"));
}

TEST_F(CsvExportTest, QuotesAreDoubledInNamesAndQuotedValues) {
  fake::SetColumns({{1, "A\"B"}, {4, "Q"}, {2, "\"\""}});
  fake::SetRows({{"a\"b", "\"", "x"}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"A\"\"B\",\"Q\",\"\"\"\"\"\"\r\n\"a\"\"b\",\"\"\"\",x\r\n");
}

// A value of a bare type that holds a comma, quote, CR or LF would split its cell or its row: it
// is quoted like a text, its quotes doubled. Other bare values keep their bytes.
TEST_F(CsvExportTest, BareValuesThatWouldSplitTheirRowAreQuoted) {
  fake::SetColumns({{2, "a"}, {3, "b"}, {5, "c"}, {6, "d"}, {2, "e"}, {3, "f"}});
  fake::SetRows({{"1,5", "x\"y", "c\rr", "l\nf", "pl ain;'\xE9", ""},
                 {"\"", ",", "\r\n", "9", "-1.5e3", "a\"\",\r\n\""}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(),
            "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\"\r\n"
            "\"1,5\",\"x\"\"y\",\"c\rr\",\"l\r\nf\",pl ain;'\xE9,\r\n"
            "\"\"\"\",\",\",\"\r\r\n\",9,-1.5e3,\"a\"\"\"\",\r\r\n\"\"\"\r\n");
}

TEST_F(CsvExportTest, EmptyValuesAndUnknownTypesKeepEveryCell) {
  fake::SetColumns(
      {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}, {6, "f"}, {0, "g"}, {7, "h"}});
  fake::SetRows({{"", "", "", "", "", "", "v", "w"}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n\"\",,,\"\",,,,\r\n");

  fake::Reset();
  fake::SetColumns({{7, "only"}});
  fake::SetRows({{"v"}, {"w"}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"only\"\r\n\r\n\r\n");
}

TEST_F(CsvExportTest, LineFeedsInNamesAndValuesAreStoredAsCrLf) {
  fake::SetColumns({{1, "L\nF"}, {2, "b"}});
  fake::SetRows({{"a\nb", "c\r\nd"}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"L\r\nF\",\"b\"\r\n\"a\r\nb\",\"c\r\r\nd\"\r\n");
}

// The file's bytes for one value of a column, by the rules, written out independently of the
// export's own ways of getting there.
std::string ExpectedCell(int32_t type, const std::string& value) {
  const bool text = type == 1 || type == 4;
  if (!text && (type < 2 || type > 6)) return "";
  const bool quoted = text || value.find_first_of(",\"\r\n") != std::string::npos;
  std::string cell = quoted ? "\"" : "";
  for (const char byte : value) {
    cell += byte == '\n' ? std::string("\r\n") : std::string(1, byte);
    if (quoted && byte == '"') cell += '"';
  }
  return quoted ? cell + "\"" : cell;
}

// Values of every length around the widths the export reads at once (16, 32, 50, 64), dense
// with the bytes that need more than a copy, in every type code, over enough rows that cells
// of every kind meet the end of the file's block: the file is what the rules make of them,
// with the client library keeping to the declared length and with one that delivers more.
TEST_F(CsvExportTest, ValuesOfEveryLengthAndByteMatchTheRulesAcrossBlocks) {
  std::mt19937 random(7);
  const std::string bytes = "aaaaaaaaaaaaaaaa\"\n,\r ";
  for (const int32_t delivered : {-1, 70}) {
    SCOPED_TRACE(::testing::Message() << "delivered length " << delivered);
    fake::Reset();
    fake::SetParameter1003(0);
    fake::SetDeliveredLength(delivered);
    const std::vector<fake::Column> columns = {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"},
                                               {5, "e"}, {6, "f"}, {0, "g"}, {7, "h"}};
    std::vector<fake::Row> rows;
    std::string expected = "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n";
    for (int r = 0; r < 1500; ++r) {
      fake::Row row;
      for (std::size_t c = 0; c < columns.size(); ++c) {
        std::string value(random() % 72, 'a');
        // Mostly plain values, so that most cells take the quick way and meet the block's end.
        if (random() % 3 == 0) {
          for (char& byte : value) byte = bytes[random() % bytes.size()];
        }
        row.push_back(value);
        const std::size_t kept = delivered < 0 ? 50 : static_cast<std::size_t>(delivered);
        expected += ExpectedCell(columns[c].type, value.substr(0, kept)) +
                    (c + 1 == columns.size() ? "\r\n" : ",");
      }
      rows.push_back(row);
    }
    fake::SetColumns(columns);
    fake::SetRows(rows);
    EXPECT_EQ(Export(), 0);
    const std::string file = FileBytes();
    ASSERT_GT(file.size(), 4U * 16384);
    EXPECT_EQ(file, expected);
  }
}

TEST_F(CsvExportTest, StatementWithoutColumnsStillExecutesFetchesAndCommits) {
  fake::SetRows({{}, {}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "");
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::CursorConnect, sqlwntm::GetParameter, sqlwntm::CompileAndExecute,
                          sqlwntm::GetNoSelectItems, sqlwntm::Execute, sqlwntm::Next, sqlwntm::Next,
                          sqlwntm::Next, sqlwntm::Commit, sqlwntm::CursorDisconnect));
}

TEST_F(CsvExportTest, StatementWithoutRowsGivesTheHeadingOnly) {
  fake::SetColumns({{1, "NAME"}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"NAME\"\r\n");
}

TEST_F(CsvExportTest, TwoHundredFiftyFiveColumnsEachGetTheirOwnSlot) {
  std::vector<fake::Column> columns;
  fake::Row row;
  std::string heading;
  std::string line;
  for (int column = 1; column <= 255; ++column) {
    columns.push_back({2, "c" + std::to_string(column)});
    row.push_back(std::to_string(column));
    const char* end = column == 255 ? "\r\n" : ",";
    heading += "\"c" + std::to_string(column) + "\"" + end;
    line += std::to_string(column) + end;
  }
  fake::SetColumns(columns);
  fake::SetRows({row});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), heading + line);
}

TEST_F(CsvExportTest, MoreThan255ColumnsAreRefusedBeforeAnythingIsWritten) {
  fake::SetColumns(std::vector<fake::Column>(256, fake::Column{2, "c"}));
  fake::SetRows({fake::Row(256, "v")});
  EXPECT_EQ(Export(), QUILLET_ERROR_TOO_MANY_COLUMNS);
  EXPECT_EQ(FileBytes(), "");
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAre(sqlwntm::CursorConnect, sqlwntm::GetParameter, sqlwntm::CompileAndExecute,
                          sqlwntm::GetNoSelectItems, sqlwntm::Commit, sqlwntm::CursorDisconnect));
}

TEST_F(CsvExportTest, LongNamesAreWrittenWhole) {
  const std::string name(255, 'n');
  fake::SetColumns({{2, name}, {2, "x"}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"" + name + "\",\"x\"\r\n");
}

TEST_F(CsvExportTest, ValuesReachTheFileAsAtMost50Bytes) {
  fake::SetColumns({{1, "q"}, {2, "b"}});
  fake::SetRows({{std::string(60, 'a'), std::string(60, 'b')}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(),
            "\"q\",\"b\"\r\n\"" + std::string(50, 'a') + "\"," + std::string(50, 'b') + "\r\n");
}

// A value that filled its slot after doubling must not show through in the next row.
TEST_F(CsvExportTest, ValuesNeverCarryOverIntoTheNextRow) {
  fake::SetColumns({{1, "q"}});
  fake::SetRows({{std::string(50, '"')}, {std::string(50, 'b')}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(),
            "\"q\"\r\n\"" + std::string(100, '"') + "\"\r\n\"" + std::string(50, 'b') + "\"\r\n");
}

// A longer value than was asked for, doubled past 100 bytes, is gone before the next fetch too.
TEST_F(CsvExportTest, OverlongValuesNeverCarryOverIntoTheNextRow) {
  fake::SetDeliveredLength(60);
  fake::SetColumns({{1, "q"}});
  fake::SetRows({{std::string(60, '"')}, {std::string(60, 'b')}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(),
            "\"q\"\r\n\"" + std::string(120, '"') + "\"\r\n\"" + std::string(60, 'b') + "\"\r\n");
}

// A client library that ignores the declared length can fill a whole slot without a NUL: each
// text then ends at its slot's last byte and the doubling stays inside the slot.
TEST_F(CsvExportTest, OverlongValuesStayInsideTheirSlots) {
  fake::SetDeliveredLength(255);
  fake::SetColumns({{1, "q"}, {2, "b"}, {4, "z"}});
  fake::SetRows({{std::string(255, '"'), std::string(255, 'b'), "a" + std::string(254, '"')}});
  EXPECT_EQ(Export(), 0);
  EXPECT_EQ(FileBytes(), "\"q\",\"b\",\"z\"\r\n\"" + std::string(254, '"') + "\"," +
                             std::string(254, 'b') + ",\"a" + std::string(252, '"') + "\"\r\n");
}

TEST_F(CsvExportTest, FetchErrorKeepsTheCompleteRowsAndIsTheResult) {
  fake::SetColumns({{2, "n"}});
  fake::SetRows({{"1"}, {"2"}, {"3"}, {"4"}});
  fake::Returns(sqlwntm::Next, {0, 0, 0, 5});
  EXPECT_EQ(Export(), 5);
  EXPECT_EQ(FileBytes(), "\"n\"\r\n1\r\n2\r\n3\r\n");
  EXPECT_THAT(
      fake::EntryPoints(),
      ElementsAre(sqlwntm::CursorConnect, sqlwntm::GetParameter, sqlwntm::CompileAndExecute,
                  sqlwntm::GetNoSelectItems, sqlwntm::DescribeSelectItem, sqlwntm::SelectBuffer,
                  sqlwntm::Execute, sqlwntm::Next, sqlwntm::Next, sqlwntm::Next, sqlwntm::Next,
                  sqlwntm::Commit, sqlwntm::CursorDisconnect));
}

TEST_F(CsvExportTest, LaterFailureReplacesAnEarlierOne) {
  fake::SetColumns({{2, "n"}});
  fake::SetRows({{"1"}});
  fake::Returns(sqlwntm::SelectBuffer, {-7});
  fake::Returns(sqlwntm::Next, {0, -5});
  EXPECT_EQ(Export(), -5);
  EXPECT_EQ(FileBytes(), "\"n\"\r\n\r\n");
}

TEST_F(CsvExportTest, FileThatCannotBeCreatedStopsBeforeAnyCall) {
  file_ = (directory_ / "missing" / "out.csv").string();
  EXPECT_EQ(Export(), QUILLET_ERROR_FILE);
  EXPECT_THAT(fake::Calls(), IsEmpty());
}

TEST_F(CsvExportTest, RefusedArgumentsLeaveTheFileAndTheServerAlone) {
  WriteFile("old");
  const std::string password(121, 'p');
  EXPECT_EQ(ExportCSV("db", "usr", "pw", "SELECT", nullptr), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(ExportCSV(nullptr, "usr", "pw", "SELECT", file_.c_str()), QUILLET_ERROR_ARGUMENT);
  EXPECT_EQ(ExportCSV("db", "usr", password.c_str(), "SELECT", file_.c_str()),
            QUILLET_ERROR_ARGUMENT);
  EXPECT_THAT(fake::Calls(), IsEmpty());
  EXPECT_EQ(FileBytes(), "old");

  EXPECT_EQ(Export(nullptr), 0);
  EXPECT_EQ(fake::Calls()[2], "CompileAndExecute(7,<null>,0)");
}

#if !defined(_WIN32)
// A disk that takes nothing: the export must not report success. Every entry point after
// the failure that the rules still call (commit, close) is made.
TEST_F(CsvExportTest, FileThatTakesNoWriteIsTheResult) {
  file_ = "/dev/full";
  // Small enough to stay in the writer's block until the file is closed.
  fake::SetColumns({{1, "A"}, {2, "B"}});
  fake::SetRows({{"v", "x"}});
  EXPECT_EQ(Export(), QUILLET_ERROR_FILE_WRITE);
  EXPECT_THAT(fake::EntryPoints(),
              ElementsAreArray(
                  {sqlwntm::CursorConnect, sqlwntm::GetParameter, sqlwntm::CompileAndExecute,
                   sqlwntm::GetNoSelectItems, sqlwntm::DescribeSelectItem, sqlwntm::SelectBuffer,
                   sqlwntm::DescribeSelectItem, sqlwntm::SelectBuffer, sqlwntm::Execute,
                   sqlwntm::Next, sqlwntm::Next, sqlwntm::Commit, sqlwntm::CursorDisconnect}));

  // Rows enough to fill the block several times: no row is fetched after the first failure.
  fake::Reset();
  fake::SetParameter1003(0);
  fake::SetColumns({{1, "A"}});
  fake::SetRows(std::vector<fake::Row>(2000, fake::Row{std::string(40, 'r')}));
  EXPECT_EQ(Export(), QUILLET_ERROR_FILE_WRITE);
  const int fetches = fake::CountOf(sqlwntm::Next);
  EXPECT_LT(fetches, 2000 / 4) << "the rows stop at the failure";
  EXPECT_GT(fetches, 16384 / 48 - 1);
  const std::vector<sqlwntm::EntryPoint> calls = fake::EntryPoints();
  EXPECT_THAT(std::vector<sqlwntm::EntryPoint>(calls.end() - 3, calls.end()),
              ElementsAre(sqlwntm::Next, sqlwntm::Commit, sqlwntm::CursorDisconnect));

  // A heading that does not fit the block fails before the statement runs again.
  fake::Reset();
  fake::SetParameter1003(0);
  fake::SetColumns(std::vector<fake::Column>(255, fake::Column{2, std::string(255, 'n')}));
  EXPECT_EQ(Export(), QUILLET_ERROR_FILE_WRITE);
  EXPECT_EQ(fake::CountOf(sqlwntm::Execute), 0);
  EXPECT_EQ(fake::CountOf(sqlwntm::SelectBuffer), 255) << "every column is still bound";
  const std::vector<sqlwntm::EntryPoint> heading = fake::EntryPoints();
  EXPECT_THAT(std::vector<sqlwntm::EntryPoint>(heading.end() - 3, heading.end()),
              ElementsAre(sqlwntm::SelectBuffer, sqlwntm::Commit, sqlwntm::CursorDisconnect));
}

// The failed write comes after a failed bind and replaces its code; a failed connect has written
// nothing, so there is no write to fail.
TEST_F(CsvExportTest, WriteFailureReplacesAnEarlierFailureOfTheRows) {
  file_ = "/dev/full";
  fake::SetColumns({{2, "n"}});
  fake::SetRows({{"1"}});
  fake::Returns(sqlwntm::SelectBuffer, {-7});
  EXPECT_EQ(Export(), QUILLET_ERROR_FILE_WRITE);
  fake::Reset();
  fake::SetParameter1003(0);
  fake::Returns(sqlwntm::CursorConnect, {-9});
  EXPECT_EQ(Export(), -9) << "nothing to write, so nothing failed to be written";
}
#endif

// One failing client-library call, over columns A (type 1) and B (type 2) and the row (v, x),
// with a file that held something before.
struct FailurePath {
  const char* name;
  sqlwntm::EntryPoint failing;
  int16_t code;
  int32_t result;
  std::string file;
  std::vector<sqlwntm::EntryPoint> calls;
};

void PrintTo(const FailurePath& path, std::ostream* out) { *out << path.name; }

const std::vector<sqlwntm::EntryPoint> kAllCalls = {sqlwntm::CursorConnect,
                                                    sqlwntm::GetParameter,
                                                    sqlwntm::CompileAndExecute,
                                                    sqlwntm::GetNoSelectItems,
                                                    sqlwntm::DescribeSelectItem,
                                                    sqlwntm::SelectBuffer,
                                                    sqlwntm::DescribeSelectItem,
                                                    sqlwntm::SelectBuffer,
                                                    sqlwntm::Execute,
                                                    sqlwntm::Next,
                                                    sqlwntm::Next,
                                                    sqlwntm::Commit,
                                                    sqlwntm::CursorDisconnect};
const std::string kAllRows = "\"A\",\"B\"\r\n\"v\",x\r\n";

const FailurePath kFailurePaths[] = {
    {"Connect", sqlwntm::CursorConnect, -9, -9, "", {sqlwntm::CursorConnect}},
    {"Statement",
     sqlwntm::CompileAndExecute,
     -3,
     -3,
     "",
     {sqlwntm::CursorConnect, sqlwntm::GetParameter, sqlwntm::CompileAndExecute,
      sqlwntm::CursorDisconnect}},
    {"ColumnCount",
     sqlwntm::GetNoSelectItems,
     -4,
     -4,
     "",
     {sqlwntm::CursorConnect, sqlwntm::GetParameter, sqlwntm::CompileAndExecute,
      sqlwntm::GetNoSelectItems, sqlwntm::Commit, sqlwntm::CursorDisconnect}},
    {"Describe", sqlwntm::DescribeSelectItem, -6, 0, "\"\",\"B\"\r\n,x\r\n", kAllCalls},
    {"Bind", sqlwntm::SelectBuffer, -7, -7, "\"A\",\"B\"\r\n\"\",x\r\n", kAllCalls},
    {"Execute",
     sqlwntm::Execute,
     -8,
     -8,
     "\"A\",\"B\"\r\n",
     {sqlwntm::CursorConnect, sqlwntm::GetParameter, sqlwntm::CompileAndExecute,
      sqlwntm::GetNoSelectItems, sqlwntm::DescribeSelectItem, sqlwntm::SelectBuffer,
      sqlwntm::DescribeSelectItem, sqlwntm::SelectBuffer, sqlwntm::Execute, sqlwntm::Commit,
      sqlwntm::CursorDisconnect}},
    {"Commit", sqlwntm::Commit, 3, 0, kAllRows, kAllCalls},
    {"Disconnect", sqlwntm::CursorDisconnect, 4, 0, kAllRows, kAllCalls},
};

class CsvExportFailureTest : public CsvExportTest,
                             public ::testing::WithParamInterface<FailurePath> {};

TEST_P(CsvExportFailureTest, TruncatesTheFileAndReportsTheFailingStep) {
  WriteFile("old contents\r\n");
  fake::SetColumns({{1, "A"}, {2, "B"}});
  fake::SetRows({{"v", "x"}});
  fake::Returns(GetParam().failing, {GetParam().code});
  EXPECT_EQ(Export(), GetParam().result);
  EXPECT_EQ(FileBytes(), GetParam().file);
  EXPECT_THAT(fake::EntryPoints(), ElementsAreArray(GetParam().calls));
}

INSTANTIATE_TEST_SUITE_P(Steps, CsvExportFailureTest, ::testing::ValuesIn(kFailurePaths),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
