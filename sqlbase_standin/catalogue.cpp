#include "catalogue.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "last_message.h"
#include "password_hash.h"
#include "process_identity.h"
#include "sqlite_statement.h"
#include "standin_admin.h"
#include "standin_paths.h"

namespace standin {
namespace {

// Long enough for any catalogue change of another process to finish.
constexpr int kCatalogueWaitMilliseconds = 10000;

constexpr const char* kSchema =
    "PRAGMA journal_mode=WAL;"
    "CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE databases(name TEXT PRIMARY KEY);"
    "CREATE TABLE users(database TEXT NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
    " password TEXT NOT NULL, PRIMARY KEY(database, name));"
    "CREATE TABLE connections(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " process INTEGER NOT NULL UNIQUE, pid INTEGER NOT NULL, started INTEGER NOT NULL,"
    " user TEXT NOT NULL, database TEXT NOT NULL, program TEXT NOT NULL,"
    " killed INTEGER NOT NULL DEFAULT 0);"
    "INSERT INTO settings VALUES('state', 'running'), ('next_process', '2'),"
    " ('passwords', 'hashed');";

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

sqlite3* OpenFile(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kCatalogueWaitMilliseconds);
  // A changed password leaves no trace of the old one in free space. Every connect and
  // disconnect writes a few pages: the log is folded back often and cut back when it starts
  // over, so that it stays small however long connections are held.
  sqlite3_exec(db,
               "PRAGMA secure_delete=ON; PRAGMA wal_autocheckpoint=64;"
               " PRAGMA journal_size_limit=262144",
               nullptr, nullptr, nullptr);
  return db;
}

int16_t Failed(int sqliteCode) {
  return (sqliteCode & 0xff) == SQLITE_BUSY ? STANDIN_DATABASE_LOCKED : STANDIN_CATALOGUE_ERROR;
}

}  // namespace

Catalogue::~Catalogue() {
  if (signals_ != nullptr) munmap(signals_, kSharedSize);
  sqlite3_close(db_);
}

int16_t Catalogue::CreateServer(const std::string& server, const std::string& password) {
  if (!IsServerName(server.c_str())) {
    return Report(STANDIN_BAD_NAME, ServerNameRule(server.c_str()));
  }
  const std::string folder = ServerFolder(server);
  if (!MakeFolders(RootFolder())) return STANDIN_CATALOGUE_ERROR;
  if (const int16_t code = CheckFolder(RootFolder())) return code;
  if (mkdir(folder.c_str(), 0700) == 0) {
    if (chmod(folder.c_str(), 0700) != 0) return STANDIN_CATALOGUE_ERROR;
  } else if (errno != EEXIST) {
    return STANDIN_CATALOGUE_ERROR;
  }
  if (const int16_t code = CheckFolder(folder)) return code;
  const std::string path = CataloguePath(server);
  if (Exists(path)) return STANDIN_SERVER_EXISTS;

  // Built aside and linked into place whole, so that no process ever opens half a catalogue
  // and only one of two parallel creators wins.
  RemoveStaleDrafts(folder);
  const std::string draft = DraftName(path);
  // SQLite gives its log files the mode of the database file.
  if (!MakePrivateFile(draft)) return STANDIN_CATALOGUE_ERROR;
  sqlite3* db = OpenFile(draft, SQLITE_OPEN_READWRITE);
  if (db == nullptr) return STANDIN_CATALOGUE_ERROR;
  int code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) {
    const std::string hash = HashPassword(password);
    SqliteStatement insert(db, "INSERT INTO settings VALUES('password', ?)");
    code = !hash.empty() && insert.Bind(1, hash).Step() == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
  }
  sqlite3_close(db);
  int16_t result = code == SQLITE_OK ? 0 : STANDIN_CATALOGUE_ERROR;
  if (result == 0 && link(draft.c_str(), path.c_str()) != 0) {
    result = errno == EEXIST ? STANDIN_SERVER_EXISTS : STANDIN_CATALOGUE_ERROR;
  }
  unlink(draft.c_str());
  return result;
}

