// Which generations of one database stay: the newest verified one always; the newest keep_last
// verified ones; every verified one younger than keep_within; and never fewer than min_keep.
// Only what no rule keeps is deleted.
#ifndef QUILLET_CLI_PLAN_RETENTION_H
#define QUILLET_CLI_PLAN_RETENTION_H

#include <string>
#include <vector>

#include "generation.h"
#include "plan_file.h"

namespace quillet::cli::plan {

struct Verdict {
  const Generation* generation = nullptr;
  bool keep = true;
  // "newest", "keep_last", "keep_within", "min_keep", or why it goes.
  std::string rule;
};

// generations: newest first, as ListGenerations gives them; unfinished ones are judged by the
// caller. now: for keep_within.
std::vector<Verdict> Judge(const std::vector<Generation>& generations, const Retention& retention,
                           Clock::time_point now);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_RETENTION_H
