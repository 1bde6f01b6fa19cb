// The call pattern shared by the server-level exports.
#ifndef QUILLET_SERVER_ADMIN_SERVER_JOB_H
#define QUILLET_SERVER_ADMIN_SERVER_JOB_H

#include <cstdint>

#include "client/connected_job.h"
#include "client/server_connection.h"

namespace quillet {

template <typename Job>
int32_t RunServerJob(const char* server, const char* password, Job job) {
  return RunConnected<ServerConnection>(job, server, password);
}

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_SERVER_JOB_H
