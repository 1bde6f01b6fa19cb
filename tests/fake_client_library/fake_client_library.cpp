#include "fake_client_library.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <ostream>
#include <utility>

#include "client/sqlwntm.h"

namespace sqlwntm {

void PrintTo(EntryPoint entry, std::ostream* out) { *out << NameOf(entry); }

}  // namespace sqlwntm

namespace fake {
namespace {

// A host program run as a user runs it (quillet.exe under Wine) scripts the fake through its
// environment: SQLWNTM_FAKE_DATABASES="A,B" is the server's database list, and each snapshot
// then writes a small file, DIRECTORY\DATABASE.bak, as a server writes its backup.
const char* EnvironmentDatabases() { return std::getenv("SQLWNTM_FAKE_DATABASES"); }

std::string DatabaseListFromEnvironment() {
  const char* names = EnvironmentDatabases();
  if (names == nullptr || *names == '\0') return "";
  std::string list = names;
  std::replace(list.begin(), list.end(), ',', '\0');
  return list + std::string(2, '\0');
}

struct Binding {
  char* buffer;
  int32_t length;
};

struct Script {
  std::map<EntryPoint, std::deque<int16_t>> returns;
  std::map<EntryPoint, std::function<void()>> hooks;
  uint16_t handle = 7;
  int32_t parameter1003 = 1;
  std::string databaseList = DatabaseListFromEnvironment();
  std::string activeCursorsReply;
  int32_t rowCount = 0;
  std::vector<Column> columns;
  std::vector<Row> rows;
  std::size_t nextRow = 0;
  int32_t deliveredLength = -1;
  std::map<int32_t, Binding> bindings;
  const char* lastConnectText = nullptr;
  std::vector<std::string> calls;
  std::vector<EntryPoint> entryPoints;
};

std::mutex mutex;
Script script;

std::string Text(const char* text) { return text == nullptr ? "<null>" : text; }
std::string Int(int64_t value) { return std::to_string(value); }
std::string In(const int32_t* value) { return value == nullptr ? "<null>" : "&" + Int(*value); }
std::string Address(const void* address) { return address == nullptr ? "<null>" : "&"; }

using Arguments = std::vector<std::string>;

// Records one call and hands back its scripted return code. The entry point's hook runs first, and
// only then are the arguments read, so a hook can hold a call before it sees its texts.
class Call {
 public:
  template <typename Describe>
  explicit Call(EntryPoint entry, Describe describe) {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto found = script.hooks.find(entry);
      if (found != script.hooks.end()) hook = found->second;
    }
    if (hook) hook();
    lock_ = std::unique_lock<std::mutex>(mutex);
    std::string text = std::string(sqlwntm::NameOf(entry)) + "(";
    bool first = true;
    for (const std::string& argument : describe()) {
      if (!first) text += ",";
      text += argument;
      first = false;
    }
    script.calls.push_back(text + ")");
    script.entryPoints.push_back(entry);
    auto& queue = script.returns[entry];
    if (!queue.empty()) {
      code_ = queue.front();
      queue.pop_front();
    }
  }
  int16_t code() const { return code_; }
  bool ok() const { return code_ == 0; }

 private:
  int16_t code_ = 0;
  std::unique_lock<std::mutex> lock_;
};

void CopyOut(const std::string& bytes, void* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return;
  std::memcpy(buffer, bytes.data(), std::min(bytes.size(), static_cast<std::size_t>(size)));
}

int16_t Open(EntryPoint entry, uint16_t* handle, const char* connect, int32_t zero) {
  Call call(entry, [&] { return Arguments{Address(handle), Text(connect), Int(zero)}; });
  if (call.ok() && handle != nullptr) *handle = script.handle;
  script.bindings.clear();
  script.lastConnectText = connect;
  return call.code();
}

int16_t HandleOnly(EntryPoint entry, uint16_t handle) {
  return Call(entry, [&] { return Arguments{Int(handle)}; }).code();
}

int16_t HandleText(EntryPoint entry, uint16_t handle, const char* text, int32_t zero) {
  return Call(entry, [&] { return Arguments{Int(handle), Text(text), Int(zero)}; }).code();
}

}  // namespace

