// Preparing the directories that snapshots are written into.
#ifndef QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H
#define QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H

#include <cstddef>

namespace quillet {

// Room for one file-system path, terminating NUL included (the Win32 MAX_PATH).
constexpr std::size_t kPathSize = 260;

// What a database's directory is called while its next backup is made, beside it.
constexpr const char* kPartialSuffix = ".partial";

// Writes "<directory>\<name><suffix>" into path. False, with path left empty, when it would not
// fit: a cut path could name some other file.
bool ComposePath(char (&path)[kPathSize], const char* directory, const char* name,
                 const char* suffix = "");

// Whether a name the server reports may become one directory directly under the root: it must
// not be empty, ".", "..", hold a separator or drive colon, or end in '.' or ' ', which Win32
// drops from a path (so "..." would name the root itself), nor name a device, nor end in
// ".partial" in any case (it would be another database's backup in the making).
bool IsPlainDirectoryName(const char* name);

// Whether Windows takes the name for a device wherever it stands in a path: CON, PRN, AUX, NUL,
// COM0-COM9 and LPT0-LPT9 (the digits 1-3 also as superscripts), in any case, alone or before
// an extension, trailing blanks before the dot included. Checked on every platform, so that a
// server's names mean the same directories everywhere.
bool IsDeviceName(const char* name);

// Whether the path is a symbolic link, junction or other reparse point. A missing path is not.
bool IsLink(const char* path);

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

// Puts a backup made in `partial` in place of `directory`'s content: resets the directory, moves
// every file of `partial` into it, replacing one of the same name, then removes `partial`. False,
// with `partial` left holding what was not moved, when the directory is or became a link or a
// file could not be moved.
bool MoveBackupIntoPlace(const char* partial, const char* directory);

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_SNAPSHOT_DIRECTORIES_H
