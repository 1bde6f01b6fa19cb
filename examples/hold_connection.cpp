// hold-connection DATABASE USER [SECONDS]: opens one cursor connection through the client
// library and keeps it open, checking it ten times a second, until a call on it fails (the
// server killed it) or SECONDS (default 60) have passed. The password comes from
// QUILLET_PASSWORD. Exit status: 0 when the connection was ended from outside, 1 otherwise.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "client/sqlwntm.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::cerr << "usage: hold-connection DATABASE USER [SECONDS]  (password in QUILLET_PASSWORD)\n";
    return 1;
  }
  const char* password = std::getenv("QUILLET_PASSWORD");
  const std::string connect =
      std::string(argv[1]) + "/" + argv[2] + "/" + (password != nullptr ? password : "");
  const long seconds = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 60;

  uint16_t handle = 0;
  if (const int16_t code = sqlwntm_CursorConnect(&handle, connect.c_str(), 0); code != 0) {
    std::cerr << "hold-connection: connecting failed with return code " << code << "\n";
    return 1;
  }
  std::cout << "hold-connection: connected to " << argv[1] << " as " << argv[2] << std::endl;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (const int16_t code = sqlwntm_Commit(handle); code != 0) {
      std::cout << "hold-connection: the connection was ended, return code " << code << std::endl;
      return 0;
    }
  }
  sqlwntm_CursorDisconnect(handle);
  std::cerr << "hold-connection: still connected after " << seconds << " seconds\n";
  return 1;
}
