#include "list_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using quillet::cli::FormatConnectionTable;
using quillet::cli::FormatDatabaseList;
using quillet::cli::SplitConnectionList;

namespace {

TEST(DatabaseListTest, GivesOneNamePerLine) {
  EXPECT_EQ(FormatDatabaseList("ISLAND;DEMO;"), "ISLAND\nDEMO\n");
  EXPECT_EQ(FormatDatabaseList("A;"), "A\n");
}

TEST(DatabaseListTest, GivesNothingWhenThereAreNone) { EXPECT_EQ(FormatDatabaseList(""), ""); }

TEST(DatabaseListTest, KeepsANameWhoseClosingSemicolonWasCutOff) {
  EXPECT_EQ(FormatDatabaseList("A;B"), "A\nB\n");
}

TEST(ConnectionTableTest, AlignsEveryColumnUnderItsHeading) {
  EXPECT_EQ(FormatConnectionTable("3:SALES:ADMIN:REPORTS;12:*:Server:BATCH;140:STOCK:CLERK:ENTRY"),
            "PROCESS  DATABASE  USER    PROGRAM\n"
            "      3  SALES     ADMIN   REPORTS\n"
            "     12  *         Server  BATCH\n"
            "    140  STOCK     CLERK   ENTRY\n");
}

TEST(ConnectionTableTest, WidensAColumnForALongValue) {
  EXPECT_EQ(FormatConnectionTable("7:ACCOUNTING:A:P"),
            "PROCESS  DATABASE    USER  PROGRAM\n"
            "      7  ACCOUNTING  A     P\n");
}

TEST(ConnectionTableTest, KeepsEmptyFieldsInTheirColumns) {
  EXPECT_EQ(FormatConnectionTable("7::ADMIN:"),
            "PROCESS  DATABASE  USER   PROGRAM\n"
            "      7            ADMIN\n");
}

TEST(ConnectionTableTest, GivesNothingWhenThereAreNone) {
  EXPECT_EQ(FormatConnectionTable(""), "");
}

TEST(ConnectionListTest, AColonInTheProgramNameStaysInIt) {
  const auto rows = SplitConnectionList("5:DB:U:C:\\bin\\app.exe");
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(rows[0].process, "5");
  EXPECT_EQ(rows[0].program, "C:\\bin\\app.exe");
}

TEST(ConnectionListTest, AShortLineGivesEmptyTrailingFields) {
  const auto rows = SplitConnectionList("5:DB");
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(rows[0].database, "DB");
  EXPECT_EQ(rows[0].user, "");
  EXPECT_EQ(rows[0].program, "");
}

}  // namespace

TEST(ScriptFormatTest, QuotesWhatNeedsItAndKeepsJsonValid) {
  EXPECT_EQ(quillet::cli::ConnectionListJson("7:DEMO:A:say \"hi\"\\;x:DEMO:B:\xff"),
            "[{\"process\":7,\"database\":\"DEMO\",\"user\":\"A\",\"program\":\"say "
            "\\\"hi\\\"\\\\\"},{\"process\":\"x\",\"database\":\"DEMO\",\"user\":\"B\","
            "\"program\":\"\xef\xbf\xbd\"}]\n");
  EXPECT_EQ(quillet::cli::ConnectionListCsv("7:DEMO:A:a,\"b\""),
            "process,database,user,program\r\n7,DEMO,A,\"a,\"\"b\"\"\"\r\n");
  EXPECT_EQ(quillet::cli::DatabaseListJson(""), "[]\n");
}
