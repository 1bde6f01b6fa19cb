#include "journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "durable.h"
#include "generation.h"

namespace quillet::cli::plan {

std::filesystem::path RunsFolder(const std::filesystem::path& root) {
  return root / kStateFolder / "runs";
}

Journal::Journal(const std::filesystem::path& root, const std::string& run, std::string& error)
    : run_(run) {
  const std::filesystem::path folder = RunsFolder(root);
  error = MakePrivateFolder(folder);
  if (!error.empty()) return;
  path_ = (folder / (run + ".jsonl")).string();
  file_ = std::fopen(path_.c_str(), "a+b");
  if (file_ == nullptr) {
    error = "cannot write the journal " + path_;
    return;
  }
  // A journal taken up again may end in a line a killed run cut off: the next line starts on
  // its own, or it would be lost with that one.
  const bool torn = std::fseek(file_, -1, SEEK_END) == 0 && std::fgetc(file_) != '\n';
  // A write may follow a read only after a seek.
  (void)std::fseek(file_, 0, SEEK_END);
  if (torn) (void)std::fputc('\n', file_);
}

Journal::~Journal() {
  if (file_ != nullptr) (void)std::fclose(file_);
}

void Journal::Write(nlohmann::json entry) {
  entry["run"] = run_;
  const std::string line =
      entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  const std::lock_guard<std::mutex> hold(mutex_);
  if (file_ == nullptr || !problem_.empty()) return;
  errno = 0;
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
    problem_ = "cannot write the journal " + path_ + ": " +
               (errno != 0 ? std::strerror(errno) : "a write failed") +
               "; this run's record is incomplete";
  }
}

std::string Journal::Problem() {
  const std::lock_guard<std::mutex> hold(mutex_);
  return problem_;
}

namespace {

std::filesystem::path LastRunPath(const std::filesystem::path& root) {
  return root / kStateFolder / "last-run";
}

}  // namespace

std::string JournalFolderProblem(const std::filesystem::path& root) {
  std::string problem = CheckPrivateFolder(root / kStateFolder);
  if (problem.empty()) problem = CheckPrivateFolder(RunsFolder(root));
  return problem;
}

std::vector<std::string> RunIds(const std::filesystem::path& root) {
  std::vector<std::string> runs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(RunsFolder(root), error)) {
    if (entry.path().extension() == ".jsonl") runs.push_back(entry.path().stem().string());
  }
  // TIME-PID: by time, then by process number as a number (10001 began after 9972).
  const auto order = [](const std::string& a, const std::string& b) {
    const std::size_t dashA = a.find('-');
    const std::size_t dashB = b.find('-');
    const int byTime = a.compare(0, dashA, b, 0, dashB);
    if (byTime != 0) return byTime < 0;
    const std::size_t lengthA = dashA == std::string::npos ? 0 : a.size() - dashA;
    const std::size_t lengthB = dashB == std::string::npos ? 0 : b.size() - dashB;
    return lengthA != lengthB ? lengthA < lengthB : a < b;
  };
  std::sort(runs.begin(), runs.end(), order);
  return runs;
}

std::optional<std::vector<nlohmann::json>> ReadJournal(const std::filesystem::path& root,
                                                       const std::string& run,
                                                       std::string& problem) {
  const std::filesystem::path path = RunsFolder(root) / (run + ".jsonl");
  problem = JournalFolderProblem(root);
  if (problem.empty()) problem = CheckPrivateFile(path);
  if (!problem.empty()) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = "no run " + run + " in " + RunsFolder(root).string();
    return std::nullopt;
  }
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) {
    nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_discarded() && entry.is_object()) lines.push_back(std::move(entry));
  }
  return lines;
}

std::string WriteLastRun(const std::filesystem::path& root, const std::string& run) {
  const std::filesystem::path path = LastRunPath(root);
  // One name will do: runs hold the lock while they write it.
  const std::filesystem::path draft = path.string() + ".new";
  std::string problem;
  {
    std::ofstream out(draft, std::ios::binary | std::ios::trunc);
    out << run << "\n";
    if (!out.flush()) problem = "cannot write " + draft.string();
  }
  if (problem.empty() && !SyncFile(draft)) problem = "cannot sync " + draft.string();
  if (problem.empty()) problem = RenameDurably(draft, path);
  if (problem.empty() && !SyncFolder(path.parent_path())) {
    problem = "cannot sync the folder " + path.parent_path().string();
  }
  if (!problem.empty()) {
    // Naming the run before as the last one would be worse than naming none: without the
    // record the newest journal counts, which is this run's.
    std::error_code ignored;
    std::filesystem::remove(draft, ignored);
    if (std::filesystem::remove(path, ignored) || !std::filesystem::exists(path, ignored)) {
      problem += "; the newest journal counts as the last run's";
    }
  }
  return problem;
}

std::string LastRun(const std::filesystem::path& root, std::string& problem) {
  problem = JournalFolderProblem(root);
  if (!problem.empty()) return "";
  const std::filesystem::path path = LastRunPath(root);
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
    const std::vector<std::string> runs = RunIds(root);
    return runs.empty() ? "" : runs.back();
  }
  problem = CheckPrivateFile(path);
  if (!problem.empty()) return "";
  std::ifstream in(path, std::ios::binary);
  std::string run;
  std::getline(in, run);
  if (!SafeFolderName(run)) {
    problem = path.string() + " does not name a run";
    return "";
  }
  return run;
}

}  // namespace quillet::cli::plan
