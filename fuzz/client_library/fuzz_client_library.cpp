#include "fuzz_client_library.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "client/sqlwntm.h"

namespace fuzz_client {
namespace {

constexpr uint16_t kHandle = 7;
// A statement yields no more rows than this, so that a run always ends.
constexpr int kMostRows = 300;
// Most calls succeed, so that the fuzzer reaches the replies behind them.
constexpr uint8_t kFirstFailure = 0xC0;
const int16_t kFailures[] = {1, -1, 2528, 32767, -32768, 401, -7, 1203};

struct Binding {
  char* buffer;
  int32_t length;
};

struct Input {
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t used = 0;

  bool Empty() const { return used >= size; }
  uint8_t Byte() { return Empty() ? 0 : data[used++]; }
  uint16_t Word() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  // Copies up to `count` bytes into `out`; returns how many the input still had.
  std::size_t Bytes(void* out, std::size_t count) {
    const std::size_t available = std::min(count, size - std::min(used, size));
    if (available > 0) std::memcpy(out, data + used, available);
    used += available;
    return available;
  }
};

Input input;
std::set<int16_t> returned;
int openConnections = 0;
int rowsFetched = 0;
Binding bindings[256];

int16_t Code() {
  const uint8_t pick = input.Byte();
  const int16_t code =
      pick < kFirstFailure ? 0 : kFailures[pick % (sizeof kFailures / sizeof kFailures[0])];
  returned.insert(code);
  return code;
}

// A reply area of `size` bytes: some bytes from the input, the rest a filler byte.
void Reply(void* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return;
  const std::size_t room = static_cast<std::size_t>(size);
  const std::size_t wanted = std::min<std::size_t>(input.Word(), room);
  const uint8_t filler = input.Byte();
  const std::size_t copied = input.Bytes(buffer, wanted);
  std::memset(static_cast<char*>(buffer) + copied, filler, room - copied);
}

int16_t Open(uint16_t* handle) {
  const int16_t code = Code();
  if (code == 0) {
    *handle = kHandle;
    ++openConnections;
  }
  return code;
}

int16_t Close() {
  --openConnections;
  return Code();
}

void ClearBindings() {
  for (Binding& binding : bindings) binding = Binding{nullptr, 0};
  rowsFetched = 0;
}

}  // namespace

void Feed(const uint8_t* data, std::size_t size) {
  input = Input{data, size, 0};
  returned.clear();
  openConnections = 0;
  ClearBindings();
}

bool Returned(int16_t code) { return returned.count(code) != 0; }

int OpenConnections() { return openConnections; }

}  // namespace fuzz_client

using fuzz_client::Code;
using fuzz_client::input;

