// quillet.exe finds Quillet.dll when a job first needs it, not when it starts: --help and
// --version then work on a machine without the client library, and a missing DLL is named in a
// message rather than in a loader's dialog. The seventeen functions of quillet.h are defined
// here as calls through a table that LoadLibrary and GetProcAddress fill.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "quillet.h"

namespace {

constexpr const char* kLibraryName = "Quillet.dll";

struct Functions {
  decltype(&InstallDB) installDB;
  decltype(&DeinstallDB) deinstallDB;
  decltype(&CreateDB) createDB;
  decltype(&DropDB) dropDB;
  decltype(&TerminateServer) terminateServer;
  decltype(&KillConnection) killConnection;
  decltype(&DirDB) dirDB;
  decltype(&SnapShot) snapShot;
  decltype(&AllSnapShot) allSnapShot;
  decltype(&ListConnections) listConnections;
  decltype(&KillAllConnections) killAllConnections;
  decltype(&UpdateStats) updateStats;
  decltype(&ReleaseLog) releaseLog;
  decltype(&Load) load;
  decltype(&Unload) unload;
  decltype(&ReLoad) reLoad;
  decltype(&ExportCSV) exportCSV;
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
    Resolve(module, "InstallDB", loaded.installDB);
    Resolve(module, "DeinstallDB", loaded.deinstallDB);
    Resolve(module, "CreateDB", loaded.createDB);
    Resolve(module, "DropDB", loaded.dropDB);
    Resolve(module, "TerminateServer", loaded.terminateServer);
    Resolve(module, "KillConnection", loaded.killConnection);
    Resolve(module, "DirDB", loaded.dirDB);
    Resolve(module, "SnapShot", loaded.snapShot);
    Resolve(module, "AllSnapShot", loaded.allSnapShot);
    Resolve(module, "ListConnections", loaded.listConnections);
    Resolve(module, "KillAllConnections", loaded.killAllConnections);
    Resolve(module, "UpdateStats", loaded.updateStats);
    Resolve(module, "ReleaseLog", loaded.releaseLog);
    Resolve(module, "Load", loaded.load);
    Resolve(module, "Unload", loaded.unload);
    Resolve(module, "ReLoad", loaded.reLoad);
    Resolve(module, "ExportCSV", loaded.exportCSV);
    return loaded;
  }();
  return functions;
}

}  // namespace

extern "C" {

int32_t QUILLET_CALL InstallDB(const char* server, const char* password, const char* database) {
  return Library().installDB(server, password, database);
}
int32_t QUILLET_CALL DeinstallDB(const char* server, const char* password, const char* database) {
  return Library().deinstallDB(server, password, database);
}
int32_t QUILLET_CALL CreateDB(const char* server, const char* password, const char* database) {
  return Library().createDB(server, password, database);
}
int32_t QUILLET_CALL DropDB(const char* server, const char* password, const char* database) {
  return Library().dropDB(server, password, database);
}
int32_t QUILLET_CALL TerminateServer(const char* server, const char* password) {
  return Library().terminateServer(server, password);
}
int32_t QUILLET_CALL KillConnection(const char* server, const char* password, int32_t process) {
  return Library().killConnection(server, password, process);
}
int32_t QUILLET_CALL DirDB(const char* server, const char* password, char* list) {
  return Library().dirDB(server, password, list);
}
int32_t QUILLET_CALL SnapShot(int32_t flag, const char* server, const char* password,
                              const char* database, const char* directory) {
  return Library().snapShot(flag, server, password, database, directory);
}
int32_t QUILLET_CALL AllSnapShot(const char* server, const char* password,
                                 const char* root_directory) {
  return Library().allSnapShot(server, password, root_directory);
}
int32_t QUILLET_CALL ListConnections(const char* server, const char* password, char* list) {
  return Library().listConnections(server, password, list);
}
int32_t QUILLET_CALL KillAllConnections(const char* server, const char* password,
                                        const char* database) {
  return Library().killAllConnections(server, password, database);
}
int32_t QUILLET_CALL UpdateStats(const char* database, const char* user, const char* password) {
  return Library().updateStats(database, user, password);
}
int32_t QUILLET_CALL ReleaseLog(const char* database, const char* user, const char* password) {
  return Library().releaseLog(database, user, password);
}
int32_t QUILLET_CALL Load(const char* database, const char* user, const char* password,
                          const char* command) {
  return Library().load(database, user, password, command);
}
int32_t QUILLET_CALL Unload(const char* database, const char* user, const char* password,
                            const char* command) {
  return Library().unload(database, user, password, command);
}
int32_t QUILLET_CALL ReLoad(const char* database, const char* user, const char* password,
                            const char* script_file) {
  return Library().reLoad(database, user, password, script_file);
}
int32_t QUILLET_CALL ExportCSV(const char* database, const char* user, const char* password,
                               const char* statement, const char* output_file) {
  return Library().exportCSV(database, user, password, statement, output_file);
}

}  // extern "C"