int16_t Catalogue::CheckServer(const std::string& server) {
  if (!IsServerName(server.c_str())) return STANDIN_NO_SUCH_SERVER;
  if (const int16_t code = CheckFolder(RootFolder())) return code;
  if (const int16_t code = CheckFolder(ServerFolder(server))) return code;
  return Exists(CataloguePath(server)) ? 0 : STANDIN_NO_SUCH_SERVER;
}

int16_t Catalogue::Open(const std::string& server) {
  if (const int16_t code = CheckServer(server)) return code;
  const std::string path = CataloguePath(server);
  // Catalogues of earlier versions were made as the umask let them.
  for (const char* suffix : {"", "-wal", "-shm"}) chmod((path + suffix).c_str(), 0600);
  db_ = OpenFile(path, SQLITE_OPEN_READWRITE);
  if (db_ == nullptr) return STANDIN_CATALOGUE_ERROR;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) opened_ = {info.st_dev, info.st_ino};
  server_ = server;
  MapSignals();
  return HashClearPasswords();
}

// Catalogues of earlier versions kept passwords as they were typed: the first process that
// opens one replaces them by their hashes, all in one transaction.
int16_t Catalogue::HashClearPasswords() {
  auto hashed = [this](bool* done) -> int16_t {
    SqliteStatement select(db_, "SELECT 1 FROM settings WHERE key = 'passwords'");
    const int step = select.Step();
    *done = step == SQLITE_ROW;
    return step == SQLITE_ROW || step == SQLITE_DONE ? int16_t{0} : Failed(step);
  };
  bool done = false;
  if (const int16_t code = hashed(&done)) return code;
  if (done) return 0;
  if (const int16_t code = Begin()) return code;
  int16_t code = hashed(&done);
  if (code != 0 || done) return End(code);
  struct Clear {
    std::string table;
    int64_t row;
    std::string password;
  };
  std::vector<Clear> clear;
  {
    SqliteStatement select(db_,
                           "SELECT 'settings', rowid, value FROM settings WHERE key = 'password'"
                           " UNION ALL SELECT 'users', rowid, password FROM users");
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
      clear.push_back({select.Text(0), select.Integer(1), select.Text(2)});
    }
    if (step != SQLITE_DONE) code = Failed(step);
  }
  for (Clear& entry : clear) {
    const std::string hash = code == 0 ? HashPassword(entry.password) : std::string();
    Wipe(entry.password);
    if (code != 0) continue;
    SqliteStatement update(db_, entry.table == "users"
                                    ? "UPDATE users SET password = ? WHERE rowid = ?"
                                    : "UPDATE settings SET value = ? WHERE rowid = ?");
    if (hash.empty() || update.Bind(1, hash).Bind(2, entry.row).Step() != SQLITE_DONE) {
      code = STANDIN_CATALOGUE_ERROR;
    }
  }
  if (code == 0) code = Execute("INSERT INTO settings VALUES('passwords', 'hashed')");
  code = End(code);
  // The clear texts stay in the pages of the database file until the log is folded back.
  if (code == 0) Execute("PRAGMA wal_checkpoint(TRUNCATE)");
  return code;
}

