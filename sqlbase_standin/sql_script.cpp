#include "sql_script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <openssl/crypto.h>

#include "last_message.h"
#include "password_hash.h"
#include "sqlite_statement.h"
#include "standin_admin.h"
#include "standin_paths.h"
#include "user_statements.h"

namespace standin {
namespace {

// Moves past blanks and one keyword (any case); false when the keyword is not next.
bool TakeWord(const char*& text, const char* word) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  const char* at = text;
  for (; *word != '\0'; ++word, ++at) {
    if (std::toupper(static_cast<unsigned char>(*at)) != *word) return false;
  }
  if (*at != '\0' && !std::isspace(static_cast<unsigned char>(*at))) return false;
  text = at;
  return true;
}

bool TakeFile(const char* text, std::string* file) {
  std::string rest = text;
  const std::size_t first = rest.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return false;
  const std::size_t last = rest.find_last_not_of(" \t\r\n");
  *file = NativePath(rest.substr(first, last - first + 1).c_str());
  return true;
}

// where: e.g. " (stock.sql, line 3)", said after SQLite's message.
int16_t Failed(int sqliteCode, sqlite3* db, const std::string& where = "") {
  const int primary = sqliteCode & 0xff;
  return Report(primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? STANDIN_DATABASE_LOCKED
                                                                   : STANDIN_SQL_ERROR,
                std::string("SQLite: ") + sqlite3_errmsg(db) + where);
}

// Whether the window from `at` holds a whole statement: whether the text up to its last
// semicolon ends where SQLite takes a statement to end (not in a string, a comment or a
// trigger's body). One pass, from the last semicolon only: a whole statement followed by a cut
// one whose string holds a semicolon is taken for cut, and more of the file is read first.
bool HoldsWholeStatement(std::string* window, std::size_t at) {
  const std::size_t semicolon = window->rfind(';');
  if (semicolon == std::string::npos || semicolon < at) return false;
  // The text up to the semicolon, ended for the moment by a NUL after it.
  char& after = (*window)[semicolon + 1];
  const char saved = after;
  after = '\0';
  const bool complete = sqlite3_complete(window->c_str() + at) != 0;
  after = saved;
  return complete;
}

// A script file read twice: once whole to check it, then again piece by piece as its statements
// run, so that it is never held in memory whole. The second reading must find what the first
// did, or what ran is rolled back.
class ScriptFile {
 public:
  explicit ScriptFile(std::string file) : file_(std::move(file)) {}
  ~ScriptFile() {
    if (in_ >= 0) close(in_);
  }
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;

  // The whole file or nothing: a directory, a read error or a NUL byte is a failure, never a
  // script that ends early.
  int16_t Check() {
    // Non-blocking, so that a FIFO without a writer is refused rather than waited on forever.
    in_ = open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in_ < 0) return Report(STANDIN_FILE_ERROR, "cannot read the script " + SystemReason(file_));
    struct stat info {};
    if (fstat(in_, &info) != 0 || !S_ISREG(info.st_mode)) {
      return Report(STANDIN_FILE_ERROR, "cannot read the script " + file_ + ": not a regular file");
    }
    char buffer[kChunk];
    std::size_t got = 0;
    int16_t code;
    while ((code = ReadSome(buffer, sizeof buffer, &got)) == kMore) {
    }
    // A script may hold passwords (GRANT): no copy of it stays on the stack.
    OPENSSL_cleanse(buffer, sizeof buffer);
    if (code != 0) return code;
    checked_ = hash_;
    checkedSize_ = offset_;
    return 0;
  }

