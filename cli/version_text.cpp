#include "version_text.h"

#ifndef QUILLET_VERSION
#define QUILLET_VERSION "unknown"
#endif

namespace quillet::cli {

const char* CommandLineVersion() { return QUILLET_VERSION; }

std::string VersionText(const std::string& library, const std::string& clientLibrary) {
  std::string text = std::string("quillet ") + CommandLineVersion() + "\n";
  if (!library.empty()) text += "library: " + library + "\n";
  if (!clientLibrary.empty()) text += "client library: " + clientLibrary + "\n";
  return text;
}

}  // namespace quillet::cli
