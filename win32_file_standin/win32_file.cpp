#include "win32_file_standin/win32_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
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

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found) {
  char path[MAX_PATH];
  if (!ToPosixPath(pattern, path)) return INVALID_HANDLE_VALUE;
  char* separator = std::strrchr(path, '/');
  const char* wildcard = separator == nullptr ? path : separator + 1;
  // Only whole-directory searches are ever made.
  if (std::strcmp(wildcard, "*.*") != 0 && std::strcmp(wildcard, "*") != 0) {
    return INVALID_HANDLE_VALUE;
  }
  const char* directoryPath = ".";
  if (separator == path) {
    directoryPath = "/";
  } else if (separator != nullptr) {
    *separator = '\0';
    directoryPath = path;
  }
  // O_NOFOLLOW: a link put in the directory's place is not searched, and so not emptied.
  const int descriptor = open(directoryPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return INVALID_HANDLE_VALUE;
  DIR* directory = fdopendir(descriptor);
  if (directory == nullptr) {
    close(descriptor);
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
    if ((status.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  }
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

BOOL DeleteFileA(LPCSTR path) {
  char posix[MAX_PATH];
  if (!ToPosixPath(path, posix)) return 0;
  // The entry is deleted inside its directory as opened without following a link: a link
  // swapped in for the directory while it is being emptied must not lead the deletion into its
  // target, where a file of the same name would go.
  char* separator = std::strrchr(posix, '/');
  const char* name = posix;
  const char* directoryPath = ".";
  if (separator == posix) {
    directoryPath = "/";
    name = posix + 1;
  } else if (separator != nullptr) {
    *separator = '\0';
    directoryPath = posix;
    name = separator + 1;
  }
  const int directory = open(directoryPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (directory < 0) return 0;
  struct stat status {};
  // Without the write bit a file is read-only to Win32, even for an administrator; the bit is
  // what counts, not access(), which a root process always passes.
  const bool deleted = fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                       !S_ISDIR(status.st_mode) && (status.st_mode & S_IWUSR) != 0 &&
                       unlinkat(directory, name, 0) == 0;
  close(directory);
  return deleted ? 1 : 0;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  char posix[MAX_PATH];
  return ToPosixPath(path, posix) && rmdir(posix) == 0 ? 1 : 0;
}

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES*) {
  char posix[MAX_PATH];
  // Private to the user, as the backups it will hold.
  return ToPosixPath(path, posix) && mkdir(posix, 0700) == 0 && chmod(posix, 0700) == 0 ? 1 : 0;
}
