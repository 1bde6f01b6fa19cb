// The call pattern every export follows: connect, one job, disconnect once. The server-level
// jobs run over RunServerJob, the database-level ones over RunCursorJob.
#ifndef QUILLET_CLIENT_CONNECTED_JOB_H
#define QUILLET_CLIENT_CONNECTED_JOB_H

#include <cstdint>

#include "client/cursor_connection.h"
#include "client/server_connection.h"

namespace quillet {

// A failed connect returns its code with no further call on the connection. Otherwise the
// job's result (0 or a widened code) is what the host sees: the job reads a failing step's
// code at once, and the outcome of Disconnect never reaches the host.
template <typename Connection, typename Job, typename... ConnectArguments>
int32_t RunConnected(Job job, ConnectArguments... arguments) {
  Connection connection;
  if (!connection.Connect(arguments...)) return connection.ReturnCode();
  const int32_t result = job(connection);
  connection.Disconnect();
  return result;
}

template <typename Job>
int32_t RunServerJob(const char* server, const char* password, Job job) {
  return RunConnected<ServerConnection>(job, server, password);
}

// The connect mode of every database-level job but the reload.
constexpr int32_t kDefaultConnectMode = 0;

template <typename Job>
int32_t RunCursorJob(const char* database, const char* user, const char* password, int32_t mode,
                     Job job) {
  return RunConnected<CursorConnection>(job, database, user, password, mode);
}

}  // namespace quillet

#endif  // QUILLET_CLIENT_CONNECTED_JOB_H
