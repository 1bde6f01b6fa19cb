// The 28 entry points of the SQLBase client library that Quillet calls, and nothing else.
// On 32-bit Windows they are imported from SQLWNTM.dll by ordinal alone; elsewhere they are
// the functions sqlwntm_<ordinal> of libsqlwntm.so. Every call returns the library's 16-bit
// return code: 0 is success.
#ifndef QUILLET_CLIENT_SQLWNTM_H
#define QUILLET_CLIENT_SQLWNTM_H

#include <stdint.h>

#if defined(_WIN32)
#define SQLWNTM_CALL __stdcall
#else
#define SQLWNTM_CALL
#endif

// A Windows build exports them through client/sqlwntm.def: by ordinal alone, as the real
// library does.
#if defined(SQLWNTM_BUILDING) && !defined(_WIN32)
#define SQLWNTM_API __attribute__((visibility("default")))
#else
#define SQLWNTM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Server connection: connect, disconnect, and the jobs on an open server handle.
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_98(uint16_t* handle, const char* server,
                                            const char* password);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_106(uint16_t handle);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_93(uint16_t handle, const char* database, int32_t zero1,
                                            const char* directory, int32_t zero2, int32_t flag,
                                            int32_t one);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_112(uint16_t handle, int16_t flags, void* buffer,
                                             int32_t size, int32_t* length);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_125(uint16_t handle, int32_t process);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_99(const char* server, char* buffer, int32_t size);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_96(uint16_t handle, const char* database, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_101(uint16_t handle, const char* database, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_113(uint16_t handle, const char* database, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_100(uint16_t handle, const char* database, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_129(uint16_t handle);

// Cursor connection: connect (mode 0 / other), setup, disconnect.
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_80(uint16_t* handle, const char* connect, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_81(uint16_t* handle, const char* connect, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_110(uint16_t handle, int32_t parameter, int32_t* value,
                                             int32_t* length);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_56(uint16_t handle, const char* text);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_128(uint16_t handle, int32_t parameter, int32_t* value,
                                             int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_17(uint16_t handle);

// Cursor work: statements, load and unload, log release, select, fetch, commit.
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_7(uint16_t handle, const char* text, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_148(uint16_t handle, const char* text, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_147(uint16_t handle, const char* text, int32_t zero);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_121(uint16_t handle);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_28(uint16_t handle);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_32(uint16_t handle);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_9(uint16_t handle);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_61(uint16_t handle, int32_t column, int32_t type,
                                            char* buffer, int32_t length, int32_t zero1,
                                            int32_t zero2, int32_t zero3);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_52(uint16_t handle, int32_t* count);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_43(uint16_t handle, int32_t* count);
SQLWNTM_API int16_t SQLWNTM_CALL sqlwntm_14(uint16_t handle, int32_t column, int32_t* type,
                                            int32_t* length, char* name, uint8_t* name_length,
                                            int32_t* extra1, int32_t* extra2);

#ifdef __cplusplus
}
#endif

#endif  // QUILLET_CLIENT_SQLWNTM_H
