// The database-level jobs behind the exports of the same names (exports/quillet_exports.cpp).
// Each opens its own cursor connection; the arguments and results are the exports' own.
#ifndef QUILLET_DATABASE_ADMIN_JOBS_H
#define QUILLET_DATABASE_ADMIN_JOBS_H

#include <cstdint>

namespace quillet {

// maintenance.cpp
int32_t UpdateStats(const char* database, const char* user, const char* password);
int32_t ReleaseLog(const char* database, const char* user, const char* password);
int32_t Load(const char* database, const char* user, const char* password, const char* command);
int32_t Unload(const char* database, const char* user, const char* password, const char* command);
int32_t ReLoad(const char* database, const char* user, const char* password,
               const char* script_file);

// csv_export.cpp
int32_t ExportCSV(const char* database, const char* user, const char* password,
                  const char* statement, const char* output_file);

}  // namespace quillet

#endif  // QUILLET_DATABASE_ADMIN_JOBS_H
