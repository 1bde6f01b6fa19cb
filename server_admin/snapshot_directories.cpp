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
  if (name[length - 1] == '.' || name[length - 1] == ' ') return false;
  return !IsDeviceName(name);
}

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A port number: a digit, or the superscripts one, two and three of the ANSI code page.
bool IsPortDigit(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') || byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

}  // namespace

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

namespace {

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
// The file stand-in's DeleteFileA goes through no link in the directory's place by itself.
class DirectoryHold {
 public:
  explicit DirectoryHold(const char*) {}
  bool Held() const { return true; }
};
#endif

}  // namespace

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

}  // namespace quillet
