// Preparing the directories that snapshots are written into.
#ifndef QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H
#define QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H

#include <cstddef>

namespace quillet {

// Room for one file-system path, terminating NUL included (the Win32 MAX_PATH).
constexpr std::size_t kPathSize = 260;

// What a database's directory is called while its next backup is made, beside it.
constexpr const char* kPartialSuffix = ".partial";
// What the previous backup's directory is called from the moment the new one takes its name
// until it is removed.
constexpr const char* kPriorSuffix = ".prior";
// The file under the root that one AllSnapShot at a time holds open without sharing.
constexpr const char* kRootLockName = ".quillet.lock";

// Writes "<directory>\<name><suffix>" into path. False, with path left empty, when it would not
// fit: a cut path could name some other file.
bool ComposePath(char (&path)[kPathSize], const char* directory, const char* name,
                 const char* suffix = "");

// The root as the directory work must name it: on Linux a root that is itself a symbolic link
// is resolved once into `resolved` (the calls below it follow no link in a directory's place);
// otherwise, and on Windows, the root unchanged.
const char* FollowRootLink(const char* root, char (&resolved)[kPathSize]);

// Whether others may rename or replace the root's entries: on Linux a root directory that its
// group or others may write to and that is not sticky, where anyone could swap a link in for a
// backup's directory between two calls. Never on Windows.
bool IsRootOthersMayChange(const char* root);

// Whether a name the server reports may become one directory directly under the root: it must
// not be empty, ".", "..", hold a separator or drive colon, or end in '.' or ' ', which Win32
// drops from a path (so "..." would name the root itself), nor name a device, nor end in
// ".partial" or ".prior" in any case (it would be another database's backup in the making or
// on its way out), nor be the root's lock file.
bool IsPlainDirectoryName(const char* name);

// Whether Windows takes the name for a device wherever it stands in a path: CON, PRN, AUX, NUL,
// COM0-COM9 and LPT0-LPT9 (the digits 1-3 also as superscripts), in any case, alone or before
// an extension, trailing blanks before the dot included. Checked on every platform, so that a
// server's names mean the same directories everywhere.
bool IsDeviceName(const char* name);

// Whether the path is a symbolic link, junction or other reparse point. A missing path is not.
bool IsLink(const char* path);

// Whether something other than a directory (a file) stands at the path. A missing path is not.
bool IsNonDirectory(const char* path);

// Deletes every file directly inside the directory; subdirectories, read-only files and files
// in use stay. A directory that is a link is left alone: its target is not the library's to
// empty. Nothing is reported.
void ClearDirectory(const char* directory);

// Clears the directory, removes it and creates it again: a directory in which something stayed
// is left in place, a missing one is created (one level). False, with nothing touched, when
// the directory is a link, and false too when a link stands there afterwards: either way a
// backup must not go into it.
bool ResetDirectory(const char* directory);

// Clears the directory and removes it; what could not be deleted stays, and the directory with it.
void RemoveDirectoryAndFiles(const char* directory);

// Finishes or undoes what a run stopped between its renames left: a `prior` without its
// `directory` is the last complete backup and gets its name back, as it does when `directory`
// is empty; a `prior` beside a `directory` that holds files was already replaced and is emptied
// and removed. False, with both left as they are, when `directory` holds something other than
// files (neither is clearly the backup) or the prior could not get its name back. Links are left
// alone.
bool SettleStoppedRun(const char* directory, const char* prior);

// Puts a backup made in `partial` in place of `directory` by renames alone, so that a complete
// backup stands under one of the names at every moment: `directory` becomes `prior`, `partial`
// becomes `directory`, then `prior` is emptied and removed (what cannot be deleted stays there).
// False, with `directory` as it was and the backup left in `partial`, when `directory` or
// `partial` is a link, a `prior` is in the way, or a rename fails.
bool PutBackupInPlace(const char* partial, const char* directory, const char* prior);

// Holds "<root>\.quillet.lock" open without sharing, waiting for another holder for up to
// waitMilliseconds, so that runs into one root go one at a time. Something at the lock's path
// that cannot be opened as a regular file (a directory, a link, a FIFO) counts as in use at
// once, without the wait. A missing lock that cannot be created (a missing root, one the user
// may not write to) is not waited for: the directory work then fails there by itself. The file
// stays when released: removing it could let a third run take a new file while the second holds the
// old one.
class RootLock {
 public:
  RootLock(const char* root, unsigned waitMilliseconds);
  ~RootLock();
  RootLock(const RootLock&) = delete;
  RootLock& operator=(const RootLock&) = delete;
  // Another run held the lock for the whole wait.
  bool InUse() const { return inUse_; }

 private:
  void* handle_;
  bool inUse_ = false;
};

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H
