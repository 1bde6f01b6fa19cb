#include "plan_file.h"

#include <toml++/toml.h>
#include <algorithm>
#include <limits>
#include <set>
#include <string_view>

#include "duration.h"
#include "password_source.h"

namespace quillet::cli::plan {
namespace {

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  std::string Where(const toml::source_region& at) const {
    return file_ + ":" + std::to_string(at.begin.line) + ":" + std::to_string(at.begin.column);
  }
  void Error(const toml::source_region& at, const std::string& what) {
    errors_.push_back(Where(at) + ": " + what);
  }

  // Unknown keys are errors: a misspelt key would otherwise be a setting silently lost.
  void KnownKeys(const toml::table& table, std::initializer_list<std::string_view> known,
                 const std::string& within) {
    for (auto&& [key, node] : table) {
      if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
      if (key.str() == "password" || key.str() == "user_password") {
        Error(key.source(), "a password is never written in the plan: use " +
                                std::string(key.str()) + "_file or " + std::string(key.str()) +
                                "_env");
        continue;
      }
      std::string names;
      for (std::string_view name : known) names += (names.empty() ? "" : ", ") + std::string(name);
      Error(key.source(),
            "unknown key \"" + std::string(key.str()) + "\"" + within + " (known: " + names + ")");
    }
  }

  std::optional<std::string> Text(const toml::table& table, std::string_view key) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return std::nullopt;
    if (const auto* text = node->as_string()) {
      if (text->get().empty()) {
        Error(node->source(), std::string(key) + " must not be empty");
        return std::nullopt;
      }
      return text->get();
    }
    Error(node->source(), std::string(key) + " must be a string");
    return std::nullopt;
  }

  // No shell reads the plan, so "~" would be a folder of that name beside the plan.
  void NotHome(const toml::table& table, std::string_view key, const std::string& path) {
    if (path.front() == '~') {
      Error(table.get(key)->source(), std::string(key) + " \"" + path +
                                          "\" is taken literally, not as a home folder: write "
                                          "the full path");
    }
  }

