#include "server_connection.h"

#include "sqlwntm.h"

namespace quillet {

bool ServerConnection::Connect(const char* server, const char* password) {
  return Run(kServerConnect, [&] { return sqlwntm_Connect(&handle_, server, password); });
}

bool ServerConnection::Disconnect() {
  return Run(kServerDisconnect, [&] { return sqlwntm_Disconnect(handle_); });
}

bool ServerConnection::BackupSnapShot(const char* database, const char* directory, int32_t flag) {
  return Run(kBackupSnapShot,
             [&] { return sqlwntm_BackupSnapShot(handle_, database, 0, directory, 0, flag, 1); });
}

bool ServerConnection::GetActiveCursors(void* buffer) {
  int32_t length = 0;  // the reply's length is not used
  return Run(kGetActiveCursors, [&] {
    return sqlwntm_GetActiveCursors(handle_, sqlwntm::active_cursors::kRequestAll, buffer,
                                    kServerInfoBufferSize, &length);
  });
}

bool ServerConnection::KillConnection(int32_t process) {
  return Run(kKillConnection, [&] { return sqlwntm_KillConnection(handle_, process); });
}

bool ServerConnection::GetDatabaseNames(const char* server, char* list) {
  return Run(kGetDatabaseNames,
             [&] { return sqlwntm_GetDatabaseNames(server, list, kDatabaseListSize); });
}

bool ServerConnection::DropDatabase(const char* database) {
  return Run(kDropDatabase, [&] { return sqlwntm_DropDatabase(handle_, database, 0); });
}

bool ServerConnection::CreateDatabase(const char* database) {
  return Run(kCreateDatabase, [&] { return sqlwntm_CreateDatabase(handle_, database, 0); });
}

bool ServerConnection::InstallDatabase(const char* database) {
  return Run(kInstallDatabase, [&] { return sqlwntm_InstallDatabase(handle_, database, 0); });
}

bool ServerConnection::DeinstallDatabase(const char* database) {
  return Run(kDeinstallDatabase, [&] { return sqlwntm_DeinstallDatabase(handle_, database, 0); });
}

bool ServerConnection::TerminateServer() {
  return Run(kTerminateServer, [&] { return sqlwntm_TerminateServer(handle_); });
}

}  // namespace quillet
