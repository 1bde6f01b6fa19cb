#include "app.h"

#include <cstddef>
#include <string_view>

#include "command_line.h"
#include "failure_message.h"
#include "help_text.h"
#include "list_format.h"
#include "password_source.h"

#ifndef QUILLET_VERSION
#define QUILLET_VERSION "unknown"
#endif

namespace quillet::cli {
namespace {

constexpr std::string_view kServerGroup = "server ";

const Subcommand* Find(const SubcommandTable& table, std::string_view name) {
  for (const Subcommand& subcommand : table) {
    if (subcommand.name == name) return &subcommand;
  }
  return nullptr;
}

bool IsHelp(std::string_view argument) { return argument == "--help" || argument == "-h"; }

std::string Whose(const Subcommand& subcommand, const Invocation& invocation) {
  switch (subcommand.credential) {
    case Credential::kServer:
      return "server " + invocation.arguments[0];
    case Credential::kNewServer:
      return "the new server " + invocation.arguments[0];
    case Credential::kDatabaseUser:
      return "user " + invocation.arguments[1] + " on database " + invocation.arguments[0];
    case Credential::kNone:
      break;
  }
  return "";
}

std::string Shown(const Subcommand& subcommand, const std::string& text, bool raw) {
  if (raw || subcommand.listing == Listing::kText) return text.empty() ? "" : text + "\n";
  switch (subcommand.listing) {
    case Listing::kDatabases:
      return FormatDatabaseList(text);
    case Listing::kConnections:
      return FormatConnectionTable(text);
    case Listing::kNone:
    case Listing::kText:
      break;
  }
  return "";
}

int UsageError(const Environment& environment, const std::string& prefix,
               const std::string& problem, const std::string& usage) {
  environment.err << prefix << ": " << problem << "\n";
  if (!usage.empty()) environment.err << usage;
  environment.err << "Try '" << prefix << " --help'.\n";
  return kExitUsage;
}

int Run(const Subcommand& subcommand, const std::vector<std::string>& arguments,
        const Environment& environment) {
  const std::string prefix = "quillet " + std::string(subcommand.name);
  const ParsedArguments parsed = ParseArguments(arguments, subcommand.options);
  if (parsed.passwordRefused) {
    environment.err << prefix << ": " << parsed.error << "\n";
    return kExitUsage;
  }
  if (!parsed.error.empty()) {
    return UsageError(environment, prefix, parsed.error, UsageLine(subcommand));
  }
  if (parsed.help) {
    environment.out << SubcommandHelp(subcommand);
    return kExitSuccess;
  }
  const std::size_t count = parsed.positional.size();
  if (count < subcommand.minArguments || count > subcommand.maxArguments) {
    const std::string expected =
        subcommand.usage.empty() ? "no arguments" : std::string(subcommand.usage);
    return UsageError(environment, prefix, "expects " + expected, UsageLine(subcommand));
  }

  Invocation invocation;
  invocation.arguments = parsed.positional;
  invocation.flag = parsed.flag.value_or(1);
  invocation.all = parsed.all;
  // The library joins database, user and password with "/": a "/" in either name would smuggle
  // a password (or a wrong one) into the connect text.
  if (subcommand.credential == Credential::kDatabaseUser &&
      (invocation.arguments[0].find('/') != std::string::npos ||
       invocation.arguments[1].find('/') != std::string::npos)) {
    return UsageError(environment, prefix, "DATABASE and USER cannot hold \"/\"",
                      UsageLine(subcommand));
  }
  if (subcommand.check != nullptr) {
    const std::string problem = subcommand.check(invocation);
    if (!problem.empty()) return UsageError(environment, prefix, problem, UsageLine(subcommand));
  }
  if (subcommand.credential != Credential::kNone) {
    PasswordOutcome found =
        FindPassword(parsed.passwordFile, Whose(subcommand, invocation), environment.passwords);
    if (!found.password) {
      environment.err << prefix << ": " << found.error << "\n";
      return kExitUsage;
    }
    invocation.password = *found.password;
    WipePassword(*found.password);
    // A server made with an empty password (say, from an empty file) takes anyone.
    if (subcommand.credential == Credential::kNewServer && invocation.password.empty()) {
      environment.err << prefix << ": the password of a new server cannot be empty\n";
      return kExitUsage;
    }
  }

  const JobResult result = subcommand.run(invocation);
  WipePassword(invocation.password);
  if (!result.problem.empty()) {
    environment.err << prefix << ": " << result.problem << "\n";
    return kExitJobFailed;
  }
  if (result.code != 0) {
    const char* meaning = QuilletResultMeaning(result.code);
    if (meaning == nullptr && environment.codeMeaning)
      meaning = environment.codeMeaning(result.code);
    environment.err << FailureMessage(subcommand.name, result.code, meaning);
    return kExitJobFailed;
  }
  environment.out << Shown(subcommand, result.text, parsed.raw);
  return kExitSuccess;
}

}  // namespace

int RunQuillet(const std::vector<std::string>& arguments, const SubcommandTable& table,
               const Environment& environment) {
  if (arguments.empty()) {
    environment.err << "quillet: no subcommand given\nTry 'quillet --help'.\n";
    return kExitUsage;
  }
  const std::string& first = arguments[0];
  if (LooksLikePasswordArgument(first)) {
    environment.err << "quillet: " << ParseArguments({first}, 0).error << "\n";
    return kExitUsage;
  }
  if (IsHelp(first) || (first == "help" && (arguments.size() == 1 || IsHelp(arguments[1])))) {
    environment.out << OverallHelp(table, "");
    return kExitSuccess;
  }
  if (first == "--version") {
    environment.out << "quillet " << QUILLET_VERSION << "\n";
    return kExitSuccess;
  }
  std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  std::string name = first;
  if (first == "help") {
    // "quillet help NAME..." is "quillet NAME... --help".
    name = rest.front();
    rest.erase(rest.begin());
    rest.push_back("--help");
  }
  if (name + " " == kServerGroup) {
    if (rest.empty() || IsHelp(rest.front())) {
      const bool asked = !rest.empty();
      (asked ? environment.out : environment.err) << OverallHelp(table, kServerGroup);
      return asked ? kExitSuccess : kExitUsage;
    }
    if (rest.front().empty() || rest.front()[0] == '-') {
      return UsageError(environment, "quillet server", "expects an ACTION first", "");
    }
    name += " " + rest.front();
    rest.erase(rest.begin());
  }
  const Subcommand* subcommand = Find(table, name);
  if (subcommand == nullptr) {
    // Never the whole of an option: "=value" or a one-dash option's tail may be a secret.
    const std::string shown =
        name[0] == '-' ? ShownOptionName(name) : name.substr(0, name.find('='));
    environment.err << "quillet: unknown subcommand '" << shown << "'\nTry 'quillet --help'.\n";
    return kExitUsage;
  }
  return Run(*subcommand, rest, environment);
}

}  // namespace quillet::cli
