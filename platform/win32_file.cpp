#include "platform/win32_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace {

// An open search: the directory stream, and how many of "." and ".." were handed out.
struct Search {
  DIR* directory;
  int dotsFound;
};

// Win32 paths are at most MAX_PATH bytes with their NUL and use '\' as separator.
bool ToPosixPath(LPCSTR path, char (&posix)[MAX_PATH]) {
  if (path == nullptr) return false;
  for (std::size_t i = 0; i < MAX_PATH; ++i) {
    posix[i] = path[i] == '\\' ? '/' : path[i];
    if (path[i] == '\0') return true;
  }
  return false;
}

bool CopyName(const char* name, WIN32_FIND_DATAA* found) {
  const std::size_t length = std::strlen(name);
  if (length >= sizeof found->cFileName) return false;
  std::memcpy(found->cFileName, name, length + 1);
  return true;
}

// Win32 lists "." and ".." first whatever the file system does; POSIX may give them anywhere.
bool FindNext(Search* search, WIN32_FIND_DATAA* found) {
  if (search->dotsFound < 2) {
    ++search->dotsFound;
    return CopyName(search->dotsFound == 1 ? "." : "..", found);
  }
  while (const dirent* entry = readdir(search->directory)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (CopyName(entry->d_name, found)) return true;
  }
  return false;
}

// An entry's directory, opened, and the entry's name in it.
struct EntryPlace {
  int directory;
  const char* name;
};

