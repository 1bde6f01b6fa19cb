#include <windows.h>

#include <chrono>
#include <thread>

#include "lock.h"

namespace quillet::cli::plan {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);
// The byte that is locked lies beyond the text, so that a second run can still read who holds
// it.
constexpr DWORD kLockedOffset = 0x7FFFFFFF;

std::string ReadAll(HANDLE file) {
  std::string text;
  char buffer[512];
  OVERLAPPED at{};
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, &at) && got > 0) {
    text.append(buffer, got);
    at.Offset += got;
  }
  return text;
}

}  // namespace

struct RunLock::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
};

RunLock::RunLock(const std::string& path, int64_t waitSeconds, const std::string& holder)
    : handle_(std::make_unique<Handle>()) {
  handle_->file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_->file == INVALID_HANDLE_VALUE) {
    text_ =
        "cannot open the lock " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  for (;;) {
    OVERLAPPED region{};
    region.Offset = kLockedOffset;
    if (LockFileEx(handle_->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &region)) {
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      text_ = ReadAll(handle_->file);
      state_ = State::kHeld;
      CloseHandle(handle_->file);
      handle_->file = INVALID_HANDLE_VALUE;
      return;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  text_ = ReadAll(handle_->file);
  state_ = State::kTaken;
  SetFilePointer(handle_->file, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(handle_->file);
  DWORD written = 0;
  (void)WriteFile(handle_->file, holder.data(), static_cast<DWORD>(holder.size()), &written,
                  nullptr);
  FlushFileBuffers(handle_->file);
}

RunLock::~RunLock() {
  if (handle_ == nullptr || handle_->file == INVALID_HANDLE_VALUE) return;
  if (state_ == State::kTaken) {
    SetFilePointer(handle_->file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(handle_->file);
  }
  CloseHandle(handle_->file);
}

}  // namespace quillet::cli::plan
