// The liveness of many connection owners at once, for the cost of one system call: a speed-up
// of the registry's reads, which would otherwise look at /proc for every owner every time.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "process_identity.h"

namespace standin {
namespace {

using Key = std::pair<int64_t, int64_t>;

// A process found alive, watched through a descriptor that becomes readable when it ends
// (a zombie included): its number may be reused afterwards, its descriptor never is.
struct Watch {
  int descriptor;
  uint64_t wanted;  // the last call that asked about it
  // What the descriptor was when opened: a host that closes a descriptor it does not own may
  // find the number reused by its next file, which would read as a process that ended.
  dev_t device;
  ino_t inode;
};

// Whether the descriptor is still the one opened for the watch; only then may it be closed, and
// its readiness taken for the process's end.
bool StillOurs(const Watch& watch) {
  struct stat info {};
  return fstat(watch.descriptor, &info) == 0 && info.st_dev == watch.device &&
         info.st_ino == watch.inode;
}

// Forgets a watch, closing its descriptor only while it is still ours.
void CloseWatch(const Watch& watch) {
  if (StillOurs(watch)) close(watch.descriptor);
}

// More than one server has connections, but never more than a quarter of the descriptors the
// host may open: the host's own files come first.
std::size_t MaxWatches() {
  constexpr std::size_t kMost = 1024;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMost;
  return std::min<std::size_t>(kMost, limit.rlim_cur / 4);
}

std::mutex watchMutex;
std::map<Key, Watch> watches;
uint64_t calls = 0;

// A child forked while another thread held the mutex would never get it.
void LockWatches() { watchMutex.lock(); }
void UnlockWatches() { watchMutex.unlock(); }

constexpr int kDead = -1;
constexpr int kUnwatchable = -2;

int OpenProcessDescriptor(int64_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

bool Ended(int descriptor) {
  pollfd ended{descriptor, POLLIN, 0};
  int ready;
  do {
    ready = poll(&ended, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

// A descriptor for a live process of this identity, kDead, or kUnwatchable where the system
// offers no process descriptors or no /proc (IsAlive then answers each time).
int StartWatching(const ProcessIdentity& process) {
  const int descriptor = OpenProcessDescriptor(process.pid);
  if (descriptor < 0) return errno == ESRCH ? kDead : kUnwatchable;
  const ProcessStatus status = StatusOf(process.pid);
  int verdict = descriptor;
  if (!status.exists) {
    verdict = kUnwatchable;
  } else if (status.zombie || (process.started != 0 && status.started != process.started) ||
             // Taken before the status was read and still running after it: the status was its
             // own.
             Ended(descriptor)) {
    verdict = kDead;
  }
  if (verdict != descriptor) close(descriptor);
  return verdict;
}

// Makes room by forgetting the processes this call did not ask about.
void ForgetUnwanted() {
  for (auto watch = watches.begin(); watch != watches.end();) {
    if (watch->second.wanted == calls) {
      ++watch;
    } else {
      CloseWatch(watch->second);
      watch = watches.erase(watch);
    }
  }
}

}  // namespace

std::vector<bool> AreAlive(const std::vector<ProcessIdentity>& processes) {
  static std::once_flag forkSafe;
  std::call_once(forkSafe, [] { pthread_atfork(LockWatches, UnlockWatches, UnlockWatches); });
  const ProcessIdentity self = ThisProcess();
  std::lock_guard<std::mutex> lock(watchMutex);
  const std::size_t maxWatches = MaxWatches();
  ++calls;
  std::map<Key, bool> verdicts;
  std::vector<pollfd> polled;
  std::vector<Key> polledKeys;
  for (const ProcessIdentity& process : processes) {
    const Key key{process.pid, process.started};
    if (verdicts.count(key) != 0) continue;
    if (process.pid <= 0) {
      verdicts[key] = false;
      continue;
    }
    if (process.pid == self.pid && (process.started == 0 || process.started == self.started)) {
      verdicts[key] = true;
      continue;
    }
    auto watch = watches.find(key);
    if (watch == watches.end()) {
      const int descriptor = StartWatching(process);
      if (descriptor == kDead || descriptor == kUnwatchable) {
        verdicts[key] = descriptor == kUnwatchable && IsAlive(process);
        continue;
      }
      if (watches.size() >= maxWatches) ForgetUnwanted();
      if (watches.size() >= maxWatches) {
        // Found alive just now; only not remembered.
        close(descriptor);
        verdicts[key] = true;
        continue;
      }
      struct stat info {};
      if (fstat(descriptor, &info) != 0) {
        close(descriptor);
        verdicts[key] = IsAlive(process);
        continue;
      }
      watch = watches.emplace(key, Watch{descriptor, calls, info.st_dev, info.st_ino}).first;
    }
    watch->second.wanted = calls;
    verdicts[key] = true;
    polled.push_back({watch->second.descriptor, POLLIN, 0});
    polledKeys.push_back(key);
  }
  int ready;
  do {
    ready = polled.empty() ? 0 : poll(polled.data(), polled.size(), 0);
  } while (ready < 0 && errno == EINTR);
  for (std::size_t i = 0; i < polled.size(); ++i) {
    const ProcessIdentity process{polledKeys[i].first, polledKeys[i].second};
    const bool ended = ready < 0 ? !IsAlive(process) : polled[i].revents != 0;
    if (!ended) continue;
    // An end is rare and worth one look at /proc: a descriptor that a host closed and whose
    // number went to another file of its own may read as ended too (where process descriptors
    // share their inode with other such files, even one that seems ours). Without a start time
    // to compare, the descriptor's word stands.
    const Watch& watch = watches.at(polledKeys[i]);
    const bool ours = StillOurs(watch);
    const bool alive = ours && process.started == 0 ? false : IsAlive(process);
    verdicts[polledKeys[i]] = alive;
    // Forgotten either way; one that lives is watched afresh when next asked about.
    if (ours) close(watch.descriptor);
    watches.erase(polledKeys[i]);
  }
  std::vector<bool> alive;
  alive.reserve(processes.size());
  for (const ProcessIdentity& process : processes) {
    alive.push_back(verdicts[{process.pid, process.started}]);
  }
  return alive;
}

}  // namespace standin
