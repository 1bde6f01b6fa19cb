// The snapshot jobs: one database into the host's directory, or every database of the server
// into a freshly emptied directory of its own under a root directory.
#include <cstddef>

#include "quillet.h"
#include "server_admin/server_job.h"
#include "server_admin/snapshot_directories.h"

namespace quillet {
namespace {

// Every backup of AllSnapShot hands the client library this flag.
constexpr int32_t kAllSnapShotFlag = 1;

// Resets the database's directory under the root, then backs the database up into it. A name
// that cannot safely become that directory gets neither and counts as failed.
int32_t BackUpIntoOwnDirectory(ServerConnection& connection, const char* root,
                               const char* database) {
  char directory[kPathSize];
  if (!IsPlainDirectoryName(database) || !ComposePath(directory, root, database)) {
    return QUILLET_ERROR_ARGUMENT;
  }
  ResetDirectory(directory);
  return ResultOf(connection.BackupSnapShot(database, directory, kAllSnapShotFlag), connection);
}

// Backs up each name of the list in order; the last failure is the result. The walk stays
// inside the list area: a name that leaves no room there for the list's closing empty name may
// have been cut, so it is not backed up and counts as failed.
int32_t BackUpEveryDatabase(ServerConnection& connection, const char* root, const char* list) {
  int32_t result = 0;
  std::size_t start = 0;
  while (start < kDatabaseListSize && list[start] != '\0') {
    std::size_t end = start;
    while (end < kDatabaseListSize && list[end] != '\0') ++end;
    if (end + 1 >= kDatabaseListSize) return QUILLET_ERROR_ARGUMENT;
    const int32_t backup = BackUpIntoOwnDirectory(connection, root, list + start);
    if (backup != 0) result = backup;
    start = end + 1;
  }
  return result;
}

}  // namespace
}  // namespace quillet

using quillet::ResultOf;
using quillet::RunServerJob;
using quillet::ServerConnection;

extern "C" {

int32_t SnapShot(int32_t flag, const char* server, const char* password, const char* database,
                 const char* directory) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.BackupSnapShot(database, directory, flag), connection);
  });
}

int32_t AllSnapShot(const char* server, const char* password, const char* root_directory) {
  if (root_directory == nullptr) return QUILLET_ERROR_ARGUMENT;
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    char list[quillet::kDatabaseListSize] = {};
    if (!connection.GetDatabaseNames(server, list)) return ResultOf(false, connection);
    return quillet::BackUpEveryDatabase(connection, root_directory, list);
  });
}

}  // extern "C"
