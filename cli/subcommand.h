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
  // restore: the name to install the backup as, and whether it replaces an installed database
  // and kills the connections that hold it.
  std::string installAs;
  bool replace = false;
  bool killConnections = false;
  // Where a job that prints its result as it is (an export to "-") writes it, and where a job
  // that reports as it goes says what went wrong.
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  // The options of the plan subcommands.
  struct PlanOptions {
    bool dryRun = false;
    int32_t jobs = 0;
    std::string waitLock;
    std::string format;
    std::string run;
    std::string warn;
    std::string crit;
    bool restoreTest = false;
    std::string generation;
  } plan;
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
  // The client library's words on the failure, when the job took them down itself (later
  // calls of its own would replace them); empty: they are asked for after the job.
  std::string detail;
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

// One subcommand: what it is called and says of itself, and the job it runs. Its positional
// arguments and options are those of its CLI11 subcommand (command_line.h), which follow from
// arguments and from its credential, listing and confirmation; options of its own are added
// there. Set with the chained setters:
//   Subcommand("create-db", "SERVER DATABASE", "create a database").As(Credential::kServer)...
struct Subcommand {
  using Run = JobResult (*)(const Invocation& invocation);
  // Usage problems beyond what the parser sees, or the question asked on a terminal before a
  // job that cannot be undone: empty when there are none for this invocation.
  using Check = std::string (*)(const Invocation& invocation);

  // called: "create-db", or "server create" for an action of the group "server". positionals:
  // as the usage line shows them, "SERVER [DATABASE]", an optional one in brackets.
  Subcommand(std::string_view called, std::string_view positionals, std::string_view oneLine)
      : name(called), arguments(positionals), summary(oneLine) {}

  Subcommand& Describe(std::string_view text) {
    description = text;
    return *this;
  }
  Subcommand& As(Credential whose) {
    credential = whose;
    return *this;
  }
  // libraryCall: the call that the job makes, which --verbose names.
  Subcommand& Runs(std::string_view libraryCall, Run job) {
    call = libraryCall;
    run = job;
    return *this;
  }
  Subcommand& Lists(Listing shown) {
    listing = shown;
    return *this;
  }
  Subcommand& Shows(Progress kind) {
    progress = kind;
    return *this;
  }
  Subcommand& Checks(Check problem) {
    check = problem;
    return *this;
  }
  Subcommand& Confirms(Check question) {
    confirm = question;
    return *this;
  }
  // It sets a user's password too: --new-password-file, else a prompt.
  Subcommand& SetsPassword() {
    setsPassword = true;
    return *this;
  }
  Subcommand& Example(std::string_view line) {
    example = line;
    return *this;
  }

  std::string_view name;
  std::string_view arguments;
  std::string_view summary;
  // The paragraph that --help shows below the usage line.
  std::string_view description;
  std::string_view example;
  std::string_view call;
  Credential credential = Credential::kNone;
  Listing listing = Listing::kNone;
  Progress progress = Progress::kNone;
  Run run = nullptr;
  Check check = nullptr;
  Check confirm = nullptr;
  bool setsPassword = false;
};

}  // namespace quillet::cli

#endif  // QUILLET_CLI_SUBCOMMAND_H
