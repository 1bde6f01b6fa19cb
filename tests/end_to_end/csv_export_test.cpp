// The CSV export read back with a real CSV reader, sqlite3's own import.
#include <cstdlib>

#include "end_to_end_test.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

using CsvExportEndToEndTest = EndToEndTest;

constexpr const char* kPeople =
    "CREATE TABLE people(name VARCHAR(30), age INTEGER, born DATE, score REAL, note TEXT);"
    "INSERT INTO people VALUES('Smith', 42, '1980-02-03', 1.5, 'plain'),"
    " ('O''Brien, \"Pat\"', 7, NULL, -0.25, 'a,b'), ('', NULL, '2001-12-31', 0, '\"');";

// Imports a CSV file, heading line first, into a new table "imported" of a new database.
std::string ImportedCopy(const std::string& csv, const std::string& database) {
  const std::string command =
      "sqlite3 '" + database + "' \".import --csv '" + csv + "' imported\" 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return database;
}

TEST_F(CsvExportEndToEndTest, TheExportReadsBackAsTheRowsOfTheDatabase) {
  CreateFilled("SALES", kPeople);
  const std::string csv = Path("people.csv");
  const char* query = "SELECT * FROM people ORDER BY age";
  ASSERT_EQ(ExportCSV("SALES", "SYSADM", "SYSADM", query, csv.c_str()), 0);

  const std::string text = ReadFile(csv);
  EXPECT_THAT(text, StartsWith("\"name\",\"age\",\"born\",\"score\",\"note\"\r\n"));
  EXPECT_THAT(text, HasSubstr("\"\",,2001-12-31,0.0,\"\"\"\"\r\n"));
  EXPECT_THAT(text, HasSubstr("\"O'Brien, \"\"Pat\"\"\",7,,-0.25,\"a,b\"\r\n"));

  const std::string imported = ImportedCopy(csv, Path("imported.db"));
  EXPECT_EQ(RowsOf(imported, "SELECT name, age, born, score, note FROM imported"),
            RowsOf(DatabaseFile("SALES"),
                   "SELECT name, ifnull(age, ''), ifnull(born, ''), score, note FROM people"
                   " ORDER BY age"));
}

TEST_F(CsvExportEndToEndTest, ExpressionsAndNoRowsExportAsTheyShould) {
  CreateFilled("SALES", kPeople);
  const std::string csv = Path("sum.csv");
  ASSERT_EQ(ExportCSV("SALES", "SYSADM", "SYSADM",
                      "SELECT count(*) AS n, max(name) AS last FROM people", csv.c_str()),
            0);
  EXPECT_EQ(ReadFile(csv), "\"n\",\"last\"\r\n3,\"Smith\"\r\n");
  ASSERT_EQ(ExportCSV("SALES", "SYSADM", "SYSADM", "SELECT name FROM people WHERE age > 100",
                      csv.c_str()),
            0);
  EXPECT_EQ(ReadFile(csv), "\"name\"\r\n");
  EXPECT_EQ(ExportCSV("SALES", "SYSADM", "SYSADM", "SELECT nosuch FROM people", csv.c_str()),
            STANDIN_SQL_ERROR);
  EXPECT_EQ(ReadFile(csv), "");
}

// Numbers and dates are written bare, but SQLite keeps any text in such a column: a comma, quote
// or line break there, or a quote in a column name, must still read back as written.
TEST_F(CsvExportEndToEndTest, BareColumnsHoldingSeparatorsReadBackWhole) {
  CreateFilled("SALES",
               "CREATE TABLE odd(\"a\"\"b\" INTEGER, d DATE, r REAL);"
               "INSERT INTO odd VALUES('1,5', 'x\"y' || char(13, 10) || 'z', 2.5),"
               " (7, '2001-12-31', 'a' || char(10) || ',\"');");
  const std::string csv = Path("odd.csv");
  ASSERT_EQ(ExportCSV("SALES", "SYSADM", "SYSADM", "SELECT * FROM odd ORDER BY rowid", csv.c_str()),
            0);
  EXPECT_THAT(ReadFile(csv),
              StartsWith("\"a\"\"b\",\"d\",\"r\"\r\n\"1,5\",\"x\"\"y\r\r\nz\",2.5\r\n"));

  // The file as sqlite3 reads a CSV file, row by row and field by field; a text mode writer's
  // line feeds (CR LF) are what a reader sees of a line feed.
  const std::string imported = ImportedCopy(csv, Path("imported.db"));
  EXPECT_EQ(RowsOf(imported, "SELECT * FROM imported"),
            RowsOf(DatabaseFile("SALES"),
                   "SELECT \"a\"\"b\", replace(d, char(10), char(13, 10)), replace(r, char(10), "
                   "char(13, 10)) FROM odd ORDER BY rowid"));
}

}  // namespace
