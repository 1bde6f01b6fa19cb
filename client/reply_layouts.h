// The two replies of the client library with a layout of their own, described once for the
// library that reads them and for every client library that writes them (the stand-in, the
// test fake, the benchmark and fuzz clients, whose seed generator reads the constants here).
//   GetActiveCursors: a header with the record count, then fixed records of one active cursor.
//   GetDatabaseNames: NUL-ended names, closed by an empty name, in a fixed area.
#ifndef QUILLET_CLIENT_REPLY_LAYOUTS_H
#define QUILLET_CLIENT_REPLY_LAYOUTS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sqlwntm {

namespace active_cursors {

// The request word that asks for every active cursor of the server.
constexpr int16_t kRequestAll = -32766;

// The header: a 16-bit little-endian record count at kCountOffset; records follow it.
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kCountOffset = 8;
constexpr std::size_t kRecordSize = 104;
// The reply the library asks for has room for this many records.
constexpr std::size_t kMaxRecords = 500;
constexpr std::size_t kReplySize = kHeaderSize + kMaxRecords * kRecordSize;  // 52012 bytes

// Fields of a record: offset from the record's start, and width. The process number is one
// byte; a text ends at its NUL, or at the end of its field when it fills it.
constexpr std::size_t kProcessOffset = 17;
constexpr std::size_t kUserOffset = 21;
constexpr std::size_t kUserSize = 19;
constexpr std::size_t kDatabaseOffset = 40;
constexpr std::size_t kDatabaseSize = 30;
constexpr std::size_t kProgramOffset = 70;
constexpr std::size_t kProgramSize = 34;
static_assert(kProgramOffset + kProgramSize == kRecordSize, "the program name ends the record");

// The program name of the server's own entry, which is no client.
constexpr const char* kServerProgram = "SQLBase";

inline std::size_t RecordOffset(std::size_t index) { return kHeaderSize + index * kRecordSize; }

inline std::size_t ReadCount(const unsigned char* reply) {
  return reply[kCountOffset] | static_cast<std::size_t>(reply[kCountOffset + 1]) << 8U;
}

inline void WriteCount(unsigned char* reply, std::size_t count) {
  reply[kCountOffset] = static_cast<unsigned char>(count & 0xFFU);
  reply[kCountOffset + 1] = static_cast<unsigned char>((count >> 8U) & 0xFFU);
}

// Writes a text into its field of a zeroed record, cut to at most `room` bytes (the field's
// width, or one less to keep a NUL): a text that fills the field has none.
inline void WriteText(unsigned char* field, std::size_t room, const char* text,
                      std::size_t length) {
  std::memcpy(field, text, length < room ? length : room);
}

}  // namespace active_cursors

namespace database_names {

// Room the client library is told it has: NUL-ended names, then an empty name.
constexpr std::size_t kListSize = 1024;

}  // namespace database_names

}  // namespace sqlwntm

#endif  // QUILLET_CLIENT_REPLY_LAYOUTS_H
