// Builds the bytes the client library answers a request for the server's active cursors with,
// laid out as client/reply_layouts.h describes.
#ifndef QUILLET_TESTS_ACTIVE_CURSORS_REPLY_H
#define QUILLET_TESTS_ACTIVE_CURSORS_REPLY_H

#include <cstdint>
#include <string>
#include <vector>

#include "client/reply_layouts.h"

namespace fake {

struct CursorRecord {
  uint8_t process;
  std::string user;
  std::string database;
  std::string program;
};

// The records, and a count that is theirs unless `count` says otherwise. Each text is put into
// its field as it is: one that fills the field has no NUL, and a longer one is cut at the
// field's end.
inline std::string ActiveCursorsReply(const std::vector<CursorRecord>& records,
                                      int32_t count = -1) {
  namespace layout = sqlwntm::active_cursors;
  std::vector<unsigned char> reply(layout::RecordOffset(records.size()), 0);
  layout::WriteCount(reply.data(), count < 0 ? records.size() : static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < records.size(); ++i) {
    unsigned char* record = reply.data() + layout::RecordOffset(i);
    const CursorRecord& from = records[i];
    record[layout::kProcessOffset] = from.process;
    layout::WriteText(record + layout::kUserOffset, layout::kUserSize, from.user.data(),
                      from.user.size());
    layout::WriteText(record + layout::kDatabaseOffset, layout::kDatabaseSize, from.database.data(),
                      from.database.size());
    layout::WriteText(record + layout::kProgramOffset, layout::kProgramSize, from.program.data(),
                      from.program.size());
  }
  return std::string(reply.begin(), reply.end());
}

}  // namespace fake

#endif  // QUILLET_TESTS_ACTIVE_CURSORS_REPLY_H
