#include "retention.h"

namespace quillet::cli::plan {

std::vector<Verdict> Judge(const std::vector<Generation>& generations, const Retention& retention,
                           Clock::time_point now) {
  std::vector<Verdict> verdicts;
  int64_t counted = 0;
  int64_t kept = 0;
  for (const Generation& generation : generations) {
    if (generation.partial) continue;
    Verdict verdict{&generation, false, "no rule keeps it"};
    if (!generation.ordered) {
      verdict = {&generation, true, "kept, not counted: " + generation.problem};
      verdicts.push_back(verdict);
      continue;
    }
    if (!generation.hasManifest && generation.noManifest) {
      verdict.rule = "incomplete: " + generation.problem;
      verdicts.push_back(verdict);
      continue;
    }
    if (!generation.hasManifest || !generation.complete) {
      // Not counted, and not deleted either: someone must look at what changed in it.
      verdict = {&generation, true, "kept, but it does not hold: " + generation.problem};
      verdicts.push_back(verdict);
      continue;
    }
    ++counted;
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - generation.time);
    if (counted == 1) {
      verdict = {&generation, true, "newest"};
    } else if (counted <= retention.keepLast) {
      verdict = {&generation, true, "keep_last"};
    } else if (retention.keepWithinSeconds > 0 && age.count() < retention.keepWithinSeconds) {
      verdict = {&generation, true, "keep_within"};
    } else if (kept < retention.minKeep) {
      verdict = {&generation, true, "min_keep"};
    }
    if (verdict.keep) ++kept;
    verdicts.push_back(verdict);
  }
  return verdicts;
}

}  // namespace quillet::cli::plan
