// A client library whose every reply comes from the fuzzer's input, built as libsqlwntm.so for
// the fuzz targets. Each call takes one byte that picks its return code (mostly 0); a call that
// hands data back then takes its data from the input as well:
//   Connect, CursorConnect*  write handle 7
//   GetDatabaseNames    length (2 bytes), filler byte, that many bytes; the rest of the list
//                       is filler
//   GetActiveCursors    the same, for the active-cursor reply
//   GetParameter        one byte: the value of parameter 1003
//   GetNoSelectItems    two bytes: the column count, signed
//   GetNoRows           two bytes: the row count, signed
//   DescribeSelectItem  type (1 byte, signed), length (2), name length (1), name size (1), name
//   SelectBuffer        binds the buffer with its declared length
//   Next                a row: for each bound column a size (1 byte) and that many bytes, at
//                       most the declared length and with no NUL after them; the rows end when
//                       the input does
// Once the input is used up every call succeeds and Next reports the end of the rows.
#ifndef QUILLET_FUZZ_CLIENT_LIBRARY_H
#define QUILLET_FUZZ_CLIENT_LIBRARY_H

#include <cstddef>
#include <cstdint>

#define FUZZ_CLIENT_API __attribute__((visibility("default")))

namespace fuzz_client {

// The replies of the calls that follow; the bytes must outlive them.
FUZZ_CLIENT_API void Feed(const uint8_t* data, std::size_t size);
// Whether some call since Feed returned this code.
FUZZ_CLIENT_API bool Returned(int16_t code);
// How many cursor or server connections are open now.
FUZZ_CLIENT_API int OpenConnections();

}  // namespace fuzz_client

#endif  // QUILLET_FUZZ_CLIENT_LIBRARY_H
