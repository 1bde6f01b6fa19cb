// Which of a server's databases a plan's terms select: globs (* and ?, letters in any case),
// "!" before a term to exclude. Each term must match a database unless the server says
// strict = false, so that a typo is an error rather than a night without a backup.
#ifndef QUILLET_CLI_PLAN_SELECTION_H
#define QUILLET_CLI_PLAN_SELECTION_H

#include <string>
#include <string_view>
#include <vector>

#include "plan_file.h"

namespace quillet::cli::plan {

bool GlobMatches(std::string_view pattern, std::string_view name);

struct Selection {
  // In the server's order.
  std::vector<std::string> databases;
  // "FILE:LINE:COLUMN: what" for each term that matched nothing, and for an empty result.
  std::vector<std::string> errors;
};

// Terms of only exclusions select every database but those.
Selection Select(const ServerPlan& server, const std::vector<std::string>& databases);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_SELECTION_H