void Reset() {
  std::lock_guard<std::mutex> lock(mutex);
  script = Script{};
}

void Returns(EntryPoint entry, std::vector<int16_t> codes) {
  std::lock_guard<std::mutex> lock(mutex);
  script.returns[entry] = std::deque<int16_t>(codes.begin(), codes.end());
}

void SetHandle(uint16_t handle) {
  std::lock_guard<std::mutex> lock(mutex);
  script.handle = handle;
}

void SetParameter1003(int32_t value) {
  std::lock_guard<std::mutex> lock(mutex);
  script.parameter1003 = value;
}

void SetDatabaseList(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  script.databaseList = bytes;
}

void SetActiveCursorsReply(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  script.activeCursorsReply = bytes;
}

void SetRowCount(int32_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  script.rowCount = count;
}

void SetColumns(const std::vector<Column>& columns) {
  std::lock_guard<std::mutex> lock(mutex);
  script.columns = columns;
}

void SetRows(const std::vector<Row>& rows) {
  std::lock_guard<std::mutex> lock(mutex);
  script.rows = rows;
}

void SetDeliveredLength(int32_t bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  script.deliveredLength = bytes;
}

void OnCall(EntryPoint entry, std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex);
  script.hooks[entry] = std::move(hook);
}

const char* LastConnectTextAddress() {
  std::lock_guard<std::mutex> lock(mutex);
  return script.lastConnectText;
}

std::vector<std::string> Calls() {
  std::lock_guard<std::mutex> lock(mutex);
  return script.calls;
}

std::vector<EntryPoint> EntryPoints() {
  std::lock_guard<std::mutex> lock(mutex);
  return script.entryPoints;
}

int CountOf(EntryPoint entry) {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(std::count(script.entryPoints.begin(), script.entryPoints.end(), entry));
}

}  // namespace fake

using fake::Address;
using fake::Arguments;
using fake::Call;
using fake::In;
using fake::Int;
using fake::script;
using fake::Text;

