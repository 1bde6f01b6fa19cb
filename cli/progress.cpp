#include "progress.h"

#include <cstdio>
#include <filesystem>

namespace quillet::cli {
namespace {

// At most four updates a second: enough to see it move, little enough to cost nothing.
constexpr std::chrono::milliseconds kInterval(250);

// Returns the carriage to the line's start and erases it.
constexpr const char* kClearLine = "\r\033[K";

std::string Seconds(double seconds) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

}  // namespace

std::string HumanBytes(double bytes) {
  const char* const units[] = {"bytes", "kB", "MB", "GB", "TB"};
  std::size_t unit = 0;
  while (bytes >= 1000.0 && unit + 1 < sizeof units / sizeof units[0]) {
    bytes /= 1000.0;
    ++unit;
  }
  char text[32];
  (void)std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

ProgressDisplay::ProgressDisplay(std::ostream& err, std::string name, Progress kind,
                                 std::string folder)
    : err_(err),
      name_(std::move(name)),
      kind_(kind),
      folder_(std::move(folder)),
      start_(std::chrono::steady_clock::now()) {
  if (kind_ == Progress::kSnapshots) {
    // Directories already there before the job are shown only once it has written them.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ignored)) {
      before_[entry.path().filename().string()] = entry.last_write_time(ignored);
    }
  }
  thread_ = std::thread([this] { Run(); });
}

ProgressDisplay::~ProgressDisplay() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  thread_.join();
  // The directories written since the last update still get their line.
  const std::string last = NewDirectories();
  if (lineShown_) err_ << kClearLine;
  err_ << last << std::flush;
}

void ProgressDisplay::WatchFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  watched_ = path;
}

void ProgressDisplay::Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lineShown_) err_ << kClearLine;
  err_ << line << std::flush;
  lineShown_ = false;
}

void ProgressDisplay::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_.wait_for(lock, kInterval, [this] { return stopping_; })) {
    Show(std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
  }
}

std::string ProgressDisplay::NewDirectories() {
  std::string lines;
  if (kind_ != Progress::kSnapshots) return lines;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ignored)) {
    if (!entry.is_directory(ignored)) continue;
    const std::string name = entry.path().filename().string();
    if (shown_.count(name) != 0) continue;
    const auto found = before_.find(name);
    if (found != before_.end() && found->second == entry.last_write_time(ignored)) continue;
    lines += "  " + (std::filesystem::path(folder_) / name).string() + "\n";
    shown_.insert(name);
  }
  return lines;
}

void ProgressDisplay::Show(double seconds) {
  std::string line = name_ + ": " + Seconds(seconds);
  if (kind_ == Progress::kExport && !watched_.empty()) {
    std::error_code failed;
    const auto bytes = std::filesystem::file_size(watched_, failed);
    if (!failed) {
      line += ", " + HumanBytes(static_cast<double>(bytes)) + " written, " +
              HumanBytes(seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0) + "/s";
    }
  }
  const std::string above = NewDirectories();
  err_ << kClearLine << above << line << std::flush;
  lineShown_ = true;
}

}  // namespace quillet::cli
