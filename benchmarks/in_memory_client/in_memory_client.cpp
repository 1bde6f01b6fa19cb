#include "in_memory_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "client/sqlwntm.h"

namespace in_memory_client {
namespace {

constexpr int32_t kMaxColumns = 255;

struct Binding {
  char* buffer;
  int32_t length;
};

struct Table {
  const Column* columns = nullptr;
  int32_t columnCount = 0;
  // Each value zero-padded to `record` bytes, longer than the longest value, so that a fetch
  // of short values copies a fixed number of bytes rather than measuring each value.
  std::vector<char> padded;
  std::size_t record = 0;
  std::vector<uint32_t> lengths;
  int32_t patternRows = 1;
  int64_t rowCount = 0;
  Binding bindings[kMaxColumns] = {};
  int64_t served = 0;
  int32_t patternRow = 0;
};

Table table;
const void* activeCursors = nullptr;
std::size_t activeCursorsSize = 0;

}  // namespace

void ServeRows(const Column* columns, int32_t columnCount, const Value* values, int32_t patternRows,
               int64_t rowCount) {
  table = Table{};
  table.columns = columns;
  table.columnCount = std::min(columnCount, kMaxColumns);
  table.patternRows = std::max(patternRows, 1);
  table.rowCount = rowCount;
  const std::size_t count =
      static_cast<std::size_t>(table.patternRows) * static_cast<std::size_t>(table.columnCount);
  std::size_t longest = 0;
  for (std::size_t i = 0; i < count; ++i) longest = std::max(longest, values[i].length);
  // The values' memory is read row after row, so it is kept as small as the copies allow.
  table.record = longest < 16 ? 16 : longest < 32 ? 32 : (longest / 64 + 1) * 64;
  table.padded.assign(count * table.record, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(table.padded.data() + i * table.record, values[i].text, values[i].length);
    table.lengths.push_back(static_cast<uint32_t>(values[i].length));
  }
}

void ServeActiveCursors(const void* reply, std::size_t size) {
  activeCursors = reply;
  activeCursorsSize = size;
}

}  // namespace in_memory_client

using in_memory_client::table;

extern "C" {

int16_t SQLWNTM_CALL sqlwntm_Connect(uint16_t* handle, const char*, const char*) {
  *handle = 1;
  return 0;
}
int16_t SQLWNTM_CALL sqlwntm_Disconnect(uint16_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_BackupSnapShot(uint16_t, const char*, int32_t, const char*, int32_t,
                                            int32_t, int32_t) {
  return 0;
}
int16_t SQLWNTM_CALL sqlwntm_GetActiveCursors(uint16_t, int16_t, void* buffer, int32_t size,
                                              int32_t* length) {
  const std::size_t copied =
      std::min(in_memory_client::activeCursorsSize, static_cast<std::size_t>(std::max(size, 0)));
  std::memcpy(buffer, in_memory_client::activeCursors, copied);
  *length = static_cast<int32_t>(copied);
  return 0;
}
int16_t SQLWNTM_CALL sqlwntm_KillConnection(uint16_t, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_GetDatabaseNames(const char*, char* buffer, int32_t size) {
  if (size >= 2) std::memset(buffer, 0, 2);
  return 0;
}
int16_t SQLWNTM_CALL sqlwntm_CreateDatabase(uint16_t, const char*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_DropDatabase(uint16_t, const char*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_InstallDatabase(uint16_t, const char*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_DeinstallDatabase(uint16_t, const char*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_TerminateServer(uint16_t) { return 0; }

int16_t SQLWNTM_CALL sqlwntm_CursorConnect(uint16_t* handle, const char*, int32_t) {
  *handle = 7;
  return 0;
}
int16_t SQLWNTM_CALL sqlwntm_CursorConnectOtherMode(uint16_t* handle, const char*, int32_t) {
  *handle = 7;
  return 0;
}
// No fixed setup asked for.
int16_t SQLWNTM_CALL sqlwntm_GetParameter(uint16_t, int32_t, int32_t* value, int32_t*) {
  *value = 0;
  return 0;
}
int16_t SQLWNTM_CALL sqlwntm_SetIsolation(uint16_t, const char*) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_SetParameter(uint16_t, int32_t, int32_t*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_CursorDisconnect(uint16_t) { return 0; }

int16_t SQLWNTM_CALL sqlwntm_CompileAndExecute(uint16_t, const char*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_Load(uint16_t, const char*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_Unload(uint16_t, const char*, int32_t) { return 0; }
int16_t SQLWNTM_CALL sqlwntm_ReleaseLog(uint16_t) { return 0; }

int16_t SQLWNTM_CALL sqlwntm_Execute(uint16_t) {
  table.served = 0;
  table.patternRow = 0;
  return 0;
}

// A string buffer takes at most its declared length, with a NUL when there is room for one; a
// short value may bring more zero bytes, never beyond the declared length.
int16_t SQLWNTM_CALL sqlwntm_Next(uint16_t) {
  if (table.served == table.rowCount) return sqlwntm::kNoMoreRows;
  const std::size_t first =
      static_cast<std::size_t>(table.patternRow) * static_cast<std::size_t>(table.columnCount);
  for (int32_t column = 0; column < table.columnCount; ++column) {
    const in_memory_client::Binding& binding = table.bindings[column];
    if (binding.buffer == nullptr) continue;
    const std::size_t index = first + static_cast<std::size_t>(column);
    const char* value = table.padded.data() + index * table.record;
    const std::size_t room = static_cast<std::size_t>(binding.length);
    // The text, its NUL and some of the padding in one fixed-size copy when the records are
    // that short and the buffer takes them; else the text and its NUL.
    if (table.record == 16 && room >= 16) {
      std::memcpy(binding.buffer, value, 16);
    } else if (table.record == 32 && room >= 32) {
      std::memcpy(binding.buffer, value, 32);
    } else {
      const std::size_t size = std::min<std::size_t>(table.lengths[index], room);
      std::memcpy(binding.buffer, value, size);
      if (size < room) binding.buffer[size] = '\0';
    }
  }
  ++table.served;
  if (++table.patternRow == table.patternRows) table.patternRow = 0;
  return 0;
}

int16_t SQLWNTM_CALL sqlwntm_Commit(uint16_t) { return 0; }

int16_t SQLWNTM_CALL sqlwntm_SelectBuffer(uint16_t, int32_t column, int32_t, char* buffer,
                                          int32_t length, int32_t, int32_t, int32_t) {
  if (column >= 1 && column <= table.columnCount && length >= 0) {
    table.bindings[column - 1] = {buffer, length};
  }
  return 0;
}

int16_t SQLWNTM_CALL sqlwntm_GetNoRows(uint16_t, int32_t* count) {
  *count = static_cast<int32_t>(table.rowCount);
  return 0;
}

int16_t SQLWNTM_CALL sqlwntm_GetNoSelectItems(uint16_t, int32_t* count) {
  *count = table.columnCount;
  return 0;
}

int16_t SQLWNTM_CALL sqlwntm_DescribeSelectItem(uint16_t, int32_t column, int32_t* type,
                                                int32_t* length, char* name, uint8_t* nameLength,
                                                int32_t*, int32_t*) {
  if (column < 1 || column > table.columnCount) return -1;
  const in_memory_client::Column& described = table.columns[column - 1];
  const std::size_t size = std::min<std::size_t>(std::strlen(described.name), 255);
  std::memcpy(name, described.name, size);
  *type = described.type;
  *length = 50;
  *nameLength = static_cast<uint8_t>(size);
  return 0;
}

}  // extern "C"
