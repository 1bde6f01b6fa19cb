// Finds the password a subcommand needs, never on the command line: from a file named by
// --password-file ("-": standard input), else from an environment variable (for server jobs
// QUILLET_SERVER_PASSWORD, then QUILLET_PASSWORD; for database jobs QUILLET_PASSWORD), else
// from a prompt without echo when standard input is a terminal.
#ifndef QUILLET_CLI_PASSWORD_SOURCE_H
#define QUILLET_CLI_PASSWORD_SOURCE_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli {

inline constexpr const char* kPasswordVariable = "QUILLET_PASSWORD";
inline constexpr const char* kServerPasswordVariable = "QUILLET_SERVER_PASSWORD";

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
// prompt and in the error. variables: the environment variables to try, in order.
PasswordOutcome FindPassword(const std::optional<std::string>& passwordFile,
                             const std::string& whose, const PasswordSources& sources,
                             const std::vector<std::string>& variables = {kPasswordVariable});

// The new password that set-password sets: from the file that --new-password-file names
// ("-": standard input), else typed twice at a prompt without echo. Never from the
// environment, which the processes the shell starts later would inherit.
PasswordOutcome FindNewPassword(const std::optional<std::string>& newPasswordFile,
                                const std::string& whose, const PasswordSources& sources);

// Overwrites the text so that the password does not linger in memory (or a core dump).
void WipePassword(std::string& password);

// The first line of the file ("-": of standard input), without its line end. A file that
// group or others may read is refused, as its password is no secret any more.
PasswordOutcome ReadPasswordFile(const std::string& path);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_PASSWORD_SOURCE_H
