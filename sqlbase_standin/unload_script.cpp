#include "unload_script.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
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

std::string Identifier(const std::string& name) { return Quoted("\"%w\"", name); }

bool SameName(const std::string& one, const std::string& other) {
  return sqlite3_stricmp(one.c_str(), other.c_str()) == 0;
}

bool Holds(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& held) { return SameName(held, name); });
}

// Reports what a script could not make again, by name: the unload fails rather than leave it
// out.
int16_t CannotReproduce(const std::string& what) {
  return Report(STANDIN_SQL_ERROR, "cannot unload the database: " + what);
}

bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
         (static_cast<unsigned char>(c) & 0x80) != 0;
}

// Whether the statement holds the keyword, outside strings, quoted names and comments.
bool HoldsKeyword(const std::string& sql, const char* keyword) {
  for (std::size_t at = 0; at < sql.size();) {
    const char c = sql[at];
    const char* closing = c == '\''  ? "'"
                          : c == '"' ? "\""
                          : c == '`' ? "`"
                          : c == '[' ? "]"
                                     : nullptr;
    if (closing != nullptr) {
      const std::size_t end = sql.find(closing, at + 1);
      at = end == std::string::npos ? sql.size() : end + 1;
    } else if (sql.compare(at, 2, "--") == 0) {
      const std::size_t end = sql.find('\n', at);
      at = end == std::string::npos ? sql.size() : end + 1;
    } else if (sql.compare(at, 2, "/*") == 0) {
      const std::size_t end = sql.find("*/", at + 2);
      at = end == std::string::npos ? sql.size() : end + 2;
    } else if (IsWordCharacter(c)) {
      std::size_t end = at;
      while (end < sql.size() && IsWordCharacter(sql[end])) ++end;
      if (sqlite3_stricmp(sql.substr(at, end - at).c_str(), keyword) == 0) return true;
      at = end;
    } else {
      ++at;
    }
  }
  return false;
}

// Literals that SQLite, reading the script, takes for the same value of the same type, byte for
// byte.
class Literals {
 public:
  explicit Literals(sqlite3* db) : db_(db), cast_(db, "SELECT CAST(?1 AS REAL)") {}

