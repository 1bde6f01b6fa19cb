// A killed connection, or one of a terminated server, gives up its database lock within a
// tenth of a second or so even while its client makes no call: one thread per process looks
// at the kill counter of each watched connection's server and, when it has moved and the
// connection is found killed, rolls back the connection's open transaction under SQLite's own
// connection mutex. Calls pay nothing for it: the watcher reads no catalogue while nothing is
// killed, and runs only while the process has cursor connections open.
#ifndef QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H
#define QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace standin {

// From the end of a successful connect on. db must be opened in SQLite's serialized mode;
// seenSignals is the kill counter the connection read before registering as id.
void WatchForKill(const void* connection, sqlite3* db, const std::string& server, int64_t id,
                  uint64_t seenSignals);
// Before the connection's database closes; once it returns, the watcher no longer touches it.
void StopWatching(const void* connection);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H
