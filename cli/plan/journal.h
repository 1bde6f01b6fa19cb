// The journal of a run: ROOT/.quillet/runs/RUN-ID.jsonl, one JSON object per line for every
// call and every deletion, each line written out before the work goes on, so that a killed
// run's journal ends where it stopped.
#ifndef QUILLET_CLI_PLAN_JOURNAL_H
#define QUILLET_CLI_PLAN_JOURNAL_H

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli::plan {

std::filesystem::path RunsFolder(const std::filesystem::path& root);

class Journal {
 public:
  // Opens RUN-ID.jsonl for appending; error says why it could not.
  Journal(const std::filesystem::path& root, const std::string& run, std::string& error);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Adds "run" and writes the line; safe from several threads. After a line that could not be
  // written nothing more is: a journal with a hole in it would read as a whole record.
  void Write(nlohmann::json entry);
  // Why a line could not be written, naming the file; empty while every line was.
  std::string Problem();

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::string run_;
  std::string path_;
  std::string problem_;
};

// ROOT/.quillet and its runs/ are this user's alone, or nothing in them is read: a journal
// there could be anyone's. Empty, or why not.
std::string JournalFolderProblem(const std::filesystem::path& root);
// The runs in the journal folder, oldest first by id.
std::vector<std::string> RunIds(const std::filesystem::path& root);
// Its lines; a last line that a kill cut short is left out. nullopt with why, when there is
// no such journal or it is not this user's file.
std::optional<std::vector<nlohmann::json>> ReadJournal(const std::filesystem::path& root,
                                                       const std::string& run,
                                                       std::string& problem);

// ROOT/.quillet/last-run names the run that began last, written by the run while it holds
// the lock: run ids are UTC times, and after the clock is set back the newest would not be
// the highest. Empty, or why it could not be written; then the earlier record is gone too, so
// that the newest journal, this run's, counts rather than the run before.
std::string WriteLastRun(const std::filesystem::path& root, const std::string& run);
// The run last-run names, or the highest id when there is no last-run; empty when no run is
// known, with problem set when last-run or the journal folders cannot be trusted.
std::string LastRun(const std::filesystem::path& root, std::string& problem);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_JOURNAL_H
