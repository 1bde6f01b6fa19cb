#include "server_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/reply_layouts.h"
#include "database_file.h"
#include "handle_table.h"
#include "last_message.h"
#include "speedups/backup_write_gathering.h"
#include "sqlite_statement.h"
#include "standin_admin.h"
#include "standin_paths.h"

namespace standin {
namespace {

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
}

// Opens an existing database file and makes sure it is one; the log goes to a separate file
// so that readers and backups go on while one connection writes.
int16_t PrepareDatabaseFile(const std::string& path, int flags) {
  int16_t code = CheckNoForeignLog(path);
  if (code != 0) return code;
  sqlite3* db = nullptr;
  // An installed file may come from anywhere: it becomes the user's alone, as a created one.
  chmod(path.c_str(), 0600);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    code = STANDIN_FILE_ERROR;
  } else if (sqlite3_exec(db, "PRAGMA schema_version; PRAGMA journal_mode=WAL", nullptr, nullptr,
                          nullptr) != SQLITE_OK) {
    code = STANDIN_NOT_A_DATABASE;
  }
  sqlite3_close(db);
  return code;
}

// Pages handed over at a time: large steps cost little more than one, and bound what the
// copy holds in memory to its page cache.
constexpr int kBackupStepPages = 1024;

// Bytes 18 and 19 of a database's header: 2 for a database in WAL mode, 1 for one with a
// rollback journal.
constexpr off_t kFormatVersionsOffset = 18;

// A copy of a database in WAL mode says so in its header, and would look for a log beside it.
// Its connection is closed by now, so nothing reads the header again before it says 1: the copy
// is a plain file, which opens on its own, as SQLite makes one leaving WAL mode.
bool MakeRollbackMode(int file) {
  unsigned char versions[2] = {0, 0};
  if (pread(file, versions, sizeof versions, kFormatVersionsOffset) != sizeof versions) {
    return false;
  }
  if (versions[0] != 2 && versions[1] != 2) return true;
  const unsigned char rollback[2] = {1, 1};
  return pwrite(file, rollback, sizeof rollback, kFormatVersionsOffset) == sizeof rollback;
}

