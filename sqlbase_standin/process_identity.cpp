#include "process_identity.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace standin {
namespace {

struct ProcessStatus {
  bool exists = false;
  bool zombie = false;
  int64_t started = 0;
};

// Fields 3 (state) and 22 (start time) of /proc/<pid>/stat; the fields are counted after the
// parenthesised command name, which may itself hold blanks and parentheses.
ProcessStatus StatusOf(int64_t pid) {
  ProcessStatus status;
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return status;
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return status;
  status.exists = true;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int index = 3; index <= 22 && fields >> field; ++index) {
    if (index == 3) status.zombie = field == "Z" || field == "X";
    if (index == 22) status.started = std::strtoll(field.c_str(), nullptr, 10);
  }
  return status;
}

}  // namespace

ProcessIdentity ThisProcess() {
  const int64_t pid = getpid();
  return {pid, StatusOf(pid).started};
}

bool IsAlive(const ProcessIdentity& process) {
  if (process.pid <= 0) return false;
  if (kill(static_cast<pid_t>(process.pid), 0) != 0 && errno != EPERM) return false;
  // A process that has exited but is not yet reaped holds no connection any more.
  const ProcessStatus status = StatusOf(process.pid);
  if (!status.exists) return true;  // no /proc: the signal test is all there is
  if (status.zombie) return false;
  return process.started == 0 || status.started == process.started;
}

std::string ProgramName() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string name;
  if (length > 0) {
    path[length] = '\0';
    const char* slash = std::strrchr(path, '/');
    name = slash == nullptr ? path : slash + 1;
  } else {
    name = program_invocation_short_name;
  }
  return name.substr(0, kMaxProgramName);
}

}  // namespace standin