extern "C" {

int16_t SQLWNTM_CALL sqlwntm_Connect(uint16_t* handle, const char* server, const char* password) {
  Call call(sqlwntm::Connect, [&] {
    return Arguments{Address(handle), Text(server), Text(password)};
  });
  if (call.ok() && handle != nullptr) *handle = script.handle;
  return call.code();
}

int16_t SQLWNTM_CALL sqlwntm_Disconnect(uint16_t handle) {
  return fake::HandleOnly(sqlwntm::Disconnect, handle);
}

int16_t SQLWNTM_CALL sqlwntm_BackupSnapShot(uint16_t handle, const char* database, int32_t zero1,
                                            const char* directory, int32_t zero2, int32_t flag,
                                            int32_t one) {
  const int16_t code = Call(sqlwntm::BackupSnapShot, [&] {
                         return Arguments{Int(handle), Text(database), Int(zero1), Text(directory),
                                          Int(zero2),  Int(flag),      Int(one)};
                       }).code();
  if (code == 0 && fake::EnvironmentDatabases() != nullptr && database != nullptr &&
      directory != nullptr) {
    std::ofstream(std::string(directory) + "\\" + database + ".bak", std::ios::binary)
        << "backup of " << database << "\r\n";
  }
  return code;
}

int16_t SQLWNTM_CALL sqlwntm_GetActiveCursors(uint16_t handle, int16_t flags, void* buffer,
                                              int32_t size, int32_t* length) {
  Call call(sqlwntm::GetActiveCursors, [&] {
    return Arguments{Int(handle), Int(flags), Address(buffer), Int(size), Address(length)};
  });
  if (call.ok()) fake::CopyOut(script.activeCursorsReply, buffer, size);
  return call.code();
}

int16_t SQLWNTM_CALL sqlwntm_KillConnection(uint16_t handle, int32_t process) {
  return Call(sqlwntm::KillConnection, [&] { return Arguments{Int(handle), Int(process)}; }).code();
}

int16_t SQLWNTM_CALL sqlwntm_GetDatabaseNames(const char* server, char* buffer, int32_t size) {
  Call call(sqlwntm::GetDatabaseNames, [&] {
    return Arguments{Text(server), Address(buffer), Int(size)};
  });
  if (call.ok()) fake::CopyOut(script.databaseList, buffer, size);
  return call.code();
}

int16_t SQLWNTM_CALL sqlwntm_CreateDatabase(uint16_t handle, const char* database, int32_t zero) {
  return fake::HandleText(sqlwntm::CreateDatabase, handle, database, zero);
}

int16_t SQLWNTM_CALL sqlwntm_DropDatabase(uint16_t handle, const char* database, int32_t zero) {
  return fake::HandleText(sqlwntm::DropDatabase, handle, database, zero);
}

int16_t SQLWNTM_CALL sqlwntm_InstallDatabase(uint16_t handle, const char* database, int32_t zero) {
  return fake::HandleText(sqlwntm::InstallDatabase, handle, database, zero);
}

int16_t SQLWNTM_CALL sqlwntm_DeinstallDatabase(uint16_t handle, const char* database,
                                               int32_t zero) {
  return fake::HandleText(sqlwntm::DeinstallDatabase, handle, database, zero);
}

int16_t SQLWNTM_CALL sqlwntm_TerminateServer(uint16_t handle) {
  return fake::HandleOnly(sqlwntm::TerminateServer, handle);
}

int16_t SQLWNTM_CALL sqlwntm_CursorConnect(uint16_t* handle, const char* connect, int32_t zero) {
  return fake::Open(sqlwntm::CursorConnect, handle, connect, zero);
}

int16_t SQLWNTM_CALL sqlwntm_CursorConnectOtherMode(uint16_t* handle, const char* connect,
                                                    int32_t zero) {
  return fake::Open(sqlwntm::CursorConnectOtherMode, handle, connect, zero);
}

int16_t SQLWNTM_CALL sqlwntm_GetParameter(uint16_t handle, int32_t parameter, int32_t* value,
                                          int32_t* length) {
  Call call(sqlwntm::GetParameter, [&] {
    return Arguments{Int(handle), Int(parameter), In(value), In(length)};
  });
  if (call.ok() && value != nullptr) *value = script.parameter1003;
  return call.code();
}

int16_t SQLWNTM_CALL sqlwntm_SetIsolation(uint16_t handle, const char* text) {
  return Call(sqlwntm::SetIsolation, [&] { return Arguments{Int(handle), Text(text)}; }).code();
}

int16_t SQLWNTM_CALL sqlwntm_SetParameter(uint16_t handle, int32_t parameter, int32_t* value,
                                          int32_t zero) {
  return Call(sqlwntm::SetParameter,
              [&] {
                return Arguments{Int(handle), Int(parameter), In(value), Int(zero)};
              })
      .code();
}

int16_t SQLWNTM_CALL sqlwntm_CursorDisconnect(uint16_t handle) {
  return fake::HandleOnly(sqlwntm::CursorDisconnect, handle);
}

int16_t SQLWNTM_CALL sqlwntm_CompileAndExecute(uint16_t handle, const char* text, int32_t zero) {
  Call call(sqlwntm::CompileAndExecute, [&] {
    return Arguments{Int(handle), Text(text), Int(zero)};
  });
  script.nextRow = 0;
  return call.code();
}

int16_t SQLWNTM_CALL sqlwntm_Load(uint16_t handle, const char* text, int32_t zero) {
  return fake::HandleText(sqlwntm::Load, handle, text, zero);
}

int16_t SQLWNTM_CALL sqlwntm_Unload(uint16_t handle, const char* text, int32_t zero) {
  return fake::HandleText(sqlwntm::Unload, handle, text, zero);
}

int16_t SQLWNTM_CALL sqlwntm_ReleaseLog(uint16_t handle) {
  return fake::HandleOnly(sqlwntm::ReleaseLog, handle);
}

int16_t SQLWNTM_CALL sqlwntm_Execute(uint16_t handle) {
  Call call(sqlwntm::Execute, [&] { return Arguments{Int(handle)}; });
  script.nextRow = 0;
  return call.code();
}

// Delivers the next row into the bound buffers: at most the declared length of each value,
// and a NUL after it only where the buffer has room.
int16_t SQLWNTM_CALL sqlwntm_Next(uint16_t handle) {
  Call call(sqlwntm::Next, [&] { return Arguments{Int(handle)}; });
  if (!call.ok()) return call.code();
  if (script.nextRow >= script.rows.size()) return sqlwntm::kNoMoreRows;
  const fake::Row& row = script.rows[script.nextRow++];
  for (const auto& [column, binding] : script.bindings) {
    if (column < 1 || static_cast<std::size_t>(column) > row.size()) continue;
    const std::string& value = row[static_cast<std::size_t>(column - 1)];
    const int32_t delivered = script.deliveredLength >= 0 ? script.deliveredLength : binding.length;
    const std::size_t room = static_cast<std::size_t>(std::max(delivered, 0));
    const std::size_t size = std::min(value.size(), room);
    std::memcpy(binding.buffer, value.data(), size);
    if (size < room) binding.buffer[size] = '\0';
  }
  return 0;
}

int16_t SQLWNTM_CALL sqlwntm_Commit(uint16_t handle) {
  return fake::HandleOnly(sqlwntm::Commit, handle);
}

int16_t SQLWNTM_CALL sqlwntm_SelectBuffer(uint16_t handle, int32_t column, int32_t type,
                                          char* buffer, int32_t length, int32_t zero1,
                                          int32_t zero2, int32_t zero3) {
  Call call(sqlwntm::SelectBuffer, [&] {
    return Arguments{Int(handle), Int(column), Int(type),  Address(buffer),
                     Int(length), Int(zero1),  Int(zero2), Int(zero3)};
  });
  if (call.ok() && buffer != nullptr) script.bindings[column] = {buffer, length};
  return call.code();
}

int16_t SQLWNTM_CALL sqlwntm_GetNoRows(uint16_t handle, int32_t* count) {
  Call call(sqlwntm::GetNoRows, [&] { return Arguments{Int(handle), Address(count)}; });
  if (call.ok() && count != nullptr) *count = script.rowCount;
  return call.code();
}

int16_t SQLWNTM_CALL sqlwntm_GetNoSelectItems(uint16_t handle, int32_t* count) {
  Call call(sqlwntm::GetNoSelectItems, [&] { return Arguments{Int(handle), In(count)}; });
  if (call.ok() && count != nullptr) *count = static_cast<int32_t>(script.columns.size());
  return call.code();
}

// Describes a scripted column: its name is written without a NUL, as only the reported length
// ends it.
int16_t SQLWNTM_CALL sqlwntm_DescribeSelectItem(uint16_t handle, int32_t column, int32_t* type,
                                                int32_t* length, char* name, uint8_t* name_length,
                                                int32_t* extra1, int32_t* extra2) {
  Call call(sqlwntm::DescribeSelectItem, [&] {
    return Arguments{Int(handle),   Int(column),          In(type),        In(length),
                     Address(name), Address(name_length), Address(extra1), Address(extra2)};
  });
  if (!call.ok()) return call.code();
  if (column < 1 || static_cast<std::size_t>(column) > script.columns.size()) return 0;
  const fake::Column& described = script.columns[static_cast<std::size_t>(column - 1)];
  *type = described.type;
  *length = described.length;
  std::memcpy(name, described.name.data(), described.name.size());
  const int32_t reported = described.nameLength >= 0 ? described.nameLength
                                                     : static_cast<int32_t>(described.name.size());
  *name_length = static_cast<uint8_t>(reported & 0xFF);
  return 0;
}

}  // extern "C"