void Catalogue::MapSignals() {
  const std::string path = ServerFolder(server_) + "/signals";
  const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (file < 0) return;
  fchmod(file, 0600);
  struct stat info {};
  // Growing the file to the counters' size zeroes what is new; a grown one is left as it is.
  if (fstat(file, &info) == 0 &&
      (info.st_size >= static_cast<off_t>(kSharedSize) || ftruncate(file, kSharedSize) == 0)) {
    void* mapped = mmap(nullptr, kSharedSize, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (mapped != MAP_FAILED) signals_ = static_cast<uint64_t*>(mapped);
  }
  close(file);
}

bool Catalogue::ReadSignals(uint64_t* signals) const {
  if (signals_ == nullptr) return false;
  *signals = __atomic_load_n(signals_, __ATOMIC_ACQUIRE);
  return true;
}

bool Catalogue::StillInPlace() const {
  struct stat info {};
  return db_ != nullptr && stat(CataloguePath(server_).c_str(), &info) == 0 &&
         opened_ == std::make_pair(info.st_dev, info.st_ino);
}

bool Catalogue::ReadCommits(uint64_t* commits) const {
  if (signals_ == nullptr) return false;
  *commits = __atomic_load_n(signals_ + 1, __ATOMIC_ACQUIRE);
  return true;
}

uint64_t* Catalogue::CommitCounter() const { return signals_ == nullptr ? nullptr : signals_ + 1; }

// Raised after the change is committed, so that whoever sees the new count finds the change.
void Catalogue::RaiseSignals() {
  if (signals_ != nullptr) __atomic_add_fetch(signals_, 1, __ATOMIC_ACQ_REL);
}

int16_t Catalogue::Execute(const char* sql) {
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return code == SQLITE_OK ? int16_t{0} : Failed(code);
}

int16_t Catalogue::Begin() { return Execute("BEGIN IMMEDIATE"); }

int16_t Catalogue::End(int16_t code) {
  if (code != 0) {
    Execute("ROLLBACK");
    return code;
  }
  return Execute("COMMIT");
}

int16_t Catalogue::IsRunning(bool* running) {
  SqliteStatement select(db_, "SELECT value FROM settings WHERE key = 'state'");
  const int step = select.Step();
  if (step != SQLITE_ROW) return Failed(step);
  *running = select.Text(0) == "running";
  return 0;
}

int16_t Catalogue::Admit(const char* password) {
  bool running = false;
  if (const int16_t code = IsRunning(&running)) return code;
  if (!running) return STANDIN_SERVER_TERMINATED;
  SqliteStatement select(db_, "SELECT value FROM settings WHERE key = 'password'");
  const int step = select.Step();
  if (step != SQLITE_ROW) return Failed(step);
  if (password == nullptr) return STANDIN_BAD_PASSWORD;
  std::string typed = password;
  const bool matches = PasswordMatches(select.Text(0), typed);
  Wipe(typed);
  return matches ? 0 : STANDIN_BAD_PASSWORD;
}

int16_t Catalogue::SetRunning(bool running) {
  if (const int16_t code = Begin()) return code;
  SqliteStatement update(db_, "UPDATE settings SET value = ? WHERE key = 'state'");
  int16_t code =
      update.Bind(1, std::string(running ? "running" : "terminated")).Step() == SQLITE_DONE
          ? 0
          : STANDIN_CATALOGUE_ERROR;
  if (code == 0 && running) code = Execute("DELETE FROM connections");
  code = End(code);
  if (code == 0) RaiseSignals();
  return code;
}

int16_t Catalogue::HasDatabase(const std::string& database, bool* installed) {
  SqliteStatement select(db_, "SELECT 1 FROM databases WHERE name = ?");
  const int step = select.Bind(1, database).Step();
  if (step != SQLITE_ROW && step != SQLITE_DONE) return Failed(step);
  *installed = step == SQLITE_ROW;
  return 0;
}

int16_t Catalogue::DatabaseNames(std::vector<std::string>* names) {
  SqliteStatement select(db_, "SELECT name FROM databases ORDER BY name");
  int step;
  while ((step = select.Step()) == SQLITE_ROW) names->push_back(select.Text(0));
  return step == SQLITE_DONE ? int16_t{0} : Failed(step);
}

int16_t Catalogue::AddDatabase(const std::string& database) {
  SqliteStatement insert(db_, "INSERT INTO databases VALUES(?)");
  const int step = insert.Bind(1, database).Step();
  if (step != SQLITE_DONE) return Failed(step);
  return SetUser(database, kDefaultUser, kDefaultUserPassword);
}

int16_t Catalogue::RemoveDatabase(const std::string& database) {
  SqliteStatement remove(db_, "DELETE FROM databases WHERE name = ?");
  SqliteStatement users(db_, "DELETE FROM users WHERE database = ?");
  if (remove.Bind(1, database).Step() != SQLITE_DONE) return STANDIN_CATALOGUE_ERROR;
  return users.Bind(1, database).Step() == SQLITE_DONE ? 0 : STANDIN_CATALOGUE_ERROR;
}

// killed: 0 for a live connection, 1 for a killed one that may still hold its database open,
// 2 for a killed one that has let go of it.
int16_t Catalogue::IsInUse(const std::string& database, bool* inUse, bool* releasing) {
  if (const int16_t code = ForgetDeadConnections()) return code;
  SqliteStatement select(db_,
                         "SELECT coalesce(max(killed = 0), 0), coalesce(max(killed = 1), 0)"
                         " FROM connections WHERE database = ?");
  const int step = select.Bind(1, database).Step();
  if (step != SQLITE_ROW) return Failed(step);
  *inUse = select.Integer(0) != 0;
  *releasing = select.Integer(1) != 0;
  return 0;
}

int16_t Catalogue::CheckLogin(const std::string& database, const std::string& user,
                              const std::string& password) {
  SqliteStatement select(db_, "SELECT password FROM users WHERE database = ? AND name = ?");
  const int step = select.Bind(1, database).Bind(2, user).Step();
  if (step == SQLITE_DONE) {
    // As long as a wrong password takes, so that the time taken tells no one which users exist.
    static const std::string unknownUser = HashPassword("");
    PasswordMatches(unknownUser, password);
    return STANDIN_BAD_LOGIN;
  }
  if (step != SQLITE_ROW) return Failed(step);
  return PasswordMatches(select.Text(0), password) ? 0 : STANDIN_BAD_LOGIN;
}

int16_t Catalogue::SetUser(const std::string& database, const std::string& user,
                           const std::string& password) {
  const std::string hash = HashPassword(password);
  if (hash.empty()) return STANDIN_CATALOGUE_ERROR;
  SqliteStatement upsert(db_, "INSERT OR REPLACE INTO users VALUES(?, upper(?), ?)");
  const int step = upsert.Bind(1, database).Bind(2, user).Bind(3, hash).Step();
  return step == SQLITE_DONE ? int16_t{0} : Failed(step);
}

int16_t Catalogue::RemoveUser(const std::string& database, const std::string& user) {
  SqliteStatement remove(db_, "DELETE FROM users WHERE database = ? AND name = ?");
  const int step = remove.Bind(1, database).Bind(2, user).Step();
  if (step != SQLITE_DONE) return Failed(step);
  if (sqlite3_changes(db_) == 0) {
    return Report(STANDIN_SQL_ERROR, "the database " + database + " has no user " + user);
  }
  SqliteStatement left(db_, "SELECT 1 FROM users WHERE database = ? LIMIT 1");
  const int found = left.Bind(1, database).Step();
  if (found == SQLITE_DONE) {
    return Report(STANDIN_SQL_ERROR, "REVOKE CONNECT FROM " + user + " would leave the database " +
                                         database + " without users; nothing was revoked");
  }
  return found == SQLITE_ROW ? int16_t{0} : Failed(found);
}

int16_t Catalogue::ForgetDeadConnections() {
  std::vector<int64_t> ids;
  std::vector<ProcessIdentity> owners;
  {
    SqliteStatement select(db_, "SELECT id, pid, started FROM connections");
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
      ids.push_back(select.Integer(0));
      owners.push_back({select.Integer(1), select.Integer(2)});
    }
    if (step != SQLITE_DONE) return Failed(step);
  }
  // All owners at once: the processes seen alive before cost no /proc read.
  const std::vector<bool> alive = AreAlive(owners);
  SqliteStatement remove(db_, "DELETE FROM connections WHERE id = ?");
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (alive[i]) continue;
    if (remove.Bind(1, ids[i]).Step() != SQLITE_DONE) return STANDIN_CATALOGUE_ERROR;
    sqlite3_reset(remove.Raw());
  }
  return 0;
}