  // Runs the statements in order; on a failure says which line of the file it was on.
  int Run(sqlite3* db, const ScriptStop& stop, const ServerStatement& serverStatement,
          std::string* where, int16_t* fileCode) {
    if (lseek(in_, 0, SEEK_SET) != 0) {
      *fileCode = Report(STANDIN_FILE_ERROR, "cannot read the script " + SystemReason(file_));
      return SQLITE_ERROR;
    }
    hash_ = kHashStart;
    offset_ = 0;
    std::string window;
    // A user statement's password passes through it.
    const WipeOnExit wipeWindow(window);
    std::size_t at = 0;  // the next statement's first byte in the window
    int64_t lines = 0;   // line breaks before it
    bool ended = false;
    for (;;) {
      // Room for the next statement: a statement that does not end inside the window is
      // prepared again once more of the file is in.
      bool wantMore = !ended && window.size() - at < kChunk / 2;
      sqlite3_stmt* statement = nullptr;
      const char* tail = nullptr;
      int code = SQLITE_OK;
      // The server's own statements go to the callback, whole, up to their ";".
      const char* user = wantMore ? nullptr : UserStatementStart(window.c_str() + at);
      if (user != nullptr) {
        tail = std::strchr(user, ';');
        wantMore = tail == nullptr && !ended;
        tail = tail == nullptr ? window.c_str() + window.size() : tail + 1;
      } else if (!wantMore) {
        code = sqlite3_prepare_v2(db, window.c_str() + at, -1, &statement, &tail);
        // A statement that fails or reaches the window's end may be cut there, and more of the
        // file decides; one that ends inside the window failed on its own, and is reported now
        // rather than after reading the rest of the file into the window.
        const bool cut = (code != SQLITE_OK || tail == window.c_str() + window.size()) &&
                         !HoldsWholeStatement(&window, at);
        if (cut && !ended) {
          sqlite3_finalize(statement);
          wantMore = true;
        }
      }
      if (wantMore) {
        window.erase(0, at);
        at = 0;
        // Doubling: a long statement is prepared again a few times, not once per chunk.
        const std::size_t size = window.size();
        const std::size_t room = std::max(kChunk, size);
        window.resize(size + room);
        std::size_t got = 0;
        const int16_t read = ReadSome(&window[size], room, &got);
        window.resize(size + got);
        if (read != kMore && read != 0) {
          *fileCode = read;
          return SQLITE_ERROR;
        }
        ended = read == 0;
        if (ended && (hash_ != checked_ || offset_ != checkedSize_)) {
          *fileCode = Report(STANDIN_FILE_ERROR, "the script " + file_ +
                                                     " changed while it ran; nothing of it was "
                                                     "kept");
          return SQLITE_ERROR;
        }
        continue;
      }
      const char* const base = window.c_str() + at;
      const char* statementStart = base;
      while (std::isspace(static_cast<unsigned char>(*statementStart))) ++statementStart;
      if (user != nullptr) {
        const std::string place = " (" + file_ + ", line " +
                                  std::to_string(1 + lines + std::count(base, user, '\n')) + ")";
        if (const int16_t refused = serverStatement(user, tail, place)) {
          *fileCode = refused;
          return SQLITE_ERROR;
        }
      }
      if (code == SQLITE_OK && statement != nullptr) {
        // A kill between two statements is met here: SQLite forgets an interrupt once the
        // statement it was aimed at has ended.
        if (const int16_t stopped = stop()) {
          sqlite3_finalize(statement);
          *fileCode = stopped;
          return SQLITE_ABORT;
        }
        while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
        }
        if (code == SQLITE_DONE) code = SQLITE_OK;
      }
      const int offset = code == SQLITE_OK ? -1 : sqlite3_error_offset(db);
      sqlite3_finalize(statement);
      if (code != SQLITE_OK) {
        const char* failed = offset >= 0 ? base + offset : statementStart;
        *where = " (" + file_ + ", line " +
                 std::to_string(1 + lines + std::count(base, std::max(base, failed), '\n')) + ")";
        return code;
      }
      if (tail == base) return SQLITE_OK;  // nothing but blanks and comments left
      lines += std::count(base, tail, '\n');
      at = static_cast<std::size_t>(tail - window.c_str());
      if (ended && at == window.size()) return SQLITE_OK;
    }
  }

 private:
  static constexpr std::size_t kChunk = 65536;
  static constexpr int16_t kMore = -1;
  static constexpr uint64_t kHashStart = 14695981039346656037ull;

  // kMore with some bytes read, 0 at the end of the file, else the failure's code.
  int16_t ReadSome(char* buffer, std::size_t room, std::size_t* got) {
    ssize_t read;
    do {
      read = ::read(in_, buffer, room);
    } while (read < 0 && errno == EINTR);
    if (read < 0)
      return Report(STANDIN_FILE_ERROR, "cannot read the script " + SystemReason(file_));
    if (read == 0) return 0;
    *got = static_cast<std::size_t>(read);
    // SQLite would take a NUL for the end of the script and skip the rest unseen.
    const void* nul = std::memchr(buffer, '\0', *got);
    if (nul != nullptr) {
      const auto position = offset_ + static_cast<uint64_t>(static_cast<const char*>(nul) - buffer);
      return Report(STANDIN_BAD_SCRIPT, "the script " + file_ + " holds a NUL byte at offset " +
                                            std::to_string(position) + "; nothing of it was run");
    }
    // FNV-1a: enough to tell whether the file changed between the readings.
    for (std::size_t i = 0; i < *got; ++i) {
      hash_ = (hash_ ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
    }
    offset_ += *got;
    return kMore;
  }

  std::string file_;
  int in_ = -1;
  uint64_t hash_ = kHashStart;
  uint64_t offset_ = 0;
  uint64_t checked_ = 0;
  uint64_t checkedSize_ = 0;
};

}  // namespace

