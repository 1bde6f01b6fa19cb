#include "unload_script.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "last_message.h"
#include "sqlite_statement.h"
#include "standin_admin.h"
#include "standin_paths.h"

namespace standin {
namespace {

int16_t Failed(int sqliteCode, sqlite3* db) {
  const int primary = sqliteCode & 0xff;
  return Report(primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? STANDIN_DATABASE_LOCKED
                                                                   : STANDIN_SQL_ERROR,
                std::string("SQLite: ") + sqlite3_errmsg(db));
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

// The script, written through the draft's descriptor in pieces of 64 KiB.
class ScriptOutput {
 public:
  explicit ScriptOutput(int file) : file_(file) {}
  ScriptOutput(const ScriptOutput&) = delete;
  ScriptOutput& operator=(const ScriptOutput&) = delete;

  ScriptOutput& operator<<(const std::string& text) {
    pending_ += text;
    if (pending_.size() >= kPiece) Flush();
    return *this;
  }
  ScriptOutput& operator<<(char c) {
    pending_.push_back(c);
    return *this;
  }
  // Writes what is pending; false once any write failed, with errno as that write left it.
  bool Flush() {
    for (std::size_t done = 0; error_ == 0 && done < pending_.size();) {
      const ssize_t written = write(file_, pending_.data() + done, pending_.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) error_ = written < 0 ? errno : ENOSPC;
      if (written > 0) done += static_cast<std::size_t>(written);
    }
    pending_.clear();
    errno = error_;
    return error_ == 0;
  }
  bool Failed() const { return error_ != 0; }

 private:
  static constexpr std::size_t kPiece = 65536;
  int file_;
  std::string pending_;
  int error_ = 0;
};

int16_t WriteScript(sqlite3* db, ScriptOutput& out) {
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
  return 0;
}

}  // namespace

int16_t WriteUnloadScript(sqlite3* db, const std::string& file) {
  // Written aside and renamed into place: a failed unload leaves no partial script behind.
  const std::size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : file.substr(0, slash);
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  // The folder is opened once: what is checked is where the script is written.
  Draft draft;
  if (!draft.OpenFolder(folder)) {
    return Report(STANDIN_FILE_ERROR,
                  "cannot write the unload file " + file + ": " + SystemReason(folder));
  }
  // A database user must not replace the catalogue or another database with a script.
  if (draft.InServerFolder()) {
    return Report(STANDIN_FILE_ERROR, "the unload file " + file +
                                          " would be in a stand-in server's folder; write it "
                                          "elsewhere");
  }
  if (name.empty() || name == "." || name == "..") {
    return Report(STANDIN_FILE_ERROR, "the unload file " + file + " names a folder, not a file");
  }
  if (!draft.Create(name)) {
    return Report(STANDIN_FILE_ERROR, "cannot write the unload file " + SystemReason(draft.Path()));
  }
  ScriptOutput out(draft.Descriptor());
  // Every table is read in one read transaction, so the script shows one state of the database.
  const bool ownTransaction = sqlite3_get_autocommit(db) != 0;
  if (ownTransaction) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  int16_t code = WriteScript(db, out);
  if (ownTransaction) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (code == 0 && !out.Flush()) {
    code = Report(STANDIN_FILE_ERROR, "cannot write the unload file " + SystemReason(draft.Path()));
  }
  return code == 0 ? draft.Install("the unload file") : code;
}

}  // namespace standin
