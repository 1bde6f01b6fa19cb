// A killed connection, or one of a terminated server, lets go of its database within a tenth
// of a second or so even while its client makes no call: one thread per process looks at the
// kill counter of each open connection's server and, when it has moved, has the connection
// check itself under its call mutex. While nothing is killed it reads no catalogue, and it
// runs only while the process has cursor connections open.
#ifndef QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H
#define QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H

namespace standin {

class Cursor;

// From the end of a successful connect on.
void WatchForKill(Cursor* cursor);
// Before the connection closes; once it returns, the watcher no longer touches it.
void StopWatching(Cursor* cursor);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_KILL_WATCHER_H