bool ParseLoadCommand(const char* text, std::string* file) {
  if (text == nullptr || !TakeWord(text, "LOAD") || !TakeWord(text, "SQL")) return false;
  return TakeFile(text, file);
}

bool ParseUnloadCommand(const char* text, std::string* file) {
  if (text == nullptr || !TakeWord(text, "UNLOAD")) return false;
  const char* rest = text;
  if (!TakeWord(rest, "SQL")) {
    rest = text;
    if (!TakeWord(rest, "DATABASE")) return false;
  }
  return TakeFile(rest, file);
}

namespace {
thread_local bool runningScript = false;
}  // namespace

bool RunningScript() { return runningScript; }

int16_t RunScript(sqlite3* db, const std::string& file, const ScriptStop& stop,
                  const ServerStatement& serverStatement) {
  ScriptFile script(file);
  if (const int16_t code = script.Check()) return code;
  // Taken as a writer from the start, so that it waits for other writers as any write does:
  // a script that read first would fail at once once another connection had written.
  const bool ownUnit = sqlite3_get_autocommit(db) != 0;
  if (ownUnit && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Failed(sqlite3_errcode(db), db);
  }
  // Inside the transaction of a database lock or of a unit still open, the savepoint is what
  // a failure rolls back to.
  const std::string savepoint = kScriptSavepoint;
  int code = sqlite3_exec(db, ("SAVEPOINT " + savepoint).c_str(), nullptr, nullptr, nullptr);
  int16_t failed = 0;
  if (code == SQLITE_OK) {
    std::string where;
    int16_t fileCode = 0;
    runningScript = true;
    code = script.Run(db, stop, serverStatement, &where, &fileCode);
    runningScript = false;
    // Said before the rollback, which would replace SQLite's message.
    if (code != SQLITE_OK) {
      failed = fileCode != 0 ? fileCode : Failed(code, db, where);
      sqlite3_exec(db, ("ROLLBACK TO " + savepoint).c_str(), nullptr, nullptr, nullptr);
    }
    const int release =
        sqlite3_exec(db, ("RELEASE " + savepoint).c_str(), nullptr, nullptr, nullptr);
    // A release refused (a deferred constraint) leaves the savepoint open: nothing of the
    // script may stay in a lock's transaction either.
    if (release != SQLITE_OK) {
      if (failed == 0) failed = Failed(release, db);
      sqlite3_exec(db, ("ROLLBACK TO " + savepoint + "; RELEASE " + savepoint).c_str(), nullptr,
                   nullptr, nullptr);
    }
    if (code == SQLITE_OK) code = release;
  }
  if (code == SQLITE_OK) return 0;
  if (failed == 0) failed = Failed(code, db);
  // Nothing of it stays, and no write lock outlives it.
  if (ownUnit && sqlite3_get_autocommit(db) == 0) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  return failed;
}

}  // namespace standin
