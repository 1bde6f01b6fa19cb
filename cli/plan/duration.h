// Spans of time as a plan and the plan subcommands write them: "14d", "90s", "1h30m".
#ifndef QUILLET_CLI_PLAN_DURATION_H
#define QUILLET_CLI_PLAN_DURATION_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::cli::plan {

// Whole numbers each followed by s, m, h, d or w, added up; "0" alone is the one number
// without a unit, since a bare 14 could mean any of them. nullopt for anything else, a
// negative span or one past a hundred years, with problem saying which ("\"14\" has no
// unit: ..."), to follow the option or key it came from.
std::optional<int64_t> ParseDuration(std::string_view text, std::string& problem);
std::optional<int64_t> ParseDuration(std::string_view text);

// "3d 4h", "12m 5s", "40s": the two largest units, for tables and messages.
std::string ShowDuration(int64_t seconds);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_DURATION_H
