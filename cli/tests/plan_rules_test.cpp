// The plan's rules that decide what is kept and what is selected, without a server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "durable.h"
#include "duration.h"
#include "generation.h"
#include "manifest.h"
#include "retention.h"
#include "selection.h"

using namespace quillet::cli::plan;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

Generation Made(const std::string& name, bool complete = true) {
  Generation generation;
  generation.name = name;
  generation.time = *GenerationTime(name);
  generation.hasManifest = true;
  generation.complete = complete;
  return generation;
}

std::vector<std::string> Rules(const std::vector<Verdict>& verdicts) {
  std::vector<std::string> rules;
  for (const Verdict& verdict : verdicts) rules.push_back(verdict.keep ? verdict.rule : "delete");
  return rules;
}

TEST(PlanRulesTest, RetentionNeverDeletesTheNewestNorFewerThanMinKeep) {
  const std::vector<Generation> generations = {
      Made("20261209T021500Z"), Made("20261208T021500Z", false), Made("20261207T021500Z"),
      Made("20261206T021500Z"), Made("20261205T021500Z")};
  const Clock::time_point now = *GenerationTime("20261209T030000Z");
  Retention retention;
  retention.keepLast = 0;
  retention.minKeep = 2;
  // One that no longer matches its manifest is kept for a person to look at, never counted.
  EXPECT_THAT(
      Rules(Judge(generations, retention, now)),
      ElementsAre("newest", "kept, but it does not hold: ", "min_keep", "delete", "delete"));
  retention.keepLast = 2;
  retention.minKeep = 1;
  retention.keepWithinSeconds = *ParseDuration("3d1h");
  EXPECT_THAT(
      Rules(Judge(generations, retention, now)),
      ElementsAre("newest", "kept, but it does not hold: ", "keep_last", "keep_within", "delete"));
}

TEST(PlanRulesTest, NamesOutsideTheClockAndUnreadableManifestsAreKeptNeverCounted) {
  std::vector<Generation> generations = {Made("20261209T021500Z"), Made("20261208T021500Z"),
                                         Made("20261207T021500Z"), Made("20261206T021500Z")};
  generations[0].ordered = false;
  generations[2].hasManifest = generations[2].complete = false;
  generations[3].hasManifest = generations[3].complete = false;
  generations[3].noManifest = true;
  Retention retention;
  retention.keepLast = 0;
  retention.minKeep = 0;
  EXPECT_THAT(
      Rules(Judge(generations, retention, *GenerationTime("20261209T030000Z"))),
      ElementsAre("kept, not counted: ", "newest", "kept, but it does not hold: ", "delete"));
}

TEST(PlanRulesTest, ANewGenerationSortsAfterTheNewestEvenWhenTheClockWentBack) {
  const std::vector<Generation> existing = {Made("20261209T021500Z")};
  EXPECT_EQ(NewGenerationName(existing, *GenerationTime("20261209T021000Z")), "20261209T021501Z");
  // Far ahead of the clock, a name is not chased: one such name would push every later one.
  EXPECT_EQ(NewGenerationName(existing, *GenerationTime("20261201T000000Z")), "20261201T000000Z");
  EXPECT_EQ(NewGenerationName(existing, *GenerationTime("20261209T021500Z")), "20261209T021501Z");
  EXPECT_FALSE(GenerationTime("99991231T235959Z"));
  EXPECT_EQ(NewGenerationName(existing, *GenerationTime("20261210T000000Z")), "20261210T000000Z");
  EXPECT_FALSE(GenerationTime("20261309T021500Z"));
  EXPECT_FALSE(GenerationTime("20260230T000000Z"));
  EXPECT_FALSE(ParseDuration("14x"));
  EXPECT_FALSE(ParseDuration("1d14"));
}

TEST(PlanRulesTest, ExclusionsWinAndEveryTermMustMatchUnlessNotStrict) {
  ServerPlan server;
  server.name = "ACME";
  server.databasesWhere = "plan.toml:9:13";
  server.databases = {{"*", false, "plan.toml:9:14"}, {"temp*", true, "plan.toml:9:19"}};
  const Selection chosen = Select(server, {"STOCK", "TEMP1", "SALES"});
  EXPECT_THAT(chosen.databases, ElementsAre("STOCK", "SALES"));
  EXPECT_THAT(chosen.errors, IsEmpty());
  const Selection typo = Select(server, {"STOCK"});
  EXPECT_THAT(typo.errors, SizeIs(1));
  EXPECT_EQ(typo.errors[0].rfind("plan.toml:9:19: ", 0), 0U);
  server.strict = false;
  EXPECT_THAT(Select(server, {"TEMP1"}).errors,
              ElementsAre("plan.toml:9:13: the terms select no database of server ACME"));
}

TEST(PlanRulesTest, ASpanNeedsItsUnitAndAManifestRefusesANameThatIsNotUtf8) {
  std::string problem;
  EXPECT_FALSE(ParseDuration("14", problem));
  EXPECT_EQ(problem, "\"14\" has no unit: write 14s, 14m, 14h, 14d or 14w");
  EXPECT_FALSE(ParseDuration("99999999999w", problem));
  EXPECT_EQ(problem, "\"99999999999w\" is longer than a hundred years");
  EXPECT_FALSE(ParseDuration("1d14", problem));
  EXPECT_EQ(ParseDuration("0"), 0);
  EXPECT_EQ(ParseDuration("1h30m"), 5400);

  const std::filesystem::path folder = ::testing::TempDir() + "plan_rules_manifest";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "DEMO\xe9.db") << "x";
  Manifest manifest;
  ASSERT_EQ(HashFolder(folder, manifest), "");
  EXPECT_EQ(WriteManifest(folder, manifest),
            "file name DEMO\\xE9.db is not UTF-8; the generation is not kept");
  EXPECT_FALSE(std::filesystem::exists(folder / kManifestName));
  std::filesystem::remove_all(folder);
}

TEST(PlanRulesTest, AGenerationOfAnotherDatabaseDoesNotCountAndATornLineIsEndedFirst) {
  const std::filesystem::path root = ::testing::TempDir() + "plan_rules_other";
  std::filesystem::remove_all(root);
  const std::filesystem::path copied = root / "ACME" / "STOCK" / "20261201T000000Z";
  std::filesystem::create_directories(copied);
  std::ofstream(copied / "SALES.db") << "x";
  Manifest manifest;
  manifest.server = "ACME";
  manifest.database = "SALES";
  ASSERT_EQ(HashFolder(copied, manifest), "");
  ASSERT_EQ(WriteManifest(copied, manifest), "");
  const std::vector<Generation> found = ListGenerations(root / "ACME" / "STOCK");
  ASSERT_THAT(found, SizeIs(1));
  EXPECT_FALSE(found[0].complete);
  EXPECT_EQ(found[0].problem, "its manifest is of ACME/SALES");

  const std::filesystem::path record = root / "record.jsonl";
  std::ofstream(record) << "{\"a\": 1}\n{\"b\"";
  ASSERT_EQ(AppendPrivately(record, "{\"c\": 3}\n"), "");
  ASSERT_EQ(AppendPrivately(record, "{\"d\": 4}\n"), "");
  std::ifstream in(record);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "{\"a\": 1}\n{\"b\"\n{\"c\": 3}\n{\"d\": 4}\n");
  std::filesystem::remove_all(root);
}

}  // namespace
