#include "standin_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "last_message.h"
#include "process_identity.h"
#include "standin_admin.h"

namespace standin {
namespace {

constexpr const char* kDraftMarker = ".standin-draft-";
constexpr const char* kOldDraftMarker = ".db.draft.";

// A number as DraftName writes it: digits without a leading zero, and 0 only when allowed
// (a start time that was unknown).
bool TakeNumber(const char*& text, int64_t* number, bool zero = false) {
  if (zero && text[0] == '0' && !std::isdigit(static_cast<unsigned char>(text[1]))) {
    *number = 0;
    ++text;
    return true;
  }
  if (!std::isdigit(static_cast<unsigned char>(*text)) || *text == '0') return false;
  *number = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    if (*number > (INT64_MAX - 9) / 10) return false;
    *number = *number * 10 + (*text - '0');
  }
  return true;
}

// True for "" and the side files SQLite makes beside a database.
bool IsSideFileSuffix(const char* text) {
  return *text == '\0' || std::strcmp(text, "-journal") == 0 || std::strcmp(text, "-wal") == 0 ||
         std::strcmp(text, "-shm") == 0;
}

// The process that wrote a draft of this name; false when the name is no draft's, exactly:
// "<target>.standin-draft-<pid>-<start>-<call>" as DraftName makes it, or a database's
// "<database>.db.draft.<pid>" of earlier versions, either with a SQLite side file's ending.
// A name that merely holds a marker is someone's file, not a draft.
bool DraftWriter(const std::string& name, ProcessIdentity* writer) {
  int64_t call = 0;
  const std::size_t marker = name.rfind(kDraftMarker);
  if (marker != std::string::npos && marker > 0) {
    const char* at = name.c_str() + marker + std::strlen(kDraftMarker);
    return TakeNumber(at, &writer->pid) && *at++ == '-' && TakeNumber(at, &writer->started, true) &&
           *at++ == '-' && TakeNumber(at, &call) && IsSideFileSuffix(at);
  }
  const std::size_t old = name.find(kOldDraftMarker);
  if (old != std::string::npos && IsDatabaseName(name.substr(0, old).c_str())) {
    const char* at = name.c_str() + old + std::strlen(kOldDraftMarker);
    writer->started = 0;
    return TakeNumber(at, &writer->pid) && IsSideFileSuffix(at);
  }
  return false;
}

bool IsNameOf(const char* name, std::size_t longest, const char* extra, bool letterFirst) {
  if (name == nullptr) return false;
  const std::size_t length = std::strlen(name);
  if (length == 0 || length > longest) return false;
  const auto first = static_cast<unsigned char>(name[0]);
  if (letterFirst ? !std::isalpha(first) : !std::isalnum(first) && first != '_') return false;
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && std::strchr(extra, c) == nullptr) return false;
  }
  return true;
}

}  // namespace

bool IsServerName(const char* name) { return IsNameOf(name, kMaxServerName, "_-", false); }
bool IsDatabaseName(const char* name) { return IsNameOf(name, kMaxDatabaseName, "_", true); }
bool IsUserName(const char* name) { return IsNameOf(name, kMaxUserName, "_", true); }

std::string RootFolder() {
  const char* root = std::getenv("QUILLET_STANDIN_ROOT");
  if (root != nullptr && root[0] != '\0') return root;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.quillet-standin";
  return "/tmp/quillet-standin";
}

std::string ServerFolder(const std::string& server) { return RootFolder() + "/" + server; }

std::string CataloguePath(const std::string& server) {
  return ServerFolder(server) + "/standin.catalogue";
}

std::string DatabasePath(const std::string& server, const std::string& database) {
  return ServerFolder(server) + "/" + database + ".db";
}

