// What --version prints; one place for every way the command line is packaged.
#ifndef QUILLET_CLI_VERSION_TEXT_H
#define QUILLET_CLI_VERSION_TEXT_H

#include <string>

namespace quillet::cli {

// The command line's own version.
const char* CommandLineVersion();

// library: where the library was loaded from and its version, as far as can be told.
// clientLibrary: which client library it uses, e.g. the stand-in and its SQLite version.
std::string VersionText(const std::string& library, const std::string& clientLibrary);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_VERSION_TEXT_H
