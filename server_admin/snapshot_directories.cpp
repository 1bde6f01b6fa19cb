#include "server_admin/snapshot_directories.h"

#include <cstring>

#include "platform/win32_file.h"

namespace quillet {

static_assert(kPathSize == MAX_PATH, "paths are Win32 paths");

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows compares names without regard to case, so "A.PARTIAL" is database A's backup too.
bool EndsInPartialSuffix(const char* name, std::size_t length) {
  const std::size_t suffixLength = std::strlen(kPartialSuffix);
  if (length < suffixLength) return false;
  for (std::size_t i = 0; i < suffixLength; ++i) {
    if (Upper(name[length - suffixLength + i]) != Upper(kPartialSuffix[i])) return false;
  }
  return true;
}

// A port number: a digit, or the superscripts one, two and three of the ANSI code page.
bool IsPortDigit(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') || byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

#if defined(_WIN32)
// The directory itself, opened so that nobody can rename or remove it while it is held (no
// delete sharing): a junction swapped in for it while it is emptied would otherwise lead
// DeleteFileA into the junction's target. Held only when it is a plain directory.
class DirectoryHold {
 public:
  explicit DirectoryHold(const char* directory)
      : handle_(CreateFileA(directory, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)) {
    BY_HANDLE_FILE_INFORMATION information;
    if (handle_ != INVALID_HANDLE_VALUE &&
        (!GetFileInformationByHandle(handle_, &information) ||
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }
  ~DirectoryHold() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  DirectoryHold(const DirectoryHold&) = delete;
  DirectoryHold& operator=(const DirectoryHold&) = delete;
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};
#else
// The Linux DeleteFileA (platform/) goes through no link in the directory's place by itself.
class DirectoryHold {
 public:
  explicit DirectoryHold(const char*) {}
  bool Held() const { return true; }
};
#endif

// Moves every file directly inside `from` into `to`, both held on Windows as while emptying;
// subdirectories stay. False when a file could not be moved.
bool MoveFiles(const char* from, const char* to) {
  char pattern[kPathSize];
  if (!ComposePath(pattern, from, "*.*")) return false;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  // Nothing there to move (the backup wrote nothing the search can reach).
  if (search == INVALID_HANDLE_VALUE) return true;
  const DirectoryHold heldFrom(from);
  const DirectoryHold heldTo(to);
  bool moved = true;
  do {
    const char* name = found.cFileName;
    // Not an entry of this directory, as in ClearDirectory: never composed, never the backup's.
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        std::strpbrk(name, "\\/:") != nullptr) {
      continue;
    }
    char source[kPathSize];
    char target[kPathSize];
    if (!ComposePath(source, from, name) || !ComposePath(target, to, name)) {
      moved = false;
      continue;
    }
    const DWORD attributes = GetFileAttributesA(source);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      continue;
    }
    if (!heldFrom.Held() || !heldTo.Held() ||
        !MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING)) {
      moved = false;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return moved;
}

}  // namespace

bool ComposePath(char (&path)[kPathSize], const char* directory, const char* name,
                 const char* suffix) {
  path[0] = '\0';
  const std::size_t directoryLength = std::strlen(directory);
  const std::size_t nameLength = std::strlen(name);
  const std::size_t suffixLength = std::strlen(suffix);
  if (directoryLength + 1 + nameLength + suffixLength >= kPathSize) return false;
  std::memcpy(path, directory, directoryLength);
  path[directoryLength] = '\\';
  std::memcpy(path + directoryLength + 1, name, nameLength);
  std::memcpy(path + directoryLength + 1 + nameLength, suffix, suffixLength + 1);
  return true;
}

bool IsPlainDirectoryName(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  if (std::strpbrk(name, "\\/:") != nullptr) return false;
  if (name[length - 1] == '.' || name[length - 1] == ' ') return false;
  return !EndsInPartialSuffix(name, length) && !IsDeviceName(name);
}

bool IsDeviceName(const char* name) {
  // The base name: up to the first dot, without the blanks that end it.
  std::size_t length = std::strcspn(name, ".");
  while (length > 0 && name[length - 1] == ' ') --length;
  char base[4];
  if (length < 3 || length > sizeof base) return false;
  for (std::size_t i = 0; i < 3; ++i) base[i] = Upper(name[i]);
  base[3] = '\0';
  if (length == 3) {
    return std::strcmp(base, "CON") == 0 || std::strcmp(base, "PRN") == 0 ||
           std::strcmp(base, "AUX") == 0 || std::strcmp(base, "NUL") == 0;
  }
  return (std::strcmp(base, "COM") == 0 || std::strcmp(base, "LPT") == 0) && IsPortDigit(name[3]);
}

bool IsLink(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void ClearDirectory(const char* directory) {
  if (IsLink(directory)) return;
  char pattern[kPathSize];
  if (!ComposePath(pattern, directory, "*.*")) return;
  const DirectoryHold hold(directory);
  if (!hold.Held()) return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // "." and ".." and subdirectories are found too: DeleteFileA leaves them in place. A name
    // holding a separator or a colon names no entry of this directory: Windows allows none in
    // a file name, so it comes from the lossy conversion to the ANSI code page (fullwidth
    // dots and backslashes read as "..\"), and on Linux from a file named so. Composed, it
    // would reach outside the directory, so it is left alone.
    char entry[kPathSize];
    if (std::strpbrk(found.cFileName, "\\/:") == nullptr &&
        ComposePath(entry, directory, found.cFileName)) {
      DeleteFileA(entry);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

bool ResetDirectory(const char* directory) {
  if (IsLink(directory)) return false;
  ClearDirectory(directory);
  RemoveDirectoryA(directory);
  CreateDirectoryA(directory, nullptr);
  // Someone may have put a link in the removed directory's place before it was made again.
  return !IsLink(directory);
}

void RemoveDirectoryAndFiles(const char* directory) {
  ClearDirectory(directory);
  RemoveDirectoryA(directory);
}

bool MoveBackupIntoPlace(const char* partial, const char* directory) {
  if (IsLink(partial) || !ResetDirectory(directory)) return false;
  const bool moved = MoveFiles(partial, directory);
  // Only when empty: a file that was not moved is the only copy of its part of the backup.
  RemoveDirectoryA(partial);
  return moved;
}

}  // namespace quillet
