#include "safe_output.h"

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>
#include <vector>

namespace quillet::cli {
namespace {

// The longest file name, in bytes, that the systems take in a folder.
constexpr std::size_t kMaxNameBytes = 255;
// Between the target's name and the writer's tag in a temporary file's name.
constexpr std::string_view kTemporaryMark = ".quillet-";
// The random end of the tag, which keeps the names of one process's files apart.
constexpr std::size_t kRandomDigits = 6;
#if defined(_WIN32)
constexpr int kCloseOnExec = 0;
#else
constexpr int kCloseOnExec = O_CLOEXEC;
#endif

#if !defined(_WIN32)
// A process's start in clock ticks after boot, which tells it from a later process that got
// the same number; nullopt when /proc does not show the process.
std::optional<unsigned long long> StartTime(long process) {
  std::ifstream file("/proc/" + std::to_string(process) + "/stat");
  std::string text;
  if (!std::getline(file, text)) return std::nullopt;
  // The fields after the name in parentheses, which may hold anything, from the third on.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  for (int number = 3; fields >> field; ++number) {
    if (number == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return std::nullopt;
}

// The machine, so that a folder shared with other machines keeps their files: a hash of the
// host name (FNV-1a), as eight hex digits.
std::string MachineTag() {
  char host[256] = "";
  (void)gethostname(host, sizeof host - 1);
  uint32_t hash = 2166136261U;
  for (const char* c = host; *c != '\0'; ++c) {
    hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619U;
  }
  char tag[9];
  (void)std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(hash));
  return tag;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Whether the file name is a temporary file's of this machine whose process has ended.
bool LeftByEndedProcess(const std::string& name, const std::string& machine) {
  const std::size_t mark = name.rfind(kTemporaryMark);
  if (name.empty() || name[0] != '.' || mark == std::string::npos) return false;
  std::istringstream tag(name.substr(mark + kTemporaryMark.size()));
  std::string host, process, start, random;
  if (!std::getline(tag, host, '-') || !std::getline(tag, process, '-') ||
      !std::getline(tag, start, '-') || !std::getline(tag, random) || host != machine ||
      !AllDigits(process) || !AllDigits(start) || !AllDigits(random) ||
      random.size() != kRandomDigits) {
    return false;
  }
  const long number = std::strtol(process.c_str(), nullptr, 10);
  if (number == static_cast<long>(getpid())) return false;
  if (const std::optional<unsigned long long> started = StartTime(number)) {
    return *started != std::strtoull(start.c_str(), nullptr, 10);
  }
  return kill(static_cast<pid_t>(number), 0) != 0 && errno == ESRCH;
}
#endif

// "<machine>-<process>-<start>": who writes the temporary files of this process.
const std::string& WriterTag() {
#if defined(_WIN32)
  static const std::string tag = "00000000-" + std::to_string(_getpid()) + "-0";
#else
  static const std::string tag = MachineTag() + "-" + std::to_string(getpid()) + "-" +
                                 std::to_string(StartTime(getpid()).value_or(0));
#endif
  return tag;
}

// Cut to at most that many bytes, not inside a UTF-8 character.
std::string CutName(const std::string& name, std::size_t most) {
  if (name.size() <= most) return name;
  std::size_t end = most;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

bool Replace(const std::string& from, const std::string& to) {
#if defined(_WIN32)
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string Folder(const std::string& target) {
  if (target == kStandardOutput) {
    std::error_code ignored;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(ignored);
    return temporary.empty() ? "." : temporary.string();
  }
  const std::string folder = std::filesystem::path(target).parent_path().string();
  return folder.empty() ? "." : folder;
}

#if !defined(_WIN32)
// The kernel's rule for protected symbolic links, applied whether or not the kernel applies it:
// in a folder that others may write to (sticky, or writable by others), a link that neither
// this user nor the folder's owner made is not followed, or anyone could point the export at
// a file of this user's and have it replaced. Empty, or why the target is refused.
std::string RefuseOthersLink(const std::string& target, const std::string& folder) {
  struct stat link {};
  struct stat place {};
  if (lstat(target.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) ||
      stat(folder.c_str(), &place) != 0 || (place.st_mode & (S_ISVTX | S_IWOTH)) == 0 ||
      link.st_uid == geteuid() || link.st_uid == place.st_uid) {
    return "";
  }
  return target + " is a symbolic link of another user in a folder that others may write to: " +
         "it is not followed, so that nobody can point an export at a file of yours";
}

// The descriptor through which this process holds the file open for writing (its standard
// output through /dev/stdout, /proc/self/fd/N), or -1: the caller's redirection must get the
// rows, not lose its file to a rename. A descriptor open only for reading (< file) is no
// reason to write into the file.
int HeldForWriting(const struct stat& file) {
  auto writing = [&file](int descriptor) {
    struct stat open {};
    const int flags = fcntl(descriptor, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && fstat(descriptor, &open) == 0 &&
           open.st_dev == file.st_dev && open.st_ino == file.st_ino;
  };
  DIR* descriptors = opendir("/proc/self/fd");
  if (descriptors == nullptr) {
    for (const int standard : {1, 2, 0}) {
      if (writing(standard)) return standard;
    }
    return -1;
  }
  int found = -1;
  while (const dirent* entry = readdir(descriptors)) {
    const std::string name = entry->d_name;
    if (!AllDigits(name) || std::stoi(name) == dirfd(descriptors)) continue;
    const int descriptor = std::stoi(name);
    if ((found < 0 || descriptor < found) && writing(descriptor)) found = descriptor;
  }
  closedir(descriptors);
  return found;
}

// Writing into a file with another hard link changes it under every name: one in a stand-in
// server's folder may be a catalogue or a database, which no folder rule sees from here.
std::string RefuseHardLinked(const std::string& target, const struct stat& file,
                             const std::string& why) {
  if (file.st_nlink <= 1) return "";
  return target + " has another hard link and " + why +
         ": writing into it would change the file under every name it has (it could be a "
         "stand-in server's database); write it elsewhere, or remove the other link";
}

// A FILE that is a link to no file: followed, so that the link stays, only when it is the
// caller's own link in a folder nobody else may write to (nobody could have planted it), and
// the file it names would not itself be a link. Empty, with *target set to the file to create,
// or why it is refused; empty and *target untouched when FILE is no dangling link.
std::string FollowDanglingLink(const std::string& given, std::string* target) {
  struct stat link {};
  struct stat place {};
  if (lstat(given.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return "";
  const std::string folder = Folder(given);
  std::error_code failed;
  std::filesystem::path named = std::filesystem::read_symlink(given, failed);
  if (!failed && named.is_relative()) named = std::filesystem::path(folder) / named;
  struct stat beyond {};
  const bool ownLink = stat(folder.c_str(), &place) == 0 && link.st_uid == geteuid() &&
                       place.st_uid == geteuid() && (place.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  if (failed || !ownLink || lstat(named.c_str(), &beyond) == 0) {
    return given +
           " is a symbolic link to a file that does not exist, and not one of yours in a "
           "folder only you may write to: it is not followed";
  }
  *target = named.lexically_normal().string();
  return "";
}
#endif

#if !defined(_WIN32)
// The temporary file of the export under way, for the signal handler below: a fixed buffer
// and a flag, as a handler may neither allocate nor lock.
char pendingPath[4096];
volatile std::sig_atomic_t pending = 0;

// Ctrl-C, a hang-up, a kill or a reader that went away must not leave a hidden file of rows
// behind; the signal then does what it would have done.
void RemovePendingThenDie(int number) {
  if (pending != 0) unlink(pendingPath);
  (void)std::signal(number, SIG_DFL);
  (void)std::raise(number);
}

void Arm(const std::string& path) {
  if (path.size() >= sizeof pendingPath) return;
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  pending = 1;
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction current {};
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (sigaction(number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = RemovePendingThenDie;
    sigemptyset(&handler.sa_mask);
    sigaction(number, &handler, nullptr);
  }
}

void Disarm() { pending = 0; }
#else
void Arm(const std::string&) {}
void Disarm() {}
#endif

}  // namespace

std::string SystemReason(const std::string& path) { return path + ": " + std::strerror(errno); }

std::string TemporaryName(const std::string& name) {
  static std::mt19937 random{std::random_device{}()};
  std::string digits = std::to_string(random() % 1000000);
  digits.insert(0, kRandomDigits - digits.size(), '0');
  const std::string tag = std::string(kTemporaryMark) + WriterTag() + "-" + digits;
  // Hidden, and named after the target, so that a left-over one is recognised.
  return "." + CutName(name, kMaxNameBytes - 1 - tag.size()) + tag;
}

void RemoveStaleTemporaries(const std::string& folder) {
#if !defined(_WIN32)
  DIR* entries = opendir(folder.c_str());
  if (entries == nullptr) return;
  const std::string machine = MachineTag();
  while (const dirent* entry = readdir(entries)) {
    const std::string name = entry->d_name;
    if (!LeftByEndedProcess(name, machine)) continue;
    // Only this user's own plain files: never someone else's, never through a link.
    const std::string path = folder + "/" + name;
    struct stat info {};
    // One with another hard link is some other file's name too: kept.
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
        info.st_nlink == 1) {
      (void)unlink(path.c_str());
    }
  }
  closedir(entries);
#else
  (void)folder;
#endif
}

std::optional<SafeOutput> SafeOutput::Create(const std::string& given, std::string* error,
                                             const FolderRule& refuseFolder) {
  std::string target = given;
  std::optional<Previous> previous;
  int held = -1;
  // Why the file may not go where it would land, said before anything is written there.
  auto refused = [&](const std::string& path) {
    *error = refuseFolder ? refuseFolder(Folder(path)) : "";
    return !error->empty();
  };
#if !defined(_WIN32)
  struct stat existing {};
  if (given != kStandardOutput) {
    *error = RefuseOthersLink(given, Folder(given));
    if (!error->empty()) return std::nullopt;
  }
  if (given != kStandardOutput && stat(given.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      *error = given + " is a directory";
      return std::nullopt;
    }
    // Through a link, the file it names is replaced; the link stays.
    std::error_code failed;
    const std::filesystem::path resolved = std::filesystem::canonical(given, failed);
    if (!failed) target = resolved.string();
    // A device or a pipe (/dev/null, a FIFO) holds no previous file to keep, and replacing it
    // would put a plain file in its place: the job writes into it directly.
    if (!S_ISREG(existing.st_mode)) return SafeOutput(given, given, std::nullopt, true);
    // Nor may a file this process holds open for writing (/dev/stdout redirected to a file) be
    // replaced under its descriptor: the rows go through that descriptor.
    held = HeldForWriting(existing);
    if (held >= 0) {
      if (refused(target)) return std::nullopt;
      *error = RefuseHardLinked(given, existing, "this program holds it open for writing");
      if (!error->empty()) return std::nullopt;
    } else {
      previous = Previous{existing.st_mode & 07777, existing.st_uid, existing.st_gid};
    }
  } else if (given != kStandardOutput) {
    *error = FollowDanglingLink(given, &target);
    if (!error->empty()) return std::nullopt;
  }
#endif
  if (target != kStandardOutput && held < 0 && refused(target)) return std::nullopt;
  // A held file is filled from a temporary file where "-" is: nothing of it lands beside it.
  const bool passing = target == kStandardOutput || held >= 0;
  const std::string folder = Folder(passing ? std::string(kStandardOutput) : target);
  const std::string name =
      passing ? std::string("quillet-export") : std::filesystem::path(target).filename().string();
  RemoveStaleTemporaries(folder);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = folder + "/" + TemporaryName(name);
    // Created exclusively: never someone else's file, nor one that a link points to. Private
    // while it fills when it replaces a file (which may be private) or is only passing
    // through on its way elsewhere.
    const bool privateFile = previous.has_value() || passing;
    const int descriptor = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | kCloseOnExec,
                                privateFile ? 0600 : 0666);
    if (descriptor >= 0) {
      Arm(temporary);
      std::optional<SafeOutput> output(SafeOutput(target, temporary, previous, false));
      output->held_ = held;
#if !defined(_WIN32)
      // Kept open, and handed on by its descriptor: whoever may write the folder can swap the
      // name for a link, but not the file the descriptor holds.
      output->descriptor_ = descriptor;
      const std::string through = "/proc/self/fd/" + std::to_string(descriptor);
      struct stat opened {};
      struct stat shown {};
      if (fstat(descriptor, &opened) == 0 && stat(through.c_str(), &shown) == 0 &&
          opened.st_dev == shown.st_dev && opened.st_ino == shown.st_ino) {
        output->temporary_ = through;
      }
#else
      close(descriptor);
#endif
      return output;
    }
    if (errno != EEXIST) break;
  }
  const int failure = errno;
  const std::string reason = "cannot create a file in the folder " + SystemReason(folder);
#if !defined(_WIN32)
  // A file its user may write in a folder that refuses new files to this user (someone
  // else's, a read-only mount): the file is written as the library always wrote it, and the
  // caller says so. Any other failure (a full disk) fails the export before the previous file
  // is touched.
  const bool notAllowed = failure == EACCES || failure == EPERM || failure == EROFS;
  if (previous && notAllowed && access(given.c_str(), W_OK) == 0) {
    *error = RefuseHardLinked(
        given, existing,
        "its folder takes no temporary file (" + reason + "), so it would be written in place");
    if (!error->empty()) return std::nullopt;
    return SafeOutput(given, given, std::nullopt, true, reason);
  }
#else
  (void)failure;
#endif
  *error = reason;
  return std::nullopt;
}

SafeOutput::SafeOutput(SafeOutput&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      name_(std::move(other.name_)),
      previous_(other.previous_),
      direct_(other.direct_),
      inPlace_(std::move(other.inPlace_)),
      settled_(other.settled_),
      descriptor_(other.descriptor_),
      held_(other.held_) {
  other.settled_ = true;
  other.descriptor_ = -1;
}

SafeOutput::~SafeOutput() {
  if (settled_ || direct_) return;
  Remove();
}

void SafeOutput::Remove() {
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  (void)std::remove(name_.c_str());
  Disarm();
}

std::string SafeOutput::Swapped() const {
#if !defined(_WIN32)
  struct stat opened {};
  struct stat named {};
  if (descriptor_ >= 0 && (fstat(descriptor_, &opened) != 0 || lstat(name_.c_str(), &named) != 0 ||
                           opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)) {
    return "the temporary file " + name_ +
           " was replaced by someone else while the export ran: nothing was put in place";
  }
#endif
  return "";
}

void SafeOutput::TakePreviousMode() const {
#if !defined(_WIN32)
  if (!previous_ || descriptor_ < 0) return;
  // As writing into the old file would have kept them: its owner where allowed, and its mode;
  // on the file itself, never on whatever its name may name by now.
  if (fchown(descriptor_, previous_->owner, previous_->group) != 0) {
    // Another owner needs privileges; the file stays the caller's.
  }
  (void)fchmod(descriptor_, previous_->mode);
#endif
}

std::string SafeOutput::CopyTo(int held) const {
#if !defined(_WIN32)
  // Read through the temporary file's own descriptor, written through the held one: at its
  // position, or at its end when it appends.
  std::vector<char> block(1 << 16);
  if (lseek(descriptor_, 0, SEEK_SET) != 0) return "cannot read " + SystemReason(name_);
  for (;;) {
    const ssize_t got = read(descriptor_, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return "cannot read " + SystemReason(name_);
    if (got == 0) return "";
    for (ssize_t done = 0; done < got;) {
      const ssize_t wrote = write(held, block.data() + done, static_cast<std::size_t>(got - done));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote < 0) return "cannot write " + SystemReason(target_);
      done += wrote;
    }
  }
#else
  (void)held;
  return "";
#endif
}

std::string SafeOutput::Commit(std::ostream& out) {
  settled_ = true;
  if (direct_) return "";
  if (held_ >= 0) {
    const std::string reason = CopyTo(held_);
    Remove();
    return reason;
  }
  if (target_ == kStandardOutput) {
    std::ifstream file(temporary_, std::ios::binary);
    if (!file) {
      const std::string reason = "cannot read " + SystemReason(name_);
      Remove();
      return reason;
    }
    // Block by block, each write checked: a reader that went away while SIGPIPE is ignored
    // fails a write, and the rows it did not get must not pass for an export.
    std::vector<char> block(1 << 16);
    errno = 0;
    while (out && (file.read(block.data(), static_cast<std::streamsize>(block.size())) ||
                   file.gcount() > 0)) {
      out.write(block.data(), file.gcount());
    }
    out.flush();
    const std::string reason = errno != 0 ? std::string(": ") + std::strerror(errno) : "";
    Remove();
    return out ? "" : "could not write to standard output" + reason;
  }
  TakePreviousMode();
  std::string reason = Swapped();
  if (!reason.empty()) {
    // The name is someone else's now: neither renamed nor removed.
    if (descriptor_ >= 0) close(descriptor_);
    descriptor_ = -1;
    Disarm();
    return reason;
  }
  if (!Replace(name_, target_)) {
    reason = "cannot replace " + SystemReason(target_);
    Remove();
    return reason;
  }
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  Disarm();
  return "";
}

std::string SafeOutput::Abandon(bool keepPartial) {
  settled_ = true;
  if (direct_) return "";
  if (keepPartial && target_ != kStandardOutput && held_ < 0) {
    const std::string partial = target_ + ".partial";
    TakePreviousMode();
    std::string reason = Swapped();
    if (reason.empty() && Replace(name_, partial)) {
      if (descriptor_ >= 0) close(descriptor_);
      descriptor_ = -1;
      Disarm();
      return "";
    }
    if (reason.empty()) {
      reason = "cannot keep the rows as " + SystemReason(partial);
      Remove();
    } else {
      if (descriptor_ >= 0) close(descriptor_);
      descriptor_ = -1;
      Disarm();
    }
    return reason;
  }
  Remove();
  return "";
}

}  // namespace quillet::cli
