#include "cursor.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "kill_watcher.h"
#include "last_message.h"
#include "own_statements.h"
#include "password_hash.h"
#include "process_identity.h"
#include "speedups/fetched_number_text.h"
#include "sql_script.h"
#include "standin_admin.h"
#include "standin_paths.h"
#include "type_codes.h"
#include "unload_script.h"
#include "value_cuts.h"

namespace standin {
namespace {

// Lock wait of a connection until it sets its own.
constexpr int32_t kDefaultLockWaitSeconds = 5;
// The session settings a connection takes, with their values until set.
const std::map<int32_t, int32_t> kSessionDefaults = {
    {kLockWaitParameter, kDefaultLockWaitSeconds}, {3007, 0}, {3010, 0}, {3011, 0}};

constexpr const char* kCommandForms =
    "the stand-in takes LOAD SQL FILE, UNLOAD SQL FILE or UNLOAD DATABASE FILE; the server "
    "reads or writes FILE";

int16_t Failed(int sqliteCode, sqlite3* db) {
  const int primary = sqliteCode & 0xff;
  return Report(primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? STANDIN_DATABASE_LOCKED
                                                                   : STANDIN_SQL_ERROR,
                std::string("SQLite: ") + sqlite3_errmsg(db));
}

bool IsEnd(int16_t code) {
  return code == STANDIN_CONNECTION_KILLED || code == STANDIN_SERVER_TERMINATED;
}

}  // namespace

std::string Normalised(const char* text) {
  std::istringstream words(text);
  std::string word;
  std::string normalised;
  while (words >> word) {
    if (!normalised.empty()) normalised.push_back(' ');
    normalised += word;
  }
  while (!normalised.empty() && (normalised.back() == ';' || normalised.back() == ' ')) {
    normalised.pop_back();
  }
  for (char& c : normalised) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return normalised;
}

// The server of a database: the one named by QUILLET_STANDIN_SERVER, else the one server
// under the root that has the database installed.
int16_t FindServer(const std::string& database, std::string* server) {
  const char* named = std::getenv("QUILLET_STANDIN_SERVER");
  std::vector<std::string> candidates;
  if (named != nullptr && named[0] != '\0') {
    candidates.push_back(named);
  } else {
    if (CheckFolder(RootFolder()) == STANDIN_UNSAFE_FOLDER) return STANDIN_UNSAFE_FOLDER;
    DIR* root = opendir(RootFolder().c_str());
    if (root == nullptr) return STANDIN_NO_SUCH_DATABASE;
    while (const dirent* entry = readdir(root)) {
      if (IsServerName(entry->d_name)) candidates.push_back(entry->d_name);
    }
    closedir(root);
  }
  int found = 0;
  bool unsafe = false;
  for (const std::string& candidate : candidates) {
    Catalogue catalogue;
    bool installed = false;
    const int16_t opened = catalogue.Open(candidate);
    // A server in a folder that others may change is no server to log in to; say so when it is
    // the only one that might have had the database.
    unsafe = unsafe || opened == STANDIN_UNSAFE_FOLDER;
    if (opened != 0 || catalogue.HasDatabase(database, &installed) != 0) continue;
    if (installed) {
      *server = candidate;
      ++found;
    }
  }
  // An unsafe folder's own words are kept: it is why no server had the database.
  if (found == 0 && unsafe) return STANDIN_UNSAFE_FOLDER;
  if (found == 0 && named != nullptr && named[0] != '\0') {
    return Report(STANDIN_NO_SUCH_DATABASE, "the server " + std::string(named) +
                                                " (QUILLET_STANDIN_SERVER) has no database " +
                                                database + " installed");
  }
  if (found == 0) {
    return Report(STANDIN_NO_SUCH_DATABASE, "no stand-in server in " + RootFolder() +
                                                " has the database " + database + " installed");
  }
  return found == 1 ? 0 : STANDIN_AMBIGUOUS_DATABASE;
}

namespace {

// A database user reaches its own database and nothing else: no other file (ATTACH, and VACUUM
// INTO, which attaches its target), no extension, no process-wide setting. A plain VACUUM
// attaches a private temporary database with an empty name; that one is let through.
// pending: the user changes a script has made so far, which a rollback to a savepoint could
// not take back.
// What a statement judged a query may do while it runs: read. SQLite judges a statement
// read-only when it prepares it, yet a pragma_* function (pragma_optimize) or a nested
// statement may write when it runs; the query is prepared again under this rule.
int AuthorizeQuery(int action, const char* first, const char* second) {
  switch (action) {
    case SQLITE_PRAGMA:
      return IsReadingPragma(first, second) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_UPDATE:
      // Loading a pragma_* function's table names the schema table's columns; SQLite never
      // lets a statement write it (defensive mode).
      return first != nullptr && (sqlite3_stricmp(first, "sqlite_master") == 0 ||
                                  sqlite3_stricmp(first, "sqlite_temp_master") == 0)
                 ? SQLITE_OK
                 : SQLITE_DENY;
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
    case SQLITE_TRANSACTION:  // the connection's own commit or rollback, never the query's
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

int Authorize(void* state, int action, const char* first, const char* second, const char*,
              const char*) {
  const auto* confinement = static_cast<const Confinement*>(state);
  const std::list<UserChange>* pending = confinement->pending;
  if (confinement->queryOnly && AuthorizeQuery(action, first, second) != SQLITE_OK) {
    return SQLITE_DENY;
  }
  switch (action) {
    case SQLITE_ATTACH:
      return first != nullptr && first[0] == '\0' ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_DETACH:
      return SQLITE_DENY;
    case SQLITE_PRAGMA:
      if (first == nullptr) return SQLITE_OK;
      if (sqlite3_stricmp(first, "temp_store_directory") == 0 ||
          sqlite3_stricmp(first, "data_store_directory") == 0) {
        return SQLITE_DENY;
      }
      // An exclusive locking mode, or a rollback journal under an open read, holds a lock that
      // no rollback of a killed connection ends: only the database lock locks. Setting the
      // automatic checkpoint replaces the hook that counts commits, and other connections'
      // kept rows would outlive this one's writes.
      return second != nullptr && (sqlite3_stricmp(first, "locking_mode") == 0 ||
                                   sqlite3_stricmp(first, "journal_mode") == 0 ||
                                   sqlite3_stricmp(first, "wal_autocheckpoint") == 0)
                 ? SQLITE_DENY
                 : SQLITE_OK;
    case SQLITE_TRANSACTION:
      // A script's COMMIT would keep what ran before a later failure, and run the rest
      // outside the unit that a failure rolls back.
      return RunningScript() ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_SAVEPOINT:
      if (!RunningScript()) return SQLITE_OK;
      if (second != nullptr && sqlite3_stricmp(second, kScriptSavepoint) == 0) return SQLITE_DENY;
      return first != nullptr && sqlite3_stricmp(first, "ROLLBACK") == 0 && !pending->empty()
                 ? SQLITE_DENY
                 : SQLITE_OK;
    case SQLITE_FUNCTION:
      return second != nullptr && sqlite3_stricmp(second, "load_extension") == 0 ? SQLITE_DENY
                                                                                 : SQLITE_OK;
    default:
      return SQLITE_OK;
  }
}

// The connection's own work between a query's runs (a script, a checkpoint) is no query's:
// the query's rule is set aside for it, and back for the query's next run.
class OwnWork {
 public:
  explicit OwnWork(Confinement* confinement)
      : confinement_(confinement), was_(confinement->queryOnly) {
    confinement->queryOnly = false;
  }
  OwnWork(const OwnWork&) = delete;
  OwnWork& operator=(const OwnWork&) = delete;
  ~OwnWork() { confinement_->queryOnly = was_; }

 private:
  Confinement* confinement_;
  bool was_;
};

void Confine(sqlite3* db, Confinement* confinement) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  // Room for the one temporary database of a VACUUM; the authorizer refuses every other.
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 1);
  sqlite3_set_authorizer(db, Authorize, confinement);
}

// After each commit: raises the server's commit counter, and checkpoints the log as SQLite's
// own hook, which this one replaces, would.
int CountCommit(void* counter, sqlite3* db, const char* name, int pages) {
  constexpr int kCheckpointPages = 1000;
  RaiseCommits(static_cast<uint64_t*>(counter));
  if (pages >= kCheckpointPages) sqlite3_wal_checkpoint(db, name);
  return SQLITE_OK;
}

}  // namespace

Cursor::~Cursor() { Disconnect(); }

int16_t Cursor::Connect(const char* connectText) {
  const std::lock_guard<std::mutex> lock(calls_);
  if (connectText == nullptr) return STANDIN_BAD_CONNECT_STRING;
  std::string text = connectText;
  const WipeOnExit wipeText(text);
  const std::size_t first = text.find('/');
  const std::size_t second = first == std::string::npos ? first : text.find('/', first + 1);
  if (second == std::string::npos) return STANDIN_BAD_CONNECT_STRING;
  const std::string database = text.substr(0, first);
  std::string user = text.substr(first + 1, second - first - 1);
  std::string password = text.substr(second + 1);
  const WipeOnExit wipePassword(password);
  if (!IsDatabaseName(database.c_str())) return STANDIN_NO_SUCH_DATABASE;
  if (!IsUserName(user.c_str())) return STANDIN_BAD_LOGIN;
  for (char& c : user) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  std::string server;
  if (const int16_t code = FindServer(database, &server)) return code;
  if (const int16_t code = catalogue_.Open(server)) return code;
  bool running = false;
  if (const int16_t code = catalogue_.IsRunning(&running)) return code;
  if (!running) return STANDIN_SERVER_TERMINATED;
  if (const int16_t code = catalogue_.CheckLogin(database, user, password)) return code;

  // The file is opened and the connection registered in one catalogue transaction, as drop and
  // deinstall take the database out in one: a connection never holds a file that is no longer
  // installed, and a database in use is never dropped.
  if (const int16_t code = catalogue_.Begin()) return code;
  bool installed = false;
  // Again inside the transaction: a terminate committed since the first look would otherwise
  // be missed, its raise of the kill counter read below as the connection's starting point.
  int16_t code = catalogue_.IsRunning(&running);
  if (code == 0 && !running) code = STANDIN_SERVER_TERMINATED;
  if (code == 0) code = catalogue_.HasDatabase(database, &installed);
  if (code == 0 && !installed) code = STANDIN_NO_SUCH_DATABASE;
  if (code == 0) code = OpenDatabase(DatabasePath(server, database));
  int process = 0;
  // Read before registering, so that a kill of the new connection always raises it past this.
  if (code == 0) catalogue_.ReadSignals(&seenSignals_);
  if (code == 0) code = catalogue_.Register(user, database, ProgramName(), &registryId_, &process);
  code = catalogue_.End(code);
  if (code != 0) {
    CloseDatabase();
    return code;
  }
  registered_ = true;
  database_ = database;
  user_ = user;
  stopped_ = false;
  WatchForKill(this, db_, &calls_, &stopped_, server, registryId_, seenSignals_);
  return 0;
}

int16_t Cursor::OpenDatabase(const std::string& path) {
  // Without SQLite's own locking, which would cost a mutex in every call of a fetch: one call
  // on the connection at a time is the connection's own mutex, which the kill watcher takes too.
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    return STANDIN_NO_SUCH_DATABASE;
  }
  confinement_.pending = &userChanges_;
  Confine(db_, &confinement_);
  sqlite3_wal_hook(db_, CountCommit, catalogue_.CommitCounter());
  sqlite3_commit_hook(db_, RefuseEndedCommit, this);
  sqlite3_rollback_hook(db_, DropUserChanges, this);
  parameters_ = kSessionDefaults;
  ApplyLockWait();
  // Reading once attaches the connection to the database and its log for as long as it is
  // open, as any connected client is: SQLite then folds the log away only when the last one
  // closes.
  if (sqlite3_exec(db_, "PRAGMA schema_version", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return STANDIN_NOT_A_DATABASE;
  }
  return 0;
}

void Cursor::CloseDatabase() {
  StopWatching(this);
  ResetStatement(true);
  isSelect_ = false;
  kept_ = Kept::kNothing;
  bindings_.clear();
  storageClasses_.clear();
  userChanges_.clear();
  // Closing rolls back whatever was not committed, the transaction of a database lock too.
  sqlite3_close(db_);
  db_ = nullptr;
}

int16_t Cursor::Disconnect() {
  const std::lock_guard<std::mutex> lock(calls_);
  // A kill that the connection has not noticed yet still fails its last call.
  if (registered_ && endCode_ == 0) {
    const int16_t state = catalogue_.StateOf(registryId_);
    if (state == STANDIN_CONNECTION_KILLED || state == STANDIN_SERVER_TERMINATED) endCode_ = state;
  }
  CloseDatabase();
  if (registered_) {
    catalogue_.Unregister(registryId_);
    registered_ = false;
  }
  const int16_t code = endCode_;
  endCode_ = 0;
  return code;
}

int16_t Cursor::Alive() {
  if (endCode_ != 0) return endCode_;
  if (db_ == nullptr) return STANDIN_BAD_HANDLE;
  const int16_t code = Ended();
  return IsEnd(code) ? Finish(code) : code;
}

int16_t Cursor::Ended() {
  uint64_t signals = 0;
  const bool signalled = catalogue_.ReadSignals(&signals);
  if (!stopped_ && signalled && signals == seenSignals_) return 0;
  const int16_t code = catalogue_.StateOf(registryId_);
  if (IsEnd(code)) stopped_ = true;
  if (code == 0 && signalled) seenSignals_ = signals;
  return code;
}

int16_t Cursor::Finish(int16_t code) {
  endCode_ = code;
  CloseDatabase();
  // From now on the killed connection no longer keeps its database from being dropped.
  if (code == STANDIN_CONNECTION_KILLED) catalogue_.Released(registryId_);
  return code;
}

int16_t Cursor::FailedCall(int sqliteCode) {
  // SQLite's message first: looking at the catalogue does not touch it, but closing would.
  const int16_t failed = Failed(sqliteCode, db_);
  const int16_t code = Ended();
  return IsEnd(code) ? Finish(code) : failed;
}

int Cursor::RefuseEndedCommit(void* self) {
  auto* cursor = static_cast<Cursor*>(self);
  // The watcher, rolling the connection back, has set the flag before it resets anything.
  return cursor->stopped_ || !cursor->userChanges_.empty() || IsEnd(cursor->Ended()) ? 1 : 0;
}

void Cursor::DropUserChanges(void* self) { static_cast<Cursor*>(self)->userChanges_.clear(); }

int16_t Cursor::ReadUserChange(const char* start, const char* end, const std::string& where,
                               UserChange* change) {
  if (const int16_t code = ReadUserStatement(start, end, where, change)) return code;
  // The user connected is the one known to remain: revoking it could leave nobody who may
  // connect, and would take away the connection's own way back in.
  if (change->revoke && change->user == user_) {
    return Report(STANDIN_SQL_ERROR, "REVOKE CONNECT FROM " + user_ +
                                         ": that is the user of this connection; connect as "
                                         "another user to revoke it" +
                                         where);
  }
  return 0;
}

int16_t Cursor::ApplyUserChange(const UserChange& change) {
  return change.revoke ? catalogue_.RemoveUser(database_, change.user)
                       : catalogue_.SetUser(database_, change.user, change.password);
}

void Cursor::ApplyLockWait() {
  const int32_t seconds = parameters_[kLockWaitParameter];
  sqlite3_busy_timeout(db_, seconds < 0 ? 0x7fffffff : std::min(seconds, 2000000) * 1000);
}

int16_t Cursor::ReadParameter(int32_t parameter, int32_t* value, int32_t* length) {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (value == nullptr) return STANDIN_BAD_PARAMETER;
  if (parameter == kSessionParameter) {
    *value = 1;
  } else if (parameters_.count(parameter) != 0) {
    *value = parameters_[parameter];
  } else {
    return STANDIN_BAD_PARAMETER;
  }
  if (length != nullptr) *length = static_cast<int32_t>(sizeof(int32_t));
  return 0;
}

int16_t Cursor::SetIsolation(const char* level) {
  const std::lock_guard<std::mutex> lock(calls_);
  const OwnWork own(&confinement_);
  if (const int16_t code = Alive()) return code;
  const std::string normalised = level == nullptr ? "" : Normalised(level);
  if (normalised != "RL" && normalised != "RR" && normalised != "CS" && normalised != "RO") {
    return STANDIN_BAD_PARAMETER;
  }
  DropKept();
  // SQLite reads are always consistent; read-only is the one level that changes anything.
  const char* pragma = normalised == "RO" ? "PRAGMA query_only=1" : "PRAGMA query_only=0";
  if (sqlite3_exec(db_, pragma, nullptr, nullptr, nullptr) != SQLITE_OK) return STANDIN_SQL_ERROR;
  isolation_ = normalised;
  return 0;
}

int16_t Cursor::SetParameter(int32_t parameter, const int32_t* value) {
  const std::lock_guard<std::mutex> lock(calls_);
  const OwnWork own(&confinement_);
  if (const int16_t code = Alive()) return code;
  if (value == nullptr || kSessionDefaults.count(parameter) == 0) return STANDIN_BAD_PARAMETER;
  parameters_[parameter] = *value;
  if (parameter == kLockWaitParameter) ApplyLockWait();
  return 0;
}

int16_t Cursor::RunSpecial(OwnStatement statement) {
  if (statement == OwnStatement::kUpdateStatistics) {
    const int code = sqlite3_exec(db_, "ANALYZE", nullptr, nullptr, nullptr);
    return code == SQLITE_OK ? int16_t{0} : FailedCall(code);
  }
  if (statement == OwnStatement::kLockDatabase) {
    // The lock is a write transaction that no other connection, in any process, can start
    // until it ends: their writes and locks wait for the lock wait, then fail.
    if (sqlite3_get_autocommit(db_) == 0) return STANDIN_SQL_ERROR;
    const int code = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) return 0;
    const std::string words =
        std::string(STANDIN_LOCK_NOT_TAKEN ": SQLite: ") + sqlite3_errmsg(db_);
    const int16_t failed = FailedCall(code);
    return IsEnd(failed) ? failed : Report(failed, words);
  }
  // UNLOCK DATABASE: the lock ends with the unit it guards, at the commit that follows:
  // committing here would let a kill or a full disk between the two make the commit's report
  // untrue (a failure for work that stays, or success for work that is gone).
  return 0;
}

