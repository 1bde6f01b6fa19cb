#include "command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "subcommand.h"

using quillet::cli::kOptionAll;
using quillet::cli::kOptionFlag;
using quillet::cli::kOptionFormat;
using quillet::cli::kOptionPasswordFile;
using quillet::cli::ParseArguments;
using quillet::cli::ParseInt32;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr unsigned kEvery = kOptionPasswordFile | kOptionFormat | kOptionFlag | kOptionAll;

TEST(ParseArgumentsTest, OptionsMayStandAnywhereAmongThePositionalArguments) {
  const auto parsed =
      ParseArguments({"--raw", "ACME", "--password-file", "pw.txt", "DB", "--flag=0"}, kEvery);
  EXPECT_EQ(parsed.error, "");
  EXPECT_THAT(parsed.positional, ElementsAre("ACME", "DB"));
  EXPECT_EQ(parsed.format, quillet::cli::ListFormat::kRaw);
  EXPECT_EQ(parsed.passwordFile, "pw.txt");
  EXPECT_EQ(parsed.flag, 0);
}

TEST(ParseArgumentsTest, DoubleDashMakesEverythingAfterItPositional) {
  const auto parsed = ParseArguments({"DB", "--", "--raw", "-h", "-x"}, kEvery);
  EXPECT_EQ(parsed.error, "");
  EXPECT_FALSE(parsed.format.has_value());
  EXPECT_FALSE(parsed.help);
  EXPECT_THAT(parsed.positional, ElementsAre("DB", "--raw", "-h", "-x"));
}

TEST(ParseArgumentsTest, NegativeNumbersAndALoneDashArePositional) {
  EXPECT_THAT(ParseArguments({"ACME", "-5", "-"}, 0).positional, ElementsAre("ACME", "-5", "-"));
}

TEST(ParseArgumentsTest, RefusesOptionsTheSubcommandDoesNotTake) {
  EXPECT_THAT(ParseArguments({"--raw"}, kOptionPasswordFile).error, HasSubstr("--raw"));
  EXPECT_THAT(ParseArguments({"--flag", "1"}, kOptionFormat).error, HasSubstr("--flag"));
  EXPECT_THAT(ParseArguments({"--bogus"}, kEvery).error, HasSubstr("unknown option --bogus"));
}

TEST(ParseArgumentsTest, RefusesMissingAndUnwantedValues) {
  EXPECT_THAT(ParseArguments({"--password-file"}, kEvery).error, HasSubstr("needs a value"));
  EXPECT_THAT(ParseArguments({"--raw=yes"}, kEvery).error, HasSubstr("takes no value"));
  EXPECT_THAT(ParseArguments({"--flag", "one"}, kEvery).error, HasSubstr("whole number"));
}

TEST(ParseArgumentsTest, AnUnknownOptionIsNamedWithoutItsValue) {
  const auto parsed = ParseArguments({"--pasword_file=hunter2"}, kEvery);
  EXPECT_THAT(parsed.error, Not(HasSubstr("hunter2")));
  // A one-dash option carries its value in its tail.
  EXPECT_THAT(ParseArguments({"-Phunter2"}, kEvery).error,
              AllOf(HasSubstr("unknown option -P"), Not(HasSubstr("hunter2"))));
}

TEST(ParseArgumentsTest, HelpIsRecognisedInEitherSpelling) {
  EXPECT_TRUE(ParseArguments({"ACME", "--help"}, 0).help);
  EXPECT_TRUE(ParseArguments({"-h"}, 0).help);
}

class PasswordArgumentTest : public ::testing::TestWithParam<const char*> {};

TEST_P(PasswordArgumentTest, IsRefusedWithoutRepeatingTheSecret) {
  const auto parsed = ParseArguments({"ACME", GetParam(), "DB"}, kEvery);
  EXPECT_TRUE(parsed.passwordRefused);
  EXPECT_THAT(parsed.error, HasSubstr("QUILLET_PASSWORD"));
  EXPECT_THAT(parsed.error, HasSubstr("--password-file"));
  EXPECT_THAT(parsed.error, Not(HasSubstr("hunter2")));
}

INSTANTIATE_TEST_SUITE_P(Spellings, PasswordArgumentTest,
                         ::testing::Values("--password=hunter2", "--password", "--passwd=hunter2",
                                           "--pass", "--pw=hunter2", "-p", "-phunter2"));

TEST(PasswordArgumentTest, ThePasswordFileOptionIsNoPassword) {
  EXPECT_FALSE(ParseArguments({"--password-file=pw"}, kEvery).passwordRefused);
  EXPECT_FALSE(ParseArguments({"--", "-p"}, kEvery).passwordRefused);
}

TEST(ParseInt32Test, TakesWholeDecimalNumbersWithin32Bits) {
  EXPECT_EQ(ParseInt32("0"), 0);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt32("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseInt32("2147483648"), std::nullopt);
  EXPECT_EQ(ParseInt32("-2147483649"), std::nullopt);
  EXPECT_EQ(ParseInt32("99999999999999999999"), std::nullopt);
  EXPECT_EQ(ParseInt32("12abc"), std::nullopt);
  EXPECT_EQ(ParseInt32(""), std::nullopt);
  EXPECT_EQ(ParseInt32(" 5"), std::nullopt);
  EXPECT_EQ(ParseInt32("+5"), std::nullopt);
}

}  // namespace