  // False when the value has no literal; Problem() then says why.
  bool Of(sqlite3_stmt* row, int column, std::string* literal) {
    switch (sqlite3_column_type(row, column)) {
      case SQLITE_NULL:
        *literal = "NULL";
        return true;
      case SQLITE_INTEGER:
        *literal = std::to_string(sqlite3_column_int64(row, column));
        return true;
      case SQLITE_FLOAT:
        return Real(sqlite3_column_double(row, column), literal);
      case SQLITE_BLOB:
        *literal = Hex(static_cast<const unsigned char*>(sqlite3_column_blob(row, column)),
                       static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
        return true;
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(row, column));
        return Text(text == nullptr ? std::string() : std::string(text, size), literal);
      }
    }
  }
  const std::string& Problem() const { return problem_; }

 private:
  static std::string Hex(const unsigned char* bytes, std::size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string literal = "X'";
    literal.reserve(2 * size + 3);
    for (std::size_t i = 0; i < size; ++i) {
      literal.push_back(kHex[bytes[i] >> 4]);
      literal.push_back(kHex[bytes[i] & 0xf]);
    }
    return literal + "'";
  }

  static std::string Printed(const char* format, double value) {
    char* text = sqlite3_mprintf(format, value);
    std::string printed = text == nullptr ? std::string() : text;
    sqlite3_free(text);
    return printed;
  }

  static bool SameBits(double one, double other) {
    uint64_t oneBits = 0;
    uint64_t otherBits = 0;
    std::memcpy(&oneBits, &one, sizeof one);
    std::memcpy(&otherBits, &other, sizeof other);
    return oneBits == otherBits;
  }

  // Whether SQLite reads the digits as exactly this real: a literal of the script is read as a
  // cast reads text.
  bool ReadsBackAs(const std::string& digits, double value) {
    sqlite3_stmt* cast = cast_.Raw();
    if (cast == nullptr) return false;
    sqlite3_bind_text(cast, 1, digits.c_str(), static_cast<int>(digits.size()), SQLITE_STATIC);
    const bool same = sqlite3_step(cast) == SQLITE_ROW &&
                      sqlite3_column_type(cast, 0) == SQLITE_FLOAT &&
                      SameBits(sqlite3_column_double(cast, 0), value);
    sqlite3_reset(cast);
    sqlite3_clear_bindings(cast);
    return same;
  }

  bool EvaluatesTo(const std::string& expression, double value) {
    SqliteStatement evaluate(db_, ("SELECT " + expression).c_str());
    return evaluate.Step() == SQLITE_ROW &&
           sqlite3_column_type(evaluate.Raw(), 0) == SQLITE_FLOAT &&
           SameBits(sqlite3_column_double(evaluate.Raw(), 0), value);
  }

  // 17 digits, which SQLite reads back as the same real for all but some of the largest and
  // smallest magnitudes; those are written as the product of their integer mantissa and powers
  // of two, which SQLite reads and multiplies without rounding. Infinity is a literal too large
  // for a real. "-x" is read as x negated, which is exact, -0.0 included.
  bool Real(double value, std::string* literal) {
    if (std::isnan(value)) {  // no table holds one, but an expression may give one
      *literal = "NULL";
      return true;
    }
    const std::string sign = std::signbit(value) ? "-" : "";
    const double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
      *literal = sign + "9e999";
      return true;
    }
    const std::string digits = Printed("%!.17g", magnitude);
    if (ReadsBackAs(digits, magnitude)) {
      *literal = sign + digits;
      return true;
    }
    int exponent = 0;
    auto mantissa =
        static_cast<int64_t>(std::ldexp(std::frexp(magnitude, &exponent), kMantissaBits));
    exponent -= kMantissaBits;
    while (mantissa % 2 == 0) {
      mantissa /= 2;
      ++exponent;
    }
    std::string product = "(" + std::to_string(mantissa) + ".0";
    while (exponent != 0) {
      const int step = std::min(std::abs(exponent), kPowerBits);
      product += (exponent > 0 ? "*" : "/") + Printed("%!.1f", std::ldexp(1.0, step));
      exponent += exponent > 0 ? -step : step;
    }
    product += ")";
    if (!EvaluatesTo(product, magnitude)) {
      problem_ = "no literal reads back as the real " + Printed("%!.20e", value);
      return false;
    }
    *literal = sign + product;
    return true;
  }

  // A string literal. A NUL byte would end it: a text that holds some is written with a
  // character it does not hold in their place, which replace() turns back into NULs, the same
  // characters in a database of any text encoding.
  bool Text(const std::string& text, std::string* literal) {
    if (text.find('\0') == std::string::npos) {
      *literal = Quoted("%Q", text);
      return true;
    }
    std::string marker;
    // Printable characters first, then the others of one byte, then two bytes of UTF-8 (U+0080
    // to U+07FF): bytes unlike each other, so that no match can straddle text and marker.
    for (const unsigned first : {0x21u, 0x01u}) {
      for (unsigned c = first; c < (first == 0x21u ? 0x7fu : 0x21u) && marker.empty(); ++c) {
        if (c != '\'' && text.find(static_cast<char>(c)) == std::string::npos) {
          marker.assign(1, static_cast<char>(c));
        }
      }
    }
    for (unsigned point = 0x80; point < 0x800 && marker.empty(); ++point) {
      const std::string candidate = {static_cast<char>(0xc0 | (point >> 6)),
                                     static_cast<char>(0x80 | (point & 0x3f))};
      if (text.find(candidate) == std::string::npos) marker = candidate;
    }
    if (marker.empty()) {
      problem_ = "a text holds NUL bytes and every character that could stand in for them";
      return false;
    }
    std::string marked;
    marked.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
      if (c == '\0') {
        marked += marker;
      } else {
        marked.push_back(c);
      }
    }
    *literal = "replace(" + Quoted("%Q", marked) + "," + Quoted("%Q", marker) + ",char(0))";
    return true;
  }

  static constexpr int kMantissaBits = 53;
  static constexpr int kPowerBits = 52;  // 2^52 has 16 digits, which SQLite reads exactly
  sqlite3* db_;
  SqliteStatement cast_;
  std::string problem_;
};

