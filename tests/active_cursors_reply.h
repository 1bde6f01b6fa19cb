// Builds the bytes the client library answers a request for the server's active cursors with:
// a record count at byte 8, then records of 104 bytes from byte 12, each with its process
// number at 17 and its user (19 bytes), database (30) and program (34) names at 21, 40 and 70.
#ifndef QUILLET_TESTS_ACTIVE_CURSORS_REPLY_H
#define QUILLET_TESTS_ACTIVE_CURSORS_REPLY_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace fake {

struct CursorRecord {
  uint8_t process;
  std::string user;
  std::string database;
  std::string program;
};

// A text put into its record field as it is: one that fills the field has no NUL, and a longer
// one is cut at the field's end.
inline void PutText(std::string& reply, std::size_t at, std::size_t width,
                    const std::string& text) {
  reply.replace(at, std::min(width, text.size()), text, 0, std::min(width, text.size()));
}

// The records, and a count that is theirs unless `count` says otherwise.
inline std::string ActiveCursorsReply(const std::vector<CursorRecord>& records,
                                      int32_t count = -1) {
  const auto reported =
      static_cast<uint16_t>(count < 0 ? records.size() : static_cast<std::size_t>(count));
  std::string reply(12 + 104 * records.size(), '\0');
  reply[8] = static_cast<char>(reported & 0xFFU);
  reply[9] = static_cast<char>(reported >> 8U);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::size_t record = 12 + 104 * i;
    reply[record + 17] = static_cast<char>(records[i].process);
    PutText(reply, record + 21, 19, records[i].user);
    PutText(reply, record + 40, 30, records[i].database);
    PutText(reply, record + 70, 34, records[i].program);
  }
  return reply;
}

}  // namespace fake

#endif  // QUILLET_TESTS_ACTIVE_CURSORS_REPLY_H
