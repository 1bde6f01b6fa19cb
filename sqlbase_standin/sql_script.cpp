#include "sql_script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "last_message.h"
#include "sqlite_statement.h"
#include "standin_admin.h"
#include "standin_paths.h"

namespace standin {
namespace {

// Moves past blanks and one keyword (any case); false when the keyword is not next.
bool TakeWord(const char*& text, const char* word) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  const char* at = text;
  for (; *word != '\0'; ++word, ++at) {
    if (std::toupper(static_cast<unsigned char>(*at)) != *word) return false;
  }
  if (*at != '\0' && !std::isspace(static_cast<unsigned char>(*at))) return false;
  text = at;
  return true;
}

bool TakeFile(const char* text, std::string* file) {
  std::string rest = text;
  const std::size_t first = rest.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return false;
  const std::size_t last = rest.find_last_not_of(" \t\r\n");
  *file = NativePath(rest.substr(first, last - first + 1).c_str());
  return true;
}

// where: e.g. " (stock.sql, line 3)", said after SQLite's message.
int16_t Failed(int sqliteCode, sqlite3* db, const std::string& where = "") {
  const int primary = sqliteCode & 0xff;
  return Report(primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? STANDIN_DATABASE_LOCKED
                                                                   : STANDIN_SQL_ERROR,
                std::string("SQLite: ") + sqlite3_errmsg(db) + where);
}

// Runs the script's statements in order; on a failure says which line of the file it was on.
int RunStatements(sqlite3* db, const std::string& script, std::string* where,
                  const std::string& file) {
  const char* const start = script.c_str();
  const char* next = start;
  while (*next != '\0') {
    const char* const base = next;
    const char* statementStart = next;
    while (std::isspace(static_cast<unsigned char>(*statementStart))) ++statementStart;
    sqlite3_stmt* statement = nullptr;
    int code = sqlite3_prepare_v2(db, next, -1, &statement, &next);
    if (code == SQLITE_OK && statement != nullptr) {
      while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
      }
      if (code == SQLITE_DONE) code = SQLITE_OK;
    }
    const int offset = code == SQLITE_OK ? -1 : sqlite3_error_offset(db);
    sqlite3_finalize(statement);
    if (code != SQLITE_OK) {
      const char* at = offset >= 0 ? base + offset : statementStart;
      *where = " (" + file + ", line " +
               std::to_string(1 + std::count(start, std::max(start, at), '\n')) + ")";
      return code;
    }
  }
  return SQLITE_OK;
}

std::string Quoted(const char* format, const std::string& name) {
  char* text = sqlite3_mprintf(format, name.c_str());
  std::string quoted = text == nullptr ? std::string() : text;
  sqlite3_free(text);
  return quoted;
}

// The value of one column as an SQL literal that reads back as the same value and type.
std::string Literal(sqlite3_stmt* row, int column) {
  switch (sqlite3_column_type(row, column)) {
    case SQLITE_NULL:
      return "NULL";
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(row, column));
    case SQLITE_FLOAT: {
      char* text = sqlite3_mprintf("%!.17g", sqlite3_column_double(row, column));
      std::string literal = text == nullptr ? "NULL" : text;
      sqlite3_free(text);
      return literal;
    }
    case SQLITE_BLOB: {
      static const char kHex[] = "0123456789ABCDEF";
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(row, column));
      const int size = sqlite3_column_bytes(row, column);
      std::string literal = "X'";
      for (int i = 0; i < size; ++i) {
        literal.push_back(kHex[bytes[i] >> 4]);
        literal.push_back(kHex[bytes[i] & 0xf]);
      }
      return literal + "'";
    }
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
      return Quoted("%Q", text == nullptr ? "" : text);
    }
  }
}

struct SchemaObject {
  std::string type;
  std::string name;
  std::string sql;
};

int16_t WriteScript(sqlite3* db, std::ostream& out) {
  std::vector<SchemaObject> objects;
  {
    SqliteStatement select(db,
                           "SELECT type, name, sql FROM sqlite_schema"
                           " WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'"
                           " ORDER BY CASE type WHEN 'table' THEN 0 WHEN 'index' THEN 1"
                           " WHEN 'trigger' THEN 2 ELSE 3 END, rowid");
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
      objects.push_back({select.Text(0), select.Text(1), select.Text(2)});
    }
    if (step != SQLITE_DONE) return Failed(step, db);
  }
  out << "-- Unloaded database: load it with LOAD SQL <this file>.\n";
  for (const SchemaObject& object : objects) {
    if (object.type == "view") out << Quoted("DROP VIEW IF EXISTS \"%w\";\n", object.name);
  }
  for (const SchemaObject& object : objects) {
    if (object.type == "table") out << Quoted("DROP TABLE IF EXISTS \"%w\";\n", object.name);
  }
  for (const SchemaObject& object : objects) {
    if (object.type != "table") continue;
    out << object.sql << ";\n";
    const std::string insert = Quoted("INSERT INTO \"%w\" VALUES(", object.name);
    SqliteStatement rows(db, Quoted("SELECT * FROM \"%w\"", object.name).c_str());
    if (!rows.Prepared()) return STANDIN_SQL_ERROR;
    const int columns = sqlite3_column_count(rows.Raw());
    int step;
    while ((step = rows.Step()) == SQLITE_ROW) {
      out << insert;
      for (int column = 0; column < columns; ++column) {
        if (column > 0) out << ',';
        out << Literal(rows.Raw(), column);
      }
      out << ");\n";
    }
    if (step != SQLITE_DONE) return Failed(step, db);
  }
  for (const SchemaObject& object : objects) {
    if (object.type != "table") out << object.sql << ";\n";
  }
  return out ? 0 : STANDIN_FILE_ERROR;
}

