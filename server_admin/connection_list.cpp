// Listing the server's client processes, and killing them all or those of one database.
#include <cstdio>
#include <cstring>

#include "client/connected_job.h"
#include "quillet.h"
#include "server_admin/connection_entry.h"
#include "server_admin/jobs.h"

namespace quillet {
namespace {

// Room for one formatted line; a line of the cut entry texts has at most 55 characters.
constexpr std::size_t kLineSize = 1024;
// A kill that ends with this code is not counted as a failure of the bulk kill.
constexpr int16_t kUncountedKillCode = 2528;

// The listing shows a blank-led database name as "*" and the process as the server's own.
void MarkServerProcess(ConnectionEntry& entry) {
  static constexpr char kServerUser[] = "Server";
  static_assert(sizeof kServerUser <= sizeof entry.userName, "the user field holds it");
  if (entry.databaseName[0] != ' ') return;
  entry.databaseName[0] = '*';
  std::memcpy(entry.userName, kServerUser, sizeof kServerUser);
}

// Any client names its own program, and user and database names come from clients too: a ';'
// or a ':' in them could forge further lines or fields, and control bytes could fool whoever
// reads the list. Each becomes '_'. The program is the line's last field, so a ':' there (as in
// a path) cannot shift a field and stays. Bytes from 0x80 up are left for the host to read.
template <std::size_t N>
void Neutralise(char (&text)[N], bool keepColons) {
  for (char& c : text) {
    if (c == '\0') break;
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ';' || (c == ':' && !keepColons)) c = '_';
  }
}

void NeutraliseFields(ConnectionEntry& entry) {
  Neutralise(entry.databaseName, false);
  Neutralise(entry.userName, false);
  Neutralise(entry.programName, true);
}

}  // namespace

int32_t ListConnections(const char* server, const char* password, char* list) {
  if (list == nullptr) return QUILLET_ERROR_ARGUMENT;
  // The host finds an empty or a complete list after every call.
  list[0] = '\0';
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    ConnectionEntryList entries;
    if (!entries.Fetch(connection)) return ResultOf(false, connection);
    std::size_t length = 0;
    char line[kLineSize];
    entries.ForEachClientProcess([&](ConnectionEntry& entry) {
      MarkServerProcess(entry);
      NeutraliseFields(entry);
      const int written =
          std::snprintf(line, sizeof line, "%d:%s:%s:%s", static_cast<int>(entry.processNumber),
                        entry.databaseName, entry.userName, entry.programName);
      if (written <= 0) return;
      if (length > 0) list[length++] = ';';
      std::memcpy(list + length, line, static_cast<std::size_t>(written) + 1);
      length += static_cast<std::size_t>(written);
    });
    return 0;
  });
}

int32_t KillAllConnections(const char* server, const char* password, const char* database) {
  if (database == nullptr) return QUILLET_ERROR_ARGUMENT;
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    ConnectionEntryList entries;
    if (!entries.Fetch(connection)) return ResultOf(false, connection);
    int32_t result = 0;
    entries.ForEachClientProcess([&](const ConnectionEntry& entry) {
      if (database[0] != '\0' && !HasDatabaseName(entry, database)) return;
      if (!connection.KillConnection(entry.processNumber) &&
          connection.ReturnCode() != kUncountedKillCode) {
        result = connection.ReturnCode();
      }
    });
    return result;
  });
}

}  // namespace quillet
