#include "database_file_check.h"

#if defined(QUILLET_CLI_CHECKS_PAGES)
#include <sqlite3.h>

#include <cctype>
#include <cstring>
#endif

namespace quillet::cli {

#if defined(QUILLET_CLI_CHECKS_PAGES)

namespace {

// A path as a file: URI, which alone lets SQLite open it immutable.
std::string FileUri(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || std::strchr("/-._~", c) != nullptr) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4U];
      uri += kHex[byte & 0xFU];
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

bool CanCheckDatabaseFiles() { return true; }

std::string CheckDatabaseFile(const std::string& path, bool thorough, PageReads reads) {
  sqlite3* db = nullptr;
  std::string found;
  if (sqlite3_open_v2(FileUri(path).c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                      nullptr) != SQLITE_OK) {
    found = sqlite3_errmsg(db);
  } else {
    if (reads == PageReads::kMapped) {
      // As much as this SQLite maps (it lowers the figure to its own limit); the rest is read. A
      // refusal only costs speed.
      (void)sqlite3_exec(db, "PRAGMA mmap_size = 9223372036854775807", nullptr, nullptr, nullptr);
    }
    sqlite3_stmt* check = nullptr;
    // The first problem is enough to refuse the file, and names it.
    int step = sqlite3_prepare_v2(
        db, thorough ? "PRAGMA integrity_check(1)" : "PRAGMA quick_check(1)", -1, &check, nullptr);
    if (step == SQLITE_OK) step = sqlite3_step(check);
    if (step == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
      found = text == nullptr ? "no result" : text;
      if (found == "ok") found.clear();
    } else {
      found = sqlite3_errmsg(db);
    }
    sqlite3_finalize(check);
  }
  sqlite3_close(db);
  return found;
}

#else

bool CanCheckDatabaseFiles() { return false; }

std::string CheckDatabaseFile(const std::string&, bool, PageReads) {
  return "this build of quillet has no SQLite to open a database file with";
}

#endif

}  // namespace quillet::cli