struct SchemaObject {
  std::string type;
  std::string name;
  std::string table;  // the table of an index or a trigger
  std::string sql;
};

// What PRAGMA table_list says of the database's tables.
struct TableList {
  std::vector<std::string> shadows;  // the tables of virtual tables
  std::vector<std::string> withoutRowid;
  bool sequence = false;  // sqlite_sequence exists
};

int16_t ListTables(sqlite3* db, TableList* list) {
  SqliteStatement tables(db, "PRAGMA main.table_list");
  int step;
  while ((step = tables.Step()) == SQLITE_ROW) {
    const std::string name = tables.Text(1);
    if (tables.Text(2) == "shadow") list->shadows.push_back(name);
    if (tables.Integer(4) != 0) list->withoutRowid.push_back(name);
    if (name == "sqlite_sequence") list->sequence = true;
  }
  return step == SQLITE_DONE ? int16_t{0} : Failed(step, db);
}

// How the rows of a table or a virtual table are read and made again.
struct TableRows {
  std::string name;
  bool copied = true;                 // false: a virtual table that shows rows kept elsewhere
  std::string rowid;                  // the name its rowid is inserted by; empty for none
  std::vector<std::string> columns;   // those inserted: neither generated nor hidden
  std::vector<std::string> settings;  // statements that set a full-text table up as it was
};

// The settings of an fts5 table other than its version ("pgsz", "rank", "automerge", ...), made
// again by its own commands.
int16_t Fts5Settings(sqlite3* db, const std::string& table, TableRows* rows) {
  SqliteStatement settings(
      db, Quoted("SELECT k, v FROM main.\"%w\" WHERE k <> 'version'", table + "_config").c_str());
  Literals literals(db);
  std::string key;
  std::string value;
  int step;
  while ((step = settings.Step()) == SQLITE_ROW) {
    if (!literals.Of(settings.Raw(), 0, &key) || !literals.Of(settings.Raw(), 1, &value)) {
      return CannotReproduce(literals.Problem() + " (a setting of the full-text table " + table +
                             ")");
    }
    rows->settings.push_back("INSERT INTO " + Identifier(table) + "(" + Identifier(table) +
                             ", rank) VALUES(" + key + "," + value + ");\n");
  }
  return step == SQLITE_DONE ? int16_t{0} : Failed(step, db);
}

int16_t DescribeRows(sqlite3* db, const SchemaObject& table, const TableList& list,
                     TableRows* rows) {
  rows->name = table.name;
  std::vector<std::string> all;
  {
    SqliteStatement columns(db, Quoted("PRAGMA main.table_xinfo(\"%w\")", table.name).c_str());
    int step;
    while ((step = columns.Step()) == SQLITE_ROW) {
      all.push_back(columns.Text(1));
      // hidden: 1 in a virtual table, 2 and 3 for a generated column, virtual or stored.
      if (columns.Integer(6) == 0) rows->columns.push_back(columns.Text(1));
    }
    if (step != SQLITE_DONE) return Failed(step, db);
  }
  if (sqlite3_strnicmp(table.sql.c_str(), "CREATE VIRTUAL", 14) == 0) {
    std::vector<std::string> shadows;  // by what follows "<table>_"
    const std::string prefix = table.name + "_";
    for (const std::string& shadow : list.shadows) {
      if (shadow.size() > prefix.size() &&
          sqlite3_strnicmp(shadow.c_str(), prefix.c_str(), static_cast<int>(prefix.size())) == 0) {
        shadows.push_back(shadow.substr(prefix.size()));
      }
    }
    // Without tables of its own (fts5vocab, dbstat) it shows rows kept elsewhere, or none.
    rows->copied = !shadows.empty();
    const bool fts5 = Holds(shadows, "data") && Holds(shadows, "idx") && Holds(shadows, "config");
    const bool fts3 = Holds(shadows, "segments") && Holds(shadows, "segdir");
    // One that keeps no text of its own (content='' or content=<another table>) cannot be
    // filled again from its rows.
    // An fts4 language id is a hidden column that the rows cannot give back.
    if (fts3 && HoldsKeyword(table.sql, "LANGUAGEID")) {
      return CannotReproduce("the full-text table " + table.name +
                             " has a language id, which its rows cannot give back");
    }
    if ((fts5 || fts3) && !Holds(shadows, "content")) {
      return CannotReproduce("the full-text table " + table.name +
                             " keeps no text of its own (its content option), so its index "
                             "cannot be made again from a script");
    }
    if (fts5) {
      if (const int16_t code = Fts5Settings(db, table.name, rows)) return code;
    }
  }
  if (!rows->copied || Holds(list.withoutRowid, table.name)) return 0;
  // Rowids are kept, so that what refers to them still finds them: inserted by a name that no
  // column takes (an INTEGER PRIMARY KEY then gets the same value twice).
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    if (!Holds(all, name)) {
      rows->rowid = name;
      return 0;
    }
  }
  return CannotReproduce("the columns of the table " + table.name +
                         " are named rowid, _rowid_ and oid, so its rowids cannot be kept");
}

