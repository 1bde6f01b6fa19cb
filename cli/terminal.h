// The terminal on standard input: whether there is one, and reading a line from it unseen.
#ifndef QUILLET_CLI_TERMINAL_H
#define QUILLET_CLI_TERMINAL_H

#include <optional>
#include <string>

namespace quillet::cli {

bool InputIsTerminal();
bool ErrorIsTerminal();

// One line from standard input without its line end (LF or CR LF); nullopt at end of input.
std::optional<std::string> ReadAnswer();

// Writes the question to standard error and reads one line from standard input, echoed.
std::optional<std::string> ReadLine(const std::string& question);

// Writes the prompt to standard error, reads one line from standard input with echo off and
// puts echo back; nullopt at end of input.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_TERMINAL_H
