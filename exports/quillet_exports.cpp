// The library's whole C surface: the seventeen exports of quillet.h (and quillet.def), each
// handing its arguments to its job and its job's result back to the host unchanged.
#include "quillet.h"

#include "database_admin/jobs.h"
#include "server_admin/jobs.h"

extern "C" {

// Server-level jobs (server_admin/).

int32_t InstallDB(const char* server, const char* password, const char* database) {
  return quillet::InstallDB(server, password, database);
}

int32_t DeinstallDB(const char* server, const char* password, const char* database) {
  return quillet::DeinstallDB(server, password, database);
}

int32_t CreateDB(const char* server, const char* password, const char* database) {
  return quillet::CreateDB(server, password, database);
}

int32_t DropDB(const char* server, const char* password, const char* database) {
  return quillet::DropDB(server, password, database);
}

int32_t TerminateServer(const char* server, const char* password) {
  return quillet::TerminateServer(server, password);
}

int32_t KillConnection(const char* server, const char* password, int32_t process) {
  return quillet::KillConnection(server, password, process);
}

int32_t DirDB(const char* server, const char* password, char* list) {
  return quillet::DirDB(server, password, list);
}

int32_t SnapShot(int32_t flag, const char* server, const char* password, const char* database,
                 const char* directory) {
  return quillet::SnapShot(flag, server, password, database, directory);
}

int32_t AllSnapShot(const char* server, const char* password, const char* root_directory) {
  return quillet::AllSnapShot(server, password, root_directory);
}

int32_t ListConnections(const char* server, const char* password, char* list) {
  return quillet::ListConnections(server, password, list);
}

int32_t KillAllConnections(const char* server, const char* password, const char* database) {
  return quillet::KillAllConnections(server, password, database);
}

// Database-level jobs (database_admin/).

int32_t UpdateStats(const char* database, const char* user, const char* password) {
  return quillet::UpdateStats(database, user, password);
}

int32_t ReleaseLog(const char* database, const char* user, const char* password) {
  return quillet::ReleaseLog(database, user, password);
}

int32_t Load(const char* database, const char* user, const char* password, const char* command) {
  return quillet::Load(database, user, password, command);
}

int32_t Unload(const char* database, const char* user, const char* password, const char* command) {
  return quillet::Unload(database, user, password, command);
}

int32_t ReLoad(const char* database, const char* user, const char* password,
               const char* script_file) {
  return quillet::ReLoad(database, user, password, script_file);
}

int32_t ExportCSV(const char* database, const char* user, const char* password,
                  const char* statement, const char* output_file) {
  return quillet::ExportCSV(database, user, password, statement, output_file);
}

}  // extern "C"
