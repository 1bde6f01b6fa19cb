#include "runner.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include "database_file_check.h"
#include "durable.h"
#include "failure_message.h"
#include "journal.h"
#include "manifest.h"
#include "quillet.h"
#include "retention.h"
#include "selection.h"
#include "snapshot_restore.h"
#include "standin_admin_api.h"
#include "trusted_folders.h"

namespace quillet::cli::plan {
namespace {

bool Listed(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The database-level exports share one connect text in the library, so they never run at
// once; the stand-in also picks their server from the process's environment.
std::mutex databaseCalls;

// The backup flag the plan hands to SnapShot, as all-snapshot does.
constexpr int32_t kSnapshotFlag = 1;

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class ServerRun {
 public:
  ServerRun(const Plan& plan, const ServerPlan& server, const Secrets& secrets,
            const RunSettings& settings, ServerOutcome& outcome, std::vector<std::string>& would)
      : plan_(plan),
        server_(server),
        secrets_(secrets),
        settings_(settings),
        outcome_(outcome),
        would_(would) {}

  void Run() {
    outcome_.server = server_.name;
    JournalBegin("dir-db", "", IsoTime(Clock::now()));
    TaskOutcome listing;
    const std::optional<std::vector<std::string>> names =
        ServerDatabases(server_.name, secrets_.server, listing);
    Journal("dir-db", "", listing);
    outcome_.tasks.push_back(listing);
    if (!names) return;
    // A database away from the server while it is restored is still the plan's, not an orphan.
    const std::vector<UnfinishedRestore> unfinished = UnfinishedRestores(server_.name, *names);
    const std::vector<std::string> known = WithUnfinishedRestores(*names, unfinished);
    const Selection selection = Select(server_, known);
    if (!selection.errors.empty()) {
      outcome_.problems = selection.errors;
      TaskOutcome refused;
      refused.task = "select";
      for (const std::string& error : selection.errors) {
        refused.problem += (refused.problem.empty() ? "" : "; ") + error;
      }
      Journal(refused.task, "", refused);
      return;
    }
    // Reserved whole: a snapshot still finishing holds on to its database's outcome.
    outcome_.databases.resize(selection.databases.size());
    for (std::size_t k = 0; k < selection.databases.size(); ++k) {
      const std::string& database = selection.databases[k];
      outcome_.databases[k].database = database;
      if (Listed(*names, database)) RunDatabase(database, outcome_.databases[k]);
      for (const UnfinishedRestore& restore : unfinished) {
        if (restore.database == database) Unfinished(restore, outcome_.databases[k]);
      }
    }
    WaitForFinish();
    Orphans(known);
  }

 private:
  // Before each call, so that a killed run's journal names the call it stopped in.
  void JournalBegin(const std::string& task, const std::string& database,
                    const std::string& start) {
    if (settings_.journal == nullptr) return;
    settings_.journal->Write({{"event", "begin"},
                              {"server", server_.name},
                              {"database", database},
                              {"task", task},
                              {"start", start}});
  }

  void Journal(const std::string& task, const std::string& database, const TaskOutcome& done,
               const std::string& start = "") {
    if (settings_.journal == nullptr) return;
    settings_.journal->Write({{"event", "call"},
                              {"server", server_.name},
                              {"database", database},
                              {"task", task},
                              {"start", start.empty() ? IsoTime(Clock::now()) : start},
                              {"end", IsoTime(Clock::now())},
                              {"seconds", done.seconds},
                              {"code", done.code},
                              {"text", done.problem.empty() ? done.text : done.problem},
                              {"detail", done.detail},
                              {"bytes", done.bytes},
                              {"path", done.path}});
  }

  void JournalDeletion(const std::string& database, const Generation& generation,
                       const std::string& text) {
    if (settings_.journal == nullptr) return;
    settings_.journal->Write({{"event", "delete"},
                              {"server", server_.name},
                              {"database", database},
                              {"task", "retention"},
                              {"start", IsoTime(Clock::now())},
                              {"end", IsoTime(Clock::now())},
                              {"seconds", 0},
                              {"code", 0},
                              {"text", text},
                              {"bytes", generation.bytes},
                              {"path", generation.path.string()}});
  }

  void Delete(const std::string& database, const Generation& generation, const std::string& rule,
              std::vector<Deletion>& deleted) {
    Deletion deletion{generation.name + (generation.partial ? std::string(kPartialSuffix) : ""),
                      rule, generation.bytes, ""};
    if (settings_.dryRun) {
      would_.push_back("delete " + generation.path.string() + " (" + rule + ")");
      deleted.push_back(deletion);
      return;
    }
    // Journalled first, then out of the count under a name the next run clears: a run killed
    // halfway leaves neither a half generation that is kept nor a deletion nobody wrote down.
    // By path, and safely so: the root is this user's or sticky, and the server's and the
    // database's folders are this user's alone, so no one else can rename a link into the
    // path between the checks and the delete.
    JournalDeletion(database, generation, rule);
    std::filesystem::path doomed = generation.path;
    if (!generation.partial) {
      const std::filesystem::path unfinished =
          generation.path.parent_path() / (generation.name + std::string(kPartialSuffix));
      if (RenameDurably(generation.path, unfinished).empty()) doomed = unfinished;
    }
    std::error_code error;
    std::filesystem::remove_all(doomed, error);
    if (error) {
      deletion.problem = "cannot delete " + doomed.string() + ": " + error.message();
      JournalDeletion(database, generation, deletion.problem);
    }
    deleted.push_back(deletion);
  }

  // What earlier runs left unfinished never counts, and goes before the new snapshot. A folder
  // without a manifest waits for retention, which runs only once the new snapshot holds.
  void RemoveUnfinished(const std::string& database, std::vector<Deletion>& deleted) {
    for (const Generation& generation : ListGenerations(FolderOf(database))) {
      if (generation.partial && generation.ordered) {
        Delete(database, generation, "unfinished", deleted);
      }
    }
  }

  // The server's and the database's folders are this user's alone, or nothing in them is
  // listed or deleted: a link there could lead anywhere.
  std::string CheckFolders(const std::string& database) const {
    return DatabaseFolderProblem(plan_.root, server_.name, database);
  }

  std::filesystem::path FolderOf(const std::string& database) const {
    return DatabaseFolder(plan_.root, server_.name, database);
  }

  // made: the generation this run has just made, which stays whatever the rules say.
  void Retain(const std::string& database, const Retention& retention, const Generation* planned,
              std::vector<Deletion>& deleted, const std::string& made = "") {
    std::vector<Generation> generations = ListGenerations(FolderOf(database));
    if (planned != nullptr) generations.insert(generations.begin(), *planned);
    for (const Verdict& verdict : Judge(generations, retention, Clock::now())) {
      if (!verdict.keep && verdict.generation != planned &&
          (made.empty() || verdict.generation->name != made || verdict.generation->partial)) {
        Delete(database, *verdict.generation, verdict.rule, deleted);
      }
    }
  }

  // Adds the snapshot's outcome to the database's; its generation is made by Finish.
  TaskOutcome Snapshot(const std::string& database, DatabaseOutcome& outcome) {
    TaskOutcome done;
    done.task = "snapshot";
    const std::filesystem::path folder = FolderOf(database);
    done.problem = CheckFolders(database);
    if (!done.problem.empty()) {
      Journal(done.task, database, done);
      outcome.tasks.push_back(done);
      return done;
    }
    RemoveUnfinished(database, outcome.deleted);
    const Clock::time_point now = Clock::now();
    const std::string generation = NewGenerationName(ListGenerations(folder), now);
    const std::filesystem::path partial = folder / (generation + std::string(kPartialSuffix));
    done.path = (folder / generation).string();
    if (settings_.dryRun) {
      would_.push_back("SnapShot(" + std::to_string(kSnapshotFlag) + ", \"" + server_.name +
                       "\", password not shown, \"" + database + "\", \"" + partial.string() +
                       "\"), then " + std::string(kManifestName) + " and the rename to " +
                       done.path);
      outcome.generation = generation;
      Generation planned;
      planned.name = generation;
      planned.time = *GenerationTime(generation);
      planned.hasManifest = planned.complete = true;
      Retain(database, server_.retention, &planned, outcome.deleted);
      outcome.tasks.push_back(done);
      return done;
    }
    Pending pending{database, generation,          folder,
                    partial,  IsoTime(now),        std::chrono::steady_clock::now(),
                    &outcome, outcome.tasks.size()};
    JournalBegin(done.task, database, pending.start);
    done.problem = MakePrivateFolder(plan_.root / server_.name);
    if (done.problem.empty()) done.problem = MakePrivateFolder(folder);
    if (done.problem.empty()) done.problem = MakePrivateFolder(partial);
    if (done.problem.empty()) {
      done.code = SnapShot(kSnapshotFlag, server_.name.c_str(), secrets_.server.c_str(),
                           database.c_str(), partial.string().c_str());
      if (done.code != 0) DescribeCode(done.code, done.text, done.detail);
    }
    outcome.tasks.push_back(done);
    // The hashing, syncs and retention of this generation go on beside the next database's
    // snapshot: the server writes while this process reads, and the syncs' waits overlap.
    WaitForFinish();
    if (done.Succeeded()) {
      finishing_ = std::async(std::launch::async, [this, pending] { Finish(pending); });
    } else {
      Finish(pending);
    }
    return done;
  }

  // A snapshot whose call has returned, to be made a generation.
  struct Pending {
    std::string database;
    std::string generation;
    std::filesystem::path folder;
    std::filesystem::path partial;
    std::string start;
    std::chrono::steady_clock::time_point started;
    DatabaseOutcome* outcome;
    std::size_t task;
  };

  // A damaged copy counted as a generation would let retention delete the good ones before it,
  // so the new one must pass restore's own checks first. Only the stand-in's backups are files
  // that SQLite can open.
  static std::string SoundnessProblem(const std::filesystem::path& partial,
                                      const std::string& database) {
    if (!CanCheckDatabaseFiles() || FindStandinAdminApi() == nullptr) return "";
    const std::string problem = SnapshotFileProblem(partial.string(), database);
    return problem.empty() ? "" : "the snapshot is no sound backup, so it is not kept: " + problem;
  }

  void WaitForFinish() {
    if (finishing_.valid()) finishing_.get();
  }

  void Finish(const Pending& pending) {
    TaskOutcome& done = pending.outcome->tasks[pending.task];
    const std::filesystem::path& folder = pending.folder;
    const std::filesystem::path& partial = pending.partial;
    const std::string& generation = pending.generation;
    Manifest manifest;
    if (done.Succeeded()) {
      manifest.server = server_.name;
      manifest.database = pending.database;
      manifest.run = settings_.run;
      manifest.start = pending.start;
      // Beside the hashing, on another processor: each reads the same pages from memory.
      std::future<std::string> soundness = std::async(std::launch::async, [&partial, &pending] {
        return SoundnessProblem(partial, pending.database);
      });
      done.problem = HashFolder(partial, manifest);
      const std::string unsound = soundness.get();
      if (done.problem.empty()) done.problem = unsound;
      manifest.end = IsoTime(Clock::now());
      if (done.problem.empty()) done.problem = WriteManifest(partial, manifest);
      if (done.problem.empty()) done.problem = RenameDurably(partial, folder / generation);
      if (done.problem.empty() && !SyncFolder(folder)) {
        done.problem = "cannot sync the folder " + folder.string();
      }
      for (const ManifestFile& file : manifest.files) done.bytes += file.size;
    }
    if (done.Succeeded()) {
      // Read back under its final name, as a restore would find it: the manifest whole and
      // every file in it of its size, no file more. The files were hashed a moment ago from
      // what the system holds of them, so hashing them again would read the same pages and
      // prove nothing more; plan verify reads them again whenever asked.
      std::string problem;
      const std::optional<Manifest> written = ReadManifest(folder / generation, problem);
      std::vector<std::string> problems =
          written ? CheckFiles(folder / generation, *written, false) : std::vector{problem};
      bool same = written && written->files.size() == manifest.files.size();
      for (std::size_t k = 0; same && k < manifest.files.size(); ++k) {
        same = written->files[k].sha256 == manifest.files[k].sha256;
      }
      if (problems.empty() && !same) {
        problems.push_back(std::string(kManifestName) + ": not as it was written");
      }
      if (!problems.empty()) done.problem = "the new generation does not hold: " + problems[0];
    }
    std::error_code ignored;
    // Nothing half written counts, nor stays.
    std::filesystem::remove_all(partial, ignored);
    done.seconds = Since(pending.started);
    Journal("snapshot", pending.database, done, pending.start);
    if (done.Succeeded()) {
      pending.outcome->generation = generation;
      Retain(pending.database, server_.retention, nullptr, pending.outcome->deleted, generation);
    }
  }

  TaskOutcome DatabaseTask(const std::string& database, Task task) {
    TaskOutcome done;
    done.task = TaskName(task);
    if (settings_.dryRun) {
      would_.push_back(std::string(task == Task::kUpdateStats ? "UpdateStats" : "ReleaseLog") +
                       "(\"" + database + "\", \"" + server_.user + "\", password not shown)");
      return done;
    }
    const std::string start = IsoTime(Clock::now());
    const auto started = std::chrono::steady_clock::now();
    JournalBegin(done.task, database, start);
    {
      const std::lock_guard<std::mutex> hold(databaseCalls);
      if (FindStandinAdminApi() != nullptr) {
        done.problem = SelectStandinServer(server_.name, "the plan");
      }
      if (done.problem.empty()) {
        done.code = task == Task::kUpdateStats
                        ? UpdateStats(database.c_str(), server_.user.c_str(), secrets_.user.c_str())
                        : ReleaseLog(database.c_str(), server_.user.c_str(), secrets_.user.c_str());
        if (done.code != 0) DescribeCode(done.code, done.text, done.detail);
      }
    }
    done.seconds = Since(started);
    Journal(done.task, database, done, start);
    return done;
  }

  void RunDatabase(const std::string& database, DatabaseOutcome& outcome) {
    outcome.database = database;
    for (Task task : server_.tasks) {
      if (task == Task::kSnapshot && SafeFolderName(database) && Succeeded(outcome)) {
        Snapshot(database, outcome);
        continue;
      }
      TaskOutcome done;
      done.task = TaskName(task);
      if (!Succeeded(outcome)) {
        // A log released after a failed backup could not be had back.
        done.skipped = true;
        done.problem = "skipped: an earlier task of this database failed";
      } else if (!SafeFolderName(database)) {
        done.problem = "the name cannot be a folder under the snapshot root";
      } else {
        done = DatabaseTask(database, task);
      }
      outcome.tasks.push_back(done);
    }
  }

  // Whether the database's tasks so far succeeded, its snapshot's generation made.
  bool Succeeded(const DatabaseOutcome& outcome) {
    if (!outcome.tasks.empty() && outcome.tasks.back().task == "snapshot") WaitForFinish();
    return std::all_of(outcome.tasks.begin(), outcome.tasks.end(),
                       [](const TaskOutcome& task) { return task.Succeeded(); });
  }

  // A restore killed before its end kept the database it replaced aside, and may have left none
  // installed: such a database fails the run until someone puts it right, rather than passing
  // for one the server has dropped.
  void Unfinished(const UnfinishedRestore& unfinished, DatabaseOutcome& outcome) {
    WaitForFinish();
    TaskOutcome done;
    done.task = "restore";
    done.problem = unfinished.text;
    Journal(done.task, unfinished.database, done);
    outcome.tasks.push_back(done);
  }

  // Generations of databases the server no longer has.
  void Orphans(const std::vector<std::string>& names) {
    TaskOutcome refused;
    refused.task = "orphans";
    refused.problem = CheckFolders("");
    if (!refused.problem.empty()) {
      outcome_.tasks.push_back(refused);
      return;
    }
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(plan_.root / server_.name, error)) {
      const std::string name = entry.path().filename().string();
      std::error_code ignored;
      if (!entry.is_directory(ignored) || !SafeFolderName(name) ||
          std::find(names.begin(), names.end(), name) != names.end()) {
        continue;
      }
      DatabaseOutcome orphan;
      orphan.database = name;
      orphan.orphan = OrphansName(server_.retention.orphans);
      refused.problem = CheckFolders(name);
      if (!refused.problem.empty()) {
        orphan.tasks.push_back(refused);
        outcome_.orphans.push_back(orphan);
        continue;
      }
      if (ListGenerations(entry.path()).empty()) continue;
      if (server_.retention.orphans == Orphans::kExpire) {
        Retain(name, server_.retention, nullptr, orphan.deleted);
      }
      outcome_.orphans.push_back(orphan);
    }
  }

  const Plan& plan_;
  const ServerPlan& server_;
  const Secrets& secrets_;
  const RunSettings& settings_;
  ServerOutcome& outcome_;
  std::vector<std::string>& would_;
  std::future<void> finishing_;
};

nlohmann::json TaskJson(const TaskOutcome& task) {
  return {{"task", task.task},
          {"success", task.Succeeded()},
          {"skipped", task.skipped},
          {"code", task.code},
          {"text", task.problem.empty() ? task.text : task.problem},
          {"detail", task.detail},
          {"seconds", task.seconds},
          {"bytes", task.bytes},
          {"path", task.path}};
}

nlohmann::json DatabaseJson(const DatabaseOutcome& database) {
  nlohmann::json tasks = nlohmann::json::array();
  for (const TaskOutcome& task : database.tasks) tasks.push_back(TaskJson(task));
  nlohmann::json deleted = nlohmann::json::array();
  for (const Deletion& deletion : database.deleted) {
    deleted.push_back({{"generation", deletion.generation},
                       {"rule", deletion.rule},
                       {"bytes", deletion.bytes},
                       {"problem", deletion.problem}});
  }
  nlohmann::json json = {
      {"database", database.database},
      {"success", database.Succeeded()},
      {"generation",
       database.generation.empty() ? nlohmann::json(nullptr) : nlohmann::json(database.generation)},
      {"tasks", tasks},
      {"deleted", deleted}};
  if (!database.orphan.empty()) json["orphans"] = database.orphan;
  return json;
}

std::string TaskLine(const std::string& server, const std::string& database,
                     const TaskOutcome& task, bool dryRun) {
  std::string line = server + "\t" + (database.empty() ? "-" : database) + "\t" + task.task + "\t";
  if (task.skipped) return line + "skipped";
  if (dryRun && task.Succeeded() && task.task != "dir-db") return line + "would run";
  if (!task.problem.empty()) return line + "failed: " + task.problem;
  if (task.code != 0) {
    return line + "failed with return code " + std::to_string(task.code) +
           (task.text.empty() ? "" : " (" + task.text + ")") +
           (task.detail.empty() ? "" : ": " + task.detail);
  }
  char seconds[32];
  (void)std::snprintf(seconds, sizeof seconds, "%.1f s", task.seconds);
  return line + "ok, " + seconds;
}

}  // namespace

bool DatabaseOutcome::Succeeded() const {
  return std::all_of(tasks.begin(), tasks.end(), [](const auto& t) { return t.Succeeded(); }) &&
         std::all_of(deleted.begin(), deleted.end(),
                     [](const Deletion& d) { return d.problem.empty(); });
}

bool ServerOutcome::Succeeded() const {
  return problems.empty() &&
         std::all_of(tasks.begin(), tasks.end(), [](const auto& t) { return t.Succeeded(); }) &&
         std::all_of(databases.begin(), databases.end(),
                     [](const auto& d) { return d.Succeeded(); }) &&
         std::all_of(orphans.begin(), orphans.end(), [](const auto& d) { return d.Succeeded(); });
}

int RunOutcome::Status() const {
  int status = journalProblem.empty() ? 0 : 1;
  for (const ServerOutcome& server : servers) {
    if (!server.problems.empty()) status = 2;
    if (!server.Succeeded() && status == 0) status = 1;
  }
  return status;
}

void DescribeCode(int32_t code, std::string& text, std::string& detail) {
  const char* meaning = QuilletResultMeaning(code);
  if (meaning == nullptr) meaning = StandinCodeText(code);
  text = meaning != nullptr ? meaning : "";
  const char* words = StandinLastMessage(code);
  detail = words != nullptr ? words : "";
}

std::vector<std::string> WithUnfinishedRestores(std::vector<std::string> names,
                                                const std::vector<UnfinishedRestore>& unfinished) {
  for (const UnfinishedRestore& restore : unfinished) {
    if (!restore.installed) names.push_back(restore.database);
  }
  return names;
}

std::optional<std::vector<std::string>> ServerDatabases(const std::string& server,
                                                        const std::string& password,
                                                        TaskOutcome& outcome) {
  outcome.task = "dir-db";
  const auto started = std::chrono::steady_clock::now();
  std::array<char, QUILLET_DATABASE_LIST_SIZE> list{};
  outcome.code = DirDB(server.c_str(), password.c_str(), list.data());
  outcome.seconds = Since(started);
  if (outcome.code != 0) {
    DescribeCode(outcome.code, outcome.text, outcome.detail);
    return std::nullopt;
  }
  list.back() = '\0';
  std::vector<std::string> names;
  std::string name;
  for (const char* at = list.data(); *at != '\0'; ++at) {
    if (*at != ';') {
      name += *at;
    } else if (!name.empty()) {
      names.push_back(name);
      name.clear();
    }
  }
  return names;
}

RunOutcome RunPlan(const Plan& plan, const std::map<std::string, Secrets>& secrets,
                   const RunSettings& settings) {
  RunOutcome outcome;
  outcome.run = settings.run;
  outcome.plan = plan.file;
  outcome.dryRun = settings.dryRun;
  outcome.start = IsoTime(Clock::now());
  outcome.servers.resize(plan.servers.size());
  std::vector<std::vector<std::string>> would(plan.servers.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t k; (k = next++) < plan.servers.size();) {
      ServerRun(plan, plan.servers[k], secrets.at(plan.servers[k].name), settings,
                outcome.servers[k], would[k])
          .Run();
    }
  };
  const std::size_t threads = std::min<std::size_t>(
      static_cast<std::size_t>(std::max(settings.jobs, 1)), plan.servers.size());
  std::vector<std::thread> workers;
  for (std::size_t k = 1; k < threads; ++k) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  for (auto& lines : would)
    outcome.wouldDo.insert(outcome.wouldDo.end(), lines.begin(), lines.end());
  outcome.end = IsoTime(Clock::now());
  return outcome;
}

