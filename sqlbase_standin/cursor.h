// One cursor connection (the CursorConnect calls) to a database as a user, and the work on it.
#ifndef QUILLET_SQLBASE_STANDIN_CURSOR_H
#define QUILLET_SQLBASE_STANDIN_CURSOR_H

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue.h"
#include "own_statements.h"
#include "user_statements.h"
#include "value_cuts.h"

namespace standin {

// The parameter whose read answers 1: a new connection that takes the session settings.
constexpr int32_t kSessionParameter = 1003;
// The session setting that gives the lock wait in seconds (negative: no limit).
constexpr int32_t kLockWaitParameter = 3003;

// Upper case, blanks folded to one, no trailing semicolon: the form the server's own
// statements (LOCK DATABASE and the like) are recognised in.
std::string Normalised(const char* text);

// The server a connection to the database goes to: the one QUILLET_STANDIN_SERVER names,
// else the one server under the root that has the database installed.
int16_t FindServer(const std::string& database, std::string* server);

// What the authorizer of a connection goes by: the user changes a script has made so far,
// which a rollback to a savepoint could not take back, and whether the statement that runs was
// judged a query, which may then only read.
struct Confinement {
  const std::list<UserChange>* pending = nullptr;
  bool queryOnly = false;
};

class Cursor {
 public:
  Cursor() = default;
  ~Cursor();
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  int16_t Connect(const char* connectText);
  int16_t Disconnect();

  int16_t ReadParameter(int32_t parameter, int32_t* value, int32_t* length);
  int16_t SetIsolation(const char* level);
  int16_t SetParameter(int32_t parameter, const int32_t* value);

  int16_t CompileAndExecute(const char* text);
  int16_t Execute();
  int16_t Fetch();
  int16_t Commit();
  int16_t Load(const char* command);
  int16_t Unload(const char* command);
  int16_t ReleaseLog();
  int16_t Bind(int32_t column, int32_t type, char* buffer, int32_t length);
  int16_t RowCount(int32_t* count);
  int16_t SelectCount(int32_t* count);
  int16_t Describe(int32_t column, int32_t* type, int32_t* length, char* name, uint8_t* nameLength,
                   int32_t* extra1, int32_t* extra2);

 private:
  struct Binding {
    char* buffer;
    int32_t length;
  };

  // Every call but Disconnect starts here: a killed connection, or one of a server that was
  // terminated, lets go of its database and fails from then on.
  int16_t Alive();
  // 0 while the connection may go on, else STANDIN_CONNECTION_KILLED or
  // STANDIN_SERVER_TERMINATED (or the catalogue's failure to tell); closes nothing.
  int16_t Ended();
  // The end of a killed or terminated connection: it lets go of its database, and every call
  // from now on fails with code.
  int16_t Finish(int16_t code);
  // What a failed SQLite call reports: the connection's end when it was killed meanwhile (the
  // failure was the kill's interrupt or its refused commit), else SQLite's failure.
  int16_t FailedCall(int sqliteCode);
  // SQLite's commit hook: no commit of a killed connection, or of a terminated server's, goes
  // through, however late the kill came in its call; nor one that would leave behind the user
  // statements of its unit, which only Commit makes permanent with it.
  static int RefuseEndedCommit(void* self);
  // SQLite's rollback hook: the user statements of a unit rolled back are gone with it.
  static void DropUserChanges(void* self);
  // A user statement of this connection; where, for a refusal's words.
  int16_t ReadUserChange(const char* start, const char* end, const std::string& where,
                         UserChange* change);
  // Inside a catalogue transaction.
  int16_t ApplyUserChange(const UserChange& change);
  // UPDATE STATISTICS ON DATABASE, LOCK DATABASE or UNLOCK DATABASE.
  int16_t RunSpecial(OwnStatement statement);
  int16_t Step();
  int16_t OpenDatabase(const std::string& path);
  void CloseDatabase();
  void ApplyLockWait();

  // What describing left in the statement for the first fetch to take, so that a select is run
  // once: the first row (its values still in the statement), or the end when it had none.
  enum class Kept { kNothing, kFirstRow, kNoRows };

  // EndStatement on the connection's statement, if it has one.
  void ResetStatement(bool finalize);

  // Before anything else runs on the connection: the statement goes back to its start and
  // whatever describing kept is dropped, so the first fetch runs it afresh, as it always did.
  void DropKept();

  // Held through every call, and by the kill watcher while it rolls the connection back: the
  // database connection is opened without SQLite's own mutex.
  std::mutex calls_;
  Catalogue catalogue_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
  bool isSelect_ = false;
  bool fetching_ = false;
  // The rows have run out: later fetches find the end again rather than stepping the statement,
  // which SQLite would put back to its start and run afresh.
  bool ended_ = false;
  Kept kept_ = Kept::kNothing;
  // The server's commit counter before the look: the kept row stands while it does.
  uint64_t keptCommits_ = 0;
  std::vector<int> storageClasses_;
  int32_t rowCount_ = 0;
  // By column, from the first; an unbound column has no buffer.
  std::vector<Binding> bindings_;
  std::map<int32_t, int32_t> parameters_;
  std::string isolation_ = "RR";
  std::string database_;
  std::string user_;
  // The user statements of the open unit's scripts, in order, for its commit to apply. A list,
  // so that a change holding a password is never moved and copied.
  std::list<UserChange> userChanges_;
  Confinement confinement_;
  int64_t registryId_ = 0;
  // The catalogue's signal count when this connection last found itself alive.
  uint64_t seenSignals_ = 0;
  bool registered_ = false;
  int16_t endCode_ = 0;
  // Set for good, by the connection itself or by the kill watcher, once it was found killed
  // or its server terminated.
  std::atomic<bool> stopped_{false};
};

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_CURSOR_H
