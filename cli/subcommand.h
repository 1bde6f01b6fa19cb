// What the command line knows about one subcommand, and what one run of it yields.
#ifndef QUILLET_CLI_SUBCOMMAND_H
#define QUILLET_CLI_SUBCOMMAND_H

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli {

// Whose password a subcommand needs.
enum class Credential { kNone, kServer, kNewServer, kDatabaseUser };

// How a successful run's text reaches standard output.
enum class Listing {
  kNone,         // nothing is printed
  kDatabases,    // "name;name;": one name per line
  kConnections,  // "%d:%s:%s:%s" lines joined by ";": an aligned table
  kText,         // printed as it is
};

// Options beyond --help, which every subcommand takes.
enum Option : unsigned {
  kOptionPasswordFile = 1U << 0,
  kOptionFormat = 1U << 1,
  kOptionFlag = 1U << 2,
  kOptionAll = 1U << 3,
  kOptionKeepPartial = 1U << 4,
  kOptionServer = 1U << 5,
  kOptionYes = 1U << 6,
  kOptionNewPasswordFile = 1U << 7,
  kOptionFor = 1U << 8,
};

// What a job shows on a terminal while it runs.
enum class Progress {
  kNone,
  kElapsed,    // the time so far
  kExport,     // the time, the bytes written and the rate, from the growing file
  kSnapshots,  // the time, and each database's directory under ROOT as it is written
};

class ProgressDisplay;

struct Invocation {
  std::vector<std::string> arguments;
  std::string password;
  // set-password: the new password, and the user it is for (empty: the one connecting).
  std::string newPassword;
  std::string forUser;
  int32_t flag = 1;
  bool all = false;
  bool keepPartial = false;
  // Where a job that prints its result as it is (an export to "-") writes it.
  std::ostream* out = nullptr;
  // The running job's progress display, or null when none is shown.
  ProgressDisplay* progress = nullptr;
};

struct JobResult {
  // 0 or the library's return code.
  int32_t code = 0;
  // The text the job produced, raw.
  std::string text;
  // Set when the job could not be run at all; the code is then not a return code.
  std::string problem;
  // Said after a failure's message: what became of the job's files.
  std::string note;
  // For a job that succeeded: the exit status (3 for a server that is not running).
  int status = 0;
  // What the job did, for the closing line on a terminal, e.g. "3 rows, 12 bytes".
  std::string summary;
  // Said on standard error once the job has run, whatever its outcome and -q or not: how it
  // had to go about its work (a file written in place).
  std::string warning;
  // Said on standard error after a success, terminal or not, unless -q: what the user might
  // not expect of the result (values cut short).
  std::string notice;
  // The code is the library's, but the job's work was done (a reload loaded and committed
  // without its lock): the warning says what the code means, and the exit status is 0.
  bool workDone = false;
};

struct Subcommand {
  std::string_view name;
  // Positional arguments as shown in the usage line, e.g. "SERVER DATABASE".
  std::string_view usage;
  std::string_view summary;
  // Paragraph shown by --help below the usage line.
  std::string_view description;
  std::size_t minArguments;
  std::size_t maxArguments;
  Credential credential;
  Listing listing;
  unsigned options;
  // Usage problems beyond the argument count; empty when the invocation is fine.
  std::string (*check)(const Invocation& invocation);
  JobResult (*run)(const Invocation& invocation);
  // One example command line, shown by --help.
  std::string_view example;
  // The library call the job makes, for --verbose.
  std::string_view call;
  // The question asked on a terminal before a job that cannot be undone; null for none, and
  // an empty question when this invocation needs none.
  std::string (*confirm)(const Invocation& invocation);
  Progress progress;
};

using SubcommandTable = std::vector<Subcommand>;

}  // namespace quillet::cli

#endif  // QUILLET_CLI_SUBCOMMAND_H
