// The console on standard input, for quillet.exe.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>

#include "printable_text.h"
#include "terminal.h"

namespace quillet::cli {
namespace {

// Turns the console's echo off for its lifetime and puts the mode back as it was.
class EchoOff {
 public:
  EchoOff()
      : input_(GetStdHandle(STD_INPUT_HANDLE)), changed_(GetConsoleMode(input_, &saved_) != 0) {
    if (changed_)
      changed_ = SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  }
  ~EchoOff() {
    if (changed_) SetConsoleMode(input_, saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  HANDLE input_;
  DWORD saved_ = 0;
  bool changed_;
};

}  // namespace

bool InputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool ErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
  EchoOff echoOff;
  std::cerr << PrintableText(prompt) << std::flush;
  std::optional<std::string> line = ReadAnswer();
  // The console shows no line end for the Enter that echo swallowed.
  std::cerr << '\n';
  return line;
}

}  // namespace quillet::cli