// The whole file or nothing: a directory, a read error or a short read is a failure, never a
// script that ends early.
int16_t ReadScript(const std::string& file, std::string* script) {
  // Non-blocking, so that a FIFO without a writer is refused below rather than waited on forever.
  const int in = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return Report(STANDIN_FILE_ERROR, "cannot read the script " + SystemReason(file));
  struct stat info {};
  int16_t code = 0;
  if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
    code = Report(STANDIN_FILE_ERROR, "cannot read the script " + file + ": not a regular file");
  }
  char buffer[65536];
  while (code == 0) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) code = Report(STANDIN_FILE_ERROR, "cannot read the script " + SystemReason(file));
    if (got > 0) script->append(buffer, static_cast<std::size_t>(got));
  }
  close(in);
  // SQLite would take a NUL for the end of the script and skip the rest unseen.
  const std::size_t nul = code == 0 ? script->find('\0') : std::string::npos;
  if (nul != std::string::npos) {
    code = Report(STANDIN_BAD_SCRIPT, "the script " + file + " holds a NUL byte at offset " +
                                          std::to_string(nul) + "; nothing of it was run");
  }
  return code;
}

}  // namespace

bool ParseLoadCommand(const char* text, std::string* file) {
  if (text == nullptr || !TakeWord(text, "LOAD") || !TakeWord(text, "SQL")) return false;
  return TakeFile(text, file);
}

bool ParseUnloadCommand(const char* text, std::string* file) {
  if (text == nullptr || !TakeWord(text, "UNLOAD")) return false;
  const char* rest = text;
  if (!TakeWord(rest, "SQL")) {
    rest = text;
    if (!TakeWord(rest, "DATABASE")) return false;
  }
  return TakeFile(rest, file);
}

int16_t RunScript(sqlite3* db, const std::string& file) {
  std::string script;
  if (const int16_t code = ReadScript(file, &script)) return code;
  // A savepoint nests inside the transaction of a database lock and is a transaction of its
  // own outside one.
  if (sqlite3_exec(db, "SAVEPOINT standin_load", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Failed(sqlite3_errcode(db), db);
  }
  std::string where;
  const int code = RunStatements(db, script, &where, file);
  if (code != SQLITE_OK) {
    const int16_t failed = Failed(code, db, where);
    sqlite3_exec(db, "ROLLBACK TO standin_load; RELEASE standin_load", nullptr, nullptr, nullptr);
    return failed;
  }
  const int release = sqlite3_exec(db, "RELEASE standin_load", nullptr, nullptr, nullptr);
  return release == SQLITE_OK ? int16_t{0} : Failed(release, db);
}

int16_t WriteUnloadScript(sqlite3* db, const std::string& file) {
  // Written aside and renamed into place: a failed unload leaves no partial script behind.
  const std::size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : file.substr(0, slash);
  // A database user must not replace the catalogue or another database with a script.
  if (IsServerFolder(folder)) {
    return Report(STANDIN_FILE_ERROR, "the unload file " + file +
                                          " would be in a stand-in server's folder; write it "
                                          "elsewhere");
  }
  RemoveStaleDrafts(folder);
  const std::string draft = DraftName(file);
  // Made 0600 first: the stream would make it as the umask lets it.
  if (!MakePrivateFile(draft)) return STANDIN_FILE_ERROR;
  std::ofstream out(draft, std::ios::binary | std::ios::trunc);
  if (!out)
    return Report(STANDIN_FILE_ERROR, "cannot write the unload file " + SystemReason(draft));
  // Every table is read in one read transaction, so the script shows one state of the database.
  const bool ownTransaction = sqlite3_get_autocommit(db) != 0;
  if (ownTransaction) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  int16_t code = WriteScript(db, out);
  if (ownTransaction) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  out.close();
  if (code == 0 && !out) code = STANDIN_FILE_ERROR;
  if (code == 0 && std::rename(draft.c_str(), file.c_str()) != 0) code = STANDIN_FILE_ERROR;
  if (code != 0) unlink(draft.c_str());
  return code;
}

}  // namespace standin