nlohmann::json RunJson(const RunOutcome& outcome) {
  nlohmann::json servers = nlohmann::json::array();
  for (const ServerOutcome& server : outcome.servers) {
    nlohmann::json tasks = nlohmann::json::array();
    for (const TaskOutcome& task : server.tasks) tasks.push_back(TaskJson(task));
    nlohmann::json databases = nlohmann::json::array();
    for (const DatabaseOutcome& database : server.databases) {
      databases.push_back(DatabaseJson(database));
    }
    nlohmann::json orphans = nlohmann::json::array();
    for (const DatabaseOutcome& orphan : server.orphans) orphans.push_back(DatabaseJson(orphan));
    servers.push_back({{"server", server.server},
                       {"success", server.Succeeded()},
                       {"problems", server.problems},
                       {"tasks", tasks},
                       {"databases", databases},
                       {"orphans", orphans}});
  }
  nlohmann::json json = {{"format", 1},
                         {"run", outcome.run},
                         {"plan", outcome.plan},
                         {"dry_run", outcome.dryRun},
                         {"start", outcome.start},
                         {"end", outcome.end},
                         {"status", outcome.Status()},
                         {"success", outcome.Status() == 0},
                         {"journal_problem", outcome.journalProblem},
                         {"servers", servers}};
  if (outcome.dryRun) json["would"] = outcome.wouldDo;
  return json;
}

