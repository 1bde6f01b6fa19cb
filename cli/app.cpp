#include "app.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string_view>

#include "failure_message.h"
#include "list_format.h"
#include "password_source.h"
#include "printable_text.h"
#include "progress.h"
#include "version_text.h"

namespace quillet::cli {
namespace {

constexpr const char* kServerVariable = "QUILLET_SERVER";

// The arguments of the library call as --verbose shows them: by their usage names, the
// password never; handed in place of the argument of that index.
std::string CallArguments(const Subcommand& subcommand, const Invocation& invocation,
                          std::size_t replaced, const std::string& handed) {
  std::vector<std::string> names;
  std::string usage(subcommand.arguments);
  for (std::size_t at = 0; at < usage.size();) {
    const std::size_t end = std::min(usage.find(' ', at), usage.size());
    std::string name = usage.substr(at, end - at);
    name.erase(
        std::remove_if(name.begin(), name.end(), [](char c) { return c == '[' || c == ']'; }),
        name.end());
    names.push_back(name);
    at = end + 1;
  }
  std::string text = subcommand.handsFlag ? "flag=" + std::to_string(invocation.flag) : "";
  for (std::size_t k = 0; k < invocation.arguments.size(); ++k) {
    if (!text.empty()) text += ", ";
    const std::string& argument = invocation.arguments[k];
    text += (k < names.size() ? names[k] + "=" : "") +
            (k == replaced && handed != argument
                 ? "\"" + handed + "\" (the temporary file for \"" + argument + "\")"
                 : "\"" + argument + "\"");
  }
  if (subcommand.credential != Credential::kNone)
    text += (text.empty() ? "" : ", ") + std::string("password not shown");
  return text;
}

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

int UsageError(const Environment& environment, const ParsedCommand& command,
               const std::string& problem) {
  environment.err << command.prefix << ": " << PrintableText(problem) << "\n"
                  << command.usage << "Try '" << command.prefix << " --help'.\n";
  return kExitUsage;
}

int Run(const ParsedCommand& command, Invocation invocation, const CommonOptions& parsed,
        const Environment& environment) {
  const Subcommand& subcommand = *command.subcommand;
  const std::string& prefix = command.prefix;
  invocation.out = &environment.out;
  invocation.err = &environment.err;
  // The library joins database, user and password with "/": a "/" in either name would smuggle
  // a password (or a wrong one) into the connect text.
  if (subcommand.credential == Credential::kDatabaseUser &&
      (invocation.arguments[0].find('/') != std::string::npos ||
       invocation.arguments[1].find('/') != std::string::npos)) {
    return UsageError(environment, command, "DATABASE and USER cannot hold \"/\"");
  }
  if (subcommand.check != nullptr) {
    const std::string problem = subcommand.check(invocation);
    if (!problem.empty()) return UsageError(environment, command, problem);
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
        environment.err << prefix << ": " << PrintableText(problem) << "\n";
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
      environment.err << prefix << ": " << PrintableText(found.error) << "\n";
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
  if (subcommand.setsPassword) {
    const std::string& user =
        invocation.forUser.empty() ? invocation.arguments[1] : invocation.forUser;
    PasswordOutcome found = FindNewPassword(
        parsed.newPasswordFile, "user " + user + " on database " + invocation.arguments[0],
        environment.passwords);
    if (!found.password) {
      environment.err << prefix << ": " << PrintableText(found.error) << "\n";
      return kExitUsage;
    }
    invocation.newPassword = *found.password;
    WipePassword(*found.password);
  }
  const bool terminal = environment.errorIsTerminal && environment.errorIsTerminal();
  // Asked only of a person: a script that runs the job meant it. A person whose standard
  // error goes elsewhere would not see the question, and must say -y.
  if (subcommand.confirm != nullptr && !parsed.yes && environment.passwords.inputIsTerminal()) {
    const std::string question = subcommand.confirm(invocation);
    if (!question.empty() && !terminal) {
      environment.err << prefix
                      << ": standard error is not a terminal, so the confirmation cannot be "
                         "asked; nothing was done (give -y to go ahead)\n";
      return kExitJobFailed;
    }
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
    invocation.sayCall = [&subcommand, &invocation, &environment](std::size_t replaced,
                                                                  const std::string& handed) {
      const std::string line = "quillet: calling " + std::string(subcommand.call) + "(" +
                               CallArguments(subcommand, invocation, replaced, handed) + ")\n";
      // The progress line is drawn by a thread of its own.
      if (invocation.progress != nullptr) {
        invocation.progress->Say(PrintableText(line));
      } else {
        environment.err << PrintableText(line);
      }
    };
  }
  if (invocation.sayCall && !subcommand.saysCall) {
    invocation.sayCall(invocation.arguments.size(), "");
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
  if (!result.warning.empty())
    environment.err << prefix << ": " << PrintableText(result.warning) << "\n";
  if (!result.problem.empty()) {
    environment.err << prefix << ": " << PrintableText(result.problem) << "\n";
    if (!result.note.empty())
      environment.err << prefix << ": " << PrintableText(result.note) << "\n";
    return kExitJobFailed;
  }
  if (result.code != 0 && !result.workDone) {
    const char* meaning = QuilletResultMeaning(result.code);
    if (meaning == nullptr && environment.codeMeaning)
      meaning = environment.codeMeaning(result.code);
    const char* detail = !result.detail.empty()    ? result.detail.c_str()
                         : environment.lastMessage ? environment.lastMessage(result.code)
                                                   : nullptr;
    environment.err << PrintableText(FailureMessage(subcommand.name, result.code, meaning, detail));
    if (!result.note.empty())
      environment.err << prefix << ": " << PrintableText(result.note) << "\n";
    return kExitJobFailed;
  }
  if (!result.notice.empty() && !parsed.quiet) {
    environment.err << prefix << ": " << PrintableText(result.notice) << "\n";
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
                    << (result.summary.empty() ? "" : ", " + PrintableText(result.summary))
                    << " in " << took << "\n";
  }
  return result.status;
}

}  // namespace

int RunQuillet(const std::vector<std::string>& arguments, CommandLine& commandLine,
               const Environment& environment) {
  const ParsedCommand command = commandLine.Parse(arguments);
  if (command.version) {
    environment.out << (environment.versionText ? environment.versionText() : VersionText("", ""));
    return kExitSuccess;
  }
  environment.out << command.help;
  environment.err << PrintableText(command.error);
  if (command.subcommand == nullptr) return command.error.empty() ? kExitSuccess : kExitUsage;
  return Run(command, commandLine.invocation(), commandLine.options(), environment);
}

}  // namespace quillet::cli
