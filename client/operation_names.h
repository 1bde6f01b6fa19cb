// The operation codes that connection objects record, and the table that names them.
#ifndef QUILLET_CLIENT_OPERATION_NAMES_H
#define QUILLET_CLIENT_OPERATION_NAMES_H

#include <cstdint>

namespace quillet {

constexpr int kOperationCount = 46;
constexpr int kOperationNameSize = 30;

// The key to a connection's operation code; the library itself never reads it.
extern const char OperationNames[kOperationCount][kOperationNameSize];

// The rows of OperationNames that this library's operations record.
enum OperationCode : int32_t {
  kCursorConnect = 1,
  kCursorDisconnect = 2,
  kSelectBuffer = 10,
  kExecute = 12,
  kCompileAndExecute = 13,
  kNext = 15,
  kCommit = 16,
  kServerConnect = 18,
  kServerDisconnect = 19,
  kBackupSnapShot = 20,
  kGetActiveCursors = 21,
  kKillConnection = 24,
  kLoad = 29,
  kGetNoRows = 31,
  kUnload = 32,
  kGetNoSelectItems = 33,
  kDescribeSelectItem = 34,
  kGetDatabaseNames = 36,
  kDropDatabase = 39,
  kCreateDatabase = 40,
  kInstallDatabase = 41,
  kDeinstallDatabase = 42,
  kReleaseLog = 43,
  kTerminateServer = 44,
};

}  // namespace quillet

#endif  // QUILLET_CLIENT_OPERATION_NAMES_H
