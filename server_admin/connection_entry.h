// The server's client processes, read from its active-cursor reply and sorted by process number.
#ifndef QUILLET_SERVER_ADMIN_CONNECTION_ENTRY_H
#define QUILLET_SERVER_ADMIN_CONNECTION_ENTRY_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "client/reply_layouts.h"
#include "client/server_connection.h"

namespace quillet {

// The reply has room for this many records after its header; a larger count is cut.
constexpr std::size_t kMaxConnectionEntries = sqlwntm::active_cursors::kMaxRecords;
// Width of the database-name field of a reply record; it need not hold a NUL.
constexpr std::size_t kRecordDatabaseNameSize = sqlwntm::active_cursors::kDatabaseSize;

// One record of the reply, with its texts cut to the room of the listing.
struct ConnectionEntry {
  int32_t processNumber;
  char databaseName[10];
  char userName[10];
  char programName[32];
  // The record's whole database-name field inside the reply, so that a kill filter compares
  // the full name and not the cut one.
  const char* recordDatabaseName;
};

// Orders two entries by process number: -1, 0 or 1. Equal numbers keep no fixed order.
int CompareProcessNumbers(const ConnectionEntry& first, const ConnectionEntry& second);

// True when the record's whole database name is exactly `name` (case-sensitive).
bool HasDatabaseName(const ConnectionEntry& entry, const char* name);

// The reply buffer and the entries read from it; fixed storage, nothing allocated.
//
// It lives on the stack of the host's calling thread: about 52 KB of reply and 500 entries of
// 60 to 64 bytes, some 84 KB in all. Host threads reserve 1 MB of stack on Windows unless the
// host builds them smaller, and 8 MB by default on Linux, which leaves over 900 KB for the
// client library's calls made while the list lives. The module makes no thread of its own.
class ConnectionEntryList {
 public:
  ConnectionEntryList() = default;
  ConnectionEntryList(const ConnectionEntryList&) = delete;
  ConnectionEntryList& operator=(const ConnectionEntryList&) = delete;

  // Asks the server for its active cursors, then builds and sorts the entries. On failure
  // there are no entries and the connection holds the code.
  bool Fetch(ServerConnection& connection);

  // Calls `action(entry)` once for each process, in ascending process number, judging each
  // process on its first entry: a repeated number, the server's own "SQLBase" program and
  // process 0 are passed over.
  template <typename Action>
  void ForEachClientProcess(Action action) {
    int32_t previous = -1;
    for (std::size_t i = 0; i < count_; ++i) {
      ConnectionEntry& entry = entries_[i];
      const bool repeat = entry.processNumber == previous;
      previous = entry.processNumber;
      // The cut program name is enough: a cut name never equals the short "SQLBase".
      if (repeat || std::strcmp(entry.programName, sqlwntm::active_cursors::kServerProgram) == 0 ||
          entry.processNumber == 0) {
        continue;
      }
      action(entry);
    }
  }

 private:
  void ReadEntries();

  // Value-initialised: a reply shorter than its record count reads as process 0, not as stale
  // stack bytes.
  unsigned char reply_[kServerInfoBufferSize] = {};
  ConnectionEntry entries_[kMaxConnectionEntries];
  std::size_t count_ = 0;
};

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_CONNECTION_ENTRY_H
