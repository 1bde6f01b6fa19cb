// The line that shows a running job's progress on a terminal, a few times a second, from a
// thread of its own: the time so far, and what can be seen of the job's work from outside the
// library (the growing export file, the snapshot directories as they are written).
#ifndef QUILLET_CLI_PROGRESS_H
#define QUILLET_CLI_PROGRESS_H

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>

#include "subcommand.h"

namespace quillet::cli {

class ProgressDisplay {
 public:
  // name: the subcommand's, first on the line. folder: for kSnapshots, the ROOT.
  ProgressDisplay(std::ostream& err, std::string name, Progress kind, std::string folder);
  // Stops the thread and clears the line.
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // The file whose size is the export's progress; empty to stop watching it.
  void WatchFile(const std::string& path);
  // Writes the line above the progress line, between two updates of it.
  void Say(const std::string& line);

 private:
  void Run();
  void Show(double seconds);
  // The lines for the snapshot directories written since the last call.
  std::string NewDirectories();

  std::ostream& err_;
  const std::string name_;
  const Progress kind_;
  const std::string folder_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::string watched_;
  // The snapshot directories found before the job, with their times, and those shown since.
  std::map<std::string, std::filesystem::file_time_type> before_;
  std::set<std::string> shown_;
  bool lineShown_ = false;
  std::thread thread_;
};

// "1.5 MB" and the like, for sizes and rates.
std::string HumanBytes(double bytes);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_PROGRESS_H