int16_t WriteRows(sqlite3* db, const TableRows& table, Literals& literals, ScriptOutput& out) {
  std::string names = table.rowid;
  for (const std::string& column : table.columns) {
    if (!names.empty()) names += ",";
    names += Identifier(column);
  }
  const std::string insert = "INSERT INTO " + Identifier(table.name) + "(" + names + ") VALUES(";
  SqliteStatement rows(db, ("SELECT " + names + " FROM main." + Identifier(table.name)).c_str());
  if (!rows.Prepared()) return Failed(sqlite3_errcode(db), db);
  const int columns = sqlite3_column_count(rows.Raw());
  std::string literal;
  int step = SQLITE_DONE;
  // A write that failed (a full disk) ends the rows: the unload fails with its reason.
  while (!out.Failed() && (step = rows.Step()) == SQLITE_ROW) {
    out << insert;
    for (int column = 0; column < columns; ++column) {
      if (!literals.Of(rows.Raw(), column, &literal)) {
        return CannotReproduce(literals.Problem() + " (in the table " + table.name + ")");
      }
      if (column > 0) out << ',';
      out << literal;
    }
    out << std::string(");\n");
  }
  return out.Failed() || step == SQLITE_DONE ? int16_t{0} : Failed(step, db);
}

// The counters of the AUTOINCREMENT tables, once their rows (whose inserts moved them) are in:
// those of the script's tables are set as they were, those of other tables left alone.
int16_t WriteSequence(sqlite3* db, const std::vector<SchemaObject>& tables, const TableList& list,
                      Literals& literals, ScriptOutput& out) {
  if (!list.sequence) return 0;  // no table ever had AUTOINCREMENT
  std::vector<std::string> names;
  for (const SchemaObject& table : tables) {
    if (HoldsKeyword(table.sql, "AUTOINCREMENT")) names.push_back(table.name);
  }
  const bool made = !names.empty();  // SQLite makes sqlite_sequence with the first such table
  std::vector<std::string> inserts;
  SqliteStatement counters(db, "SELECT name, seq FROM main.sqlite_sequence");
  std::string name;
  std::string seq;
  int step;
  while ((step = counters.Step()) == SQLITE_ROW) {
    if (!literals.Of(counters.Raw(), 0, &name) || !literals.Of(counters.Raw(), 1, &seq)) {
      return CannotReproduce(literals.Problem() + " (in sqlite_sequence)");
    }
    if (!counters.IsNull(0) && !Holds(names, counters.Text(0))) names.push_back(counters.Text(0));
    inserts.push_back("INSERT INTO sqlite_sequence(name, seq) VALUES(" + name + "," + seq + ");\n");
  }
  if (step != SQLITE_DONE) return Failed(step, db);
  if (!made && !inserts.empty()) {
    return CannotReproduce(
        "sqlite_sequence holds counters, but no table of the database has "
        "AUTOINCREMENT, so a script cannot make sqlite_sequence again");
  }
  if (names.empty()) return 0;
  std::string named;
  for (const std::string& table : names) named += (named.empty() ? "" : ",") + Quoted("%Q", table);
  out << "DELETE FROM sqlite_sequence WHERE name IN (" + named + ");\n";
  for (const std::string& insert : inserts) out << insert;
  return 0;
}

