// A scripted stand-in for the SQLBase client library, built as libsqlwntm.so for the tests.
// It records every call with its arguments, answers with scripted return codes (0 unless
// scripted) and writes scripted out-values: handles, the parameter read, database lists,
// active-cursor replies, select columns and rows.
#ifndef QUILLET_TESTS_FAKE_CLIENT_LIBRARY_H
#define QUILLET_TESTS_FAKE_CLIENT_LIBRARY_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined(_WIN32)
#define FAKE_API __declspec(dllexport)
#else
#define FAKE_API __attribute__((visibility("default")))
#endif

namespace fake {

struct Column {
  int32_t type;
  std::string name;
  int32_t length = 0;
  // The name length the library reports; only its low 8 bits travel. -1: the name's size.
  int32_t nameLength = -1;
};

using Row = std::vector<std::string>;

// Forgets every script, recorded call and hook.
FAKE_API void Reset();

// The return codes of the next calls of one ordinal, in call order; 0 once they are used up.
FAKE_API void Returns(int ordinal, std::vector<int16_t> codes);
// The handle that the connect calls (98, 80, 81) write.
FAKE_API void SetHandle(uint16_t handle);
// The value that the read of parameter 1003 (110) writes.
FAKE_API void SetParameter1003(int32_t value);
// Bytes copied into the database list buffer (99), at most the size it is given.
FAKE_API void SetDatabaseList(const std::string& bytes);
// Bytes copied into the active-cursor reply buffer (112), at most the size it is given.
FAKE_API void SetActiveCursorsReply(const std::string& bytes);
// The count written by the row count call (52).
FAKE_API void SetRowCount(int32_t count);
// The select columns: their number is what 43 writes, and 14 describes each one.
FAKE_API void SetColumns(const std::vector<Column>& columns);
// Rows fetched by 32 into the bound buffers after 7 or 28; then 32 returns 1.
FAKE_API void SetRows(const std::vector<Row>& rows);
// Delivers values of up to this many bytes whatever length they were bound with, as a client
// library that ignores the declared length would; -1, the default, keeps to it.
FAKE_API void SetDeliveredLength(int32_t bytes);
// Runs first in every call of the ordinal, before its arguments are read and recorded, so a
// hook can hold a call back before the call sees its texts.
FAKE_API void OnCall(int ordinal, std::function<void()> hook);

// The address of the text the last opening call (80, 81) was given: lets a test look at that
// storage while the connection is still being made.
FAKE_API const char* LastConnectTextAddress();

// Every call so far, as "ordinal(arg,arg,...)": texts as they are ("<null>" for a null
// pointer), integers in decimal, addresses of in-values as "&value", other addresses as "&".
FAKE_API std::vector<std::string> Calls();
FAKE_API std::vector<int> Ordinals();
// How many calls of one ordinal were made.
FAKE_API int CountOf(int ordinal);

}  // namespace fake

#endif  // QUILLET_TESTS_FAKE_CLIENT_LIBRARY_H
