#include "terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace quillet::cli {
namespace {

// Turns echo off for its lifetime and puts the terminal back as it was, also on early return.
// Nothing already typed is flushed: a password typed (or pasted) ahead of the prompt counts.
class EchoOff {
 public:
  EchoOff() : changed_(tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!changed_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    changed_ = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  ~EchoOff() {
    if (changed_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool changed_;
};

}  // namespace

bool InputIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool ErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
  // Echo goes off before the prompt shows, so that nothing typed in answer to it is echoed.
  EchoOff echoOff;
  std::cerr << prompt << std::flush;
  std::optional<std::string> line = ReadAnswer();
  if (!line) std::cerr << '\n';
  return line;
}

}  // namespace quillet::cli
