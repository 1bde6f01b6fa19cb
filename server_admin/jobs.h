// The server-level jobs behind the exports of the same names: the entries of the export table
// (exports/quillet_exports.h) whose folder is server_admin, with the exports' own parameters and
// results. Each opens its own server connection; server_jobs.cpp, snapshots.cpp and
// connection_list.cpp define them.
#ifndef QUILLET_SERVER_ADMIN_JOBS_H
#define QUILLET_SERVER_ADMIN_JOBS_H

#include <cstdint>

#include "exports/quillet_exports.h"

namespace quillet {

#define QUILLET_SERVER_JOB_server_admin(name, parameters) \
  int32_t name(QUILLET_EACH_PARAMETER(QUILLET_PARAMETER, parameters));
#define QUILLET_SERVER_JOB_database_admin(name, parameters)
#define QUILLET_DECLARE_SERVER_JOB(name, ordinal, parameters, folder) \
  QUILLET_SERVER_JOB_##folder(name, parameters)
QUILLET_EXPORTS(QUILLET_DECLARE_SERVER_JOB)
#undef QUILLET_DECLARE_SERVER_JOB
#undef QUILLET_SERVER_JOB_database_admin
#undef QUILLET_SERVER_JOB_server_admin

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_JOBS_H
