// The call pattern shared by the database-level exports.
#ifndef QUILLET_DATABASE_ADMIN_CURSOR_JOB_H
#define QUILLET_DATABASE_ADMIN_CURSOR_JOB_H

#include <cstdint>

#include "client/connected_job.h"
#include "client/cursor_connection.h"

namespace quillet {

// The connect mode of every database-level job but the reload.
constexpr int32_t kDefaultConnectMode = 0;

template <typename Job>
int32_t RunCursorJob(const char* database, const char* user, const char* password, int32_t mode,
                     Job job) {
  return RunConnected<CursorConnection>(job, database, user, password, mode);
}

}  // namespace quillet

#endif  // QUILLET_DATABASE_ADMIN_CURSOR_JOB_H
