// Direct calls into the stand-in client library, wrapped for readable tests.
#ifndef QUILLET_TESTS_STANDIN_STANDIN_CALLS_H
#define QUILLET_TESTS_STANDIN_STANDIN_CALLS_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/reply_layouts.h"
#include "client/sqlwntm.h"
#include "standin_admin.h"

namespace calls {

inline uint16_t Server(const char* server = "srv", const char* password = "pw") {
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_Connect(&handle, server, password), 0);
  return handle;
}

inline uint16_t Cursor(const char* connect) {
  uint16_t handle = 0;
  EXPECT_EQ(sqlwntm_CursorConnect(&handle, connect, 0), 0) << connect;
  return handle;
}

inline uint16_t NewDatabase(const char* database) {
  const uint16_t server = Server();
  EXPECT_EQ(sqlwntm_CreateDatabase(server, database, 0), 0);
  sqlwntm_Disconnect(server);
  return Cursor((std::string(database) + "/SYSADM/SYSADM").c_str());
}

inline std::vector<std::string> DatabaseNames(const char* server = "srv") {
  char list[sqlwntm::database_names::kListSize];
  std::memset(list, 'x', sizeof list);
  EXPECT_EQ(sqlwntm_GetDatabaseNames(server, list, sizeof list), 0);
  std::vector<std::string> names;
  for (const char* name = list; *name != '\0'; name += std::strlen(name) + 1) {
    names.emplace_back(name);
  }
  return names;
}

struct Record {
  int process;
  std::string user;
  std::string database;
  std::string program;
};

inline std::vector<Record> ActiveCursors(uint16_t server) {
  namespace layout = sqlwntm::active_cursors;
  static unsigned char reply[layout::kReplySize];
  int32_t length = 0;
  EXPECT_EQ(sqlwntm_GetActiveCursors(server, layout::kRequestAll, reply, sizeof reply, &length), 0);
  std::vector<Record> records;
  for (std::size_t i = 0; i < layout::ReadCount(reply); ++i) {
    const unsigned char* record = reply + layout::RecordOffset(i);
    records.push_back({record[layout::kProcessOffset],
                       reinterpret_cast<const char*>(record + layout::kUserOffset),
                       reinterpret_cast<const char*>(record + layout::kDatabaseOffset),
                       reinterpret_cast<const char*>(record + layout::kProgramOffset)});
  }
  return records;
}

// Runs a select and fetches every row as text through 256-byte bindings.
inline std::vector<std::vector<std::string>> Select(uint16_t cursor, const char* statement) {
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, statement, 0), 0) << statement;
  int32_t columns = 0;
  EXPECT_EQ(sqlwntm_GetNoSelectItems(cursor, &columns), 0);
  static char buffers[16][256];
  for (int32_t column = 1; column <= columns && column <= 16; ++column) {
    EXPECT_EQ(sqlwntm_SelectBuffer(cursor, column, 2, buffers[column - 1], 255, 0, 0, 0), 0);
  }
  std::vector<std::vector<std::string>> rows;
  int16_t code;
  while ((code = sqlwntm_Next(cursor)) == 0) {
    rows.emplace_back();
    for (int32_t column = 0; column < columns && column < 16; ++column) {
      rows.back().emplace_back(buffers[column]);
    }
  }
  EXPECT_EQ(code, 1);
  return rows;
}

inline void Run(uint16_t cursor, const char* statement) {
  EXPECT_EQ(sqlwntm_CompileAndExecute(cursor, statement, 0), 0) << statement;
}

}  // namespace calls

#endif  // QUILLET_TESTS_STANDIN_STANDIN_CALLS_H
