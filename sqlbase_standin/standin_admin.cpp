// The administration calls and the texts of the return codes.
#include "standin_admin.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "catalogue.h"
#include "last_message.h"
#include "standin_paths.h"

namespace {

struct CodeText {
  int32_t code;
  const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {-1, "the output file could not be opened"},
    {-30001, "an argument is null or longer than the library's room for it"},
    {-30002, "the statement selects more than 255 columns"},
    {STANDIN_NO_SUCH_SERVER, "no such server"},
    {STANDIN_SERVER_TERMINATED, "the server is terminated"},
    {STANDIN_BAD_PASSWORD, "wrong server password"},
    {STANDIN_SERVER_EXISTS, "the server exists already"},
    {STANDIN_UNSAFE_FOLDER,
     "the stand-in folder belongs to another user or others may write to it: it must be the "
     "user's own, mode 0700"},
    {STANDIN_BAD_NAME, "name not allowed"},
    {STANDIN_DATABASE_EXISTS, "the database exists already"},
    {STANDIN_NO_SUCH_DATABASE, "no such database"},
    {STANDIN_DATABASE_IN_USE, "the database is in use"},
    {STANDIN_NOT_A_DATABASE, "the file is not a database"},
    {STANDIN_AMBIGUOUS_DATABASE, "more than one server has the database"},
    {STANDIN_TOO_MANY_DATABASES,
     "the server has as many databases as its names list holds (1024 bytes)"},
    {STANDIN_DATABASE_LOCKED, "the database is locked"},
    {STANDIN_BAD_LOGIN, "wrong user name or password"},
    {STANDIN_BAD_CONNECT_STRING, "the connect text is not database/user/password"},
    {STANDIN_TOO_MANY_CONNECTIONS, "too many connections"},
    {STANDIN_CONNECTION_KILLED, "the connection was killed"},
    {STANDIN_BAD_HANDLE, "not an open connection"},
    {STANDIN_BAD_PARAMETER, "unknown parameter or argument"},
    {STANDIN_SQL_ERROR, "SQL error"},
    {STANDIN_NO_STATEMENT, "no select statement"},
    {STANDIN_BAD_COLUMN, "no such select column"},
    {STANDIN_BAD_COMMAND, "unknown load or unload command"},
    {STANDIN_FILE_ERROR, "file or directory could not be read or written"},
    {STANDIN_BUFFER_TOO_SMALL, "the reply does not fit the buffer"},
    {STANDIN_LOG_IN_USE, "the log is still in use"},
    {STANDIN_BAD_SCRIPT, "the script holds a NUL byte; nothing of it was run"},
    {STANDIN_SERVER_PROCESS, "the server's own process cannot be killed"},
    {STANDIN_CATALOGUE_ERROR, "the server catalogue could not be read or written"},
    {STANDIN_NO_SUCH_PROCESS, "no such process"},
};

struct LastMessage {
  int32_t code = 0;
  std::string text;
};
thread_local LastMessage lastMessage;

std::string NameRule(const char* kind, const char* name, std::size_t longest, bool letterFirst,
                     const char* others) {
  return std::string("the ") + kind + " name \"" + (name == nullptr ? "" : name) +
         "\" is refused: a " + kind + " name has 1 to " + std::to_string(longest) +
         " letters, digits or " + others +
         (letterFirst ? " and starts with a letter" : ", not starting with -");
}

}  // namespace

namespace standin {

thread_local uint64_t reportsMade = 0;

int16_t Report(int16_t code, std::string message) {
  lastMessage = {code, std::move(message)};
  ++reportsMade;
  return code;
}

uint64_t ReportsMade() { return reportsMade; }

std::string SystemReason(const std::string& path) { return path + ": " + std::strerror(errno); }

std::string ServerNameRule(const char* name) {
  return NameRule("server", name, kMaxServerName, false, "_ or -");
}
std::string DatabaseNameRule(const char* name) {
  return NameRule("database", name, kMaxDatabaseName, true, "_");
}
std::string UserNameRule(const char* name) {
  return NameRule("user", name, kMaxUserName, true, "_");
}

}  // namespace standin

extern "C" {

const char* standin_server_list(void) {
  thread_local std::string names;
  std::set<std::string> found;
  if (DIR* root = opendir(standin::RootFolder().c_str())) {
    while (const dirent* entry = readdir(root)) {
      const std::string name = entry->d_name;
      struct stat info {};
      if (standin::IsServerName(name.c_str()) &&
          stat(standin::CataloguePath(name).c_str(), &info) == 0) {
        found.insert(name);
      }
    }
    closedir(root);
  }
  names.clear();
  for (const std::string& name : found) names += name + "\n";
  return names.c_str();
}

const char* standin_last_message(int32_t code) {
  if (lastMessage.code != code || lastMessage.text.empty()) return nullptr;
  return lastMessage.text.c_str();
}

const char* standin_root(void) {
  // The text lives until the thread's next call.
  thread_local std::string root;
  root = standin::RootFolder();
  return root.c_str();
}

int16_t standin_server_create(const char* server, const char* password) {
  if (server == nullptr || password == nullptr) return STANDIN_BAD_NAME;
  return standin::Catalogue::CreateServer(server, password);
}

int16_t standin_server_start(const char* server) {
  standin::Catalogue catalogue;
  if (server == nullptr) return STANDIN_NO_SUCH_SERVER;
  if (const int16_t code = catalogue.Open(server)) return code;
  bool running = false;
  if (const int16_t code = catalogue.IsRunning(&running)) return code;
  // Starting a running server changes nothing: its connections stay.
  return running ? int16_t{0} : catalogue.SetRunning(true);
}

int16_t standin_server_state(const char* server, int32_t* running) {
  standin::Catalogue catalogue;
  if (server == nullptr) return STANDIN_NO_SUCH_SERVER;
  if (running == nullptr) return STANDIN_BAD_PARAMETER;
  if (const int16_t code = catalogue.Open(server)) return code;
  bool isRunning = false;
  if (const int16_t code = catalogue.IsRunning(&isRunning)) return code;
  *running = isRunning ? 1 : 0;
  return 0;
}

const char* standin_code_text(int32_t code) {
  for (const CodeText& entry : kCodeTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

int32_t standin_is_server_folder(const char* folder) {
  if (folder == nullptr || folder[0] == '\0') return 0;
  const int opened = open(standin::NativePath(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (opened < 0) return 0;
  const bool inside = standin::IsInServerFolder(opened);
  close(opened);
  return inside ? 1 : 0;
}

}  // extern "C"
