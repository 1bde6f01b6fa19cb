// SQLite's own check of a database file, for the backups the stand-in writes: restore checks a
// backup with it before the server's database is touched, and plan verify --restore-test checks
// a private copy of a generation with it.
#ifndef QUILLET_CLI_DATABASE_FILE_CHECK_H
#define QUILLET_CLI_DATABASE_FILE_CHECK_H

#include <string>

namespace quillet::cli {

// Whether this build carries SQLite: only the build beside the stand-in does.
bool CanCheckDatabaseFiles();

// How SQLite reads the file's pages. Mapped saves a system call a page, but a file that shrinks
// while it is mapped ends the process (SIGBUS): only a file in a private folder of this program's
// own, which no one else changes, is mapped.
enum class PageReads { kCopied, kMapped };

// Opens the file read-only and immutable (no lock, no file made beside it) and runs SQLite's
// check on it: quick_check, or with thorough integrity_check, which also compares every index
// with its table. Empty when SQLite finds it sound, else its words.
std::string CheckDatabaseFile(const std::string& path, bool thorough, PageReads reads);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_DATABASE_FILE_CHECK_H
