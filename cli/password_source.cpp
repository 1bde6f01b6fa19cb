#include "password_source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cstdio>

#include "safe_output.h"

namespace quillet::cli {

void WipePassword(std::string& password) {
  // Through a volatile pointer, so that the stores are not dropped as dead.
  volatile char* bytes = password.empty() ? nullptr : &password[0];
  for (std::size_t i = 0; i < password.size(); ++i) bytes[i] = '\0';
  password.clear();
}

namespace {

// Longer than any password: a longer first line (or /dev/zero) is no password file.
constexpr std::size_t kLongestLine = 4096;

// The first line, without its line end; an error when none could be read or it is too long.
// The text read is never part of the error.
PasswordOutcome FirstLine(const std::function<bool(char&)>& next, const std::string& source) {
  std::string line;
  char c = '\0';
  bool any = false;
  while (next(c)) {
    any = true;
    if (c == '\n') break;
    if (line.size() == kLongestLine) {
      WipePassword(line);
      return {std::nullopt, "the first line of " + source + " is longer than " +
                                std::to_string(kLongestLine) + " bytes, so it is no password"};
    }
    line += c;
  }
  if (!any && source == "standard input") {
    return {std::nullopt, "no password could be read from standard input"};
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return {line, ""};
}

#if !defined(_WIN32)
// Why the opened file is no password file, or empty. Checked on the descriptor, so that the
// name cannot be swapped between the check and the read.
std::string Refusal(int descriptor, const std::string& path) {
  struct stat info {};
  if (fstat(descriptor, &info) != 0) return "cannot read the password file " + SystemReason(path);
  if (S_ISDIR(info.st_mode)) return "cannot read the password file " + path + ": it is a directory";
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    (void)std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777));
    return "the password file " + path + " can be read by group or others (mode " + mode +
           "), so it is not used; make it private: chmod 600 " + path;
  }
  // A private pipe is the shell's <(command); a device is no file of passwords.
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    return "cannot read the password file " + path + ": it is not a regular file";
  }
  return "";
}

// A private named pipe, checked: opened again, now waiting for its writer (opened without one,
// it would read as empty at once), and only if the name still is that pipe.
int WaitForWriter(int checked, const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat before {};
  struct stat now {};
  const bool same = descriptor >= 0 && fstat(checked, &before) == 0 &&
                    fstat(descriptor, &now) == 0 && before.st_dev == now.st_dev &&
                    before.st_ino == now.st_ino;
  close(checked);
  if (same || descriptor < 0) return descriptor;
  close(descriptor);
  errno = EAGAIN;
  return -1;
}

PasswordOutcome ReadNamedFile(const std::string& path) {
  // Without O_NONBLOCK a named pipe would hang in open() until a writer came, before any check.
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return {std::nullopt, "cannot read the password file " + SystemReason(path)};
  const std::string refused = Refusal(descriptor, path);
  if (!refused.empty()) {
    close(descriptor);
    return {std::nullopt, refused};
  }
  struct stat info {};
  if (fstat(descriptor, &info) == 0 && S_ISFIFO(info.st_mode)) {
    descriptor = WaitForWriter(descriptor, path);
    if (descriptor < 0) {
      return {std::nullopt, "cannot read the password file " + SystemReason(path)};
    }
  } else {
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
  }
  // One byte at a time, so that nothing past the first line is read.
  PasswordOutcome outcome = FirstLine(
      [descriptor](char& c) { return read(descriptor, &c, 1) == 1; }, "the password file " + path);
  close(descriptor);
  return outcome;
}
#else
PasswordOutcome ReadNamedFile(const std::string& path) {
  // A directory opens and reads as empty: it would pass for an empty password.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    return {std::nullopt, "cannot read the password file " + path + ": it is a directory"};
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return {std::nullopt, "cannot read the password file " + path + ": " + std::strerror(errno)};
  }
  return FirstLine([&file](char& c) { return static_cast<bool>(file.get(c)); },
                   "the password file " + path);
}
#endif

}  // namespace

PasswordOutcome ReadPasswordFile(const std::string& path) {
  if (path == "-") {
    return FirstLine([](char& c) { return static_cast<bool>(std::cin.get(c)); }, "standard input");
  }
  return ReadNamedFile(path);
}

PasswordOutcome FindPassword(const std::optional<std::string>& passwordFile,
                             const std::string& whose, const PasswordSources& sources,
                             const std::vector<std::string>& variables) {
  // Standard input that is a terminal is a person typing: asked for, and not echoed.
  if (passwordFile && !(*passwordFile == "-" && sources.inputIsTerminal())) {
    return ReadPasswordFile(*passwordFile);
  }
  std::string named;
  for (const std::string& variable : variables) {
    if (const char* fromEnvironment = sources.environment(variable.c_str())) {
      return {std::string(fromEnvironment), ""};
    }
    named += (named.empty() ? "" : " or ") + variable;
  }
  if (sources.inputIsTerminal()) {
    auto typed = sources.readHidden("Password for " + whose + ": ");
    if (typed) return {typed, ""};
    return {std::nullopt, "no password was typed for " + whose};
  }
  return {std::nullopt, "needs the password for " + whose + ": set " + named +
                            ", pass --password-file FILE (- for standard input), or run it on "
                            "a terminal to be asked"};
}

PasswordOutcome FindNewPassword(const std::optional<std::string>& newPasswordFile,
                                const std::string& whose, const PasswordSources& sources) {
  if (newPasswordFile && !(*newPasswordFile == "-" && sources.inputIsTerminal())) {
    return ReadPasswordFile(*newPasswordFile);
  }
  if (!sources.inputIsTerminal()) {
    return {std::nullopt, "needs the new password for " + whose +
                              ": pass --new-password-file FILE (- for standard input), or run "
                              "it on a terminal to be asked"};
  }
  std::optional<std::string> typed = sources.readHidden("New password for " + whose + ": ");
  if (!typed) return {std::nullopt, "no new password was typed for " + whose};
  // Typed unseen: a slip of a finger would lock the user out.
  std::optional<std::string> again = sources.readHidden("The new password again: ");
  const bool same = again && *again == *typed;
  if (again) WipePassword(*again);
  if (!same) {
    WipePassword(*typed);
    return {std::nullopt, "the new passwords typed differ; nothing was changed"};
  }
  PasswordOutcome outcome{typed, ""};
  WipePassword(*typed);
  return outcome;
}

}  // namespace quillet::cli
