// The server-level jobs behind the exports of the same names (exports/quillet_exports.cpp).
// Each opens its own server connection; the arguments and results are the exports' own.
#ifndef QUILLET_SERVER_ADMIN_JOBS_H
#define QUILLET_SERVER_ADMIN_JOBS_H

#include <cstdint>

namespace quillet {

// server_jobs.cpp
int32_t InstallDB(const char* server, const char* password, const char* database);
int32_t DeinstallDB(const char* server, const char* password, const char* database);
int32_t CreateDB(const char* server, const char* password, const char* database);
int32_t DropDB(const char* server, const char* password, const char* database);
int32_t TerminateServer(const char* server, const char* password);
int32_t KillConnection(const char* server, const char* password, int32_t process);
int32_t DirDB(const char* server, const char* password, char* list);

// snapshots.cpp
int32_t SnapShot(int32_t flag, const char* server, const char* password, const char* database,
                 const char* directory);
int32_t AllSnapShot(const char* server, const char* password, const char* root_directory);

// connection_list.cpp
int32_t ListConnections(const char* server, const char* password, char* list);
int32_t KillAllConnections(const char* server, const char* password, const char* database);

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_JOBS_H
