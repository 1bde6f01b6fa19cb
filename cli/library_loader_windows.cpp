// quillet.exe finds Quillet.dll when a job first needs it, not when it starts: --help and
// --version then work on a machine without the client library, and a missing DLL is named in a
// message rather than in a loader's dialog. The seventeen functions of quillet.h are defined
// here, from the export table, as calls through a table that LoadLibrary and GetProcAddress fill.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../exports/quillet_exports.h"
#include "quillet.h"

namespace {

constexpr const char* kLibraryName = "Quillet.dll";

struct Functions {
#define QUILLET_MEMBER(name, ordinal, parameters, folder) decltype(&::name) name;
  QUILLET_EXPORTS(QUILLET_MEMBER)
#undef QUILLET_MEMBER
};

std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

[[noreturn]] void Fail(const std::string& problem) {
  std::fflush(stdout);
  std::fprintf(stderr, "quillet: %s\n", problem.c_str());
  std::exit(1);
}

HMODULE LoadQuilletLibrary() {
  HMODULE module = LoadLibraryA(kLibraryName);
  if (module != nullptr) return module;
  const DWORD error = GetLastError();
  const std::string beside = ProgramFolder() + kLibraryName;
  if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) {
    Fail(beside + " could not be loaded (Windows error " + std::to_string(error) +
         "): SQLWNTM.dll, the SQLBase client library, or another DLL it needs was not found in "
         "the folder of quillet.exe, the system folders, the Windows folder, the current folder "
         "or the folders on PATH");
  }
  Fail(std::string(kLibraryName) +
       " was not found. Windows looks for it in the folder of quillet.exe (" + ProgramFolder() +
       "), the system folders, the Windows folder, the current folder and the folders on PATH; "
       "keep it beside quillet.exe");
}

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function) {
  const FARPROC address = GetProcAddress(module, name);
  if (address == nullptr) {
    Fail(std::string(kLibraryName) + " has no function " + name +
         ": it is not a Quillet.dll that quillet.exe can use");
  }
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

const Functions& Library() {
  static const Functions functions = [] {
    const HMODULE module = LoadQuilletLibrary();
    Functions loaded{};
#define QUILLET_RESOLVE(name, ordinal, parameters, folder) Resolve(module, #name, loaded.name);
    QUILLET_EXPORTS(QUILLET_RESOLVE)
#undef QUILLET_RESOLVE
    return loaded;
  }();
  return functions;
}

}  // namespace

extern "C" {

#define QUILLET_CALL_LOADED(name, ordinal, parameters, folder)                       \
  int32_t QUILLET_CALL name(QUILLET_EACH_PARAMETER(QUILLET_PARAMETER, parameters)) { \
    return Library().name(QUILLET_EACH_PARAMETER(QUILLET_ARGUMENT, parameters));     \
  }
QUILLET_EXPORTS(QUILLET_CALL_LOADED)
#undef QUILLET_CALL_LOADED

}  // extern "C"
