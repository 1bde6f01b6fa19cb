// Who a connection belongs to: the operating-system process, told apart from a later process
// that reuses its number by the time it started.
#ifndef QUILLET_SQLBASE_STANDIN_PROCESS_IDENTITY_H
#define QUILLET_SQLBASE_STANDIN_PROCESS_IDENTITY_H

#include <cstdint>
#include <string>

namespace standin {

// Room for the program name in a connection record, without its NUL.
constexpr std::size_t kMaxProgramName = 33;

struct ProcessIdentity {
  int64_t pid;
  int64_t started;  // clock ticks after boot; 0 when unknown
};

ProcessIdentity ThisProcess();
bool IsAlive(const ProcessIdentity& process);
// The name of the running executable, cut to kMaxProgramName characters.
std::string ProgramName();

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_PROCESS_IDENTITY_H
