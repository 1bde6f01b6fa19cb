#include "server_admin/snapshot_directories.h"

#include <chrono>
#include <cstring>

#if !defined(_WIN32)
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#endif

#include "platform/win32_file.h"

namespace quillet {

static_assert(kPathSize == MAX_PATH, "paths are Win32 paths");

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows compares names without regard to case, so "A.PARTIAL" is database A's backup too.
bool EndsIn(const char* name, std::size_t length, const char* suffix) {
  const std::size_t suffixLength = std::strlen(suffix);
  if (length < suffixLength) return false;
  for (std::size_t i = 0; i < suffixLength; ++i) {
    if (Upper(name[length - suffixLength + i]) != Upper(suffix[i])) return false;
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

const char* FollowRootLink(const char* root, char (&resolved)[kPathSize]) {
#if defined(_WIN32)
  static_cast<void>(resolved);
  return root;
#else
  char posix[kPathSize];
  const std::size_t length = std::strlen(root);
  if (length >= kPathSize) return root;
  for (std::size_t i = 0; i <= length; ++i) posix[i] = root[i] == '\\' ? '/' : root[i];
  struct stat status {};
  if (lstat(posix, &status) != 0 || !S_ISLNK(status.st_mode)) return root;
  char target[PATH_MAX];
  if (realpath(posix, target) == nullptr || std::strlen(target) >= kPathSize) return root;
  std::memcpy(resolved, target, std::strlen(target) + 1);
  return resolved;
#endif
}

bool IsRootOthersMayChange(const char* root) {
#if defined(_WIN32)
  static_cast<void>(root);
  return false;
#else
  char posix[kPathSize];
  const std::size_t length = std::strlen(root);
  if (length >= kPathSize) return false;
  for (std::size_t i = 0; i <= length; ++i) posix[i] = root[i] == '\\' ? '/' : root[i];
  struct stat status {};
  return stat(posix, &status) == 0 && S_ISDIR(status.st_mode) &&
         (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0;
#endif
}

bool IsPlainDirectoryName(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  if (std::strpbrk(name, "\\/:") != nullptr) return false;
  if (name[length - 1] == '.' || name[length - 1] == ' ') return false;
  if (EndsIn(name, length, kPartialSuffix) || EndsIn(name, length, kPriorSuffix)) return false;
  if (length == std::strlen(kRootLockName) && EndsIn(name, length, kRootLockName)) return false;
  return !IsDeviceName(name);
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

bool IsNonDirectory(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
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

namespace {

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// What a directory holds, as far as telling a finished swap from an unfinished one goes.
enum class Contents { kNothing, kFile, kOther };

Contents ContentsOf(const char* directory) {
  char pattern[kPathSize];
  if (!ComposePath(pattern, directory, "*.*")) return Contents::kOther;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return Contents::kOther;
  Contents contents = Contents::kNothing;
  do {
    if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
    char entry[kPathSize];
    const DWORD attributes = ComposePath(entry, directory, found.cFileName)
                                 ? GetFileAttributesA(entry)
                                 : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
      contents = Contents::kFile;
      break;
    }
    contents = Contents::kOther;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return contents;
}

}  // namespace

bool SettleStoppedRun(const char* directory, const char* prior) {
  if (!Exists(prior) || IsLink(prior) || IsLink(directory) || IsNonDirectory(prior)) return true;
  if (!Exists(directory)) return MoveFileExA(prior, directory, 0) != 0;
  switch (ContentsOf(directory)) {
    case Contents::kFile:
      // Only a finished swap puts backup files under the name: the prior was already replaced.
      RemoveDirectoryAndFiles(prior);
      return true;
    case Contents::kNothing:
      // An empty directory made under the name after the run stopped holds no backup; the
      // prior is the last complete one.
      return RemoveDirectoryA(directory) != 0 && MoveFileExA(prior, directory, 0) != 0;
    case Contents::kOther:
      break;
  }
  // Neither is clearly the backup: both stay for a person to judge.
  return false;
}

bool PutBackupInPlace(const char* partial, const char* directory, const char* prior) {
  // A prior that stayed (something in it could not be deleted) would be neither replaced nor
  // merged into: the previous backup keeps its name instead.
  if (IsLink(partial) || IsLink(directory) || Exists(prior)) return false;
  // The backup wrote nothing that can be reached here (a root that does not exist): there is
  // nothing to put in place, and the previous backup stays.
  if (!Exists(partial)) return true;
  const bool hadPrevious = Exists(directory);
  if (hadPrevious && !MoveFileExA(directory, prior, 0)) return false;
  if (!MoveFileExA(partial, directory, 0)) {
    if (hadPrevious) MoveFileExA(prior, directory, 0);
    return false;
  }
  if (hadPrevious) RemoveDirectoryAndFiles(prior);
  return true;
}

RootLock::RootLock(const char* root, unsigned waitMilliseconds) : handle_(INVALID_HANDLE_VALUE) {
  char path[kPathSize];
  if (!ComposePath(path, root, kRootLockName)) return;
  constexpr unsigned kRetryMilliseconds = 100;
  // By the clock: each try and each sleep take longer than their nominal time.
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    handle_ =
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ != INVALID_HANDLE_VALUE) return;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
      // Something that is no lockable file in the lock's place (a directory, a link, a FIFO)
      // would let runs go on unlocked beside each other: it counts as held, at once.
      if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) break;
      return;
    }
    if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(waitMilliseconds)) {
      break;
    }
    Sleep(kRetryMilliseconds);
  }
  inUse_ = true;
}

RootLock::~RootLock() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

}  // namespace quillet
