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
// Whether the open folder is a server's folder (it holds the catalogue) or lies inside one,
// found by going up through ".." from the folder itself, not from any spelling of its path.
bool IsInServerFolder(int folder);
// Creates a new empty file 0600 whatever the umask (a database, a draft): false when it exists
// or cannot be made.
bool MakePrivateFile(const std::string& path);
// A name beside target for a file written aside and renamed into place: unique to this call
// in this process, and telling which process wrote it.
std::string DraftName(const std::string& target);
// Removes the drafts, with their SQLite side files, that ended processes left in the folder:
// those named by DraftName, and the "<database>.db.draft.<pid>" of earlier versions. Only
// regular files of this user are removed, never another user's file or link of such a name.
void RemoveStaleDrafts(const std::string& folder);
// The same in a folder open as this descriptor.
void RemoveStaleDrafts(int folder);

// A file written aside in a folder that other users may be able to write to (a backup, an
// unload script), then renamed into place. The folder is opened once, and every later step goes
// through that descriptor: so does the draft, created 0600 without following a link and written
// only through its own descriptor, never reopened by its path. Right before the rename the
// draft's name must still be the file written (device and inode), and right after it the
// target must be a regular file of this user, or the file is not reported in place: a second
// user who swaps the draft for a link to another file never gets that file written, nor the
// link installed as the result. A draft that is not put in place is removed, when its name is
// still that file's.
class Draft {
 public:
  Draft() = default;
  ~Draft();
  Draft(const Draft&) = delete;
  Draft& operator=(const Draft&) = delete;

  // Opens the folder, following a link to it as given unless followLink is false (then a link
  // in the folder's own place fails with ELOOP); false, with errno set, when it is no folder
  // that can be opened.
  bool OpenFolder(const std::string& folder, bool followLink = true);
  // True for a folder (the one opened) that is or lies inside a server's folder: backups and
  // unload files written there would replace the catalogue or a database under its open
  // connections.
  bool InServerFolder() const;
  // Sweeps away the folder's stale drafts, then creates the draft of the file `name` in the
  // folder, empty, 0600 whatever the umask; false, with errno set, when it cannot be made.
  bool Create(const std::string& name);
  // The draft, open for reading and writing.
  int Descriptor() const { return file_; }
  // For messages: the draft's path and the target's.
  std::string Path() const { return folderPath_ + "/" + draftName_; }
  std::string TargetPath() const { return folderPath_ + "/" + name_; }
  // Syncs the draft, renames it into place and syncs the folder; 0, or STANDIN_FILE_ERROR with
  // its message (what: e.g. "the backup") when any of it failed or the draft's name no longer
  // was the draft.
  int16_t Install(const std::string& what);

 private:
  // Whether the name in the folder is the draft (not followed when it is a link).
  bool NameIsDraft(const std::string& name) const;

  int folder_ = -1;
  int file_ = -1;
  std::string folderPath_;
  std::string name_;
  std::string draftName_;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  bool installed_ = false;
};

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_STANDIN_PATHS_H
