// Who a connection belongs to: the operating-system process, told apart from a later process
// that reuses its number by the time it started.
#ifndef QUILLET_SQLBASE_STANDIN_PROCESS_IDENTITY_H
#define QUILLET_SQLBASE_STANDIN_PROCESS_IDENTITY_H

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

// Room for the program name in a connection record, without its NUL.
constexpr std::size_t kMaxProgramName = 33;

struct ProcessIdentity {
  int64_t pid;
  int64_t started;  // clock ticks after boot; 0 when unknown
};

// What /proc says of a process number: whether it exists, is a zombie (of a process whose last
// thread ended) and when it started.
struct ProcessStatus {
  bool exists = false;
  bool zombie = false;
  int64_t started = 0;
};
ProcessStatus StatusOf(int64_t pid);

ProcessIdentity ThisProcess();
// Runs, is not a zombie, and is the process that had the number at that start time.
bool IsAlive(const ProcessIdentity& process);
// IsAlive for each of many processes at once (speedups/process_watches.cpp), at the cost of one
// system call for all those seen alive before: each is watched through a process descriptor that
// reports its end, however its number is reused afterwards. A process seen for the first time costs
// what IsAlive costs.
std::vector<bool> AreAlive(const std::vector<ProcessIdentity>& processes);
// The name of the running executable, cut to kMaxProgramName characters.
std::string ProgramName();

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_PROCESS_IDENTITY_H
