// One server connection (Connect) and the jobs on its handle.
#ifndef QUILLET_SQLBASE_STANDIN_SERVER_SESSION_H
#define QUILLET_SQLBASE_STANDIN_SERVER_SESSION_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "catalogue.h"

namespace standin {

class ServerSession {
 public:
  int16_t Connect(const char* server, const char* password);

  int16_t CreateDatabase(const char* database);
  int16_t DropDatabase(const char* database);
  int16_t InstallDatabase(const char* database);
  int16_t DeinstallDatabase(const char* database);
  int16_t Backup(const char* database, const char* directory);
  int16_t ActiveCursors(int16_t request, void* buffer, int32_t size, int32_t* length);
  int16_t Kill(int32_t process);
  int16_t Terminate();

  const std::string& Server() const { return catalogue_.Server(); }
  // Handles belong to the thread that opened them: only that thread may borrow the session.
  bool OpenedByThisThread() const { return opener_ == std::this_thread::get_id(); }

  // The installed databases of a named server as NUL-ended names closed by an empty name.
  static int16_t DatabaseNames(const char* server, char* buffer, int32_t size);

 private:
  // Takes an installed database that no connection uses out of the catalogue, and its files
  // with it when asked.
  int16_t RemoveFromCatalogue(const char* database, bool removeFiles);
  int16_t TryRemoveFromCatalogue(const char* database, bool removeFiles);
  int16_t Running();
  static int16_t NamesOf(Catalogue& catalogue, char* buffer, int32_t size);
  // STANDIN_TOO_MANY_DATABASES when the names list would not hold one more database.
  int16_t RoomFor(const char* database);

  Catalogue catalogue_;
  std::thread::id opener_ = std::this_thread::get_id();
};

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_SERVER_SESSION_H
