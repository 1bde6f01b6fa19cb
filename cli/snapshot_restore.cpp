#include "snapshot_restore.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "database_file_check.h"
#include "list_format.h"
#include "quillet.h"
#include "standin_admin_api.h"

namespace quillet::cli {

std::string DatabaseNameProblem(const std::string& name) {
  constexpr std::size_t kLongestName = 8;
  if (name.empty() || name.size() > kLongestName) return "must have 1 to 8 characters";
  if (std::isalpha(static_cast<unsigned char>(name[0])) == 0) return "must start with a letter";
  for (const char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
      return "may hold only letters, digits and _";
    }
  }
  return "";
}

namespace {

JobResult Refused(std::string problem) {
  JobResult result;
  result.problem = std::move(problem);
  return result;
}

JobResult OtherClientLibrary(const RestoreRequest& request) {
  return Refused(
      "the client library is not the stand-in server, and quillet restores a backup "
      "only there: " +
      request.directory + " holds the backup of " + request.database +
      " as the server wrote it; restore it with the server's own restore tooling");
}

#if defined(_WIN32)

}  // namespace

JobResult RestoreSnapshotFolder(const RestoreRequest& request) {
  // quillet.exe has no stand-in servers.
  return OtherClientLibrary(request);
}

std::string BackupFileProblem(const std::string&) {
  return "quillet.exe has no stand-in server whose backups it could check";
}
std::string SnapshotFileProblem(const std::string&, const std::string&) { return ""; }
std::vector<UnfinishedRestore> UnfinishedRestores(const std::string&,
                                                  const std::vector<std::string>&) {
  return {};
}

#else

std::string InstalledName(const RestoreRequest& request) {
  return request.installAs.empty() ? request.database : request.installAs;
}

std::string BackupPath(const RestoreRequest& request) {
  return request.directory + "/" + request.database + ".db";
}

// A file's companions, as SQLite names them: the database itself, its log, the log's index and
// a rollback journal. All of them travel together, or the log of one file is replayed over
// another.
constexpr std::array<const char*, 4> kCompanions = {"", "-wal", "-shm", "-journal"};
// What the database being replaced is called while the restored one takes its place, and the
// copy of the backup until it is whole.
constexpr const char* kKeptSuffix = ".before-restore";
constexpr const char* kCopySuffix = ".restoring";

// SQLite's file header (https://www.sqlite.org/fileformat.html, "The Database Header").
constexpr std::size_t kHeaderSize = 100;
constexpr std::size_t kPageSizeOffset = 16;
constexpr std::size_t kWriteVersionOffset = 18;
constexpr unsigned char kWalVersion = 2;
constexpr std::size_t kChangeCounterOffset = 24;
constexpr std::size_t kPageCountOffset = 28;
constexpr std::size_t kValidForOffset = 92;
constexpr uint32_t kSmallestPage = 512;
constexpr uint32_t kLargestPage = 65536;
constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

std::string Reason() { return std::strerror(errno); }

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

uint32_t BigEndian(const unsigned char* at, std::size_t bytes) {
  uint32_t value = 0;
  for (std::size_t k = 0; k < bytes; ++k) value = (value << 8U) | at[k];
  return value;
}

std::string Bytes(off_t size) {
  return std::to_string(static_cast<long long>(size)) + (size == 1 ? " byte" : " bytes");
}

