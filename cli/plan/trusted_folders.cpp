#include "trusted_folders.h"

#include "durable.h"
#include "standin_admin_api.h"

namespace quillet::cli::plan {
namespace {

// The path as the system resolves it, as far as it is there.
std::filesystem::path Resolved(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  if (error) resolved = std::filesystem::absolute(path, error).lexically_normal();
  return resolved;
}

bool Within(const std::filesystem::path& inner, const std::filesystem::path& outer) {
  const std::filesystem::path relative = inner.lexically_relative(outer);
  return !relative.empty() && *relative.begin() != "..";
}

// The deepest folder of the path that is there.
std::filesystem::path ExistingPart(std::filesystem::path path) {
  std::error_code error;
  while (path.has_relative_path() && !std::filesystem::is_directory(path, error)) {
    path = path.parent_path();
  }
  return path;
}

}  // namespace

std::string SharedRootProblem(Plan& plan) {
  std::filesystem::path resolved;
  const std::string problem = ResolveTrustedPath(plan.root, resolved);
  if (problem.empty()) {
    plan.root = resolved;
    return "";
  }
  const std::string given = plan.root.string();
  // The root's own problem names it; one on the way to it is named after it.
  if (problem.compare(0, given.size() + 1, given + " ") == 0) {
    return plan.rootWhere + ": snapshot_root " + problem;
  }
  return plan.rootWhere + ": snapshot_root " + given + ": " + problem;
}

std::string ReadTrustedPlanFile(const std::filesystem::path& file, std::string& text) {
  std::filesystem::path resolved;
  std::string problem = ResolveTrustedPath(file, resolved);
  bool untrusted = !problem.empty();
  if (problem.empty()) problem = ReadSharedFile(resolved, text, untrusted);
  if (problem.empty()) return "";
  if (!untrusted) return problem;
  return file.string() + ": " + problem +
         "; the plan decides what a run deletes and which passwords it reads, so it must be "
         "a file of yours or the system's that only its owner may change";
}

std::string StandinRootProblem(const Plan& plan) {
  const StandinAdminApi* standin = FindStandinAdminApi();
  if (standin == nullptr || standin->root() == nullptr) return "";
  const std::filesystem::path servers = Resolved(standin->root());
  if (!Within(Resolved(plan.root), servers) &&
      !InStandinServerFolder(ExistingPart(plan.root).string())) {
    return "";
  }
  return plan.rootWhere + ": snapshot_root " + plan.root.string() +
         " lies in the stand-in's folder of servers " + servers.string() +
         ", among their catalogues and databases: put the generations elsewhere";
}

std::string DatabaseFolderProblem(const std::filesystem::path& root, const std::string& server,
                                  const std::string& database) {
  std::string problem = CheckPrivateFolder(root / server);
  if (problem.empty() && !database.empty()) {
    problem = CheckPrivateFolder(DatabaseFolder(root, server, database));
  }
  return problem;
}

TrustedGenerations ListTrustedGenerations(const std::filesystem::path& root,
                                          const std::string& server, const std::string& database) {
  TrustedGenerations found;
  const std::string problem = DatabaseFolderProblem(root, server, database);
  if (!problem.empty()) {
    found.refused.push_back(problem);
    return found;
  }
  for (Generation& generation : ListGenerations(DatabaseFolder(root, server, database))) {
    if (generation.refused.empty()) {
      found.generations.push_back(std::move(generation));
    } else {
      found.refused.push_back(generation.refused);
    }
  }
  return found;
}

}  // namespace quillet::cli::plan
