// Finds the password a subcommand needs, never on the command line: from a file named by
// --password-file, else from the environment variable QUILLET_PASSWORD, else from a prompt
// without echo when standard input is a terminal.
#ifndef QUILLET_CLI_PASSWORD_SOURCE_H
#define QUILLET_CLI_PASSWORD_SOURCE_H

#include <functional>
#include <optional>
#include <string>

namespace quillet::cli {

inline constexpr const char* kPasswordVariable = "QUILLET_PASSWORD";

// What the password search may consult; the real process or a test's stand-ins.
struct PasswordSources {
  // The value of an environment variable, or null when it is not set.
  std::function<const char*(const char* name)> environment;
  std::function<bool()> inputIsTerminal;
  // Shows the prompt and reads one line without echo; nullopt when nothing could be read.
  std::function<std::optional<std::string>(const std::string& prompt)> readHidden;
};

struct PasswordOutcome {
  std::optional<std::string> password;
  // Why there is none; empty when there is one.
  std::string error;
};

// passwordFile: the --password-file value, if given. whose: e.g. "server ACME", used in the
// prompt and in the error.
PasswordOutcome FindPassword(const std::optional<std::string>& passwordFile,
                             const std::string& whose, const PasswordSources& sources);

// Overwrites the text so that the password does not linger in memory (or a core dump).
void WipePassword(std::string& password);

// The first line of the file, without its line end.
PasswordOutcome ReadPasswordFile(const std::string& path);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_PASSWORD_SOURCE_H
