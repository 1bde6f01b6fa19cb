// A scripted stand-in for the SQLBase client library, built as libsqlwntm.so for the tests.
// It records every call with its arguments, answers with scripted return codes (0 unless
// scripted) and writes scripted out-values: handles, the parameter read, database lists,
// active-cursor replies, select columns and rows.
#ifndef QUILLET_TESTS_FAKE_CLIENT_LIBRARY_H
#define QUILLET_TESTS_FAKE_CLIENT_LIBRARY_H

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "client/sqlwntm.h"

#if defined(_WIN32)
#define FAKE_API __declspec(dllexport)
#else
#define FAKE_API __attribute__((visibility("default")))
#endif

namespace sqlwntm {

// Names the entry point in test failure messages.
FAKE_API void PrintTo(EntryPoint entry, std::ostream* out);

}  // namespace sqlwntm

namespace fake {

using sqlwntm::EntryPoint;

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

// The return codes of the next calls of one entry point, in call order; 0 once they are used up.
FAKE_API void Returns(EntryPoint entry, std::vector<int16_t> codes);
// The handle that Connect, CursorConnect and CursorConnectOtherMode write.
FAKE_API void SetHandle(uint16_t handle);
// The value that the read of parameter 1003 (GetParameter) writes.
FAKE_API void SetParameter1003(int32_t value);
// Bytes copied into GetDatabaseNames's buffer, at most the size it is given.
FAKE_API void SetDatabaseList(const std::string& bytes);
// Bytes copied into GetActiveCursors's buffer, at most the size it is given.
FAKE_API void SetActiveCursorsReply(const std::string& bytes);
// The count that GetNoRows writes.
FAKE_API void SetRowCount(int32_t count);
// The select columns: their number is what GetNoSelectItems writes, and DescribeSelectItem
// describes each one.
FAKE_API void SetColumns(const std::vector<Column>& columns);
// Rows that Next fetches into the bound buffers after CompileAndExecute or Execute; then Next
// returns 1.
FAKE_API void SetRows(const std::vector<Row>& rows);
// Delivers values of up to this many bytes whatever length they were bound with, as a client
// library that ignores the declared length would; -1, the default, keeps to it.
FAKE_API void SetDeliveredLength(int32_t bytes);
// Runs first in every call of the entry point, before its arguments are read and recorded, so a
// hook can hold a call back before the call sees its texts.
FAKE_API void OnCall(EntryPoint entry, std::function<void()> hook);

// The address of the text the last cursor connect was given: lets a test look at that
// storage while the connection is still being made.
FAKE_API const char* LastConnectTextAddress();

// Every call so far, as "Name(arg,arg,...)": texts as they are ("<null>" for a null
// pointer), integers in decimal, addresses of in-values as "&value", other addresses as "&".
FAKE_API std::vector<std::string> Calls();
// The entry point of every call so far.
FAKE_API std::vector<EntryPoint> EntryPoints();
// How many calls of one entry point were made.
FAKE_API int CountOf(EntryPoint entry);

}  // namespace fake

#endif  // QUILLET_TESTS_FAKE_CLIENT_LIBRARY_H
