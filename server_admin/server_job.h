// The call pattern shared by the server-level exports.
#ifndef QUILLET_SERVER_ADMIN_SERVER_JOB_H
#define QUILLET_SERVER_ADMIN_SERVER_JOB_H

#include <cstdint>

#include "client/server_connection.h"

namespace quillet {

// Connects, runs the job on the open connection, disconnects once. A failed connect returns its
// code with no further call; the job's result (0 or a widened code) is what the host sees, and
// the outcome of Disconnect never reaches it.
template <typename Job>
int32_t RunServerJob(const char* server, const char* password, Job job) {
  ServerConnection connection;
  if (!connection.Connect(server, password)) return connection.ReturnCode();
  const int32_t result = job(connection);
  connection.Disconnect();
  return result;
}

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_SERVER_JOB_H