int16_t Cursor::CompileAndExecute(const char* text) {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (text == nullptr) return STANDIN_SQL_ERROR;
  ResetStatement(true);
  isSelect_ = false;
  kept_ = Kept::kNothing;
  bindings_.clear();
  storageClasses_.clear();
  rowCount_ = 0;
  ForgetCuts();
  ForgetNames();
  fetching_ = false;
  ended_ = false;
  confinement_.queryOnly = false;

  // A user statement holds a password: read before any copy of the text is made, and never
  // prepared. On its own, outside a script, it takes effect at once.
  const char* start = nullptr;
  const OwnStatement own = OwnStatementOf(text, &start);
  if (own == OwnStatement::kUser) {
    UserChange change;
    int16_t code = ReadUserChange(start, start + std::strlen(start), "", &change);
    if (code == 0) code = catalogue_.Begin();
    return code == 0 ? catalogue_.End(ApplyUserChange(change)) : code;
  }
  if (own != OwnStatement::kNone) return RunSpecial(own);

  const char* tail = nullptr;
  const int prepared = sqlite3_prepare_v2(db_, text, -1, &statement_, &tail);
  if (prepared != SQLITE_OK) return Failed(prepared, db_);
  if (statement_ == nullptr) return STANDIN_SQL_ERROR;  // only blanks or comments
  for (; tail != nullptr && *tail != '\0'; ++tail) {
    // One statement per call: a second one would silently not run.
    if (!std::isspace(static_cast<unsigned char>(*tail)) && *tail != ';') {
      sqlite3_finalize(statement_);
      statement_ = nullptr;
      return Report(STANDIN_SQL_ERROR, "one statement at a time: the text goes on after it");
    }
  }
  isSelect_ = sqlite3_column_count(statement_) > 0;
  if (isSelect_ && sqlite3_stmt_readonly(statement_) != 0) {
    // A query: prepared again, and run, where nothing may write (see AuthorizeQuery).
    sqlite3_finalize(statement_);
    statement_ = nullptr;
    confinement_.queryOnly = true;
    const int again = sqlite3_prepare_v2(db_, text, -1, &statement_, nullptr);
    if (again != SQLITE_OK) {
      sqlite3_finalize(statement_);
      statement_ = nullptr;
      confinement_.queryOnly = false;
      if (again == SQLITE_AUTH) {
        return Report(STANDIN_SQL_ERROR,
                      "a query may only read: this one would write when it "
                      "runs (a pragma that writes, ANALYZE, ATTACH)");
      }
      return Failed(again, db_);
    }
  }
  return isSelect_ ? int16_t{0} : Step();
}

