#include "app.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string_view>

#include "command_line.h"
#include "failure_message.h"
#include "help_text.h"
#include "list_format.h"
#include "password_source.h"
#include "progress.h"
#include "version_text.h"

namespace quillet::cli {
namespace {

constexpr std::string_view kServerGroup = "server ";
constexpr const char* kServerVariable = "QUILLET_SERVER";

const Subcommand* Find(const SubcommandTable& table, std::string_view name) {
  for (const Subcommand& subcommand : table) {
    if (subcommand.name == name) return &subcommand;
  }
  return nullptr;
}

std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The subcommand a mistyped name most likely meant; empty when none is close.
std::string Nearest(const SubcommandTable& table, std::string_view name) {
  std::string nearest;
  std::size_t best = 3;
  for (const Subcommand& subcommand : table) {
    const std::size_t distance = Distance(name, subcommand.name);
    if (distance < best) {
      best = distance;
      nearest = std::string(subcommand.name);
    }
  }
  return nearest;
}

// The arguments of the library call as --verbose shows them: by their usage names, the
// password never.
std::string CallArguments(const Subcommand& subcommand, const Invocation& invocation) {
  std::vector<std::string> names;
  std::string usage(subcommand.usage);
  for (std::size_t at = 0; at < usage.size();) {
    const std::size_t end = std::min(usage.find(' ', at), usage.size());
    std::string name = usage.substr(at, end - at);
    name.erase(
        std::remove_if(name.begin(), name.end(), [](char c) { return c == '[' || c == ']'; }),
        name.end());
    names.push_back(name);
    at = end + 1;
  }
  std::string text;
  for (std::size_t k = 0; k < invocation.arguments.size(); ++k) {
    if (!text.empty()) text += ", ";
    text += (k < names.size() ? names[k] + "=" : "") + "\"" + invocation.arguments[k] + "\"";
  }
  if (subcommand.credential != Credential::kNone)
    text += (text.empty() ? "" : ", ") + std::string("password not shown");
  return text;
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

std::string Shown(const Subcommand& subcommand, const std::string& text, ListFormat format) {
  if (format == ListFormat::kRaw || subcommand.listing == Listing::kText) {
    return text.empty() ? "" : text + "\n";
  }
  const bool databases = subcommand.listing == Listing::kDatabases;
  if (subcommand.listing != Listing::kDatabases && subcommand.listing != Listing::kConnections) {
    return "";
  }
  switch (format) {
    case ListFormat::kJson:
      return databases ? DatabaseListJson(text) : ConnectionListJson(text);
    case ListFormat::kCsv:
      return databases ? DatabaseListCsv(text) : ConnectionListCsv(text);
    case ListFormat::kTable:
    case ListFormat::kRaw:
      break;
  }
  return databases ? FormatDatabaseList(text) : FormatConnectionTable(text);
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
  invocation.keepPartial = parsed.keepPartial;
  invocation.forUser = parsed.forUser.value_or("");
  invocation.out = &environment.out;
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
  if (subcommand.credential == Credential::kDatabaseUser) {
    std::optional<std::string> server = parsed.server;
    std::string namedBy = "--server";
    if (!server) {
      if (const char* named = environment.passwords.environment(kServerVariable)) {
        if (*named != '\0') server = named;
        namedBy = kServerVariable;
      }
    }
    if (server) {
      const std::string problem =
          environment.selectServer ? environment.selectServer(*server, namedBy) : "";
      if (!problem.empty()) {
        environment.err << prefix << ": " << problem << "\n";
        return kExitUsage;
      }
    }
  }
  if (subcommand.credential != Credential::kNone) {
    // Server and database passwords differ; the server jobs fall back to QUILLET_PASSWORD,
    // which once served both.
    const std::vector<std::string> variables =
        subcommand.credential == Credential::kDatabaseUser
            ? std::vector<std::string>{kPasswordVariable}
            : std::vector<std::string>{kServerPasswordVariable, kPasswordVariable};
    PasswordOutcome found = FindPassword(parsed.passwordFile, Whose(subcommand, invocation),
                                         environment.passwords, variables);
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
  if ((subcommand.options & kOptionNewPasswordFile) != 0) {
    const std::string& user =
        invocation.forUser.empty() ? invocation.arguments[1] : invocation.forUser;
    PasswordOutcome found = FindNewPassword(
        parsed.newPasswordFile, "user " + user + " on database " + invocation.arguments[0],
        environment.passwords);
    if (!found.password) {
      environment.err << prefix << ": " << found.error << "\n";
      return kExitUsage;
    }
    invocation.newPassword = *found.password;
    WipePassword(*found.password);
  }
  const bool terminal = environment.errorIsTerminal && environment.errorIsTerminal();
  // Asked only of a person: a script that runs the job meant it.
  if (subcommand.confirm != nullptr && !parsed.yes && environment.passwords.inputIsTerminal()) {
    const std::string question = subcommand.confirm(invocation);
    if (!question.empty()) {
      const std::optional<std::string> answer =
          environment.askLine ? environment.askLine(question + " [y/N] ") : std::nullopt;
      if (!answer || (*answer != "y" && *answer != "Y" && *answer != "yes")) {
        environment.err << prefix << ": not confirmed; nothing was done\n";
        return kExitJobFailed;
      }
    }
  }

  if (parsed.verbose) {
    environment.err << "quillet: calling " << subcommand.call << "("
                    << CallArguments(subcommand, invocation) << ")\n";
  }
  const auto start = std::chrono::steady_clock::now();
  JobResult result;
  {
    std::optional<ProgressDisplay> progress;
    if (subcommand.progress != Progress::kNone && terminal && !parsed.quiet) {
      progress.emplace(environment.err, std::string(subcommand.name), subcommand.progress,
                       subcommand.progress == Progress::kSnapshots ? invocation.arguments[1] : "");
      invocation.progress = &*progress;
    }
    result = subcommand.run(invocation);
    WipePassword(invocation.password);
    WipePassword(invocation.newPassword);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (parsed.verbose) {
    environment.err << "quillet: " << subcommand.call << " returned " << result.code << "\n";
  }
  if (!result.warning.empty()) environment.err << prefix << ": " << result.warning << "\n";
  if (!result.problem.empty()) {
    environment.err << prefix << ": " << result.problem << "\n";
    if (!result.note.empty()) environment.err << prefix << ": " << result.note << "\n";
    return kExitJobFailed;
  }
  if (result.code != 0 && !result.workDone) {
    const char* meaning = QuilletResultMeaning(result.code);
    if (meaning == nullptr && environment.codeMeaning)
      meaning = environment.codeMeaning(result.code);
    const char* detail = environment.lastMessage ? environment.lastMessage(result.code) : nullptr;
    environment.err << FailureMessage(subcommand.name, result.code, meaning, detail);
    if (!result.note.empty()) environment.err << prefix << ": " << result.note << "\n";
    return kExitJobFailed;
  }
  if (!result.notice.empty() && !parsed.quiet) {
    environment.err << prefix << ": " << result.notice << "\n";
  }
  const ListFormat format = parsed.format.value_or(ListFormat::kTable);
  const std::string shown = Shown(subcommand, result.text, format);
  environment.out << shown;
  // An empty table prints nothing, so that a script sees no rows; a person is told.
  if (shown.empty() && format == ListFormat::kTable && environment.errorIsTerminal &&
      environment.errorIsTerminal()) {
    if (subcommand.listing == Listing::kDatabases) environment.err << "No databases.\n";
    if (subcommand.listing == Listing::kConnections) environment.err << "No connections.\n";
  }
  if (subcommand.progress != Progress::kNone && ((terminal && !parsed.quiet) || parsed.verbose)) {
    char took[32];
    (void)std::snprintf(took, sizeof took, "%.1f s", seconds);
    environment.err << subcommand.name << ": done"
                    << (result.summary.empty() ? "" : ", " + result.summary) << " in " << took
                    << "\n";
  }
  return result.status;
}

}  // namespace

int RunQuillet(const std::vector<std::string>& given, const SubcommandTable& table,
               const Environment& environment) {
  // Options before the subcommand count as if they followed it: "quillet --server B reload ...".
  std::vector<std::string> leading;
  std::size_t start = 0;
  while (start < given.size() && given[start].size() > 1 && given[start][0] == '-' &&
         given[start] != "--" && !IsHelp(given[start]) && given[start] != "--version" &&
         given[start] != "-V" && !LooksLikePasswordArgument(given[start])) {
    leading.push_back(given[start]);
    if (TakesValue(given[start]) && start + 1 < given.size()) leading.push_back(given[++start]);
    ++start;
  }
  std::vector<std::string> arguments(given.begin() + static_cast<std::ptrdiff_t>(start),
                                     given.end());
  if (arguments.empty() && !leading.empty()) {
    environment.err << "quillet: options but no subcommand given\nTry 'quillet --help'.\n";
    return kExitUsage;
  }
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
  if (first == "--version" || first == "-V") {
    environment.out << (environment.versionText ? environment.versionText() : VersionText("", ""));
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
    environment.err << "quillet: unknown subcommand '" << shown << "'\n";
    const std::string nearest = name[0] == '-' ? "" : Nearest(table, shown);
    if (!nearest.empty()) environment.err << "Did you mean 'quillet " << nearest << "'?\n";
    environment.err << "Try 'quillet --help'.\n";
    return kExitUsage;
  }
  rest.insert(rest.begin(), leading.begin(), leading.end());
  return Run(*subcommand, rest, environment);
}

}  // namespace quillet::cli