std::string RunTable(const RunOutcome& outcome) {
  std::string text;
  for (const std::string& line : outcome.wouldDo) text += "would: " + line + "\n";
  for (const ServerOutcome& server : outcome.servers) {
    for (const std::string& problem : server.problems) text += problem + "\n";
    for (const TaskOutcome& task : server.tasks) {
      if (!task.Succeeded()) text += TaskLine(server.server, "", task, outcome.dryRun) + "\n";
    }
    for (const DatabaseOutcome& database : server.databases) {
      for (const TaskOutcome& task : database.tasks) {
        text +=
            TaskLine(server.server, database.database, task, outcome.dryRun) +
            (task.task == "snapshot" && !database.generation.empty() ? ", " + database.generation
                                                                     : "") +
            "\n";
      }
      for (const Deletion& deletion : database.deleted) {
        text += server.server + "\t" + database.database +
                (outcome.dryRun ? "\twould delete\t" : "\tdelete\t") + deletion.generation + " (" +
                deletion.rule + ")" + (deletion.problem.empty() ? "" : ": " + deletion.problem) +
                "\n";
      }
    }
    for (const DatabaseOutcome& orphan : server.orphans) {
      text += server.server + "\t" + orphan.database + "\torphan\t" + orphan.orphan +
              ": the server no longer has this database\n";
      for (const TaskOutcome& task : orphan.tasks) {
        text += TaskLine(server.server, orphan.database, task, outcome.dryRun) + "\n";
      }
      for (const Deletion& deletion : orphan.deleted) {
        text += server.server + "\t" + orphan.database + "\tdelete\t" + deletion.generation + " (" +
                deletion.rule + ")\n";
      }
    }
  }
  if (!outcome.journalProblem.empty()) text += outcome.journalProblem + "\n";
  const int status = outcome.Status();
  text += std::string(outcome.dryRun ? "dry run " : "run ") + outcome.run + ": " +
          (status == 0 ? "everything succeeded" : "some items failed") + "\n";
  return text;
}

}  // namespace quillet::cli::plan
