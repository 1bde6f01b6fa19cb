// Holds one cursor connection from a process of its own until the connection is killed.
// Usage: connection_holder database/user/password
// Prints "ready" once connected, then, when a call on the connection fails, the call's return
// code, and exits 0. Exits 1 when it cannot connect, 2 when nothing happens for a minute.
#include <unistd.h>

#include <cstdio>

#include "client/sqlwntm.h"

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  uint16_t handle = 0;
  const int16_t connected = sqlwntm_80(&handle, argv[1], 0);
  if (connected != 0) {
    std::printf("%d\n", connected);
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (int round = 0; round < 1200; ++round) {
    const int16_t code = sqlwntm_7(handle, "SELECT 1", 0);
    if (code != 0) {
      std::printf("%d\n", code);
      sqlwntm_17(handle);
      return 0;
    }
    usleep(50000);
  }
  return 2;
}
