// The snapshot jobs: one database into the host's directory, or every database of the server
// into a freshly emptied directory of its own under a root directory.
#include <cstddef>

#include "quillet.h"
#include "server_admin/database_list.h"
#include "server_admin/server_admin_jobs.h"
#include "server_admin/server_job.h"
#include "server_admin/snapshot_directories.h"

namespace quillet {
namespace {

// Every backup of AllSnapShot hands the client library this flag.
constexpr int32_t kAllSnapShotFlag = 1;

// Resets the database's directory under the root, then backs the database up into it. A name
// that cannot safely become that directory, or a directory that is a link to somewhere else,
// gets neither and counts as failed.
int32_t BackUpIntoOwnDirectory(ServerConnection& connection, const char* root,
                               const char* database) {
  char directory[kPathSize];
  if (!IsPlainDirectoryName(database) || !ComposePath(directory, root, database)) {
    return QUILLET_ERROR_ARGUMENT;
  }
  if (!ResetDirectory(directory)) return QUILLET_ERROR_ARGUMENT;
  return ResultOf(connection.BackupSnapShot(database, directory, kAllSnapShotFlag), connection);
}

// Backs up each name of the list in order; the last failure is the result. A name that may
// have been cut is not backed up and counts as failed.
int32_t BackUpEveryDatabase(ServerConnection& connection, const char* root, const char* list) {
  int32_t result = 0;
  const std::size_t end = ForEachDatabaseName(list, [&](std::size_t start, std::size_t) {
    const int32_t backup = BackUpIntoOwnDirectory(connection, root, list + start);
    if (backup != 0) result = backup;
  });
  return list[end] == '\0' ? result : QUILLET_ERROR_ARGUMENT;
}

}  // namespace
}  // namespace quillet

using quillet::ResultOf;
using quillet::RunServerJob;
using quillet::ServerConnection;

namespace quillet {

int32_t SnapShot(int32_t flag, const char* server, const char* password, const char* database,
                 const char* directory) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.BackupSnapShot(database, directory, flag), connection);
  });
}

int32_t AllSnapShot(const char* server, const char* password, const char* root_directory) {
  // An empty root would put every directory at the top of the current drive.
  if (root_directory == nullptr || root_directory[0] == '\0') return QUILLET_ERROR_ARGUMENT;
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    char list[quillet::kDatabaseListSize] = {};
    if (!connection.GetDatabaseNames(server, list)) return ResultOf(false, connection);
    return quillet::BackUpEveryDatabase(connection, root_directory, list);
  });
}

}  // namespace quillet
