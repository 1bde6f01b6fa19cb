// The plan file: which servers, which databases, which tasks, where the generations go and how
// many are kept. Read with toml++; every problem is "FILE:LINE:COLUMN: what".
#ifndef QUILLET_CLI_PLAN_PLAN_FILE_H
#define QUILLET_CLI_PLAN_PLAN_FILE_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli::plan {

// Far more parallel servers than any machine would want; a slip of a finger is refused.
inline constexpr int kMostJobs = 64;

enum class Orphans { kKeep, kExpire, kWarn };

struct Retention {
  int64_t keepLast = 7;
  // 0: no generation is kept for its age alone.
  int64_t keepWithinSeconds = 0;
  int64_t minKeep = 2;
  Orphans orphans = Orphans::kKeep;
};

enum class Task { kSnapshot, kUpdateStats, kReleaseLog };

// A password's file or environment variable; never the text itself.
struct SecretSource {
  std::string file;
  std::string variable;
  // "FILE:LINE:COLUMN" of the key, for the messages.
  std::string where;
  bool Given() const { return !file.empty() || !variable.empty(); }
};

struct SelectionTerm {
  std::string pattern;
  bool exclude = false;
  std::string where;
};

struct ServerPlan {
  std::string name;
  std::string where;
  SecretSource password;
  std::string user;
  SecretSource userPassword;
  std::vector<SelectionTerm> databases;
  std::string databasesWhere;
  bool strict = true;
  std::vector<Task> tasks;
  Retention retention;
};

struct Plan {
  std::string file;
  std::filesystem::path root;
  // "FILE:LINE:COLUMN" of snapshot_root, for what is found wrong with the folder later.
  std::string rootWhere;
  int jobs = 1;
  std::vector<ServerPlan> servers;
};

struct PlanOutcome {
  std::optional<Plan> plan;
  std::vector<std::string> errors;
};

// A relative snapshot_root or password file is taken from the plan file's folder, not from
// wherever cron runs.
// FILE names the plan in errors and places it; TEXT is what was read of it.
PlanOutcome ParsePlan(const std::string& file, const std::string& text);

const char* TaskName(Task task);
const char* OrphansName(Orphans orphans);

// The password from its file (private, first line, as --password-file) or variable; nullopt
// with the error, which names where the plan asked for it.
std::optional<std::string> ReadSecret(const SecretSource& source,
                                      const std::function<const char*(const char*)>& environment,
                                      std::string& error);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_PLAN_FILE_H
