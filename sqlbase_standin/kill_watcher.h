// A killed connection, or one of a terminated server, gives up its database lock within a
// tenth of a second or so even while its client makes no call: one thread per process looks
// at the kill counter of each watched connection's server and, when it has moved and the
// connection is found killed, rolls back the connection's open transaction under the mutex
// that the connection holds through each of its calls. Calls pay nothing more for it: the
// watcher reads no catalogue while nothing is killed, and runs only while the process has
// cursor connections open.
#ifndef QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H
#define QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace standin {

// From the end of a successful connect on. calls is held by the connection through every call
// on db, and never while it waits for anything but itself; seenSignals is the kill counter the
// connection read before registering as id. ended is set, for good, as soon as the watcher
// finds the connection killed or its server terminated: unlike an interrupt, which SQLite
// forgets when the next statement starts, the connection meets it at its next statement and
// at every commit.
void WatchForKill(const void* connection, sqlite3* db, std::mutex* calls, std::atomic<bool>* ended,
                  const std::string& server, int64_t id, uint64_t seenSignals);
// Before the connection's database closes (calls may be held); once it returns, the watcher
// no longer touches the connection, its database or its mutex.
void StopWatching(const void* connection);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H
