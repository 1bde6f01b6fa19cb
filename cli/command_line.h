// The command line as one CLI11 app: its subcommands, groups, positional arguments and
// options, from which the parsing, --help, the manual page and the bash completion all come.
#ifndef QUILLET_CLI_COMMAND_LINE_H
#define QUILLET_CLI_COMMAND_LINE_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "list_format.h"
#include "subcommand.h"

namespace quillet::cli {

// The options that the driver reads itself, whichever subcommand takes them.
struct CommonOptions {
  bool quiet = false;
  bool verbose = false;
  bool yes = false;
  std::optional<std::string> passwordFile;
  std::optional<std::string> newPasswordFile;
  std::optional<std::string> server;
  std::optional<ListFormat> format;
};

// What one command line asks for.
struct ParsedCommand {
  // The subcommand to run, with invocation() and options(); null when there is none to run.
  const Subcommand* subcommand = nullptr;
  // For the driver's own messages: "quillet create-db" and the usage line.
  std::string prefix;
  std::string usage;
  // The help asked for, for standard output.
  std::string help;
  bool version = false;
  // Why the command line was refused, for standard error; the exit status is then 2.
  std::string error;
};

class CommandLine {
 public:
  CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // A group of subcommands, "server", whose actions --help lists under the heading.
  void AddGroup(std::string_view name, std::string_view heading);
  // Adds the subcommand, within its group for "server create", with its positional arguments
  // and the options that its credential, listing and confirmation bring. Its own options go on
  // the returned CLI11 subcommand, bound to invocation().
  CLI::App& Add(const Subcommand& subcommand);

  // Parses the arguments (without the program name) into invocation() and options(), which
  // start afresh. Options may stand before the subcommand too.
  ParsedCommand Parse(const std::vector<std::string>& arguments);

  Invocation& invocation() { return invocation_; }
  const CommonOptions& options() const { return options_; }

  const CLI::App& app() const { return app_; }
  // The subcommand that a CLI11 subcommand runs; null for the program itself and for a group.
  const Subcommand* Find(const CLI::App& app) const;

 private:
  void AddEveryJobsOptions(CLI::App& app);
  void AddLeadingOptions();
  std::string Refusal(const CLI::App& app, const std::string& problem) const;
  std::string Problem(const CLI::App& chosen, bool namesOnly) const;
  std::string HandOver(CLI::App& job);
  std::string PastTheEnd(const std::vector<std::string>& arguments, std::size_t end);

  CLI::App app_;
  Invocation invocation_;
  CommonOptions options_;
  bool version_ = false;
  bool rawGiven_ = false;
  bool formatGiven_ = false;
  std::map<const CLI::App*, Subcommand> subcommands_;
  CLI::App* help_ = nullptr;
  std::vector<std::string> helpWords_;
};

// "server create" for that action, "create-db" for a subcommand, "" for the program.
std::string FullName(const CLI::App& app);
// The option's names as typed, "-y, --yes", and its first long name, "--yes".
std::string OptionNames(const CLI::Option& option);
std::string LongName(const CLI::Option& option);
// Options that --help, the manual page and the completion show, in that order.
std::vector<const CLI::Option*> ShownOptions(const CLI::App& app);
// The CLI11 subcommands that --help lists: the jobs and groups of the app, in order.
std::vector<const CLI::App*> ShownSubcommands(const CLI::App& app);
// Those that run a job, the groups' actions in place of their groups, under their headings
// in the order --help lists them.
std::vector<const CLI::App*> Jobs(const CLI::App& app);

// A transform for options that take a whole decimal number within 32 bits.
CLI::Validator WholeNumber();

// True for anything that looks like an attempt to give a password as an argument.
bool LooksLikePasswordArgument(std::string_view argument);
// How an unknown option is named in a message: "--name" without any "=value", and of a
// one-dash option its letter only, since "-Xvalue" may carry a secret in its tail.
std::string ShownOptionName(std::string_view argument);

// A whole decimal number within 32 bits, sign allowed.
std::optional<int32_t> ParseInt32(std::string_view text);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_COMMAND_LINE_H
