// Preparing the directories that snapshots are written into.
#ifndef QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H
#define QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H

#include <cstddef>

namespace quillet {

// Room for one file-system path, terminating NUL included (the Win32 MAX_PATH).
constexpr std::size_t kPathSize = 260;

// Writes "<directory>\<name>" into path. False, with path left empty, when it would not fit:
// a cut path could name some other file.
bool ComposePath(char (&path)[kPathSize], const char* directory, const char* name);

// Whether a name the server reports may become one directory directly under the root: it must
// not be empty, ".", "..", hold a separator or drive colon, or end in '.' or ' ', which Win32
// drops from a path (so "..." would name the root itself).
bool IsPlainDirectoryName(const char* name);

// Deletes every file directly inside the directory; subdirectories, read-only files and files
// in use stay. Nothing is reported.
void ClearDirectory(const char* directory);

// Clears the directory, removes it and creates it again: a directory in which something stayed
// is left in place, a missing one is created (one level). Nothing is reported.
void ResetDirectory(const char* directory);

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H