int16_t Catalogue::Register(const std::string& user, const std::string& database,
                            const std::string& program, int64_t* id, int* process) {
  int16_t code = ForgetDeadConnections();
  std::set<int> taken;
  int next = kFirstConnectionProcess;
  if (code == 0) {
    SqliteStatement select(db_, "SELECT process FROM connections");
    while (select.Step() == SQLITE_ROW) taken.insert(static_cast<int>(select.Integer(0)));
    SqliteStatement setting(db_, "SELECT value FROM settings WHERE key = 'next_process'");
    if (setting.Step() == SQLITE_ROW) next = static_cast<int>(setting.Integer(0));
  }
  // Numbers go round rather than lowest-first, so that a number just freed is not handed out
  // again at once to a connection that a stale listing would then kill.
  constexpr int kNumbers = kLastConnectionProcess - kFirstConnectionProcess + 1;
  int chosen = 0;
  for (int i = 0; code == 0 && chosen == 0 && i < kNumbers; ++i) {
    const int candidate =
        kFirstConnectionProcess + (next - kFirstConnectionProcess + i + kNumbers) % kNumbers;
    if (taken.count(candidate) == 0) chosen = candidate;
  }
  if (code == 0 && chosen == 0) code = STANDIN_TOO_MANY_CONNECTIONS;
  if (code == 0) {
    const ProcessIdentity self = ThisProcess();
    SqliteStatement insert(db_,
                           "INSERT INTO connections(process, pid, started, user, database, program)"
                           " VALUES(?, ?, ?, ?, ?, ?)");
    insert.Bind(1, chosen).Bind(2, self.pid).Bind(3, self.started);
    insert.Bind(4, user).Bind(5, database).Bind(6, program);
    if (insert.Step() != SQLITE_DONE) code = STANDIN_CATALOGUE_ERROR;
    *id = sqlite3_last_insert_rowid(db_);
    *process = chosen;
  }
  if (code == 0) {
    SqliteStatement update(db_, "UPDATE settings SET value = ? WHERE key = 'next_process'");
    if (update.Bind(1, std::to_string(chosen + 1)).Step() != SQLITE_DONE) {
      code = STANDIN_CATALOGUE_ERROR;
    }
  }
  return code;
}

