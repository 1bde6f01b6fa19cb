// The call pattern every export follows: connect, one job, disconnect once.
#ifndef QUILLET_CLIENT_CONNECTED_JOB_H
#define QUILLET_CLIENT_CONNECTED_JOB_H

#include <cstdint>

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

}  // namespace quillet

#endif  // QUILLET_CLIENT_CONNECTED_JOB_H
