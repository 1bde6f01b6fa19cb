// The database list as the client library hands it back: any 1024 bytes, with or without the
// closing empty name, rewritten for the host by DirDB.
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Exactly the room the host must supply, on the heap so that a byte past it is caught.
  char* list = static_cast<char*>(std::malloc(QUILLET_DATABASE_LIST_SIZE));
  std::memset(list, 'Q', QUILLET_DATABASE_LIST_SIZE);
  fuzz_client::Feed(data, size);
  const int32_t result = DirDB("srv", "pw", list);
  CheckOutcome(result);
  if (result == 0) {
    const void* end = std::memchr(list, '\0', QUILLET_DATABASE_LIST_SIZE);
    FUZZ_CHECK(end != nullptr);
    const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(end) - list);
    FUZZ_CHECK(length == 0 || list[length - 1] == ';');
  }
  std::free(list);
  return 0;
}
