// The active-cursor reply as the client library hands it back: any record count and any bytes
// in the records, read by the listing and by the bulk kill. The input's first byte gives the
// length of the kill's database name, which follows; the rest is the client library's replies.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"

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
  std::free(list);

  fuzz_client::Feed(replies, repliesSize);
  CheckOutcome(KillAllConnections("srv", "pw", database.c_str()));
  return 0;
}