extern "C" {

int16_t SQLWNTM_CALL sqlwntm_Connect(uint16_t* handle, const char*, const char*) {
  return fuzz_client::Open(handle);
}

int16_t SQLWNTM_CALL sqlwntm_Disconnect(uint16_t) { return fuzz_client::Close(); }

int16_t SQLWNTM_CALL sqlwntm_BackupSnapShot(uint16_t, const char*, int32_t, const char*, int32_t,
                                            int32_t, int32_t) {
  return Code();
}

int16_t SQLWNTM_CALL sqlwntm_GetActiveCursors(uint16_t, int16_t, void* buffer, int32_t size,
                                              int32_t*) {
  const int16_t code = Code();
  if (code == 0) fuzz_client::Reply(buffer, size);
  return code;
}

int16_t SQLWNTM_CALL sqlwntm_KillConnection(uint16_t, int32_t) { return Code(); }

int16_t SQLWNTM_CALL sqlwntm_GetDatabaseNames(const char*, char* buffer, int32_t size) {
  const int16_t code = Code();
  if (code == 0) fuzz_client::Reply(buffer, size);
  return code;
}

int16_t SQLWNTM_CALL sqlwntm_CreateDatabase(uint16_t, const char*, int32_t) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_DropDatabase(uint16_t, const char*, int32_t) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_InstallDatabase(uint16_t, const char*, int32_t) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_DeinstallDatabase(uint16_t, const char*, int32_t) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_TerminateServer(uint16_t) { return Code(); }

int16_t SQLWNTM_CALL sqlwntm_CursorConnect(uint16_t* handle, const char*, int32_t) {
  return fuzz_client::Open(handle);
}

int16_t SQLWNTM_CALL sqlwntm_CursorConnectOtherMode(uint16_t* handle, const char*, int32_t) {
  return fuzz_client::Open(handle);
}

int16_t SQLWNTM_CALL sqlwntm_GetParameter(uint16_t, int32_t, int32_t* value, int32_t*) {
  const int16_t code = Code();
  if (code == 0) *value = input.Byte();
  return code;
}

int16_t SQLWNTM_CALL sqlwntm_SetIsolation(uint16_t, const char*) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_SetParameter(uint16_t, int32_t, int32_t*, int32_t) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_CursorDisconnect(uint16_t) { return fuzz_client::Close(); }

int16_t SQLWNTM_CALL sqlwntm_CompileAndExecute(uint16_t, const char*, int32_t) {
  fuzz_client::rowsFetched = 0;
  return Code();
}

int16_t SQLWNTM_CALL sqlwntm_Load(uint16_t, const char*, int32_t) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_Unload(uint16_t, const char*, int32_t) { return Code(); }
int16_t SQLWNTM_CALL sqlwntm_ReleaseLog(uint16_t) { return Code(); }

int16_t SQLWNTM_CALL sqlwntm_Execute(uint16_t) {
  fuzz_client::rowsFetched = 0;
  return Code();
}

int16_t SQLWNTM_CALL sqlwntm_Next(uint16_t) {
  if (input.Empty() || fuzz_client::rowsFetched >= fuzz_client::kMostRows) {
    return sqlwntm::kNoMoreRows;
  }
  const int16_t code = Code();
  if (code != 0) return code;
  ++fuzz_client::rowsFetched;
  for (const fuzz_client::Binding& binding : fuzz_client::bindings) {
    if (binding.buffer == nullptr) continue;
    const std::size_t size =
        std::min<std::size_t>(input.Byte(), static_cast<std::size_t>(std::max(binding.length, 0)));
    input.Bytes(binding.buffer, size);
  }
  return 0;
}

int16_t SQLWNTM_CALL sqlwntm_Commit(uint16_t) { return Code(); }

int16_t SQLWNTM_CALL sqlwntm_SelectBuffer(uint16_t, int32_t column, int32_t, char* buffer,
                                          int32_t length, int32_t, int32_t, int32_t) {
  const int16_t code = Code();
  if (code == 0 && column >= 0 && column < 256) {
    fuzz_client::bindings[column] = fuzz_client::Binding{buffer, length};
  }
  return code;
}

int16_t SQLWNTM_CALL sqlwntm_GetNoRows(uint16_t, int32_t* count) {
  const int16_t code = Code();
  if (code == 0) *count = static_cast<int16_t>(input.Word());
  return code;
}

int16_t SQLWNTM_CALL sqlwntm_GetNoSelectItems(uint16_t, int32_t* count) {
  const int16_t code = Code();
  if (code == 0) *count = static_cast<int16_t>(input.Word());
  return code;
}

// The client library is given no room for the name: it writes the name it has, up to 255 bytes,
// and its length separately, and the two need not agree.
int16_t SQLWNTM_CALL sqlwntm_DescribeSelectItem(uint16_t, int32_t, int32_t* type, int32_t* length,
                                                char* name, uint8_t* name_length, int32_t* extra1,
                                                int32_t* extra2) {
  const int16_t code = Code();
  if (code != 0) return code;
  *type = static_cast<int8_t>(input.Byte());
  *length = static_cast<int16_t>(input.Word());
  *name_length = input.Byte();
  input.Bytes(name, input.Byte());
  *extra1 = 0;
  *extra2 = 0;
  return 0;
}

}  // extern "C"