// Copies the committed state of a database into an empty draft file. All of it is read in one
// read transaction, so the copy is consistent while other connections write; the draft needs
// neither a journal nor syncs of its own, since it is synced once, whole, before it is renamed
// into place, and thrown away when anything fails.
// The draft's pages are handed to the system in large runs rather than one page per write, and
// its page cache is kept small (256 KiB): pages already written are reused while still in the
// processor's cache instead of fresh memory being touched for every step.
// file: the draft, open for reading and writing, which SQLite reaches through this descriptor
// alone (never by its path, which another user may swap); its writes are started on their way
// to the disk as each step ends, so that the one sync at the end has little left to wait for.
// draft: its path, for messages.
int16_t CopyDatabase(const std::string& from, const std::string& draft, int file) {
  sqlite3* source = nullptr;
  sqlite3* copy = nullptr;
  int16_t code = 0;
  const char* vfs = CombiningVfsName();
  if (vfs == nullptr) {
    return Report(STANDIN_FILE_ERROR, "cannot copy " + from + " into " + draft +
                                          ": the stand-in's file layer could not be registered");
  }
  if (sqlite3_open_v2(from.c_str(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      sqlite3_open_v2(DescriptorFileName(file).c_str(), &copy, SQLITE_OPEN_READWRITE, vfs) !=
          SQLITE_OK ||
      sqlite3_exec(copy, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-256",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    code = STANDIN_FILE_ERROR;
  }
  int step = SQLITE_ERROR;
  if (code == 0) {
    sqlite3_busy_timeout(source, 10000);
    // Pages read through a mapping of the file rather than a system call each.
    sqlite3_exec(source, "PRAGMA mmap_size=1073741824", nullptr, nullptr, nullptr);
    step = sqlite3_exec(source, "BEGIN; SELECT 1 FROM sqlite_schema LIMIT 1", nullptr, nullptr,
                        nullptr);
  }
  if (code == 0 && step == SQLITE_OK) {
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", source, "main");
    step = backup == nullptr ? SQLITE_ERROR : SQLITE_OK;
    while (step == SQLITE_OK) {
      step = sqlite3_backup_step(backup, kBackupStepPages);
      (void)sync_file_range(file, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    sqlite3_backup_finish(backup);
    sqlite3_exec(source, "COMMIT", nullptr, nullptr, nullptr);
  }
  if (code == 0 && ((step & 0xff) == SQLITE_BUSY || (step & 0xff) == SQLITE_LOCKED)) {
    code = STANDIN_DATABASE_LOCKED;
  } else if (code == 0 && step != SQLITE_DONE) {
    code = STANDIN_FILE_ERROR;
  }
  // Its own words, so that an earlier failure's text is not taken for this one's (a full disk).
  std::string message;
  if (code != 0) {
    message = "cannot copy " + from + " into " + draft + ": SQLite: " + sqlite3_errmsg(copy) +
              " (reading: " + sqlite3_errmsg(source) + ")";
  }
  sqlite3_close(source);
  if (sqlite3_close(copy) != SQLITE_OK && code == 0) {
    code = STANDIN_FILE_ERROR;
    message = "cannot close the copy " + draft;
  }
  if (code == 0 && !MakeRollbackMode(file)) {
    code = STANDIN_FILE_ERROR;
    message = "cannot write the copy " + SystemReason(draft);
  }
  return code == 0 ? code : Report(code, message);
}

// Not a return code: a killed connection has yet to let go of the database.
constexpr int16_t kReleasing = -1;
constexpr int kReleaseWaits = 40;
constexpr useconds_t kReleaseWaitMicroseconds = 50000;

// A fixed-width field of a zeroed record: the text is cut to leave its last byte zero.
void PutText(unsigned char* field, std::size_t width, const std::string& text) {
  sqlwntm::active_cursors::WriteText(field, width - 1, text.data(), text.size());
}

}  // namespace

int16_t ServerSession::Connect(const char* server, const char* password) {
  if (server == nullptr) return STANDIN_NO_SUCH_SERVER;
  if (const int16_t code = catalogue_.Open(server)) return code;
  return catalogue_.Admit(password);
}

int16_t ServerSession::Running() {
  bool running = false;
  if (const int16_t code = catalogue_.IsRunning(&running)) return code;
  return running ? 0 : STANDIN_SERVER_TERMINATED;
}

int16_t ServerSession::RoomFor(const char* database) {
  std::vector<std::string> names;
  if (const int16_t code = catalogue_.DatabaseNames(&names)) return code;
  std::size_t size = std::strlen(database) + 2;
  for (const std::string& name : names) size += name.size() + 1;
  return size > sqlwntm::database_names::kListSize ? STANDIN_TOO_MANY_DATABASES : 0;
}

int16_t ServerSession::CreateDatabase(const char* database) {
  if (const int16_t code = Running()) return code;
  if (!IsDatabaseName(database)) return Report(STANDIN_BAD_NAME, DatabaseNameRule(database));
  if (const int16_t code = catalogue_.Begin()) return code;
  bool installed = false;
  int16_t code = catalogue_.HasDatabase(database, &installed);
  const std::string path = DatabasePath(catalogue_.Server(), database);
  if (code == 0 && (installed || FileExists(path))) code = STANDIN_DATABASE_EXISTS;
  if (code == 0) code = RoomFor(database);
  bool madeFile = false;
  if (code == 0) {
    // SQLite gives the log files the mode of the database file.
    madeFile = MakePrivateFile(path);
    code =
        madeFile ? PrepareDatabaseFile(path, SQLITE_OPEN_READWRITE) : int16_t{STANDIN_FILE_ERROR};
  }
  if (code == 0) code = catalogue_.AddDatabase(database);
  code = catalogue_.End(code);
  if (code != 0 && madeFile) RemoveDatabaseFiles(path);
  return code;
}

int16_t ServerSession::DropDatabase(const char* database) {
  return RemoveFromCatalogue(database, true);
}

int16_t ServerSession::InstallDatabase(const char* database) {
  if (const int16_t code = Running()) return code;
  if (!IsDatabaseName(database)) return Report(STANDIN_BAD_NAME, DatabaseNameRule(database));
  if (const int16_t code = catalogue_.Begin()) return code;
  bool installed = false;
  int16_t code = catalogue_.HasDatabase(database, &installed);
  const std::string path = DatabasePath(catalogue_.Server(), database);
  if (code == 0 && installed) code = STANDIN_DATABASE_EXISTS;
  if (code == 0 && !FileExists(path)) code = STANDIN_NO_SUCH_DATABASE;
  if (code == 0) code = RoomFor(database);
  if (code == 0) code = PrepareDatabaseFile(path, SQLITE_OPEN_READWRITE);
  if (code == 0) code = catalogue_.AddDatabase(database);
  return catalogue_.End(code);
}

int16_t ServerSession::DeinstallDatabase(const char* database) {
  return RemoveFromCatalogue(database, false);
}

int16_t ServerSession::RemoveFromCatalogue(const char* database, bool removeFiles) {
  if (const int16_t code = Running()) return code;
  if (!IsDatabaseName(database)) return STANDIN_NO_SUCH_DATABASE;
  // Connections just killed are rolled back within a tenth of a second or so: a drop right
  // after a kill waits for that rather than failing.
  for (int wait = 0;; ++wait) {
    const int16_t code = TryRemoveFromCatalogue(database, removeFiles);
    if (code != kReleasing) return code;
    if (wait == kReleaseWaits) return STANDIN_DATABASE_IN_USE;
    usleep(kReleaseWaitMicroseconds);
  }
}

int16_t ServerSession::TryRemoveFromCatalogue(const char* database, bool removeFiles) {
  if (const int16_t code = catalogue_.Begin()) return code;
  bool installed = false;
  bool inUse = false;
  bool releasing = false;
  int16_t code = catalogue_.HasDatabase(database, &installed);
  if (code == 0 && !installed) code = STANDIN_NO_SUCH_DATABASE;
  if (code == 0) code = catalogue_.IsInUse(database, &inUse, &releasing);
  if (code == 0 && inUse) code = STANDIN_DATABASE_IN_USE;
  if (code == 0 && releasing) code = kReleasing;
  if (code == 0) code = catalogue_.RemoveDatabase(database);
  // Inside the transaction: no connection can open the file, nor install take it back, between
  // its leaving the catalogue and its removal. A deinstalled file is whole on its own, with no
  // log left to be replayed over whatever is later put in its place.
  const std::string path = DatabasePath(catalogue_.Server(), database);
  if (code == 0 && removeFiles) RemoveDatabaseFiles(path);
  if (code == 0 && !removeFiles) code = FoldLogIn(path);
  return catalogue_.End(code);
}

int16_t ServerSession::Backup(const char* database, const char* directory) {
  if (const int16_t code = Running()) return code;
  if (directory == nullptr) return STANDIN_FILE_ERROR;
  bool installed = false;
  if (!IsDatabaseName(database)) return STANDIN_NO_SUCH_DATABASE;
  if (const int16_t code = catalogue_.HasDatabase(database, &installed)) return code;
  if (!installed) return STANDIN_NO_SUCH_DATABASE;
  const std::string folder = NativePath(directory);
  // The folder is opened once: what is checked is where the copy is written. A link in its own
  // place is not followed: swapped in while a run prepares the folder, it would send the copy
  // of the database wherever its maker chose.
  Draft draft;
  if (!draft.OpenFolder(folder, false)) {
    const int error = errno;
    struct stat info {};
    const bool isLink = lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    const bool isFile = !isLink && error == ENOTDIR && lstat(folder.c_str(), &info) == 0;
    errno = error;
    return Report(STANDIN_FILE_ERROR,
                  isLink ? "the backup directory " + folder +
                               " is a symbolic link, which is not followed; name its target"
                  : isFile ? "the backup directory " + folder + " is a file, not a directory"
                  : error == ENOENT || error == ENOTDIR
                      ? "the backup directory " + folder + " does not exist"
                      : "cannot write into the backup directory " + SystemReason(folder));
  }
  if (draft.InServerFolder()) {
    return Report(STANDIN_FILE_ERROR, "the backup directory " + folder +
                                          " is a stand-in server's folder; back up elsewhere");
  }
  // Written aside and renamed into place, so that the directory never holds half a copy.
  if (!draft.Create(std::string(database) + ".db")) {
    return Report(STANDIN_FILE_ERROR, "cannot write the backup " + SystemReason(draft.Path()));
  }
  const int16_t code =
      CopyDatabase(DatabasePath(catalogue_.Server(), database), draft.Path(), draft.Descriptor());
  // Only a copy that is whole on disk takes the place of an earlier one, and the rename is
  // made to last as well; a draft that does not is removed.
  return code == 0 ? draft.Install("the backup") : code;
}

int16_t ServerSession::ActiveCursors(int16_t request, void* buffer, int32_t size, int32_t* length) {
  if (const int16_t code = Running()) return code;
  namespace layout = sqlwntm::active_cursors;
  if (request != layout::kRequestAll || buffer == nullptr) return STANDIN_BAD_PARAMETER;
  std::vector<ConnectionRecord> records{{kServerProcess, "", "", layout::kServerProgram}};
  if (const int16_t code = catalogue_.Connections(&records)) return code;
  const std::size_t needed = layout::RecordOffset(records.size());
  if (size < 0 || static_cast<std::size_t>(size) < needed) return STANDIN_BUFFER_TOO_SMALL;

  auto* reply = static_cast<unsigned char*>(buffer);
  std::memset(reply, 0, needed);
  layout::WriteCount(reply, records.size());
  unsigned char* record = reply + layout::kHeaderSize;
  for (const ConnectionRecord& connection : records) {
    record[layout::kProcessOffset] = static_cast<unsigned char>(connection.process);
    PutText(record + layout::kUserOffset, layout::kUserSize, connection.user);
    PutText(record + layout::kDatabaseOffset, layout::kDatabaseSize, connection.database);
    PutText(record + layout::kProgramOffset, layout::kProgramSize, connection.program);
    record += layout::kRecordSize;
  }
  if (length != nullptr) *length = static_cast<int32_t>(needed);
  return 0;
}

int16_t ServerSession::Kill(int32_t process) {
  if (const int16_t code = Running()) return code;
  if (process < kServerProcess || process > kLastConnectionProcess) {
    return STANDIN_NO_SUCH_PROCESS;
  }
  return catalogue_.Kill(process);
}

int16_t ServerSession::Terminate() {
  if (const int16_t code = Running()) return code;
  if (const int16_t code = catalogue_.SetRunning(false)) return code;
  // From the state's change on, no commit of the server's connections goes through; one that
  // was under way holds its database's write lock, and is waited out here, so that once the
  // call returns no database of the server changes.
  std::vector<std::string> names;
  catalogue_.DatabaseNames(&names);
  std::string unfinished;
  for (const std::string& name : names) {
    if (!WaitOutWriters(DatabasePath(catalogue_.Server(), name))) {
      unfinished += (unfinished.empty() ? "" : ", ") + name;
    }
  }
  if (unfinished.empty()) return 0;
  // Terminated all the same, but not the promise that nothing changes from now on.
  return Report(STANDIN_DATABASE_LOCKED,
                "the server is terminated, but a write under way on " + unfinished +
                    " had not ended after 10 seconds (a stopped client, or a slow disk); it may "
                    "still commit");
}

int16_t ServerSession::DatabaseNames(const char* server, char* buffer, int32_t size) {
  if (server == nullptr) return STANDIN_NO_SUCH_SERVER;
  if (buffer == nullptr) return STANDIN_BAD_PARAMETER;
  // Hosts ask for the names over a server connection of their own: its catalogue is open
  // already, and opening it again would cost more than the list.
  ServerSession* connected = FindServerOfThisThread(server);
  // A server removed and made again since that connection opened has a catalogue of its own.
  if (connected != nullptr && connected->catalogue_.StillInPlace()) {
    if (const int16_t code = Catalogue::CheckServer(server)) return code;
    return NamesOf(connected->catalogue_, buffer, size);
  }
  Catalogue catalogue;
  if (const int16_t code = catalogue.Open(server)) return code;
  return NamesOf(catalogue, buffer, size);
}

int16_t ServerSession::NamesOf(Catalogue& catalogue, char* buffer, int32_t size) {
  bool running = false;
  if (const int16_t code = catalogue.IsRunning(&running)) return code;
  if (!running) return STANDIN_SERVER_TERMINATED;
  std::vector<std::string> names;
  if (const int16_t code = catalogue.DatabaseNames(&names)) return code;
  std::string list;
  for (const std::string& name : names) list.append(name).push_back('\0');
  list.push_back('\0');
  if (static_cast<int64_t>(list.size()) > size) return STANDIN_BUFFER_TOO_SMALL;
  // The list carries its own NULs: each name's and the closing empty name's.
  std::copy(list.begin(), list.end(), buffer);
  return 0;
}

}  // namespace standin
