#include "cursor_connection.h"

#include "quillet.h"
#include "sqlwntm.h"

namespace quillet {

namespace {
// The parameter whose value 1 asks for the fixed per-connection setup.
constexpr int32_t kSetupParameter = 1003;
// The string variant of the select buffer, the only one the library binds.
constexpr int32_t kStringBuffer = 2;
}  // namespace

bool CursorConnection::Connect(const char* database, const char* user, const char* password,
                               int32_t mode) {
  ConnectText text;
  if (!text.Compose(database, user, password)) {
    operationCode_ = kCursorConnect;
    returnCode_ = QUILLET_ERROR_ARGUMENT;
    return false;
  }
  if (!Open(text, mode)) return false;

  int32_t value = 0;
  int32_t length = 4;
  if (Run(kCursorConnect,
          [&] { return sqlwntm_GetParameter(handle_, kSetupParameter, &value, &length); }) &&
      (value != 1 || ApplySetup())) {
    open_ = 1;
    return true;
  }
  // The failed step's code stays the connection's return code, not that of the close.
  sqlwntm_CursorDisconnect(handle_);
  return false;
}

// The text holds the password: it is wiped the moment the opening call returns.
bool CursorConnection::Open(ConnectText& text, int32_t mode) {
  const bool opened = Run(kCursorConnect, [&] {
    return mode == 0 ? sqlwntm_CursorConnect(&handle_, text.Text(), 0)
                     : sqlwntm_CursorConnectOtherMode(&handle_, text.Text(), 0);
  });
  text.Wipe();
  return opened;
}

bool CursorConnection::ApplySetup() {
  return Run(kCursorConnect, [&] { return sqlwntm_SetIsolation(handle_, "RL"); }) &&
         SetParameter(3003, 1) && SetParameter(3007, 0) && SetParameter(3010, 0) &&
         SetParameter(3011, 0);
}

bool CursorConnection::SetParameter(int32_t parameter, int32_t value) {
  return Run(kCursorConnect, [&] { return sqlwntm_SetParameter(handle_, parameter, &value, 0); });
}

bool CursorConnection::Disconnect() {
  if (open_ == 0) {
    operationCode_ = kCursorDisconnect;
    returnCode_ = 0;
    return true;
  }
  open_ = 0;  // closed afterwards whatever the close returns
  return Run(kCursorDisconnect, [&] { return sqlwntm_CursorDisconnect(handle_); });
}

bool CursorConnection::SelectBuffer(int32_t column, char* buffer, int32_t length) {
  return Run(kSelectBuffer, [&] {
    return sqlwntm_SelectBuffer(handle_, column, kStringBuffer, buffer, length, 0, 0, 0);
  });
}

bool CursorConnection::CompileAndExecute(const char* sql) {
  return Run(kCompileAndExecute, [&] { return sqlwntm_CompileAndExecute(handle_, sql, 0); });
}

bool CursorConnection::Execute() {
  return Run(kExecute, [&] { return sqlwntm_Execute(handle_); });
}

bool CursorConnection::Next() {
  return Run(kNext, [&] { return sqlwntm_Next(handle_); });
}

bool CursorConnection::Commit() {
  return Run(kCommit, [&] { return sqlwntm_Commit(handle_); });
}

bool CursorConnection::Load(const char* command) {
  return Run(kLoad, [&] { return sqlwntm_Load(handle_, command, 0); });
}

bool CursorConnection::GetNoRows(int32_t* count) {
  return Run(kGetNoRows, [&] { return sqlwntm_GetNoRows(handle_, count); });
}

bool CursorConnection::Unload(const char* command) {
  return Run(kUnload, [&] { return sqlwntm_Unload(handle_, command, 0); });
}

bool CursorConnection::GetNoSelectItems(int32_t* count) {
  *count = 0;
  return Run(kGetNoSelectItems, [&] { return sqlwntm_GetNoSelectItems(handle_, count); });
}

bool CursorConnection::DescribeSelectItem(int32_t column, int32_t* type, int32_t* length,
                                          char (&name)[kColumnNameSize]) {
  *type = 0;
  *length = 0;
  uint8_t nameLength = 0;
  int32_t unused1 = 0;
  int32_t unused2 = 0;
  if (!Run(kDescribeSelectItem, [&] {
        return sqlwntm_DescribeSelectItem(handle_, column, type, length, name, &nameLength,
                                          &unused1, &unused2);
      })) {
    return false;
  }
  name[nameLength] = '\0';
  return true;
}

bool CursorConnection::ReleaseLog() {
  return Run(kReleaseLog, [&] { return sqlwntm_ReleaseLog(handle_); });
}

}  // namespace quillet
