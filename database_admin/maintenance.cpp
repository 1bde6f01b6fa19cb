// The maintenance jobs on one database: statistics, log release, load, unload, reload.
#include <cstdio>

#include "client/connected_job.h"
#include "client/host_text.h"
#include "database_admin/jobs.h"
#include "quillet.h"

namespace quillet {
namespace {

// The reload connects in this mode and builds its load command in a buffer of this size:
// "LOAD SQL ", a script name of at most 250 bytes, the NUL.
constexpr int32_t kReloadConnectMode = 1;
constexpr std::size_t kLoadCommandSize = 260;
constexpr std::size_t kMaxScriptNameLength = kLoadCommandSize - sizeof "LOAD SQL ";

}  // namespace

int32_t UpdateStats(const char* database, const char* user, const char* password) {
  return RunCursorJob(database, user, password, kDefaultConnectMode,
                      [](CursorConnection& connection) {
                        int32_t result = 0;
                        if (connection.CompileAndExecute("UPDATE STATISTICS ON DATABASE")) {
                          int32_t rows = 0;
                          connection.GetNoRows(&rows);
                        } else {
                          result = connection.ReturnCode();
                        }
                        connection.Commit();
                        return result;
                      });
}

int32_t ReleaseLog(const char* database, const char* user, const char* password) {
  return RunCursorJob(database, user, password, kDefaultConnectMode,
                      [](CursorConnection& connection) {
                        const int32_t result = ResultOf(connection.ReleaseLog(), connection);
                        connection.Commit();
                        return result;
                      });
}

// A load that the commit then fails to make permanent has been rolled back: the host must hear
// of it, so the commit's code is the result.
int32_t Load(const char* database, const char* user, const char* password, const char* command) {
  return RunCursorJob(database, user, password, kDefaultConnectMode,
                      [command](CursorConnection& connection) {
                        if (!connection.Load(command)) return ResultOf(false, connection);
                        return ResultOf(connection.Commit(), connection);
                      });
}

int32_t Unload(const char* database, const char* user, const char* password, const char* command) {
  return RunCursorJob(database, user, password, kDefaultConnectMode,
                      [command](CursorConnection& connection) {
                        return ResultOf(connection.Unload(command), connection);
                      });
}

// Loads the script under a database lock. A failed lock does not stop the load, but its code
// is the result unless the load or the commit fails; unlock and commit follow a successful load
// only. A failed unlock alone is not reported: the commit that follows decides whether the
// load stays.
int32_t ReLoad(const char* database, const char* user, const char* password,
               const char* script_file) {
  if (!FitsLimit(script_file, kMaxScriptNameLength)) return QUILLET_ERROR_ARGUMENT;
  char command[kLoadCommandSize];
  (void)std::snprintf(command, sizeof command, "LOAD SQL %s", script_file);  // fits: checked
  return RunCursorJob(
      database, user, password, kReloadConnectMode, [&command](CursorConnection& connection) {
        const int32_t result = ResultOf(connection.CompileAndExecute("LOCK DATABASE "), connection);
        if (!connection.Load(command)) return ResultOf(false, connection);
        connection.CompileAndExecute("UNLOCK DATABASE");
        if (!connection.Commit()) return ResultOf(false, connection);
        return result;
      });
}

}  // namespace quillet