// Runs a statement that selects nothing to its end.
int16_t Cursor::Step() {
  int code;
  while ((code = sqlite3_step(statement_)) == SQLITE_ROW) {
  }
  sqlite3_reset(statement_);
  if (code != SQLITE_DONE) return FailedCall(code);
  rowCount_ = sqlite3_changes(db_);
  return 0;
}

void Cursor::ResetStatement(bool finalize) {
  if (statement_ == nullptr) return;
  EndStatement(statement_, finalize, catalogue_.CommitCounter());
  if (finalize) statement_ = nullptr;
}

void Cursor::DropKept() {
  if (kept_ == Kept::kNothing) return;
  kept_ = Kept::kNothing;
  sqlite3_reset(statement_);
}

int16_t Cursor::Execute() {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (statement_ == nullptr) return STANDIN_NO_STATEMENT;
  rowCount_ = 0;
  ForgetCuts();
  fetching_ = false;
  ended_ = false;
  // Described and not fetched from: the statement stands at its first row, which is where
  // running it again would bring it, unless a database of the server has had a commit since.
  uint64_t commits = 0;
  if (kept_ != Kept::kNothing && catalogue_.ReadCommits(&commits) && commits == keptCommits_) {
    return 0;
  }
  kept_ = Kept::kNothing;
  ResetStatement(false);
  return isSelect_ ? int16_t{0} : Step();
}

