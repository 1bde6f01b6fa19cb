// Load and unload: SQL scripts that the stand-in runs into a database or writes from one.
#ifndef QUILLET_SQLBASE_STANDIN_SQL_SCRIPT_H
#define QUILLET_SQLBASE_STANDIN_SQL_SCRIPT_H

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>

namespace standin {

// "LOAD SQL <file>" gives the file; keywords in any case, the file name is the rest of the
// text without its surrounding blanks. False for any other text.
bool ParseLoadCommand(const char* text, std::string* file);
// "UNLOAD SQL <file>" or "UNLOAD DATABASE <file>", read the same way.
bool ParseUnloadCommand(const char* text, std::string* file);

// Asked before each statement of a script: 0 to go on, else the code the script stops with.
using ScriptStop = std::function<int16_t()>;
// Given each statement of a script that is the server's own (user_statements.h) rather than
// SQLite's, from its first word to its ";", and where it stands (" (stock.sql, line 3)") for
// the words of a refusal: 0 to go on, else the code the script fails with. Such a text, which
// holds a password, never reaches SQLite.
using ServerStatement =
    std::function<int16_t(const char* start, const char* end, const std::string& where)>;
// Runs every statement of the script as one unit: all of them or, after a failing one or a
// stop, none. Outside an open transaction the unit is one of its own, begun as a writer's and
// left open on success: only the commit that follows makes it permanent, so that whoever
// reports that commit reports what happened.
int16_t RunScript(sqlite3* db, const std::string& file, const ScriptStop& stop,
                  const ServerStatement& serverStatement);
// The savepoint that makes a script one unit; a script may not name it.
constexpr const char* kScriptSavepoint = "standin_load";
// Whether this thread is running a script's statements: the authorizer then refuses whatever
// would end the unit early (COMMIT, END, ROLLBACK, BEGIN, and the unit's own savepoint).
bool RunningScript();

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_SQL_SCRIPT_H
