// Shared fixture of the end-to-end tests: libquillet.so's exports against the stand-in client
// library in a scratch root, with one server "srv" (password "pw") and its database files read
// back with SQLite directly.
#ifndef QUILLET_TESTS_END_TO_END_END_TO_END_TEST_H
#define QUILLET_TESTS_END_TO_END_END_TO_END_TEST_H

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <fstream>
#include <string>
#include <vector>

#include "quillet.h"
#include "scratch_root.h"

using Rows = std::vector<std::vector<std::string>>;

// Every row of a query on a database file, values as text, NULL as "<null>".
inline Rows RowsOf(const std::string& file, const std::string& query) {
  Rows rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "cannot open " << file;
    return rows;
  }
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, query.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << " in " << query;
  }
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    rows.emplace_back();
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const unsigned char* text = sqlite3_column_text(statement, column);
      rows.back().emplace_back(text == nullptr ? "<null>" : reinterpret_cast<const char*>(text));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

class EndToEndTest : public ScratchRootTest {
 protected:
  // A database of srv made with CreateDB and filled by Load from a script of these lines.
  void CreateFilled(const char* database, const std::string& script) {
    ASSERT_EQ(CreateDB("srv", "pw", database), 0);
    WriteFile(Path("fill.sql"), script);
    ASSERT_EQ(Load(database, "SYSADM", "SYSADM", ("LOAD SQL " + Path("fill.sql")).c_str()), 0);
  }
  void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::string DatabaseFile(const char* database) {
    return Path(std::string("srv/") + database + ".db");
  }
};

#endif  // QUILLET_TESTS_END_TO_END_END_TO_END_TEST_H