int16_t Cursor::Fetch() {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (statement_ == nullptr || !isSelect_) return STANDIN_NO_STATEMENT;
  fetching_ = true;
  const Kept kept = kept_;
  kept_ = Kept::kNothing;
  // The statement is left at its end, as a step that found no more rows leaves it.
  if (kept == Kept::kNoRows) ended_ = true;
  if (ended_) return 1;
  const int step = kept == Kept::kFirstRow ? SQLITE_ROW : sqlite3_step(statement_);
  if (step == SQLITE_DONE) {
    ended_ = true;
    return 1;
  }
  if (step != SQLITE_ROW) {
    sqlite3_reset(statement_);
    return FailedCall(step);
  }
  ++rowCount_;
  const int bound = static_cast<int>(bindings_.size());
  for (int column = 0; column < bound; ++column) {
    const Binding& binding = bindings_[static_cast<std::size_t>(column)];
    if (binding.buffer == nullptr) continue;
    char number[kNumberTextSize];
    const char* value = number;
    std::size_t size = 0;
    // Numbers are written here as SQLite would write them, without its general formatting. The
    // column's value is read directly: the calls on the statement would each look it up again.
    sqlite3_value* const cell = sqlite3_column_value(statement_, column);
    switch (sqlite3_value_type(cell)) {
      case SQLITE_INTEGER:
        size = IntegerText(sqlite3_value_int64(cell), number);
        break;
      case SQLITE_FLOAT:
        size = RealText(sqlite3_value_double(cell), number);
        break;
      default:
        break;
    }
    if (size == 0) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
      size =
          value == nullptr ? 0 : static_cast<std::size_t>(sqlite3_column_bytes(statement_, column));
    }
    // At most the declared length, cut between characters; a NUL follows when there is room.
    const std::size_t room = static_cast<std::size_t>(binding.length);
    const std::size_t copied = size > room ? CutValue(statement_, column, value, size, room) : size;
    if (copied > 0) std::memcpy(binding.buffer, value, copied);
    if (copied < room) binding.buffer[copied] = '\0';
  }
  return 0;
}

