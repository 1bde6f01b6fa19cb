// quillet plan schedule: what runs a plan nightly, for cron, systemd or the Windows task
// scheduler. The plan itself never runs as a daemon.
#ifndef QUILLET_CLI_PLAN_SCHEDULE_H
#define QUILLET_CLI_PLAN_SCHEDULE_H

#include <optional>
#include <string>
#include <string_view>

#include "command_line.h"

namespace quillet::cli {

enum class ScheduleFormat { kCron, kSystemd, kSchtasks };

// "cron", "systemd" or "schtasks"; nullopt for anything else.
std::optional<ScheduleFormat> ParseScheduleFormat(std::string_view name);

// What runs "PROGRAM plan run PLAN" nightly, both paths absolute, quoted for the format: a
// crontab line, a systemd service and timer pair, or a schtasks command line. Empty, with the
// reason in *problem, for a path the format cannot carry.
std::string ScheduleText(ScheduleFormat format, const std::string& program, const std::string& plan,
                         std::string* problem);

// Adds "plan schedule PLAN --emit FORMAT" to the group "plan", which must have been added.
void AddPlanScheduleSubcommand(CommandLine& commandLine);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_PLAN_SCHEDULE_H
