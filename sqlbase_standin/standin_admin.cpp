// The administration calls and the texts of the return codes.
#include "standin_admin.h"

#include <string>

#include "catalogue.h"
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

}  // namespace

extern "C" {

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
  return running ? 0 : catalogue.SetRunning(true);
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

}  // extern "C"
