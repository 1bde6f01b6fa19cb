// The connection to one database server, used by every server-level export.
#ifndef QUILLET_CLIENT_SERVER_CONNECTION_H
#define QUILLET_CLIENT_SERVER_CONNECTION_H

#include <cstdint>

#include "reply_layouts.h"
#include "sql_object.h"

namespace quillet {

// Room the client library is told it has for the database list and the active-cursor reply
// (their layouts in reply_layouts.h).
constexpr int32_t kDatabaseListSize = static_cast<int32_t>(sqlwntm::database_names::kListSize);
constexpr int32_t kServerInfoBufferSize = static_cast<int32_t>(sqlwntm::active_cursors::kReplySize);

class ServerConnection : public SqlObject {
 public:
  ServerConnection() : SqlObject("Server") { open_ = 0; }
  // Makes no call: a server connection is closed only by an explicit Disconnect.
  ~ServerConnection() { open_ = 0; }

  bool Connect(const char* server, const char* password);
  bool Disconnect();
  bool BackupSnapShot(const char* database, const char* directory, int32_t flag);
  // buffer: kServerInfoBufferSize bytes.
  bool GetActiveCursors(void* buffer);
  bool KillConnection(int32_t process);
  // Names the server directly, not through the handle. list: kDatabaseListSize bytes.
  bool GetDatabaseNames(const char* server, char* list);
  bool DropDatabase(const char* database);
  bool CreateDatabase(const char* database);
  bool InstallDatabase(const char* database);
  bool DeinstallDatabase(const char* database);
  bool TerminateServer();
};

}  // namespace quillet

#endif  // QUILLET_CLIENT_SERVER_CONNECTION_H
