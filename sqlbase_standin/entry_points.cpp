// The 28 entry points of the client library, each handing its call to the connection that
// owns the handle.
#include <memory>
#include <utility>

#include "client/sqlwntm.h"
#include "handle_table.h"
#include "last_message.h"
#include "standin_admin.h"

using standin::Cursor;
using standin::ServerSession;

namespace {

template <typename Job>
int16_t OnServer(uint16_t handle, Job job) {
  ServerSession* session = standin::FindServer(handle);
  return standin::Answer(
      [&]() -> int16_t { return session == nullptr ? STANDIN_BAD_HANDLE : job(*session); });
}

template <typename Job>
int16_t OnCursor(uint16_t handle, Job job) {
  Cursor* cursor = standin::FindCursor(handle);
  return standin::Answer(
      [&]() -> int16_t { return cursor == nullptr ? STANDIN_BAD_HANDLE : job(*cursor); });
}

int16_t OpenCursor(uint16_t* handle, const char* connect) {
  return standin::Answer([&]() -> int16_t {
    if (handle == nullptr) return STANDIN_BAD_PARAMETER;
    auto cursor = std::make_unique<Cursor>();
    if (const int16_t code = cursor->Connect(connect)) return code;
    *handle = standin::AddCursor(std::move(cursor));
    return *handle == 0 ? STANDIN_TOO_MANY_CONNECTIONS : 0;
  });
}

}  // namespace

