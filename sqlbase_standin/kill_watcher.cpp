#include "kill_watcher.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "catalogue.h"
#include "standin_admin.h"

namespace standin {
namespace {

constexpr std::chrono::milliseconds kLookEvery{100};

struct Watched {
  sqlite3* db;
  std::mutex* calls;
  std::atomic<bool>* ended;
  std::string server;
  int64_t id;
  uint64_t seenSignals;
  bool released;
};

struct Watcher {
  std::mutex mutex;
  std::condition_variable wake;
  std::map<const void*, Watched> watched;
  // The watcher's own catalogue connections, one per server, so that it never shares one
  // with a client thread.
  std::map<std::string, std::unique_ptr<Catalogue>> catalogues;
  std::thread thread;
  bool running = false;
  // Set by the thread once it runs: until then it may be inside thread start-up.
  bool started = false;
  std::condition_variable startedOrEnded;
};

// Never destroyed: the thread may still run while the process exits.
Watcher* watcher = nullptr;
std::once_flag made;

Catalogue* CatalogueOf(Watcher& self, const std::string& server) {
  std::unique_ptr<Catalogue>& catalogue = self.catalogues[server];
  if (catalogue == nullptr) {
    catalogue = std::make_unique<Catalogue>();
    if (catalogue->Open(server) != 0) {
      catalogue.reset();
      return nullptr;
    }
  }
  return catalogue.get();
}

// Ends the connection's transaction, and with it any database lock, between two of its calls.
// While a call runs, whatever it runs is interrupted instead and the rollback waits for the
// next look: the watcher never waits for a connection, which may be waiting for the watcher
// to let it go. A busy client needs none of this anyway: its next call finds the kill and
// closes the connection. False when it has to be tried again.
bool RollBack(const Watched& connection, uint64_t* commits) {
  if (!connection.calls->try_lock()) {
    sqlite3_interrupt(connection.db);
    return false;
  }
  // Statements go back to their start first: an interrupt aimed at one of them is forgotten
  // only once none runs, and the rollback must not meet it.
  for (sqlite3_stmt* statement = nullptr;
       (statement = sqlite3_next_stmt(connection.db, statement)) != nullptr;) {
    EndStatement(statement, false, commits);
  }
  if (sqlite3_get_autocommit(connection.db) == 0) {
    sqlite3_exec(connection.db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  const bool ended = sqlite3_get_autocommit(connection.db) != 0;
  connection.calls->unlock();
  return ended;
}

void Look(Watcher& self, Watched& connection) {
  Catalogue* catalogue = CatalogueOf(self, connection.server);
  if (catalogue == nullptr) return;
  uint64_t signals = 0;
  const bool signalled = catalogue->ReadSignals(&signals);
  if (signalled && signals == connection.seenSignals) return;
  const int16_t state = catalogue->StateOf(connection.id);
  if (state == STANDIN_CONNECTION_KILLED || state == STANDIN_SERVER_TERMINATED) {
    // Before the rollback: from here on no commit of the connection goes through, not even
    // the one that resetting a write stopped part way would make.
    connection.ended->store(true);
    if (!RollBack(connection, catalogue->CommitCounter())) return;
    // A drop need no longer wait for it: the connection will never write again, as its next
    // call finds the counter moved and fails.
    if (state == STANDIN_CONNECTION_KILLED) catalogue->Released(connection.id);
    connection.released = true;
  } else if (state == 0 && signalled) {
    connection.seenSignals = signals;
  }
}

void Watch() {
  Watcher& self = *watcher;
  std::unique_lock<std::mutex> lock(self.mutex);
  self.started = true;
  self.startedOrEnded.notify_all();
  while (!self.watched.empty()) {
    for (auto& [key, connection] : self.watched) {
      if (!connection.released) Look(self, connection);
    }
    self.wake.wait_for(lock, kLookEvery);
  }
  self.catalogues.clear();
  self.running = false;
  self.started = false;
  self.startedOrEnded.notify_all();
}

// Before a fork: the watcher thread waits on its mutex, or is gone, never halfway through
// SQLite, an allocation or its own start or end, whose locks a child would find held forever.
void HoldForFork() {
  std::unique_lock<std::mutex> lock(watcher->mutex);
  watcher->startedOrEnded.wait(lock, [] { return !watcher->running || watcher->started; });
  if (!watcher->running && watcher->thread.joinable()) watcher->thread.join();
  lock.release();  // held across the fork
}

Watcher& TheWatcher() {
  std::call_once(made, [] {
    watcher = new Watcher;
    // The child has no watcher thread and starts afresh.
    pthread_atfork(
        HoldForFork, [] { watcher->mutex.unlock(); }, [] { watcher = new Watcher; });
  });
  return *watcher;
}

}  // namespace

void WatchForKill(const void* connection, sqlite3* db, std::mutex* calls, std::atomic<bool>* ended,
                  const std::string& server, int64_t id, uint64_t seenSignals) {
  Watcher& self = TheWatcher();
  std::lock_guard<std::mutex> lock(self.mutex);
  self.watched[connection] = {db, calls, ended, server, id, seenSignals, false};
  if (self.running) return;
  // The thread of an earlier round has ended or is about to: it only returns from here on.
  if (self.thread.joinable()) self.thread.join();
  self.running = true;
  self.started = false;
  self.thread = std::thread(Watch);
}

void StopWatching(const void* connection) {
  Watcher& self = TheWatcher();
  std::lock_guard<std::mutex> lock(self.mutex);
  const auto found = self.watched.find(connection);
  if (found == self.watched.end()) return;
  const std::string server = found->second.server;
  self.watched.erase(found);
  // The last connection to a server closes the watcher's catalogue connection with it, so that
  // the process holds no file of a server it no longer uses.
  for (const auto& [key, other] : self.watched) {
    if (other.server == server) return;
  }
  self.catalogues.erase(server);
}

}  // namespace standin
