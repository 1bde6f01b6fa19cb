// The catalogue of one stand-in server, a SQLite file in the server's folder: the server's
// password and state, its installed databases with their users, and the registry of the
// connections that any process on the machine holds. SQLite's file locking makes it safe for
// parallel use by many processes; the registry forgets connections of processes that died.
#ifndef QUILLET_SQLBASE_STANDIN_CATALOGUE_H
#define QUILLET_SQLBASE_STANDIN_CATALOGUE_H

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace standin {

// Process number of the server's own record; connections get the numbers above it.
constexpr int kServerProcess = 1;
constexpr int kFirstConnectionProcess = 2;
constexpr int kLastConnectionProcess = 255;
// User that every database has from its creation or installation on.
constexpr const char* kDefaultUser = "SYSADM";
constexpr const char* kDefaultUserPassword = "SYSADM";

struct ConnectionRecord {
  int process;
  std::string user;
  std::string database;
  std::string program;
};

class Catalogue {
 public:
  Catalogue() = default;
  ~Catalogue();
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  // A new server folder with its catalogue, in the running state.
  static int16_t CreateServer(const std::string& server, const std::string& password);

  // 0 when the server's folders are safe to use and its catalogue is there, else the code that
  // refuses to open it.
  static int16_t CheckServer(const std::string& server);
  int16_t Open(const std::string& server);
  const std::string& Server() const { return server_; }

  // Every change that first checks the catalogue runs between Begin and End, so that no
  // other process changes it in between. End commits when code is 0, else rolls back, and
  // returns code (or the commit's failure).
  int16_t Begin();
  int16_t End(int16_t code);

  int16_t IsRunning(bool* running);
  // 0 for a running server with this password, else the code that refuses the connection.
  int16_t Admit(const char* password);
  // Start clears the registry: connections from before the stop are gone.
  int16_t SetRunning(bool running);

  int16_t HasDatabase(const std::string& database, bool* installed);
  int16_t DatabaseNames(std::vector<std::string>* names);
  int16_t AddDatabase(const std::string& database);
  int16_t RemoveDatabase(const std::string& database);
  // inUse: a live connection has it open; releasing: only killed connections that have not
  // been rolled back yet, which they are within about a tenth of a second.
  int16_t IsInUse(const std::string& database, bool* inUse, bool* releasing);

  int16_t CheckLogin(const std::string& database, const std::string& user,
                     const std::string& password);
  int16_t SetUser(const std::string& database, const std::string& user,
                  const std::string& password);
  // Refuses, with STANDIN_SQL_ERROR, a user the database does not have and its last user, so
  // that no database is left that nobody can connect to.
  int16_t RemoveUser(const std::string& database, const std::string& user);

  // Takes a free process number for a new connection of this process; runs inside Begin and
  // End, with the check that the database is installed.
  int16_t Register(const std::string& user, const std::string& database, const std::string& program,
                   int64_t* id, int* process);
  int16_t Unregister(int64_t id);
  // A killed connection is rolled back and will never write again: it no longer counts as a
  // use of its database.
  int16_t Released(int64_t id);
  // 0 while the connection may go on; STANDIN_CONNECTION_KILLED or STANDIN_SERVER_TERMINATED.
  int16_t StateOf(int64_t id);
  // A counter, shared by every process through a small file of the server's, that each kill,
  // stop and start raises: while it stands still, no connection's state can have changed, so
  // a connection need not read the catalogue before every call. False when it is not to be
  // had; then every call must look.
  bool ReadSignals(uint64_t* signals) const;
  // Whether the file open is still the server's catalogue, not one removed or replaced since.
  bool StillInPlace() const;
  // A second shared counter, raised after each commit to any database of the server: while it
  // stands still, no database of the server has changed. False when it is not to be had.
  bool ReadCommits(uint64_t* commits) const;
  // The counter itself, for the connections that raise it; null when it is not to be had.
  uint64_t* CommitCounter() const;
  // Live connections in process-number order.
  int16_t Connections(std::vector<ConnectionRecord>* connections);
  int16_t Kill(int process);

 private:
  int16_t Execute(const char* sql);
  int16_t HashClearPasswords();
  int16_t ForgetDeadConnections();
  void MapSignals();
  void RaiseSignals();

  sqlite3* db_ = nullptr;
  // The signals counter, then the commits counter, in the server's shared file.
  static constexpr std::size_t kSharedSize = 2 * sizeof(uint64_t);
  uint64_t* signals_ = nullptr;
  // Device and file number of the catalogue when it was opened.
  std::pair<dev_t, ino_t> opened_{};
  std::string server_;
};

// Raises a server's commit counter (Catalogue::CommitCounter); a null one is none to raise.
void RaiseCommits(uint64_t* counter);

// Puts a statement back to its start, or finalizes it. A write stopped part way (the rows of
// INSERT ... RETURNING fetched in part) commits here, where SQLite calls no WAL hook, so the
// counter is raised for it as the hook would: kept rows elsewhere see it.
void EndStatement(sqlite3_stmt* statement, bool finalize, uint64_t* counter);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_CATALOGUE_H
