#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "lock.h"

namespace quillet::cli::plan {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);

std::string ReadAll(int file) {
  std::string text;
  char buffer[512];
  off_t at = 0;
  for (ssize_t got; (got = pread(file, buffer, sizeof buffer, at)) > 0; at += got) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

struct RunLock::Handle {
  int file = -1;
};

RunLock::RunLock(const std::string& path, int64_t waitSeconds, const std::string& holder)
    : handle_(std::make_unique<Handle>()) {
  handle_->file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (handle_->file < 0) {
    text_ = "cannot open the lock " + path + ": " + std::strerror(errno);
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  while (flock(handle_->file, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      text_ = "cannot lock " + path + ": " + std::strerror(errno);
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      text_ = ReadAll(handle_->file);
      state_ = State::kHeld;
      close(handle_->file);
      handle_->file = -1;
      return;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  text_ = ReadAll(handle_->file);
  state_ = State::kTaken;
  if (ftruncate(handle_->file, 0) != 0 || pwrite(handle_->file, holder.data(), holder.size(), 0) !=
                                              static_cast<ssize_t>(holder.size())) {
    // The lock holds all the same; only the words for a second run are missing.
  }
  (void)fsync(handle_->file);
}

RunLock::~RunLock() {
  if (handle_ == nullptr || handle_->file < 0) return;
  if (state_ == State::kTaken) (void)!ftruncate(handle_->file, 0);
  close(handle_->file);
}

}  // namespace quillet::cli::plan
