#include "standin_admin_api.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <cstring>

#include "quillet.h"
#include "version_text.h"

namespace quillet::cli {
namespace {

template <typename Function>
bool Lookup(const char* name, Function& function) {
#if defined(_WIN32)
  // Only a stand-in SQLWNTM.dll would have these; the real one has none.
  const HMODULE client = GetModuleHandleA("SQLWNTM.dll");
  void* symbol =
      client == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(client, name));
#else
  void* symbol = dlsym(RTLD_DEFAULT, name);
#endif
  static_assert(sizeof(symbol) == sizeof(function));
  std::memcpy(&function, &symbol, sizeof(function));
  return symbol != nullptr;
}

}  // namespace

const StandinAdminApi* FindStandinAdminApi() {
  static StandinAdminApi api{};
  static const bool found =
      Lookup("standin_root", api.root) && Lookup("standin_server_create", api.create) &&
      Lookup("standin_server_start", api.start) && Lookup("standin_server_state", api.state) &&
      Lookup("standin_server_list", api.list);
  return found ? &api : nullptr;
}

namespace {
// What named the server this process selected, for the stand-in's messages; empty when the
// command line selected none.
std::string selectedBy;
}  // namespace

std::string SelectStandinServer(const std::string& server, const std::string& namedBy) {
  const StandinAdminApi* standin = FindStandinAdminApi();
  if (standin == nullptr) {
    return "--server and QUILLET_SERVER pick among stand-in servers, and the client library "
           "is not the stand-in: the client library's own configuration picks the server";
  }
  if (("\n" + std::string(standin->list())).find("\n" + server + "\n") == std::string::npos) {
    return "there is no stand-in server " + server + " (named by " + namedBy + ") in " +
           standin->root() + "; 'quillet server list' shows them";
  }
  selectedBy = namedBy;
#if defined(_WIN32)
  _putenv_s("QUILLET_STANDIN_SERVER", server.c_str());
#else
  setenv("QUILLET_STANDIN_SERVER", server.c_str(), 1);
#endif
  return "";
}

const char* StandinCodeText(int32_t code) {
  static decltype(&standin_code_text) codeText = nullptr;
  static const bool found = Lookup("standin_code_text", codeText);
  return found ? codeText(code) : nullptr;
}

const char* StandinLastMessage(int32_t code) {
  static decltype(&standin_last_message) lastMessage = nullptr;
  static const bool found = Lookup("standin_last_message", lastMessage);
  const char* message = found ? lastMessage(code) : nullptr;
  if (message == nullptr && found && code == STANDIN_AMBIGUOUS_DATABASE) {
    return "name the server with --server NAME or QUILLET_SERVER";
  }
  // The stand-in names the variable it reads, which the command line set for the user.
  static std::string rewritten;
  const std::string variable = "(QUILLET_STANDIN_SERVER)";
  const std::size_t at =
      message == nullptr ? std::string::npos : std::string(message).find(variable);
  if (selectedBy.empty() || at == std::string::npos) return message;
  rewritten = std::string(message).replace(at, variable.size(), "(named by " + selectedBy + ")");
  return rewritten.c_str();
}

std::optional<int32_t> StandinStatementKind(const std::string& database,
                                            const std::string& statement) {
  static decltype(&standin_statement_kind) kind = nullptr;
  static const bool found = Lookup("standin_statement_kind", kind);
  if (!found) return std::nullopt;
  return kind(database.c_str(), statement.c_str());
}

bool InStandinServerFolder(const std::string& folder) {
  static decltype(&standin_is_server_folder) isServerFolder = nullptr;
  static const bool found = Lookup("standin_is_server_folder", isServerFolder);
  return found && isServerFolder(folder.c_str()) != 0;
}

std::optional<CutValues> StandinCutValues(int32_t columns) {
  static decltype(&standin_cut_values) cutValues = nullptr;
  static const bool found = Lookup("standin_cut_values", cutValues);
  if (!found) return std::nullopt;
  static decltype(&standin_cut_name) cutName = nullptr;
  static const bool names = Lookup("standin_cut_name", cutName);
  CutValues cut;
  cut.total = cutValues(0, nullptr);
  for (int32_t column = 1; column <= columns; ++column) {
    const char* name = nullptr;
    const char* whole = nullptr;
    if (cut.total > 0) {
      if (const int64_t count = cutValues(column, &name)) {
        cut.columns.push_back({column, name != nullptr ? name : "", count});
      }
    }
    if (names && cutName(column, &name, &whole) != 0) cut.names.push_back({column, name, whole});
  }
  return cut;
}

std::string LibraryDescription() {
  // The library has no version call of its own; it comes from the same build.
  std::string text = std::string("Quillet ") + CommandLineVersion();
#if defined(_WIN32)
  char path[MAX_PATH] = "";
  if (const HMODULE library = GetModuleHandleA("Quillet.dll")) {
    if (GetModuleFileNameA(library, path, sizeof path) > 0) text += ", " + std::string(path);
  }
#else
  Dl_info info{};
  void* address = nullptr;
  auto dirDb = &DirDB;
  static_assert(sizeof(address) == sizeof(dirDb));
  std::memcpy(&address, &dirDb, sizeof address);
  if (dladdr(address, &info) != 0 && info.dli_fname != nullptr) {
    text += ", " + std::string(info.dli_fname);
  }
#endif
  return text;
}

std::string ClientLibraryDescription() {
  if (FindStandinAdminApi() == nullptr) return "SQLWNTM (a SQLBase client library)";
  std::string text = "the stand-in server";
  const char* (*sqliteVersion)() = nullptr;
  if (Lookup("sqlite3_libversion", sqliteVersion))
    text += " over SQLite " + std::string(sqliteVersion());
  return text;
}

}  // namespace quillet::cli
