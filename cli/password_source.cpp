#include "password_source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace quillet::cli {

void WipePassword(std::string& password) {
  // Through a volatile pointer, so that the stores are not dropped as dead.
  volatile char* bytes = password.empty() ? nullptr : &password[0];
  for (std::size_t i = 0; i < password.size(); ++i) bytes[i] = '\0';
  password.clear();
}

PasswordOutcome ReadPasswordFile(const std::string& path) {
  // A directory opens and reads as empty: it would pass for an empty password.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    return {std::nullopt, "cannot read the password file " + path + ": it is a directory"};
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return {std::nullopt, "cannot read the password file " + path + ": " + std::strerror(errno)};
  }
  std::string line;
  std::getline(file, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return {line, ""};
}

PasswordOutcome FindPassword(const std::optional<std::string>& passwordFile,
                             const std::string& whose, const PasswordSources& sources) {
  if (passwordFile) return ReadPasswordFile(*passwordFile);
  if (const char* fromEnvironment = sources.environment(kPasswordVariable)) {
    return {std::string(fromEnvironment), ""};
  }
  if (sources.inputIsTerminal()) {
    auto typed = sources.readHidden("Password for " + whose + ": ");
    if (typed) return {typed, ""};
    return {std::nullopt, "no password was typed for " + whose};
  }
  return {std::nullopt, std::string("needs the password for ") + whose + ": set " +
                            kPasswordVariable +
                            ", pass --password-file FILE, or run it on a terminal to be asked"};
}

}  // namespace quillet::cli
