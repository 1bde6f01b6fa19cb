#include "plan_subcommands.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "database_file_check.h"
#include "durable.h"
#include "duration.h"
#include "generation.h"
#include "journal.h"
#include "lock.h"
#include "manifest.h"
#include "password_source.h"
#include "plan_schedule.h"
#include "progress.h"
#include "quillet.h"
#include "restore_subcommand.h"
#include "restore_test.h"
#include "retention.h"
#include "runner.h"
#include "selection.h"
#include "snapshot_restore.h"
#include "standin_admin_api.h"
#include "trusted_folders.h"

namespace quillet::cli {
namespace {

using namespace plan;

// The statuses of the plan subcommands, as monitoring checks read them.
constexpr int kFailed = 1;
constexpr int kNotUnderstood = 2;
constexpr int kLocked = 3;
constexpr int kUnknown = 3;

std::ostream& Err(const Invocation& i) { return i.err != nullptr ? *i.err : std::cerr; }
std::ostream& Out(const Invocation& i) { return i.out != nullptr ? *i.out : std::cout; }

const char* Environment(const char* name) { return std::getenv(name); }

std::optional<Plan> LoadPlan(const Invocation& i, const std::string& name) {
  std::string text;
  if (const std::string problem = ReadTrustedPlanFile(i.arguments[0], text); !problem.empty()) {
    Err(i) << "quillet plan " << name << ": " << problem << "\n";
    return std::nullopt;
  }
  // Parsed from the bytes that were checked, not from the name again.
  PlanOutcome read = ParsePlan(i.arguments[0], text);
  // Under a root that others may rearrange nothing checked stays so until it is used.
  if (read.plan) {
    if (std::string problem = SharedRootProblem(*read.plan); !problem.empty()) {
      read.errors.push_back(problem);
      read.plan.reset();
    }
  }
  for (const std::string& error : read.errors)
    Err(i) << "quillet plan " << name << ": " << error << "\n";
  return std::move(read.plan);
}

void WipeSecrets(std::map<std::string, Secrets>& secrets) {
  for (auto& [server, found] : secrets) {
    WipePassword(found.server);
    WipePassword(found.user);
  }
}

// One password into its place; false when it cannot be had, with the problem said.
bool LoadSecret(const Invocation& i, const std::string& name, const SecretSource& source,
                std::string& into) {
  std::string error;
  std::optional<std::string> password = ReadSecret(source, Environment, error);
  if (!password) {
    Err(i) << "quillet plan " << name << ": " << error << "\n";
    return false;
  }
  into = *password;
  WipePassword(*password);
  return true;
}

// The passwords of every server, or none with each problem said.
std::optional<std::map<std::string, Secrets>> LoadSecrets(const Invocation& i,
                                                          const std::string& name,
                                                          const Plan& plan) {
  std::map<std::string, Secrets> secrets;
  bool ok = true;
  for (const ServerPlan& server : plan.servers) {
    Secrets& found = secrets[server.name];
    ok = LoadSecret(i, name, server.password, found.server) && ok;
    if (server.userPassword.Given()) {
      ok = LoadSecret(i, name, server.userPassword, found.user) && ok;
    }
  }
  if (!ok) {
    WipeSecrets(secrets);
    return std::nullopt;
  }
  return secrets;
}

// A path that is not UTF-8 shows as U+FFFD rather than losing the whole summary.
std::string Dump(const nlohmann::json& json) {
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

JobResult Status(int status) {
  JobResult result;
  result.status = status;
  return result;
}

std::string CheckFormat(const Invocation& i, std::initializer_list<const char*> formats) {
  if (i.plan.format.empty()) return "";
  std::string names;
  for (const char* format : formats) {
    if (i.plan.format == format) return "";
    names += (names.empty() ? "" : ", ") + std::string(format);
  }
  return "--format must be one of " + names;
}

// --jobs as the plan's jobs are read: 0 would run nothing, thousands would swamp the machine.
CLI::Validator JobsNumber() {
  return CLI::Validator(
      [](std::string& value) {
        const std::optional<int32_t> number = ParseInt32(value);
        if (!number || *number < 1 || *number > kMostJobs) {
          return "must be a whole number from 1 to " + std::to_string(kMostJobs);
        }
        value = std::to_string(*number);
        return std::string();
      },
      "");
}

std::string CheckRun(const Invocation& i) {
  std::string problem;
  if (!i.plan.waitLock.empty() && !ParseDuration(i.plan.waitLock, problem)) {
    return "--wait-lock " + problem;
  }
  return CheckFormat(i, {"table", "json"});
}

std::string CheckStatus(const Invocation& i) {
  std::optional<int64_t> spans[2];
  const std::string* texts[2] = {&i.plan.warn, &i.plan.crit};
  const char* names[2] = {"--warn", "--crit"};
  for (int k = 0; k < 2; ++k) {
    if (texts[k]->empty()) continue;
    std::string problem;
    spans[k] = ParseDuration(*texts[k], problem);
    if (!spans[k]) return names[k] + std::string(" ") + problem;
    if (*spans[k] == 0) {
      return names[k] + std::string(" 0 would find every backup too old: give a span such as 26h");
    }
  }
  if (spans[0] && spans[1] && *spans[1] < *spans[0])
    return "--crit must not be shorter than --warn";
  return CheckFormat(i, {"table", "json", "prometheus"});
}

JobResult Check(const Invocation& i) {
  const std::optional<Plan> plan = LoadPlan(i, "check");
  if (!plan) return Status(kNotUnderstood);
  auto secrets = LoadSecrets(i, "check", *plan);
  if (!secrets) return Status(kNotUnderstood);
  std::vector<std::string> problems;
  uint64_t largest = 0;
  std::string text;
  for (const ServerPlan& server : plan->servers) {
    TaskOutcome listing;
    const auto names = ServerDatabases(server.name, (*secrets)[server.name].server, listing);
    if (!names) {
      problems.push_back(server.where + ": server " + server.name +
                         ": dir-db failed with return code " + std::to_string(listing.code) +
                         (listing.text.empty() ? "" : " (" + listing.text + ")") +
                         (listing.detail.empty() ? "" : ": " + listing.detail));
      continue;
    }
    const std::vector<UnfinishedRestore> unfinished = UnfinishedRestores(server.name, *names);
    const Selection selection = Select(server, WithUnfinishedRestores(*names, unfinished));
    problems.insert(problems.end(), selection.errors.begin(), selection.errors.end());
    // A run would fail these databases.
    for (const UnfinishedRestore& restore : unfinished) {
      if (std::find(selection.databases.begin(), selection.databases.end(), restore.database) !=
          selection.databases.end()) {
        problems.push_back(server.where + ": server " + server.name + ": " + restore.text);
      }
    }
    std::string tasks;
    for (Task task : server.tasks)
      tasks += (tasks.empty() ? "" : ", ") + std::string(TaskName(task));
    std::string databases;
    for (const std::string& database : selection.databases) {
      databases += (databases.empty() ? "" : ", ") + database;
      const auto trusted = ListTrustedGenerations(plan->root, server.name, database);
      for (const Generation& generation : trusted.generations) {
        if (generation.complete) {
          largest = std::max(largest, generation.bytes);
          break;
        }
      }
    }
    text += server.name + ": " + tasks + " of " + (databases.empty() ? "no database" : databases) +
            " into " + (plan->root / server.name).string() + "\n";
  }
  WipeSecrets(*secrets);
  const std::string standin = StandinRootProblem(*plan);
  const std::string folder = standin.empty() ? MakePrivateFolder(plan->root / kStateFolder) : "";
  if (!standin.empty()) {
    problems.push_back(standin);
  } else if (!folder.empty()) {
    problems.push_back(plan->rootWhere + ": snapshot_root: " + folder);
  } else {
    const std::filesystem::path probe =
        plan->root / kStateFolder / ("write-test-" + std::to_string(ProcessId()));
    std::ofstream(probe) << "\n";
    std::error_code error;
    if (!std::filesystem::remove(probe, error)) {
      problems.push_back(plan->rootWhere + ": snapshot_root " + plan->root.string() +
                         " cannot be written");
    }
    const std::filesystem::space_info space = std::filesystem::space(plan->root, error);
    if (!error && space.available < largest) {
      problems.push_back(plan->rootWhere + ": snapshot_root " + plan->root.string() + " has " +
                         HumanBytes(static_cast<double>(space.available)) +
                         " free, less than the largest database's last generation (" +
                         HumanBytes(static_cast<double>(largest)) + ")");
    }
  }
  Out(i) << text;
  for (const std::string& problem : problems) Err(i) << "quillet plan check: " << problem << "\n";
  return Status(problems.empty() ? 0 : kNotUnderstood);
}

JobResult Run(const Invocation& i) {
  std::optional<Plan> plan = LoadPlan(i, "run");
  if (!plan) return Status(kNotUnderstood);
  if (i.plan.jobs > 0) plan->jobs = i.plan.jobs;
  if (std::string problem = StandinRootProblem(*plan); !problem.empty()) {
    Err(i) << "quillet plan run: " << problem << "\n";
    return Status(kNotUnderstood);
  }
  auto secrets = LoadSecrets(i, "run", *plan);
  if (!secrets) return Status(kNotUnderstood);
  const std::string run = GenerationName(Clock::now()) + "-" + std::to_string(ProcessId());
  RunSettings settings;
  settings.dryRun = i.plan.dryRun;
  settings.jobs = plan->jobs;
  settings.run = run;
  std::optional<RunLock> lock;
  std::optional<Journal> journal;
  std::string lastRunProblem;
  if (!settings.dryRun) {
    const std::string folder = MakePrivateFolder(plan->root / kStateFolder);
    if (!folder.empty()) {
      Err(i) << "quillet plan run: " << folder << "\n";
      return Status(kFailed);
    }
    const std::filesystem::path lockPath = plan->root / kStateFolder / "lock";
    const std::string holder = "pid " + std::to_string(ProcessId()) + "\nhost " + HostName() +
                               "\nstart " + IsoTime(Clock::now()) + "\nrun " + run + "\n";
    lock.emplace(lockPath.string(), ParseDuration(i.plan.waitLock).value_or(0), holder);
    if (lock->state() == RunLock::State::kHeld) {
      std::string words = lock->text();
      std::replace(words.begin(), words.end(), '\n', ' ');
      Err(i) << "quillet plan run: another run holds " << lockPath.string() << " ("
             << (words.empty() ? "just starting" : words.substr(0, words.find_last_not_of(' ') + 1))
             << ")" << (i.plan.waitLock.empty() ? "; --wait-lock DURATION waits for it" : "")
             << "\n";
      return Status(kLocked);
    }
    if (lock->state() == RunLock::State::kFailed) {
      Err(i) << "quillet plan run: " << lock->text() << "\n";
      return Status(kFailed);
    }
    std::string error;
    journal.emplace(plan->root, run, error);
    if (!error.empty()) {
      Err(i) << "quillet plan run: " << error << "\n";
      return Status(kFailed);
    }
    settings.journal = &*journal;
    // A full disk fails the run, which still goes on and says so in its summary.
    lastRunProblem = WriteLastRun(plan->root, run);
    if (!lastRunProblem.empty()) Err(i) << "quillet plan run: " << lastRunProblem << "\n";
    journal->Write({{"event", "start"}, {"plan", plan->file}, {"start", IsoTime(Clock::now())}});
    if (!lock->text().empty()) {
      // The system let go of the lock because its holder ended without clearing it.
      journal->Write(
          {{"event", "lock-takeover"},
           {"start", IsoTime(Clock::now())},
           {"text", "the run that held the lock ended without letting go: " + lock->text()}});
    }
  }
  RunOutcome outcome = RunPlan(*plan, *secrets, settings);
  WipeSecrets(*secrets);
  if (journal) {
    outcome.journalProblem = journal->Problem();
    journal->Write(
        {{"event", "end"},
         {"end", IsoTime(Clock::now())},
         {"code", outcome.Status()},
         {"text", outcome.Status() == 0 ? "everything succeeded" : "some items failed"}});
    outcome.journalProblem = journal->Problem();
    if (!outcome.journalProblem.empty()) {
      Err(i) << "quillet plan run: " << outcome.journalProblem << "\n";
    }
  }
  if (outcome.journalProblem.empty()) outcome.journalProblem = lastRunProblem;
  // Printed by the driver once the progress line is gone.
  JobResult result = Status(outcome.Status());
  result.text = i.plan.format == "json" ? Dump(RunJson(outcome)) : RunTable(outcome);
  while (!result.text.empty() && result.text.back() == '\n') result.text.pop_back();
  return result;
}

// Every database folder of the plan's servers, with its generations.
struct DatabaseGenerations {
  std::string server;
  std::string database;
  Retention retention;
  std::vector<Generation> generations;
  // What of the database's folder was not counted, and why.
  std::vector<std::string> refused;
};

// What is not this user's is named on err, once, and left out; a database folder that is not
// is there without generations, so that it has no verified backup.
std::vector<DatabaseGenerations> Inventory(const Plan& plan, std::ostream& err,
                                           const std::string& subcommand) {
  const auto refuse = [&](const std::string& problem) {
    err << "quillet plan " << subcommand << ": not counted: " << problem << "\n";
  };
  std::vector<DatabaseGenerations> found;
  for (const ServerPlan& server : plan.servers) {
    if (std::string problem = DatabaseFolderProblem(plan.root, server.name); !problem.empty()) {
      refuse(problem);
      continue;
    }
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(plan.root / server.name, error)) {
      std::error_code ignored;
      const std::string name = entry.path().filename().string();
      if (entry.is_directory(ignored) && SafeFolderName(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      TrustedGenerations trusted = ListTrustedGenerations(plan.root, server.name, name);
      for (const std::string& problem : trusted.refused) refuse(problem);
      found.push_back({server.name, name, server.retention, std::move(trusted.generations),
                       std::move(trusted.refused)});
    }
  }
  return found;
}

JobResult List(const Invocation& i) {
  const std::optional<Plan> plan = LoadPlan(i, "list");
  if (!plan) return Status(kNotUnderstood);
  nlohmann::json rows = nlohmann::json::array();
  std::string table;
  const std::map<GenerationKey, RestoreTest> restoreTests = LastRestoreTests(plan->root);
  for (const DatabaseGenerations& database : Inventory(*plan, Err(i), "list")) {
    const std::vector<Verdict> verdicts =
        Judge(database.generations, database.retention, Clock::now());
    for (const Generation& generation : database.generations) {
      std::string rule = "unfinished: the next run removes it";
      for (const Verdict& verdict : verdicts) {
        if (verdict.generation == &generation) {
          rule =
              verdict.keep ? verdict.rule : "none: the next run deletes it (" + verdict.rule + ")";
        }
      }
      const std::string name = generation.name + (generation.partial ? ".partial" : "");
      const auto test = generation.partial
                            ? restoreTests.end()
                            : restoreTests.find({database.server, database.database, name});
      const bool tested = test != restoreTests.end();
      rows.push_back({{"server", database.server},
                      {"database", database.database},
                      {"generation", name},
                      {"time", IsoTime(generation.time)},
                      {"bytes", generation.bytes},
                      {"verified", generation.complete},
                      {"kept_by", rule},
                      {"restore_test",
                       tested ? nlohmann::json{{"time", test->second.time}, {"ok", test->second.ok}}
                              : nlohmann::json(nullptr)}});
      table += database.server + "\t" + database.database + "\t" + name + "\t" +
               IsoTime(generation.time) + "\t" + HumanBytes(static_cast<double>(generation.bytes)) +
               "\t" + (generation.complete ? "verified" : "not verified") + "\t" + rule + "\t" +
               (!tested           ? std::string("no restore test")
                : test->second.ok ? "restore test ok " + test->second.time
                                  : "restore test failed " + test->second.time) +
               "\n";
    }
  }
  if (i.plan.format == "json") {
    Out(i) << Dump(rows) << "\n";
  } else {
    Out(i) << table;
  }
  return Status(0);
}

std::string PrometheusLabel(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    if (c == '\n') {
      escaped += "\\n";
      continue;
    }
    escaped += c;
  }
  return escaped;
}

// The last run's result per database, from its journal, and the servers that failed as a
// whole in it (a refused password, a terminated server), whose databases it never reached.
struct LastRunResults {
  std::map<std::pair<std::string, std::string>, bool> databases;
  std::set<std::string> failedServers;
  // Every server the run reached: a database of one that it has no word of, it did not back up.
  std::set<std::string> servers;
};

LastRunResults ReadLastRun(const std::filesystem::path& root, std::ostream& err) {
  LastRunResults results;
  std::string problem;
  const std::string run = LastRun(root, problem);
  std::optional<std::vector<nlohmann::json>> lines;
  if (!run.empty()) lines = ReadJournal(root, run, problem);
  if (!problem.empty())
    err << "quillet plan status: the last run is not known: " << problem << "\n";
  // A hand-edited line of the wrong types reads as a failure, never as a crash.
  const auto text = [](const nlohmann::json& line, const char* key) {
    const auto found = line.find(key);
    return found != line.end() && found->is_string() ? found->get<std::string>() : std::string();
  };
  // Calls begun and not ended: a run killed in one did not do that database's item.
  std::set<std::tuple<std::string, std::string, std::string>> begun;
  for (const nlohmann::json& line : lines.value_or(std::vector<nlohmann::json>{})) {
    if (!line.is_object()) continue;
    const std::string event = text(line, "event");
    if (event != "call" && event != "begin") continue;
    const std::string server = text(line, "server");
    const std::string database = text(line, "database");
    if (!server.empty()) results.servers.insert(server);
    const auto code = line.find("code");
    const bool succeeded =
        code != line.end() && code->is_number_integer() && *code == 0 && text(line, "text").empty();
    if (database.empty()) {
      if (event == "call" && !succeeded && !server.empty()) results.failedServers.insert(server);
      continue;
    }
    auto& success = results.databases.try_emplace({server, database}, true).first->second;
    const auto call = std::make_tuple(server, database, text(line, "task"));
    if (event == "begin") {
      begun.insert(call);
      continue;
    }
    begun.erase(call);
    success = success && succeeded;
  }
  for (const auto& [server, database, task] : begun) results.databases[{server, database}] = false;
  return results;
}

JobResult StatusJob(const Invocation& i) {
  const std::optional<Plan> plan = LoadPlan(i, "status");
  if (!plan) return Status(kNotUnderstood);
  const LastRunResults lastRun = ReadLastRun(plan->root, Err(i));
  struct Row {
    std::string server;
    std::string database;
    std::optional<int64_t> age;
    std::optional<bool> lastRunSuccess;
    std::optional<int64_t> connections;
  };
  std::vector<Row> rows;
  std::map<std::string, std::map<std::string, int64_t>> connections;
  std::map<std::string, std::vector<std::string>> selected;
  // Servers whose databases are not known: a check that says OK without them says too much.
  std::vector<std::string> unlisted;
  std::vector<std::string> unfinishedRestores;
  for (const ServerPlan& server : plan->servers) {
    std::string error;
    std::optional<std::string> password = ReadSecret(server.password, Environment, error);
    if (!password) {
      unlisted.push_back(server.name);
      continue;
    }
    TaskOutcome listing;
    if (auto names = ServerDatabases(server.name, *password, listing)) {
      // A database away from the server while it is restored is no orphan, as in a run.
      const std::vector<UnfinishedRestore> unfinished = UnfinishedRestores(server.name, *names);
      const std::vector<std::string>& chosen = selected[server.name] =
          Select(server, WithUnfinishedRestores(*names, unfinished)).databases;
      for (const UnfinishedRestore& restore : unfinished) {
        if (std::find(chosen.begin(), chosen.end(), restore.database) != chosen.end()) {
          unfinishedRestores.push_back(server.name + "/" + restore.database + ": " + restore.text);
        }
      }
    } else {
      unlisted.push_back(server.name);
    }
    std::array<char, QUILLET_CONNECTION_LIST_SIZE> list{};
    if (ListConnections(server.name.c_str(), password->c_str(), list.data()) == 0) {
      list.back() = '\0';
      auto& counts = connections[server.name];
      std::istringstream entries(list.data());
      for (std::string entry; std::getline(entries, entry, ';');) {
        const std::size_t first = entry.find(':');
        const std::size_t second = entry.find(':', first + 1);
        if (first != std::string::npos && second != std::string::npos) {
          ++counts[entry.substr(first + 1, second - first - 1)];
        }
      }
    }
    WipePassword(*password);
  }
  std::vector<DatabaseGenerations> inventory = Inventory(*plan, Err(i), "status");
  // A selected database never backed up is the worst case of all, not a missing line.
  for (const auto& listed : selected) {
    const std::string& server = listed.first;
    for (const std::string& database : listed.second) {
      const bool known = std::any_of(inventory.begin(), inventory.end(), [&](const auto& d) {
        return d.server == server && d.database == database;
      });
      if (!known) inventory.push_back({server, database, Retention{}, {}, {}});
    }
  }
  const Clock::time_point now = Clock::now();
  for (const DatabaseGenerations& database : inventory) {
    // A database the server no longer has is an orphan, not a backup that is getting old.
    const auto listed = selected.find(database.server);
    if (listed != selected.end() && std::find(listed->second.begin(), listed->second.end(),
                                              database.database) == listed->second.end()) {
      continue;
    }
    Row row{database.server, database.database, std::nullopt, std::nullopt, std::nullopt};
    for (const Generation& generation : database.generations) {
      if (generation.complete) {
        // A counted name is at most kClockSkew ahead: a run bumps a name past its database's
        // newest, and a clock set back a little is no backup getting younger.
        row.age = std::max<int64_t>(
            0, std::chrono::duration_cast<std::chrono::seconds>(now - generation.time).count());
        break;
      }
    }
    const auto last = lastRun.databases.find({database.server, database.database});
    if (last != lastRun.databases.end()) {
      row.lastRunSuccess = last->second;
    } else if (lastRun.servers.count(database.server) != 0) {
      row.lastRunSuccess = false;
    }
    const auto server = connections.find(database.server);
    if (server != connections.end()) {
      const auto count = server->second.find(database.database);
      row.connections = count == server->second.end() ? 0 : count->second;
    }
    rows.push_back(row);
  }
  if (!i.plan.warn.empty() || !i.plan.crit.empty()) {
    const std::optional<int64_t> warn = ParseDuration(i.plan.warn);
    const std::optional<int64_t> crit = ParseDuration(i.plan.crit);
    if (rows.empty()) {
      Out(i) << "UNKNOWN: no database of the plan has a generation or could be listed\n";
      return Status(kUnknown);
    }
    // Such a database may not be on its server at all, however young its backup.
    if (!unfinishedRestores.empty()) {
      Out(i) << "CRITICAL: " << unfinishedRestores.front() << "\n";
      return Status(2);
    }
    const Row* worst = &rows.front();
    for (const Row& row : rows) {
      if (!row.age || (worst->age && *row.age > *worst->age)) worst = &row;
      if (!worst->age) break;
    }
    const std::string name = worst->server + "/" + worst->database;
    int status = 0;
    if (!worst->age || (crit && *worst->age >= *crit)) {
      status = 2;
    } else if (warn && *worst->age >= *warn) {
      status = 1;
    }
    if (!unlisted.empty() && status < 2) {
      std::string names;
      for (const std::string& server : unlisted) names += (names.empty() ? "" : ", ") + server;
      Out(i) << "UNKNOWN: the databases of server " << names << " cannot be listed\n";
      return Status(kUnknown);
    }
    const char* words[] = {"OK", "WARNING", "CRITICAL"};
    Out(i) << words[status] << ": "
           << (worst->age ? "the oldest newest backup is " + name + "'s, " +
                                ShowDuration(*worst->age) + " old"
                          : name + " has no verified backup")
           << "\n";
    return Status(status);
  }
  if (i.plan.format == "prometheus") {
    std::string age =
        "# HELP quillet_snapshot_age_seconds Age of the newest verified generation.\n"
        "# TYPE quillet_snapshot_age_seconds gauge\n";
    std::string success =
        "# HELP quillet_last_run_success Whether the last run's tasks of the "
        "database succeeded.\n# TYPE quillet_last_run_success gauge\n";
    std::string count =
        "# HELP quillet_connections Connections to the database.\n"
        "# TYPE quillet_connections gauge\n";
    for (const Row& row : rows) {
      const std::string labels = "{server=\"" + PrometheusLabel(row.server) + "\",database=\"" +
                                 PrometheusLabel(row.database) + "\"} ";
      // No verified backup is older than any age an alert could ask about.
      age += "quillet_snapshot_age_seconds" + labels +
             (row.age ? std::to_string(*row.age) : std::string("+Inf")) + "\n";
      if (row.lastRunSuccess) {
        success += "quillet_last_run_success" + labels + (*row.lastRunSuccess ? "1" : "0") + "\n";
      }
      if (row.connections) {
        count += "quillet_connections" + labels + std::to_string(*row.connections) + "\n";
      }
    }
    Out(i) << age << success << count;
    return Status(0);
  }
  nlohmann::json json = nlohmann::json::array();
  std::string table;
  for (const Row& row : rows) {
    json.push_back({{"server", row.server},
                    {"database", row.database},
                    {"age_seconds", row.age ? nlohmann::json(*row.age) : nlohmann::json(nullptr)},
                    {"last_run_success", row.lastRunSuccess ? nlohmann::json(*row.lastRunSuccess)
                                                            : nlohmann::json(nullptr)},
                    {"connections", row.connections ? nlohmann::json(*row.connections)
                                                    : nlohmann::json(nullptr)}});
    table += row.server + "\t" + row.database + "\t" +
             (!row.age       ? std::string("no verified generation")
              : *row.age < 0 ? std::string("named in the future")
                             : ShowDuration(*row.age) + " old") +
             "\t" +
             (!row.lastRunSuccess   ? "not in the last run"
              : *row.lastRunSuccess ? "last run ok"
                                    : "last run failed") +
             "\t" +
             (row.connections ? std::to_string(*row.connections) + " connections"
                              : "connections unknown") +
             "\n";
  }
  Out(i) << (i.plan.format == "json" ? Dump(json) + "\n" : table);
  return Status(0);
}

std::string CsvField(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

JobResult Report(const Invocation& i) {
  const std::optional<Plan> plan = LoadPlan(i, "report");
  if (!plan) return Status(kNotUnderstood);
  const std::vector<std::string> runs = RunIds(plan->root);
  std::string problem;
  const std::string run = !i.plan.run.empty() ? i.plan.run : LastRun(plan->root, problem);
  const bool known = std::find(runs.begin(), runs.end(), run) != runs.end();
  const auto lines = known ? ReadJournal(plan->root, run, problem) : std::nullopt;
  if (!lines) {
    if (problem.empty()) {
      problem = run.empty() ? "no run has been journaled under " + plan->root.string()
                            : "no run " + run + " in " + RunsFolder(plan->root).string();
    }
    Err(i) << "quillet plan report: " << problem << "\n";
    return Status(kFailed);
  }
  static const std::array<const char*, 12> kFields = {"event", "server", "database", "task",
                                                      "start", "end",    "seconds",  "code",
                                                      "text",  "detail", "bytes",    "path"};
  const auto field = [](const nlohmann::json& line, const char* key) -> std::string {
    if (!line.contains(key)) return "";
    return line[key].is_string() ? line[key].get<std::string>() : line[key].dump();
  };
  if (i.plan.format == "json") {
    Out(i) << Dump(nlohmann::json(*lines)) << "\n";
  } else if (i.plan.format == "csv") {
    std::string text;
    for (const char* key : kFields) text += (text.empty() ? "" : ",") + std::string(key);
    Out(i) << text << "\r\n";
    for (const nlohmann::json& line : *lines) {
      text.clear();
      for (std::size_t k = 0; k < kFields.size(); ++k) {
        text += (k == 0 ? "" : ",") + CsvField(field(line, kFields[k]));
      }
      Out(i) << text << "\r\n";
    }
  } else {
    Out(i) << "run " << run << "\n";
    for (const nlohmann::json& line : *lines) {
      std::string text;
      for (const char* key :
           {"start", "event", "server", "database", "task", "code", "text", "detail", "path"}) {
        std::string value = field(line, key);
        // The server's words may run over lines; the table keeps one a journal line.
        std::replace_if(
            value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; },
            ' ');
        if (!value.empty()) text += (text.empty() ? "" : "\t") + value;
      }
      Out(i) << text << "\n";
    }
    const bool ended = !lines->empty() && lines->back().value("event", "") == "end";
    if (!ended) Out(i) << "(the journal ends here: the run was stopped, or is still going)\n";
  }
  return Status(0);
}

// What verify found, and what it could not count either way.
struct VerifyCounts {
  int good = 0;
  int bad = 0;
  // Restore tests passed, failed, not made, and made but not recorded.
  int passed = 0;
  int failed = 0;
  int untested = 0;
  int unrecorded = 0;
  // Folders and generations not counted, and databases with no generation to check.
  int unchecked = 0;
};

// Retention of a run going on meanwhile may remove a generation: that is no fault of it.
bool RemovedMeanwhile(const Generation& generation) {
  std::error_code error;
  return !std::filesystem::exists(generation.path, error) && !error;
}

// Tests the generation and records it; false when it went meanwhile, so that the next one
// that holds is tested in its place.
bool VerifyRestore(const Invocation& i, const Plan& plan, const DatabaseGenerations& database,
                   const Generation& generation, const Manifest& manifest, VerifyCounts& counts) {
  const std::string where = database.server + " " + database.database + " " + generation.name + " ";
  const RestoreTest test = TestRestore(plan.root, database.database, generation, manifest);
  if (RemovedMeanwhile(generation)) {
    Out(i) << where << "removed while verifying: its restore test is not counted\n";
    return false;
  }
  Out(i) << where << "restore test: " << (test.done ? "" : "not tested: ") << test.text << "\n";
  if (!test.done) {
    ++counts.untested;
    return true;
  }
  (test.ok ? counts.passed : counts.failed) += 1;
  const std::string error =
      RecordRestoreTest(plan.root, database.server, database.database, generation.name, test);
  if (!error.empty()) {
    Err(i) << "quillet plan verify: the restore test of " << where << "was not recorded: " << error
           << "\n";
    ++counts.unrecorded;
  }
  return true;
}

// Each generation against its manifest, and with --restore-test the newest that holds opened.
void VerifyDatabase(const Invocation& i, const Plan& plan, const DatabaseGenerations& database,
                    bool canTest, VerifyCounts& counts, bool listedAgain = false) {
  const std::string named = database.server + " " + database.database + " ";
  for (const std::string& refused : database.refused) {
    Out(i) << named << "not checked: " << refused << "\n";
    ++counts.unchecked;
  }
  bool any = false;
  bool tested = !i.plan.restoreTest;
  for (const Generation& generation : database.generations) {
    if (generation.partial) continue;
    const std::string where = named + generation.name + " ";
    std::string problem;
    const std::optional<Manifest> manifest = ReadManifest(generation.path, problem);
    const std::vector<std::string> problems =
        manifest ? CheckFiles(generation.path, *manifest, true) : std::vector{problem};
    if (!problems.empty() && RemovedMeanwhile(generation)) {
      Out(i) << where << "removed while verifying\n";
      continue;
    }
    any = true;
    for (const std::string& what : problems) Out(i) << where << what << "\n";
    (problems.empty() ? counts.good : counts.bad) += 1;
    // The newest generation that holds is the one a restore would take.
    if (tested || !problems.empty() || !generation.complete) continue;
    if (!canTest) {
      Out(i) << where << "restore test: not tested: with a client library other than the "
             << "stand-in, a restore test needs the server's own tooling\n";
      ++counts.untested;
      tested = true;
      continue;
    }
    tested = VerifyRestore(i, plan, database, generation, *manifest, counts);
  }
  // A run beside this one makes the new generation before it deletes the old: the folder read
  // again has it.
  if (!any && database.refused.empty() && !listedAgain) {
    DatabaseGenerations again = database;
    again.generations =
        ListTrustedGenerations(plan.root, database.server, database.database).generations;
    if (!again.generations.empty()) return VerifyDatabase(i, plan, again, canTest, counts, true);
  }
  if (!any && database.refused.empty()) {
    Out(i) << named << "not checked: it has no generation\n";
    ++counts.unchecked;
  }
}

JobResult Verify(const Invocation& i) {
  const std::optional<Plan> plan = LoadPlan(i, "verify");
  if (!plan) return Status(kNotUnderstood);
  for (const std::string& line : RemoveEndedRestoreTests(plan->root)) Out(i) << line << "\n";
  // Only the stand-in's databases are files that this program can open as databases.
  const bool canTest = FindStandinAdminApi() != nullptr && CanCheckDatabaseFiles();
  VerifyCounts counts;
  for (const ServerPlan& server : plan->servers) {
    if (std::string problem = DatabaseFolderProblem(plan->root, server.name); !problem.empty()) {
      Out(i) << server.name << " not checked: " << problem << "\n";
      ++counts.unchecked;
    }
  }
  for (const DatabaseGenerations& database : Inventory(*plan, Err(i), "verify")) {
    VerifyDatabase(i, *plan, database, canTest, counts);
  }
  Out(i) << counts.good << (counts.good == 1 ? " generation holds" : " generations hold") << ", "
         << counts.bad << (counts.bad == 1 ? " does not" : " do not");
  if (counts.unchecked > 0) Out(i) << ", " << counts.unchecked << " not checked";
  Out(i) << "\n";
  if (i.plan.restoreTest) {
    Out(i) << "restore tests: " << counts.passed << " passed, " << counts.failed << " failed, "
           << counts.untested << " not tested\n";
  }
  if (counts.bad > 0 || counts.failed > 0 || counts.unchecked > 0) return Status(kFailed);
  return Status(counts.untested > 0 || counts.unrecorded > 0 ? kUnknown : 0);
}

std::string CheckRestore(const Invocation& i) {
  if (std::string problem = InstallAsProblem(i); !problem.empty()) return problem;
  if (!i.plan.generation.empty() && !GenerationTime(i.plan.generation)) {
    return "--generation takes a generation's name, such as 20261209T021500Z";
  }
  return "";
}

std::string AskRestoreReplace(const Invocation& i) {
  if (!i.replace) return "";
  return "Replace the database " + (i.installAs.empty() ? i.arguments[2] : i.installAs) +
         " of server " + i.arguments[1] + " with a generation of the plan?";
}

// "FILE: what" for each file of the generation that differs from its manifest, every byte read.
std::vector<std::string> HashProblems(const Generation& generation) {
  std::string problem;
  const std::optional<Manifest> manifest = ReadManifest(generation.path, problem);
  return manifest ? CheckFiles(generation.path, *manifest, true) : std::vector{problem};
}

// The older generation a refused restore could take instead, named rather than taken: the
// choice of an older backup is the operator's.
std::string NewestThatHolds(std::vector<Generation>::const_iterator older,
                            std::vector<Generation>::const_iterator end) {
  for (; older != end; ++older) {
    if (older->partial || !older->complete) continue;
    if (HashProblems(*older).empty()) {
      return "--generation " + older->name + " restores the newest that holds";
    }
  }
  return "no older generation holds either";
}

JobResult Restore(const Invocation& i) {
  const std::optional<Plan> plan = LoadPlan(i, "restore");
  if (!plan) return Status(kNotUnderstood);
  const std::string& name = i.arguments[1];
  const std::string& database = i.arguments[2];
  const auto server = std::find_if(plan->servers.begin(), plan->servers.end(),
                                   [&](const ServerPlan& s) { return s.name == name; });
  JobResult result;
  if (server == plan->servers.end() || !SafeFolderName(database)) {
    result.problem = server == plan->servers.end()
                         ? "the plan has no server " + name
                         : "DATABASE cannot be a folder name: " + database;
    return result;
  }
  const TrustedGenerations trusted = ListTrustedGenerations(plan->root, name, database);
  const std::vector<Generation>& generations = trusted.generations;
  const auto chosen = std::find_if(generations.begin(), generations.end(), [&](const auto& g) {
    return !g.partial && (i.plan.generation.empty() ? g.complete : g.name == i.plan.generation);
  });
  if (chosen == generations.end()) {
    result.problem = (i.plan.generation.empty() ? "no verified generation of "
                                                : "no generation " + i.plan.generation + " of ") +
                     name + " " + database + " under " + plan->root.string();
    for (const std::string& refused : trusted.refused)
      result.problem += "; not counted: " + refused;
    return result;
  }
  // Read whole against its manifest first: a restore replaces a database with it.
  const std::vector<std::string> problems = HashProblems(*chosen);
  if (!problems.empty()) {
    result.problem = "generation " + chosen->name +
                     " does not hold, so it is not restored: " + problems.front() + "; " +
                     NewestThatHolds(std::next(chosen), generations.end());
    return result;
  }
  std::string error;
  std::optional<std::string> password = ReadSecret(server->password, Environment, error);
  if (!password) {
    result.problem = error;
    return result;
  }
  RestoreRequest request;
  request.server = name;
  request.password = *password;
  request.database = database;
  request.directory = chosen->path.string();
  request.installAs = i.installAs;
  request.replace = i.replace;
  WipePassword(*password);
  result = RestoreSnapshotFolder(request);
  WipePassword(request.password);
  if (!result.problem.empty() && FindStandinAdminApi() == nullptr) {
    result.problem += "; its manifest is " + (chosen->path / kManifestName).string();
  }
  return result;
}

}  // namespace

void AddPlanSubcommands(CommandLine& commandLine) {
  Invocation::PlanOptions& given = commandLine.invocation().plan;
  commandLine.AddGroup("plan", "Fleet maintenance from a plan file");
  commandLine.Add(
      Subcommand("plan check", "PLAN", "check a plan and what a run of it would do")
          .Describe("Reads the plan, connects to each server, resolves its selection of "
                    "databases and prints what a run would do per server; checks that the "
                    "snapshot root can be written and has room for the largest database's last "
                    "generation. Exits 0, or 2 with every problem listed.")
          .Runs("DirDB", Check)
          .Checks([](const Invocation& i) { return CheckFormat(i, {}); })
          .Lists(Listing::kText)
          .Example("quillet plan check /etc/quillet/nightly.toml"));
  CLI::App& run = commandLine.Add(
      Subcommand("plan run", "PLAN", "run a plan: snapshots, statistics, logs, retention")
          .Describe("Runs the plan: per database its tasks in order, each snapshot into a new "
                    "generation with a manifest, then retention. A failure is recorded and the "
                    "run goes on. Exits 0 when everything succeeded, 1 when anything failed, 2 "
                    "for a plan that is not understood, 3 when another run holds the lock.")
          .Runs("SnapShot", Run)
          .Checks(CheckRun)
          .Lists(Listing::kText)
          .Shows(Progress::kElapsed)
          .Example("quillet plan run /etc/quillet/nightly.toml --wait-lock 30m"));
  run.add_flag("--dry-run", given.dryRun,
               "print every call and deletion it would make, and change nothing")
      ->disable_flag_override();
  run.add_option("--jobs", given.jobs, "servers at once, in place of the plan's jobs")
      ->type_name("N")
      ->transform(JobsNumber());
  run.add_option("--wait-lock", given.waitLock, "wait this long for another run to end")
      ->type_name("DURATION");
  run.add_option("--format", given.format, "the summary as table or json")->type_name("FORMAT");
  commandLine
      .Add(Subcommand("plan list", "PLAN", "list every generation and the rule that keeps it")
               .Describe(
                   "Lists every generation of every database of the plan's servers: server, "
                   "database, generation, time, size, verified or not, and which rule keeps it.")
               .Runs("the plan's generations", List)
               .Checks([](const Invocation& i) {
                 return CheckFormat(i, {"table", "json"});
               })
               .Lists(Listing::kText)
               .Example("quillet plan list /etc/quillet/nightly.toml --format json"))
      .add_option("--format", given.format, "table or json")
      ->type_name("FORMAT");
  CLI::App& status = commandLine.Add(
      Subcommand("plan status", "PLAN", "the age of each database's newest verified backup")
          .Describe("Per database: the age of the newest verified generation, the last run's "
                    "result and the server's connections to it, as a table, json, or the "
                    "prometheus text format. With --warn and --crit it prints one line naming "
                    "the database whose newest backup is oldest and exits 0, 1 or 2 (3 when it "
                    "cannot tell).")
          .Runs("ListConnections", StatusJob)
          .Checks(CheckStatus)
          .Lists(Listing::kText)
          .Example("quillet plan status /etc/quillet/nightly.toml --warn 26h --crit 50h"));
  status.add_option("--format", given.format, "table, json or prometheus")->type_name("FORMAT");
  status.add_option("--warn", given.warn, "warn when a newest backup is this old")
      ->type_name("DURATION");
  status.add_option("--crit", given.crit, "critical when a newest backup is this old")
      ->type_name("DURATION");
  CLI::App& report = commandLine.Add(
      Subcommand("plan report", "PLAN", "the journal of a run")
          .Describe("Prints the journal of one run, the last by default: every call and "
                    "deletion with its times, code, text, bytes and path.")
          .Runs("the run's journal", Report)
          .Checks([](const Invocation& i) {
            return CheckFormat(i, {"table", "json", "csv"});
          })
          .Lists(Listing::kText)
          .Example("quillet plan report /etc/quillet/nightly.toml --format csv"));
  report.add_option("--run", given.run, "the run's id, as the summary names it")->type_name("ID");
  report.add_option("--format", given.format, "table, json or csv")->type_name("FORMAT");
  commandLine
      .Add(Subcommand("plan verify", "PLAN", "check every generation against its manifest")
               .Describe(
                   "Reads every file of every generation and compares its size and SHA-256 with "
                   "the manifest. With --restore-test, each database's newest generation that "
                   "holds is also opened as a database: its file is copied into a private "
                   "folder under the snapshot root's .quillet, SQLite's integrity check runs on "
                   "the copy, and the copy is removed; each test is recorded in "
                   ".quillet/restore-tests.jsonl, which plan list shows. Only the stand-in's "
                   "databases can be opened so: with another client library each such "
                   "generation is named as not tested, for the server's own tooling. Exits 0 "
                   "when every generation holds, 1 with each one that does not named (server, "
                   "database, generation, file or problem) and each folder or generation not "
                   "counted or database folder without a generation, 3 when none fails but a "
                   "restore test that was asked for could not be made or recorded.")
               .Runs("the plan's manifests", Verify)
               .Lists(Listing::kText)
               .Example("quillet plan verify /etc/quillet/nightly.toml"))
      .add_flag("--restore-test", given.restoreTest,
                "also open a copy of each database's newest generation as a database")
      ->disable_flag_override();
  AddPlanScheduleSubcommand(commandLine);
  CLI::App& restore = commandLine.Add(
      Subcommand("plan restore", "PLAN SERVER DATABASE", "restore a generation onto the server")
          .Describe("Checks the generation (the newest verified one unless --generation names "
                    "one) against its manifest, then installs it on SERVER as DATABASE, or as "
                    "--as NAME, as 'quillet restore' does: an installed database of that name is "
                    "refused unless --replace, which keeps it aside until the restore has "
                    "succeeded. With --replace it asks first on a terminal, unless -y is given.")
          .Runs("DirDB, DeinstallDB, InstallDB", Restore)
          .Checks(CheckRestore)
          .Confirms(AskRestoreReplace)
          .Shows(Progress::kElapsed)
          .Example("quillet plan restore /etc/quillet/nightly.toml ACME STOCK --as STOCK2"));
  restore.add_option("--generation", given.generation, "the generation to restore")
      ->type_name("ID");
  AddRestoreTargetOptions(restore, commandLine.invocation(), "install it as the database NAME");
}

}  // namespace quillet::cli
