#include "terminal.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "printable_text.h"

namespace quillet::cli {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The settings that a signal ending the process at the prompt puts back, and the actions that
// were in place before, which the signal then gets.
termios savedTerminal{};
volatile sig_atomic_t restoreOnSignal = 0;
struct sigaction previousActions[3]{};

void RestoreAndEnd(int signal) {
  if (restoreOnSignal != 0) tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  for (std::size_t k = 0; k < 3; ++k) {
    if (kEndingSignals[k] == signal) sigaction(signal, &previousActions[k], nullptr);
  }
  // Blocked while the handler runs: delivered again, with the previous action, on return.
  (void)raise(signal);
}

// Turns echo off for its lifetime and puts the terminal back as it was, also on early return
// and when Ctrl-C (or another ending signal) ends the process at the prompt. Nothing already
// typed is flushed: a password typed (or pasted) ahead of the prompt counts.
class EchoOff {
 public:
  EchoOff() : changed_(tcgetattr(STDIN_FILENO, &savedTerminal) == 0) {
    if (!changed_) return;
    restoreOnSignal = 1;
    struct sigaction handler {};
    handler.sa_handler = RestoreAndEnd;
    sigemptyset(&handler.sa_mask);
    for (std::size_t k = 0; k < 3; ++k) sigaction(kEndingSignals[k], &handler, &previousActions[k]);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    changed_ = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  ~EchoOff() {
    if (changed_) tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    if (restoreOnSignal == 0) return;
    restoreOnSignal = 0;
    for (std::size_t k = 0; k < 3; ++k) sigaction(kEndingSignals[k], &previousActions[k], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  bool changed_;
};

}  // namespace

bool InputIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool ErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
  // Echo goes off before the prompt shows, so that nothing typed in answer to it is echoed.
  EchoOff echoOff;
  std::cerr << PrintableText(prompt) << std::flush;
  std::optional<std::string> line = ReadAnswer();
  if (!line) std::cerr << '\n';
  return line;
}

}  // namespace quillet::cli
