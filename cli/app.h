// The command line's driver: finds the subcommand, reads its arguments and password, runs it
// and reports, returning the exit status.
#ifndef QUILLET_CLI_APP_H
#define QUILLET_CLI_APP_H

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "password_source.h"

namespace quillet::cli {

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitJobFailed = 1,
  kExitUsage = 2,
  // server status: the server is not running.
  kExitNotRunning = 3,
};

struct Environment {
  PasswordSources passwords;
  // The meaning of a return code, or null when unknown.
  std::function<const char*(int32_t code)> codeMeaning;
  // The client library's own words on the last failure with this code, or null.
  std::function<const char*(int32_t code)> lastMessage;
  std::ostream& out;
  std::ostream& err;
  // Makes the database jobs use the named server; empty, or why that cannot be done. namedBy:
  // what named it, "--server" or the variable, for the messages.
  std::function<std::string(const std::string& server, const std::string& namedBy)> selectServer;
  // Whether standard error is a terminal: notes and progress are shown only there.
  std::function<bool()> errorIsTerminal;
  // Shows the question and reads the answer, seen as typed; nullopt at end of input.
  std::function<std::optional<std::string>(const std::string& question)> askLine;
  // What --version prints.
  std::function<std::string()> versionText;
};

// arguments: the command line without the program name.
int RunQuillet(const std::vector<std::string>& arguments, CommandLine& commandLine,
               const Environment& environment);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_APP_H