// The script: every object of it dropped where it exists (views, triggers, indexes, tables,
// virtual ones too); each table made and filled, a full-text table set up first as it was; the
// AUTOINCREMENT counters; then the indexes, the views and the triggers, which may be on views.
// Rows go in before any trigger exists, so that none fires. The tables of virtual tables (shadow
// tables) are theirs to make, and SQLite's own (sqlite_...) are left out, but for
// sqlite_sequence; statistics (sqlite_stat1) come again with UPDATE STATISTICS.
int16_t WriteScript(sqlite3* db, ScriptOutput& out) {
  TableList list;
  if (const int16_t code = ListTables(db, &list)) return code;
  std::vector<SchemaObject> objects;
  {
    SqliteStatement select(db,
                           "SELECT type, name, tbl_name, sql FROM sqlite_schema"
                           " WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'"
                           " ORDER BY rowid");
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
      SchemaObject object{select.Text(0), select.Text(1), select.Text(2), select.Text(3)};
      if (!Holds(list.shadows, object.name) && !Holds(list.shadows, object.table)) {
        objects.push_back(std::move(object));
      }
    }
    if (step != SQLITE_DONE) return Failed(step, db);
  }
  // SQLite keeps a definition as it was written, a closing comment included: it is ended on a
  // line of its own, and one left open (an unclosed /*) would take the rest of the script with
  // it.
  for (SchemaObject& object : objects) {
    object.sql += "\n";
    if (sqlite3_complete((object.sql + ";").c_str()) == 0) {
      return CannotReproduce("the definition of " + object.name +
                             " ends inside a comment, which would hide the rest of the script");
    }
  }
  const auto each = [&](const char* type) {
    std::vector<SchemaObject> chosen;
    for (const SchemaObject& object : objects) {
      if (object.type == type) chosen.push_back(object);
    }
    return chosen;
  };
  const std::vector<SchemaObject> tables = each("table");
  // Everything that cannot be made again is found before the first row is written.
  std::vector<TableRows> rows(tables.size());
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (const int16_t code = DescribeRows(db, tables[i], list, &rows[i])) return code;
  }

  out << std::string("-- Unloaded database: load it with LOAD SQL <this file>.\n");
  // The header's numbers that applications keep there.
  for (const char* pragma : {"user_version", "application_id"}) {
    SqliteStatement read(db, (std::string("PRAGMA main.") + pragma).c_str());
    if (read.Step() == SQLITE_ROW && read.Integer(0) != 0) {
      out << std::string("PRAGMA ") + pragma + "=" + std::to_string(read.Integer(0)) + ";\n";
    }
  }
  for (const auto& [type, keyword] : {std::pair<const char*, const char*>{"view", "VIEW"},
                                      {"trigger", "TRIGGER"},
                                      {"index", "INDEX"},
                                      {"table", "TABLE"}}) {
    for (const SchemaObject& object : each(type)) {
      out << "DROP " + std::string(keyword) + " IF EXISTS " + Identifier(object.name) + ";\n";
    }
  }
  Literals literals(db);
  for (std::size_t i = 0; i < tables.size(); ++i) {
    out << tables[i].sql + ";\n";
    for (const std::string& setting : rows[i].settings) out << setting;
    if (!rows[i].copied) continue;
    if (const int16_t code = WriteRows(db, rows[i], literals, out)) return code;
  }
  if (const int16_t code = WriteSequence(db, tables, list, literals, out)) return code;
  for (const char* type : {"index", "view", "trigger"}) {
    for (const SchemaObject& object : each(type)) out << object.sql + ";\n";
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
