// Load and unload: SQL scripts that the stand-in runs into a database or writes from one.
#ifndef QUILLET_SQLBASE_STANDIN_SQL_SCRIPT_H
#define QUILLET_SQLBASE_STANDIN_SQL_SCRIPT_H

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace standin {

// "LOAD SQL <file>" gives the file; keywords in any case, the file name is the rest of the
// text without its surrounding blanks. False for any other text.
bool ParseLoadCommand(const char* text, std::string* file);
// "UNLOAD SQL <file>" or "UNLOAD DATABASE <file>", read the same way.
bool ParseUnloadCommand(const char* text, std::string* file);

// Runs every statement of the script as one unit: all of them or, after a failing one, none.
int16_t RunScript(sqlite3* db, const std::string& file);
// The savepoint that makes a script one unit; a script may not name it.
constexpr const char* kScriptSavepoint = "standin_load";
// Whether this thread is running a script's statements: the authorizer then refuses whatever
// would end the unit early (COMMIT, END, ROLLBACK, BEGIN, and the unit's own savepoint).
bool RunningScript();

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_SQL_SCRIPT_H
