// One run at a time per snapshot root: ROOT/.quillet/lock, holding the process, host and start
// time of the run that holds it. flock on Linux, LockFileEx on Windows: the system lets go
// when the holder ends however it ends, so a lock whose process has ended is simply taken.
#ifndef QUILLET_CLI_PLAN_LOCK_H
#define QUILLET_CLI_PLAN_LOCK_H

#include <cstdint>
#include <memory>
#include <string>

namespace quillet::cli::plan {

class RunLock {
 public:
  enum class State { kTaken, kHeld, kFailed };

  // waitSeconds: how long to wait for another run to let go; 0 to give up at once. holder:
  // what the file is to say while this run holds it.
  RunLock(const std::string& path, int64_t waitSeconds, const std::string& holder);
  // Empties the file and lets go.
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  State state() const { return state_; }
  // kHeld: what the holder's file says. kTaken: what a holder that ended without letting go
  // left in it (empty after a clean run). kFailed: why.
  const std::string& text() const { return text_; }

 private:
  State state_ = State::kFailed;
  std::string text_;
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_LOCK_H
