// ListConnections through the client library the library is linked with (the stand-in server
// in the bench build), called over and over in one process so that the call is measured, not
// the start of a process:
//
//   list_connections_benchmark SERVER CALLS    (the password in QUILLET_SERVER_PASSWORD)
//
// Prints "CPU WALL LINES": processor time (kernel included) and elapsed time per call in
// seconds, and how many connections the last call listed.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quillet.h"

namespace {

double Now(clockid_t clock) {
  timespec time{};
  clock_gettime(clock, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  const char* password = std::getenv("QUILLET_SERVER_PASSWORD");
  const long calls = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
  if (calls <= 0 || password == nullptr) {
    std::fprintf(stderr,
                 "usage: list_connections_benchmark SERVER CALLS"
                 "  (password in QUILLET_SERVER_PASSWORD)\n");
    return 2;
  }
  static char list[QUILLET_CONNECTION_LIST_SIZE];
  const double cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
  const double wall = Now(CLOCK_MONOTONIC);
  for (long call = 0; call < calls; ++call) {
    if (const int32_t result = ListConnections(argv[1], password, list); result != 0) {
      std::fprintf(stderr, "list_connections_benchmark: ListConnections returned %d\n",
                   static_cast<int>(result));
      return 1;
    }
  }
  const double perCall = static_cast<double>(calls);
  long lines = list[0] == '\0' ? 0 : 1;
  for (const char* at = std::strchr(list, ';'); at != nullptr; at = std::strchr(at + 1, ';')) {
    ++lines;
  }
  std::printf("%.6f %.6f %ld\n", (Now(CLOCK_PROCESS_CPUTIME_ID) - cpu) / perCall,
              (Now(CLOCK_MONOTONIC) - wall) / perCall, lines);
  return 0;
}
