// A run of the plan: servers in parallel up to jobs, each server's databases one after another,
// each database's tasks in the plan's order. A failure is recorded with its server, database,
// task, code, text and the server's words, and the run goes on.
#ifndef QUILLET_CLI_PLAN_RUNNER_H
#define QUILLET_CLI_PLAN_RUNNER_H

#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "generation.h"
#include "plan_file.h"
#include "snapshot_restore.h"

namespace quillet::cli::plan {

struct TaskOutcome {
  std::string task;
  int32_t code = 0;
  // The code's meaning, and the server's own words on it.
  std::string text;
  std::string detail;
  // A failure that is no return code: a manifest that could not be written, say.
  std::string problem;
  bool skipped = false;
  double seconds = 0;
  uint64_t bytes = 0;
  std::string path;
  bool Succeeded() const { return !skipped && code == 0 && problem.empty(); }
};

struct Deletion {
  std::string generation;
  std::string rule;
  uint64_t bytes = 0;
  std::string problem;
};

struct DatabaseOutcome {
  std::string database;
  // The generation the run made, empty when none.
  std::string generation;
  std::vector<TaskOutcome> tasks;
  std::vector<Deletion> deleted;
  // For an orphan: what the plan did with it, keep, expire or warn.
  std::string orphan;
  bool Succeeded() const;
};

struct ServerOutcome {
  std::string server;
  // The plan's problems with this server (a term that matches nothing): nothing was run.
  std::vector<std::string> problems;
  // The server's own calls: dir-db.
  std::vector<TaskOutcome> tasks;
  std::vector<DatabaseOutcome> databases;
  std::vector<DatabaseOutcome> orphans;
  bool Succeeded() const;
};

struct RunOutcome {
  std::string run;
  std::string plan;
  bool dryRun = false;
  std::string start;
  std::string end;
  std::vector<ServerOutcome> servers;
  // --dry-run: every call it would make and every deletion, in order per server.
  std::vector<std::string> wouldDo;
  // Why the journal lacks lines of this run; a run without its record has failed.
  std::string journalProblem;
  // 0, 1 when anything failed, 2 when the plan does not fit a server.
  int Status() const;
};

struct Secrets {
  std::string server;
  std::string user;
};

class Journal;

struct RunSettings {
  bool dryRun = false;
  int jobs = 1;
  std::string run;
  Journal* journal = nullptr;
};

RunOutcome RunPlan(const Plan& plan, const std::map<std::string, Secrets>& secrets,
                   const RunSettings& settings);

// The summary's stable JSON form (see the README's "Nightly maintenance").
nlohmann::json RunJson(const RunOutcome& outcome);
// One line per server, database and task, for a person.
std::string RunTable(const RunOutcome& outcome);

// The meaning of a return code, and the client library's last words on it in this thread.
void DescribeCode(int32_t code, std::string& text, std::string& detail);

// The server's databases in its order, from DirDB; nullopt with the outcome on failure.
std::optional<std::vector<std::string>> ServerDatabases(const std::string& server,
                                                        const std::string& password,
                                                        TaskOutcome& outcome);

// The server's databases with those away from it while a restore of theirs is unfinished: still
// the plan's, and never orphans.
std::vector<std::string> WithUnfinishedRestores(std::vector<std::string> names,
                                                const std::vector<UnfinishedRestore>& unfinished);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_RUNNER_H
