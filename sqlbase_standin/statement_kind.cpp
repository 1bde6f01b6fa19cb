// Whether a statement would change anything, told without running it: for hosts that take
// queries only (an export), which must not run a change to learn that it was one.
#include <sqlite3.h>

#include <cctype>
#include <string>

#include "cursor.h"
#include "own_statements.h"
#include "standin_admin.h"
#include "standin_paths.h"

namespace {

// How long preparing waits for a schema that another connection is changing.
constexpr int kBusyMilliseconds = 2000;

// Notes a pragma that may write, as a statement or a pragma_* function (pragma_optimize runs
// ANALYZE), which SQLite still calls read-only.
int NoteWriting(void* writes, int action, const char* first, const char* second, const char*,
                const char*) {
  // A pragma_* function names its table when prepared; its pragma runs only when it is read,
  // with arguments that cannot be seen here.
  constexpr const char kFunction[] = "pragma_";
  const bool function = action == SQLITE_READ && first != nullptr &&
                        sqlite3_strnicmp(first, kFunction, sizeof kFunction - 1) == 0 &&
                        !standin::IsReadingPragma(first + sizeof kFunction - 1, nullptr);
  if ((action == SQLITE_PRAGMA && !standin::IsReadingPragma(first, second)) ||
      action == SQLITE_ANALYZE || function) {
    *static_cast<bool*>(writes) = true;
  }
  return SQLITE_OK;
}

}  // namespace

extern "C" int32_t standin_statement_kind(const char* database, const char* statement) {
  if (database == nullptr || statement == nullptr || !standin::IsDatabaseName(database)) {
    return STANDIN_STATEMENT_UNKNOWN;
  }
  // The server's own statements never reach SQLite, and each changes something: the
  // statistics, a user, the database lock.
  if (standin::OwnStatementOf(statement) != standin::OwnStatement::kNone) {
    return STANDIN_STATEMENT_CHANGES;
  }
  std::string server;
  if (standin::FindServer(database, &server) != 0) return STANDIN_STATEMENT_UNKNOWN;
  // Read-only, and the statement is prepared, never stepped: nothing can change here.
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(standin::DatabasePath(server, database).c_str(), &db,
                      SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return STANDIN_STATEMENT_UNKNOWN;
  }
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  bool writes = false;
  sqlite3_set_authorizer(db, NoteWriting, &writes);
  sqlite3_stmt* prepared = nullptr;
  const char* tail = nullptr;
  int32_t kind = STANDIN_STATEMENT_UNKNOWN;
  if (sqlite3_prepare_v2(db, statement, -1, &prepared, &tail) == SQLITE_OK && prepared != nullptr) {
    // A second statement is the connection's to refuse; it is not judged here.
    while (*tail != '\0' &&
           (std::isspace(static_cast<unsigned char>(*tail)) != 0 || *tail == ';')) {
      ++tail;
    }
    if (*tail == '\0') {
      if (writes || sqlite3_stmt_readonly(prepared) == 0) {
        kind = STANDIN_STATEMENT_CHANGES;
      } else {
        kind = sqlite3_column_count(prepared) > 0 ? STANDIN_STATEMENT_QUERY
                                                  : STANDIN_STATEMENT_NO_ROWS;
      }
    }
  }
  sqlite3_finalize(prepared);
  sqlite3_close(db);
  return kind;
}