// Whether the file is a whole backup of a database: a SQLite database of the size its header
// gives, with no log beside it that it would need. Empty, or why not.
std::string CheckBackup(const std::string& path, int file, off_t* size) {
  struct stat info {};
  if (fstat(file, &info) != 0) return "cannot read " + path + ": " + Reason();
  if (!S_ISREG(info.st_mode)) return path + " is not a regular file, so it is no backup";
  std::array<unsigned char, kHeaderSize> header{};
  const ssize_t read = pread(file, header.data(), header.size(), 0);
  if (read < 0) return "cannot read " + path + ": " + Reason();
  if (static_cast<std::size_t>(read) != header.size() ||
      std::memcmp(header.data(), "SQLite format 3", 16) != 0) {
    return path + " is not a backup of a database: it does not start as a SQLite database file";
  }
  uint32_t page = BigEndian(&header[kPageSizeOffset], 2);
  if (page == 1) page = kLargestPage;
  if (page < kSmallestPage || page > kLargestPage || (page & (page - 1)) != 0) {
    return path + " is not a backup of a database: its header gives no valid page size";
  }
  const auto pages = static_cast<off_t>(BigEndian(&header[kPageCountOffset], 4));
  // The header's page count holds only when the change counter matches the version it was
  // written for; otherwise the file's size is all there is to go by.
  const bool counted = pages != 0 && BigEndian(&header[kChangeCounterOffset], 4) ==
                                         BigEndian(&header[kValidForOffset], 4);
  if (info.st_size % page != 0 || (counted && pages * page != info.st_size)) {
    return path + " is not a complete backup: it has " + Bytes(info.st_size) +
           (counted ? ", and its header gives " + Bytes(pages * page) : ", not whole pages");
  }
  for (const char* log : {"-wal", "-journal"}) {
    struct stat beside {};
    const std::string logPath = path + log;
    if (stat(logPath.c_str(), &beside) == 0 && beside.st_size > 0) {
      return path + " has a log beside it (" + logPath + ", " + Bytes(beside.st_size) +
             "): it is a copy of a live database file, not a backup that is whole on its own";
    }
  }
  // A file the server wrote as its backup never says so; a file copied by hand from a live
  // database does, and its latest changes may be in a log that stayed behind.
  if (header[kWriteVersionOffset] == kWalVersion ||
      header[kWriteVersionOffset + 1] == kWalVersion) {
    return path + " is in WAL mode: it is a copy of a live database file, whose latest changes " +
           "may be in a log that was not copied, not a backup that is whole on its own";
  }
  *size = info.st_size;
  return "";
}

// Whether SQLite finds the backup sound, before anything on the server changes: a file damaged
// inside keeps its size and header. Empty, or why not. A build without SQLite has no stand-in
// either, and restore refuses before any check.
std::string CheckPages(const std::string& path, PageReads reads) {
  if (!CanCheckDatabaseFiles()) return "";
  const std::string found = CheckDatabaseFile(path, false, reads);
  return found.empty() ? "" : path + " is damaged (SQLite's quick check: " + found + ")";
}

// Ctrl-C, a hang-up or kill wait while the server's database is changed over, so that they end
// the program with the restored database installed or the old one back, never neither.
class DeferredSignals {
 public:
  DeferredSignals() {
    sigset_t deferred;
    sigemptyset(&deferred);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&deferred, signal);
    pthread_sigmask(SIG_BLOCK, &deferred, &previous_);
  }
  DeferredSignals(const DeferredSignals&) = delete;
  DeferredSignals& operator=(const DeferredSignals&) = delete;
  ~DeferredSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_{};
};

