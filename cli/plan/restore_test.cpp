#include "restore_test.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string_view>

#include "database_file_check.h"
#include "durable.h"
#include "hash.h"
#include "process_ended.h"
#include "snapshot_restore.h"

namespace quillet::cli::plan {
namespace {

constexpr std::string_view kCopyFolderPrefix = "restore-test-";

std::filesystem::path RestoreTestsFile(const std::filesystem::path& root) {
  return root / kStateFolder / "restore-tests.jsonl";
}

// Copies the file into the empty private folder and checks the copy; empty, or why no test
// could be made.
std::string CheckCopy(const std::filesystem::path& from, const std::filesystem::path& folder,
                      const ManifestFile& file, RestoreTest& test) {
  std::string problem = MakePrivateFolder(folder);
  if (!problem.empty()) return problem;
  const std::filesystem::path copy = folder / file.name;
  std::error_code error;
  if (!std::filesystem::copy_file(from, copy, error)) {
    return "cannot copy " + from.string() + " to " + copy.string() + ": " + error.message();
  }
  // The bytes tested are the bytes the manifest vouches for, even if the file changed since.
  const std::optional<FileHash> hash = HashFile(copy, problem);
  if (!hash) return problem;
  test.done = true;
  if (hash->sha256 != file.sha256) {
    test.text = file.name + ": it changed since it was read against the manifest";
    return "";
  }
  // What restore would refuse fails the test, whatever SQLite thinks of its pages.
  std::string refused = BackupFileProblem(copy.string());
  // Named as the generation's file: the copy is gone when this is read.
  if (const std::size_t at = refused.find(copy.string()); at != std::string::npos) {
    refused.replace(at, copy.string().size(), from.string());
  }
  const std::string found =
      refused.empty() ? CheckDatabaseFile(copy.string(), true, PageReads::kMapped) : "";
  test.ok = refused.empty() && found.empty();
  test.text = test.ok ? "ok"
              : !refused.empty()
                  ? "restore would refuse it: " + refused
                  : file.name + " is damaged (SQLite's integrity check: " + found + ")";
  return "";
}

}  // namespace

RestoreTest TestRestore(const std::filesystem::path& root, const std::string& database,
                        const Generation& generation, const Manifest& manifest) {
  RestoreTest test;
  test.time = IsoTime(Clock::now());
  const std::string name = database + ".db";
  const auto file = std::find_if(manifest.files.begin(), manifest.files.end(),
                                 [&name](const ManifestFile& f) { return f.name == name; });
  if (file == manifest.files.end()) {
    test.done = true;
    test.text = "it holds no " + name + ", so there is no database to open";
    return test;
  }
  if (!CanCheckDatabaseFiles()) {
    test.text = CheckDatabaseFile(name, true, PageReads::kCopied);
    return test;
  }
  // The state folder is checked first: nothing is removed through another user's folder.
  std::string problem = MakePrivateFolder(root / kStateFolder);
  const std::filesystem::path folder =
      root / kStateFolder / (std::string(kCopyFolderPrefix) + std::to_string(ProcessId()));
  std::error_code error;
  if (problem.empty()) {
    // A killed test's, of a process that had this one's id.
    std::filesystem::remove_all(folder, error);
    problem = CheckCopy(generation.path / name, folder, *file, test);
    std::filesystem::remove_all(folder, error);
  }
  if (!problem.empty()) test.text = problem;
  if (error)
    test.text += "; the copy in " + folder.string() + " was not removed: " + error.message();
  return test;
}

std::vector<std::string> RemoveEndedRestoreTests(const std::filesystem::path& root) {
  std::vector<std::string> said;
  const std::filesystem::path state = root / kStateFolder;
  std::error_code error;
  if (!CheckPrivateFolder(state).empty()) return said;
  for (const auto& entry : std::filesystem::directory_iterator(state, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kCopyFolderPrefix, 0) != 0) continue;
    const std::string digits = name.substr(kCopyFolderPrefix.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const long process = std::stol(digits);
    if (process == ProcessId() || !ProcessEnded(process)) continue;
    std::string problem = CheckPrivateFolder(entry.path());
    std::error_code removed;
    if (problem.empty() && !entry.is_symlink(removed) && entry.is_directory(removed)) {
      std::filesystem::remove_all(entry.path(), removed);
      if (removed) problem = removed.message();
    } else if (problem.empty()) {
      problem = "it is not a folder";
    }
    said.push_back(
        entry.path().string() + ", the copy of a restore test of process " + digits +
        ", which has ended: " + (problem.empty() ? "removed" : "not removed: " + problem));
  }
  return said;
}

std::string RecordRestoreTest(const std::filesystem::path& root, const std::string& server,
                              const std::string& database, const std::string& generation,
                              const RestoreTest& test) {
  const std::string problem = MakePrivateFolder(root / kStateFolder);
  if (!problem.empty()) return problem;
  const nlohmann::json line = {
      {"server", server},  {"database", database}, {"generation", generation},
      {"time", test.time}, {"ok", test.ok},        {"text", test.text}};
  return AppendPrivately(
      RestoreTestsFile(root),
      line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

std::map<GenerationKey, RestoreTest> LastRestoreTests(const std::filesystem::path& root) {
  std::map<GenerationKey, RestoreTest> last;
  std::ifstream in(RestoreTestsFile(root), std::ios::binary);
  for (std::string text; std::getline(in, text);) {
    const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
    if (!line.is_object()) continue;
    try {
      RestoreTest test{true, line.at("ok").get<bool>(), line.at("time").get<std::string>(),
                       line.value("text", "")};
      last[{line.at("server").get<std::string>(), line.at("database").get<std::string>(),
            line.at("generation").get<std::string>()}] = std::move(test);
    } catch (const nlohmann::json::exception&) {
      // A line cut short by a kill, or not one of ours: the others still count.
    }
  }
  return last;
}

}  // namespace quillet::cli::plan
