// The one-operation server jobs: install, deinstall, create, drop, terminate, kill, list.
#include <cstddef>

#include "client/connected_job.h"
#include "quillet.h"
#include "server_admin/database_list.h"
#include "server_admin/jobs.h"

namespace quillet {
namespace {

// Turns the client library's list into "name;name;" in place. A name that may have been cut
// is left out rather than shown truncated.
void JoinDatabaseNames(char* list) {
  const std::size_t end =
      ForEachDatabaseName(list, [list](std::size_t, std::size_t nameEnd) { list[nameEnd] = ';'; });
  list[end] = '\0';
}

}  // namespace

int32_t InstallDB(const char* server, const char* password, const char* database) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.InstallDatabase(database), connection);
  });
}

int32_t DeinstallDB(const char* server, const char* password, const char* database) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.DeinstallDatabase(database), connection);
  });
}

int32_t CreateDB(const char* server, const char* password, const char* database) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.CreateDatabase(database), connection);
  });
}

int32_t DropDB(const char* server, const char* password, const char* database) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.DropDatabase(database), connection);
  });
}

int32_t TerminateServer(const char* server, const char* password) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.TerminateServer(), connection);
  });
}

int32_t KillConnection(const char* server, const char* password, int32_t process) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.KillConnection(process), connection);
  });
}

int32_t DirDB(const char* server, const char* password, char* list) {
  if (list == nullptr) return QUILLET_ERROR_ARGUMENT;
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    if (!connection.GetDatabaseNames(server, list)) return ResultOf(false, connection);
    JoinDatabaseNames(list);
    return 0;
  });
}

}  // namespace quillet
