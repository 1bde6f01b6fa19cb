#include "command_line.h"

#include <cerrno>
#include <cstdlib>

#include "subcommand.h"

namespace quillet::cli {
namespace {

constexpr std::string_view kPasswordFile = "--password-file";
constexpr std::string_view kNewPasswordFile = "--new-password-file";

// The option's name without any "=value", so that an error message never repeats a value
// that might be a secret.
std::string_view NameOf(std::string_view argument) {
  return argument.substr(0, argument.find('='));
}

}  // namespace

bool TakesValue(std::string_view option) {
  return option == kPasswordFile || option == kNewPasswordFile || option == "--for" ||
         option == "--server" || option == "--flag" || option == "--format";
}

bool LooksLikePasswordArgument(std::string_view argument) {
  if (NameOf(argument) == kPasswordFile || NameOf(argument) == kNewPasswordFile) return false;
  if (argument.substr(0, 6) == "--pass" || argument.substr(0, 4) == "--pw" ||
      argument.substr(0, 10) == "--new-pass") {
    return true;
  }
  return argument.size() >= 2 && argument.substr(0, 2) == "-p";
}

std::string ShownOptionName(std::string_view argument) {
  const std::string_view name = NameOf(argument);
  if (name.size() > 2 && name[0] == '-' && name[1] != '-') return std::string(name.substr(0, 2));
  return std::string(name);
}

std::optional<int32_t> ParseInt32(std::string_view text) {
  const std::string copy(text);
  if (copy.empty() || copy.front() == ' ' || copy.front() == '+') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(copy.c_str(), &end, 10);
  if (errno != 0 || end != copy.c_str() + copy.size()) return std::nullopt;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

ParsedArguments ParseArguments(const std::vector<std::string>& arguments, unsigned options) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      parsed.positional.push_back(argument);
      continue;
    }
    const std::string_view name = NameOf(argument);
    const bool hasValue = name.size() < argument.size();
    // Takes the option's value from "--name=value" or from the next argument.
    auto value = [&]() -> std::optional<std::string> {
      if (hasValue) return argument.substr(name.size() + 1);
      if (i + 1 < arguments.size()) return arguments[++i];
      parsed.error = std::string(name) + " needs a value";
      return std::nullopt;
    };
    auto allowed = [&](unsigned option) {
      if ((options & option) != 0) return true;
      parsed.error = "this subcommand takes no " + std::string(name) + " option";
      return false;
    };
    auto flagOnly = [&]() {
      if (!hasValue) return true;
      parsed.error = std::string(name) + " takes no value";
      return false;
    };

    if (LooksLikePasswordArgument(argument)) {
      parsed.passwordRefused = true;
      parsed.error =
          "passwords are never taken on the command line, where other users and the shell "
          "history see them; set QUILLET_SERVER_PASSWORD (server jobs) or QUILLET_PASSWORD "
          "(database jobs), pass --password-file FILE (--new-password-file FILE for a new "
          "one), or type it at the prompt";
      return parsed;
    }
    if (argument == "--") {
      optionsEnded = true;
    } else if (name == "--help" || name == "-h") {
      if (!flagOnly()) return parsed;
      parsed.help = true;
    } else if (name == kPasswordFile) {
      if (!allowed(kOptionPasswordFile)) return parsed;
      auto file = value();
      if (!file) return parsed;
      parsed.passwordFile = *file;
    } else if (name == kNewPasswordFile) {
      if (!allowed(kOptionNewPasswordFile)) return parsed;
      auto file = value();
      if (!file) return parsed;
      parsed.newPasswordFile = *file;
    } else if (name == "--for") {
      if (!allowed(kOptionFor)) return parsed;
      auto user = value();
      if (!user) return parsed;
      parsed.forUser = *user;
    } else if (name == "--server") {
      if (!allowed(kOptionServer)) return parsed;
      auto server = value();
      if (!server) return parsed;
      if (server->empty()) {
        parsed.error = "--server needs a server name";
        return parsed;
      }
      parsed.server = *server;
    } else if (name == "--raw") {
      if (!allowed(kOptionFormat) || !flagOnly()) return parsed;
      parsed.format = ListFormat::kRaw;
    } else if (name == "--format") {
      if (!allowed(kOptionFormat)) return parsed;
      auto text = value();
      if (!text) return parsed;
      parsed.format = ParseListFormat(*text);
      if (!parsed.format) {
        parsed.error = "--format takes table, raw, json or csv";
        return parsed;
      }
    } else if (name == "--all") {
      if (!allowed(kOptionAll) || !flagOnly()) return parsed;
      parsed.all = true;
    } else if (name == "--quiet" || name == "-q") {
      if (!flagOnly()) return parsed;
      parsed.quiet = true;
    } else if (name == "--verbose" || name == "-v") {
      if (!flagOnly()) return parsed;
      parsed.verbose = true;
    } else if (name == "--yes" || name == "-y") {
      if (!allowed(kOptionYes) || !flagOnly()) return parsed;
      parsed.yes = true;
    } else if (name == "--keep-partial") {
      if (!allowed(kOptionKeepPartial) || !flagOnly()) return parsed;
      parsed.keepPartial = true;
    } else if (name == "--flag") {
      if (!allowed(kOptionFlag)) return parsed;
      auto text = value();
      if (!text) return parsed;
      parsed.flag = ParseInt32(*text);
      if (!parsed.flag) {
        parsed.error = "--flag needs a whole number";
        return parsed;
      }
    } else if (ParseInt32(argument)) {
      // A negative number is a value, not an option (a process number, for one).
      parsed.positional.push_back(argument);
    } else {
      parsed.error = "unknown option " + ShownOptionName(argument);
      return parsed;
    }
  }
  return parsed;
}

}  // namespace quillet::cli
