// The connection to one database server, used by every server-level export.
#ifndef QUILLET_CLIENT_SERVER_CONNECTION_H
#define QUILLET_CLIENT_SERVER_CONNECTION_H

#include <cstdint>

#include "sql_object.h"

namespace quillet {

// Room the client library is told it has for the database list: NUL-ended names, then an
// empty name.
constexpr int32_t kDatabaseListSize = 1024;
// Size of the active-cursor reply: a 12-byte header and room for 500 records of 104 bytes.
constexpr int32_t kServerInfoBufferSize = 52012;

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
