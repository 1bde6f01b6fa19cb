#include "server_admin/connection_entry.h"

#include <algorithm>

namespace quillet {
namespace {

// Layout of the active-cursor reply: a record count at byte 8, records from byte 12.
constexpr std::size_t kRecordCountOffset = 8;
constexpr std::size_t kFirstRecordOffset = 12;
constexpr std::size_t kRecordSize = 104;
static_assert(kFirstRecordOffset + kMaxConnectionEntries * kRecordSize == kServerInfoBufferSize,
              "the reply holds exactly the records the entry list has room for");

// Fields of one record: offset from the record's start, and width.
constexpr std::size_t kProcessNumberOffset = 17;
constexpr std::size_t kUserNameOffset = 21;
constexpr std::size_t kUserNameSize = 19;
constexpr std::size_t kDatabaseNameOffset = 40;
constexpr std::size_t kProgramNameOffset = 70;
constexpr std::size_t kProgramNameSize = 34;

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
  const std::size_t reported =
      reply_[kRecordCountOffset] | static_cast<std::size_t>(reply_[kRecordCountOffset + 1]) << 8U;
  count_ = std::min(reported, kMaxConnectionEntries);
  for (std::size_t i = 0; i < count_; ++i) {
    const unsigned char* record = reply_ + kFirstRecordOffset + i * kRecordSize;
    ConnectionEntry& entry = entries_[i];
    entry.processNumber = record[kProcessNumberOffset];
    CopyText(entry.databaseName, record + kDatabaseNameOffset, kRecordDatabaseNameSize);
    CopyText(entry.userName, record + kUserNameOffset, kUserNameSize);
    CopyText(entry.programName, record + kProgramNameOffset, kProgramNameSize);
    entry.recordDatabaseName = reinterpret_cast<const char*>(record + kDatabaseNameOffset);
  }
}

}  // namespace quillet
