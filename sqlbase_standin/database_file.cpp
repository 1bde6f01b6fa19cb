#include "database_file.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "last_message.h"
#include "standin_admin.h"

namespace standin {
namespace {

// How long a terminate or a deinstall waits for the last writer or reader in its way: killed
// connections are rolled back within about a tenth of a second.
constexpr int kWaitMilliseconds = 2000;
// How long a terminate waits for a commit already under way (a slow disk's sync, a stopped
// client holding the write lock) before it says it could not see the end of it.
constexpr int kWriterWaitMilliseconds = 10000;

std::string LogOf(const std::string& path) { return path + "-wal"; }
std::string IndexOf(const std::string& path) { return path + "-shm"; }

// The log folded into the file and emptied; false when a reader keeps part of it.
bool Checkpoint(sqlite3* db) {
  sqlite3_stmt* checkpoint = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA wal_checkpoint(TRUNCATE)", -1, &checkpoint, nullptr) !=
      SQLITE_OK) {
    return false;
  }
  const bool whole =
      sqlite3_step(checkpoint) == SQLITE_ROW && sqlite3_column_int(checkpoint, 0) == 0;
  sqlite3_finalize(checkpoint);
  return whole;
}

sqlite3* OpenWaiting(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kWaitMilliseconds);
  return db;
}

}  // namespace

int16_t CheckNoForeignLog(const std::string& path) {
  struct stat info {};
  // A rollback journal left beside the file is replayed over it just the same.
  const std::string journal = path + "-journal";
  if (lstat(journal.c_str(), &info) == 0 && (!S_ISREG(info.st_mode) || info.st_size > 0)) {
    return Report(STANDIN_FILE_ERROR,
                  "the journal " + journal +
                      " lies beside the database file, and SQLite would replay it over the file "
                      "whether or not it is that file's own; remove it if the file was copied in");
  }
  if (lstat(LogOf(path).c_str(), &info) == 0 && (!S_ISREG(info.st_mode) || info.st_size > 0)) {
    return Report(STANDIN_FILE_ERROR,
                  "the write-ahead log " + LogOf(path) +
                      " lies beside the database file, and SQLite would replay it over the file "
                      "whether or not it is that file's own; remove it if the file was copied in "
                      "(a restore), or open the file with sqlite3 once to fold it in");
  }
  unlink(LogOf(path).c_str());
  unlink(IndexOf(path).c_str());
  return 0;
}

int16_t FoldLogIn(const std::string& path) {
  struct stat info {};
  if (lstat(LogOf(path).c_str(), &info) == 0) {
    sqlite3* db = OpenWaiting(path);
    const bool folded = db != nullptr && Checkpoint(db);
    sqlite3_close(db);
    if (!folded) {
      return Report(STANDIN_DATABASE_IN_USE,
                    "the log of " + path +
                        " cannot be folded into it: a reader keeps part of it, or it is damaged");
    }
  }
  unlink(LogOf(path).c_str());
  unlink(IndexOf(path).c_str());
  return 0;
}

bool WaitOutWriters(const std::string& path) {
  sqlite3* db = OpenWaiting(path);
  if (db == nullptr) return true;  // no database there to write to
  sqlite3_busy_timeout(db, kWriterWaitMilliseconds);
  const bool ended = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (ended) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    // A copy of the file alone, taken now, then holds every commit.
    Checkpoint(db);
  }
  sqlite3_close(db);
  return ended;
}

}  // namespace standin