int16_t Cursor::Commit() {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  kept_ = Kept::kNothing;
  ResetStatement(false);
  if (sqlite3_get_autocommit(db_) != 0) return 0;
  // The unit's user statements change the catalogue with it: in a catalogue transaction begun
  // before the database commits and ended after it, as the commit went.
  const bool users = !userChanges_.empty();
  if (users) {
    int16_t code = catalogue_.Begin();
    for (const UserChange& change : userChanges_) {
      if (code == 0) code = ApplyUserChange(change);
    }
    userChanges_.clear();
    if (code != 0) {
      catalogue_.End(code);
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return code;
    }
  }
  const int code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) return users ? catalogue_.End(0) : int16_t{0};
  // Before anything else looks at the catalogue: the connection's end is recorded there.
  if (users) catalogue_.End(STANDIN_SQL_ERROR);
  const int16_t failed = FailedCall(code);
  // A unit whose commit failed is gone whole, its lock too: nothing of it may be committed
  // later by a call that reports something else.
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  return failed;
}

int16_t Cursor::Load(const char* command) {
  const std::lock_guard<std::mutex> lock(calls_);
  const OwnWork own(&confinement_);
  if (const int16_t code = Alive()) return code;
  std::string file;
  if (!ParseLoadCommand(command, &file)) return Report(STANDIN_BAD_COMMAND, kCommandForms);
  kept_ = Kept::kNothing;
  ResetStatement(false);
  // Kept for the commit that follows; a failed script takes its own back with what it ran.
  const std::size_t before = userChanges_.size();
  const int16_t code = RunScript(
      db_, file,
      [this] {
        const int16_t end = Ended();
        return IsEnd(end) ? end : int16_t{0};
      },
      [this](const char* start, const char* end, const std::string& where) {
        userChanges_.emplace_back();
        return ReadUserChange(start, end, where, &userChanges_.back());
      });
  if (code == 0) return 0;
  while (userChanges_.size() > before) userChanges_.pop_back();
  const int16_t end = Ended();
  return IsEnd(end) ? Finish(end) : code;
}

