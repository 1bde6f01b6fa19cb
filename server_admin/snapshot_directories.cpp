#include "server_admin/snapshot_directories.h"

#include <cstring>

#include "win32_file_standin/win32_file.h"

namespace quillet {

static_assert(kPathSize == MAX_PATH, "paths are Win32 paths");

bool ComposePath(char (&path)[kPathSize], const char* directory, const char* name) {
  path[0] = '\0';
  const std::size_t directoryLength = std::strlen(directory);
  const std::size_t nameLength = std::strlen(name);
  if (directoryLength + 1 + nameLength >= kPathSize) return false;
  std::memcpy(path, directory, directoryLength);
  path[directoryLength] = '\\';
  std::memcpy(path + directoryLength + 1, name, nameLength + 1);
  return true;
}

bool IsPlainDirectoryName(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  if (std::strpbrk(name, "\\/:") != nullptr) return false;
  return name[length - 1] != '.' && name[length - 1] != ' ';
}

void ClearDirectory(const char* directory) {
  char pattern[kPathSize];
  if (!ComposePath(pattern, directory, "*.*")) return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // "." and ".." and subdirectories are found too: DeleteFileA leaves them in place.
    char entry[kPathSize];
    if (ComposePath(entry, directory, found.cFileName)) DeleteFileA(entry);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void ResetDirectory(const char* directory) {
  ClearDirectory(directory);
  RemoveDirectoryA(directory);
  CreateDirectoryA(directory, nullptr);
}

}  // namespace quillet
