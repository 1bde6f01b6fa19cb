#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>

#include "durable.h"

namespace quillet::cli::plan {
namespace {

bool Sync(const std::filesystem::path& path, int flags) {
  const int file = open(path.c_str(), flags | O_CLOEXEC);
  if (file < 0) return false;
  const bool synced = fsync(file) == 0;
  close(file);
  return synced;
}

}  // namespace

bool SyncFile(const std::filesystem::path& path) { return Sync(path, O_RDONLY | O_NOFOLLOW); }

bool SyncFolder(const std::filesystem::path& path) { return Sync(path, O_RDONLY | O_DIRECTORY); }

std::string RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    return "cannot rename " + from.string() + " to " + to.string() + ": " + std::strerror(errno);
  }
  return "";
}

std::string MakePrivateFolder(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
    // The folders on the way, the snapshot root among them, are made writable by this user
    // alone whatever the umask: the next run refuses a root that others may write.
    std::filesystem::path made;
    for (const std::filesystem::path& part : path.parent_path()) {
      made /= part;
      (void)mkdir(made.c_str(), 0755);
    }
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create " + path.string() + ": " + std::strerror(errno);
    }
  }
  return CheckPrivateFolder(path);
}

std::string CheckPrivateFolder(const std::filesystem::path& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return "";
    return "cannot read " + path.string() + ": " + std::strerror(errno);
  }
  if (!S_ISDIR(info.st_mode)) return path.string() + " is not a folder (a link is not taken)";
  if (info.st_uid != geteuid()) return path.string() + " belongs to another user";
  if ((info.st_mode & 022) != 0) {
    return path.string() + " can be written by group or others: chmod 700 " + path.string();
  }
  return "";
}

std::string CheckPrivateFile(const std::filesystem::path& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return "";
    return "cannot read " + path.string() + ": " + std::strerror(errno);
  }
  if (!S_ISREG(info.st_mode)) return path.string() + " is not a regular file (a link is not taken)";
  if (info.st_uid != geteuid()) return path.string() + " belongs to another user";
  return "";
}

std::string ReadSharedFile(const std::filesystem::path& file, std::string& text, bool& untrusted) {
  constexpr std::size_t kLargest = std::size_t{1} << 20;
  untrusted = false;
  const int descriptor = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return "cannot read " + file.string() + ": " + std::strerror(errno);
  struct stat info {};
  std::string problem;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = file.string() + " is not a regular file";
  } else if (info.st_uid != geteuid() && info.st_uid != 0) {
    problem = file.string() + " belongs to another user";
  } else if ((info.st_mode & 022) != 0) {
    problem =
        file.string() + " may be written by its group or others (chmod go-w " + file.string() + ")";
  }
  untrusted = !problem.empty();
  std::array<char, 65536> buffer{};
  text.clear();
  for (ssize_t got = 1; problem.empty() && got > 0;) {
    got = read(descriptor, buffer.data(), buffer.size());
    if (got < 0 && errno != EINTR)
      problem = "cannot read " + file.string() + ": " + std::strerror(errno);
    if (got > 0) text.append(buffer.data(), static_cast<std::size_t>(got));
    if (text.size() > kLargest) problem = file.string() + " is over 1 MiB: no plan is that long";
  }
  close(descriptor);
  return problem;
}

std::string CheckSharedFolder(const std::filesystem::path& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return "";
  const std::string path = folder.string();
  if (info.st_uid != geteuid() && info.st_uid != 0) {
    return path +
           " belongs to another user, who could put a link in place of what is in it: "
           "use a folder of your own";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
    return path +
           " may be written by its group or others, who could put a link in place of "
           "what is in it: make it yours alone (chmod go-w " +
           path + ") or sticky (chmod +t " + path + ")";
  }
  return "";
}

std::string ResolveTrustedPath(const std::filesystem::path& path, std::filesystem::path& resolved) {
  // As the kernel does, which follows at most 40 links.
  constexpr int kMostLinks = 40;
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(path, error).relative_path();
  std::deque<std::filesystem::path> rest(whole.begin(), whole.end());
  std::filesystem::path current = "/";
  std::string problem = CheckSharedFolder(current);
  for (int links = 0; problem.empty() && !rest.empty();) {
    const std::filesystem::path part = rest.front();
    struct stat info {};
    if (part.empty() || part == "." || part == "..") {
      if (part == "..") current = current.parent_path();
    } else if (lstat((current / part).c_str(), &info) != 0 ||
               !(S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode))) {
      // Not there yet, or no folder: whoever makes or uses it says so.
      break;
    } else if (S_ISDIR(info.st_mode)) {
      current /= part;
      problem = CheckSharedFolder(current);
    } else {
      const std::string link = (current / part).string();
      if (info.st_uid != geteuid() && info.st_uid != 0) {
        return link + " is a link of another user's, who could point it elsewhere: give the " +
               "folder it leads to";
      }
      char target[PATH_MAX];
      const ssize_t length = readlink(link.c_str(), target, sizeof target);
      if (length < 0 || static_cast<std::size_t>(length) >= sizeof target || ++links > kMostLinks) {
        return "cannot follow the link " + link;
      }
      const std::filesystem::path to(std::string(target, static_cast<std::size_t>(length)));
      if (to.is_absolute()) current = "/";
      rest.pop_front();
      const std::filesystem::path onward = to.relative_path();
      rest.insert(rest.begin(), onward.begin(), onward.end());
      continue;
    }
    rest.pop_front();
  }
  resolved = current;
  for (const std::filesystem::path& part : rest) {
    if (!part.empty()) resolved /= part;
  }
  resolved = resolved.lexically_normal();
  return problem;
}

std::string AppendPrivately(const std::filesystem::path& path, const std::string& text) {
  const int file = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) return "cannot write " + path.string() + ": " + std::strerror(errno);
  // A line cut off by a kill or a full disk ends where it stopped; the new one starts afresh
  // rather than being glued onto it and lost with it.
  struct stat info {};
  char last = '\n';
  const bool torn = fstat(file, &info) == 0 && info.st_size > 0 &&
                    pread(file, &last, 1, info.st_size - 1) == 1 && last != '\n';
  const std::string lines = torn ? "\n" + text : text;
  std::size_t done = 0;
  while (done < lines.size()) {
    const ssize_t wrote = write(file, lines.data() + done, lines.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<std::size_t>(wrote);
  }
  const bool written = done == lines.size() && fsync(file) == 0;
  const std::string reason = std::strerror(errno);
  close(file);
  return written ? "" : "cannot write " + path.string() + ": " + reason;
}

long ProcessId() { return static_cast<long>(getpid()); }

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

}  // namespace quillet::cli::plan
