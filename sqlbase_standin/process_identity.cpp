#include "process_identity.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace standin {

// Fields 3 (state), 20 (threads) and 22 (start time) of /proc/<pid>/stat; the fields are counted
// after the parenthesised command name, which may itself hold blanks and parentheses.
ProcessStatus StatusOf(int64_t pid) {
  ProcessStatus status;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return status;
  // The command name is at most 64 bytes: 22 fields fit well within this.
  char line[1024];
  ssize_t got;
  do {
    got = read(file, line, sizeof line - 1);
  } while (got < 0 && errno == EINTR);
  close(file);
  if (got <= 0) return status;
  line[got] = '\0';
  const char* close = std::strrchr(line, ')');
  if (close == nullptr) return status;
  status.exists = true;
  const char* field = close + 1;
  char state = ' ';
  long long threads = 0;
  for (int index = 3; index <= 22; ++index) {
    while (*field == ' ') ++field;
    if (*field == '\0') break;
    if (index == 3) state = *field;
    if (index == 20) threads = std::strtoll(field, nullptr, 10);
    if (index == 22) status.started = std::strtoll(field, nullptr, 10);
    while (*field != ' ' && *field != '\0') ++field;
  }
  // A main thread that ended while others run shows as a zombie too: the process lives on
  // until its last thread has ended.
  status.zombie = (state == 'Z' || state == 'X') && threads <= 1;
  return status;
}

ProcessIdentity ThisProcess() {
  // A forked child has a number and a start time of its own.
  static thread_local ProcessIdentity self{0, 0};
  const int64_t pid = getpid();
  if (self.pid != pid) self = {pid, StatusOf(pid).started};
  return self;
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
