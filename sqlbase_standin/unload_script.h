// Unload: the SQL script that the stand-in writes from a database, for its load to run back.
#ifndef QUILLET_SQLBASE_STANDIN_UNLOAD_SCRIPT_H
#define QUILLET_SQLBASE_STANDIN_UNLOAD_SCRIPT_H

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace standin {

// Writes a script that, loaded into any database, makes its tables, rows, indexes, views and
// triggers those of db: each object is dropped first, then made again.
int16_t WriteUnloadScript(sqlite3* db, const std::string& file);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_UNLOAD_SCRIPT_H
