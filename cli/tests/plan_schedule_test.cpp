#include "plan_schedule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace quillet::cli;

namespace {

std::string Text(ScheduleFormat format, const std::string& program, const std::string& plan) {
  std::string problem;
  std::string text = ScheduleText(format, program, plan, &problem);
  EXPECT_EQ(problem, "");
  return text;
}

std::string Slurp(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The line runs as cron runs it: the command after five time fields, \% handed on as %, by sh.
TEST(PlanScheduleTest, TheCrontabLineRunsThePlanWhateverItsPathsHold) {
  const std::string folder =
      ::testing::TempDir() + "quillet schedule's " + std::to_string(getpid());
  std::filesystem::create_directories(folder);
  const std::string program = folder + "/fake quillet";
  const std::string seen = program + ".seen";
  std::ofstream(program)
      << "#!/bin/sh\nfor word; do printf '%s\\n' \"$word\"; done > \"$0.seen\"\n";
  ASSERT_EQ(chmod(program.c_str(), 0700), 0);
  const std::string plan = folder + "/100% it's $HOME `x`.toml";

  const std::string line = Text(ScheduleFormat::kCron, program, plan);
  ASSERT_THAT(line, StartsWith("15 2 * * * "));
  std::string command = line.substr(std::string("15 2 * * * ").size());
  for (std::size_t at = 0; (at = command.find('%', at)) != std::string::npos; ++at) {
    ASSERT_EQ(command[at - 1], '\\') << "an unescaped % ends cron's command: " << line;
    command.erase(--at, 1);
  }
  const std::string shell = "sh -c " + std::string("'") + [&] {
    std::string quoted;
    for (const char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted;
  }() + "'";
  ASSERT_EQ(std::system(shell.c_str()), 0) << line;
  EXPECT_EQ(Slurp(seen), "plan\nrun\n" + plan + "\n");
  std::filesystem::remove_all(folder);
}

TEST(PlanScheduleTest, TheSystemdServiceQuotesItsCommandAndTheTimerRunsNightly) {
  const std::string units =
      Text(ScheduleFormat::kSystemd, "/opt/my tools/quillet", "/etc/q/50% \"$night\\.toml");
  EXPECT_THAT(units, HasSubstr("\n[Service]\nType=oneshot\n"));
  EXPECT_THAT(units, HasSubstr("\nExecStart=\"/opt/my tools/quillet\" plan run "
                               "\"/etc/q/50%% \\\"$$night\\\\.toml\"\n"));
  EXPECT_THAT(units, HasSubstr("\n# /etc/systemd/system/quillet-plan.timer\n"));
  EXPECT_THAT(units, HasSubstr("\n[Timer]\nOnCalendar=*-*-* 02:15:00\nPersistent=true\n"));
  EXPECT_THAT(units, HasSubstr("Description=Quillet maintenance plan /etc/q/50%% "));
  std::string problem;
  EXPECT_EQ(ScheduleText(ScheduleFormat::kSystemd, "/q", "/a\nb", &problem), "");
  EXPECT_THAT(problem, HasSubstr("holds a line break"));
}

TEST(PlanScheduleTest, TheSchtasksCommandQuotesBothPathsWithinItsTaskCommand) {
  EXPECT_EQ(Text(ScheduleFormat::kSchtasks, "C:\\Program Files\\Quillet\\quillet.exe",
                 "D:\\plans\\night plan.toml"),
            "schtasks /Create /TN \"Quillet plan\" /SC DAILY /ST 02:15 /TR \"\\\"C:\\Program "
            "Files\\Quillet\\quillet.exe\\\" plan run \\\"D:\\plans\\night plan.toml\\\"\"");
  std::string problem;
  EXPECT_EQ(ScheduleText(ScheduleFormat::kSchtasks, "C:\\q.exe", "D:\\%TEMP%\\p.toml", &problem),
            "");
  EXPECT_THAT(problem, HasSubstr("cannot carry"));
}

// Within its group, the plan file's path made absolute and --emit required.
TEST(PlanScheduleTest, TheSubcommandPrintsTheFormAskedForWithAnAbsolutePlan) {
  const std::string name = "quillet-schedule-" + std::to_string(getpid()) + ".toml";
  std::ofstream(::testing::TempDir() + name) << "jobs = 1\n";
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(::testing::TempDir());
  std::ostringstream out;
  std::ostringstream err;
  const Environment environment{
      {[](const char*) -> const char* { return nullptr; }, [] { return false; },
       [](const std::string&) { return std::optional<std::string>(); }},
      nullptr,
      nullptr,
      out,
      err,
      nullptr,
      nullptr,
      nullptr,
      nullptr};
  CommandLine commandLine;
  commandLine.AddGroup("plan", "Maintenance plans");
  AddPlanScheduleSubcommand(commandLine);
  EXPECT_EQ(RunQuillet({"plan", "schedule", name}, commandLine, environment), kExitUsage);
  EXPECT_THAT(err.str(), HasSubstr("needs --emit cron"));
  EXPECT_EQ(RunQuillet({"plan", "schedule", name, "--emit", "cron"}, commandLine, environment),
            kExitSuccess);
  const std::string absolute =
      (std::filesystem::path(::testing::TempDir()) / name).lexically_normal().string();
  EXPECT_THAT(out.str(), HasSubstr(" plan run '" + absolute + "'\n"));
  std::filesystem::current_path(before);
  std::filesystem::remove(absolute);
}

}  // namespace
