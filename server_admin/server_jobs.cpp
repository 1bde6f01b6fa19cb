// The one-operation server jobs: install, deinstall, create, drop, terminate, kill, list.
#include <cstddef>

#include "quillet.h"
#include "server_admin/server_job.h"

namespace quillet {
namespace {

// Turns the client library's list (NUL-ended names closed by an empty name) into
// "name;name;" in place. Only whole names that leave room for the closing NUL inside the list
// area are kept, so a list without its closing empty name is cut, never overrun.
void JoinDatabaseNames(char* list) {
  std::size_t start = 0;
  while (start < kDatabaseListSize && list[start] != '\0') {
    std::size_t end = start;
    while (end < kDatabaseListSize && list[end] != '\0') ++end;
    if (end + 1 >= kDatabaseListSize) {
      list[start] = '\0';
      return;
    }
    list[end] = ';';
    start = end + 1;
  }
}

}  // namespace
}  // namespace quillet

using quillet::ResultOf;
using quillet::RunServerJob;
using quillet::ServerConnection;

extern "C" {

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
    quillet::JoinDatabaseNames(list);
    return 0;
  });
}

}  // extern "C"
