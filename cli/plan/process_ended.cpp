#include "process_ended.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/types.h>

#include <cerrno>
#include <csignal>
#endif

namespace quillet::cli::plan {

bool ProcessEnded(long process) {
  if (process <= 0) return false;
#if defined(_WIN32)
  HANDLE handle =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process));
  if (handle == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(handle, &code) != 0 && code != STILL_ACTIVE;
  CloseHandle(handle);
  return ended;
#else
  return kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH;
#endif
}

}  // namespace quillet::cli::plan
