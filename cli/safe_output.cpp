#include "safe_output.h"

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace quillet::cli {
namespace {

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

std::optional<SafeOutput> SafeOutput::Create(const std::string& given, std::string* error) {
  std::string target = given;
  std::optional<Previous> previous;
#if !defined(_WIN32)
  struct stat existing {};
  if (given != kStandardOutput && stat(given.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      *error = given + " is a directory";
      return std::nullopt;
    }
    // A device or a pipe (/dev/null, /dev/stdout, a FIFO) holds no previous file to keep, and
    // replacing it would put a plain file in its place: the job writes into it directly.
    if (!S_ISREG(existing.st_mode)) return SafeOutput(given, given, std::nullopt, true);
    // Through a link, the file it names is replaced; the link stays.
    std::error_code failed;
    const std::filesystem::path resolved = std::filesystem::canonical(given, failed);
    if (!failed) target = resolved.string();
    previous = Previous{existing.st_mode & 07777, existing.st_uid, existing.st_gid};
  }
#endif
  const std::string folder = Folder(target);
  const std::string name = target == kStandardOutput
                               ? std::string("quillet-export")
                               : std::filesystem::path(target).filename().string();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Hidden, and named after the target so that a left-over one is recognised.
    const std::string temporary =
        folder + "/." + name + ".quillet-" + std::to_string(random() % 1000000);
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
  *error = "cannot create a file in the folder " + SystemReason(folder);
  return std::nullopt;
}

SafeOutput::SafeOutput(SafeOutput&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      previous_(other.previous_),
      direct_(other.direct_),
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
    out << file.rdbuf();
    out.flush();
    (void)std::remove(temporary_.c_str());
    Disarm();
    return out ? "" : "could not write to standard output";
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
