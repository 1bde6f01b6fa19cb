// Spans of time as a plan and the plan subcommands write them: "14d", "90s", "1h30m".
#ifndef QUILLET_CLI_PLAN_DURATION_H
#define QUILLET_CLI_PLAN_DURATION_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::cli::plan {

// Whole numbers each followed by s, m, h, d or w, added up; a bare number is seconds.
// nullopt for anything else, a negative span or one past a hundred years.
std::optional<int64_t> ParseDuration(std::string_view text);

// "3d 4h", "12m 5s", "40s": the two largest units, for tables and messages.
std::string ShowDuration(int64_t seconds);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_DURATION_H
