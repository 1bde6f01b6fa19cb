#include "command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quillet::cli;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

JobResult Nothing(const Invocation&) { return {}; }
std::string Ask(const Invocation&) { return "Sure?"; }

// "every" takes every kind of option; "plain" only the password file's.
class ParseArgumentsTest : public ::testing::Test {
 protected:
  ParseArgumentsTest() {
    commandLine_
        .Add(Subcommand("every", "SERVER [A] [B] [C]", "every option")
                 .As(Credential::kServer)
                 .Runs("Call", Nothing)
                 .Lists(Listing::kDatabases)
                 .Confirms(Ask))
        .add_option("--flag", commandLine_.invocation().flag)
        ->transform(WholeNumber());
    commandLine_.Add(
        Subcommand("plain", "SERVER", "few options").As(Credential::kServer).Runs("Call", Nothing));
  }

  ParsedCommand Parse(const std::vector<std::string>& arguments) {
    return commandLine_.Parse(arguments);
  }
  const std::vector<std::string>& Arguments() { return commandLine_.invocation().arguments; }
  const CommonOptions& Options() { return commandLine_.options(); }

  CommandLine commandLine_;
};

TEST_F(ParseArgumentsTest, OptionsMayStandAnywhereAmongThePositionalArguments) {
  const auto parsed =
      Parse({"every", "--raw", "ACME", "--password-file", "pw.txt", "DB", "--flag=0"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_THAT(Arguments(), ElementsAre("ACME", "DB"));
  EXPECT_EQ(Options().format, ListFormat::kRaw);
  EXPECT_EQ(Options().passwordFile, "pw.txt");
  EXPECT_EQ(commandLine_.invocation().flag, 0);
  // Decimal, where CLI11 alone would read octal.
  EXPECT_EQ(Parse({"every", "A", "--flag", "010"}).error, "");
  EXPECT_EQ(commandLine_.invocation().flag, 10);
}

TEST_F(ParseArgumentsTest, OptionsBeforeTheSubcommandAreItsOwnUnlessItRepeatsThem) {
  EXPECT_EQ(Parse({"--flag", "7", "-y", "--format=csv", "every", "ACME"}).error, "");
  EXPECT_EQ(commandLine_.invocation().flag, 7);
  EXPECT_TRUE(Options().yes);
  EXPECT_EQ(Options().format, ListFormat::kCsv);
  EXPECT_EQ(Parse({"--flag", "7", "every", "ACME", "--flag", "8"}).error, "");
  EXPECT_EQ(commandLine_.invocation().flag, 8);
  EXPECT_THAT(Parse({"--flag", "7", "plain", "ACME"}).error,
              HasSubstr("quillet plain: this subcommand takes no --flag option"));
}

TEST_F(ParseArgumentsTest, DoubleDashMakesEverythingAfterItPositional) {
  const auto parsed = Parse({"every", "DB", "--", "--raw", "-h", "-x"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_FALSE(Options().format.has_value());
  EXPECT_EQ(parsed.help, "");
  EXPECT_THAT(Arguments(), ElementsAre("DB", "--raw", "-h", "-x"));
}

TEST_F(ParseArgumentsTest, NegativeNumbersAndALoneDashArePositional) {
  EXPECT_EQ(Parse({"every", "ACME", "-5", "-", "plain"}).error, "");
  // A value never starts another subcommand.
  EXPECT_THAT(Arguments(), ElementsAre("ACME", "-5", "-", "plain"));
}

TEST_F(ParseArgumentsTest, RefusesOptionsTheSubcommandDoesNotTake) {
  EXPECT_THAT(Parse({"plain", "A", "--raw"}).error, HasSubstr("--raw"));
  EXPECT_THAT(Parse({"plain", "A", "--flag", "1"}).error, HasSubstr("--flag"));
  EXPECT_THAT(Parse({"every", "A", "--bogus"}).error, HasSubstr("unknown option --bogus"));
}

TEST_F(ParseArgumentsTest, RefusesMissingAndUnwantedValues) {
  EXPECT_THAT(Parse({"every", "A", "--password-file"}).error, HasSubstr("needs a value"));
  EXPECT_THAT(Parse({"every", "A", "--raw=yes"}).error, HasSubstr("--raw takes no value"));
  EXPECT_THAT(Parse({"every", "A", "--flag", "one"}).error, HasSubstr("--flag needs a whole"));
  for (const std::vector<std::string>& both :
       {std::vector<std::string>{"every", "A", "--raw", "--format", "json"},
        {"--format=csv", "every", "A", "--raw"}}) {
    EXPECT_THAT(Parse(both).error, HasSubstr("--raw and --format cannot be given together"));
  }
  EXPECT_THAT(Parse({"every", "A", "--format", "yaml"}).error,
              HasSubstr("--format takes table, raw, json or csv"));
  EXPECT_THAT(Parse({"plain"}).error, HasSubstr("quillet plain: expects SERVER\nUsage:"));
  EXPECT_THAT(Parse({"plain", "A", "B"}).error,
              HasSubstr("quillet plain: unexpected 2nd argument: plain takes SERVER\nUsage:"));
  // A stray word may be a password typed in the wrong place: named by its place only.
  EXPECT_THAT(Parse({"every", "A", "B", "C", "D", "SeCrEt"}).error,
              AllOf(HasSubstr("unexpected 5th argument"), Not(HasSubstr("SeCrEt"))));
}

TEST_F(ParseArgumentsTest, SaysWhichOptionWasGivenTwice) {
  for (const std::vector<std::string>& twice :
       {std::vector<std::string>{"every", "A", "--format", "json", "--format=csv"},
        std::vector<std::string>{"--format", "json", "--format", "csv", "every", "A"}}) {
    EXPECT_THAT(Parse(twice).error, HasSubstr("quillet every: --format given twice\n"));
  }
  EXPECT_THAT(Parse({"every", "A", "--flag=1", "--flag=2", "--flag=3"}).error,
              HasSubstr("--flag given 3 times"));
  // An argument too many is not shown, so nothing of it can drive a terminal.
  EXPECT_THAT(Parse({"plain", "A", "B\x1b]0;x"}).error,
              AllOf(HasSubstr("unexpected 2nd argument"), Not(HasSubstr("\x1b"))));
}

TEST_F(ParseArgumentsTest, AnUnknownOptionIsNamedWithoutItsValue) {
  const auto parsed = Parse({"every", "A", "--pasword_file=hunter2"});
  EXPECT_THAT(parsed.error, AllOf(HasSubstr("--pasword_file"), Not(HasSubstr("hunter2"))));
  // A one-dash option carries its value in its tail.
  EXPECT_THAT(Parse({"every", "A", "-Phunter2"}).error,
              AllOf(HasSubstr("unknown option -P"), Not(HasSubstr("hunter2"))));
}

TEST_F(ParseArgumentsTest, HelpIsRecognisedInEitherSpelling) {
  EXPECT_THAT(Parse({"every", "ACME", "--help"}).help, HasSubstr("Usage: quillet every SERVER"));
  EXPECT_THAT(Parse({"plain", "-h"}).help, HasSubstr("Usage: quillet plain SERVER"));
  EXPECT_THAT(Parse({"help", "plain"}).help, HasSubstr("Usage: quillet plain SERVER"));
}

class PasswordArgumentTest : public ParseArgumentsTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(PasswordArgumentTest, IsRefusedWithoutRepeatingTheSecret) {
  const auto parsed = Parse({"every", "ACME", GetParam(), "DB"});
  EXPECT_EQ(parsed.subcommand, nullptr);
  EXPECT_THAT(parsed.error, HasSubstr("QUILLET_PASSWORD"));
  EXPECT_THAT(parsed.error, HasSubstr("--password-file"));
  EXPECT_THAT(parsed.error, Not(HasSubstr("hunter2")));
  EXPECT_THAT(Arguments(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Spellings, PasswordArgumentTest,
                         ::testing::Values("--password=hunter2", "--password", "--passwd=hunter2",
                                           "--pass", "--pw=hunter2", "-p", "-phunter2"));

// The password file option is no password; anything that looks like one is refused wherever it
// stands, as another option's value, grouped with short flags or after "--", since it would
// otherwise reach a message about the argument it took the place of.
TEST_F(ParseArgumentsTest, ThePasswordFileOptionIsNoPasswordButAPasswordAnywhereIsRefused) {
  EXPECT_EQ(Parse({"every", "A", "--password-file=pw"}).error, "");
  EXPECT_EQ(Options().passwordFile, "pw");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"every", "A", "--password-file", "-pw"},
        {"--format", "--password", "secret", "every", "A"},
        {"-vqp", "secret", "every", "A"},
        {"every", "A", "--", "--password", "secret"}}) {
    const std::string error = Parse(arguments).error;
    EXPECT_NE(error.find("passwords are never taken"), std::string::npos) << arguments[0];
    EXPECT_EQ(error.find("secret"), std::string::npos);
  }
  EXPECT_EQ(ShownOptionName("--token:secret"), "--token");
}

// After "--" every word is a positional argument, however many positionals were given before.
TEST_F(ParseArgumentsTest, NothingAfterTheEndOfOptionsIsAnOption) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"plain", "A", "--", "-v"},
        {"plain", "A", "--", "--help"},
        {"plain", "--", "A", "--password-file", "pw"}}) {
    const auto parsed = Parse(arguments);
    EXPECT_THAT(parsed.error, HasSubstr("unexpected 2nd argument: plain takes SERVER"));
    EXPECT_EQ(parsed.help, "");
    EXPECT_FALSE(Options().verbose);
    EXPECT_EQ(Options().passwordFile, std::nullopt);
  }
  // A name that would pass for short options holding a "p" is a name there.
  EXPECT_EQ(Parse({"every", "A", "--", "-snap", "-p"}).error, "");
  EXPECT_THAT(Arguments(), ElementsAre("A", "-snap", "-p"));
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
