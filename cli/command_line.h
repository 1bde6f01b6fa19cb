// Splits a subcommand's arguments into options and positional arguments.
#ifndef QUILLET_CLI_COMMAND_LINE_H
#define QUILLET_CLI_COMMAND_LINE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "list_format.h"

namespace quillet::cli {

struct ParsedArguments {
  bool help = false;
  bool all = false;
  bool keepPartial = false;
  bool yes = false;
  bool quiet = false;
  bool verbose = false;
  std::optional<std::string> passwordFile;
  std::optional<std::string> newPasswordFile;
  std::optional<std::string> forUser;
  std::optional<std::string> server;
  std::optional<ListFormat> format;
  std::optional<int32_t> flag;
  std::vector<std::string> positional;
  // An argument tried to give a password; the error then says where passwords come from.
  bool passwordRefused = false;
  // Why the arguments were refused; empty when they were not.
  std::string error;
};

// Options may stand anywhere; "--" ends them. options: the Option bits the subcommand takes.
ParsedArguments ParseArguments(const std::vector<std::string>& arguments, unsigned options);

// The options that take a value as the next argument, e.g. "--server".
bool TakesValue(std::string_view option);

// True for anything that looks like an attempt to give a password as an argument.
bool LooksLikePasswordArgument(std::string_view argument);
// How an unknown option is named in a message: "--name" without any "=value", and of a
// one-dash option its letter only, since "-Xvalue" may carry a secret in its tail.
std::string ShownOptionName(std::string_view argument);

// A whole decimal number within 32 bits, sign allowed.
std::optional<int32_t> ParseInt32(std::string_view text);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_COMMAND_LINE_H
