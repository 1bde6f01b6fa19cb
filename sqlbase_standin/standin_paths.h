// Where the stand-in keeps its servers and databases, and which names it accepts.
#ifndef QUILLET_SQLBASE_STANDIN_STANDIN_PATHS_H
#define QUILLET_SQLBASE_STANDIN_STANDIN_PATHS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace standin {

// Database names: a letter, then letters, digits or "_", at most this many characters, so that
// every name travels whole through the connection listing of the library.
constexpr std::size_t kMaxDatabaseName = 8;
// Server names: letters, digits, "_" and "-", not starting with "-".
constexpr std::size_t kMaxServerName = 30;
// User names: as database names, at most 8 characters.
constexpr std::size_t kMaxUserName = 8;

bool IsServerName(const char* name);
bool IsDatabaseName(const char* name);
bool IsUserName(const char* name);

std::string RootFolder();
std::string ServerFolder(const std::string& server);
std::string CataloguePath(const std::string& server);
std::string DatabasePath(const std::string& server, const std::string& database);
// Hosts written for Windows compose paths with backslashes; here they separate folders too.
std::string NativePath(const char* path);
// Creates the folder and its missing parents, each new one 0700 whatever the umask; true when
// it exists afterwards.
bool MakeFolders(const std::string& folder);
// A folder the stand-in may keep servers in: a directory of this user that no one else may
// write to (nor, when it is a symbolic link, replace). 0, STANDIN_UNSAFE_FOLDER or, when it
// is missing, STANDIN_NO_SUCH_SERVER.
int16_t CheckFolder(const std::string& folder);
// True for a folder that holds a server's catalogue (by any path to it): backups and unload files
// written there would replace the catalogue or a database under its open connections.
bool IsServerFolder(const std::string& folder);
// Creates a new empty file 0600 whatever the umask (a database, a draft): false when it exists
// or cannot be made.
bool MakePrivateFile(const std::string& path);
// A name beside target for a file written aside and renamed into place: unique to this call
// in this process, and telling which process wrote it.
std::string DraftName(const std::string& target);
// Removes the drafts, with their SQLite side files, that ended processes left in the folder:
// those named by DraftName, and the "<database>.db.draft.<pid>" of earlier versions.
void RemoveStaleDrafts(const std::string& folder);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_STANDIN_PATHS_H