int16_t Catalogue::Unregister(int64_t id) {
  SqliteStatement remove(db_, "DELETE FROM connections WHERE id = ?");
  const int step = remove.Bind(1, id).Step();
  return step == SQLITE_DONE ? int16_t{0} : Failed(step);
}

int16_t Catalogue::Released(int64_t id) {
  SqliteStatement update(db_, "UPDATE connections SET killed = 2 WHERE id = ? AND killed = 1");
  const int step = update.Bind(1, id).Step();
  return step == SQLITE_DONE ? int16_t{0} : Failed(step);
}

int16_t Catalogue::StateOf(int64_t id) {
  SqliteStatement select(db_,
                         "SELECT (SELECT value FROM settings WHERE key = 'state'),"
                         " (SELECT killed FROM connections WHERE id = ?)");
  const int step = select.Bind(1, id).Step();
  if (step != SQLITE_ROW) return Failed(step);
  if (select.Text(0) != "running") return STANDIN_SERVER_TERMINATED;
  if (select.IsNull(1) || select.Integer(1) != 0) return STANDIN_CONNECTION_KILLED;
  return 0;
}

int16_t Catalogue::Connections(std::vector<ConnectionRecord>* connections) {
  if (const int16_t code = Begin()) return code;
  int16_t code = ForgetDeadConnections();
  if (code == 0) {
    SqliteStatement select(db_,
                           "SELECT process, user, database, program FROM connections"
                           " WHERE killed = 0 ORDER BY process");
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
      connections->push_back(
          {static_cast<int>(select.Integer(0)), select.Text(1), select.Text(2), select.Text(3)});
    }
    if (step != SQLITE_DONE) code = Failed(step);
  }
  return End(code);
}

int16_t Catalogue::Kill(int process) {
  if (process == kServerProcess) return STANDIN_SERVER_PROCESS;
  if (const int16_t code = Begin()) return code;
  int16_t code = ForgetDeadConnections();
  if (code == 0) {
    SqliteStatement update(db_,
                           "UPDATE connections SET killed = 1 WHERE process = ? AND killed = 0");
    if (update.Bind(1, process).Step() != SQLITE_DONE) {
      code = STANDIN_CATALOGUE_ERROR;
    } else if (sqlite3_changes(db_) == 0) {
      code = STANDIN_NO_SUCH_PROCESS;
    }
  }
  code = End(code);
  if (code == 0) RaiseSignals();
  return code;
}

void RaiseCommits(uint64_t* counter) {
  if (counter != nullptr) __atomic_add_fetch(counter, 1, __ATOMIC_ACQ_REL);
}

void EndStatement(sqlite3_stmt* statement, bool finalize, uint64_t* counter) {
  const bool mayCommit = sqlite3_stmt_busy(statement) != 0 && sqlite3_stmt_readonly(statement) == 0;
  if (finalize) {
    sqlite3_finalize(statement);
  } else {
    sqlite3_reset(statement);
  }
  if (mayCommit) RaiseCommits(counter);
}

}  // namespace standin