std::string NativePath(const char* path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) == 0) {
      if (chmod(part.c_str(), 0700) != 0) return false;
    } else if (errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int16_t CheckFolder(const std::string& folder) {
  struct stat link {};
  struct stat info {};
  if (lstat(folder.c_str(), &link) != 0 || stat(folder.c_str(), &info) != 0) {
    return STANDIN_NO_SUCH_SERVER;
  }
  const uid_t self = geteuid();
  // Another user who owns the folder, or may write to it, can plant or swap any file in it.
  if (link.st_uid != self || info.st_uid != self) {
    return Report(STANDIN_UNSAFE_FOLDER,
                  "the folder " + folder + " (or a link on its way) belongs to another user");
  }
  if (!S_ISDIR(info.st_mode)) {
    return Report(STANDIN_UNSAFE_FOLDER, "the folder " + folder + " is not a folder");
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Report(STANDIN_UNSAFE_FOLDER, "the folder " + folder +
                                             " may be written by group or others; make it "
                                             "private: chmod 700 " +
                                             folder);
  }
  return 0;
}

bool IsInServerFolder(int folder) {
  // O_PATH: a folder on the way up that this user may search but not list still counts.
  int at = openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  // Deep enough for any real path; a loop of mounts cannot keep it going.
  for (int depth = 0; at >= 0 && depth < 4096; ++depth) {
    struct stat info {};
    struct stat here {};
    struct stat up {};
    if (fstatat(at, "standin.catalogue", &info, AT_SYMLINK_NOFOLLOW) == 0) {
      close(at);
      return true;
    }
    const int parent = openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const bool top = parent < 0 || fstat(at, &here) != 0 || fstat(parent, &up) != 0 ||
                     (here.st_dev == up.st_dev && here.st_ino == up.st_ino);
    close(at);
    at = parent;
    if (top) break;
  }
  if (at >= 0) close(at);
  return false;
}

std::string DraftName(const std::string& target) {
  static std::atomic<uint64_t> calls{0};
  const ProcessIdentity self = ThisProcess();
  return target + kDraftMarker + std::to_string(self.pid) + "-" + std::to_string(self.started) +
         "-" + std::to_string(++calls);
}

void RemoveStaleDrafts(const std::string& folder) {
  const int opened = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (opened < 0) return;
  RemoveStaleDrafts(opened);
  close(opened);
}

void RemoveStaleDrafts(int folder) {
  // A listing of its own, which closes its own descriptor.
  const int listed = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (listed < 0) return;
  DIR* directory = fdopendir(listed);
  if (directory == nullptr) {
    close(listed);
    return;
  }
  rewinddir(directory);
  const uid_t self = geteuid();
  while (const dirent* entry = readdir(directory)) {
    ProcessIdentity writer{};
    struct stat info {};
    // A file of one name only: a second link to it would be another file of this user's.
    if (DraftWriter(entry->d_name, &writer) && !IsAlive(writer) &&
        fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
        info.st_uid == self && info.st_nlink == 1) {
      unlinkat(folder, entry->d_name, 0);
    }
  }
  closedir(directory);
}

Draft::~Draft() {
  if (file_ >= 0 && !installed_ && NameIsDraft(draftName_))
    unlinkat(folder_, draftName_.c_str(), 0);
  if (file_ >= 0) close(file_);
  if (folder_ >= 0) close(folder_);
}

bool Draft::OpenFolder(const std::string& folder, bool followLink) {
  folderPath_ = folder;
  folder_ =
      open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  return folder_ >= 0;
}

bool Draft::InServerFolder() const { return IsInServerFolder(folder_); }

bool Draft::Create(const std::string& name) {
  RemoveStaleDrafts(folder_);
  name_ = name;
  draftName_ = DraftName(name);
  file_ =
      openat(folder_, draftName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file_ < 0) return false;
  struct stat info {};
  if (fchmod(file_, 0600) != 0 || fstat(file_, &info) != 0) {
    const int reason = errno;
    unlinkat(folder_, draftName_.c_str(), 0);
    close(file_);
    file_ = -1;
    errno = reason;
    return false;
  }
  device_ = info.st_dev;
  inode_ = info.st_ino;
  return true;
}

bool Draft::NameIsDraft(const std::string& name) const {
  struct stat info {};
  return fstatat(folder_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
         info.st_dev == device_ && info.st_ino == inode_;
}

int16_t Draft::Install(const std::string& what) {
  if (fsync(file_) != 0) {
    return Report(STANDIN_FILE_ERROR, "cannot write " + what + " " + SystemReason(Path()));
  }
  // Another user who may write to the folder can swap the name for a file or link of theirs at
  // any moment: only the file written here is put in place.
  if (!NameIsDraft(draftName_)) {
    return Report(STANDIN_FILE_ERROR, "cannot write " + what + " " + TargetPath() + ": its draft " +
                                          Path() + " was replaced by another file meanwhile");
  }
  if (renameat(folder_, draftName_.c_str(), folder_, name_.c_str()) != 0) {
    return Report(STANDIN_FILE_ERROR, "cannot write " + what + " " + SystemReason(TargetPath()));
  }
  installed_ = true;
  // A swap in the moment between the look and the rename put another file in place: a link or a
  // file of another user. (A file of this user there is the draft, or the copy of another
  // backup of this user that took its place since.)
  struct stat info {};
  if (fstatat(folder_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
      info.st_uid != geteuid()) {
    return Report(STANDIN_FILE_ERROR, "cannot write " + what + " " + TargetPath() +
                                          ": another file took the place of its draft while it "
                                          "was put in place");
  }
  if (fsync(folder_) != 0) {
    return Report(STANDIN_FILE_ERROR, "cannot write " + what + " " + SystemReason(TargetPath()));
  }
  return 0;
}

bool MakePrivateFile(const std::string& path) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) return false;
  const bool made = fchmod(file, 0600) == 0;
  close(file);
  if (!made) unlink(path.c_str());
  return made;
}

}  // namespace standin
