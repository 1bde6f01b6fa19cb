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

// The runs in the journal folder, oldest first.
std::vector<std::string> RunIds(const std::filesystem::path& root);
// Its lines; a last line that a kill cut short is left out.
std::optional<std::vector<nlohmann::json>> ReadJournal(const std::filesystem::path& root,
                                                       const std::string& run);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_JOURNAL_H