extern "C" {

int16_t SQLWNTM_CALL sqlwntm_Connect(uint16_t* handle, const char* server, const char* password) {
  return standin::Answer([&]() -> int16_t {
    if (handle == nullptr) return STANDIN_BAD_PARAMETER;
    auto session = std::make_unique<ServerSession>();
    if (const int16_t code = session->Connect(server, password)) return code;
    *handle = standin::AddServer(std::move(session));
    return *handle == 0 ? STANDIN_TOO_MANY_CONNECTIONS : 0;
  });
}

int16_t SQLWNTM_CALL sqlwntm_Disconnect(uint16_t handle) {
  return standin::TakeServer(handle) == nullptr ? STANDIN_BAD_HANDLE : 0;
}

int16_t SQLWNTM_CALL sqlwntm_BackupSnapShot(uint16_t handle, const char* database, int32_t,
                                            const char* directory, int32_t, int32_t, int32_t) {
  return OnServer(handle, [&](ServerSession& s) { return s.Backup(database, directory); });
}

int16_t SQLWNTM_CALL sqlwntm_GetActiveCursors(uint16_t handle, int16_t flags, void* buffer,
                                              int32_t size, int32_t* length) {
  return OnServer(handle,
                  [&](ServerSession& s) { return s.ActiveCursors(flags, buffer, size, length); });
}

int16_t SQLWNTM_CALL sqlwntm_KillConnection(uint16_t handle, int32_t process) {
  return OnServer(handle, [&](ServerSession& s) { return s.Kill(process); });
}

int16_t SQLWNTM_CALL sqlwntm_GetDatabaseNames(const char* server, char* buffer, int32_t size) {
  return standin::Answer([&] { return ServerSession::DatabaseNames(server, buffer, size); });
}

int16_t SQLWNTM_CALL sqlwntm_CreateDatabase(uint16_t handle, const char* database, int32_t) {
  return OnServer(handle, [&](ServerSession& s) { return s.CreateDatabase(database); });
}

int16_t SQLWNTM_CALL sqlwntm_DropDatabase(uint16_t handle, const char* database, int32_t) {
  return OnServer(handle, [&](ServerSession& s) { return s.DropDatabase(database); });
}

int16_t SQLWNTM_CALL sqlwntm_InstallDatabase(uint16_t handle, const char* database, int32_t) {
  return OnServer(handle, [&](ServerSession& s) { return s.InstallDatabase(database); });
}

int16_t SQLWNTM_CALL sqlwntm_DeinstallDatabase(uint16_t handle, const char* database, int32_t) {
  return OnServer(handle, [&](ServerSession& s) { return s.DeinstallDatabase(database); });
}

int16_t SQLWNTM_CALL sqlwntm_TerminateServer(uint16_t handle) {
  return OnServer(handle, [](ServerSession& s) { return s.Terminate(); });
}

// Both connect modes open the same kind of connection.
int16_t SQLWNTM_CALL sqlwntm_CursorConnect(uint16_t* handle, const char* connect, int32_t) {
  return OpenCursor(handle, connect);
}

int16_t SQLWNTM_CALL sqlwntm_CursorConnectOtherMode(uint16_t* handle, const char* connect,
                                                    int32_t) {
  return OpenCursor(handle, connect);
}

int16_t SQLWNTM_CALL sqlwntm_GetParameter(uint16_t handle, int32_t parameter, int32_t* value,
                                          int32_t* length) {
  return OnCursor(handle, [&](Cursor& c) { return c.ReadParameter(parameter, value, length); });
}

int16_t SQLWNTM_CALL sqlwntm_SetIsolation(uint16_t handle, const char* text) {
  return OnCursor(handle, [&](Cursor& c) { return c.SetIsolation(text); });
}

int16_t SQLWNTM_CALL sqlwntm_SetParameter(uint16_t handle, int32_t parameter, int32_t* value,
                                          int32_t) {
  return OnCursor(handle, [&](Cursor& c) { return c.SetParameter(parameter, value); });
}

int16_t SQLWNTM_CALL sqlwntm_CursorDisconnect(uint16_t handle) {
  std::unique_ptr<Cursor> cursor = standin::TakeCursor(handle);
  return standin::Answer(
      [&] { return cursor == nullptr ? int16_t{STANDIN_BAD_HANDLE} : cursor->Disconnect(); });
}

int16_t SQLWNTM_CALL sqlwntm_CompileAndExecute(uint16_t handle, const char* text, int32_t) {
  return OnCursor(handle, [&](Cursor& c) { return c.CompileAndExecute(text); });
}

int16_t SQLWNTM_CALL sqlwntm_Load(uint16_t handle, const char* text, int32_t) {
  return OnCursor(handle, [&](Cursor& c) { return c.Load(text); });
}

int16_t SQLWNTM_CALL sqlwntm_Unload(uint16_t handle, const char* text, int32_t) {
  return OnCursor(handle, [&](Cursor& c) { return c.Unload(text); });
}

int16_t SQLWNTM_CALL sqlwntm_ReleaseLog(uint16_t handle) {
  return OnCursor(handle, [](Cursor& c) { return c.ReleaseLog(); });
}

int16_t SQLWNTM_CALL sqlwntm_Execute(uint16_t handle) {
  return OnCursor(handle, [](Cursor& c) { return c.Execute(); });
}

int16_t SQLWNTM_CALL sqlwntm_Next(uint16_t handle) {
  return OnCursor(handle, [](Cursor& c) { return c.Fetch(); });
}

int16_t SQLWNTM_CALL sqlwntm_Commit(uint16_t handle) {
  return OnCursor(handle, [](Cursor& c) { return c.Commit(); });
}

int16_t SQLWNTM_CALL sqlwntm_SelectBuffer(uint16_t handle, int32_t column, int32_t type,
                                          char* buffer, int32_t length, int32_t, int32_t, int32_t) {
  return OnCursor(handle, [&](Cursor& c) { return c.Bind(column, type, buffer, length); });
}

int16_t SQLWNTM_CALL sqlwntm_GetNoRows(uint16_t handle, int32_t* count) {
  return OnCursor(handle, [&](Cursor& c) { return c.RowCount(count); });
}

int16_t SQLWNTM_CALL sqlwntm_GetNoSelectItems(uint16_t handle, int32_t* count) {
  return OnCursor(handle, [&](Cursor& c) { return c.SelectCount(count); });
}

int16_t SQLWNTM_CALL sqlwntm_DescribeSelectItem(uint16_t handle, int32_t column, int32_t* type,
                                                int32_t* length, char* name, uint8_t* name_length,
                                                int32_t* extra1, int32_t* extra2) {
  return OnCursor(handle, [&](Cursor& c) {
    return c.Describe(column, type, length, name, name_length, extra1, extra2);
  });
}

}  // extern "C"
