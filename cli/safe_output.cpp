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

// Whether the file is one this process holds open (its standard output through /dev/stdout,
// /proc/self/fd/N): the caller's redirection must get the rows, not lose its file to a rename.
bool IsOwnOpenFile(const struct stat& file) {
  auto same = [&file](int descriptor) {
    struct stat open {};
    return fstat(descriptor, &open) == 0 && open.st_dev == file.st_dev &&
           open.st_ino == file.st_ino;
  };
  DIR* descriptors = opendir("/proc/self/fd");
  if (descriptors == nullptr) return same(0) || same(1) || same(2);
  bool found = false;
  while (const dirent* entry = readdir(descriptors)) {
    const std::string name = entry->d_name;
    if (AllDigits(name) && std::stoi(name) != dirfd(descriptors) && same(std::stoi(name))) {
      found = true;
      break;
    }
  }
  closedir(descriptors);
  return found;
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
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid()) {
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
    // would put a plain file in its place; nor may a file this process holds open (/dev/stdout
    // redirected to a file) be replaced under its descriptor: the job writes into them directly.
    const bool regular = S_ISREG(existing.st_mode);
    if (!regular || IsOwnOpenFile(existing)) {
      if (regular && refused(target)) return std::nullopt;
      return SafeOutput(given, given, std::nullopt, true);
    }
    previous = Previous{existing.st_mode & 07777, existing.st_uid, existing.st_gid};
  }
#endif
  if (target != kStandardOutput && refused(target)) return std::nullopt;
  const std::string folder = Folder(target);
  const std::string name = target == kStandardOutput
                               ? std::string("quillet-export")
                               : std::filesystem::path(target).filename().string();
  RemoveStaleTemporaries(folder);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = folder + "/" + TemporaryName(name);
    // Created exclusively: never someone else's file, nor one that a link points to. Private
    // while it fills when it replaces a file (which may be private) or is only passing
    // through on its way to standard output.
    const bool privateFile = previous.has_value() || target == kStandardOutput;
    const int descriptor =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, privateFile ? 0600 : 0666);
    if (descriptor >= 0) {
      close(descriptor);
      Arm(temporary);
      return SafeOutput(target, temporary, previous, false);
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
      previous_(other.previous_),
      direct_(other.direct_),
      inPlace_(std::move(other.inPlace_)),
      settled_(other.settled_) {
  other.settled_ = true;
}

SafeOutput::~SafeOutput() {
  if (settled_ || direct_) return;
  (void)std::remove(temporary_.c_str());
  Disarm();
}

void SafeOutput::TakePreviousMode() const {
#if !defined(_WIN32)
  if (!previous_) return;
  // As writing into the old file would have kept them: its owner where allowed, and its mode.
  if (chown(temporary_.c_str(), previous_->owner, previous_->group) != 0) {
    // Another owner needs privileges; the file stays the caller's.
  }
  (void)chmod(temporary_.c_str(), previous_->mode);
#endif
}

std::string SafeOutput::Commit(std::ostream& out) {
  settled_ = true;
  if (direct_) return "";
  if (target_ == kStandardOutput) {
    std::ifstream file(temporary_, std::ios::binary);
    if (!file) {
      const std::string reason = "cannot read " + SystemReason(temporary_);
      (void)std::remove(temporary_.c_str());
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
    (void)std::remove(temporary_.c_str());
    Disarm();
    return out ? "" : "could not write to standard output" + reason;
  }
  TakePreviousMode();
  if (!Replace(temporary_, target_)) {
    const std::string reason = "cannot replace " + SystemReason(target_);
    (void)std::remove(temporary_.c_str());
    Disarm();
    return reason;
  }
  Disarm();
  return "";
}

std::string SafeOutput::Abandon(bool keepPartial) {
  settled_ = true;
  if (direct_) return "";
  if (keepPartial && target_ != kStandardOutput) {
    const std::string partial = target_ + ".partial";
    TakePreviousMode();
    if (Replace(temporary_, partial)) {
      Disarm();
      return "";
    }
    const std::string reason = "cannot keep the rows as " + SystemReason(partial);
    (void)std::remove(temporary_.c_str());
    Disarm();
    return reason;
  }
  (void)std::remove(temporary_.c_str());
  Disarm();
  return "";
}

}  // namespace quillet::cli