// Opens the directory of the entry that posix names (cut there: posix then holds the
// directory), without following a link in the directory's place when noFollow says so. False
// with nothing open when it cannot be opened.
bool OpenEntryPlace(char (&posix)[MAX_PATH], bool noFollow, EntryPlace* place) {
  char* separator = std::strrchr(posix, '/');
  const char* directoryPath = ".";
  place->name = posix;
  if (separator == posix) {
    directoryPath = "/";
    place->name = posix + 1;
  } else if (separator != nullptr) {
    *separator = '\0';
    directoryPath = posix;
    place->name = separator + 1;
  }
  place->directory =
      open(directoryPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
  return place->directory >= 0;
}

// The stand-in server keeps each server as a folder that holds this file, all under one root.
constexpr const char kServerCatalogue[] = "standin.catalogue";

bool HoldsCatalogue(int directory, const char* path) {
  struct stat status {};
  return fstatat(directory, path, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// A stand-in server's folder, or the root that holds such folders: no snapshot may delete,
// create or move anything there, or a database named like a server would have the server's
// catalogue and databases emptied. The folder is judged as opened, so no spelling of its path
// (backslashes, "..", links, doubled or trailing separators) leads past it.
bool IsServerFolderOrRoot(int directory) {
  if (HoldsCatalogue(directory, kServerCatalogue)) return true;
  const int listing = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return true;
  DIR* entries = fdopendir(listing);
  if (entries == nullptr) {
    close(listing);
    return true;
  }
  bool found = false;
  // An entry's name, a separator and the catalogue's name.
  char inner[NAME_MAX + sizeof kServerCatalogue + 1];
  while (const dirent* entry = readdir(entries)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const int length = std::snprintf(inner, sizeof inner, "%s/%s", entry->d_name, kServerCatalogue);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof inner &&
        HoldsCatalogue(directory, inner)) {
      found = true;
      break;
    }
  }
  closedir(entries);
  return found;
}

// A file Win32 would delete or replace: no directory, and the owner-write bit set. Without
// the bit a file is read-only to Win32, even for an administrator; the bit is what counts, not
// access(), which a root process always passes.
bool IsDeletable(const struct stat& status) {
  return !S_ISDIR(status.st_mode) && (status.st_mode & S_IWUSR) != 0;
}

// Opens the entry's directory for a change in it: refused, like a folder one may not write to,
// in a server's folder or their root.
bool OpenPlaceToChange(LPCSTR path, char (&posix)[MAX_PATH], bool noFollow, EntryPlace* place) {
  if (!ToPosixPath(path, posix) || !OpenEntryPlace(posix, noFollow, place)) return false;
  if (!IsServerFolderOrRoot(place->directory)) return true;
  close(place->directory);
  errno = EACCES;
  return false;
}

// A directory someone else can change: owned by another user, or writable by its group or by
// others. Whoever can write in it can swap its entries or plant links while it is emptied.
bool IsOthersDirectory(const struct stat& status) {
  return S_ISDIR(status.st_mode) &&
         (status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0);
}

// Renames without replacing anything, as Win32 does without MOVEFILE_REPLACE_EXISTING. A file
// system that cannot say so atomically gets a look first.
bool RenameNoReplace(const EntryPlace& from, const EntryPlace& to) {
  if (renameat2(from.directory, from.name, to.directory, to.name, RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat existing {};
  if (fstatat(to.directory, to.name, &existing, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
    return false;
  }
  return renameat(from.directory, from.name, to.directory, to.name) == 0;
}

// A file of CreateFileA.
struct OpenFile {
  int descriptor;
};

thread_local DWORD lastError = 0;

HANDLE FailOpen(DWORD error) {
  lastError = error;
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found) {
  char path[MAX_PATH];
  EntryPlace place{};
  if (!ToPosixPath(pattern, path)) return INVALID_HANDLE_VALUE;
  // Only whole-directory searches are ever made.
  const char* separator = std::strrchr(path, '/');
  const char* wildcard = separator == nullptr ? path : separator + 1;
  if (std::strcmp(wildcard, "*.*") != 0 && std::strcmp(wildcard, "*") != 0) {
    return INVALID_HANDLE_VALUE;
  }
  // A link put in the directory's place is not searched, and so not emptied.
  if (!OpenEntryPlace(path, true, &place)) return INVALID_HANDLE_VALUE;
  DIR* directory = fdopendir(place.directory);
  if (directory == nullptr) {
    close(place.directory);
    return INVALID_HANDLE_VALUE;
  }
  Search* search = new (std::nothrow) Search{directory, 0};
  if (search == nullptr) {
    closedir(directory);
    return INVALID_HANDLE_VALUE;
  }
  FindNext(search, found);
  return search;
}

BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found) {
  return FindNext(static_cast<Search*>(search), found) ? 1 : 0;
}

BOOL FindClose(HANDLE search) {
  Search* open = static_cast<Search*>(search);
  closedir(open->directory);
  delete open;
  return 1;
}

DWORD GetFileAttributesA(LPCSTR path) {
  char posix[MAX_PATH];
  struct stat status {};
  if (!ToPosixPath(path, posix) || lstat(posix, &status) != 0) return INVALID_FILE_ATTRIBUTES;
  DWORD attributes = 0;
  if (S_ISLNK(status.st_mode)) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    struct stat target {};
    if (stat(posix, &target) == 0 && S_ISDIR(target.st_mode)) {
      attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
  } else {
    if (S_ISDIR(status.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsOthersDirectory(status)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if ((status.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  }
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

BOOL DeleteFileA(LPCSTR path) {
  char posix[MAX_PATH];
  EntryPlace place{};
  // The entry is deleted inside its directory as opened without following a link: a link
  // swapped in for the directory while it is being emptied must not lead the deletion into its
  // target, where a file of the same name would go.
  if (!OpenPlaceToChange(path, posix, true, &place)) return 0;
  struct stat status {};
  const bool deleted = fstatat(place.directory, place.name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                       IsDeletable(status) && unlinkat(place.directory, place.name, 0) == 0;
  close(place.directory);
  return deleted ? 1 : 0;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  char posix[MAX_PATH];
  EntryPlace place{};
  if (!OpenPlaceToChange(path, posix, false, &place)) return 0;
  const bool removed = unlinkat(place.directory, place.name, AT_REMOVEDIR) == 0;
  close(place.directory);
  return removed ? 1 : 0;
}

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES*) {
  char posix[MAX_PATH];
  EntryPlace place{};
  if (!OpenPlaceToChange(path, posix, false, &place)) return 0;
  // Private to the user, as the backups it will hold.
  const bool created = mkdirat(place.directory, place.name, 0700) == 0 &&
                       fchmodat(place.directory, place.name, 0700, 0) == 0;
  close(place.directory);
  return created ? 1 : 0;
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  if (flags != MOVEFILE_REPLACE_EXISTING && flags != 0) return 0;
  char fromPosix[MAX_PATH];
  char toPosix[MAX_PATH];
  EntryPlace from{};
  EntryPlace to{};
  // Both directories as opened without following a link, as when deleting.
  if (!OpenPlaceToChange(existing, fromPosix, true, &from)) return 0;
  if (!OpenPlaceToChange(target, toPosix, true, &to)) {
    close(from.directory);
    return 0;
  }
  if (flags == 0) {
    const bool renamed = RenameNoReplace(from, to);
    close(from.directory);
    close(to.directory);
    return renamed ? 1 : 0;
  }
  struct stat source {};
  struct stat replaced {};
  // Files only, as the library moves; and Windows replaces no directory nor read-only file.
  const bool replaceable = fstatat(to.directory, to.name, &replaced, AT_SYMLINK_NOFOLLOW) == 0
                               ? IsDeletable(replaced)
                               : errno == ENOENT;
  const bool moved = fstatat(from.directory, from.name, &source, AT_SYMLINK_NOFOLLOW) == 0 &&
                     !S_ISDIR(source.st_mode) && replaceable &&
                     renameat(from.directory, from.name, to.directory, to.name) == 0;
  close(from.directory);
  close(to.directory);
  return moved ? 1 : 0;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (access != GENERIC_READ || disposition != OPEN_ALWAYS || security != nullptr ||
      templateFile != nullptr || (flags != 0 && flags != FILE_ATTRIBUTE_NORMAL)) {
    return FailOpen(ERROR_ACCESS_DENIED);
  }
  char posix[MAX_PATH];
  EntryPlace place{};
  if (!OpenPlaceToChange(path, posix, true, &place)) {
    return FailOpen(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                        : ERROR_ACCESS_DENIED);
  }
  const int descriptor =
      // Without blocking: a FIFO put in the file's place would hold the open forever.
      openat(place.directory, place.name, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
             0600);
  close(place.directory);
  if (descriptor < 0) return FailOpen(ERROR_ACCESS_DENIED);
  struct stat status {};
  errno = 0;
  // An flock is the open file's, so a second open in this process is refused as well.
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      (shareMode == 0 && flock(descriptor, LOCK_EX | LOCK_NB) != 0)) {
    const bool held = errno == EWOULDBLOCK;
    close(descriptor);
    return FailOpen(held ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED);
  }
  OpenFile* file = new (std::nothrow) OpenFile{descriptor};
  if (file == nullptr) {
    close(descriptor);
    return FailOpen(ERROR_ACCESS_DENIED);
  }
  return file;
}

BOOL CloseHandle(HANDLE handle) {
  OpenFile* file = static_cast<OpenFile*>(handle);
  close(file->descriptor);
  delete file;
  return 1;
}

DWORD GetLastError() { return lastError; }

void Sleep(DWORD milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}
