// A client library that serves rows from memory, for measuring the library's own cost: no
// server, no bookkeeping per call, each fetch a copy of ready values into the bound buffers.
#ifndef QUILLET_BENCHMARKS_IN_MEMORY_CLIENT_H
#define QUILLET_BENCHMARKS_IN_MEMORY_CLIENT_H

#include <cstddef>
#include <cstdint>

// By name beside the entry points, as the scripted fake's controls are.
#if defined(_WIN32)
#define IN_MEMORY_CLIENT_API __declspec(dllexport)
#else
#define IN_MEMORY_CLIENT_API __attribute__((visibility("default")))
#endif

namespace in_memory_client {

struct Column {
  int32_t type;
  const char* name;
};

struct Value {
  const char* text;
  std::size_t length;
};

// Every statement selects these columns and yields `rowCount` rows; row r holds the values of
// pattern row r % patternRows. The values are laid out row by row, columnCount to a row. The
// values are copied; the columns and their names must stay alive while rows are served.
IN_MEMORY_CLIENT_API void ServeRows(const Column* columns, int32_t columnCount, const Value* values,
                                    int32_t patternRows, int64_t rowCount);

// The bytes that the request for the server's active cursors is answered with.
IN_MEMORY_CLIENT_API void ServeActiveCursors(const void* reply, std::size_t size);

}  // namespace in_memory_client

#endif  // QUILLET_BENCHMARKS_IN_MEMORY_CLIENT_H
