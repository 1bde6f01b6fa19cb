// The 28 entry points of the SQLBase client library that Quillet calls, and nothing else, each
// named once in SQLWNTM_ENTRY_POINTS below with its ordinal and parameters. On 32-bit Windows
// they are imported from SQLWNTM.dll by ordinal alone (the import list is generated from the
// table); elsewhere they are the functions sqlwntm_<Name> of libsqlwntm.so. Every call returns
// the library's 16-bit return code: 0 is success.
#ifndef QUILLET_CLIENT_SQLWNTM_H
#define QUILLET_CLIENT_SQLWNTM_H

#include <stdint.h>

#if defined(_WIN32)
#define SQLWNTM_CALL __stdcall
#else
#define SQLWNTM_CALL
#endif

// A Windows build exports them through the generated import list: by ordinal alone, as the
// real library does.
#if defined(SQLWNTM_BUILDING) && !defined(_WIN32)
#define SQLWNTM_API __attribute__((visibility("default")))
#else
#define SQLWNTM_API
#endif

// X(Name, ordinal, (parameters)): one line per entry point. The build reads this table for the
// Windows import list and the link stub, so keep each entry as X(Name, ordinal, (...)).
// clang-format off
#define SQLWNTM_ENTRY_POINTS(X)                                                                   \
  /* Server connection: connect, disconnect, and the jobs on an open server handle. */           \
  X(Connect, 98, (uint16_t* handle, const char* server, const char* password))                  \
  X(Disconnect, 106, (uint16_t handle))                                                         \
  X(BackupSnapShot, 93, (uint16_t handle, const char* database, int32_t zero1,                  \
                         const char* directory, int32_t zero2, int32_t flag, int32_t one))      \
  X(GetActiveCursors, 112, (uint16_t handle, int16_t flags, void* buffer, int32_t size,         \
                            int32_t* length))                                                   \
  X(KillConnection, 125, (uint16_t handle, int32_t process))                                    \
  X(GetDatabaseNames, 99, (const char* server, char* buffer, int32_t size))                     \
  X(CreateDatabase, 96, (uint16_t handle, const char* database, int32_t zero))                  \
  X(DropDatabase, 101, (uint16_t handle, const char* database, int32_t zero))                   \
  X(InstallDatabase, 113, (uint16_t handle, const char* database, int32_t zero))                \
  X(DeinstallDatabase, 100, (uint16_t handle, const char* database, int32_t zero))              \
  X(TerminateServer, 129, (uint16_t handle))                                                    \
  /* Cursor connection: connect (mode 0 / any other), setup, disconnect. */                      \
  X(CursorConnect, 80, (uint16_t* handle, const char* connect, int32_t zero))                   \
  X(CursorConnectOtherMode, 81, (uint16_t* handle, const char* connect, int32_t zero))          \
  X(GetParameter, 110, (uint16_t handle, int32_t parameter, int32_t* value, int32_t* length))   \
  X(SetIsolation, 56, (uint16_t handle, const char* text))                                      \
  X(SetParameter, 128, (uint16_t handle, int32_t parameter, int32_t* value, int32_t zero))      \
  X(CursorDisconnect, 17, (uint16_t handle))                                                    \
  /* Cursor work: statements, load and unload, log release, select, fetch, commit. */            \
  X(CompileAndExecute, 7, (uint16_t handle, const char* text, int32_t zero))                    \
  X(Load, 148, (uint16_t handle, const char* text, int32_t zero))                               \
  X(Unload, 147, (uint16_t handle, const char* text, int32_t zero))                             \
  X(ReleaseLog, 121, (uint16_t handle))                                                         \
  X(Execute, 28, (uint16_t handle))                                                             \
  X(Next, 32, (uint16_t handle))                                                                \
  X(Commit, 9, (uint16_t handle))                                                               \
  X(SelectBuffer, 61, (uint16_t handle, int32_t column, int32_t type, char* buffer,             \
                       int32_t length, int32_t zero1, int32_t zero2, int32_t zero3))            \
  X(GetNoRows, 52, (uint16_t handle, int32_t* count))                                           \
  X(GetNoSelectItems, 43, (uint16_t handle, int32_t* count))                                    \
  X(DescribeSelectItem, 14, (uint16_t handle, int32_t column, int32_t* type, int32_t* length,   \
                             char* name, uint8_t* name_length, int32_t* extra1,                 \
                             int32_t* extra2))
// clang-format on

#ifdef __cplusplus
extern "C" {
#endif

#define SQLWNTM_DECLARE(name, ordinal, parameters) \
  SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_##name parameters;
SQLWNTM_ENTRY_POINTS(SQLWNTM_DECLARE)
#undef SQLWNTM_DECLARE

#ifdef __cplusplus
}

namespace sqlwntm {

// What Next returns once the rows are used up: an end, not a failure.
constexpr int16_t kNoMoreRows = 1;

// Each entry point by name, valued by its ordinal: what fakes and tests record and script.
enum EntryPoint : int {
#define SQLWNTM_ORDINAL(name, ordinal, parameters) name = (ordinal),
  SQLWNTM_ENTRY_POINTS(SQLWNTM_ORDINAL)
#undef SQLWNTM_ORDINAL
};

// The entry point's name as the table spells it ("Connect"); "?" for no entry point. Its
// switch also makes two entry points with one ordinal a compile error.
constexpr const char* NameOf(EntryPoint entry) {
  switch (entry) {
#define SQLWNTM_NAME(name, ordinal, parameters) \
  case name:                                    \
    return #name;
    SQLWNTM_ENTRY_POINTS(SQLWNTM_NAME)
#undef SQLWNTM_NAME
  }
  return "?";
}

}  // namespace sqlwntm
#endif

#endif  // QUILLET_CLIENT_SQLWNTM_H