  std::optional<int64_t> Whole(const toml::table& table, std::string_view key, int64_t least,
                               int64_t most) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return std::nullopt;
    const auto* number = node->as_integer();
    if (number == nullptr) {
      Error(node->source(), std::string(key) + " must be a whole number");
      return std::nullopt;
    }
    if (number->get() < least || number->get() > most) {
      Error(node->source(), std::string(key) + " must be from " + std::to_string(least) + " to " +
                                std::to_string(most));
      return std::nullopt;
    }
    return number->get();
  }

  void ReadRetention(const toml::table& table, Retention& retention, const std::string& within) {
    KnownKeys(table, {"keep_last", "keep_within", "min_keep", "orphans"}, within);
    const int64_t most = std::numeric_limits<int32_t>::max();
    if (auto value = Whole(table, "keep_last", 0, most)) retention.keepLast = *value;
    if (auto value = Whole(table, "min_keep", 1, most)) retention.minKeep = *value;
    if (const toml::node* node = table.get("keep_within")) {
      // "0s" is meaningful: a server's own retention turns off the default's.
      std::string problem;
      const std::optional<std::string> text = Text(table, "keep_within");
      const std::optional<int64_t> seconds = text ? ParseDuration(*text, problem) : std::nullopt;
      if (seconds) {
        retention.keepWithinSeconds = *seconds;
      } else if (text) {
        Error(node->source(), "keep_within " + problem);
      }
    }
    if (const toml::node* node = table.get("orphans")) {
      const std::optional<std::string> text = Text(table, "orphans");
      if (text == "keep") {
        retention.orphans = Orphans::kKeep;
      } else if (text == "expire") {
        retention.orphans = Orphans::kExpire;
      } else if (text == "warn") {
        retention.orphans = Orphans::kWarn;
      } else if (text) {
        Error(node->source(), "orphans must be \"keep\", \"expire\" or \"warn\"");
      }
    }
  }

  SecretSource Secret(const toml::table& table, const std::string& prefix) {
    SecretSource source;
    const std::string fileKey = prefix + "_file";
    const std::string variableKey = prefix + "_env";
    if (auto file = Text(table, fileKey)) {
      NotHome(table, fileKey, *file);
      // Taken from the plan's folder, as snapshot_root is.
      source.file = std::filesystem::path(*file).is_relative()
                        ? (std::filesystem::path(file_).parent_path() / *file).string()
                        : *file;
    }
    if (auto variable = Text(table, variableKey)) source.variable = *variable;
    const toml::node* file = table.get(fileKey);
    const toml::node* variable = table.get(variableKey);
    if (file != nullptr && variable != nullptr) {
      Error(variable->source(), "give " + fileKey + " or " + variableKey + ", not both");
    }
    if (file != nullptr) source.where = Where(file->source());
    if (variable != nullptr) source.where = Where(variable->source());
    return source;
  }

  void ReadServer(const toml::table& table, const Retention& defaults, Plan& plan) {
    ServerPlan server;
    server.where = Where(table.source());
    server.retention = defaults;
    KnownKeys(table,
              {"name", "password_file", "password_env", "user", "user_password_file",
               "user_password_env", "databases", "strict", "tasks", "retention"},
              " in [[servers]]");
    if (auto name = Text(table, "name")) {
      // The name becomes a folder under the snapshot root.
      if (name->find_first_of("/\\:") != std::string::npos || *name == "." || *name == ".." ||
          *name == ".quillet") {
        Error(table.get("name")->source(), "name cannot be a folder name: \"" + *name + "\"");
      } else {
        server.name = *name;
      }
    } else if (table.get("name") == nullptr) {
      Error(table.source(), "[[servers]] needs a name");
    }
    for (const ServerPlan& other : plan.servers) {
      if (!server.name.empty() && other.name == server.name) {
        Error(table.get("name")->source(), "server " + server.name + " is named twice");
      }
    }
    server.password = Secret(table, "password");
    if (!server.password.Given() && table.get("password") == nullptr) {
      Error(table.source(), "server " + server.name + " needs password_file or password_env");
    }
    if (auto user = Text(table, "user")) server.user = *user;
    server.userPassword = Secret(table, "user_password");
    if (const toml::node* strict = table.get("strict")) {
      if (const auto* flag = strict->as_boolean()) {
        server.strict = flag->get();
      } else {
        Error(strict->source(), "strict must be true or false");
      }
    }
    ReadDatabases(table, server);
    ReadTasks(table, server);
    if (const toml::node* node = table.get("retention")) {
      if (const auto* retention = node->as_table()) {
        ReadRetention(*retention, server.retention, " in [servers.retention]");
      } else {
        Error(node->source(), "retention must be a table");
      }
    }
    plan.servers.push_back(std::move(server));
  }

  void ReadDatabases(const toml::table& table, ServerPlan& server) {
    const toml::node* node = table.get("databases");
    if (node == nullptr) {
      Error(table.source(), "server " + server.name + " needs databases, e.g. [\"*\"]");
      return;
    }
    server.databasesWhere = Where(node->source());
    const auto* terms = node->as_array();
    if (terms == nullptr) {
      Error(node->source(), "databases must be an array of strings");
      return;
    }
    if (terms->empty()) Error(node->source(), "databases selects nothing: it is empty");
    for (const toml::node& term : *terms) {
      const auto* text = term.as_string();
      if (text == nullptr || text->get().empty() || text->get() == "!") {
        Error(term.source(),
              "each database term must be a name or glob, \"!\" before one "
              "to exclude it");
        continue;
      }
      const bool exclude = text->get().front() == '!';
      server.databases.push_back(
          {exclude ? text->get().substr(1) : text->get(), exclude, Where(term.source())});
    }
  }

  void ReadTasks(const toml::table& table, ServerPlan& server) {
    const toml::node* node = table.get("tasks");
    if (node == nullptr) {
      server.tasks = {Task::kSnapshot};
      return;
    }
    const auto* tasks = node->as_array();
    if (tasks == nullptr || tasks->empty()) {
      Error(node->source(),
            "tasks must be a non-empty array of \"snapshot\", \"update-stats\", "
            "\"release-log\"");
      return;
    }
    std::set<Task> seen;
    for (const toml::node& entry : *tasks) {
      const auto* text = entry.as_string();
      std::optional<Task> task;
      if (text != nullptr && text->get() == "snapshot") task = Task::kSnapshot;
      if (text != nullptr && text->get() == "update-stats") task = Task::kUpdateStats;
      if (text != nullptr && text->get() == "release-log") task = Task::kReleaseLog;
      if (!task) {
        Error(entry.source(),
              "unknown task; the tasks are \"snapshot\", \"update-stats\" and "
              "\"release-log\"");
      } else if (*task == Task::kReleaseLog && seen.count(Task::kSnapshot) == 0) {
        // A log released before its backup is made could not be had back if the backup fails.
        Error(entry.source(), "release-log must come after snapshot in tasks");
      } else if (!seen.insert(*task).second) {
        Error(entry.source(), std::string("task ") + TaskName(*task) + " is named twice");
      } else {
        server.tasks.push_back(*task);
      }
    }
    const bool databaseTasks = std::any_of(server.tasks.begin(), server.tasks.end(),
                                           [](Task task) { return task != Task::kSnapshot; });
    if (databaseTasks && (server.user.empty() || !server.userPassword.Given())) {
      Error(node->source(), "update-stats and release-log connect to each database: server " +
                                server.name +
                                " needs user and user_password_file or "
                                "user_password_env");
    }
  }

  Plan Read(const toml::table& table) {
    Plan plan;
    plan.file = file_;
    KnownKeys(table, {"snapshot_root", "jobs", "retention", "servers"}, "");
    if (auto root = Text(table, "snapshot_root")) {
      plan.rootWhere = Where(table.get("snapshot_root")->source());
      NotHome(table, "snapshot_root", *root);
      plan.root = *root;
      if (plan.root.is_relative()) {
        plan.root = std::filesystem::absolute(std::filesystem::path(file_).parent_path() / *root);
      }
    } else if (table.get("snapshot_root") == nullptr) {
      errors_.push_back(file_ + ":1:1: the plan needs snapshot_root");
    }
    if (auto jobs = Whole(table, "jobs", 1, kMostJobs)) plan.jobs = static_cast<int>(*jobs);
    Retention defaults;
    if (const toml::node* node = table.get("retention")) {
      if (const auto* retention = node->as_table()) {
        ReadRetention(*retention, defaults, " in [retention]");
      } else {
        Error(node->source(), "retention must be a table");
      }
    }
    const toml::node* servers = table.get("servers");
    const auto* list = servers != nullptr ? servers->as_array() : nullptr;
    if (servers != nullptr && (list == nullptr || !list->is_array_of_tables())) {
      Error(servers->source(), "servers must be written as [[servers]] tables");
    } else if (list == nullptr || list->empty()) {
      errors_.push_back(file_ + ":1:1: the plan names no server: add a [[servers]] table");
    } else {
      for (const toml::node& server : *list) ReadServer(*server.as_table(), defaults, plan);
    }
    return plan;
  }

  std::vector<std::string>& errors() { return errors_; }

 private:
  std::string file_;
  std::vector<std::string> errors_;
};

}  // namespace