int16_t Cursor::Unload(const char* command) {
  const std::lock_guard<std::mutex> lock(calls_);
  const OwnWork own(&confinement_);
  if (const int16_t code = Alive()) return code;
  std::string file;
  if (!ParseUnloadCommand(command, &file)) return Report(STANDIN_BAD_COMMAND, kCommandForms);
  kept_ = Kept::kNothing;
  ResetStatement(false);
  return WriteUnloadScript(db_, file);
}

int16_t Cursor::ReleaseLog() {
  const std::lock_guard<std::mutex> lock(calls_);
  const OwnWork own(&confinement_);
  if (const int16_t code = Alive()) return code;
  kept_ = Kept::kNothing;
  ResetStatement(false);
  sqlite3_stmt* checkpoint = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA wal_checkpoint(TRUNCATE)", -1, &checkpoint, nullptr) !=
      SQLITE_OK) {
    return STANDIN_SQL_ERROR;
  }
  const int step = sqlite3_step(checkpoint);
  const bool busy = step == SQLITE_ROW && sqlite3_column_int(checkpoint, 0) != 0;
  sqlite3_finalize(checkpoint);
  if (step != SQLITE_ROW) return Failed(step, db_);
  return busy ? STANDIN_LOG_IN_USE : 0;
}

int16_t Cursor::Bind(int32_t column, int32_t type, char* buffer, int32_t length) {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (statement_ == nullptr || !isSelect_) return STANDIN_NO_STATEMENT;
  if (column < 1 || column > sqlite3_column_count(statement_)) return STANDIN_BAD_COLUMN;
  // Values are delivered as text only.
  if (type != 2 || buffer == nullptr || length < 0) return STANDIN_BAD_PARAMETER;
  // One place per column, so that a fetch walks them without a lookup.
  const int columns = sqlite3_column_count(statement_);
  if (bindings_.size() != static_cast<std::size_t>(columns)) {
    bindings_.assign(static_cast<std::size_t>(columns), Binding{nullptr, 0});
  }
  bindings_[static_cast<std::size_t>(column - 1)] = {buffer, length};
  return 0;
}

