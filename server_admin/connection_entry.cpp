#include "server_admin/connection_entry.h"

#include <algorithm>

namespace quillet {
namespace {

namespace layout = sqlwntm::active_cursors;

// Copies a record text that ends at its NUL or at the end of its field, whichever comes first,
// cut to what the entry field holds with its NUL.
template <std::size_t N>
void CopyText(char (&to)[N], const unsigned char* field, std::size_t fieldSize) {
  const auto* from = reinterpret_cast<const char*>(field);
  std::size_t length = 0;
  while (length < fieldSize && length + 1 < N && from[length] != '\0') ++length;
  std::memcpy(to, from, length);
  to[length] = '\0';
}

}  // namespace

int CompareProcessNumbers(const ConnectionEntry& first, const ConnectionEntry& second) {
  if (first.processNumber < second.processNumber) return -1;
  if (first.processNumber > second.processNumber) return 1;
  return 0;
}

bool HasDatabaseName(const ConnectionEntry& entry, const char* name) {
  const std::size_t length = std::strlen(name);
  if (length > kRecordDatabaseNameSize) return false;
  if (std::memcmp(entry.recordDatabaseName, name, length) != 0) return false;
  return length == kRecordDatabaseNameSize || entry.recordDatabaseName[length] == '\0';
}

bool ConnectionEntryList::Fetch(ServerConnection& connection) {
  count_ = 0;
  if (!connection.GetActiveCursors(reply_)) return false;
  ReadEntries();
  std::sort(entries_, entries_ + count_, [](const ConnectionEntry& a, const ConnectionEntry& b) {
    return CompareProcessNumbers(a, b) < 0;
  });
  return true;
}

void ConnectionEntryList::ReadEntries() {
  count_ = std::min(layout::ReadCount(reply_), kMaxConnectionEntries);
  for (std::size_t i = 0; i < count_; ++i) {
    const unsigned char* record = reply_ + layout::RecordOffset(i);
    ConnectionEntry& entry = entries_[i];
    entry.processNumber = record[layout::kProcessOffset];
    CopyText(entry.databaseName, record + layout::kDatabaseOffset, layout::kDatabaseSize);
    CopyText(entry.userName, record + layout::kUserOffset, layout::kUserSize);
    CopyText(entry.programName, record + layout::kProgramOffset, layout::kProgramSize);
    entry.recordDatabaseName = reinterpret_cast<const char*>(record + layout::kDatabaseOffset);
  }
}

}  // namespace quillet