const char* TaskName(Task task) {
  switch (task) {
    case Task::kSnapshot:
      return "snapshot";
    case Task::kUpdateStats:
      return "update-stats";
    case Task::kReleaseLog:
      return "release-log";
  }
  return "";
}

const char* OrphansName(Orphans orphans) {
  switch (orphans) {
    case Orphans::kKeep:
      return "keep";
    case Orphans::kExpire:
      return "expire";
    case Orphans::kWarn:
      return "warn";
  }
  return "";
}

PlanOutcome ParsePlan(const std::string& file, const std::string& text) {
  PlanOutcome outcome;
  Reader reader(file);
  try {
    const toml::table table = toml::parse(text, file);
    Plan plan = reader.Read(table);
    outcome.errors = std::move(reader.errors());
    if (outcome.errors.empty()) outcome.plan = std::move(plan);
  } catch (const toml::parse_error& failure) {
    outcome.errors.push_back(reader.Where(failure.source()) + ": " +
                             std::string(failure.description()));
  }
  return outcome;
}

std::optional<std::string> ReadSecret(const SecretSource& source,
                                      const std::function<const char*(const char*)>& environment,
                                      std::string& error) {
  if (!source.file.empty()) {
    PasswordOutcome read = ReadPasswordFile(source.file);
    if (!read.password) error = source.where + ": " + read.error;
    return read.password;
  }
  const char* value = environment(source.variable.c_str());
  if (value == nullptr) {
    error = source.where + ": the environment variable " + source.variable + " is not set";
    return std::nullopt;
  }
  return std::string(value);
}

}  // namespace quillet::cli::plan