int16_t Cursor::RowCount(int32_t* count) {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (count == nullptr) return STANDIN_BAD_PARAMETER;
  *count = rowCount_;
  return 0;
}

int16_t Cursor::SelectCount(int32_t* count) {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (statement_ == nullptr) return STANDIN_NO_STATEMENT;
  if (count == nullptr) return STANDIN_BAD_PARAMETER;
  *count = isSelect_ ? sqlite3_column_count(statement_) : 0;
  return 0;
}

int16_t Cursor::Describe(int32_t column, int32_t* type, int32_t* length, char* name,
                         uint8_t* nameLength, int32_t* extra1, int32_t* extra2) {
  const std::lock_guard<std::mutex> lock(calls_);
  if (const int16_t code = Alive()) return code;
  if (statement_ == nullptr || !isSelect_) return STANDIN_NO_STATEMENT;
  const int columns = sqlite3_column_count(statement_);
  if (column < 1 || column > columns) return STANDIN_BAD_COLUMN;
  if (storageClasses_.empty()) {
    // Expressions have no declared type: their first value tells. Only before the first
    // fetch, so that looking never moves the rows, and only for a statement that changes
    // nothing (not INSERT ... RETURNING). What the look found is kept for the first fetch,
    // so that a grouping, a sort or a search that finds nothing is not done twice.
    storageClasses_.assign(static_cast<std::size_t>(columns), SQLITE_NULL);
    if (!fetching_ && sqlite3_stmt_readonly(statement_) != 0) {
      // Read before the look: a commit that the look does not see raises it afterwards.
      const bool mayKeep = catalogue_.ReadCommits(&keptCommits_);
      const int step = sqlite3_step(statement_);
      if (step == SQLITE_ROW) {
        for (int i = 0; i < columns; ++i) {
          storageClasses_[static_cast<std::size_t>(i)] = sqlite3_column_type(statement_, i);
        }
        kept_ = Kept::kFirstRow;
      } else if (step == SQLITE_DONE) {
        kept_ = Kept::kNoRows;
      } else {
        // A failure is left for the fetch to meet and report.
        sqlite3_reset(statement_);
      }
      if (!mayKeep) DropKept();
    }
  }
  const ColumnType columnType = TypeOfColumn(sqlite3_column_decltype(statement_, column - 1),
                                             storageClasses_[static_cast<std::size_t>(column - 1)]);
  const char* columnName = sqlite3_column_name(statement_, column - 1);
  if (columnName == nullptr) columnName = "";
  // Cut as values are: a heading must stay UTF-8 when the name is.
  const std::size_t size = HeadingName(column - 1, columnName);
  if (type != nullptr) *type = columnType.code;
  if (length != nullptr) *length = columnType.length;
  if (name != nullptr) {
    if (size > 0) std::memcpy(name, columnName, size);
    name[size] = '\0';
  }
  if (nameLength != nullptr) *nameLength = static_cast<uint8_t>(size);
  if (extra1 != nullptr) *extra1 = 0;
  if (extra2 != nullptr) *extra2 = 0;
  return 0;
}

}  // namespace standin
