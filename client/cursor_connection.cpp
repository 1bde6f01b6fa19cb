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
  if (Run(kCursorConnect, [&] { return sqlwntm_110(handle_, kSetupParameter, &value, &length); }) &&
      (value != 1 || ApplySetup())) {
    open_ = 1;
    return true;
  }
  // The failed step's code stays the connection's return code, not that of the close.
  sqlwntm_17(handle_);
  return false;
}

// The text holds the password: it is wiped the moment the opening call returns.
bool CursorConnection::Open(ConnectText& text, int32_t mode) {
  const bool opened = Run(kCursorConnect, [&] {
    return mode == 0 ? sqlwntm_80(&handle_, text.Text(), 0) : sqlwntm_81(&handle_, text.Text(), 0);
  });
  text.Wipe();
  return opened;
}

bool CursorConnection::ApplySetup() {
  return Run(kCursorConnect, [&] { return sqlwntm_56(handle_, "RL"); }) && SetParameter(3003, 1) &&
         SetParameter(3007, 0) && SetParameter(3010, 0) && SetParameter(3011, 0);
}

bool CursorConnection::SetParameter(int32_t parameter, int32_t value) {
  return Run(kCursorConnect, [&] { return sqlwntm_128(handle_, parameter, &value, 0); });
}

bool CursorConnection::Disconnect() {
  if (open_ == 0) {
    operationCode_ = kCursorDisconnect;
    returnCode_ = 0;
    return true;
  }
  open_ = 0;  // closed afterwards whatever the close returns
  return Run(kCursorDisconnect, [&] { return sqlwntm_17(handle_); });
}

bool CursorConnection::SelectBuffer(int32_t column, char* buffer, int32_t length) {
  return Run(kSelectBuffer,
             [&] { return sqlwntm_61(handle_, column, kStringBuffer, buffer, length, 0, 0, 0); });
}

bool CursorConnection::CompileAndExecute(const char* sql) {
  return Run(kCompileAndExecute, [&] { return sqlwntm_7(handle_, sql, 0); });
}

bool CursorConnection::Execute() {
  return Run(kExecute, [&] { return sqlwntm_28(handle_); });
}

bool CursorConnection::Next() {
  return Run(kNext, [&] { return sqlwntm_32(handle_); });
}

bool CursorConnection::Commit() {
  return Run(kCommit, [&] { return sqlwntm_9(handle_); });
}

bool CursorConnection::Load(const char* command) {
  return Run(kLoad, [&] { return sqlwntm_148(handle_, command, 0); });
}

bool CursorConnection::GetNoRows(int32_t* count) {
  return Run(kGetNoRows, [&] { return sqlwntm_52(handle_, count); });
}

bool CursorConnection::Unload(const char* command) {
  return Run(kUnload, [&] { return sqlwntm_147(handle_, command, 0); });
}

bool CursorConnection::GetNoSelectItems(int32_t* count) {
  *count = 0;
  return Run(kGetNoSelectItems, [&] { return sqlwntm_43(handle_, count); });
}

bool CursorConnection::DescribeSelectItem(int32_t column, int32_t* type, int32_t* length,
                                          char (&name)[kColumnNameSize]) {
  *type = 0;
  *length = 0;
  uint8_t nameLength = 0;
  int32_t unused1 = 0;
  int32_t unused2 = 0;
  if (!Run(kDescribeSelectItem, [&] {
        return sqlwntm_14(handle_, column, type, length, name, &nameLength, &unused1, &unused2);
      })) {
    return false;
  }
  name[nameLength] = '\0';
  return true;
}

bool CursorConnection::ReleaseLog() {
  return Run(kReleaseLog, [&] { return sqlwntm_121(handle_); });
}

}  // namespace quillet
