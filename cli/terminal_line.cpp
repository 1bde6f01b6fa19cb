// Reading an answer from standard input: the same on every platform; only how echo is turned
// off differs (terminal.cpp, terminal_windows.cpp).
#include <iostream>

#include "printable_text.h"
#include "terminal.h"

namespace quillet::cli {

std::optional<std::string> ReadAnswer() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  // A line typed on a Windows console, or piped from a file written there, ends in CR LF.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> ReadLine(const std::string& question) {
  std::cerr << PrintableText(question) << std::flush;
  std::optional<std::string> line = ReadAnswer();
  // At end of input the cursor would otherwise stay after the question.
  if (!line) std::cerr << '\n';
  return line;
}

}  // namespace quillet::cli
