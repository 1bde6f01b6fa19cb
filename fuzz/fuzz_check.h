// What every fuzz target checks after a call, beyond what the sanitizers catch.
#ifndef QUILLET_FUZZ_CHECK_H
#define QUILLET_FUZZ_CHECK_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "client_library/fuzz_client_library.h"
#include "quillet.h"

// An invariant that failed is a finding: abort so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// The host is told 0, one of the library's own codes that the call may give, or a code that the
// client library really returned; and no connection is left open.
inline void CheckOutcome(int32_t result, int32_t own_code = 0) {
  FUZZ_CHECK(result == 0 || (own_code != 0 && result == own_code) ||
             (result >= INT16_MIN && result <= INT16_MAX &&
              fuzz_client::Returned(static_cast<int16_t>(result))));
  FUZZ_CHECK(fuzz_client::OpenConnections() == 0);
}

#endif  // QUILLET_FUZZ_CHECK_H
