// What the stand-in's hardening tests share: a scratch root with the server "srv", and helpers
// to write files, read modes and the catalogue, and run a load script.
#ifndef QUILLET_TESTS_STANDIN_HARDENING_FIXTURE_H
#define QUILLET_TESTS_STANDIN_HARDENING_FIXTURE_H

#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

#include "scratch_root.h"
#include "standin_calls.h"

class StandinHardeningTest : public ScratchRootTest {
 protected:
  void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  // Every byte the catalogue has on disk, its log included.
  std::string CatalogueBytes() {
    std::string bytes;
    for (const char* suffix : {"", "-wal"}) {
      std::ifstream file(Path("srv/standin.catalogue") + suffix, std::ios::binary);
      bytes.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return bytes;
  }
  void OnCatalogue(const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("srv/standin.catalogue").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
  }
  static unsigned ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 01000000;
  }
  int16_t Load(uint16_t cursor, const std::string& script) {
    const std::string path = Path("script.sql");
    WriteFile(path, script);
    return sqlwntm_Load(cursor, ("LOAD SQL " + path).c_str(), 0);
  }
};

#endif  // QUILLET_TESTS_STANDIN_HARDENING_FIXTURE_H
