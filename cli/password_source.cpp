#include "password_source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif
#include <cstdio>

namespace quillet::cli {

void WipePassword(std::string& password) {
  // Through a volatile pointer, so that the stores are not dropped as dead.
  volatile char* bytes = password.empty() ? nullptr : &password[0];
  for (std::size_t i = 0; i < password.size(); ++i) bytes[i] = '\0';
  password.clear();
}

PasswordOutcome ReadPasswordFile(const std::string& path) {
  std::string line;
  if (path == "-") {
    if (!std::getline(std::cin, line)) {
      return {std::nullopt, "no password could be read from standard input"};
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return {line, ""};
  }
  // A directory opens and reads as empty: it would pass for an empty password.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    return {std::nullopt, "cannot read the password file " + path + ": it is a directory"};
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return {std::nullopt, "cannot read the password file " + path + ": " + std::strerror(errno)};
  }
#if !defined(_WIN32)
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && (info.st_mode & 077) != 0) {
    char mode[8];
    (void)std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777));
    return {std::nullopt, "the password file " + path + " can be read by group or others (mode " +
                              mode + "), so it is not used; make it private: chmod 600 " + path};
  }
#endif
  std::getline(file, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return {line, ""};
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