// The backup's state once its last change is older than a tick of the clock that stamps files:
// a change after that always moves its change time, which no user can set back. A file that
// keeps changing is taken as it is; the state after the copy then differs.
bool SettledState(int file, struct stat* state) {
  constexpr long long kTick = 20'000'000;  // nanoseconds, two ticks at the coarsest
  for (int tries = 0; tries < 50; ++tries) {
    timespec now{};
    if (fstat(file, state) != 0 || clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    const long long age = (now.tv_sec - state->st_ctim.tv_sec) * 1'000'000'000LL +
                          (now.tv_nsec - state->st_ctim.tv_nsec);
    if (age >= kTick) break;
    usleep(20000);
  }
  return true;
}

// Whoever else may write the backup makes the database whatever they like, and no check of its
// bytes can tell (a write through a mapping moves not even its change time at once): the file
// must be this user's or the system's, and only its owner may write it.
std::string WriterProblem(const std::string& path, int file) {
  struct stat info {};
  if (fstat(file, &info) != 0) return "cannot read " + path + ": " + Reason();
  if (info.st_uid != geteuid() && info.st_uid != 0) {
    return path + " belongs to another user, who could make it any database: copy it into a " +
           "folder of yours and restore from there";
  }
  if ((info.st_mode & 022) != 0) {
    return path + " may be written by its group or others, who could make it any database " +
           "(chmod go-w " + path + ")";
  }
  return "";
}

bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// What a restore killed before its end left: the database it replaced, kept aside with its
// companions (suffixes of its file's name). The next restore of that name refuses until someone
// has decided what becomes of it; a restore killed after its install finished all but this.
std::string UnfinishedRestoreText(const std::string& server, const std::string& folder,
                                  const std::string& name, const std::vector<std::string>& kept,
                                  bool installed) {
  const std::string file = folder + "/" + name + ".db";
  std::string files;
  for (const std::string& suffix : kept) {
    files += (files.empty() ? "" : ", ") + file + suffix + kKeptSuffix;
  }
  if (installed) {
    return "a restore of " + name + " was installed but did not finish: the database it " +
           "replaced is still kept as " + files + ". Remove " + (kept.size() == 1 ? "it" : "them") +
           " once the restored " + name + " is as it should be, or move " +
           (kept.size() == 1 ? "it" : "them") + " elsewhere";
  }
  return "an earlier restore of " + name + " did not finish: the database it replaced is kept " +
         "as " + files + ". Put " + (kept.size() == 1 ? "it" : "them all") +
         " back (rename each to its name without " + kKeptSuffix + ", then 'quillet install-db " +
         server + " " + name + "') or remove " + (kept.size() == 1 ? "it" : "them") +
         ", then restore again";
}

// One restore, within the server's folder, which it holds open and locked throughout.
class Restore {
 public:
  Restore(const RestoreRequest& request, int folder, std::string folderPath)
      : request_(request),
        name_(InstalledName(request)),
        file_(name_ + ".db"),
        folder_(folder),
        folderPath_(std::move(folderPath)) {}

  JobResult Run(int backup, off_t size);

 private:
  bool Exists(const std::string& name) const {
    struct stat info {};
    return fstatat(folder_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  }
  std::string OnServer(const std::string& name) const { return folderPath_ + "/" + name; }
  void SyncFolder() const { (void)fsync(folder_); }

  std::string Connections(bool* inUse) const;
  std::string KeepOld();
  std::string PutOldBack();
  std::string CopyOut(int backup, off_t size);
  std::string PlaceCopy();
  void RemoveCopy();
  JobResult Replace(off_t size);
  JobResult Failed(JobResult result, const std::string& step);

  const RestoreRequest& request_;
  const std::string name_;
  const std::string file_;
  const int folder_;
  const std::string folderPath_;
  bool installed_ = false;
  // The companions of the old file that were moved aside, by suffix.
  std::vector<std::string> kept_;
  // Connections hold the database, and --kill-connections ends them.
  bool kill_ = false;
  // The restored file once it has its name, to be told from anything else of that name.
  bool copiedIn_ = false;
  dev_t copyDevice_ = 0;
  ino_t copyInode_ = 0;
};

// The connections that hold the database, named for the refusal; empty when none do, or what
// the library said when it could not list them.
std::string Restore::Connections(bool* inUse) const {
  std::vector<char> list(QUILLET_CONNECTION_LIST_SIZE);
  const int32_t code =
      ListConnections(request_.server.c_str(), request_.password.c_str(), list.data());
  list.back() = '\0';
  if (code != 0) return "the connections could not be listed: return code " + std::to_string(code);
  std::string named;
  int count = 0;
  for (const ConnectionRow& row : SplitConnectionList(list.data())) {
    if (row.database != name_) continue;
    ++count;
    named += (named.empty() ? "" : ", ") + std::string("process ") + row.process + " (user " +
             row.user + ", program " + row.program + ")";
  }
  *inUse = count > 0;
  if (count == 0) return "";
  return "the database " + name_ + " of server " + request_.server + " is held by " +
         (count == 1 ? std::string("1 connection: ") + named + "; end it"
                     : std::to_string(count) + " connections: " + named + "; end them");
}

std::string Restore::KeepOld() {
  for (const char* suffix : kCompanions) {
    const std::string from = file_ + suffix;
    if (!Exists(from)) continue;
    const std::string to = from + kKeptSuffix;
    if (renameat(folder_, from.c_str(), folder_, to.c_str()) != 0) {
      return "cannot keep " + OnServer(from) + " aside as " + OnServer(to) + ": " + Reason();
    }
    kept_.emplace_back(suffix);
  }
  SyncFolder();
  return "";
}

// Empty, or what could not be put back.
std::string Restore::PutOldBack() {
  std::string problem;
  for (const std::string& suffix : kept_) {
    const std::string kept = file_ + suffix + kKeptSuffix;
    if (renameat(folder_, kept.c_str(), folder_, (file_ + suffix).c_str()) != 0 &&
        problem.empty()) {
      problem =
          "cannot put " + OnServer(kept) + " back as " + OnServer(file_ + suffix) + ": " + Reason();
    }
  }
  SyncFolder();
  return problem;
}

// Copies the backup into the server's folder under a temporary name and syncs it, before
// anything on the server changes. The checks are made again on the copy, the bytes that will be
// installed: whoever may change the backup's folder could have swapped or rewritten the file
// since it was checked.
std::string Restore::CopyOut(int backup, off_t size) {
  const std::string copy = file_ + kCopySuffix;
  Descriptor target(openat(folder_, copy.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
  if (!target.valid()) return "cannot create " + OnServer(copy) + ": " + Reason();
  // Its owner could rewrite it in place while it is copied, and pages of two states can make a
  // file that SQLite finds sound but that never was a database.
  struct stat before {};
  std::string problem;
  if (!SettledState(backup, &before))
    problem = "cannot read " + BackupPath(request_) + ": " + Reason();
  std::vector<char> buffer(kCopyChunk);
  off_t done = 0;
  while (problem.empty() && done < size) {
    const ssize_t got = pread(backup, buffer.data(), buffer.size(), done);
    if (got <= 0) {
      problem = got < 0 ? "cannot read " + BackupPath(request_) + ": " + Reason()
                        : BackupPath(request_) + " became shorter while it was copied";
      break;
    }
    for (ssize_t written = 0; problem.empty() && written < got;) {
      const ssize_t wrote =
          write(target.get(), buffer.data() + written, static_cast<std::size_t>(got - written));
      if (wrote < 0) {
        if (errno != EINTR) problem = "cannot write " + OnServer(copy) + ": " + Reason();
      } else {
        written += wrote;
      }
    }
    done += got;
  }
  struct stat after {};
  if (problem.empty() &&
      (fstat(backup, &after) != 0 || before.st_size != size || !SameState(before, after))) {
    problem = BackupPath(request_) +
              " changed while it was copied: it is no backup that can be "
              "restored as it is";
  }
  struct stat info {};
  if (problem.empty() && (fchmod(target.get(), S_IRUSR | S_IWUSR) != 0 ||
                          fsync(target.get()) != 0 || fstat(target.get(), &info) != 0)) {
    problem = "cannot write " + OnServer(copy) + ": " + Reason();
  }
  if (problem.empty()) {
    off_t copied = 0;
    problem = CheckBackup(OnServer(copy), target.get(), &copied);
    if (problem.empty()) problem = CheckPages(OnServer(copy), PageReads::kCopied);
    // Named as the backup: the copy is gone when this is read.
    if (const std::size_t at = problem.find(OnServer(copy)); at != std::string::npos) {
      problem.replace(at, OnServer(copy).size(), BackupPath(request_) + " (as it was copied)");
    }
  }
  if (!problem.empty()) {
    (void)unlinkat(folder_, copy.c_str(), 0);
    return problem;
  }
  copyDevice_ = info.st_dev;
  copyInode_ = info.st_ino;
  return "";
}

// Gives the checked copy the database's name, which nothing else may hold by then.
std::string Restore::PlaceCopy() {
  const std::string copy = file_ + kCopySuffix;
  std::string problem;
  if (Exists(file_)) {
    problem = OnServer(file_) + " appeared while the backup was copied: it was left alone";
  } else if (renameat(folder_, copy.c_str(), folder_, file_.c_str()) != 0) {
    problem = "cannot rename " + OnServer(copy) + " to " + OnServer(file_) + ": " + Reason();
  }
  if (!problem.empty()) {
    (void)unlinkat(folder_, copy.c_str(), 0);
    return problem;
  }
  copiedIn_ = true;
  SyncFolder();
  return "";
}

// Removes the restored file, and the log and index a failed install may have made beside it:
// the old file's own were kept aside with it.
void Restore::RemoveCopy() {
  if (!copiedIn_) return;
  struct stat info {};
  if (fstatat(folder_, file_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      info.st_dev != copyDevice_ || info.st_ino != copyInode_) {
    return;
  }
  for (const char* suffix : kCompanions) (void)unlinkat(folder_, (file_ + suffix).c_str(), 0);
  copiedIn_ = false;
}

// After a failure once the old database was deinstalled: the restored file goes, the old one
// comes back and is installed again. result holds the failure; step says where it came.
JobResult Restore::Failed(JobResult result, const std::string& step) {
  if (result.code != 0) {
    const char* words = StandinLastMessage(result.code);
    result.detail = step + (words != nullptr && *words != '\0' ? ": " + std::string(words) : "");
  } else {
    result.problem = step + ": " + result.problem;
  }
  RemoveCopy();
  if (copiedIn_) {
    result.note = OnServer(file_) +
                  " is no longer the restored file, so it was left alone; the "
                  "old database is kept as " +
                  OnServer(file_ + kKeptSuffix);
    return result;
  }
  const std::string problem = PutOldBack();
  if (!problem.empty()) {
    result.note = problem + "; the old database is kept as " + OnServer(file_ + kKeptSuffix);
    return result;
  }
  if (kept_.empty()) {
    result.note = "nothing of " + name_ + " was on server " + request_.server +
                  " before, and "
                  "nothing is now";
    return result;
  }
  if (!installed_) {
    result.note = "the old file " + OnServer(file_) + " was put back as it was";
    return result;
  }
  const int32_t again =
      InstallDB(request_.server.c_str(), request_.password.c_str(), name_.c_str());
  if (again != 0) {
    result.note = "the old database's file was put back as " + OnServer(file_) +
                  ", but installing it again failed with return code " + std::to_string(again) +
                  ": run 'quillet install-db " + request_.server + " " + name_ + "'";
    return result;
  }
  result.note = "the old database " + name_ + " was put back and installed again";
  return result;
}

JobResult Restore::Run(int backup, off_t size) {
  JobResult result;
  std::array<char, QUILLET_DATABASE_LIST_SIZE> list{};
  result.code = DirDB(request_.server.c_str(), request_.password.c_str(), list.data());
  if (result.code != 0) return result;
  list.back() = '\0';
  for (const std::string& installed : SplitDatabaseList(list.data())) {
    if (installed == name_) installed_ = true;
  }
  std::vector<std::string> kept;
  for (const char* suffix : kCompanions) {
    if (Exists(file_ + suffix + kKeptSuffix)) kept.emplace_back(suffix);
  }
  if (!kept.empty()) {
    return Refused(UnfinishedRestoreText(request_.server, folderPath_, name_, kept, installed_));
  }
  // Under the lock, a copy of that name is an earlier restore's, which ended before its rename.
  (void)unlinkat(folder_, (file_ + kCopySuffix).c_str(), 0);
  // A stale index alone holds nothing of a database; it goes aside with the rest all the same.
  const bool onServer =
      installed_ || Exists(file_) || Exists(file_ + "-wal") || Exists(file_ + "-journal");
  if (onServer && !request_.replace) {
    const std::string what =
        installed_ ? "a database " + name_ + " is installed on server " + request_.server
                   : "server " + request_.server + " holds the file " + OnServer(file_) +
                         " of a database " + name_ + " that is not installed";
    return Refused(what +
                   "; --replace replaces it, keeping it until the restore has succeeded: nothing "
                   "was changed");
  }
  if (installed_) {
    bool inUse = false;
    const std::string holders = Connections(&inUse);
    if (!inUse && !holders.empty()) return Refused(holders + ": nothing was changed");
    if (inUse && !request_.killConnections) {
      return Refused(holders + ", or add --kill-connections: nothing was changed");
    }
    kill_ = inUse;
  }
  const std::string problem = CopyOut(backup, size);
  if (!problem.empty()) return Refused(problem + ": nothing was changed");
  result = Replace(size);
  // Until it has the database's name, the copy is this restore's alone.
  (void)unlinkat(folder_, (file_ + kCopySuffix).c_str(), 0);
  return result;
}

// Puts the checked copy in the place of whatever holds the name.
JobResult Restore::Replace(off_t size) {
  JobResult result;
  if (kill_) {
    const int32_t killed =
        KillAllConnections(request_.server.c_str(), request_.password.c_str(), name_.c_str());
    if (killed != 0) {
      result.code = killed;
      result.note = "killing the connections of " + name_ + " failed; nothing else was changed";
      return result;
    }
  }
  const DeferredSignals deferred;
  if (installed_) {
    result.code = DeinstallDB(request_.server.c_str(), request_.password.c_str(), name_.c_str());
    if (result.code != 0) {
      result.note =
          "deinstalling " + name_ + " failed, and it is installed as it was" +
          (result.code == STANDIN_DATABASE_IN_USE ? " (a connection came in meanwhile)" : "");
      return result;
    }
  }
  result.problem = KeepOld();
  if (result.problem.empty()) result.problem = PlaceCopy();
  if (!result.problem.empty()) return Failed(std::move(result), "restoring " + name_);
  result.code = InstallDB(request_.server.c_str(), request_.password.c_str(), name_.c_str());
  if (result.code != 0) {
    return Failed(std::move(result), "installing the restored " + OnServer(file_));
  }
  for (const std::string& suffix : kept_) {
    (void)unlinkat(folder_, (file_ + suffix + kKeptSuffix).c_str(), 0);
  }
  SyncFolder();
  result.summary = "restored " + request_.database + " from " + request_.directory +
                   (name_ != request_.database ? " as " + name_ : "") + ", " + Bytes(size) +
                   (kept_.empty() ? "" : ", replacing the database that was there");
  result.notice = name_ +
                  " has the one user SYSADM with the password SYSADM, as every database "
                  "the stand-in installs: set its passwords again ('quillet set-password " +
                  name_ + " SYSADM')";
  return result;
}

}  // namespace

std::string BackupFileProblem(const std::string& path) {
  const Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!file.valid()) return "cannot read " + path + ": " + Reason();
  off_t size = 0;
  return CheckBackup(path, file.get(), &size);
}

JobResult RestoreSnapshotFolder(const RestoreRequest& request) {
  const StandinAdminApi* standin = FindStandinAdminApi();
  if (standin == nullptr) return OtherClientLibrary(request);
  // The names become file names in the server's folder.
  for (const std::string* name : {&request.database, &request.installAs}) {
    if (name->empty() && name == &request.installAs) continue;
    const std::string problem = DatabaseNameProblem(*name);
    if (!problem.empty()) {
      return Refused(std::string(name == &request.database ? "DATABASE" : "--as NAME") + " " +
                     problem + ", as a database name of the stand-in");
    }
  }
  const std::string& server = request.server;
  if (server.empty() || server.find_first_of("/\\") != std::string::npos || server == "." ||
      server == "..") {
    return Refused("SERVER is no server name");
  }

  const std::string path = BackupPath(request);
  const Descriptor backup(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!backup.valid()) {
    const int error = errno;
    const std::string nested =
        request.directory + "/" + request.database + "/" + request.database + ".db";
    struct stat info {};
    if (error == ENOENT && stat(request.directory.c_str(), &info) != 0) {
      return Refused("there is no folder " + request.directory);
    }
    if (error == ENOENT) {
      return Refused(
          request.directory + " holds no backup of " + request.database +
          ": there is "
          "no " +
          path +
          (stat(nested.c_str(), &info) == 0
               ? " (all-snapshot wrote it into " + request.directory + "/" + request.database + ")"
               : ""));
    }
    return Refused("cannot read " + path + ": " + std::strerror(error));
  }
  off_t size = 0;
  std::string problem = WriterProblem(path, backup.get());
  if (problem.empty()) problem = CheckBackup(path, backup.get(), &size);
  // A file of the caller's choosing: read, not mapped.
  if (problem.empty()) problem = CheckPages(path, PageReads::kCopied);
  if (!problem.empty()) return Refused(problem + ": nothing was changed");

  const std::string folderPath = std::string(standin->root()) + "/" + server;
  const Descriptor folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) {
    const std::string reason = Reason();
    // The library says best why there is no such server.
    std::array<char, QUILLET_DATABASE_LIST_SIZE> list{};
    JobResult result;
    result.code = DirDB(server.c_str(), request.password.c_str(), list.data());
    if (result.code == 0) result.problem = "cannot open " + folderPath + ": " + reason;
    return result;
  }
  // One restore at a time on a server: a second one would take the first one's kept file for
  // the database to replace.
  if (flock(folder.get(), LOCK_EX | LOCK_NB) != 0) {
    return Refused(errno == EWOULDBLOCK ? "another restore is running on server " + server +
                                              "; try again when "
                                              "it has ended"
                                        : "cannot lock " + folderPath + ": " + Reason());
  }
  return Restore(request, folder.get(), folderPath).Run(backup.get(), size);
}

std::vector<UnfinishedRestore> UnfinishedRestores(const std::string& server,
                                                  const std::vector<std::string>& installed) {
  std::vector<UnfinishedRestore> found;
  const StandinAdminApi* standin = FindStandinAdminApi();
  if (standin == nullptr || server.find('/') != std::string::npos) return found;
  const std::string folder = std::string(standin->root()) + "/" + server;
  const std::string_view kept = kKeptSuffix;
  constexpr std::string_view kExtension = ".db";
  // By name, the suffixes of the kept companions.
  std::map<std::string, std::vector<std::string> > names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string file = entry.path().filename().string();
    const std::size_t extension = file.find(kExtension);
    if (extension == std::string::npos || file.size() < kept.size() ||
        file.compare(file.size() - kept.size(), kept.size(), kept) != 0) {
      continue;
    }
    const std::string name = file.substr(0, extension);
    const std::string suffix = file.substr(
        extension + kExtension.size(), file.size() - kept.size() - extension - kExtension.size());
    if (DatabaseNameProblem(name).empty() &&
        std::find(kCompanions.begin(), kCompanions.end(), suffix) != kCompanions.end()) {
      names[name].push_back(suffix);
    }
  }
  for (auto& [name, suffixes] : names) {
    // In the order a person moves them back: the database's file first.
    std::sort(suffixes.begin(), suffixes.end());
    const bool isInstalled = std::find(installed.begin(), installed.end(), name) != installed.end();
    found.push_back(
        {name, UnfinishedRestoreText(server, folder, name, suffixes, isInstalled), isInstalled});
  }
  return found;
}

std::string SnapshotFileProblem(const std::string& directory, const std::string& database) {
  RestoreRequest request;
  request.directory = directory;
  request.database = database;
  const std::string path = BackupPath(request);
  const std::string problem = BackupFileProblem(path);
  // The plan's own private folder, which only this run writes now.
  return problem.empty() ? CheckPages(path, PageReads::kMapped) : problem;
}

#endif

}  // namespace quillet::cli
