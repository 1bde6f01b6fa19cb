// The database-level jobs behind the exports of the same names: the entries of the export table
// (exports/quillet_exports.h) whose folder is database_admin, with the exports' own parameters
// and results. Each opens its own cursor connection; maintenance.cpp and csv_export.cpp define
// them.
#ifndef QUILLET_DATABASE_ADMIN_JOBS_H
#define QUILLET_DATABASE_ADMIN_JOBS_H

#include <cstdint>

#include "exports/quillet_exports.h"

namespace quillet {

#define QUILLET_DATABASE_JOB_database_admin(name, parameters) \
  int32_t name(QUILLET_EACH_PARAMETER(QUILLET_PARAMETER, parameters));
#define QUILLET_DATABASE_JOB_server_admin(name, parameters)
#define QUILLET_DECLARE_DATABASE_JOB(name, ordinal, parameters, folder) \
  QUILLET_DATABASE_JOB_##folder(name, parameters)
QUILLET_EXPORTS(QUILLET_DECLARE_DATABASE_JOB)
#undef QUILLET_DECLARE_DATABASE_JOB
#undef QUILLET_DATABASE_JOB_server_admin
#undef QUILLET_DATABASE_JOB_database_admin

}  // namespace quillet

#endif  // QUILLET_DATABASE_ADMIN_JOBS_H
