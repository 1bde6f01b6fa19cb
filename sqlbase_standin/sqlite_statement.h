// A prepared SQLite statement that finalizes itself.
#ifndef QUILLET_SQLBASE_STANDIN_SQLITE_STATEMENT_H
#define QUILLET_SQLBASE_STANDIN_SQLITE_STATEMENT_H

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace standin {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~SqliteStatement() { sqlite3_finalize(statement_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool Prepared() const { return statement_ != nullptr; }
  sqlite3_stmt* Raw() const { return statement_; }
  SqliteStatement& Bind(int index, const std::string& text) {
    if (statement_ != nullptr) {
      sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
    }
    return *this;
  }
  SqliteStatement& Bind(int index, int64_t value) {
    if (statement_ != nullptr) sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error; SQLITE_ERROR when the statement did not compile.
  int Step() { return statement_ == nullptr ? SQLITE_ERROR : sqlite3_step(statement_); }
  int64_t Integer(int column) const { return sqlite3_column_int64(statement_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_SQLITE_STATEMENT_H
