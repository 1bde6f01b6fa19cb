// The active-cursor reply as the client library hands it back: any record count and any bytes
// in the records, read by the listing and by the bulk kill. The input's first byte gives the
// length of the kill's database name, which follows; the rest is the client library's replies.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"

namespace {

// Whatever the clients named themselves, the list splits into lines at ';' and each line into
// its process number (1 to 255, strictly ascending), database and user at the first three ':',
// with no control byte anywhere: no name can forge a line or a field.
void CheckLines(const char* list) {
  int previous = 0;
  for (const char* line = list; *line != '\0';) {
    const char* end = std::strchr(line, ';');
    if (end == nullptr) end = line + std::strlen(line);
    char* afterNumber = nullptr;
    const long process = std::strtol(line, &afterNumber, 10);
    FUZZ_CHECK(afterNumber != line && *afterNumber == ':');
    FUZZ_CHECK(process > previous && process <= 255);
    previous = static_cast<int>(process);
    int colons = 0;
    for (const char* c = line; c < end; ++c) {
      const auto byte = static_cast<unsigned char>(*c);
      FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
      if (*c == ':') ++colons;
    }
    FUZZ_CHECK(colons >= 3);
    line = *end == ';' ? end + 1 : end;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t nameLength = std::min<std::size_t>(data[0] % 40U, size - 1);
  const std::string database(reinterpret_cast<const char*>(data + 1), nameLength);
  const uint8_t* replies = data + 1 + nameLength;
  const std::size_t repliesSize = size - 1 - nameLength;

  // Exactly the room the host must supply, on the heap so that a byte past it is caught.
  char* list = static_cast<char*>(std::malloc(QUILLET_CONNECTION_LIST_SIZE));
  std::memset(list, 'Q', QUILLET_CONNECTION_LIST_SIZE);
  fuzz_client::Feed(replies, repliesSize);
  const int32_t listed = ListConnections("srv", "pw", list);
  CheckOutcome(listed);
  FUZZ_CHECK(std::memchr(list, '\0', QUILLET_CONNECTION_LIST_SIZE) != nullptr);
  if (listed != 0) FUZZ_CHECK(list[0] == '\0');
  CheckLines(list);
  std::free(list);

  fuzz_client::Feed(replies, repliesSize);
  CheckOutcome(KillAllConnections("srv", "pw", database.c_str()));
  return 0;
}
