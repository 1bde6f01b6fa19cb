#include "plan_schedule.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace quillet::cli {
namespace {

// The time of the nightly run, the machine's local time.
constexpr int kHour = 2;
constexpr int kMinute = 15;
// The most that schtasks takes for the task's command (/TR).
constexpr std::size_t kLongestTaskCommand = 261;
constexpr const char* kUnitName = "quillet-plan";

std::string Replaced(std::string text, std::string_view what, std::string_view with) {
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size()) {
    text.replace(at, what.size(), with);
  }
  return text;
}

// One word for /bin/sh, whatever it holds.
std::string ShellWord(const std::string& word) { return "'" + Replaced(word, "'", "'\\''") + "'"; }

// One word of a unit's command line: systemd unquotes it, reads C escapes within it, and
// replaces specifiers (%) and variables ($) unless doubled.
std::string SystemdWord(const std::string& word) {
  std::string quoted = Replaced(word, "\\", "\\\\");
  quoted = Replaced(quoted, "\"", "\\\"");
  quoted = Replaced(quoted, "%", "%%");
  quoted = Replaced(quoted, "$", "$$");
  return "\"" + quoted + "\"";
}

// "02:15", and with seconds "02:15:00".
std::string Clock(bool seconds) {
  std::array<char, 16> text{};
  (void)std::snprintf(text.data(), text.size(), "%02d:%02d", kHour, kMinute);
  return std::string(text.data()) + (seconds ? ":00" : "");
}

std::string Cron(const std::string& program, const std::string& plan) {
  // cron ends the command at an unescaped %, and hands \% on as %.
  const std::string command = ShellWord(program) + " plan run " + ShellWord(plan);
  return std::to_string(kMinute) + " " + std::to_string(kHour) + " * * * " +
         Replaced(command, "%", "\\%");
}

std::string Systemd(const std::string& program, const std::string& plan, const std::string& user) {
  const std::string described = Replaced(plan, "%", "%%");
  return std::string("# /etc/systemd/system/") + kUnitName + ".service\n" +
         "[Unit]\n"
         "Description=Quillet maintenance plan " +
         described +
         "\n"
         "\n"
         "[Service]\n"
         "Type=oneshot\n" +
         (user.empty() ? "" : "User=" + user + "\n") + "ExecStart=" + SystemdWord(program) +
         " plan run " + SystemdWord(plan) +
         "\n"
         "\n"
         "# /etc/systemd/system/" +
         kUnitName +
         ".timer\n"
         "[Unit]\n"
         "Description=Nightly run of the Quillet maintenance plan " +
         described +
         "\n"
         "\n"
         "[Timer]\n"
         "OnCalendar=*-*-* " +
         Clock(true) +
         "\n"
         "Persistent=true\n"
         "\n"
         "[Install]\n"
         "WantedBy=timers.target\n"
         "\n"
         "# then: systemctl daemon-reload && systemctl enable --now " +
         kUnitName + ".timer";
}

std::string Schtasks(const std::string& program, const std::string& plan, std::string* problem) {
  // cmd.exe expands %NAME% even within quotes, and Windows paths hold no ".
  for (const std::string* path : {&program, &plan}) {
    if (path->find_first_of("\"%") != std::string::npos) {
      *problem = *path + " holds \" or %, which a schtasks command line cannot carry";
      return "";
    }
  }
  const std::string task = "\"" + program + "\" plan run \"" + plan + "\"";
  if (task.size() > kLongestTaskCommand) {
    *problem = "the task's command would have " + std::to_string(task.size()) +
               " characters, and schtasks takes at most " + std::to_string(kLongestTaskCommand);
    return "";
  }
  return "schtasks /Create /TN \"Quillet plan\" /SC DAILY /ST " + Clock(false) + " /TR \"" +
         Replaced(task, "\"", "\\\"") + "\"";
}

std::string ProgramPath() {
#if defined(_WIN32)
  std::array<char, MAX_PATH + 1> path{};
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path.data(), length) : "quillet.exe";
#else
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "quillet" : self.string();
#endif
}

// Who the service runs as: the one who asked for it, whose servers and files the plan names.
std::string UserName() {
#if defined(_WIN32)
  return "";
#else
  if (geteuid() == 0) return "";
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : "";
#endif
}

std::string PlanPath(const std::string& plan) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(plan, error);
  return error ? plan : absolute.lexically_normal().string();
}

std::string CheckSchedule(const Invocation& i) {
  if (i.scheduleFormat.empty()) return "needs --emit cron, --emit systemd or --emit schtasks";
  std::error_code error;
  if (!std::filesystem::is_regular_file(i.arguments[0], error)) {
    return "there is no plan file " + i.arguments[0];
  }
  return "";
}

JobResult Emit(const Invocation& i) {
  JobResult result;
  result.text = ScheduleText(*ParseScheduleFormat(i.scheduleFormat), ProgramPath(),
                             PlanPath(i.arguments[0]), &result.problem);
  return result;
}

}  // namespace

std::optional<ScheduleFormat> ParseScheduleFormat(std::string_view name) {
  if (name == "cron") return ScheduleFormat::kCron;
  if (name == "systemd") return ScheduleFormat::kSystemd;
  if (name == "schtasks") return ScheduleFormat::kSchtasks;
  return std::nullopt;
}

std::string ScheduleText(ScheduleFormat format, const std::string& program, const std::string& plan,
                         std::string* problem) {
  // None of the three can carry a line break or another control character in a command.
  for (const std::string* path : {&program, &plan}) {
    if (std::any_of(path->begin(), path->end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
      *problem = "the path " + *path + " holds a line break or another control character";
      return "";
    }
  }
  switch (format) {
    case ScheduleFormat::kCron:
      return Cron(program, plan);
    case ScheduleFormat::kSystemd:
      return Systemd(program, plan, UserName());
    case ScheduleFormat::kSchtasks:
      return Schtasks(program, plan, problem);
  }
  return "";
}

void AddPlanScheduleSubcommand(CommandLine& commandLine) {
  CLI::App& schedule = commandLine.Add(
      Subcommand("plan schedule", "PLAN", "print what runs the plan nightly")
          .Describe("Prints what runs 'quillet plan run PLAN' every night at 02:15, with this "
                    "program's path and PLAN's made absolute, quoted for the form --emit asks "
                    "for: cron, a line for the crontab ('crontab -e'); systemd, a service and a "
                    "timer to save as the files named in their first lines (the service runs as "
                    "the user who printed it); schtasks, the command line that creates the "
                    "Windows task. The plan never runs as a daemon.")
          .Runs("", Emit)
          .Checks(CheckSchedule)
          .Lists(Listing::kText)
          .Example("quillet plan schedule /etc/quillet/plan.toml --emit cron"));
  schedule
      .add_option("--emit", commandLine.invocation().scheduleFormat, "cron, systemd or schtasks")
      ->type_name("FORMAT")
      ->check(CLI::Validator(
          [](std::string& value) {
            return ParseScheduleFormat(value) ? std::string() : "takes cron, systemd or schtasks";
          },
          ""));
}

}  // namespace quillet::cli
