// The snapshot jobs: one database into the host's directory, or every database of the server
// into a directory of its own under a root directory, replaced only by a backup that succeeded.
#include <cstddef>

#include "client/connected_job.h"
#include "quillet.h"
#include "server_admin/database_list.h"
#include "server_admin/jobs.h"
#include "server_admin/snapshot_directories.h"

namespace quillet {
namespace {

// Every backup of AllSnapShot hands the client library this flag.
constexpr int32_t kAllSnapShotFlag = 1;

// How long a run waits for another run into the same root to end.
constexpr unsigned kRootLockWaitMilliseconds = 5 * 60 * 1000;

// Makes the backup in "<root>\<name>.partial", emptied first, and only once it succeeded puts
// it in the database's directory's place by renames, the previous backup going by way of
// "<root>\<name>.prior": a failed backup, or a run stopped at any moment, leaves a complete
// backup under one of those names, which the next run gives its name back. A name that cannot
// safely become those directories, or a directory that is a link to somewhere else (or that
// someone else may change), gets no backup and counts as failed; so does a backup that could
// not be put in place, which stays in the .partial directory.
int32_t BackUpIntoOwnDirectory(ServerConnection& connection, const char* root,
                               const char* database) {
  char directory[kPathSize];
  char partial[kPathSize];
  char prior[kPathSize];
  // The longest of them must leave room for its search pattern, or a crashed run's leftovers
  // could not be emptied.
  char pattern[kPathSize];
  if (!IsPlainDirectoryName(database) || !ComposePath(directory, root, database) ||
      !ComposePath(partial, root, database, kPartialSuffix) ||
      !ComposePath(prior, root, database, kPriorSuffix) || !ComposePath(pattern, partial, "*.*")) {
    return QUILLET_ERROR_ARGUMENT;
  }
  // A file under one of the names is someone's own, not a backup: nothing is put in its place.
  if (!SettleStoppedRun(directory, prior) || IsLink(directory) || IsLink(prior) ||
      IsNonDirectory(directory) || IsNonDirectory(prior) || IsNonDirectory(partial) ||
      !ResetDirectory(partial)) {
    return QUILLET_ERROR_ARGUMENT;
  }
  if (!connection.BackupSnapShot(database, partial, kAllSnapShotFlag)) {
    const int32_t failed = ResultOf(false, connection);
    RemoveDirectoryAndFiles(partial);
    return failed;
  }
  return PutBackupInPlace(partial, directory, prior) ? 0 : QUILLET_ERROR_ARGUMENT;
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

int32_t SnapShot(int32_t flag, const char* server, const char* password, const char* database,
                 const char* directory) {
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    return ResultOf(connection.BackupSnapShot(database, directory, flag), connection);
  });
}

int32_t AllSnapShot(const char* server, const char* password, const char* root_directory) {
  // An empty root would put every directory at the top of the current drive.
  if (root_directory == nullptr || root_directory[0] == '\0') return QUILLET_ERROR_ARGUMENT;
  char resolved[kPathSize];
  const char* root = FollowRootLink(root_directory, resolved);
  return RunServerJob(server, password, [&](ServerConnection& connection) {
    char list[kDatabaseListSize] = {};
    if (!connection.GetDatabaseNames(server, list)) return ResultOf(false, connection);
    // A server without databases touches nothing, not even the lock.
    if (list[0] == '\0') return 0;
    if (IsRootOthersMayChange(root)) return QUILLET_ERROR_ARGUMENT;
    // Two runs into one root would empty each other's directories while they back up.
    const RootLock lock(root, kRootLockWaitMilliseconds);
    if (lock.InUse()) return QUILLET_ERROR_ROOT_IN_USE;
    return BackUpEveryDatabase(connection, root, list);
  });
}

}  // namespace quillet
