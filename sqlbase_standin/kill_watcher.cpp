#include "kill_watcher.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "cursor.h"

namespace standin {
namespace {

constexpr std::chrono::milliseconds kLookEvery{100};

struct Watcher {
  std::mutex mutex;
  std::condition_variable wake;
  std::set<Cursor*> cursors;
  std::thread thread;
  bool running = false;
};

// Never destroyed: the thread may still run while the process exits.
Watcher* watcher = nullptr;
std::once_flag made;

void Watch() {
  Watcher& self = *watcher;
  std::unique_lock<std::mutex> lock(self.mutex);
  while (!self.cursors.empty()) {
    for (Cursor* cursor : self.cursors) {
      // A connection in a call finds out at its next call, or at the next look.
      if (cursor->CallMutex().try_lock()) {
        cursor->CheckAlive();
        cursor->CallMutex().unlock();
      }
    }
    self.wake.wait_for(lock, kLookEvery);
  }
  self.running = false;
}

Watcher& TheWatcher() {
  std::call_once(made, [] {
    watcher = new Watcher;
    // A forked child has no watcher thread, and the mutex may have been held at the fork.
    pthread_atfork(nullptr, nullptr, [] { watcher = new Watcher; });
  });
  return *watcher;
}

}  // namespace

void WatchForKill(Cursor* cursor) {
  Watcher& self = TheWatcher();
  std::lock_guard<std::mutex> lock(self.mutex);
  self.cursors.insert(cursor);
  if (self.running) return;
  // The thread of an earlier round has ended or is about to: it only returns from here on.
  if (self.thread.joinable()) self.thread.join();
  self.running = true;
  self.thread = std::thread(Watch);
}

void StopWatching(Cursor* cursor) {
  Watcher& self = TheWatcher();
  std::lock_guard<std::mutex> lock(self.mutex);
  self.cursors.erase(cursor);
}

}  // namespace standin
